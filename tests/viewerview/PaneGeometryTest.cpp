#include "viewer/playback/core/PaneGeometry.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

struct FitCase {
    PixelRect in;
    PixelRect out;
};

TEST(PaneGeometry, FitsTheLargestCentredFourByThree) {
    const FitCase cases[] = {
        {{0, 0, 640, 480}, {0, 0, 640, 480}},    // exactly 4:3
        {{0, 0, 800, 480}, {80, 0, 720, 480}},   // too wide: height decides, centred
        {{0, 0, 640, 600}, {0, 60, 640, 540}},   // too tall: width decides, centred
        {{0, 0, 801, 601}, {0, 0, 801, 600}},    // trunc(801 x 0.75) = 600, odd rest on top 0
        {{0, 0, 333, 100}, {100, 0, 233, 100}},  // trunc(100 x 4 / 3) = 133
        {{0, 0, 810, 575}, {22, 0, 788, 575}},   // the main window's view row
        {{10, 20, 110, 95}, {10, 20, 110, 95}},  // offset rectangles keep their origin
        {{0, 0, 103, 75}, {1, 0, 101, 75}},      // (103 - 100) / 2 = 1: the odd column right
        {{0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const FitCase& c : cases) {
        const PixelRect got = fitFourByThree(c.in);
        EXPECT_EQ(got, c.out) << c.in.width() << "x" << c.in.height() << " gave " << got.left << ","
                              << got.top << "," << got.right << "," << got.bottom;
    }
}

TEST(PaneGeometry, PanesCutTheFittedAreaIntoEqualParts) {
    // 800 x 600, 2 x 2: four 400 x 300 panes, row by row.
    std::vector<PixelRect> four = paneRects({0, 0, 800, 600}, 2);
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(four[1], (PixelRect{400, 0, 800, 300}));
    EXPECT_EQ(four[2], (PixelRect{0, 300, 400, 600}));

    // 810 x 575, 3 x 3: area 766 x 575 from x 22; panes 255 x 191 (integer division).
    std::vector<PixelRect> nine = paneRects({0, 0, 810, 575}, 3);
    ASSERT_EQ(nine.size(), 9u);
    EXPECT_EQ(nine[0], (PixelRect{22, 0, 277, 191}));
    EXPECT_EQ(nine[4], (PixelRect{277, 191, 532, 382}));
    EXPECT_EQ(nine[8], (PixelRect{532, 382, 787, 573}));

    std::vector<PixelRect> sixteen = paneRects({0, 0, 801, 601}, 4);
    ASSERT_EQ(sixteen.size(), 16u);
    EXPECT_EQ(sixteen[15], (PixelRect{600, 450, 800, 600}));

    EXPECT_EQ(paneRects({0, 0, 800, 600}, 1).at(0), (PixelRect{0, 0, 800, 600}));
    EXPECT_TRUE(paneRects({0, 0, 800, 600}, 0).empty());  // a view without a layout
    EXPECT_TRUE(paneRects({0, 0, 800, 600}, 5).empty());
}

TEST(PaneGeometry, FindsThePaneUnderAPoint) {
    const std::vector<PixelRect> nine = paneRects({0, 0, 810, 575}, 3);
    EXPECT_EQ(paneAt(nine, 22, 0), 0);
    EXPECT_EQ(paneAt(nine, 300, 200), 4);
    EXPECT_EQ(paneAt(nine, 786, 572), 8);
    EXPECT_EQ(paneAt(nine, 10, 100), -1);   // the margin beside the 4:3 area
    EXPECT_EQ(paneAt(nine, 400, 574), -1);  // the rows lost to the integer division
}

TEST(PaneGeometry, CropsOnlyTheTwoFieldHeights) {
    EXPECT_EQ(croppedRows(248), 16);
    EXPECT_EQ(croppedRows(296), 16);
    for (int h : {240, 288, 480, 576, 247, 249, 0})
        EXPECT_EQ(croppedRows(h), 0) << h;
}

TEST(PaneGeometry, TextUnitAndMargins) {
    struct Case {
        int height, unit, mx, my;
    };
    const Case cases[] = {
        {54, 3, 1, 1}, {480, 26, 13, 8}, {575, 31, 15, 10}, {17, 0, 0, 0}, {-36, 2, 1, 0}};
    for (const Case& c : cases) {
        const TextUnit t = textUnitFor(c.height);
        EXPECT_EQ(t.unit, c.unit) << c.height;
        EXPECT_EQ(t.marginX, c.mx) << c.height;
        EXPECT_EQ(t.marginY, c.my) << c.height;
    }
}

TEST(PaneGeometry, PlacesTheTextInItsCorner) {
    const PixelRect d{80, 0, 720, 480};
    const TextUnit u = textUnitFor(d.height());  // 26, margins 13 and 8
    struct Case {
        int position;
        PixelRect rect;
    };
    const Case cases[] = {
        {kRightDown, {507, 442, 707, 472}},
        {kRightUp, {507, 8, 707, 38}},
        {kLeftUp, {93, 8, 293, 38}},
        {kLeftDown, {93, 442, 293, 472}},
        {4, {}},
        {-1, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(placeText(d, u, 200, 30, c.position), c.rect) << c.position;
}

TEST(PaneGeometry, TextMustStayOffTheLeftAndTopEdgesAndFitThePane) {
    EXPECT_TRUE(textFits({1, 1, 101, 21}, 100));
    EXPECT_FALSE(textFits({0, 5, 100, 25}, 200));   // touches the left edge
    EXPECT_FALSE(textFits({5, 0, 105, 20}, 200));   // touches the top edge
    EXPECT_FALSE(textFits({-20, 5, 80, 25}, 200));  // wider than D: starts left of the page
    EXPECT_FALSE(textFits({5, 5, 106, 25}, 100));   // wider than its pane
}

TEST(PaneGeometry, BannersFollowTheCheckFlags) {
    struct Case {
        std::int32_t flags;
        bool check, picture, time;
    };
    const Case cases[] = {
        {0, true, false, false},  {1, true, true, false},   {2, true, false, true},
        {3, true, true, true},    {4, true, false, false},  {6, true, false, false},
        {7, true, true, true},    {5, true, true, true},    {-1, true, true, true},
        {7, false, false, false}, {1, false, false, false}, {2, false, false, false},
    };
    for (const Case& c : cases) {
        const BannerPlan plan = bannersFor(c.flags, c.check);
        EXPECT_EQ(plan.picture, c.picture) << c.flags << " check " << c.check;
        EXPECT_EQ(plan.time, c.time) << c.flags << " check " << c.check;
    }
}

TEST(PaneGeometry, BannerRectanglesTruncateEachQuotient) {
    EXPECT_EQ(pictureBannerRect({0, 0, 640, 480}), (PixelRect{160, 240, 480, 288}));
    EXPECT_EQ(timeBannerRect({0, 0, 640, 480}), (PixelRect{160, 384, 480, 432}));
    // w 91, h 72: 22.75 -> 22, 45.5 -> 45, 36, 7.2 -> 7, 57.6 -> 57.
    EXPECT_EQ(pictureBannerRect({10, 5, 101, 77}), (PixelRect{32, 41, 77, 48}));
    EXPECT_EQ(timeBannerRect({10, 5, 101, 77}), (PixelRect{32, 62, 77, 69}));
    EXPECT_EQ(bannerTextHeight({0, 0, 640, 480}), 38);
}

}  // namespace
}  // namespace korvex
