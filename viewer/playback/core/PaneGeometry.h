#pragma once

#include <cstdint>
#include <vector>

namespace korvex {

// A rectangle in device pixels, right and bottom exclusive (the platform's RECT).
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    PixelRect shrunk(int by) const { return {left + by, top + by, right - by, bottom - by}; }
    bool operator==(const PixelRect&) const = default;
};

// The largest 4:3 rectangle inside `r`, centred: width first, the height then decides. Every
// picture is stretched to such a rectangle whatever its own proportions.
PixelRect fitFourByThree(const PixelRect& r);

// The panes of a `gridSize` x `gridSize` layout over `page`: a 4:3 area fitted into the page and
// cut into equal panes, index p = row x gridSize + column. Empty for a grid outside 1..4.
std::vector<PixelRect> paneRects(const PixelRect& page, int gridSize);

// The first pane whose rectangle holds (x, y); -1 when none does.
int paneAt(const std::vector<PixelRect>& rects, int x, int y);

// Rows of a picture that are not shown: the top 16 of the 248- and 296-row fields, whose first
// lines carry no picture.
int croppedRows(int pictureHeight);

// Size of the overlay text and its distance from the picture's edges, from the destination's
// height: one eighteenth of it, half of that across, a third of it down.
struct TextUnit {
    int unit = 0;
    int marginX = 0;
    int marginY = 0;
};
TextUnit textUnitFor(int destinationHeight);

// The four corners the time text can take (the stored "DateDispPos").
enum TimePosition : std::int32_t {
    kRightDown = 0,
    kRightUp = 1,
    kLeftUp = 2,
    kLeftDown = 3,
};

// The text rectangle of a `textWidth` x `textHeight` text in destination `d` for `timePosition`
// (an unknown position draws nowhere: an empty rectangle).
PixelRect placeText(const PixelRect& d, const TextUnit& unit, int textWidth, int textHeight,
                    int timePosition);

// The text is drawn only when its rectangle stays off the page's left and top edges and it is
// not wider than its pane.
bool textFits(const PixelRect& textRect, int paneWidth);

// ---- Alteration banners (check mode) ----

// Bits of a frame's check flags.
inline constexpr std::int32_t kFlagPictureAltered = 1;
inline constexpr std::int32_t kFlagTimeAltered = 2;
inline constexpr std::int32_t kFlagNoValidTime = 4;

struct BannerPlan {
    bool picture = false;  // "IMAGE ALTERED"
    bool time = false;     // "TIME ALTERED"
};
// Which banners a frame with `flags` gets (only in check mode).
BannerPlan bannersFor(std::int32_t flags, bool checkMode);
// The banner's rectangle in `d`: the picture banner at half height, the time banner at 80 %.
PixelRect pictureBannerRect(const PixelRect& d);
PixelRect timeBannerRect(const PixelRect& d);
// Character height of the banner text: 8 % of the destination's height.
int bannerTextHeight(const PixelRect& d);

}  // namespace korvex
