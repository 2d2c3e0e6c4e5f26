#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/GlobalBlock.h"

namespace picvox::test {

// A bitmap file image as the decoder leaves it in a picture block: 14 + 40 byte headers, the
// palette (1, 4 and 8 bits), rows padded to 4 bytes, bottom row first unless topDown.
// `pixel(x, y)` (y from the top) gives a palette index, or 0xRRGGBB for 24 and 32 bits.
inline std::vector<std::uint8_t> makeDib(int width, int height, int bitCount,
                                         const std::vector<std::uint32_t>& palette,
                                         const std::function<std::uint32_t(int, int)>& pixel,
                                         bool topDown = false) {
    const int entries = bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * bitCount + 31) / 32) * 4;
    const std::size_t offset = 54 + 4 * static_cast<std::size_t>(entries);
    std::vector<std::uint8_t> image(offset + rowBytes * static_cast<std::size_t>(height), 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    image[0] = 'B';
    image[1] = 'M';
    put32(2, static_cast<std::uint32_t>(image.size()));
    put32(10, static_cast<std::uint32_t>(offset));
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(topDown ? -height : height));
    image[26] = 1;
    image[28] = static_cast<std::uint8_t>(bitCount);
    for (int i = 0; i < entries && i < static_cast<int>(palette.size()); ++i) {
        const std::uint32_t c = palette[static_cast<std::size_t>(i)];
        image[54 + 4 * i] = static_cast<std::uint8_t>(c);
        image[54 + 4 * i + 1] = static_cast<std::uint8_t>(c >> 8);
        image[54 + 4 * i + 2] = static_cast<std::uint8_t>(c >> 16);
    }
    for (int y = 0; y < height; ++y) {
        const int stored = topDown ? y : height - 1 - y;
        std::uint8_t* row = image.data() + offset + rowBytes * static_cast<std::size_t>(stored);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = pixel(x, y);
            switch (bitCount) {
                case 1:
                    row[x / 8] |= static_cast<std::uint8_t>((v & 1) << (7 - x % 8));
                    break;
                case 4:
                    row[x / 2] |= static_cast<std::uint8_t>((v & 0xF) << (x % 2 == 0 ? 4 : 0));
                    break;
                case 8:
                    row[x] = static_cast<std::uint8_t>(v);
                    break;
                default: {
                    std::uint8_t* p = row + static_cast<std::size_t>(x) * (bitCount / 8);
                    p[0] = static_cast<std::uint8_t>(v);
                    p[1] = static_cast<std::uint8_t>(v >> 8);
                    p[2] = static_cast<std::uint8_t>(v >> 16);
                }
            }
        }
    }
    return image;
}

inline platform::GlobalBlock blockOf(const std::vector<std::uint8_t>& image) {
    platform::GlobalBlock block = platform::GlobalBlock::allocate(image.size());
    std::copy(image.begin(), image.end(), block.data());
    return block;
}

}  // namespace picvox::test
