#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
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
    if (!ring.allocated()) {
        ASSERT_TRUE(ring.Allocate(AudioRing::kControlSize));
    }
    std::vector<std::uint8_t> data(bytes, value);
    ASSERT_TRUE(ring.Put(data.data(), data.size()));
}

TEST(FillHalf, CopiesOneSecondOrWritesSilence) {
    const WaveFormat k16 = WaveFormat::pcm(4000, 1, 16);  // 8000 bytes a second as well
    struct Case {
        WaveFormat format;
        std::size_t held;
        int half;
        platform::SoundResult lock;
        bool full;
        std::uint8_t expect;  // every byte of the half afterwards
        std::size_t left;
    } cases[] = {
        {k8k, 8000, 0, platform::kSoundOk, true, 0x40, 0},
        {k8k, 16000, 1, platform::kSoundOk, true, 0x40, 8000},
        {k8k, 7999, 0, platform::kSoundOk, false, 0x80, 7999},  // 8-bit silence
        {k16, 0, 1, platform::kSoundOk, false, 0x00, 0},
        {k8k, 9000, 1, platform::kSoundGeneric, false, 0x11, 9000},  // lock refused
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held);
        FakeBuffer* fake = nullptr;
        auto player = fakePlayer(&fake, c.format);
        std::fill(fake->data.begin(), fake->data.end(), 0x11);
        fake->lockResult = c.lock;
        AudioRing ring;
        fillRing(ring, c.held);
        DxsPlayThreadParams params{false, player.get(), &ring};
        EXPECT_EQ(FillHalf(c.half, params), c.full);
        EXPECT_EQ(ring.DataSize(), c.left);
        for (int half : {0, 1}) {
            const auto at = fake->data.begin() + half * 8000;
            EXPECT_EQ(std::vector<std::uint8_t>(at, at + 8000),
                      std::vector<std::uint8_t>(8000, half == c.half ? c.expect : 0x11));
        }
    }
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
        {"low fill (60 %), small trend", k8k, 8000, 2400, 62, 0, 7920, 80},
        {"low fill, falling", k8k, 8000, 2400, 80, 0, 7840, 160},
        {"high fill (140 %), rising, clamped", k8k, 8150, 5600, 120, 0, 8200, -50},
        {"at the top limit", k8k, 8200, 5600, 135, 0, 8200, 0},
        {"in band, no trend", k8k, 8000, 4000, 90, 0, 8000, 0},
        {"in band, rising", k8k, 8000, 4000, 80, 0, 8080, -80},
        {"bottom limit", k8k, 7450, 1000, 40, 0, 7400, 50},
        {"settles back", k8k, 7920, 4000, 95, 80, 8000, 0},
        {"settles back down", k8k, 8080, 4000, 95, -80, 8000, 0},
        // Out of band the level and trend rules may cancel out: that is no settling, the last
        // correction stays (at 700 % the fill is not back where it belongs).
        {"far above the band, falling", k8k, 8080, 28000, 720, -80, 8080, -80},
        {"below the band, rising", k8k, 7920, 1600, 20, 80, 7920, 80},
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
    EXPECT_EQ(FillPercent(ring, k8k, 0), 0);
    EXPECT_EQ(FillPercent(ring, WaveFormat{}, 4000), 0);
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
        std::vector<std::uint8_t> chunk(100000, 0x80);
        double held = 16000;  // start at 100 %
        int savedDiff = 0;
        int prevPct = 100;
        int minPct = 1000;
        int maxPct = 0;
        for (int second = 1; second <= 600; ++second) {
            held += source - fake->hz;
            held = std::clamp(held, 0.0, double(chunk.size()));
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
    using platform::kSoundOk;
    struct Case {
        std::size_t ringBytes;
        bool stopNotifies;
        platform::SoundResult playResult;
        bool fireStart;  // the cursor passes offset 0 once playing
        bool orderEnd;   // the owner orders the end
        bool expectEmpty;
        const char* expectLog;
    } cases[] = {
        {24000, true, kSoundOk, false, true, false, "DXS 強制終了イベント受信"},
        {24000, true, kSoundOk, true, true, false, "DXS ストップイベント受信"},
        {24000, false, kSoundOk, false, true, false, "DXSPlayThread　終了"},  // stop never reported
        {8000, false, kSoundOk, true, true, true, "DXS バッファ空イベント発生 or エラー発生"},
        {8000, true, kSoundOk, true, false, true, "DXS リングバッファデータ1不足"},
        {100, true, kSoundOk, false, false, true, "DXSPlayThread 初期データコピー失敗"},
        {24000, true, platform::kSoundBufferLost, false, false, true, ": DSERR_BUFFERLOST"},
        {24000, true, platform::kSoundInvalidParam, false, false, true, ": DSERR_INVALIDPARAM"},
    };
    const auto dir =
        std::filesystem::temp_directory_path() / ("feeder-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "Picvox.ini") << "on";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expectLog);
        std::filesystem::remove(dir / "Picvox_log.log");
        ConfigureLog(dir.string());
        FakeBuffer* fake = nullptr;
        auto player = fakePlayer(&fake);
        fake->stopNotifies = c.stopNotifies;
        fake->playResult = c.playResult;
        AudioRing ring;
        fillRing(ring, c.ringBytes);
        Event oneSecond(Event::Reset::Auto), empty(Event::Reset::Auto);
        platform::Worker feeder;
        DxsPlayThreadParams params{false,  player.get(),        &ring,  &oneSecond,
                                   &empty, &feeder.stopEvent(), nullptr};
        ASSERT_TRUE(feeder.start([&](Event&) { DXSPlayThread(params); }));
        if (c.playResult == kSoundOk && c.ringBytes >= 8000) {
            ASSERT_TRUE(runtest::waitUntil([&] { return fake->isPlaying(); }));
        }
        if (c.fireStart)
            fake->fire(0);
        if (c.fireStart && c.ringBytes >= 16000) {
            EXPECT_TRUE(oneSecond.wait(5000));
        }
        if (c.orderEnd)
            feeder.orderStop();
        ASSERT_TRUE(feeder.waitEnded(10000)) << "the feeder did not end";
        feeder.stop();
        EXPECT_EQ(empty.isSet(), c.expectEmpty);
        std::ifstream log(dir / "Picvox_log.log");
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        EXPECT_NE(text.find(c.expectLog), std::string::npos) << text;
        EXPECT_NE(text.find("DXSManip    DXSPlayThread　終了"), std::string::npos);
    }
    ResetLog();
    std::filesystem::remove_all(dir);
}

// Without a sound device the player plays into the null output: the run, its feeder and the
// played seconds go on exactly as with a device, unheard; the player says so once, in the log.
TEST(DXSInit, WithoutASoundDeviceTheFeederStillPlaysItsSeconds) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("dxsinit-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "Picvox.ini") << "on";
    for (bool noDevice : {false, true}) {
        SCOPED_TRACE(noDevice ? "no sound device" : "device");
        std::filesystem::remove(dir / "Picvox_log.log");
        ConfigureLog(dir.string());
        std::unique_ptr<platform::ScopedNoSoundDevice> fake;
        if (noDevice)
            fake = std::make_unique<platform::ScopedNoSoundDevice>();
        std::unique_ptr<DxsPlayer> player = DXSInit(k8k, 0);
        ASSERT_TRUE(player);
        EXPECT_EQ(player->silentOutput, noDevice);

        AudioRing ring;
        fillRing(ring, 40000);
        Event oneSecond(Event::Reset::Auto), empty(Event::Reset::Auto);
        platform::Worker feeder;
        DxsPlayThreadParams params{false,  player.get(),        &ring,  &oneSecond,
                                   &empty, &feeder.stopEvent(), nullptr};
        ASSERT_TRUE(feeder.start([&](Event&) { DXSPlayThread(params); }));
        EXPECT_TRUE(oneSecond.wait(5000)) << "no second reported";
        feeder.orderStop();
        ASSERT_TRUE(feeder.waitEnded(10000)) << "the feeder did not end";
        feeder.stop();
        EXPECT_FALSE(empty.isSet());
        ReleaseDxsPlayer(player);

        std::ifstream log(dir / "Picvox_log.log");
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        const std::string line = "DXSManip    DXSInit サウンドデバイスなし";
        const auto at = text.find(line);
        EXPECT_EQ(at != std::string::npos, noDevice) << text;
        if (at != std::string::npos) {
            EXPECT_EQ(text.find(line, at + 1), std::string::npos) << "said more than once";
        }
        EXPECT_NE(text.find("DXS １秒再生完了イベント受信"), std::string::npos);
    }
    ResetLog();
    std::filesystem::remove_all(dir);
}

class SoundPlayLoopTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam())
            noDevice_ = std::make_unique<platform::ScopedNoSoundDevice>();
        player_ = DXSInit(k8k, 0);
        ASSERT_TRUE(player_);
        ASSERT_EQ(player_->silentOutput, GetParam());
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

    std::unique_ptr<platform::ScopedNoSoundDevice> noDevice_;
    std::unique_ptr<DxsPlayer> player_;
    AudioRing ring_;
    std::mutex controlLock_;
    FrameQueue queue_{10, nullptr, controlLock_};
    Event endOrder_{Event::Reset::Manual};
    std::atomic<int> soundPlaying_{0};
    std::atomic<SaveResult> result_{SaveResult::None};
    std::atomic<int> animation_{-1};
    SoundLoopInput in_;
};

// Each loop case runs on a device and on the null output.
INSTANTIATE_TEST_SUITE_P(Outputs, SoundPlayLoopTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "null" : "device"; });

TEST_P(SoundPlayLoopTest, RingRunningDryEndsTheLoopAndFailsASave) {
    // With a second and a half the first refill already finds the ring short; with two and a
    // half one second plays (and shows its picture) before that.
    constexpr SaveResult kNone = SaveResult::None;
    constexpr SaveResult kFull = SaveResult::DiskFull;
    struct Case {
        bool saves;
        SaveResult resultBefore;
        std::size_t held;
        SaveResult expectResult;
        bool expectPicture;
    } cases[] = {{true, kNone, 20000, kSoundRanDryResult, true},
                 {false, kNone, 12000, kNone, false},
                 {true, kFull, 12000, kFull, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.saves) * 10 + static_cast<int>(c.resultBefore));
        in_.saves = c.saves;
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

TEST_P(SoundPlayLoopTest, EndOrderAndWriterEndStopThePlayingLoop) {
    for (bool byWriter : {false, true}) {
        SCOPED_TRACE(byWriter);
        Event writerEnded(Event::Reset::Auto);
        in_.writerEnded = byWriter ? &writerEnded : nullptr;
        in_.saves = true;
        result_ = SaveResult::None;
        endOrder_.reset();
        fillRing(ring_, 80000);
        std::thread owner([&] {
            runtest::waitUntil([&] { return soundPlaying_.load() == 1; });
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            (byWriter ? writerEnded : endOrder_).set();
        });
        EXPECT_EQ(SoundPlayLoop(in_), 0);
        owner.join();
        EXPECT_EQ(result_.load(), SaveResult::None);
        EXPECT_EQ(soundPlaying_.load(), 0);
        EXPECT_GT(ring_.DataSize(), 0u);
        ring_.Release();
        ASSERT_TRUE(ring_.Allocate(AudioRing::kControlSize));
    }
}

}  // namespace
}  // namespace picvox
