#include "control/run/AnimationBitmaps.h"

#include <cmath>
#include <cstdlib>

namespace picvox::run {

namespace {

// The chevrons run from dark to light blue, so that turning the strip by one chevron is seen
// as movement to the right.
Bitmap chevronStrip() {
    Bitmap strip(kStripWidth, kStripHeight, kBlack);
    const int middle = kStripHeight / 2;
    for (int c = 0; c < kStripWidth / kChevronWidth; ++c) {
        const auto level = static_cast<std::uint8_t>(70 + c * (255 - 70) / 9);
        const auto tint = static_cast<std::uint8_t>(c * 16);
        const std::uint32_t colour = rgb(tint, tint, level);
        const int cellX = c * kChevronWidth;
        for (int y = 0; y < kStripHeight; ++y) {
            const int left = cellX + 2 + (middle - std::abs(y - middle));
            for (int x = left; x < left + 4; ++x)
                strip.set(x, y, colour);
        }
    }
    return strip;
}

Bitmap speaker(bool pulse) {
    Bitmap frame(kSpeakerWidth, kSpeakerHeight, kBlack);
    const std::uint32_t body = rgb(176, 176, 176);
    const std::uint32_t cone = rgb(112, 112, 128);
    const std::uint32_t wave = rgb(230, 230, 230);
    const int centreY = kSpeakerHeight / 2;
    // The magnet box.
    for (int y = centreY - 16; y <= centreY + 16; ++y)
        for (int x = 6; x <= 22; ++x)
            frame.set(x, y, body);
    // The cone widens from the box to its rim; pushed out it reaches further and wider.
    const int rimX = pulse ? 46 : 42;
    const int rimHalf = pulse ? 42 : 38;
    for (int x = 23; x <= rimX; ++x) {
        const int half = 16 + (rimHalf - 16) * (x - 23) / (rimX - 23);
        for (int y = centreY - half; y <= centreY + half; ++y)
            frame.set(x, y, x >= rimX - 1 ? body : cone);
    }
    if (pulse) {
        // Two arcs of sound in front of the cone.
        for (int radius : {14, 24}) {
            for (int step = -45; step <= 45; ++step) {
                const double a = step * 3.14159265358979 / 180.0;
                for (int thick = 0; thick < 2; ++thick) {
                    const int x =
                        rimX + static_cast<int>(std::lround((radius + thick) * std::cos(a)));
                    const int y = centreY + static_cast<int>(
                                                std::lround((radius + thick) * std::sin(a) * 1.6));
                    if (x >= 0 && x < kSpeakerWidth && y >= 0 && y < kSpeakerHeight)
                        frame.set(x, y, wave);
                }
            }
        }
    }
    return frame;
}

}  // namespace

Bitmap makeAnimationBitmap(int id) {
    switch (id) {
        case kBitmapChevronStrip:
            return chevronStrip();
        case kBitmapSpeakerRest:
            return speaker(false);
        case kBitmapSpeakerPulse:
            return speaker(true);
        default:
            return Bitmap();
    }
}

}  // namespace picvox::run
