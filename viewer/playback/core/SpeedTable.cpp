#include "viewer/playback/core/SpeedTable.h"

#include <algorithm>
#include <array>

namespace korvex {

namespace {

struct Speed {
    std::uint32_t intervalMs;
    int step;
};

constexpr std::array<Speed, 10> kSpeeds{{
    {1000, 1},
    {500, 1},
    {200, 1},
    {100, 1},
    {20, 1},  // paces
    {20, 7},
    {20, 17},
    {20, 47},
    {20, 97},
    {20, 197},  // skip widths
}};

const Speed& speedAt(int position) {
    return kSpeeds[static_cast<std::size_t>(std::clamp(position, kSpeedMin, kSpeedMax) - 1)];
}

}  // namespace

std::uint32_t SpeedInterval(int position) {
    return speedAt(position).intervalMs;
}

int SpeedStep(int position) {
    return speedAt(position).step;
}

}  // namespace korvex
