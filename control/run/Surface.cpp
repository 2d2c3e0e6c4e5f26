#include "control/run/Surface.h"

#include <algorithm>

namespace picvox::run {

bool Surface::valid() const {
    if (!pixels || width <= 0 || height <= 0)
        return false;
    return static_cast<std::int64_t>(strideBytes) >= std::int64_t{width} * 4 &&
           strideBytes % 4 == 0;
}

Bitmap::Bitmap(int width, int height, std::uint32_t fill) {
    if (width <= 0 || height <= 0)
        return;
    width_ = width;
    height_ = height;
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill);
}

void Bitmap::rotateRight(int columns) {
    if (empty())
        return;
    columns %= width_;
    if (columns < 0)
        columns += width_;
    if (columns == 0)
        return;
    for (int y = 0; y < height_; ++y) {
        auto first = pixels_.begin() + static_cast<std::ptrdiff_t>(index(0, y));
        std::rotate(first, first + (width_ - columns), first + width_);
    }
}

namespace {

Rect clip(const Surface& surface, const Rect& rect) {
    int left = std::max(rect.x, 0);
    int top = std::max(rect.y, 0);
    int right =
        static_cast<int>(std::min<std::int64_t>(std::int64_t{rect.x} + rect.width, surface.width));
    int bottom = static_cast<int>(
        std::min<std::int64_t>(std::int64_t{rect.y} + rect.height, surface.height));
    return Rect{left, top, right - left, bottom - top};
}

}  // namespace

void fillRect(const Surface& surface, const Rect& rect, std::uint32_t colour) {
    if (!surface.valid())
        return;
    Rect r = clip(surface, rect);
    if (r.empty())
        return;
    for (int y = r.y; y < r.y + r.height; ++y)
        std::fill_n(surface.row(y) + r.x, r.width, colour);
}

void drawBitmap(const Surface& surface, const Bitmap& bitmap, int x, int y) {
    if (!surface.valid() || bitmap.empty())
        return;
    Rect r = clip(surface, Rect{x, y, bitmap.width(), bitmap.height()});
    for (int row = r.y; row < r.y + r.height; ++row) {
        std::uint32_t* out = surface.row(row);
        for (int col = r.x; col < r.x + r.width; ++col)
            out[col] = bitmap.at(col - x, row - y);
    }
}

}  // namespace picvox::run
