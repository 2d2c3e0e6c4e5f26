#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvex {

// The saved frame: an uncompressed 24-bit Windows bitmap, 14-byte file header and 40-byte
// information header, then bottom-up blue-green-red rows padded to a multiple of 4 bytes.
inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::size_t kBmpHeadersSize = 54;
// Widest picture we save. Recorder pictures are at most a few hundred pixels wide; the bound
// keeps a hostile frame header from asking for a gigabyte buffer (8192 wide is 151 MB of rows).
inline constexpr std::int32_t kMaxSavedWidth = 8192;

struct SavedBitmapLayout {
    std::int32_t width = 0;   // the picture's width
    std::int32_t height = 0;  // trunc(width x 0.75): the saved frame is always 4:3
    std::uint32_t stride = 0;
    std::uint32_t pixelBytes = 0;  // height x stride
    std::uint32_t fileSize = 0;    // 54 + pixelBytes
};

// The layout of the file saved from a picture `pictureWidth` pixels wide; none when the width is
// below 2 (no row would remain) or above kMaxSavedWidth.
std::optional<SavedBitmapLayout> savedBitmapLayout(std::int32_t pictureWidth);

// The 14-byte file header followed by the 40-byte information header, little-endian.
std::array<std::uint8_t, kBmpHeadersSize> bmpHeaders(const SavedBitmapLayout& layout);

// Why a write failed; `error` carries the errno value of the failing call.
enum class BmpWriteStep { None, BadInput, Create, Write, Replace };

struct BmpWriteResult {
    BmpWriteStep step = BmpWriteStep::None;
    int error = 0;
    bool ok() const { return step == BmpWriteStep::None; }
};

// Writes headers and `pixels` (exactly layout.pixelBytes bytes of bottom-up rows) to `path`.
// The bytes go to a new file beside the target, which then replaces it in one step: a failed
// write (full disk, vanished folder) leaves an older file of that name as it was and no
// half-written file behind.
BmpWriteResult writeBmpFile(const std::string& path, const SavedBitmapLayout& layout,
                            std::span<const std::uint8_t> pixels);

}  // namespace korvex
