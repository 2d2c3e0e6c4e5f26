#include "platform/audio/SoundBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "RunTestSupport.h"

namespace {

using platform::PositionNotify;
using platform::SoundBuffer;
using platform::StreamSoundBuffer;
using platform::WaveFormat;
using runtest::ScopedEnv;
using runtest::waitUntil;

std::unique_ptr<StreamSoundBuffer> makeBuffer(const WaveFormat& format, std::uint32_t bytes) {
    std::unique_ptr<StreamSoundBuffer> buffer;
    std::string error;
    EXPECT_EQ(StreamSoundBuffer::create(format, bytes, &buffer, &error), platform::kSoundOk)
        << error;
    return buffer;
}

// Writes `bytes` at `offset` through Lock/Unlock.
void write(SoundBuffer& b, std::uint32_t offset, const std::vector<std::uint8_t>& bytes) {
    void* p1 = nullptr;
    void* p2 = nullptr;
    std::uint32_t n1 = 0;
    std::uint32_t n2 = 0;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    ASSERT_EQ(b.Lock(offset, size, &p1, &n1, &p2, &n2), platform::kSoundOk);
    ASSERT_EQ(n1 + n2, size);
    std::memcpy(p1, bytes.data(), n1);
    if (n2 > 0)
        std::memcpy(p2, bytes.data() + n1, n2);
    ASSERT_EQ(b.Unlock(p1, n1, p2, n2), platform::kSoundOk);
}

std::vector<std::uint8_t> read(SoundBuffer& b, std::uint32_t offset, std::uint32_t size) {
    void* p1 = nullptr;
    void* p2 = nullptr;
    std::uint32_t n1 = 0;
    std::uint32_t n2 = 0;
    std::vector<std::uint8_t> out;
    if (b.Lock(offset, size, &p1, &n1, &p2, &n2) != platform::kSoundOk)
        return out;
    out.assign(static_cast<std::uint8_t*>(p1), static_cast<std::uint8_t*>(p1) + n1);
    if (n2 > 0)
        out.insert(out.end(), static_cast<std::uint8_t*>(p2), static_cast<std::uint8_t*>(p2) + n2);
    b.Unlock(p1, 0, p2, 0);
    return out;
}

class SoundBufferTest : public ::testing::Test {
protected:
    ScopedEnv driver_{"SDL_AUDIODRIVER", "dummy"};
};

TEST_F(SoundBufferTest, NotificationsComeInCursorOrderAndStopIsReported) {
    // 0.1 s halves at 8 kHz, so that several laps pass quickly.
    auto buffer = makeBuffer(WaveFormat::pcm(8000, 1, 8), 1600);
    ASSERT_TRUE(buffer);
    platform::Event start(platform::Event::Reset::Auto);
    platform::Event mid(platform::Event::Reset::Auto);
    platform::Event stop(platform::Event::Reset::Auto);
    const PositionNotify positions[] = {
        {0, &start}, {800, &mid}, {PositionNotify::kOffsetStop, &stop}};
    ASSERT_EQ(buffer->SetNotificationPositions(positions, 3), platform::kSoundOk);
    stop.set();  // left over from before: Play forgets it

    ASSERT_EQ(buffer->Play(SoundBuffer::kPlayLooping), platform::kSoundOk);
    EXPECT_EQ(buffer->SetNotificationPositions(positions, 3), platform::kSoundInvalidCall);
    std::string order;
    while (order.size() < 5) {
        const int which = platform::Event::waitAny({&start, &mid, &stop}, 5000);
        ASSERT_GE(which, 0) << "no notification within 5 s after " << order;
        order += "SMX"[which];
    }
    EXPECT_EQ(order, "SMSMS");
    std::uint32_t play = 0;
    std::uint32_t write = 0;
    ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), platform::kSoundOk);
    EXPECT_LT(play, 1600u);
    EXPECT_LT(write, 1600u);
    EXPECT_GE(buffer->framesPlayed(), 3200u);  // two laps before the fifth notification

    ASSERT_EQ(buffer->Stop(), platform::kSoundOk);
    EXPECT_TRUE(stop.wait(0));
    const std::uint64_t stoppedAt = buffer->framesPlayed();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(buffer->framesPlayed(), stoppedAt) << "the cursor moved after Stop";
    EXPECT_FALSE(start.isSet() && mid.isSet());
    // A stop of a stopped buffer still reports, so no waiter is left behind.
    ASSERT_EQ(buffer->Stop(), platform::kSoundOk);
    EXPECT_TRUE(stop.wait(0));
}

TEST_F(SoundBufferTest, FrequencySetsThePaceAgainstTheDevice) {
    struct Case {
        std::uint32_t hz;
        double pace;  // buffer frames per device frame
    } cases[] = {{8000, 1.0}, {8200, 1.025}, {12000, 1.5}, {4000, 0.5}, {0, 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hz);
        auto buffer = makeBuffer(WaveFormat::pcm(8000, 1, 8), 16000);
        ASSERT_TRUE(buffer);
        ASSERT_EQ(buffer->SetFrequency(c.hz), platform::kSoundOk);
        std::uint32_t hz = 0;
        ASSERT_EQ(buffer->GetFrequency(&hz), platform::kSoundOk);
        EXPECT_EQ(hz, c.hz == 0 ? 8000u : c.hz);
        const std::uint64_t before = buffer->deviceFrames();
        ASSERT_EQ(buffer->Play(SoundBuffer::kPlayLooping), platform::kSoundOk);
        ASSERT_TRUE(waitUntil([&] { return buffer->deviceFrames() - before >= 2000; }));
        buffer->Stop();
        const double device = static_cast<double>(buffer->deviceFrames() - before);
        EXPECT_NEAR(buffer->framesPlayed() / device, c.pace, 0.01);
    }
    auto buffer = makeBuffer(WaveFormat::pcm(8000, 1, 8), 16000);
    for (std::uint32_t bad : {50u, 99u, 200001u, 1000000u})
        EXPECT_EQ(buffer->SetFrequency(bad), platform::kSoundInvalidParam) << bad;
}

TEST_F(SoundBufferTest, LockWrapsAtTheEndAndRefusesMisuse) {
    auto buffer = makeBuffer(WaveFormat::pcm(8000, 1, 8), 1600);
    ASSERT_TRUE(buffer);
    // A new buffer holds 8-bit silence.
    EXPECT_EQ(read(*buffer, 0, 1600), std::vector<std::uint8_t>(1600, 0x80));

    std::vector<std::uint8_t> pattern(200);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(i);
    write(*buffer, 1500, pattern);
    auto back = read(*buffer, 1500, 200);
    EXPECT_EQ(back, pattern);
    EXPECT_EQ(read(*buffer, 0, 100),
              std::vector<std::uint8_t>(pattern.begin() + 100, pattern.end()));

    void* p1 = nullptr;
    void* p2 = nullptr;
    std::uint32_t n1 = 0;
    std::uint32_t n2 = 0;
    struct Bad {
        std::uint32_t offset;
        std::uint32_t bytes;
    } bad[] = {{1600, 1}, {0, 0}, {0, 1601}, {4000000, 10}};
    for (const auto& b : bad)
        EXPECT_EQ(buffer->Lock(b.offset, b.bytes, &p1, &n1, &p2, &n2), platform::kSoundInvalidParam)
            << b.offset << "+" << b.bytes;
    // Without a second part the region stops at the end.
    ASSERT_EQ(buffer->Lock(1500, 200, &p1, &n1, nullptr, nullptr), platform::kSoundOk);
    EXPECT_EQ(n1, 100u);
    EXPECT_EQ(buffer->Lock(0, 10, &p1, &n1, &p2, &n2), platform::kSoundInvalidCall);
    EXPECT_EQ(buffer->Unlock(static_cast<std::uint8_t*>(p1) + 1, 1, nullptr, 0),
              platform::kSoundInvalidParam);
    EXPECT_EQ(buffer->Unlock(p1, 101, nullptr, 0), platform::kSoundInvalidParam);
    EXPECT_EQ(buffer->Unlock(p1, 100, nullptr, 0), platform::kSoundOk);
    EXPECT_EQ(buffer->Unlock(p1, 100, nullptr, 0), platform::kSoundInvalidCall);
    EXPECT_EQ(buffer->SetCurrentPosition(1600), platform::kSoundInvalidParam);
}

TEST_F(SoundBufferTest, FormatsAndDriversItCannotTakeAreCleanErrors) {
    struct Case {
        const char* name;
        WaveFormat format;
        std::uint32_t bytes;
    } cases[] = {
        {"12-bit", WaveFormat::pcm(8000, 1, 12), 16000},
        {"three channels", WaveFormat::pcm(8000, 3, 8), 48000},
        {"rate 0", WaveFormat::pcm(0, 1, 8), 16000},
        {"size not whole frames", WaveFormat::pcm(8000, 2, 16), 16002},
        {"too large", WaveFormat::pcm(8000, 1, 8), StreamSoundBuffer::kMaxBytes + 1},
    };
    WaveFormat lying = WaveFormat::pcm(8000, 1, 8);
    lying.avgBytesPerSec = 1000000;
    for (const auto& c : cases) {
        std::unique_ptr<StreamSoundBuffer> buffer;
        EXPECT_EQ(StreamSoundBuffer::create(c.format, c.bytes, &buffer),
                  platform::kSoundInvalidParam)
            << c.name;
        EXPECT_FALSE(buffer);
    }
    std::unique_ptr<StreamSoundBuffer> buffer;
    EXPECT_EQ(StreamSoundBuffer::create(lying, 16000, &buffer), platform::kSoundInvalidParam);

    ScopedEnv noDriver("SDL_AUDIODRIVER", "no-such-driver");
    std::unique_ptr<platform::SoundDevice> device;
    std::string error;
    EXPECT_EQ(platform::SoundDevice::create(&device, &error), platform::kSoundNoDriver);
    EXPECT_FALSE(device);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(StreamSoundBuffer::create(WaveFormat::pcm(8000, 1, 8), 16000, &buffer),
              platform::kSoundNoDriver);
}

TEST(SoundBufferOutput, TheDeviceGetsTheBufferSamplesInOrder) {
    // The disk driver writes what was played: the 16-bit stereo ramp must come out whole.
    runtest::TempDir dir("sound-buffer-disk");
    const std::string file = (dir.path() / "out.raw").string();
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv out("SDL_DISKAUDIOFILE", file.c_str());
    auto buffer = makeBuffer(WaveFormat::pcm(8000, 2, 16), 8000);
    ASSERT_TRUE(buffer);
    std::vector<std::uint8_t> pcm(8000);
    for (std::size_t f = 0; f < 2000; ++f) {
        const auto left = static_cast<std::int16_t>(f * 16);
        const auto right = static_cast<std::int16_t>(-static_cast<int>(f) * 16);
        std::memcpy(&pcm[f * 4], &left, 2);
        std::memcpy(&pcm[f * 4 + 2], &right, 2);
    }
    write(*buffer, 0, pcm);
    ASSERT_EQ(buffer->Play(SoundBuffer::kPlayLooping), platform::kSoundOk);
    ASSERT_TRUE(waitUntil([&] { return buffer->framesPlayed() >= 1500; }));
    buffer->Stop();
    buffer.reset();

    std::ifstream in(file, std::ios::binary);
    std::vector<float> samples;
    for (float v; in.read(reinterpret_cast<char*>(&v), sizeof v);)
        samples.push_back(v);
    // Find frame 1 of the ramp (the paused device writes silence before it).
    std::size_t at = 0;
    while (at + 1 < samples.size() && samples[at] == 0.0f)
        at += 2;
    ASSERT_LT(at + 2 * 1400, samples.size());
    for (std::size_t f = 1; f < 1400; ++f) {
        ASSERT_FLOAT_EQ(samples[at + 2 * (f - 1)], f * 16 / 32768.0f) << f;
        ASSERT_FLOAT_EQ(samples[at + 2 * (f - 1) + 1], -(f * 16.0f) / 32768.0f) << f;
    }
}

}  // namespace
