#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/audio/MixerDevice.h"
#include "viewer/audio/SoundMessagePort.h"

namespace audiotest {

// A scratch folder removed again at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

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

// Polls `done` until it holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

class RecordingMessagePort : public korvex::SoundMessagePort {
public:
    void showSoundError(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

// A mixer with a chosen volume range; each step can be told to fail.
class FakeMixer : public platform::MixerDevice {
public:
    struct State {
        bool openFails = false;
        bool findFails = false;
        bool getFails = false;
        bool setFails = false;
        std::uint32_t minimum = 0;
        std::uint32_t maximum = 65535;
        std::uint32_t value = 0;
        int opens = 0;
        int closes = 0;
        int finds = 0;
        bool open = false;
    };
    explicit FakeMixer(State& s) : s_(s) {}
    bool open() override;
    void close() override;
    bool findSpeakerVolume(VolumeControlInfo& out) override;
    bool getValue(std::uint32_t controlId, std::uint32_t& value) override;
    bool setValue(std::uint32_t controlId, std::uint32_t value) override;

private:
    State& s_;
};

}  // namespace audiotest
