#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace picvox::run {

// 0xFFRRGGBB: the host's 32-bit RGB surface keeps the top byte at 0xFF.
inline constexpr std::uint32_t rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return 0xFF000000u | (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
}
inline constexpr std::uint32_t kBlack = rgb(0, 0, 0);

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A surface the host owns and lends for one paint: rows top first, `strideBytes` apart.
struct Surface {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int strideBytes = 0;

    // False for a null, empty or inconsistent surface; nothing is drawn into those.
    bool valid() const;
    std::uint32_t* row(int y) const {
        return reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(pixels) +
                                                static_cast<std::ptrdiff_t>(y) * strideBytes);
    }
    std::uint32_t at(int x, int y) const { return row(y)[x]; }
};

// A small picture of our own (the animation's frames), rows top first, 0xFFRRGGBB.
class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height, std::uint32_t fill = kBlack);

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return pixels_.empty(); }
    std::uint32_t at(int x, int y) const { return pixels_[index(x, y)]; }
    void set(int x, int y, std::uint32_t colour) { pixels_[index(x, y)] = colour; }
    // Moves every column `columns` to the right; those pushed past the right edge come back
    // at the left.
    void rotateRight(int columns);

    friend bool operator==(const Bitmap&, const Bitmap&) = default;

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint32_t> pixels_;
};

// Both clip to the surface.
void fillRect(const Surface& surface, const Rect& rect, std::uint32_t colour);
void drawBitmap(const Surface& surface, const Bitmap& bitmap, int x, int y);

}  // namespace picvox::run
