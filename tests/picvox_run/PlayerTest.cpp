#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "RunTestSupport.h"
#include "control/buffers/PicvoxLog.h"
#include "control/run/DxsPlayer.h"
#include "control/run/SoundPlayLoop.h"
#include "platform/Worker.h"

namespace picvox {
namespace {

using platform::Event;
using platform::WaveFormat;
using runtest::FakeBuffer;
using runtest::ScopedEnv;

const WaveFormat k8k = WaveFormat::pcm(8000, 1, 8);

// A player over a fake buffer, wired as DXSInit wires a real one.
std::unique_ptr<DxsPlayer> fakePlayer(FakeBuffer** fake, const WaveFormat& format = k8k) {
    auto player = std::make_unique<DxsPlayer>();
    auto buffer = std::make_unique<FakeBuffer>(2 * format.avgBytesPerSec);
    *fake = buffer.get();
    player->halfSize = format.avgBytesPerSec;
    player->silence = format.silenceByte();
    const platform::PositionNotify positions[] = {
        {0, &player->halfStartEvent},
        {player->halfSize, &player->halfMidEvent},
        {platform::PositionNotify::kOffsetStop, &player->stopPosEvent}};
    buffer->SetNotificationPositions(positions, 3);
    player->secondary = std::move(buffer);
    return player;
}

void fillRing(AudioRing& ring, std::size_t bytes, std::uint8_t value = 0x40) {
    if (!ring.allocated())
        ASSERT_TRUE(ring.Allocate(AudioRing::kControlSize));
    std::vector<std::uint8_t> data(bytes, value);
    ASSERT_TRUE(ring.Put(data.data(), data.size()));
}

TEST(FillHalf, CopiesOneSecondOrWritesSilence) {
    struct Case {
        const char* name;
        std::size_t held;
        int half;
        bool full;
        std::uint8_t expect;  // every byte of the half afterwards
        std::size_t left;
    } cases[] = {
        {"exactly one second", 8000, 0, true, 0x40, 0},
        {"two seconds, second half", 16000, 1, true, 0x40, 8000},
        {"one byte short", 7999, 0, false, 0x80, 7999},
        {"empty", 0, 1, false, 0x80, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBuffer* fake = nullptr;
        auto player = fakePlayer(&fake);
        std::fill(fake->data.begin(), fake->data.end(), 0x11);
        AudioRing ring;
        fillRing(ring, c.held);
        DxsPlayThreadParams params;
        params.player = player.get();
        params.ring = &ring;
        EXPECT_EQ(FillHalf(c.half, params), c.full);
        EXPECT_EQ(ring.DataSize(), c.left);
        const auto begin = fake->data.begin() + c.half * 8000;
        EXPECT_EQ(std::vector<std::uint8_t>(begin, begin + 8000),
                  std::vector<std::uint8_t>(8000, c.expect));
        const auto other = fake->data.begin() + (1 - c.half) * 8000;
        EXPECT_EQ(std::vector<std::uint8_t>(other, other + 8000),
                  std::vector<std::uint8_t>(8000, 0x11))
            << "the other half was touched";
    }
    // 16-bit silence is zero; a failed lock copies nothing.
    FakeBuffer* fake = nullptr;
    auto player = fakePlayer(&fake, WaveFormat::pcm(8000, 1, 16));
    AudioRing ring;
    fillRing(ring, 100);
    DxsPlayThreadParams params{false, player.get(), &ring};
    std::fill(fake->data.begin(), fake->data.end(), 0x11);
    EXPECT_FALSE(FillHalf(0, params));
    EXPECT_EQ(fake->data[0], 0x00);
    fake->lockResult = platform::kSoundGeneric;
    EXPECT_FALSE(FillHalf(1, params));
    EXPECT_EQ(fake->data[16000], 0x11);
    EXPECT_EQ(ring.DataSize(), 100u);
}

TEST(CorrectFrequency, LevelAndTrendRulesWithinTheLimits) {
    struct Case {
        const char* name;
        WaveFormat format;
        std::uint32_t cur;
        int heldMs;  // of a 4 s cache
        int prevPct;
        int savedDiff;
        std::uint32_t expectHz;
        int expectSavedDiff;
    } cases[] = {
        {"low fill, small trend", k8k, 8000, 2400, 62, 0, 7920, 80},
        {"low fill, falling", k8k, 8000, 2400, 80, 0, 7840, 160},
        {"high fill, rising, clamped", k8k, 8150, 5600, 120, 0, 8200, -50},
        {"at the top limit", k8k, 8200, 5600, 135, 0, 8200, 0},
        {"in band, no trend", k8k, 8000, 4000, 90, 0, 8000, 0},
        {"in band, rising", k8k, 8000, 4000, 80, 0, 8080, -80},
        {"bottom limit", k8k, 7450, 1000, 40, 0, 7400, 50},
        {"settles back", k8k, 7920, 4000, 95, 80, 8000, 0},
        {"settles back down", k8k, 8080, 4000, 95, -80, 8000, 0},
        {"16 kHz stream keeps its rate band", WaveFormat::pcm(16000, 1, 8), 16000, 4000, 80, 0,
         16160, -160},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBuffer* fake = nullptr;
        auto player = fakePlayer(&fake, c.format);
        fake->hz = c.cur;
        AudioRing ring;
        fillRing(ring, static_cast<std::size_t>(c.heldMs) * c.format.avgBytesPerSec / 1000);
        int savedDiff = c.savedDiff;
        int prevPct = c.prevPct;
        CorrectFrequency(ring, c.format, 4000, savedDiff, prevPct, *player);
        EXPECT_EQ(fake->hz, c.expectHz);
        EXPECT_EQ(savedDiff, c.expectSavedDiff);
        EXPECT_EQ(prevPct, FillPercent(ring, c.format, 4000));
    }
    // A frequency that cannot be read skips the correction and keeps the previous percent.
    FakeBuffer* fake = nullptr;
    auto player = fakePlayer(&fake);
    fake->getFrequencyResult = platform::kSoundGeneric;
    AudioRing ring;
    fillRing(ring, 1000);
    int savedDiff = 0;
    int prevPct = 77;
    CorrectFrequency(ring, k8k, 4000, savedDiff, prevPct, *player);
    EXPECT_EQ(prevPct, 77);
    EXPECT_EQ(fake->frequencySets, 0);
}

TEST(FillPercent, SecondsHeldAgainstTheCacheTime) {
    AudioRing ring;
    fillRing(ring, 19200);
    EXPECT_EQ(FillPercent(ring, k8k, 4000), 60);
    fillRing(ring, 25600);
    EXPECT_EQ(FillPercent(ring, k8k, 4000), 140);
    EXPECT_EQ(FillPercent(ring, WaveFormat{}, 4000), 0);
    EXPECT_EQ(FillPercent(ring, k8k, 0), 0);
    EXPECT_GT(FillPercent(ring, k8k, 1), 0);
}

// The recorder's clock running fast or slow: corrections every 2 s of a 2 s cache must bring the
// fill back into 70..130 % and the frequency near the recorder's rate.
TEST(CorrectFrequency, FollowsARecorderClockOffBySomePerCent) {
    for (double source : {8160.0, 7840.0, 8000.0, 8080.0}) {
        SCOPED_TRACE(source);
        FakeBuffer* fake = nullptr;
        auto player = fakePlayer(&fake);
        AudioRing ring;
        ASSERT_TRUE(ring.Allocate(AudioRing::kControlSize));
        std::vector<std::uint8_t> chunk(20000, 0x80);
        double held = 16000;  // start at 100 %
        int savedDiff = 0;
        int prevPct = 100;
        int minPct = 1000;
        int maxPct = 0;
        for (int second = 1; second <= 600; ++second) {
            held += source - fake->hz;
            held = std::max(held, 0.0);
            ring.Release();
            ASSERT_TRUE(ring.Allocate(AudioRing::kControlSize));
            ASSERT_TRUE(ring.Put(chunk.data(), static_cast<std::size_t>(held)));
            if (second % 2 == 0)
                CorrectFrequency(ring, k8k, 2000, savedDiff, prevPct, *player);
            if (second > 300) {
                minPct = std::min(minPct, FillPercent(ring, k8k, 2000));
                maxPct = std::max(maxPct, FillPercent(ring, k8k, 2000));
            }
        }
        EXPECT_GE(minPct, 60);
        EXPECT_LE(maxPct, 140);
        EXPECT_NEAR(static_cast<double>(fake->hz), source, source * 0.015);
    }
}

// The feeder's states and the end it must reach from each; the owner's order ends every wait.
TEST(DXSPlayThread, EndsOnForcedEndFromEveryState) {
    struct Case {
        const char* name;
        std::size_t ringBytes;
        bool stopNotifies;
        platform::SoundResult playResult;
        bool fireStart;  // the cursor passes offset 0 after playing starts
        bool orderEnd;   // the owner orders the end
        bool expectEmpty;
        int expectOneSecond;
        const char* expectLog;  // a line that must be in the log, or null
    } cases[] = {
        {"playing, waiting for the cursor", 24000, true, platform::kSoundOk, false, true, false, 0,
         "DXSPlayThread DXS 強制終了イベント受信"},
        {"one second refilled, then the end", 24000, true, platform::kSoundOk, true, true, false, 1,
         "DXSPlayThread DXS ストップイベント受信"},
        {"a buffer that never reports its stop", 24000, false, platform::kSoundOk, false, true,
         false, 0, "DXSPlayThread　終了"},
        {"dry, stop never reported", 8000, false, platform::kSoundOk, true, true, true, 0,
         "DXSPlayThread DXS バッファ空イベント発生 or エラー発生"},
        {"dry, on its own", 8000, true, platform::kSoundOk, true, false, true, 0,
         "DXSPlayThread DXS リングバッファデータ1不足"},
        {"no first second", 100, true, platform::kSoundOk, false, false, true, 0,
         "DXSPlayThread 初期データコピー失敗"},
        {"play refused, buffer lost", 24000, true, platform::kSoundBufferLost, false, false, true,
         0, "DXSPlayThread : DSERR_BUFFERLOST"},
        {"play refused, bad parameter", 24000, true, platform::kSoundInvalidParam, false, false,
         true, 0, "DXSPlayThread : DSERR_INVALIDPARAM"},
    };
    runtest::TempDir logDir("dxs-feeder-log");
    std::ofstream(logDir.path() / "Picvox.ini") << "on";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(logDir.path() / "Picvox_log.log");
        ConfigureLog(logDir.path().string());
        FakeBuffer* fake = nullptr;
        auto player = fakePlayer(&fake);
        fake->stopNotifies = c.stopNotifies;
        fake->playResult = c.playResult;
        AudioRing ring;
        fillRing(ring, c.ringBytes);
        Event oneSecond(Event::Reset::Auto);
        Event empty(Event::Reset::Auto);
        platform::Worker feeder;
        DxsPlayThreadParams params{false,  player.get(),        &ring,  &oneSecond,
                                   &empty, &feeder.stopEvent(), nullptr};
        ASSERT_TRUE(feeder.start([&](Event&) { DXSPlayThread(params); }));
        if (c.playResult == platform::kSoundOk && c.ringBytes >= 8000)
            ASSERT_TRUE(runtest::waitUntil([&] {
                std::lock_guard<std::mutex> g(fake->m);
                return fake->playing;
            }));
        int oneSeconds = 0;
        if (c.fireStart) {
            fake->fire(0);
            if (c.ringBytes >= 16000) {
                ASSERT_TRUE(oneSecond.wait(5000));
                ++oneSeconds;
            }
        }
        if (c.orderEnd) {
            feeder.orderStop();
        }
        ASSERT_TRUE(feeder.waitEnded(10000)) << "the feeder did not end";
        feeder.stop();
        EXPECT_EQ(empty.isSet(), c.expectEmpty);
        EXPECT_EQ(oneSeconds, c.expectOneSecond);
        EXPECT_EQ(player->forcedEndEvent, &feeder.stopEvent());
        std::ifstream log(logDir.path() / "Picvox_log.log");
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        EXPECT_NE(text.find(c.expectLog), std::string::npos) << text;
        EXPECT_NE(text.find("DXSManip    DXSPlayThread　終了"), std::string::npos);
    }
    ResetLog();
}

class SoundPlayLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        player_ = DXSInit(k8k, 0);
        ASSERT_TRUE(player_);
        ASSERT_TRUE(ring_.Allocate(AudioRing::kControlSize));
        in_.ring = &ring_;
        in_.format = k8k;
        in_.cacheTimeMs = 2000;
        in_.player = player_.get();
        in_.frameQueue = &queue_;
        in_.endOrder = &endOrder_;
        in_.soundPlaying = &soundPlaying_;
        in_.downloadResult = &result_;
        in_.setAnimationState = [this](int s) { animation_ = s; };
        in_.now = [] { return std::int64_t{1000000}; };
    }
    void TearDown() override { ReleaseDxsPlayer(player_); }

    ScopedEnv driver_{"SDL_AUDIODRIVER", "dummy"};
    std::unique_ptr<DxsPlayer> player_;
    AudioRing ring_;
    std::mutex controlLock_;
    FrameQueue queue_{10, nullptr, controlLock_};
    Event endOrder_{Event::Reset::Manual};
    std::atomic<int> soundPlaying_{0};
    std::atomic<int> result_{0};
    std::atomic<int> animation_{-1};
    SoundLoopInput in_;
};

TEST_F(SoundPlayLoopTest, RingRunningDryEndsTheLoopAndFailsASave) {
    // With a second and a half the first refill already finds the ring short; with two and a
    // half one second plays (and shows its picture) before that.
    struct Case {
        int hddSave;
        int resultBefore;
        std::size_t held;
        int expectResult;
        bool expectPicture;
    } cases[] = {
        {1, 0, 20000, kSoundRanDryResult, true}, {0, 0, 12000, 0, false}, {1, 2, 12000, 2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hddSave * 10 + c.resultBefore);
        in_.hddSave = c.hddSave;
        result_ = c.resultBefore;
        animation_ = -1;
        fillRing(ring_, c.held);
        ASSERT_TRUE(queue_.Push(platform::GlobalBlock::allocate(64), 1, 1000000 - 10));
        EXPECT_EQ(SoundPlayLoop(in_), 0);
        EXPECT_EQ(result_.load(), c.expectResult);
        EXPECT_EQ(soundPlaying_.load(), 0);
        // A refilled second shows the picture whose time has come.
        EXPECT_EQ(animation_.load(), c.expectPicture ? 0 : -1);
        EXPECT_EQ(queue_.currentIndex(), c.expectPicture ? 1 : 0);
        // The dry half took nothing: the rest stays for the next pass.
        EXPECT_EQ(ring_.DataSize(), 4000u);
        ring_.Release();
        ASSERT_TRUE(ring_.Allocate(AudioRing::kControlSize));
        queue_.Clear();
    }
}

TEST_F(SoundPlayLoopTest, EndOrderAndWriterEndStopThePlayingLoop) {
    for (bool byWriter : {false, true}) {
        SCOPED_TRACE(byWriter);
        Event writerEnded(Event::Reset::Auto);
        in_.writerEnded = byWriter ? &writerEnded : nullptr;
        in_.hddSave = 1;
        result_ = 0;
        endOrder_.reset();
        fillRing(ring_, 80000);
        std::thread owner([&] {
            runtest::waitUntil([&] { return soundPlaying_.load() == 1; });
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            (byWriter ? writerEnded : endOrder_).set();
        });
        EXPECT_EQ(SoundPlayLoop(in_), 0);
        owner.join();
        EXPECT_EQ(result_.load(), 0);
        EXPECT_EQ(soundPlaying_.load(), 0);
        EXPECT_GT(ring_.DataSize(), 0u);
        ring_.Release();
        ASSERT_TRUE(ring_.Allocate(AudioRing::kControlSize));
    }
}

TEST_F(SoundPlayLoopTest, WithoutAPlayerNothingStartsAndNothingHangs) {
    in_.player = nullptr;
    in_.hddSave = 1;
    fillRing(ring_, 16000);
    EXPECT_EQ(SoundPlayLoop(in_), 0);
    EXPECT_EQ(result_.load(), 0);
    EXPECT_EQ(ring_.DataSize(), 16000u);
    // An end already ordered cuts the wait for the queued sound short.
    Event soundQueued(Event::Reset::Auto);
    in_.soundQueued = &soundQueued;
    in_.player = player_.get();
    endOrder_.set();
    EXPECT_EQ(SoundPlayLoop(in_), 0);
    EXPECT_EQ(soundPlaying_.load(), 0);
}

}  // namespace
}  // namespace picvox
