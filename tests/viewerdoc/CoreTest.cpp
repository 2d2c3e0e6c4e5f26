// The document's pure rules: the speed table, the position slider's page size and the panel's
// and date dialog's texts.

#include <gtest/gtest.h>

#include "viewer/playback/core/PanelText.h"
#include "viewer/playback/core/SpeedTable.h"

namespace korvex {
namespace {

TEST(SpeedTableTest, PacesThenSkipWidths) {
    const std::uint32_t intervals[] = {1000, 500, 200, 100, 20, 20, 20, 20, 20, 20};
    const int steps[] = {1, 1, 1, 1, 1, 7, 17, 47, 97, 197};
    for (int position = 1; position <= 10; ++position) {
        EXPECT_EQ(SpeedInterval(position), intervals[position - 1]) << position;
        EXPECT_EQ(SpeedStep(position), steps[position - 1]) << position;
    }
    // A slider out of its range reads as its nearest end.
    EXPECT_EQ(SpeedInterval(0), 1000u);
    EXPECT_EQ(SpeedStep(11), 197);
}

TEST(PanelTextTest, PageSizeIsTheLargestPrimeNotAboveAHundredth) {
    const struct {
        int count;
        int page;
    } cases[] = {{0, 1},         {50, 1},          {199, 1},         {200, 2},   {250, 2},
                 {399, 3},       {1000, 7},        {1300, 13},       {2400, 23}, {10000, 97},
                 {999999, 9973}, {1000700, 10007}, {2000000, 20000}, {-5, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(positionPageSize(c.count), c.page) << c.count;
}

TEST(PanelTextTest, ChannelAndCounterTexts) {
    EXPECT_EQ(channelText(0), " 1");
    EXPECT_EQ(channelText(15), "16");
    EXPECT_EQ(channelText(-1), "--");
    EXPECT_EQ(channelText(-9), "--");
    EXPECT_EQ(frameCounterText(7, 10), "8 / 10");
    EXPECT_EQ(frameCounterText(-1, 0), "0 / 0");
}

TEST(PanelTextTest, DateOrdersAndSamplesFollowTheDelimiter) {
    const struct {
        int format;
        int delimiter;
        const char* order;
        const char* sample;
    } cases[] = {
        {0, 0, "MM/dd/yyyy", "03/05/2009"},
        {1, 0, "dd/MM/yyyy", "05/03/2009"},
        {2, 0, "yyyy/MM/dd", "2009/03/05"},
        {0, 1, "MM-dd-yyyy", "03-05-2009"},
        {1, 1, "dd-MM-yyyy", "05-03-2009"},
        {2, 2, "yyyy.MM.dd", "2009.03.05"},
        {3, 0, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dateOrderName(c.format, c.delimiter), c.order) << c.format << c.delimiter;
        EXPECT_EQ(dateSampleText(c.format, c.delimiter, 2009, 3, 5), c.sample);
    }
}

}  // namespace
}  // namespace korvex
