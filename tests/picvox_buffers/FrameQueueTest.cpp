#include "control/buffers/FrameQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace picvox {
namespace {

class CountingRepaint : public RepaintTarget {
public:
    void invalidateWindow() override { ++count; }
    std::atomic<int> count{0};
};

// A small picture block whose first byte tells which one it is.
platform::GlobalBlock marked(std::uint8_t mark) {
    auto block = platform::GlobalBlock::allocate(64);
    block.data()[0] = mark;
    return block;
}

int currentMark(const FrameQueue& q) {
    int mark = -1;
    q.withCurrentPicture(
        [&](const platform::GlobalBlock& b, std::int32_t, std::int64_t) { mark = b.data()[0]; });
    return mark;
}

struct CapacityCase {
    std::int32_t cacheTimeMs;
    int capacity;
};

TEST(FrameQueueTest, CapacityFollowsWholeSecondsOfCacheTime) {
    const CapacityCase cases[] = {
        {0, 10},      {1, 0},       {999, 0},      {1000, 20},        {5000, 100}, {5999, 100},
        {30000, 600}, {30999, 600}, {100000, 600}, {2147483647, 600}, {-5000, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(FrameQueue::capacityFor(c.cacheTimeMs), c.capacity) << c.cacheTimeMs;
    }
}

TEST(FrameQueueTest, PushRefusesWhenFullAndKeepsNothing) {
    std::mutex lock;
    FrameQueue q(FrameQueue::capacityFor(0), nullptr, lock);
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(q.Push(marked(i), i, 100 + i));
    EXPECT_FALSE(q.Push(marked(10), 10, 110));
    EXPECT_EQ(q.size(), 10u);
}

TEST(FrameQueueTest, ShowAtPicksTheNewestDueEntryAndDropsOlderOnes) {
    std::mutex lock;
    CountingRepaint repaint;
    FrameQueue q(10, &repaint, lock);
    q.Push(marked(1), 1, 100);
    q.Push(marked(2), 2, 101);
    q.Push(marked(3), 3, 102);

    EXPECT_FALSE(q.ShowAt(99));  // every entry is later
    EXPECT_EQ(q.size(), 3u);
    EXPECT_EQ(repaint.count, 0);
    EXPECT_EQ(currentMark(q), -1);

    EXPECT_TRUE(q.ShowAt(101));
    EXPECT_EQ(currentMark(q), 2);
    EXPECT_EQ(q.currentIndex(), 2);
    EXPECT_EQ(q.size(), 2u);  // the current picture stays as entry 0
    EXPECT_EQ(repaint.count, 1);

    EXPECT_TRUE(q.ShowAt(101));  // same time as the current picture: no repaint
    EXPECT_TRUE(q.ShowAt(0));
    EXPECT_EQ(repaint.count, 1);
    EXPECT_EQ(q.size(), 2u);

    EXPECT_TRUE(q.ShowAt(5000));
    EXPECT_EQ(currentMark(q), 3);
    EXPECT_EQ(q.size(), 1u);
    EXPECT_EQ(repaint.count, 2);
}

TEST(FrameQueueTest, ShowAtZeroOnEmptyQueueFindsNothing) {
    std::mutex lock;
    FrameQueue q(10, nullptr, lock);
    EXPECT_FALSE(q.ShowAt(0));
    EXPECT_FALSE(q.ShowFirst());
}

TEST(FrameQueueTest, FirstPictureWithTimeZeroIsShown) {
    std::mutex lock;
    CountingRepaint repaint;
    FrameQueue q(10, &repaint, lock);
    q.Push(marked(7), 0, 0);  // the black picture of slot 0 carries no start time
    EXPECT_TRUE(q.ShowAt(0));
    EXPECT_EQ(currentMark(q), 7);
    EXPECT_EQ(repaint.count, 1);
}

TEST(FrameQueueTest, ReplaceKeepsTheShownPictureAliveUntilShowFirst) {
    std::mutex lock;
    CountingRepaint repaint;
    FrameQueue q(FrameQueue::capacityFor(999), &repaint, lock);  // capacity 0
    EXPECT_FALSE(q.Push(marked(1), 1, 100));
    EXPECT_TRUE(q.Replace(marked(1), 1, 100));
    EXPECT_TRUE(q.ShowFirst());
    EXPECT_EQ(currentMark(q), 1);

    EXPECT_TRUE(q.Replace(marked(2), 2, 101));
    EXPECT_EQ(q.size(), 1u);
    EXPECT_EQ(currentMark(q), 1);  // painting in between still reads a live block
    EXPECT_TRUE(q.ShowFirst());
    EXPECT_EQ(currentMark(q), 2);
    EXPECT_EQ(repaint.count, 2);
}

TEST(FrameQueueTest, ClearDropsEverythingAndTheQueueStaysUsable) {
    std::mutex lock;
    FrameQueue q(10, nullptr, lock);
    q.Push(marked(1), 1, 100);
    q.ShowAt(0);
    q.Clear();
    EXPECT_EQ(q.size(), 0u);
    EXPECT_EQ(currentMark(q), -1);
    EXPECT_EQ(q.currentTime(), 0);
    EXPECT_TRUE(q.Push(marked(2), 2, 200));
}

// The download thread pushes, the sound loop shows and the page paints at the same time.
TEST(FrameQueueTest, ConcurrentPushShowAndPaint) {
    std::mutex lock;
    CountingRepaint repaint;
    FrameQueue q(20, &repaint, lock);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 1; i <= 2000; ++i) {
            while (!q.Push(marked(static_cast<std::uint8_t>(i)), i, i) && !done) {
                std::this_thread::yield();
            }
        }
        done = true;
    });
    std::thread painter([&] {
        while (!done) {
            currentMark(q);
            std::this_thread::yield();
        }
    });
    for (std::int64_t t = 0; !done; t += 7) {
        q.ShowAt(t % 2 ? t : 0);
        std::this_thread::yield();
    }
    producer.join();
    painter.join();
    EXPECT_TRUE(q.ShowAt(2000));
    EXPECT_EQ(q.currentIndex(), 2000);
}

}  // namespace
}  // namespace picvox
