#include "viewer/audio/VolumeControl.h"

#include <gtest/gtest.h>

#include "AudioTestSupport.h"

using audiotest::FakeMixer;
using korvex::VolumeControl;

namespace {

std::unique_ptr<VolumeControl> makeControl(FakeMixer::State& state) {
    return std::make_unique<VolumeControl>(std::make_unique<FakeMixer>(state));
}

}  // namespace

TEST(VolumeControl, ArithmeticAtTheEdgesOfTheRange) {
    struct Case {
        std::uint32_t minimum, maximum, value, percent;
    } reads[] = {
        {0, 65535, 0, 0},
        {0, 65535, 1, 0},       // one step above the minimum still reads 0
        {0, 65535, 32767, 50},  // halfway reads 50
        {0, 65535, 32768, 50},
        {0, 65535, 65535, 100},
        {0, 65535, 654, 1},  // rounded to nearest: 0.998 %
        {0, 65535, 327, 0},  // 0.499 %
        {0, 100, 55, 55},
        {100, 200, 150, 50},  // a range that does not start at zero
        {100, 200, 100, 0},
        {-1u - 10, -1u, -1u, 100},  // the top of the unsigned range does not overflow
        {0, 65535, 70000, 100},     // a reading beyond the range is taken as the maximum
        {100, 200, 50, 0},          // and below it as the minimum
    };
    for (const auto& c : reads) {
        SCOPED_TRACE(std::to_string(c.minimum) + ".." + std::to_string(c.maximum) + " value " +
                     std::to_string(c.value));
        FakeMixer::State state;
        state.minimum = c.minimum;
        state.maximum = c.maximum;
        state.value = c.value;
        auto volume = makeControl(state);
        std::uint32_t percent = 999;
        ASSERT_EQ(volume->getVolume(percent), 1);
        EXPECT_EQ(percent, c.percent);
    }

    struct Set {
        std::uint32_t minimum, maximum, percent, value;
    } writes[] =
        {
            {0, 65535, 100, 65535}, {0, 65535, 0, 0},     {0, 65535, 50, 32767},
            {100, 200, 0, 100},     {100, 200, 100, 200}, {0, 65535, 150, 65535},
            {0, 31, 10, 3},  // truncated, as the mixer's integer arithmetic does
        };
    for (const auto& c : writes) {
        SCOPED_TRACE(std::to_string(c.percent) + "% of " + std::to_string(c.minimum) + ".." +
                     std::to_string(c.maximum));
        FakeMixer::State state;
        state.minimum = c.minimum;
        state.maximum = c.maximum;
        state.value = 12345;
        auto volume = makeControl(state);
        ASSERT_EQ(volume->setVolume(c.percent), 1);
        EXPECT_EQ(state.value, c.value);
    }
}

TEST(VolumeControl, TrackbarPositionsMapToTheEndsOfTheControl) {
    FakeMixer::State state;
    state.minimum = 0;
    state.maximum = 65535;
    auto volume = makeControl(state);
    ASSERT_EQ(volume->setVolume(korvex::trackbarPercent(10)), 1);
    EXPECT_EQ(state.value, 65535u);
    ASSERT_EQ(volume->setVolume(korvex::trackbarPercent(0)), 1);
    EXPECT_EQ(state.value, 0u);
    EXPECT_EQ(korvex::trackbarPosition(55), 5);
    EXPECT_EQ(korvex::trackbarPosition(100), 10);
    EXPECT_EQ(korvex::trackbarPosition(9), 0);
    EXPECT_EQ(korvex::trackbarPercent(7), 70u);
    // What a position sets reads back as the same position.
    for (int pos = 0; pos <= 10; ++pos) {
        ASSERT_EQ(volume->setVolume(korvex::trackbarPercent(pos)), 1);
        std::uint32_t percent = 0;
        ASSERT_EQ(volume->getVolume(percent), 1);
        EXPECT_EQ(korvex::trackbarPosition(percent), pos);
    }
}

TEST(VolumeControl, LooksTheControlUpOnceAndRetriesAFailedLookUp) {
    FakeMixer::State state;
    state.findFails = true;
    auto volume = makeControl(state);
    std::uint32_t percent = 77;
    EXPECT_EQ(volume->getVolume(percent), 0);
    EXPECT_EQ(percent, 77u);  // left as it was
    EXPECT_EQ(volume->setVolume(30), 0);
    EXPECT_EQ(state.finds, 2);
    EXPECT_EQ(state.opens, 1);  // the mixer stayed open between the tries

    state.findFails = false;
    EXPECT_EQ(volume->setVolume(30), 1);
    EXPECT_EQ(volume->getVolume(percent), 1);
    EXPECT_EQ(volume->getVolume(percent), 1);
    EXPECT_EQ(percent, 30u);
    EXPECT_EQ(state.finds, 3);  // cached after the first success

    volume->closeMixer();
    EXPECT_EQ(state.closes, 1);
    EXPECT_FALSE(state.open);
    EXPECT_EQ(volume->getVolume(percent), 1);  // opens and looks up again
    EXPECT_EQ(state.opens, 2);
    EXPECT_EQ(state.finds, 4);
}

TEST(VolumeControl, EveryFailingMixerCallFailsTheOperation) {
    {
        FakeMixer::State state;
        state.openFails = true;
        auto volume = makeControl(state);
        std::uint32_t percent = 0;
        EXPECT_EQ(volume->openMixer(), 0);
        EXPECT_EQ(volume->getVolume(percent), 0);
        EXPECT_EQ(volume->setVolume(50), 0);
        state.openFails = false;
        EXPECT_EQ(volume->openMixer(), 1);
        EXPECT_EQ(volume->openMixer(), 1);
        EXPECT_EQ(state.opens, 4);  // an open mixer is not opened again
    }
    {
        FakeMixer::State state;
        state.getFails = true;
        state.setFails = true;
        auto volume = makeControl(state);
        std::uint32_t percent = 0;
        EXPECT_EQ(volume->getVolume(percent), 0);
        EXPECT_EQ(volume->setVolume(50), 0);
    }
    {
        // A control whose range is empty cannot be scaled.
        FakeMixer::State state;
        state.minimum = state.maximum = 10;
        auto volume = makeControl(state);
        std::uint32_t percent = 0;
        EXPECT_EQ(volume->getVolume(percent), 0);
        EXPECT_EQ(volume->setVolume(50), 0);
    }
    {
        VolumeControl noMixer(nullptr);
        std::uint32_t percent = 0;
        EXPECT_EQ(noMixer.openMixer(), 0);
        EXPECT_EQ(noMixer.getVolume(percent), 0);
        EXPECT_EQ(noMixer.setVolume(50), 0);
        noMixer.closeMixer();
    }
}

TEST(VolumeControl, TheSystemMixerAnswersOrFailsCleanly) {
    // Without a sound card every call fails; with one the reading is a percentage. The test
    // never changes the machine's volume.
    VolumeControl volume(platform::makeAlsaMixer());
    std::uint32_t percent = 0;
    if (volume.getVolume(percent) == 0) {
        EXPECT_EQ(volume.setVolume(50), 0);
        volume.closeMixer();
        EXPECT_EQ(volume.getVolume(percent), 0);
        return;
    }
    EXPECT_LE(percent, 100u);
    volume.closeMixer();
}
