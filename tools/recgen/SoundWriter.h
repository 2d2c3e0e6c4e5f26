#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/RecordingProbe.h"

namespace korvex::gen {

using korvex::SoundFormat;

// A recording's sound track: a quiet steady tone (or silence) with a short, loud click at each
// frame's offset, so that A/V sync can be judged by ear and measured by a test.
struct SoundSpec {
    SoundFormat format = SoundFormat::Wav;
    int sampleRate = 8000;  // Hz
    int channels = 1;       // 1 or 2
    std::uint32_t durationMs = 0;
    std::vector<std::uint32_t> clickOffsetsMs;  // any order
    bool tone = true;                           // false: silence between the clicks
};

inline constexpr double kClickAmplitude = 0.8;
inline constexpr double kToneAmplitude = 0.03;
inline constexpr int kClickLengthMs = 6;
// Clicks closer together than this run into each other and are found as one.
inline constexpr int kMinClickSpacingMs = kClickLengthMs + 2;

// Checks a sound description: rate 1000..48000, 1 or 2 channels, duration at most 24 hours, format
// set.
bool soundSpecValid(const SoundSpec& spec, std::string* error);

// Samples [first, first + count) of the mono signal, in -1..1. `sortedClicks` are the click
// onsets in samples, ascending.
void synthesizeSound(const SoundSpec& spec, const std::vector<std::uint64_t>& sortedClicks,
                     std::uint64_t first, std::size_t count, float* out);

// The sample at which a click at `offsetMs` begins.
inline std::uint64_t clickOnsetSample(std::uint32_t offsetMs, int sampleRate) {
    return (static_cast<std::uint64_t>(offsetMs) * static_cast<std::uint64_t>(sampleRate) + 500) /
           1000;
}

// Writes the track as 16-bit PCM WAV or as MP3 (libsndfile), streaming in blocks so that long
// tracks need little memory. False, with a reason in `error`, when it cannot.
bool writeSound(const std::string& path, const SoundSpec& spec, std::string* error = nullptr);

// Finds click onsets in a mono signal: the first sample whose magnitude reaches `threshold`
// after at least kMinClickSpacingMs of samples below it. Returns sample positions.
std::vector<std::size_t> findClicks(const float* samples, std::size_t count, int sampleRate,
                                    float threshold = 0.4f);

// Reads a sound file through libsndfile and mixes it down to mono. False when it cannot be read
// or holds more than `maxFrames` sample frames.
bool readSoundMono(const std::string& path, std::vector<float>& samples, int& sampleRate,
                   std::size_t maxFrames = 48000u * 3600u);

}  // namespace korvex::gen
