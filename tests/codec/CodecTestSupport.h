#pragma once

// Helpers shared by the codec tests: pixel access in DIB blocks, and encoders for
// the unusual files a recorder does not write (four-component JPEG, sub-sampled or 12-bit JPEG
// 2000) built straight on the libraries.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "recording/DibBlock.h"
#include "tools/recgen/Encoders.h"

namespace codectest {

// Pixel (x, y) of a bottom-up DIB block, y counted from the top of the picture.
const std::uint8_t* dibPixel(const korvex::DibBlock& block, const korvex::DibInfo& info, int x,
                             int y);

// Mean absolute difference between a 24-bit block and the RGB (or grey) source picture.
double meanAbsError(const korvex::DibBlock& block, const korvex::gen::RawPicture& source);

// A JPEG of four components with the given per-pixel values for the top and bottom halves,
// written with or without an Adobe marker and with the given Adobe transform (0 CMYK, 2 YCCK).
std::vector<std::uint8_t> fourComponentJpeg(int width, int height, const std::uint8_t top[4],
                                            const std::uint8_t bottom[4], bool adobeMarker,
                                            bool ycck);

// A JPEG of `components` unnamed components (e.g. 2), each sample `value`.
std::vector<std::uint8_t> otherComponentJpeg(int width, int height, int components, int value);

// A lossless JPEG 2000 file of components with their own sub-sampling and precision; sample
// values come from fn(component, x, y) on each component's own grid.
struct J2kComponent {
    int dx = 1;
    int dy = 1;
    int precision = 8;
    bool isSigned = false;
};
enum class J2kColour { Grey, Srgb, Sycc, Cmyk };
std::vector<std::uint8_t> customJ2k(int width, int height, const std::vector<J2kComponent>& comps,
                                    J2kColour colour, bool jp2,
                                    int (*fn)(int component, int x, int y));

// A JPEG 2000 file of an 8-bit picture with chosen coding: lossless 5/3 (rate <= 1) or lossy 9/7,
// with or without the colour transform, in tiles of tileSide (0 = one tile), each tile split into
// one tile-part per resolution when tilePartsPerResolution.
struct J2kTuning {
    bool jp2 = true;
    float rate = 20.0f;
    bool colourTransform = true;
    int tileSide = 0;
    bool tilePartsPerResolution = false;
};
std::vector<std::uint8_t> tunedJ2k(const korvex::gen::RawPicture& picture, const J2kTuning& tuning);

// Saturated primaries, white and black in sharp stripes: colour differences span the whole
// +-255 and lossy coding overshoots at every edge.
korvex::gen::RawPicture saturatedPicture(int width, int height);

// The file decoded by OpenJPEG on its own (its colour transform, one thread) as top-down BGR bytes,
// for 8-bit files of 1 or 3 full-size components; empty if it is not such a file.
std::vector<std::uint8_t> plainDecodeBgr(const std::vector<std::uint8_t>& file);

// Offset of the code-stream's SIZ marker segment (FF 51) in a JPEG 2000 file; -1 if none.
long sizOffset(const std::vector<std::uint8_t>& file);
// Offset of the first SOF marker (FF C0..C2) in a JPEG file; -1 if none.
long sofOffset(const std::vector<std::uint8_t>& file);

void putBe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);
void putBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);

}  // namespace codectest
