#include "platform/audio/AudioStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
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

class AudioStreamTest : public ::testing::Test {
protected:
    ScopedEnv driver_{"SDL_AUDIODRIVER", "dummy"};
};

TEST_F(AudioStreamTest, OneHundredAndOnePerCentRateConsumesOnePerCentMoreSource) {
    RampAudioSource src;
    platform::AudioStream stream;
    ASSERT_TRUE(stream.open({8000, 1}, &src)) << stream.lastError();
    ASSERT_TRUE(stream.setSourceRate(8080));
    EXPECT_EQ(stream.sourceRate(), 8080);
    ASSERT_TRUE(stream.resume());
    ASSERT_TRUE(waitUntil([&] { return stream.framesHanded() >= 4000; }));
    stream.pause();
    const double handed = static_cast<double>(stream.framesHanded());
    const double played = static_cast<double>(stream.sourcePosition());
    EXPECT_NEAR(played / handed, 1.01, 0.0005);
    EXPECT_EQ(src.lastPlayed.load(), stream.sourcePosition());
    EXPECT_EQ(static_cast<std::uint64_t>(src.blocks.load()) * stream.deviceBufferFrames(),
              stream.framesHanded());
    EXPECT_NEAR(played, handed * 1.01, 2.0);
    // What was pulled is what was played, give or take the frame interpolation leans on.
    EXPECT_LE(src.pulled.load() - stream.sourcePosition(), 2u);
    EXPECT_FALSE(stream.setSourceRate(0));
    EXPECT_FALSE(stream.setSourceRate(8000 * 100));
}

TEST_F(AudioStreamTest, PauseHoldsTheCountsAndRestartMovesThePosition) {
    RampAudioSource src;
    platform::AudioStream stream;
    ASSERT_TRUE(stream.open({8000, 2}, &src)) << stream.lastError();
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

TEST_F(AudioStreamTest, ReportsTheSourcesEndAndStopsCounting) {
    RampAudioSource src;
    src.ramp.limit = 1200;
    platform::AudioStream stream;
    ASSERT_TRUE(stream.open({8000, 1}, &src));
    stream.resume();
    ASSERT_TRUE(waitUntil([&] { return stream.sourceEnded(); }));
    ASSERT_TRUE(waitUntil([&] { return stream.framesHanded() >= 2400; }));
    EXPECT_EQ(stream.sourcePosition(), 1200u);
}

TEST_F(AudioStreamTest, ClosesPromptlyWhilePlayingAndOpensAgain) {
    for (int round = 0; round < 10; ++round) {
        RampAudioSource src;
        platform::AudioStream stream;
        ASSERT_TRUE(stream.open({44100, 2}, &src)) << stream.lastError();
        src.ramp.channels = 2;
        stream.resume();
        if (round % 2 == 0)
            waitUntil([&] { return stream.framesHanded() > 0; });
        stream.close();
        EXPECT_FALSE(stream.isOpen());
        EXPECT_FALSE(stream.resume());
        EXPECT_FALSE(stream.pause());
    }
    RampAudioSource src;
    platform::AudioStream stream;
    ASSERT_TRUE(stream.open({22050, 1}, &src));
    stream.close();
    ASSERT_TRUE(stream.open({22050, 1}, &src));
    EXPECT_EQ(stream.framesHanded(), 0u);
    stream.resume();
    EXPECT_TRUE(waitUntil([&] { return stream.framesHanded() > 0; }));
}

TEST_F(AudioStreamTest, WithoutASoundDeviceOpenFailsAndSaysWhy) {
    ScopedEnv noDriver("SDL_AUDIODRIVER", "no-such-driver");
    RampAudioSource src;
    platform::AudioStream stream;
    EXPECT_FALSE(stream.open({8000, 1}, &src));
    EXPECT_FALSE(stream.lastError().empty());
    EXPECT_FALSE(stream.isOpen());
    EXPECT_FALSE(stream.resume());
    EXPECT_EQ(stream.sourcePosition(), 0u);
    stream.restart(10);  // harmless on a closed stream
    stream.close();
}

TEST_F(AudioStreamTest, RefusesFormatsNoDeviceCouldPlay) {
    RampAudioSource src;
    platform::AudioStream stream;
    for (auto f : {platform::AudioFormat{0, 1}, platform::AudioFormat{8000, 0},
                   platform::AudioFormat{8000, 40}, platform::AudioFormat{-5, 2},
                   platform::AudioFormat{10000000, 2}}) {
        EXPECT_FALSE(stream.open(f, &src));
        EXPECT_FALSE(stream.isOpen());
    }
}
