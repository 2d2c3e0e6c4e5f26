#pragma once

#include <cstdint>

namespace korvex {

// The millisecond clock of the playback loops (the multimedia timer and the tick count of the
// recorder software). Behind an interface so that tests drive time themselves.
class PlaybackClock {
public:
    virtual ~PlaybackClock() = default;
    // Monotonic milliseconds; wraps like the platform's 32-bit tick count.
    virtual std::uint32_t nowMs() = 0;
    // Gives the processor away between two deadline checks of the forward loop. `untilMs` is the
    // next deadline: a real clock may sleep a little when it is far, never past it.
    virtual void yieldUntil(std::uint32_t untilMs) = 0;
};

// The steady clock of the machine.
class SteadyPlaybackClock : public PlaybackClock {
public:
    std::uint32_t nowMs() override;
    void yieldUntil(std::uint32_t untilMs) override;
};

}  // namespace korvex
