#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/GlobalBlock.h"

namespace korvex {

// Every decoded picture of the viewer: a 40-byte BITMAPINFOHEADER, 4 zero bytes, then the pixel
// rows bottom row first, each padded to a multiple of 4 bytes, blue-green-red order. Whoever
// receives a block owns it.
using DibBlock = platform::GlobalBlock;

inline constexpr std::size_t kDibHeaderSize = 40;
inline constexpr std::size_t kDibPixelOffset = 44;
// Size of the block the JPEG 2000 path allocates and reports, whatever the picture.
inline constexpr std::size_t kJ2kBlockCapacity = 0xFC000;

struct DibInfo {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t stride = 0;  // bytes per row, padded to 4
};

// Row stride of a picture of `width` pixels with `channels` bytes each.
inline constexpr std::uint32_t dibStride(std::uint32_t width, std::uint32_t channels) {
    return (channels * width + 3u) & ~3u;
}

// Reads and validates the header of a DIB block: positive size, 24 or 32 bits, rows that fit in
// the block. False for anything else.
bool readDibInfo(const DibBlock& block, DibInfo& info);

// Writes a BITMAPINFOHEADER for a bottom-up picture at `out` (40 bytes).
void writeBitmapInfoHeader(std::uint8_t* out, std::int32_t width, std::int32_t height,
                           std::uint16_t bitCount);

}  // namespace korvex
