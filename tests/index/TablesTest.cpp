#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "IndexTestSupport.h"
#include "recording/InfoTable.h"
#include "recording/TimeTable.h"
#include "tools/recgen/InfoFile.h"

namespace korvex {
namespace {

using gen::buildInfoFile;
using gen::InfoRecord;

void setCount(std::vector<std::uint8_t>& file, std::int32_t count) {
    const auto u = static_cast<std::uint32_t>(count);
    for (int i = 0; i < 4; ++i)
        file[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

TEST(InfoTable, ReadsHeaderAndRecords) {
    std::array<std::string, 16> titles{};
    titles[0] = "Entrance";
    titles[3] = "ABCDEFGHIJKLMNOPQRST";  // longer than the field: stored unterminated
    const std::vector<InfoRecord> records = {
        {100, 10, 3}, {200, 20, 0}, {300, 30, 3}, {400, 40, 7}, {500, 50, 0}};
    InfoTable table;
    ASSERT_TRUE(table.parse(buildInfoFile(records, titles)));
    ASSERT_TRUE(table.loaded());
    ASSERT_EQ(table.recordCount(), 5);
    EXPECT_EQ(table.record(2).dvrSeconds, 300u);
    EXPECT_EQ(table.record(2).offsetMs, 30u);
    EXPECT_EQ(table.channelCount(), 3);
    EXPECT_EQ(table.channels()[0], 3);
    EXPECT_EQ(table.channels()[1], 0);
    EXPECT_EQ(table.channels()[2], 7);
    EXPECT_EQ(table.channels()[3], InfoTable::kEmptySlot);
    EXPECT_EQ(table.titleOf(0), "Entrance");
    EXPECT_EQ(table.titleOf(3), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(table.titleOf(1), "");
    EXPECT_EQ(table.framesOf(3), 2);
    EXPECT_EQ(table.framesOf(5), 0);
    EXPECT_EQ(table.firstFrameNumberOf(3), 1);
    EXPECT_EQ(table.lastFrameNumberOf(3), 3);
    EXPECT_EQ(table.firstFrameNumberOf(0), 2);
}

TEST(InfoTable, ChannelListKeepsSixteenInOrderOfFirstAppearance) {
    std::vector<InfoRecord> records;
    for (int c = 20; c >= 0; --c)
        records.push_back({0, 0, static_cast<std::uint8_t>(c)});
    InfoTable table;
    ASSERT_TRUE(table.parse(buildInfoFile(records, {})));
    EXPECT_EQ(table.channelCount(), 16);
    EXPECT_EQ(table.channels()[0], 20);
    EXPECT_EQ(table.channels()[15], 5);
}

TEST(InfoTable, ChannelsOutsideTheHeaderReadAsEmpty) {
    // Bytes 16, 200 and 255 are no recorder channel; 255 reads as -1 and 247 as -9 (a signed
    // byte), and neither may reach the 16-entry header arrays.
    const std::vector<InfoRecord> records = {{0, 0, 16}, {0, 0, 200}, {0, 0, 255}, {0, 0, 247}};
    InfoTable table;
    ASSERT_TRUE(table.parse(buildInfoFile(records, {})));
    EXPECT_EQ(table.record(1).channel, -56);
    EXPECT_EQ(table.record(2).channel, -1);
    EXPECT_EQ(table.channelCount(), 3);  // -9 would read as an empty slot: not listed
    for (int c : {16, -56, -1, -9, 1000, std::numeric_limits<int>::min()}) {
        EXPECT_EQ(table.framesOf(c), 0);
        EXPECT_EQ(table.titleOf(c), "");
        EXPECT_EQ(table.firstFrameNumberOf(c), 0);
        EXPECT_EQ(table.lastFrameNumberOf(c), 0);
    }
}

TEST(InfoTable, RefusesCountsTheBytesCannotHold) {
    const std::vector<InfoRecord> three = {{1, 1, 0}, {2, 2, 0}, {3, 3, 1}};
    struct Case {
        const char* what;
        std::int32_t count;
        bool loads;
    } cases[] = {
        {"exact", 3, true},
        {"fewer than stored (rest ignored)", 2, true},
        {"zero", 0, true},
        {"one more than stored", 4, false},
        {"negative", -1, false},
        {"most negative", std::numeric_limits<std::int32_t>::min(), false},
        {"huge", std::numeric_limits<std::int32_t>::max(), false},
        {"wraps when multiplied by 16", 0x10000001, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> file = buildInfoFile(three, {});
        setCount(file, c.count);
        InfoTable table;
        EXPECT_EQ(table.parse(file), c.loads);
        EXPECT_EQ(table.loaded(), c.loads);
        EXPECT_EQ(table.recordCount(), c.loads ? c.count : 0);
        if (!c.loads) {
            EXPECT_EQ(table.channels()[0], InfoTable::kEmptySlot);
        }
    }
    InfoTable table;
    std::vector<std::uint8_t> shortHeader(1023, 0);
    EXPECT_FALSE(table.parse(shortHeader));
    EXPECT_FALSE(table.parse({}));
}

class InfoTableFile : public test::ScratchFolder {};

TEST_F(InfoTableFile, LoadsFromTheInfoFolderWhateverTheCase) {
    write("info/b.inf", buildInfoFile({{1, 1, 2}}, {}));
    write("info/A.INF", buildInfoFile({{1, 1, 5}, {2, 2, 5}}, {}));
    write("info/c.txt", "not an index");
    const std::string path = InfoTable::findInfoFile(root());
    EXPECT_EQ(path, (root_ / "info" / "A.INF").string());
    InfoTable table;
    ASSERT_TRUE(table.load(path));
    EXPECT_EQ(table.recordCount(), 2);
    EXPECT_EQ(table.channels()[0], 5);
}

TEST_F(InfoTableFile, ShortOrHostileFilesLoadNothing) {
    std::vector<std::uint8_t> file = buildInfoFile({{1, 1, 0}, {2, 2, 0}}, {});
    file.resize(file.size() - 1);  // last record cut short
    write("INFO/X.INF", file);
    InfoTable table;
    EXPECT_FALSE(table.load((root_ / "INFO/X.INF").string()));
    EXPECT_FALSE(table.loaded());

    setCount(file, std::numeric_limits<std::int32_t>::max());
    write("INFO/X.INF", file);
    EXPECT_FALSE(table.load((root_ / "INFO/X.INF").string()));
    EXPECT_FALSE(table.load((root_ / "INFO/missing.INF").string()));
    EXPECT_FALSE(table.load((root_ / "INFO").string()));  // a folder
    EXPECT_EQ(InfoTable::findInfoFile((root_ / "none").string()), "");
}

TEST(TimeTable, ParsesLinesLikeAtolWithoutOverflow) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    struct Case {
        std::string line;
        std::int32_t value;
    } cases[] = {
        {"1234", 1234},
        {"  \t-45ms", -45},
        {"+7", 7},
        {"", 0},
        {"abc", 0},
        {"- 5", 0},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"99999999999999999999999999", kMax},
        {"-99999999999999999999999999", kMin},
        {std::string(300, '9'), kMax},
        {std::string(255, ' ') + "42", 0},  // only the first 255 characters count
        {std::string(254, ' ') + "42", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        EXPECT_EQ(TimeTable::parseLine(c.line), c.value);
    }
}

TEST(TimeTable, OneEntryPerLine) {
    TimeTable table;
    table.parse("10\r\n20\n\n30");
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table.at(0), 10);
    EXPECT_EQ(table.at(1), 20);
    EXPECT_EQ(table.at(2), 0);
    EXPECT_EQ(table.at(3), 30);
    EXPECT_EQ(table.at(4), 0);
    EXPECT_EQ(table.at(-1), 0);

    // A final newline ends the last line; a long line is one entry, not several.
    table.parse("5\n" + std::string(1000, '7') + "\n6\n");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table.at(2), 6);

    table.parse("");
    EXPECT_FALSE(table.present());
}

class TimeTableFile : public test::ScratchFolder {};

TEST_F(TimeTableFile, AbsentOrOversizedFileLeavesTheTableEmpty) {
    TimeTable table;
    write("time.txt", "1\n2\n");
    EXPECT_TRUE(table.load((root_ / "time.txt").string()));
    EXPECT_EQ(table.size(), 2u);
    EXPECT_FALSE(table.load((root_ / "missing.txt").string()));
    EXPECT_FALSE(table.present());

    test::fs::resize_file(root_ / "time.txt", TimeTable::kMaxFileBytes + 1);
    EXPECT_FALSE(table.load((root_ / "time.txt").string()));
    EXPECT_FALSE(table.present());
}

}  // namespace
}  // namespace korvex
