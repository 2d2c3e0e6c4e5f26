#include "viewer/playback/core/PlaybackClock.h"

#include <chrono>
#include <thread>

namespace korvex {

std::uint32_t SteadyPlaybackClock::nowMs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SteadyPlaybackClock::yieldUntil(std::uint32_t untilMs) {
    // A deadline far off is waited for in 1 ms naps rather than with a bare yield, so that a
    // running loop does not hold a whole core; the last 2 ms are yielded, keeping 1 ms accuracy.
    const auto remaining = static_cast<std::int32_t>(untilMs - nowMs());
    if (remaining > 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    else
        std::this_thread::yield();
}

}  // namespace korvex
