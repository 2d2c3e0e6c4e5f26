#include "platform/audio/AudioStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "AudioTestSupport.h"
#include "platform/audio/LinearResampler.h"

using audiotest::ScopedEnv;
using audiotest::TempDir;
using audiotest::waitUntil;
using platform::LinearResampler;

namespace {

// A source whose frame n carries the value n in every channel, optionally ending after `limit`.
struct RampSource {
    int channels = 1;
    std::uint64_t next = 0;
    std::uint64_t limit = UINT64_MAX;
    std::size_t pull(float* out, std::size_t frames) {
        std::size_t n = 0;
        for (; n < frames && next < limit; ++n, ++next) {
            for (int c = 0; c < channels; ++c)
                out[n * channels + c] = static_cast<float>(next);
        }
        return n;
    }
};

struct RampAudioSource : platform::AudioSource {
    RampSource ramp;
    std::atomic<std::uint64_t> pulled{0};
    std::atomic<int> blocks{0};
    std::atomic<std::uint64_t> lastPlayed{0};
    void blockPlayed(std::uint64_t position) override {
        ++blocks;
        lastPlayed = position;
    }
    std::size_t pullFrames(float* out, std::size_t frames) override {
        std::size_t n = ramp.pull(out, frames);
        pulled += n;
        return n;
    }
};

std::vector<float> runResampler(LinearResampler& r, RampSource& src, std::size_t frames,
                                std::size_t block) {
    std::vector<float> out(frames * static_cast<std::size_t>(r.channels()));
    LinearResampler::Pull pull = [&](float* o, std::size_t n) { return src.pull(o, n); };
    for (std::size_t done = 0; done < frames; done += block) {
        r.process(out.data() + done * r.channels(), std::min(block, frames - done), pull);
    }
    return out;
}

}  // namespace

TEST(LinearResampler, PlaysTheSourceUntouchedAtItsOwnRateAndTakesNoFrameAhead) {
    LinearResampler r(2);
    RampSource src{2};
    auto out = runResampler(r, src, 3000, 512);
    for (std::size_t i = 0; i < 3000; ++i) {
        ASSERT_EQ(out[2 * i], static_cast<float>(i));
        ASSERT_EQ(out[2 * i + 1], static_cast<float>(i));
    }
    EXPECT_EQ(r.consumedFrames(), 3000u);
    EXPECT_EQ(src.next, 3000u);  // a pass-through stream pulls exactly what it plays
}

TEST(LinearResampler, StepConsumesProportionallyAndInterpolatesBetweenFrames) {
    struct Case {
        double step;
    } cases[] = {{1.01}, {0.99}, {1.02}, {0.5}, {2.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        LinearResampler r(1);
        r.setStep(c.step);
        RampSource src{1};
        const std::size_t frames = 20000;
        auto out = runResampler(r, src, frames, 333);
        // On a ramp, linear interpolation gives back the cursor position itself.
        for (std::size_t i = 0; i < frames; i += 97) {
            ASSERT_NEAR(out[i], i * c.step, 1e-2 * std::max(1.0, i * c.step / 1000));
        }
        const double expected = frames * c.step;
        EXPECT_NEAR(static_cast<double>(r.consumedFrames()), expected, 1.0);
    }
}

TEST(LinearResampler, EndOfSourceGivesSilenceAndStopsTheCount) {
    for (double step : {1.0, 1.01, 0.7, 3.0}) {
        SCOPED_TRACE(step);
        LinearResampler r(1);
        r.setStep(step);
        RampSource src{1, 0, 1000};
        std::vector<float> out(4000, -1.0f);
        LinearResampler::Pull pull = [&](float* o, std::size_t n) { return src.pull(o, n); };
        const std::size_t produced = r.process(out.data(), out.size(), pull);
        EXPECT_TRUE(r.ended());
        EXPECT_NEAR(static_cast<double>(produced), 1000 / step, 2.0);
        EXPECT_LE(r.consumedFrames(), 1000u);
        EXPECT_GE(r.consumedFrames(), 998u);
        for (std::size_t i = produced; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0.0f);
        r.reset();
        EXPECT_FALSE(r.ended());
        EXPECT_EQ(r.consumedFrames(), 0u);
    }
}

TEST(LinearResampler, RefusesStepsThatWouldStallTheCursor) {
    LinearResampler r(1);
    r.setStep(0.0);
    r.setStep(-3.0);
    r.setStep(std::nan(""));
    EXPECT_GT(r.step(), 0.0);
    RampSource src{1};
    runResampler(r, src, 1000, 100);
    EXPECT_GT(r.consumedFrames(), 0u);
}

// Every test of the stream runs on a device (SDL's dummy driver, real time) and on the null
// output that stands in when there is none: what is built on top must not tell them apart.
enum class Output { device, null };

class AudioStreamTest : public ::testing::TestWithParam<Output> {
protected:
    void SetUp() override {
        if (GetParam() == Output::null)
            noDevice_ = std::make_unique<platform::ScopedNoSoundDevice>();
    }
    bool open(platform::AudioStream& stream, platform::AudioFormat format,
              platform::AudioSource* src) {
        const bool opened = stream.open(format, src);
        EXPECT_EQ(stream.silent(), GetParam() == Output::null) << stream.lastError();
        return opened;
    }

    ScopedEnv driver_{"SDL_AUDIODRIVER", "dummy"};
    std::unique_ptr<platform::ScopedNoSoundDevice> noDevice_;
};

INSTANTIATE_TEST_SUITE_P(Outputs, AudioStreamTest, ::testing::Values(Output::device, Output::null),
                         [](const auto& info) {
                             return info.param == Output::device ? "device" : "null";
                         });

TEST_P(AudioStreamTest, SourceRateSetsTheSourceFramesConsumedPerDeviceFrame) {
    for (const auto& [rate, pace] : {std::pair{8080, 1.01}, {16000, 2.0}, {4000, 0.5}}) {
        SCOPED_TRACE(rate);
        RampAudioSource src;
        platform::AudioStream stream;
        ASSERT_TRUE(open(stream, {8000, 1}, &src)) << stream.lastError();
        ASSERT_TRUE(stream.setSourceRate(rate));
        EXPECT_EQ(stream.sourceRate(), rate);
        ASSERT_TRUE(stream.resume());
        ASSERT_TRUE(waitUntil([&] { return stream.framesHanded() >= 4000; }));
        stream.pause();
        const double handed = static_cast<double>(stream.framesHanded());
        const double played = static_cast<double>(stream.sourcePosition());
        EXPECT_NEAR(played / handed, pace, 0.0005 * pace);
        EXPECT_EQ(src.lastPlayed.load(), stream.sourcePosition());
        EXPECT_EQ(static_cast<std::uint64_t>(src.blocks.load()) * stream.deviceBufferFrames(),
                  stream.framesHanded());
        EXPECT_NEAR(played, handed * pace, 2.0);
        // What was pulled is what was played, give or take the frames interpolation leans on.
        EXPECT_LE(src.pulled.load() - stream.sourcePosition(), 2u);
        EXPECT_FALSE(stream.setSourceRate(0));
        EXPECT_FALSE(stream.setSourceRate(8000 * 100));
    }
}

TEST_P(AudioStreamTest, PauseHoldsTheCountsAndRestartMovesThePosition) {
    RampAudioSource src;
    platform::AudioStream stream;
    ASSERT_TRUE(open(stream, {8000, 2}, &src)) << stream.lastError();
    src.ramp.channels = 2;
    EXPECT_TRUE(stream.isPaused());
    EXPECT_EQ(stream.framesHanded(), 0u);
    stream.resume();
    ASSERT_TRUE(waitUntil([&] { return stream.sourcePosition() >= 800; }));
    stream.pause();
    const auto held = stream.sourcePosition();
    EXPECT_EQ(held, stream.framesHanded());  // at its own rate one source frame per device frame
    // A paused device is no longer asked for sound, whatever time passes.
    const auto pulled = src.pulled.load();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(stream.sourcePosition(), held);
        EXPECT_EQ(src.pulled.load(), pulled);
        waitUntil([] { return false; }, std::chrono::milliseconds(20));
    }
    {
        platform::AudioStream::SourceLock lock(stream);
        src.ramp.next = 50000;
    }
    stream.restart(50000);
    EXPECT_EQ(stream.sourcePosition(), 50000u);
    stream.resume();
    ASSERT_TRUE(waitUntil([&] { return stream.sourcePosition() >= 50400; }));
}

TEST_P(AudioStreamTest, ReportsTheSourcesEndAndStopsCounting) {
    RampAudioSource src;
    src.ramp.limit = 1200;
    platform::AudioStream stream;
    ASSERT_TRUE(open(stream, {8000, 1}, &src));
    stream.resume();
    ASSERT_TRUE(waitUntil([&] { return stream.sourceEnded(); }));
    ASSERT_TRUE(waitUntil([&] { return stream.framesHanded() >= 2400; }));
    EXPECT_EQ(stream.sourcePosition(), 1200u);
}

TEST_P(AudioStreamTest, ClosesPromptlyWhilePlayingAndOpensAgain) {
    for (int round = 0; round < 10; ++round) {
        RampAudioSource src;
        platform::AudioStream stream;
        ASSERT_TRUE(open(stream, {44100, 2}, &src)) << stream.lastError();
        src.ramp.channels = 2;
        // Closing a stream that never played ends a thread that was waiting for the resume.
        if (round % 3 != 2)
            stream.resume();
        if (round % 3 == 0)
            waitUntil([&] { return stream.framesHanded() > 0; });
        stream.close();
        EXPECT_FALSE(stream.isOpen());
        EXPECT_FALSE(stream.resume());
        EXPECT_FALSE(stream.pause());
        // Once close() has returned the source is never asked again.
        const auto pulled = src.pulled.load();
        waitUntil([] { return false; }, std::chrono::milliseconds(30));
        EXPECT_EQ(src.pulled.load(), pulled);
    }
    RampAudioSource src;
    platform::AudioStream stream;
    ASSERT_TRUE(open(stream, {22050, 1}, &src));
    stream.close();
    ASSERT_TRUE(open(stream, {22050, 1}, &src));
    EXPECT_EQ(stream.framesHanded(), 0u);
    stream.resume();
    EXPECT_TRUE(waitUntil([&] { return stream.framesHanded() > 0; }));
}

// A source that notes every pull made while the owner claims to hold the source lock.
struct WatchedSource : RampAudioSource {
    std::atomic<bool> ownerInside{false};
    std::atomic<int> pullsWhileHeld{0};
    std::size_t pullFrames(float* out, std::size_t frames) override {
        if (ownerInside)
            ++pullsWhileHeld;
        return RampAudioSource::pullFrames(out, frames);
    }
};

TEST_P(AudioStreamTest, TheSourceLockKeepsTheDeviceOutOfTheSource) {
    WatchedSource src;
    platform::AudioStream stream;
    ASSERT_TRUE(open(stream, {8000, 1}, &src));
    ASSERT_TRUE(stream.resume());
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(waitUntil([&] { return src.blocks.load() > round * 2; }));
        {
            platform::AudioStream::SourceLock outer(stream);
            platform::AudioStream::SourceLock inner(stream);  // recursive, as a device's is
            src.ownerInside = true;
            const auto handed = stream.framesHanded();
            // Three blocks' time: a device that ignored the lock would have pulled meanwhile.
            waitUntil([] { return false; }, std::chrono::milliseconds(100));
            EXPECT_EQ(stream.framesHanded(), handed);
            src.ownerInside = false;
        }
    }
    EXPECT_EQ(src.pullsWhileHeld.load(), 0);
    const auto handed = stream.framesHanded();
    EXPECT_TRUE(waitUntil([&] { return stream.framesHanded() > handed; }));
}

TEST_P(AudioStreamTest, RefusesFormatsNoDeviceCouldPlay) {
    RampAudioSource src;
    platform::AudioStream stream;
    for (auto f : {platform::AudioFormat{0, 1}, platform::AudioFormat{8000, 0},
                   platform::AudioFormat{8000, 40}, platform::AudioFormat{-5, 2},
                   platform::AudioFormat{10000000, 2}}) {
        EXPECT_FALSE(stream.open(f, &src));
        EXPECT_FALSE(stream.isOpen());
        EXPECT_FALSE(stream.silent());
    }
}

// Without any sound driver at all (not the test switch: the real path) the stream still opens,
// silent, and says why.
TEST(NullOutput, WithoutASoundDriverTheStreamPlaysSilentlyAndSaysWhy) {
    ScopedEnv noDriver("SDL_AUDIODRIVER", "no-such-driver");
    RampAudioSource src;
    platform::AudioStream stream;
    ASSERT_TRUE(stream.open({8000, 1}, &src));
    EXPECT_TRUE(stream.silent());
    EXPECT_TRUE(stream.isOpen());
    EXPECT_FALSE(stream.deviceLost());
    EXPECT_EQ(stream.deviceId(), platform::AudioStream::kNullOutputId);
    EXPECT_NE(stream.lastError().find("no-such-driver"), std::string::npos) << stream.lastError();
    EXPECT_TRUE(stream.resume());
    EXPECT_TRUE(waitUntil([&] { return stream.sourcePosition() >= 800; }));
    stream.close();
    EXPECT_FALSE(stream.silent());
    EXPECT_EQ(stream.deviceId(), 0u);
    stream.restart(10);  // harmless on a closed stream
}

// The null output keeps the pace of a device that plays in real time: run side by side, the two
// hand over about as many frames (a free-running thread would hand thousands of times more).
TEST(NullOutput, KeepsThePaceOfARealTimeDevice) {
    ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    RampAudioSource nullSrc;
    RampAudioSource deviceSrc;
    platform::AudioStream silent;
    platform::AudioStream device;
    {
        platform::ScopedNoSoundDevice noDevice;
        ASSERT_TRUE(silent.open({8000, 1}, &nullSrc));
    }
    ASSERT_TRUE(device.open({8000, 1}, &deviceSrc));
    ASSERT_TRUE(silent.silent());
    ASSERT_FALSE(device.silent());
    ASSERT_EQ(silent.deviceBufferFrames(), device.deviceBufferFrames());
    silent.resume();
    device.resume();
    ASSERT_TRUE(waitUntil([&] { return device.framesHanded() >= 8000; }));
    const double ratio = static_cast<double>(silent.framesHanded()) / device.framesHanded();
    EXPECT_GT(ratio, 0.5);
    EXPECT_LT(ratio, 2.0);
    // A rate change moves the null output's source as fast as the device's.
    ASSERT_TRUE(silent.setSourceRate(16000));
    ASSERT_TRUE(device.setSourceRate(16000));
    const auto silentFrom = silent.sourcePosition();
    const auto deviceFrom = device.sourcePosition();
    ASSERT_TRUE(waitUntil([&] { return device.sourcePosition() - deviceFrom >= 16000; }));
    const double moved = static_cast<double>(silent.sourcePosition() - silentFrom) /
                         static_cast<double>(device.sourcePosition() - deviceFrom);
    EXPECT_GT(moved, 0.5);
    EXPECT_LT(moved, 2.0);
}

TEST(NullOutput, TheTestSwitchFollowsItsHoldersAndTheEnvironment) {
    EXPECT_FALSE(platform::soundDeviceFaked());
    {
        platform::ScopedNoSoundDevice a;
        {
            platform::ScopedNoSoundDevice b;
            EXPECT_TRUE(platform::soundDeviceFaked());
        }
        EXPECT_TRUE(platform::soundDeviceFaked());
    }
    EXPECT_FALSE(platform::soundDeviceFaked());
    for (const auto& [value, faked] : {std::pair{"1", true}, {"0", false}, {"", false}}) {
        ScopedEnv env("KORVEX_FAKE_NO_SOUND_DEVICE", value);
        EXPECT_EQ(platform::soundDeviceFaked(), faked) << value;
    }
}
