#pragma once

#include <string>

namespace korvex {

// The kind of a recording folder. After a successful probe exactly one flag is set; the flags
// choose the frame file pattern, the variant of the authenticity check and the sound player.
struct RecordingKind {
    bool kindJpeg = false;    // JPEG pictures, WAV sound or none
    bool kindJp2Mp3 = false;  // JPEG 2000 pictures (or any pictures with MP3), MP3 sound or none
    bool kindJp2Wav = false;  // JPEG 2000 pictures with WAV sound

    bool any() const { return kindJpeg || kindJp2Mp3 || kindJp2Wav; }
    bool operator==(const RecordingKind&) const = default;
};

enum class SoundFormat { None, Wav, Mp3 };
enum class PictureFormat { None, Jpeg, Jpeg2000 };

// Recognises a recording folder before a source is created for it. Names inside the folder match
// without regard to letter case, as on the FAT/NTFS media recordings come from.
class RecordingProbe {
public:
    // 0 when the folder holds neither sound nor pictures; 1 otherwise. A result of 1 with no kind
    // flag set (WAV sound without pictures) is still not a recording: the caller checks `kind()`.
    int probe(const std::string& folder);

    const RecordingKind& kind() const { return kind_; }
    SoundFormat sound() const { return sound_; }
    PictureFormat pictures() const { return pictures_; }
    // Full path of the sound file the probe found (empty when none); the sound player opens it.
    const std::string& soundPath() const { return soundPath_; }

private:
    RecordingKind kind_;
    SoundFormat sound_ = SoundFormat::None;
    PictureFormat pictures_ = PictureFormat::None;
    std::string soundPath_;
};

// Extension (without the dot) of the frame files a source of this kind lists; nullptr when no
// flag is set.
const char* frameExtensionFor(const RecordingKind& kind);

}  // namespace korvex
