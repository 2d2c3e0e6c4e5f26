#include "recording/FolderImageSource.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <climits>
#include <string>
#include <vector>

#include "IndexTestSupport.h"
#include "recording/AuthenticityCheck.h"

namespace korvex {
namespace {

constexpr RecordingKind kJpeg{.kindJpeg = true};
constexpr RecordingKind kJp2Mp3{.kindJp2Mp3 = true};
constexpr RecordingKind kJp2Wav{.kindJp2Wav = true};

class FolderIndex : public test::ScratchFolder {
protected:
    // Frame names relative to the recording folder, in index order.
    std::vector<std::string> names(const FolderImageSource& source) const {
        std::vector<std::string> out;
        for (int i = 0; i < source.count(); ++i) {
            out.push_back(test::fs::path(source.pathAt(i)).lexically_relative(root_).string());
        }
        return out;
    }
    using Names = std::vector<std::string>;
};

TEST_F(FolderIndex, Mp3RecordingListsOnlyJpeg2000Files) {
    write("sound.mp3");
    frame("IMG00001/000001.jpg");
    frame("IMG00001/000002.jp2");
    frame("IMG00001/000003.JP2");
    RecordingProbe probe;
    ASSERT_EQ(probe.probe(root()), 1);
    FolderImageSource source(probe.kind());
    ASSERT_EQ(source.openFolder(root(), 1), 1);
    EXPECT_EQ(names(source), (Names{"IMG00001/000002.jp2", "IMG00001/000003.JP2"}));
    EXPECT_EQ(source.currentIndex(), 0);
}

TEST_F(FolderIndex, SubfoldersScanCaseInsensitivelyWhileFilesSortByBytes) {
    frame("IMG00002/000201.jpg");
    frame("img00001/000001.jpg");
    frame("img00001/B.jpg");
    frame("img00001/_.jpg");
    frame("img00001/a.jpg");
    FolderImageSource source(kJpeg);
    ASSERT_EQ(source.openFolder(root(), 1), 1);
    ASSERT_EQ(source.subfolders().size(), 2u);
    EXPECT_EQ(test::fs::path(source.subfolders()[0]).filename(), "img00001");
    EXPECT_EQ(test::fs::path(source.subfolders()[1]).filename(), "IMG00002");
    EXPECT_EQ(names(source), (Names{"IMG00002/000201.jpg", "img00001/000001.jpg", "img00001/B.jpg",
                                    "img00001/_.jpg", "img00001/a.jpg"}));
}

TEST_F(FolderIndex, FirstSubfolderWithoutFilesFailsTheOpen) {
    // img00001 comes first without regard to case, although IMG00002 is first by bytes.
    test::fs::create_directories(root_ / "img00001");
    frame("IMG00002/000201.jpg");
    FolderImageSource source(kJpeg);
    EXPECT_EQ(source.openFolder(root(), 1), 0);
    EXPECT_EQ(source.count(), 0);
    EXPECT_EQ(source.currentIndex(), -1);
}

TEST_F(FolderIndex, LaterEmptySubfoldersAreSkipped) {
    frame("IMG00001/000001.jp2");
    frame("IMG00002/000201.jp2");
    write("SOUND/sound.wav");  // a subfolder without pictures, last in order
    FolderImageSource source(kJp2Wav);
    ASSERT_EQ(source.openFolder(root(), 1), 1);
    EXPECT_EQ(source.count(), 2);
    // The last folder listed gave nothing: no current frame until the caller moves.
    EXPECT_EQ(source.currentIndex(), -1);

    // INFO, without pictures, is skipped; ZZZ, listed last, gives a frame.
    test::fs::remove_all(root_ / "SOUND");
    write("INFO/x.txt");
    frame("ZZZ/1.jp2");
    ASSERT_EQ(source.openFolder(root(), 1), 1);
    EXPECT_EQ(source.count(), 3);
    EXPECT_EQ(source.currentIndex(), 0);
}

TEST_F(FolderIndex, FlatOrSubfolderLayoutBySubfoldersOnly) {
    frame("000001.jpg");
    frame("IMG00001/000002.jpg");
    FolderImageSource source(kJpeg);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(names(source), (Names{"000001.jpg"}));
    ASSERT_EQ(source.openFolder(root(), 1), 1);
    EXPECT_EQ(names(source), (Names{"IMG00001/000002.jpg"}));
    // Without flat files the subfolders are listed even when flat files were allowed.
    test::fs::remove(root_ / "000001.jpg");
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(names(source), (Names{"IMG00001/000002.jpg"}));
}

// INFO and time.txt, found in the pass that lists the recording folder, follow every other name
// look-up: the exact spelling, else the first matching in byte order; a folder never stands for
// time.txt nor a file for INFO. The k-th spelling holds offset k00 and channel k (from 1).
TEST_F(FolderIndex, InfoAndTimeTableSpellingsInEitherLayout) {
    const struct {
        std::vector<const char*> timeFiles, infoFolders;
        std::uint32_t secondOffset;  // 0 = no time.txt
        int channel;                 // -9 = no INFO
    } cases[] = {
        {{"TIME.TXT", "time.txt"}, {"info", "INFO"}, 200, 2},
        {{"Time.txt", "TIME.TXT"}, {"info", "Info"}, 200, 2},
        {{"TiMe.TxT"}, {"iNfO"}, 100, 1},
        {{}, {}, 0, InfoTable::kEmptySlot},
    };
    for (const bool flat : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.secondOffset << " " << c.channel << flat);
            test::fs::remove_all(root_);
            frame(flat ? "000001.jpg" : "IMG00001/000001.jpg");
            frame(flat ? "000002.jpg" : "IMG00001/000002.jpg");
            test::fs::create_directories(root_ / "TIME.txt");
            write("INFo");
            for (std::size_t k = 0; k < c.timeFiles.size(); ++k)
                write(c.timeFiles[k], "0\n" + std::to_string(k + 1) + "00\n");
            for (std::size_t k = 0; k < c.infoFolders.size(); ++k) {
                const auto channel = static_cast<std::uint8_t>(k + 1);
                write(std::string(c.infoFolders[k]) + "/A.INF",
                      gen::buildInfoFile({{0, 0, channel}, {0, 0, channel}}, {}));
            }
            FolderImageSource source(kJpeg);
            ASSERT_EQ(source.openFolder(root(), flat ? 0 : 1), 1);
            EXPECT_EQ(source.timeTable().present() ? source.offsetAt(1) : 0u, c.secondOffset);
            EXPECT_EQ(source.defaultChannel(), c.channel);
        }
    }
}

TEST_F(FolderIndex, NothingToListFails) {
    write("notes.txt");
    test::fs::create_directories(root_ / "x.jpg");  // a folder, not a picture
    FolderImageSource jpeg(kJpeg);
    EXPECT_EQ(jpeg.openFolder(root(), 0), 0);
    EXPECT_EQ(jpeg.openFolder((root_ / "missing").string(), 0), 0);
    FolderImageSource noKind(RecordingKind{});
    frame("a.jpg");
    EXPECT_EQ(noKind.openFolder(root(), 0), 0);
    // A failed open leaves no frames from an earlier one.
    ASSERT_EQ(jpeg.openFolder(root(), 0), 1);
    EXPECT_EQ(jpeg.openFolder((root_ / "missing").string(), 0), 0);
    EXPECT_EQ(jpeg.count(), 0);
}

TEST_F(FolderIndex, RaisedCancelFlagStopsTheScan) {
    for (int i = 1; i <= 50; ++i)
        frame("IMG00001/" + std::to_string(100000 + i) + ".jp2");
    std::atomic<bool> cancel{true};
    FolderImageSource source(kJp2Mp3, &cancel);
    EXPECT_EQ(source.openFolder(root(), 0), 0);
    EXPECT_EQ(source.count(), 0);
    cancel = false;
    EXPECT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(source.count(), 50);
}

TEST_F(FolderIndex, InfoCountOneLessThanFilesIsIgnored) {
    for (int i = 1; i <= 3; ++i)
        frame("IMG00001/00000" + std::to_string(i) + ".jp2");
    info({{100, 1, 2}, {200, 2, 2}});
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(source.count(), 3);
    EXPECT_FALSE(source.infoTable().loaded());
    EXPECT_FALSE(source.hasChannel(-1));
    EXPECT_EQ(source.defaultChannel(), -9);
    EXPECT_EQ(source.currentChannel(), -1);
    EXPECT_EQ(source.infoIndexOf(-1), -1);
    EXPECT_EQ(source.timeAt(0), 0);
    EXPECT_EQ(source.flagsAt(0), -1);
}

TEST_F(FolderIndex, HostileInfoCountsFallBackToTheFiles) {
    for (int i = 1; i <= 3; ++i)
        frame("IMG00001/00000" + std::to_string(i) + ".jp2");
    const std::vector<gen::InfoRecord> records = {{1, 1, 0}, {2, 2, 0}, {3, 3, 0}};
    for (std::int32_t count : {-3, INT_MAX, 0x40000000}) {
        SCOPED_TRACE(count);
        info(records, {}, &count);
        FolderImageSource source(kJp2Mp3);
        ASSERT_EQ(source.openFolder(root(), 0), 1);
        EXPECT_EQ(source.count(), 3);
        EXPECT_FALSE(source.hasChannel(-1));
    }
}

TEST_F(FolderIndex, InfoBuildsTheDefaultChannelsRecords) {
    for (int i = 1; i <= 5; ++i)
        frame("IMG00001/00000" + std::to_string(i) + ".jp2");
    std::array<std::string, 16> titles{};
    titles[4] = "Gate";
    titles[1] = "0123456789ABCDEFXYZ";
    info({{100, 1000, 4},
          {kMaxDvrSeconds, 1040, 1},
          {102, 1080, 4},
          {103, 1120, 1},
          {kMaxDvrSeconds - 1, 1160, 4}},
         titles);
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    ASSERT_TRUE(source.infoTable().loaded());
    EXPECT_EQ(source.defaultChannel(), 4);
    // Only the default channel's frames: table records 0, 2 and 4.
    ASSERT_EQ(source.count(), 3);
    EXPECT_EQ(names(source),
              (Names{"IMG00001/000001.jp2", "IMG00001/000003.jp2", "IMG00001/000005.jp2"}));
    EXPECT_EQ(source.infoIndexOf(2), 2);
    EXPECT_EQ(source.indexOfInfoIndex(4), 2);
    EXPECT_EQ(source.indexOfInfoIndex(1), 0);  // not in the array
    EXPECT_EQ(source.timeAt(0), dvrSecondsToTime(100));
    EXPECT_EQ(source.timeAt(2), dvrSecondsToTime(kMaxDvrSeconds - 1));
    EXPECT_EQ(source.flagsAt(2), -1);
    EXPECT_EQ(source.offsetAt(1), 1080u);
    EXPECT_EQ(source.cameraTitle(1), "Gate");
    // INFO is the last subfolder listed and holds no pictures: no current frame yet.
    EXPECT_EQ(source.currentIndex(), -1);
    source.first();
    EXPECT_EQ(source.currentChannel(), 4);
    EXPECT_EQ(source.infoIndexOf(-1), 0);
    EXPECT_TRUE(source.hasChannel(-1));
    EXPECT_TRUE(source.hasChannel(1));
    EXPECT_FALSE(source.hasChannel(0));
    EXPECT_EQ(source.firstFrameOf(1), 1);
    EXPECT_EQ(source.firstFrameOf(-1), 0);

    // A record time of 946,080,000 or more is no time: flags 3, time 0.
    ASSERT_EQ(source.selectChannels(1, 1, nullptr), 1);
    ASSERT_EQ(source.count(), 2);
    EXPECT_EQ(source.flagsAt(0), kTrailerCutInTime);
    EXPECT_EQ(source.timeAt(0), 0);
    EXPECT_EQ(source.timeAt(1), dvrSecondsToTime(103));
    EXPECT_EQ(source.cameraTitle(0), "0123456789ABCDEF");
    EXPECT_EQ(source.indexOfInfoIndex(3), 1);

    ASSERT_EQ(source.selectChannels(-1, 1, nullptr), 1);
    EXPECT_EQ(source.count(), 5);
}

TEST_F(FolderIndex, MultiPaneSelectionFillsTheDefaultChannelSet) {
    // Channels in order of first appearance: 9, 2, 14, 5.
    const std::uint8_t channels[] = {9, 2, 9, 14, 5, 2};
    std::vector<gen::InfoRecord> records;
    for (std::size_t i = 0; i < std::size(channels); ++i) {
        frame("IMG00001/00000" + std::to_string(i + 1) + ".jp2");
        records.push_back(
            {static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i), channels[i]});
    }
    info(records);
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    ASSERT_EQ(source.count(), 2);  // channel 9 alone

    struct Case {
        int n;
        std::array<int, 16> list;
        std::array<int, 16> filled;
        std::vector<int> infoIndices;
    };
    std::array<int, 16> empty;
    empty.fill(-9);
    // Next larger listed channel after each slot, wrapping round to the smallest.
    const std::array<int, 16> defaults = {9,  14, 2,  5,  -9, -9, -9, -9,
                                          -9, -9, -9, -9, -9, -9, -9, -9};
    std::array<int, 16> chosen = empty;
    chosen[0] = 5;
    chosen[1] = -9;
    chosen[2] = 14;
    chosen[4] = 2;  // beyond the first four slots: not shown in a 4-pane layout
    const Case cases[] = {
        {4, empty, defaults, {0, 1, 2, 3, 4, 5}},  {9, empty, defaults, {0, 1, 2, 3, 4, 5}},
        {16, empty, defaults, {0, 1, 2, 3, 4, 5}}, {4, chosen, chosen, {3, 4}},
        {9, chosen, chosen, {1, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        std::array<int, 16> list = c.list;
        ASSERT_EQ(source.selectChannels(-1, c.n, list.data()), 1);
        EXPECT_EQ(list, c.filled);
        std::vector<int> got;
        for (int i = 0; i < source.count(); ++i) {
            source.setCurrent(i);
            got.push_back(source.infoIndexOf(-1));
        }
        EXPECT_EQ(got, c.infoIndices);
    }

    // Layouts other than 1, 4, 9 and 16 panes, or no slot list, change nothing.
    std::array<int, 16> list = empty;
    const int before = source.count();
    EXPECT_EQ(source.selectChannels(-1, 3, list.data()), 0);
    EXPECT_EQ(source.selectChannels(-1, 4, nullptr), 0);
    EXPECT_EQ(source.count(), before);
}

TEST_F(FolderIndex, SelectionWithoutInfoKeepsTheFileIndex) {
    frame("a.jpg");
    frame("b.jpg");
    FolderImageSource source(kJpeg);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    std::array<int, 16> list;
    list.fill(-9);
    EXPECT_EQ(source.selectChannels(-1, 1, nullptr), 0);
    EXPECT_EQ(source.selectChannels(-1, 4, list.data()), 0);
    EXPECT_EQ(source.count(), 2);
    EXPECT_EQ(list[0], -9);
}

TEST_F(FolderIndex, ChannelsBeyondTheHeaderAreSafe) {
    const std::uint8_t channels[] = {200, 3, 16, 255};
    std::vector<gen::InfoRecord> records;
    for (std::size_t i = 0; i < std::size(channels); ++i) {
        frame("IMG00001/00000" + std::to_string(i + 1) + ".jp2");
        records.push_back({1, 1, channels[i]});
    }
    std::array<std::string, 16> titles{};
    titles[3] = "Yard";
    info(records, titles);
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(source.defaultChannel(), -56);  // 200 read as a signed byte
    ASSERT_EQ(source.count(), 1);
    EXPECT_EQ(source.cameraTitle(0), "");
    EXPECT_FALSE(source.hasChannel(-56));
    EXPECT_FALSE(source.hasChannel(16));
    EXPECT_TRUE(source.hasChannel(3));
    EXPECT_EQ(source.firstFrameOf(16), 0);
    EXPECT_EQ(source.firstFrameOf(-56), 0);
    std::array<int, 16> list;
    list.fill(-9);
    ASSERT_EQ(source.selectChannels(-1, 16, list.data()), 1);
    EXPECT_EQ(source.count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(source.cameraTitle(i), i == 1 ? "Yard" : "");
}

TEST_F(FolderIndex, NearestFrameOfAChannel) {
    const std::uint8_t channels[] = {1, 0, 2, 0, 2, 3};
    std::vector<gen::InfoRecord> records;
    for (std::size_t i = 0; i < std::size(channels); ++i) {
        frame("IMG00001/00000" + std::to_string(i + 1) + ".jp2");
        records.push_back({1, 1, channels[i]});
    }
    info(records);
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    struct Case {
        int channel, from, backward, forward;
    } cases[] = {
        {2, 3, 2, 4},  {2, 4, 4, 4},   {0, 4, 3, 3},
        {3, 1, 5, 5},  {7, 2, -1, -1}, {1, 3, 0, 0},  // record 0 is found in both directions
        {2, -5, 2, 2},  // a start outside the table is brought inside it
        {0, 99, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channel << " from " << c.from);
        EXPECT_EQ(source.nearestOfChannelBackward(c.channel, c.from), c.backward);
        EXPECT_EQ(source.nearestOfChannelForward(c.channel, c.from), c.forward);
    }
    FolderImageSource empty(kJp2Mp3);
    EXPECT_EQ(empty.nearestOfChannelBackward(0, 0), -1);
    EXPECT_EQ(empty.nearestOfChannelForward(0, 0), -1);
}

TEST_F(FolderIndex, OffsetOfFrameZeroIsNeverReadFromItsFile) {
    frame("a.jp2", 5000);
    frame("b.jp2", 5040);
    write("c.jp2", "xy");  // too short to hold an offset
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(source.offsetAt(0), 0u);
    EXPECT_EQ(source.offsetAt(1), 5040u);
    EXPECT_EQ(source.offsetAt(2), 0u);
    // The offset read stays with the frame even after the file changes.
    frame("b.jp2", 9999);
    EXPECT_EQ(source.offsetAt(1), 5040u);
}

TEST_F(FolderIndex, TimeTableOffsetsWinOverFiles) {
    frame("a.jp2", 5000);
    frame("b.jp2", 5040);
    frame("c.jp2", 5080);
    write("TIME.TXT", "100\n-1\n");
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    ASSERT_TRUE(source.timeTable().present());
    EXPECT_EQ(source.offsetAt(0), 100u);
    EXPECT_EQ(source.offsetAt(1), 0xFFFFFFFFu);
    EXPECT_EQ(source.offsetAt(2), 0u);  // beyond the table
}

TEST_F(FolderIndex, FindByOffset) {
    struct Case {
        const char* what;
        std::string timeTxt;
        std::uint32_t ms;
        int expected;
    } cases[] = {
        {"even spacing", "0\n100\n200\n300\n400\n", 250, 3},
        {"even spacing, before the second", "0\n100\n200\n300\n400\n", 0, 1},
        {"at an exact offset", "0\n100\n200\n300\n400\n", 300, 4},
        {"past the end", "0\n100\n200\n300\n400\n", 400, 0},
        {"far past the end", "0\n100\n200\n300\n400\n", 0xFFFFFFFFu, 0},
        {"estimate overshoots", "0\n900\n950\n960\n1000\n", 500, 1},
        {"span 0, later frames larger", "10\n10\n50\n60\n10\n", 20, 2},
        {"span 0, all equal", "7\n7\n7\n7\n7\n", 7, 0},
        {"running backwards", "400\n300\n200\n100\n0\n", 250, 0},
        {"offsets from 5000", "5000\n5100\n5200\n5300\n5400\n", 5250, 3},
        {"offsets from 5000, below the first", "5000\n5100\n5200\n5300\n5400\n", 2600, 0},
    };
    for (int i = 1; i <= 5; ++i)
        frame("IMG00001/00000" + std::to_string(i) + ".jp2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write("time.txt", c.timeTxt);
        FolderImageSource source(kJp2Mp3);
        ASSERT_EQ(source.openFolder(root(), 0), 1);
        EXPECT_EQ(source.findByOffset(c.ms), c.expected);
    }
    FolderImageSource empty(kJp2Mp3);
    EXPECT_EQ(empty.findByOffset(100), 0);
}

TEST_F(FolderIndex, FindByOffsetReadsOffsetsFromTheFiles) {
    for (int i = 0; i < 10; ++i) {
        frame("IMG00001/0000" + std::to_string(10 + i) + ".jp2",
              40u * static_cast<std::uint32_t>(i));
    }
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(source.findByOffset(130), 4);
    EXPECT_EQ(source.offsetAt(4), 160u);
}

TEST_F(FolderIndex, FindByOffsetReadsOnlyTheFramesItProbes) {
    // Offsets only in the frame files: playback searches between two frames, so no walk.
    for (int i = 0; i < 200; ++i)
        frame("IMG00001/" + std::to_string(1000 + i) + ".jp2", 5000u + 40u * i);
    FolderImageSource source(kJp2Mp3);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    EXPECT_EQ(source.findByOffset(5000 + 40 * 150 + 1), 151);
    // An offset read stays with its frame: rewritten files show which ones were read.
    for (int i = 0; i < 200; ++i)
        frame("IMG00001/" + std::to_string(1000 + i) + ".jp2", 1);
    int read = 0;
    for (int i = 1; i < 200; ++i)
        read += source.offsetAt(i) != 1u ? 1 : 0;
    EXPECT_LE(read, 8);  // one per halving of 200 frames
}

TEST_F(FolderIndex, IndicesOutOfRangeAreSafe) {
    frame("a.jpg", 1);
    frame("b.jpg", 2);
    write("INFO/I.INF", "short");
    FolderImageSource source(kJpeg);
    ASSERT_EQ(source.openFolder(root(), 0), 1);
    for (int i : {-1, 2, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(source.flagsAt(i), -1);
        EXPECT_EQ(source.timeAt(i), 0);
        EXPECT_EQ(source.offsetAt(i), 0u);
        EXPECT_EQ(source.pathAt(i), "");
        EXPECT_EQ(source.cameraTitle(i), "");
        source.setCurrent(i);
        EXPECT_EQ(source.currentIndex(), i);
        EXPECT_EQ(source.currentFlags(), -1);
        EXPECT_EQ(source.currentTime(), 0);
        EXPECT_EQ(source.currentChannel(), -1);
        EXPECT_EQ(source.infoIndexOf(-1), -1);
        std::size_t size = 123;
        EXPECT_FALSE(source.loadCurrent(&size, 1));
        EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(source.infoIndexOf(-7), -1);
    EXPECT_EQ(source.indexOfInfoIndex(INT_MIN), 0);
    EXPECT_EQ(source.firstFrameOf(INT_MAX), 0);

    // Navigation moves freely and saturates instead of overflowing.
    source.first();
    EXPECT_EQ(source.currentIndex(), 0);
    source.last();
    EXPECT_EQ(source.currentIndex(), 1);
    source.next();
    EXPECT_EQ(source.currentIndex(), 2);
    source.back(5);
    EXPECT_EQ(source.currentIndex(), -3);
    source.forward(INT_MAX);
    source.forward(INT_MAX);
    EXPECT_EQ(source.currentIndex(), INT_MAX);
    source.back(INT_MIN);
    EXPECT_EQ(source.currentIndex(), INT_MAX);
    source.setCurrent(INT_MIN);
    source.previous();
    EXPECT_EQ(source.currentIndex(), INT_MIN);

    FolderImageSource empty(kJpeg);
    empty.last();
    EXPECT_EQ(empty.currentIndex(), -1);
    EXPECT_EQ(empty.defaultChannel(), -9);
}

}  // namespace
// A recording's SHA256SUMS, beside the frames or in a frame folder, any spelling, is no frame, no
// sound and no index: the probe and the index are what they are without it.
TEST_F(FolderIndex, AManifestChangesNothingTheViewerOpens) {
    for (const bool flat : {true, false}) {
        SCOPED_TRACE(flat ? "flat" : "subfolders");
        test::fs::remove_all(root_);
        frame(flat ? "000001.jpg" : "IMG00001/000001.jpg");
        frame(flat ? "000002.jpg" : "IMG00001/000002.jpg", 100);
        if (!flat)
            write("sound.wav", "RIFF");
        RecordingProbe before;
        ASSERT_EQ(before.probe(root()), 1);
        FolderImageSource plain(before.kind());
        ASSERT_EQ(plain.openFolder(root(), flat ? 0 : 1), 1);
        const Names expected = names(plain);

        write("SHA256SUMS", std::string(64, 'a') + "  000001.jpg\n");
        write("IMG00001/sha256sums");
        RecordingProbe after;
        ASSERT_EQ(after.probe(root()), 1);
        EXPECT_EQ(after.kind(), before.kind());
        EXPECT_EQ(after.soundPath(), before.soundPath());
        FolderImageSource source(after.kind());
        ASSERT_EQ(source.openFolder(root(), flat ? 0 : 1), 1);
        EXPECT_EQ(names(source), expected);
        EXPECT_FALSE(source.timeTable().present());
        EXPECT_FALSE(source.infoTable().loaded());
        EXPECT_TRUE(source.unreadableParts().empty());
        EXPECT_EQ(source.offsetAt(1), 100u);
    }
}

}  // namespace korvex
