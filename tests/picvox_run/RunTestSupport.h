#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/SoundBuffer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/Wait.h"

namespace runtest {

using korvex::test::ScopedEnv;

// Polls `done` until it holds or `timeoutMs` passes (a hang guard, not a timing assertion).
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    return korvex::test::waitUntil(done, std::chrono::milliseconds(timeoutMs));
}

// A buffer that plays nothing: the test moves the cursor by firing notifications and chooses
// what Play, Lock, Stop and GetFrequency answer.
class FakeBuffer : public platform::SoundBuffer {
    using R = platform::SoundResult;

public:
    explicit FakeBuffer(std::uint32_t bytes) : data(bytes, 0) {}

    R Lock(std::uint32_t offset, std::uint32_t bytes, void** p1, std::uint32_t* n1, void** p2,
           std::uint32_t* n2) override {
        if (platform::soundFailed(lockResult))
            return lockResult;
        *p1 = data.data() + offset, *n1 = bytes, *p2 = nullptr, *n2 = 0;
        return platform::kSoundOk;
    }
    R Unlock(void*, std::uint32_t, void*, std::uint32_t) override { return platform::kSoundOk; }
    R Play(std::uint32_t) override {
        std::lock_guard<std::mutex> g(m);
        playing = !platform::soundFailed(playResult);
        return playResult;
    }
    R Stop() override {
        std::lock_guard<std::mutex> g(m);
        playing = false;
        for (const auto& n : notify)
            if (stopNotifies && n.offset == platform::PositionNotify::kOffsetStop)
                n.event->set();
        return platform::kSoundOk;
    }
    R SetCurrentPosition(std::uint32_t) override { return platform::kSoundOk; }
    R GetCurrentPosition(std::uint32_t*, std::uint32_t*) override { return platform::kSoundOk; }
    R GetFrequency(std::uint32_t* out) override { return *out = hz, getFrequencyResult; }
    R SetFrequency(std::uint32_t f) override { return hz = f, ++frequencySets, platform::kSoundOk; }
    R SetNotificationPositions(const platform::PositionNotify* p, std::size_t count) override {
        notify.assign(p, p + count);
        return platform::kSoundOk;
    }
    // The cursor passing `offset`.
    void fire(std::uint32_t offset) {
        for (const auto& n : notify)
            if (n.offset == offset)
                n.event->set();
    }
    bool isPlaying() {
        std::lock_guard<std::mutex> g(m);
        return playing;
    }

    std::mutex m;
    std::vector<std::uint8_t> data;
    std::vector<platform::PositionNotify> notify;
    R playResult = platform::kSoundOk, lockResult = platform::kSoundOk,
      getFrequencyResult = platform::kSoundOk;
    bool stopNotifies = true, playing = false;
    int frequencySets = 0;
    std::uint32_t hz = 8000;
};

}  // namespace runtest
