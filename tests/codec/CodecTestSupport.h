#pragma once

// Helpers shared by the codec tests: scratch files, pixel access in DIB blocks, and encoders for
// the unusual files a recorder does not write (four-component JPEG, sub-sampled or 12-bit JPEG
// 2000) built straight on the libraries.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "recording/DibBlock.h"
#include "tools/recgen/Encoders.h"

namespace codectest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

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

// Offset of the code-stream's SIZ marker segment (FF 51) in a JPEG 2000 file; -1 if none.
long sizOffset(const std::vector<std::uint8_t>& file);
// Offset of the first SOF marker (FF C0..C2) in a JPEG file; -1 if none.
long sofOffset(const std::vector<std::uint8_t>& file);

void putBe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);
void putBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);

}  // namespace codectest
