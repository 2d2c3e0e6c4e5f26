#include "viewer/playback/core/PaneGeometry.h"

namespace korvex {

PixelRect fitFourByThree(const PixelRect& r) {
    const int W = r.width();
    const int H = r.height();
    // Integer forms of trunc(w x 0.75) and trunc(h x 4 / 3); C++ division truncates toward zero
    // like the conversions they stand for.
    int w = W;
    int h = static_cast<int>(static_cast<long long>(w) * 3 / 4);
    if (H < h) {
        h = H;
        w = static_cast<int>(static_cast<long long>(h) * 4 / 3);
    }
    const int left = r.left + (W - w) / 2;
    const int top = r.top + (H - h) / 2;
    return {left, top, left + w, top + h};
}

std::vector<PixelRect> paneRects(const PixelRect& page, int gridSize) {
    std::vector<PixelRect> rects;
    if (gridSize < 1 || gridSize > 4)
        return rects;
    const PixelRect area = fitFourByThree(page);
    const int paneWidth = area.width() / gridSize;
    const int paneHeight = area.height() / gridSize;
    rects.reserve(static_cast<std::size_t>(gridSize * gridSize));
    for (int row = 0; row < gridSize; ++row) {
        for (int column = 0; column < gridSize; ++column) {
            const int left = area.left + column * paneWidth;
            const int top = area.top + row * paneHeight;
            rects.push_back({left, top, left + paneWidth, top + paneHeight});
        }
    }
    return rects;
}

int paneAt(const std::vector<PixelRect>& rects, int x, int y) {
    for (std::size_t p = 0; p < rects.size(); ++p) {
        if (rects[p].contains(x, y))
            return static_cast<int>(p);
    }
    return -1;
}

int croppedRows(int pictureHeight) {
    return pictureHeight == 248 || pictureHeight == 296 ? 16 : 0;
}

TextUnit textUnitFor(int destinationHeight) {
    TextUnit t;
    t.unit = (destinationHeight < 0 ? -destinationHeight : destinationHeight) / 18;
    t.marginX = t.unit / 2;
    t.marginY = t.unit / 3;
    return t;
}

PixelRect placeText(const PixelRect& d, const TextUnit& unit, int textWidth, int textHeight,
                    int timePosition) {
    int x = 0;
    int y = 0;
    switch (timePosition) {
        case kRightDown:
            x = d.width() - textWidth - unit.marginX;
            y = d.height() - textHeight - unit.marginY;
            break;
        case kRightUp:
            x = d.width() - textWidth - unit.marginX;
            y = unit.marginY;
            break;
        case kLeftUp:
            x = unit.marginX;
            y = unit.marginY;
            break;
        case kLeftDown:
            x = unit.marginX;
            y = d.height() - textHeight - unit.marginY;
            break;
        default:
            return {};
    }
    return {d.left + x, d.top + y, d.left + x + textWidth, d.top + y + textHeight};
}

bool textFits(const PixelRect& textRect, int paneWidth) {
    return textRect.left > 0 && textRect.top > 0 && textRect.right > 0 && textRect.bottom > 0 &&
           textRect.width() <= paneWidth;
}

BannerPlan bannersFor(std::int32_t flags, bool checkMode) {
    BannerPlan plan;
    if (!checkMode)
        return plan;
    const bool picture = (flags & kFlagPictureAltered) != 0;
    const bool timeAltered = (flags & kFlagTimeAltered) != 0;
    const bool noTime = (flags & kFlagNoValidTime) != 0;
    // A frame that merely lacks a time (4, 6) is not marked; once marked, a missing time counts
    // as an altered one.
    if (!picture && !(timeAltered && !noTime))
        return plan;
    plan.picture = picture;
    plan.time = timeAltered || noTime;
    return plan;
}

namespace {

PixelRect bannerAt(const PixelRect& d, int topPercent) {
    const int w = d.width();
    const int h = d.height();
    const int top = d.top + topPercent * h / 100;
    return {d.left + 25 * w / 100, top, d.left + 50 * w / 100 + 25 * w / 100, top + 10 * h / 100};
}

}  // namespace

PixelRect pictureBannerRect(const PixelRect& d) {
    return bannerAt(d, 50);
}

PixelRect timeBannerRect(const PixelRect& d) {
    return bannerAt(d, 80);
}

int bannerTextHeight(const PixelRect& d) {
    return 8 * d.height() / 100;
}

}  // namespace korvex
