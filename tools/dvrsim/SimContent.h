#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvex::sim {

using Bytes = std::vector<std::uint8_t>;

// A canonical 44-byte-header PCM WAV file around 16-bit little-endian samples.
Bytes makeWav(const std::vector<std::int16_t>& samples, int sampleRate, int channels);

// Seconds since 2000-01-01 00:00:00 on the recorder's wall clock (the process's local time),
// the way a recorder stamps its frames.
std::uint32_t dvrSecondsNow();

// Replaces the trailer of a JPEG 2000 frame (everything after the code-stream's end marker) by a
// fresh one with the given time and sound-clock offset. The frame unchanged when it has no
// end marker or the trailer cannot be made.
Bytes restampFrame(const Bytes& frame, std::uint32_t dvrSeconds, std::uint32_t offsetMs);

struct ContentOptions {
    std::string recordingFolder;  // empty: generated pictures and sound
    int width = 720;
    int height = 248;
    int frameIntervalMs = 200;  // between frames of the recorded stretch
    int sampleRate = 8000;      // generated sound
    int recordedFrames = 30;    // frames of the generated recorded stretch
    bool still = false;         // the live picture never changes (benchmarks)
    // The generated sound is a ramp of the sound clock: each sample holds its position in
    // milliseconds, modulo 65536, as an unsigned 16-bit value (tests find where a saved sound
    // begins and whether it runs on without a gap).
    bool clockSound = false;
};

// The pictures and sound a simulated recorder has to offer. Thread-safe; pictures are encoded on
// first use and kept.
class SimContent {
public:
    // False (with a reason) when the recording folder cannot be used.
    bool open(const ContentOptions& options, std::string* error);

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Sample frames [first, first + count) of the endless live sound, 16-bit interleaved.
    std::vector<std::int16_t> liveSamples(std::uint64_t first, std::size_t count) const;

    // The newest frame for second `liveIndex` of the simulator's life (its picture, without
    // trailer; the caller stamps it).
    Bytes livePicture(std::uint64_t liveIndex, std::uint32_t dvrSeconds);

    // The recorded stretch: number of frames, frame n (1-based, with its trailer), the whole sound
    // file and the INF file. Empty optionals when there is no such item.
    int recordedFrameCount() const;
    std::optional<Bytes> recordedFrame(int n);
    std::optional<Bytes> recordedSound();
    std::optional<Bytes> recordedInfo();

private:
    Bytes encodeCaptioned(int frameNumber, std::uint32_t dvrSeconds);

    ContentOptions options_;
    int sampleRate_ = 8000;
    int channels_ = 1;
    std::uint32_t recordStartDvrSeconds_ = 0;

    // From a recording folder.
    std::vector<std::string> framePaths_;
    std::string soundPath_;
    std::string infoPath_;
    std::vector<std::int16_t> recordingSamples_;  // mono, for the live sound

    mutable std::mutex lock_;
    std::uint64_t liveIndex_ = ~0ull;
    Bytes livePicture_;
    std::vector<Bytes> recordedFrames_;  // generated, encoded on first use
};

}  // namespace korvex::sim
