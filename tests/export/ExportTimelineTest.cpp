// The pace of a recording without sound: the recorder's whole-second times spread over their
// seconds, the edges of the recording, gaps, stray and missing times.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "viewer/export/ExportTimeline.h"

namespace {

using korvex::RecorderTimePacer;

constexpr std::int64_t N = -1;  // a frame without a valid time

struct PaceCase {
    const char* name;
    std::vector<std::int64_t> times;     // seconds per frame of the source, N for none
    int first;                           // the stretch's first frame
    std::vector<std::int64_t> expectMs;  // positions of frames first, first + 1, ...
    std::int64_t lastDurationMs;
    int maxGroup = 1000;
};

std::vector<std::int64_t> repeat(std::int64_t second, int n) {
    return std::vector<std::int64_t>(static_cast<std::size_t>(n), second);
}

std::vector<std::int64_t> join(std::initializer_list<std::vector<std::int64_t>> parts) {
    std::vector<std::int64_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<std::int64_t> steps(std::int64_t from, std::int64_t step, int n) {
    std::vector<std::int64_t> out;
    for (int i = 0; i < n; ++i)
        out.push_back(from + step * i);
    return out;
}

class PaceTest : public ::testing::TestWithParam<PaceCase> {};

TEST_P(PaceTest, PositionsFollowTheRecordersSeconds) {
    const PaceCase& c = GetParam();
    std::vector<int> asked(c.times.size(), 0);
    RecorderTimePacer pacer(
        static_cast<int>(c.times.size()), c.first,
        [&](int i) -> std::optional<std::int64_t> {
            ++asked[static_cast<std::size_t>(i)];
            const std::int64_t t = c.times[static_cast<std::size_t>(i)];
            return t == N ? std::nullopt : std::optional<std::int64_t>(t);
        },
        c.maxGroup);
    std::vector<std::int64_t> got;
    for (std::size_t k = 0; k < c.expectMs.size(); ++k)
        got.push_back((pacer.positionUs(c.first + static_cast<int>(k)) + 500) / 1000);
    EXPECT_EQ(got, c.expectMs);
    EXPECT_EQ((pacer.lastDurationUs() + 500) / 1000, c.lastDurationMs);
    // Each frame's time is read once: a recording without an index pays one read per frame.
    for (std::size_t i = 0; i < asked.size(); ++i)
        EXPECT_LE(asked[i], 1) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, PaceTest,
    ::testing::Values(
        PaceCase{"tenASecond", join({repeat(0, 10), repeat(1, 10), repeat(2, 10)}), 0,
                 steps(0, 100, 30), 100},
        // The recording began late in its first second: those frames end where the next
        // second begins, at the next second's pace.
        PaceCase{"firstSecondCutShort", join({repeat(5, 3), repeat(6, 10), repeat(7, 10)}), 0,
                 steps(0, 100, 23), 100},
        // The last second holds two frames only: they keep the pace of the second before.
        PaceCase{"lastSecondCutShort", join({repeat(0, 4), repeat(1, 4), repeat(2, 2)}), 0,
                 steps(0, 250, 10), 250},
        // A stretch from the middle of a second starts at 0 and keeps the second's places.
        PaceCase{"stretchFromMidSecond", join({repeat(0, 10), repeat(1, 10)}), 4, steps(0, 100, 16),
                 100},
        // The last frame of a second is held through a gap until the next stamped second.
        PaceCase{"gapStaysAGap",
                 join({repeat(0, 2), repeat(1, 2), repeat(10, 2)}),
                 0,
                 {0, 500, 1000, 1500, 10000, 10500},
                 500},
        // No times at all, or one second only: the viewer's normal pace.
        PaceCase{"noTimes", repeat(N, 5), 0, steps(0, 200, 5), 200},
        PaceCase{"oneSecondOnly", repeat(3, 20), 0, steps(0, 200, 20), 200},
        // A frame stamped far ahead of the frames after it counts as one without a time, and a
        // frame whose time runs back belongs to the second before it.
        PaceCase{"strayFutureTime",
                 join({repeat(1, 4), {999}, repeat(1, 3), repeat(2, 8), repeat(3, 8)}), 0,
                 steps(0, 125, 24), 125},
        PaceCase{"timeRunsBack", join({{2, 2, 1, 2}, repeat(3, 4), repeat(4, 4)}), 0,
                 steps(0, 250, 12), 250},
        // Frames before the first timed one follow at the normal pace; the first timed second
        // starts one normal step after them.
        PaceCase{"untimedStart", join({repeat(N, 2), repeat(5, 4), repeat(6, 4), repeat(7, 4)}), 0,
                 join({{0, 200}, steps(400, 250, 12)}), 250},
        // More frames in one second than a recorder makes: the normal pace, then the recorder's
        // pace again.
        PaceCase{"overFullSecond", join({repeat(0, 6), repeat(1, 2), repeat(2, 2)}), 0,
                 join({steps(0, 200, 4), steps(800, 200, 2), {1200, 1700, 2200, 2700}}), 500, 4}),
    [](const ::testing::TestParamInfo<PaceCase>& info) { return std::string(info.param.name); });

TEST(SoundClockTimes, CountFromTheStretchsFirstFrame) {
    const korvex::SoundClockTimes clock{1200};
    EXPECT_EQ(clock.positionMs(1200), 0);
    EXPECT_EQ(clock.positionMs(1700), 500);
    EXPECT_EQ(clock.positionMs(1100), -100);  // a frame that runs backwards comes out below 0
}

}  // namespace
