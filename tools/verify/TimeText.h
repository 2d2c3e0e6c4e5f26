#pragma once

#include <cstdint>
#include <string>

namespace korvex::verify {

// Capture times as "YYYY-MM-DD HH:MM:SS" in the process time zone, which every program of the
// system fixes to the recorders' (UTC+9) before it reads a frame. That zone keeps no daylight
// saving, so the text comes from a fixed offset without the C library's locked zone look-up;
// any other zone goes through localtime_r. Safe to use from several threads.
class TimeText {
public:
    // Reads the process zone as it is now.
    TimeText();
    std::string format(std::int64_t time) const;
    // The zone as text, e.g. "UTC+09:00".
    std::string zoneName() const;

private:
    bool fixedOffset_ = false;
    long offsetSeconds_ = 0;  // east of UTC
};

}  // namespace korvex::verify
