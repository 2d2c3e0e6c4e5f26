#pragma once

#include <cstdint>

namespace korvex {

// The speed slider (positions 1 to 10): one displayed frame per SpeedInterval milliseconds,
// advancing SpeedStep frames each time. Positions outside the range read as the nearest end.
inline constexpr int kSpeedMin = 1;
inline constexpr int kSpeedMax = 10;
inline constexpr int kSpeedInitial = 3;

std::uint32_t SpeedInterval(int position);
int SpeedStep(int position);

}  // namespace korvex
