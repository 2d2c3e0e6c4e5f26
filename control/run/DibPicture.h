#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "control/run/Surface.h"

namespace picvox::run {

// What painting needs of a picture block: a bitmap file image (14-byte file header, 40-byte
// information header, palette, rows padded to 4 bytes, bottom row first unless the height is
// negative).
struct DibInfo {
    int width = 0;
    int height = 0;  // rows, always positive
    int bitCount = 0;
    int paletteEntries = 0;  // 2, 16 or 256 for 1, 4 and 8 bits, else 0
    bool topDown = false;
    std::size_t bitsOffset = 0;  // 14 + 40 + 4 x paletteEntries
    std::size_t rowBytes = 0;
};

inline constexpr std::size_t kDibHeaderBytes = 14 + 40;
// Larger pictures than this are refused; the recorder's are well below it.
inline constexpr int kMaxDibSide = 16384;

// The picture's layout, or nothing when the block is too short for its headers, palette and
// rows, is compressed, or has a bit count other than 1, 4, 8, 24 or 32.
std::optional<DibInfo> readDibInfo(const std::uint8_t* image, std::size_t size);

// Colour of one pixel (x from the left, y from the top); the picture must have passed
// readDibInfo.
std::uint32_t dibPixel(const std::uint8_t* image, const DibInfo& info, int x, int y);

// Draws the whole picture stretched smoothly (linear between pixels when enlarging, averaging
// over the covered area when shrinking) over the whole surface. False, drawing nothing, when
// the block is not a picture we can read or the surface is not usable.
bool drawDibStretched(const std::uint8_t* image, std::size_t size, const Surface& surface,
                      DibInfo* infoOut = nullptr);

}  // namespace picvox::run
