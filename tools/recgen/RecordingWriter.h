#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "recording/RecordingProbe.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/SoundWriter.h"
#include "tools/recgen/Trailer.h"

namespace korvex::gen {

enum class FrameLayout {
    Flat,        // frame files directly in the recording folder
    Subfolders,  // IMG00001, IMG00002, ... of `framesPerFolder` files each
};

enum class SoundPlace { Root, SoundFolder };

// Everything that shapes a synthetic recording. The same spec always writes the same bytes.
struct RecordingSpec {
    PictureFormat pictures = PictureFormat::Jpeg2000;
    SoundFormat sound = SoundFormat::Wav;
    SoundPlace soundPlace = SoundPlace::Root;
    int soundRate = 8000;
    int soundChannels = 1;
    bool soundTone = true;
    FrameLayout layout = FrameLayout::Subfolders;
    int framesPerFolder = 200;

    int frames = 10;
    int width = 352;
    int height = 240;
    // Channel numbers, 0-15; frames are interleaved in this order. Empty means channel 0 only.
    std::vector<int> channels;
    // Camera title per channel number (index 0-15), written into the INFO header.
    std::vector<std::string> titles;
    bool writeInfo = true;
    bool writeTimeTxt = false;

    std::uint32_t startDvrSeconds = 0;  // capture time of frame 0, seconds since 2000
    std::uint32_t intervalMs = 100;     // between consecutive frames (all channels together)
    std::uint64_t seed = 1;

    bool trailers = true;          // false: no frame carries a trailer at all
    bool trailerTime = true;       // false: the short trailer form without the time fields
    std::map<int, Damage> damage;  // frame index -> what to spoil

    int jpegQuality = 85;
    float j2kRate = 20.0f;
    // A raw code-stream has no JP2 signature, so the JPEG 2000 check cannot run on it.
    J2kContainer j2kContainer = J2kContainer::Jp2;
    // Encoding threads; 0 picks up to two (the pictures are independent, so the output does not
    // depend on the count).
    int threads = 0;
};

// What was written for one frame, in index order.
struct WrittenFrame {
    std::string path;
    int channel = 0;
    std::uint32_t dvrSeconds = 0;
    std::uint32_t offsetMs = 0;
    Damage damage = Damage::None;
    bool damageApplied = false;  // false when the file had no such part to spoil
};

struct RecordingResult {
    bool ok = false;
    std::string error;
    std::vector<WrittenFrame> frames;
    std::string soundPath;
    std::string infoPath;
    std::string timeTxtPath;
    std::vector<std::string> warnings;  // allowed but odd choices (see validateSpec)
};

// Capture time and offset of frame `index`: start + index x interval.
std::uint32_t frameOffsetMs(const RecordingSpec& spec, int index);
std::uint32_t frameDvrSeconds(const RecordingSpec& spec, int index);
// The channel number of frame `index`.
int frameChannel(const RecordingSpec& spec, int index);
// The recording's length: the last frame's offset plus one interval.
std::uint32_t recordingLengthMs(const RecordingSpec& spec);

// Checks a recording description. Hard errors go to `error` (false). Choices the writer carries out
// but the viewer will not read as intended (pictures flat beside a sound file, JPEG 2000 pictures
// too large for the codec block) go to `warnings`.
bool validateSpec(const RecordingSpec& spec, std::string& error,
                  std::vector<std::string>* warnings = nullptr);

// Frames written so far of all; called from the encoding threads, one call at a time, once per
// frame in the order the frames are finished.
using WriteProgress = std::function<void(int framesDone, int framesTotal)>;

// Writes the recording into `folder`, which is created when missing and must be empty (a new
// recording mixed into old files would be indexed with them). Frame files are numbered "%06d"
// from 1, counting on across subfolders.
RecordingResult writeRecording(const std::string& folder, const RecordingSpec& spec,
                               const WriteProgress& progress = {});

// The demo recording of the README: four titled channels, 704 x 480 JPEG 2000 with WAV sound in
// subfolders, 240 frames a quarter second apart, one damaged frame of each kind near the end.
RecordingSpec demoSpec();

}  // namespace korvex::gen
