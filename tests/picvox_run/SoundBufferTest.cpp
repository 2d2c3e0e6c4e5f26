#include "platform/audio/SoundBuffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "RunTestSupport.h"

namespace {

using platform::kSoundOk;
using platform::PositionNotify;
using platform::SoundBuffer;
using platform::StreamSoundBuffer;
using platform::WaveFormat;
using runtest::ScopedEnv;

std::unique_ptr<StreamSoundBuffer> makeBuffer(const WaveFormat& format, std::uint32_t bytes) {
    std::unique_ptr<StreamSoundBuffer> buffer;
    EXPECT_EQ(StreamSoundBuffer::create(format, bytes, &buffer), kSoundOk);
    return buffer;
}

// Copies `bytes` in at `offset` (write) or out (read) through Lock/Unlock.
void transfer(SoundBuffer& b, std::uint32_t offset, std::vector<std::uint8_t>& bytes, bool write) {
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(b.Lock(offset, static_cast<std::uint32_t>(bytes.size()), &p1, &n1, &p2, &n2),
              kSoundOk);
    ASSERT_EQ(n1 + n2, bytes.size());
    std::uint8_t* parts[] = {static_cast<std::uint8_t*>(p1), static_cast<std::uint8_t*>(p2)};
    for (auto [at, part, n] : {std::tuple{0u, parts[0], n1}, std::tuple{n1, parts[1], n2}})
        if (n > 0)
            write ? std::memcpy(part, &bytes[at], n) : std::memcpy(&bytes[at], part, n);
    ASSERT_EQ(b.Unlock(p1, n1, p2, n2), kSoundOk);
}

// The test runs with SDL_AUDIODRIVER=dummy: the device keeps real time and plays nothing. Each
// case runs on that device and on the null output that stands in without one; the feeder built
// on the buffer must not tell them apart.
class SoundBufferTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam())
            noDevice_ = std::make_unique<platform::ScopedNoSoundDevice>();
    }
    std::unique_ptr<StreamSoundBuffer> make(const WaveFormat& format, std::uint32_t bytes) {
        auto buffer = makeBuffer(format, bytes);
        if (buffer) {
            EXPECT_EQ(buffer->silent(), GetParam());
            EXPECT_EQ(buffer->silentReason().empty(), !GetParam());
        }
        return buffer;
    }

private:
    std::unique_ptr<platform::ScopedNoSoundDevice> noDevice_;
};

INSTANTIATE_TEST_SUITE_P(Outputs, SoundBufferTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "null" : "device"; });

TEST_P(SoundBufferTest, NotificationsComeInCursorOrderAndEveryStopIsReported) {
    auto buffer = make(WaveFormat::pcm(8000, 1, 8), 1600);  // 0.1 s halves
    ASSERT_TRUE(buffer);
    platform::Event start(platform::Event::Reset::Auto), mid(platform::Event::Reset::Auto),
        stop(platform::Event::Reset::Auto);
    const PositionNotify positions[] = {
        {0, &start}, {800, &mid}, {PositionNotify::kOffsetStop, &stop}};
    ASSERT_EQ(buffer->SetNotificationPositions(positions, 3), kSoundOk);
    stop.set();  // left over from before: Play forgets it
    ASSERT_EQ(buffer->Play(SoundBuffer::kPlayLooping), kSoundOk);
    EXPECT_EQ(buffer->SetNotificationPositions(positions, 3), platform::kSoundInvalidCall);
    std::string order;
    while (order.size() < 5) {
        const int which = platform::Event::waitAny({&start, &mid, &stop}, 5000);
        ASSERT_GE(which, 0) << "no notification within 5 s after " << order;
        order += "SMX"[which];
    }
    EXPECT_EQ(order, "SMSMS");
    EXPECT_GE(buffer->framesPlayed(), 3200u);  // two laps before the fifth notification
    ASSERT_EQ(buffer->Stop(), kSoundOk);
    EXPECT_TRUE(stop.wait(0));
    const std::uint64_t stoppedAt = buffer->framesPlayed();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(buffer->framesPlayed(), stoppedAt) << "the cursor moved after Stop";
    ASSERT_EQ(buffer->Stop(), kSoundOk);  // a stopped buffer still reports its stop
    EXPECT_TRUE(stop.wait(0));
}

TEST_P(SoundBufferTest, FrequencySetsThePaceAgainstTheDevice) {
    const std::pair<std::uint32_t, double> cases[] = {
        {8000, 1.0}, {8200, 1.025}, {12000, 1.5}, {4000, 0.5}, {0, 1.0}};
    for (const auto& [hz, pace] : cases) {
        SCOPED_TRACE(hz);
        auto buffer = make(WaveFormat::pcm(8000, 1, 8), 16000);
        ASSERT_TRUE(buffer);
        ASSERT_EQ(buffer->SetFrequency(hz), kSoundOk);
        const std::uint64_t before = buffer->deviceFrames();
        ASSERT_EQ(buffer->Play(SoundBuffer::kPlayLooping), kSoundOk);
        ASSERT_TRUE(runtest::waitUntil([&] { return buffer->deviceFrames() - before >= 2000; }));
        buffer->Stop();
        EXPECT_NEAR(buffer->framesPlayed() / double(buffer->deviceFrames() - before), pace, 0.01);
        for (std::uint32_t bad : {99u, 200001u})
            EXPECT_EQ(buffer->SetFrequency(bad), platform::kSoundInvalidParam);
    }
}

TEST_P(SoundBufferTest, LockWrapsAtTheEndAndBadFormatsAreCleanErrors) {
    auto buffer = make(WaveFormat::pcm(8000, 1, 8), 1600);
    ASSERT_TRUE(buffer);
    std::vector<std::uint8_t> pattern(200), back(200), silence(1300);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(i);
    transfer(*buffer, 1500, pattern, true);
    transfer(*buffer, 1500, back, false);
    EXPECT_EQ(back, pattern);
    transfer(*buffer, 100, silence, false);
    EXPECT_EQ(silence, std::vector<std::uint8_t>(1300, 0x80)) << "8-bit silence is 0x80";

    std::unique_ptr<StreamSoundBuffer> other;
    for (const WaveFormat& bad : {WaveFormat::pcm(8000, 1, 12), WaveFormat::pcm(8000, 3, 8)})
        EXPECT_EQ(StreamSoundBuffer::create(bad, 16000, &other), platform::kSoundInvalidParam);
    EXPECT_FALSE(other);
}

// No driver at all (the real path, not the test switch) is no failure either: the device object
// and its buffers come up silent and say why, and the cursor moves.
TEST(SoundBufferWithoutDriver, DeviceAndBufferWorkSilently) {
    ScopedEnv noDriver("SDL_AUDIODRIVER", "no-such-driver");
    std::unique_ptr<platform::SoundDevice> device;
    ASSERT_EQ(platform::SoundDevice::create(&device), kSoundOk);
    ASSERT_TRUE(device);
    std::unique_ptr<SoundBuffer> buffer;
    std::string error;
    ASSERT_EQ(device->CreateSoundBuffer(WaveFormat::pcm(8000, 1, 8), 1600, &buffer, &error),
              kSoundOk)
        << error;
    ASSERT_TRUE(buffer);
    EXPECT_TRUE(buffer->silent());
    EXPECT_NE(buffer->silentReason().find("no-such-driver"), std::string::npos)
        << buffer->silentReason();
    platform::Event stop(platform::Event::Reset::Auto), mid(platform::Event::Reset::Auto);
    const PositionNotify positions[] = {{800, &mid}, {PositionNotify::kOffsetStop, &stop}};
    ASSERT_EQ(buffer->SetNotificationPositions(positions, 2), kSoundOk);
    ASSERT_EQ(buffer->Play(0), kSoundOk);
    EXPECT_TRUE(mid.wait(5000));
    // Played once through without looping, it stops by itself and says so.
    EXPECT_TRUE(stop.wait(5000));
    buffer.reset();
    device.reset();
}

}  // namespace
