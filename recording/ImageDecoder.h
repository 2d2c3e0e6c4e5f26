#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "recording/DibBlock.h"

namespace korvex {

struct PictureSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Largest picture a recorder can produce; headers claiming more are refused before any
// allocation.
inline constexpr std::int32_t kMaxFrameWidth = 4096;
inline constexpr std::int32_t kMaxFrameHeight = 4096;
// Largest frame file the decoders read into memory; a 4096 x 4096 frame is far smaller.
inline constexpr long long kMaxFrameFileBytes = 64ll * 1024 * 1024;

// How a decoded colour or grey JPEG keeps its pixels: three bytes (blue, green, red), as every
// picture of the viewer, or four (blue, green, red, 255), which the painter scales without
// converting them first. Four-channel files decode alike either way.
enum class JpegPixels { Bgr24, Bgrx32 };

// Decodes a JPEG file into a DibBlock (24-bit BGR bottom-up, or 32-bit for four-channel files).
// `outSize` receives the block size (44 + stride x height); `outPicture`, when given, the width and
// height. Returns an empty block on any failure.
DibBlock decodeJpegFile(const std::string& path, std::size_t* outSize = nullptr,
                        PictureSize* outPicture = nullptr);

// The same decode over a JPEG file already in memory.
DibBlock decodeJpegBytes(const std::uint8_t* data, std::size_t size, std::size_t* outSize = nullptr,
                         PictureSize* outPicture = nullptr, JpegPixels pixels = JpegPixels::Bgr24);

// Decodes a JPEG 2000 file (JP2 or raw code-stream) into a DibBlock converted in place from the
// codec's BMP-file output. `outSize` receives the fixed capacity 0xFC000. Empty on failure.
DibBlock decodeJ2kFile(const std::string& path, std::size_t* outSize = nullptr);

// The same decode without the in-place conversion: the block holds a BMP file (14-byte file
// header, 40-byte info header, rows from byte 54) in a 0xFC000-byte block.
DibBlock decodeJ2kFileToBmp(const std::string& path);

// Both of the above over bytes already in memory.
DibBlock decodeJ2kBytesToBmp(const std::uint8_t* data, std::size_t size);
DibBlock decodeJ2kBytes(const std::uint8_t* data, std::size_t size);

// A frame file already in memory, decoded by its extension ("jpg" or "jp2", any letter case) as
// the *File functions above would; `outSize` as theirs. Empty for other extensions. `pixels`
// applies to JPEG files.
DibBlock decodeFrameBytes(std::string_view extension, const std::uint8_t* data, std::size_t size,
                          std::size_t* outSize = nullptr, JpegPixels pixels = JpegPixels::Bgr24);

}  // namespace korvex
