#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::sim {

using Bytes = std::vector<std::uint8_t>;

// The PCM format of a WAV answer, as its header announces it. 8-bit samples are unsigned, the
// wider ones signed, all little-endian, channels interleaved.
struct SoundFormat {
    static constexpr int kMinRate = 1000;
    static constexpr int kMaxRate = 192000;
    static constexpr int kMaxChannels = 8;

    int sampleRate = 8000;
    int channels = 1;
    int bitsPerSample = 16;  // 8, 16, 24 or 32

    int blockAlign() const { return channels * (bitsPerSample / 8); }
    bool valid() const;
    bool operator==(const SoundFormat&) const = default;
};

// "RATE:CHANNELS:BITS", e.g. "44100:2:16"; nothing when malformed or out of range.
std::optional<SoundFormat> parseSoundFormat(std::string_view text);

// A canonical 44-byte-header PCM WAV file around 16-bit little-endian samples.
Bytes makeWav(const std::vector<std::int16_t>& samples, int sampleRate, int channels);
// The same around PCM bytes already in `format`. The data chunk holds all of `pcm`, whole sample
// blocks or not; an odd length gets RIFF's pad byte.
Bytes makeWav(const Bytes& pcm, const SoundFormat& format);

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
    // The sound's format (a recording folder's sound keeps its own sample rate).
    int sampleRate = 8000;
    int channels = 1;
    int bitsPerSample = 16;
    int recordedFrames = 30;  // frames of the generated recorded stretch
    bool still = false;       // the live picture never changes (benchmarks)
    // The generated sound is a ramp of the sound clock: each sample holds its position in
    // milliseconds, modulo 65536, as an unsigned 16-bit value (tests find where a saved sound
    // begins and whether it runs on without a gap). Every channel carries the same ramp. 8-bit
    // samples carry its low byte (milliseconds modulo 256); 24- and 32-bit samples carry it in
    // their top 16 bits.
    bool clockSound = false;
};

// The pictures and sound a simulated recorder has to offer. Thread-safe; pictures are encoded on
// first use and kept.
class SimContent {
public:
    // False (with a reason) when the recording folder cannot be used.
    bool open(const ContentOptions& options, std::string* error);

    int sampleRate() const { return format_.sampleRate; }
    int channels() const { return format_.channels; }
    // The format the recorder starts in.
    const SoundFormat& soundFormat() const { return format_; }
    // Sample frames [first, first + count) of the endless live sound at the starting sample
    // rate, one 16-bit value a frame.
    std::vector<std::int16_t> liveSamples(std::uint64_t first, std::size_t count) const;
    // Sample frames [first, first + count) of the live sound made in `format`, as PCM bytes.
    // Frame n lies at n / format.sampleRate seconds on the sound clock in every format, so a
    // stream that changes format runs on without a jump.
    Bytes liveSound(std::uint64_t first, std::size_t count, const SoundFormat& format) const;

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
    // The 16-bit value of frame `frame` of the live sound at `rate` frames a second.
    std::int16_t sampleAt(std::uint64_t frame, int rate) const;

    ContentOptions options_;
    SoundFormat format_;
    int recordingRate_ = 0;  // of recordingSamples_
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
