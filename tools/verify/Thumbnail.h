#pragma once

#include <cstdint>
#include <vector>

#include "recording/DibBlock.h"

namespace korvex::verify {

// A small JPEG of a decoded frame for the report: the picture shrunk by averaging to fit
// `maxWidth` x `maxHeight` (never enlarged), encoded with libjpeg-turbo. Empty when the block is
// no picture or the encoder fails.
std::vector<std::uint8_t> makeThumbnail(const DibBlock& picture, int maxWidth = 176,
                                        int maxHeight = 132, int quality = 80);

}  // namespace korvex::verify
