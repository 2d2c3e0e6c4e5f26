#include "viewer/playback/core/FrameTimeText.h"

#include <gtest/gtest.h>

#include "platform/TimeZone.h"

namespace korvex {
namespace {

// The tests run with TZ=UTC; the program fixes its zone to the recorders' UTC+9 at start-up.
class FrameTimeTextTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform::fixProcessTimeZone(); }
};

constexpr std::int64_t k20090305_140709Jst = 1236229629;
constexpr std::int64_t k20090306_013000Jst = 1236270600;  // still 5 March in UTC

TEST_F(FrameTimeTextTest, ThreeOrdersTimesThreeDelimiters) {
    struct Case {
        int format, delimiter;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "03/05/2009 14:07:09"}, {0, 1, "03-05-2009 14:07:09"}, {0, 2, "03.05.2009 14:07:09"},
        {1, 0, "05/03/2009 14:07:09"}, {1, 1, "05-03-2009 14:07:09"}, {1, 2, "05.03.2009 14:07:09"},
        {2, 0, "2009/03/05 14:07:09"}, {2, 1, "2009-03-05 14:07:09"}, {2, 2, "2009.03.05 14:07:09"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatFrameTime(k20090305_140709Jst, c.format, c.delimiter), c.text)
            << c.format << "/" << c.delimiter;
    }
}

TEST_F(FrameTimeTextTest, ShowsTheRecordersWallClock) {
    EXPECT_EQ(FormatFrameTime(k20090306_013000Jst, 2, 1), "2009-03-06 01:30:00");
    // The recorders' epoch: 2000-01-01 00:00:00 of their clock.
    EXPECT_EQ(FormatFrameTime(946652400, 0, 0), "01/01/2000 00:00:00");
}

TEST_F(FrameTimeTextTest, UnknownFormatIsEmptyAndUnknownDelimiterIsASlash) {
    EXPECT_EQ(FormatFrameTime(k20090305_140709Jst, 3, 0), "");
    EXPECT_EQ(FormatFrameTime(k20090305_140709Jst, -1, 0), "");
    EXPECT_EQ(FormatFrameTime(k20090305_140709Jst, 2, 9), "2009/03/05 14:07:09");
    EXPECT_EQ(FormatFrameTime(k20090305_140709Jst, 2, -1), "2009/03/05 14:07:09");
}

TEST_F(FrameTimeTextTest, OverlayTextCarriesTheTitleOnlyWhenAsked) {
    OverlayTextInput in;
    in.time = k20090305_140709Jst;
    in.frameFlags = 0;
    in.title = "Gate";
    in.dateFormat = 2;
    in.dateDelimiter = 2;
    in.showCameraTitle = true;
    in.hasChannelInfo = true;
    EXPECT_EQ(overlayText(in), "Gate  2009.03.05 14:07:09");

    in.showCameraTitle = false;
    EXPECT_EQ(overlayText(in), "2009.03.05 14:07:09");
    in.showCameraTitle = true;
    in.hasChannelInfo = false;  // no INFO table: no titles either
    EXPECT_EQ(overlayText(in), "2009.03.05 14:07:09");
}

TEST_F(FrameTimeTextTest, OverlayTextNeedsAValidTime) {
    OverlayTextInput in;
    in.time = k20090305_140709Jst;
    in.title = "Gate";
    in.hasChannelInfo = true;
    for (std::int32_t flags : {0, 1, 2, 3}) {
        in.frameFlags = flags;
        EXPECT_FALSE(overlayText(in).empty()) << flags;
    }
    for (std::int32_t flags : {4, 6, 7, -1}) {  // bit 2: no valid time, no title either
        in.frameFlags = flags;
        EXPECT_EQ(overlayText(in), "") << flags;
    }
    in.frameFlags = 0;
    in.time = 0;
    EXPECT_EQ(overlayText(in), "");
}

}  // namespace
}  // namespace korvex
