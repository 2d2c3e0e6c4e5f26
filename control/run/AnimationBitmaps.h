#pragma once

#include "control/run/Surface.h"

namespace picvox::run {

// The waiting animation's pictures, drawn by our own code rather than loaded from files.
enum AnimationBitmapId : int {
    kBitmapChevronStrip = 202,  // 150 x 13: ten chevrons pointing right
    kBitmapSpeakerRest = 204,   // 78 x 124: the loudspeaker, cone at rest
    kBitmapSpeakerPulse = 205,  // 78 x 124: the cone pushed out, sound leaving it
};

inline constexpr int kStripWidth = 150;
inline constexpr int kStripHeight = 13;
inline constexpr int kChevronWidth = 15;
inline constexpr int kSpeakerWidth = 78;
inline constexpr int kSpeakerHeight = 124;

// The picture with that id; an empty bitmap for an id we do not draw.
Bitmap makeAnimationBitmap(int id);

}  // namespace picvox::run
