#include "control/buffers/AudioRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace picvox {
namespace {

std::vector<std::uint8_t> sequence(std::size_t n, std::uint8_t start = 0) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

TEST(AudioRingTest, ControlSizedRingHoldsOneByteLessThanItsSize) {
    AudioRing ring;
    ASSERT_TRUE(ring.Allocate(AudioRing::kControlSize));
    std::vector<std::uint8_t> data(AudioRing::kControlSize, 0x5A);
    EXPECT_FALSE(ring.Put(data.data(), AudioRing::kControlSize));
    EXPECT_EQ(ring.DataSize(), 0u);
    EXPECT_TRUE(ring.Put(data.data(), AudioRing::kControlSize - 1));
    EXPECT_EQ(ring.DataSize(), AudioRing::kControlSize - 1);
    EXPECT_FALSE(ring.Put(data.data(), 1));
}

TEST(AudioRingTest, GetOfMoreThanHeldCopiesNothing) {
    AudioRing ring;
    ASSERT_TRUE(ring.Allocate(16));
    auto in = sequence(5, 1);
    ASSERT_TRUE(ring.Put(in.data(), in.size()));
    std::vector<std::uint8_t> out(6, 0xEE);
    EXPECT_FALSE(ring.Get(out.data(), 6));
    EXPECT_EQ(out, std::vector<std::uint8_t>(6, 0xEE));
    EXPECT_EQ(ring.DataSize(), 5u);
    EXPECT_TRUE(ring.Get(out.data(), 5));
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
}

// Every write and read position of a small ring, so each call crosses the wrap once.
TEST(AudioRingTest, DataSurvivesTheWrapAtEveryPosition) {
    constexpr std::size_t kSize = 8;
    for (std::size_t offset = 0; offset < kSize; ++offset) {
        for (std::size_t len = 1; len < kSize; ++len) {
            AudioRing ring;
            ASSERT_TRUE(ring.Allocate(kSize));
            std::vector<std::uint8_t> skip(offset == 0 ? 1 : offset);
            if (offset) {
                ASSERT_TRUE(ring.Put(skip.data(), offset));
                ASSERT_TRUE(ring.Get(skip.data(), offset));
            }
            auto in = sequence(len, static_cast<std::uint8_t>(10 * offset));
            ASSERT_TRUE(ring.Put(in.data(), len)) << offset << " " << len;
            EXPECT_EQ(ring.DataSize(), len);
            std::vector<std::uint8_t> full(kSize);
            EXPECT_FALSE(ring.Put(full.data(), kSize - len));  // free is kSize - len: not enough
            std::vector<std::uint8_t> out(len);
            ASSERT_TRUE(ring.Get(out.data(), len));
            EXPECT_EQ(out, in) << offset << " " << len;
        }
    }
}

TEST(AudioRingTest, WithoutStorageNothingMoves) {
    AudioRing ring;
    std::uint8_t b[4] = {};
    EXPECT_FALSE(ring.Put(b, 1));
    EXPECT_FALSE(ring.Get(b, 0));
    EXPECT_EQ(ring.DataSize(), 0u);
    EXPECT_FALSE(ring.Allocate(0));

    ASSERT_TRUE(ring.Allocate(8));
    ASSERT_TRUE(ring.Put(b, 3));
    ring.Release();
    EXPECT_FALSE(ring.allocated());
    EXPECT_EQ(ring.DataSize(), 0u);
    EXPECT_FALSE(ring.Put(b, 1));
    ASSERT_TRUE(ring.Allocate(8));
    EXPECT_EQ(ring.DataSize(), 0u);
    EXPECT_TRUE(ring.Put(b, 4));
}

// The download thread puts segments of varying size while the feeder takes seconds out; every
// byte arrives once and in order.
TEST(AudioRingTest, ConcurrentPutAndGetKeepTheByteStream) {
    AudioRing ring;
    ASSERT_TRUE(ring.Allocate(4096));
    constexpr std::size_t kTotal = 2 * 1024 * 1024;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::atomic<bool> failed{false};

    std::thread producer([&] {
        std::mt19937 rng(1);
        std::vector<std::uint8_t> chunk;
        std::size_t sent = 0;
        while (sent < kTotal && !failed) {
            std::size_t len = std::min<std::size_t>(1 + rng() % 1500, kTotal - sent);
            chunk.resize(len);
            for (std::size_t i = 0; i < len; ++i)
                chunk[i] = static_cast<std::uint8_t>(sent + i);
            while (!ring.Put(chunk.data(), len)) {
                if (std::chrono::steady_clock::now() > deadline) {
                    failed = true;
                    return;
                }
                std::this_thread::yield();
            }
            sent += len;
        }
    });
    std::mt19937 rng(2);
    std::vector<std::uint8_t> chunk;
    std::size_t received = 0;
    bool inOrder = true;
    while (received < kTotal && !failed) {
        std::size_t len = std::min<std::size_t>(1 + rng() % 1200, kTotal - received);
        chunk.resize(len);
        if (!ring.Get(chunk.data(), len)) {
            if (std::chrono::steady_clock::now() > deadline)
                failed = true;
            std::this_thread::yield();
            continue;
        }
        for (std::size_t i = 0; i < len && inOrder; ++i) {
            inOrder = chunk[i] == static_cast<std::uint8_t>(received + i);
        }
        received += len;
    }
    producer.join();
    EXPECT_FALSE(failed);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(ring.DataSize(), 0u);
}

}  // namespace
}  // namespace picvox
