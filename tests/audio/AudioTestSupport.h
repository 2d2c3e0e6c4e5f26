#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/audio/MixerDevice.h"
#include "tests/support/FakeMixer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "viewer/audio/SoundMessagePort.h"

namespace audiotest {

using korvex::test::FakeMixer;
using korvex::test::ScopedEnv;
using korvex::test::TempDir;
using korvex::test::waitUntil;

// Test tone: a sine per channel at a phase that is never zero at a whole millisecond, plus a
// single-sample click every 250 ms on the first channel.
std::vector<float> makeTone(int sampleRate, int channels, double seconds);

enum class TrackFormat { wav16, mp3 };
// Writes `samples` (interleaved) with libsndfile; false when it cannot.
bool writeTrack(const std::string& path, TrackFormat format, int sampleRate, int channels,
                const std::vector<float>& samples);
// Reads a whole track from the start to the end of its data with libsndfile.
bool readTrack(const std::string& path, std::vector<float>& samples, int& sampleRate,
               int& channels);

// The float stereo frames the disk driver has written so far.
std::vector<float> readDiskOutput(const std::string& path);
// Index of the first frame with any non-zero sample, or frames.size()/2 when all are silent.
std::size_t firstSoundFrame(const std::vector<float>& stereo);

// Points the disk driver at a file of its own for the next device opened; returns its path.
std::string useDiskOutput(const TempDir& dir, const std::string& name);

class RecordingMessagePort : public korvex::SoundMessagePort {
public:
    void showSoundError(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

}  // namespace audiotest
