#include <thread>

#include "CacheFixture.h"
#include "control/download/CacheStore.h"
#include "control/download/J2kFrameCheck.h"

namespace picvox::test {
namespace {

TEST(SlotRingTest, StepsWrapAtTheEndsOfTheRing) {
    const struct {
        int n, next, prev;
    } cases[] = {{0, 1, -1}, {1, 2, 99}, {50, 51, 49}, {98, 99, 97}, {99, 1, 98}};
    for (const auto& c : cases) {
        EXPECT_EQ(NextSlot(c.n), c.next) << c.n;
        if (c.prev >= 0) {
            EXPECT_EQ(PrevSlot(c.n), c.prev) << c.n;
        }
    }
    EXPECT_EQ(PictureSlotPath("/c", 7), "/c/J2K2/07.jp2");
    EXPECT_EQ(StartTimePath("/c", 0), "/c/J2K2/00.txt");
    EXPECT_EQ(SoundSlotPath("/c", 42), "/c/WAVE2/42.wav");
}

using SlotScanTest = CacheFixture;

// Only names of exactly six characters take part; only two leading digits give a number.
TEST_F(SlotScanTest, SixCharacterNamesWithTwoDigitsGiveSlots) {
    const std::string j2k = PictureFolder(params_.cache.folder);
    pictureSlot(3, -5000);
    writeBytes(j2k + "/7a.jp2", {1});
    setTimeMs(j2k + "/7a.jp2", -1000);
    writeBytes(j2k + "/12.jpeg", {1});  // seven characters: never seen
    setTimeMs(j2k + "/12.jpeg", -2000);
    std::vector<int> seen;
    ScanSlotFolder(j2k, params_.cache.clock,
                   [&](int number, std::uint64_t) { seen.push_back(number); });
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<int>{-1, 3}));

    // 7a.jp2 is the newest before the time but gives no number.
    fs::remove(PictureSlotPath(params_.cache.folder, 3));
    EXPECT_EQ(NewestSlotBefore(params_.cache, SlotKind::Picture, ticksAt(0)), 0);
    pictureSlot(4, -3000);
    pictureSlot(5, -100);
    EXPECT_EQ(NewestSlotBefore(params_.cache, SlotKind::Picture, ticksAt(-2000)), 4);
}

TEST_F(SlotScanTest, LatestSlotFollowsTheLastWriteAcrossTheWrap) {
    EXPECT_EQ(LatestSlot(params_.cache, SlotKind::Sound), 0);
    soundSlot(98, 10, 0);
    soundSlot(1, 10, 300);  // same second, later: the ring has wrapped
    soundSlot(2, 10, 600);
    EXPECT_EQ(LatestSlot(params_.cache, SlotKind::Sound), 2);
    // Slot 99 is a newest slot like any other (the next one is 1): taken as none, it made the
    // oldest slot the current one.
    soundSlot(99, 10, 900);
    EXPECT_EQ(LatestSlot(params_.cache, SlotKind::Sound), 99);
}

// The rewrites of a cached picture keep its times, so it keeps its place in the ring.
TEST_F(SlotScanTest, TrailerRewritesKeepTheSlotOrder) {
    for (SlotClock clock : {SlotClock::ModificationTime, SlotClock::BirthTime}) {
        fs::remove(PictureSlotPath(params_.cache.folder, 1));
        fs::remove(PictureSlotPath(params_.cache.folder, 2));
        const std::string older = pictureSlot(1, -2000);
        if (clock == SlotClock::BirthTime) {
            // Birth times cannot be set; the newer file is created after a pause.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const std::string newer = pictureSlot(2, -1000);
        const std::uint64_t before = SlotTime(older, clock);
        ASSERT_NE(before, 0u);
        EXPECT_EQ(RewriteRelTime(older, 1234), 1);
        EXPECT_EQ(RewriteSetTime(older, 4321), 1);
        EXPECT_EQ(SlotTime(older, clock), before);
        EXPECT_LT(SlotTime(older, clock), SlotTime(newer, clock));
        std::uint32_t rel = 0;
        ASSERT_EQ(ReadRelTime(older, rel), 1);
        EXPECT_EQ(rel, 1234u);
    }
    EXPECT_EQ(SlotTime(PictureSlotPath(params_.cache.folder, 50), SlotClock::BirthTime), 0u);
}

TEST_F(SlotScanTest, StartTimeRecordsRoundTrip) {
    EXPECT_EQ(GetImgStartTime(params_.cache.folder, 5), 0);
    EXPECT_EQ(WriteStartTime(params_.cache.folder, 5, 1700000123), 1);
    EXPECT_EQ(GetImgStartTime(params_.cache.folder, 5), 1700000123);
    EXPECT_EQ(readBytes(StartTimePath(params_.cache.folder, 5)).size(), 4u);
}

using ReadIndexTest = CacheFixture;

// With 10 s of cache and 500 ms for the first picture, 10.4 s back is inside the window and
// 10.5 s back is not.
TEST_F(ReadIndexTest, PictureWindowIsCacheTimePlusFirstAdd) {
    CacheStore store(params_);
    store.saveState().firstAddMs = 500;
    pictureSlot(10, 0);
    pictureSlot(9, -10400);
    pictureSlot(8, -10500);
    soundSlot(1, 100, 0);  // sound read slot no earlier than the pictures
    EXPECT_EQ(store.GetCacheReadIndex(10, SlotKind::Picture, 1), 9);
    store.saveState().firstAddMs = 0;
    EXPECT_EQ(store.GetCacheReadIndex(10, SlotKind::Picture, 1), 10);
}

TEST_F(ReadIndexTest, SoundReadSlotIsOneWhenNothingIsInTheWindow) {
    CacheStore store(params_);
    EXPECT_EQ(store.GetCacheReadIndex(5, SlotKind::Sound), 1);
    soundSlot(5, 100, 0);
    soundSlot(4, 100, -9000);
    soundSlot(3, 100, -10000);
    EXPECT_EQ(store.GetCacheReadIndex(5, SlotKind::Sound), 4);
}

// A picture read slot later than the sound read slot moves back one slot, or to the black
// picture when there is no slot to move to.
TEST_F(ReadIndexTest, PictureLaterThanSoundStepsBack) {
    CacheStore store(params_);
    soundSlot(7, 100, -3000);
    pictureSlot(20, 0);
    pictureSlot(19, -2000);  // the oldest inside the window, yet later than the sound
    pictureSlot(18, -12000);
    EXPECT_EQ(store.GetCacheReadIndex(20, SlotKind::Picture, 7), 18);
    fs::remove(PictureSlotPath(params_.cache.folder, 18));
    EXPECT_EQ(store.GetCacheReadIndex(20, SlotKind::Picture, 7), 0);
}

}  // namespace
}  // namespace picvox::test
