#include "recording/DibBlock.h"

#include <cstring>

namespace korvex {

namespace {

std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

bool readDibInfo(const DibBlock& block, DibInfo& info) {
    info = DibInfo{};
    if (block.size() < kDibPixelOffset)
        return false;
    const std::uint8_t* h = block.data();
    if (readU32(h) != kDibHeaderSize)
        return false;
    const auto width = static_cast<std::int32_t>(readU32(h + 4));
    const auto height = static_cast<std::int32_t>(readU32(h + 8));
    const std::uint16_t bits = static_cast<std::uint16_t>(h[14] | (h[15] << 8));
    if (width <= 0 || height <= 0 || (bits != 24 && bits != 32))
        return false;
    const std::uint64_t stride = dibStride(static_cast<std::uint32_t>(width), bits / 8u);
    if (stride * static_cast<std::uint64_t>(height) > block.size() - kDibPixelOffset)
        return false;
    info.width = width;
    info.height = height;
    info.bitCount = bits;
    info.stride = static_cast<std::uint32_t>(stride);
    return true;
}

void writeBitmapInfoHeader(std::uint8_t* out, std::int32_t width, std::int32_t height,
                           std::uint16_t bitCount) {
    std::memset(out, 0, kDibHeaderSize);
    writeU32(out, kDibHeaderSize);
    writeU32(out + 4, static_cast<std::uint32_t>(width));
    writeU32(out + 8, static_cast<std::uint32_t>(height));
    out[12] = 1;  // planes
    out[14] = static_cast<std::uint8_t>(bitCount);
    out[15] = static_cast<std::uint8_t>(bitCount >> 8);
    const std::uint32_t stride = dibStride(static_cast<std::uint32_t>(width), bitCount / 8u);
    writeU32(out + 20, stride * static_cast<std::uint32_t>(height));
}

}  // namespace korvex
