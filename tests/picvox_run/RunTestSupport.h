#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/audio/SoundBuffer.h"

namespace runtest {

// Polls `done` until it holds or `timeout` passes (a hang guard, not a timing assertion).
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_.c_str(), old_.c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

// A scratch folder of the test, removed at its end.
class TempDir {
public:
    explicit TempDir(const std::string& name) {
        const char* base = std::getenv("KORVEX_TEST_TMP");
        path_ =
            std::filesystem::path(base ? base : "/tmp") / (name + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// An in-memory buffer that plays nothing: the test moves the "cursor" by firing notifications,
// and chooses what Play, Lock, Stop and GetFrequency answer.
class FakeBuffer : public platform::SoundBuffer {
public:
    explicit FakeBuffer(std::uint32_t bytes) : data(bytes, 0) {}

    platform::SoundResult Lock(std::uint32_t offset, std::uint32_t bytes, void** part1,
                               std::uint32_t* bytes1, void** part2,
                               std::uint32_t* bytes2) override {
        std::lock_guard<std::mutex> g(m);
        if (platform::soundFailed(lockResult))
            return lockResult;
        if (offset >= data.size() || bytes > data.size() - offset)
            return platform::kSoundInvalidParam;
        *part1 = data.data() + offset;
        *bytes1 = bytes;
        *part2 = nullptr;
        *bytes2 = 0;
        return platform::kSoundOk;
    }
    platform::SoundResult Unlock(void*, std::uint32_t, void*, std::uint32_t) override {
        return platform::kSoundOk;
    }
    platform::SoundResult Play(std::uint32_t) override {
        std::lock_guard<std::mutex> g(m);
        if (!platform::soundFailed(playResult))
            playing = true;
        return playResult;
    }
    platform::SoundResult Stop() override {
        std::vector<platform::PositionNotify> list;
        {
            std::lock_guard<std::mutex> g(m);
            playing = false;
            ++stops;
            if (!stopNotifies)
                return platform::kSoundOk;
            list = notify;
        }
        for (const auto& n : list)
            if (n.offset == platform::PositionNotify::kOffsetStop)
                n.event->set();
        return platform::kSoundOk;
    }
    platform::SoundResult SetCurrentPosition(std::uint32_t) override { return platform::kSoundOk; }
    platform::SoundResult GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) override {
        *play = *write = 0;
        return platform::kSoundOk;
    }
    platform::SoundResult GetFrequency(std::uint32_t* out) override {
        std::lock_guard<std::mutex> g(m);
        *out = hz;
        return getFrequencyResult;
    }
    platform::SoundResult SetFrequency(std::uint32_t f) override {
        std::lock_guard<std::mutex> g(m);
        hz = f;
        ++frequencySets;
        return platform::kSoundOk;
    }
    platform::SoundResult SetNotificationPositions(const platform::PositionNotify* p,
                                                   std::size_t count) override {
        std::lock_guard<std::mutex> g(m);
        notify.assign(p, p + count);
        return platform::kSoundOk;
    }
    // The cursor passing `offset`.
    void fire(std::uint32_t offset) {
        std::lock_guard<std::mutex> g(m);
        for (const auto& n : notify)
            if (n.offset == offset)
                n.event->set();
    }

    std::mutex m;
    std::vector<std::uint8_t> data;
    std::vector<platform::PositionNotify> notify;
    platform::SoundResult playResult = platform::kSoundOk;
    platform::SoundResult lockResult = platform::kSoundOk;
    platform::SoundResult getFrequencyResult = platform::kSoundOk;
    bool stopNotifies = true;
    bool playing = false;
    int stops = 0;
    int frequencySets = 0;
    std::uint32_t hz = 8000;
};

}  // namespace runtest
