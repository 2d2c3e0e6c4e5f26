#pragma once

#include <cstdint>
#include <vector>

namespace korvex::gen {

// A picture to encode: top-down rows of `channels` bytes per pixel (1 = grey, 3 = RGB).
struct RawPicture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<std::uint8_t> pixels;  // width * height * channels, no padding
};

// A picture with the look of a camera frame, the same for the same arguments: smooth gradients,
// sensor-like noise and blocks of text-like strokes (what timestamps and signs give a frame).
RawPicture syntheticPicture(int width, int height, int channels, std::uint32_t seed);

// Baseline JPEG of the kind recorders write: 8-bit tables, one scan, no restart markers. Grey for
// 1-channel input (one component), else YCbCr 4:2:0. Empty on failure.
std::vector<std::uint8_t> encodeJpeg(const RawPicture& picture, int quality = 85);

enum class J2kContainer { Jp2, Codestream };

// Lossy JPEG 2000 (OpenJPEG), as a JP2 file (signature box, ftyp "jp2 ", header, code-stream box)
// or a raw code-stream. `rate` is the compression ratio of the single layer; 1 or less gives a
// lossless picture (reversible wavelet). The result ends with the code-stream's FF D9. Empty on
// failure.
std::vector<std::uint8_t> encodeJ2k(const RawPicture& picture,
                                    J2kContainer container = J2kContainer::Jp2, float rate = 20.0f);

}  // namespace korvex::gen
