#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

// Where the frames of an exported stretch fall on the video's clock.

namespace korvex {

// The viewer's normal pace (speed position 3): one frame every 200 ms. A frame lasts this long
// when the recording tells nothing better.
inline constexpr std::int64_t kNormalFrameMs = 200;

// Frames of a recording without a sound track, at the pace of the recorder's capture times.
//
// The times are whole seconds. The frames stamped with one second share it evenly; a second cut
// short at the recording's start or end takes the pace of the second beside it. The last frame of
// a second is held until the next stamped second begins, so a gap in the recording stays a gap.
// A frame without a valid time, or whose time runs backwards, belongs to the second before it; a
// single frame stamped far ahead of the frames that follow it counts as one without a time. Where
// the times say nothing (none, a single second, or more than `maxGroup` frames in one second),
// frames follow each other at the viewer's normal pace.
//
// Only a window of times around the current frame is kept, so the memory does not grow with the
// stretch.
class RecorderTimePacer {
public:
    // The valid capture time in seconds of source frame `index` (0 .. count - 1); none when the
    // frame has none. Asked at most once per frame while the pacer runs forward.
    using TimeOf = std::function<std::optional<std::int64_t>(int index)>;

    RecorderTimePacer(int count, int first, TimeOf timeOf, int maxGroup = 1000);

    // Microseconds from the stretch's first frame to frame `index`. Indices ascend from `first`.
    std::int64_t positionUs(int index);
    // How long the frame last asked for is shown when nothing follows it: its share of its
    // second, or the normal pace.
    std::int64_t lastDurationUs() const { return spacingUs_; }

private:
    std::optional<std::int64_t> rawTime(int index);
    // The frame's time as a second of its own may begin there: valid, and not an outlier that
    // the frames after it contradict.
    std::optional<std::int64_t> boundaryTime(int index);
    // The first index in (from, limit) whose time begins a second later than `after` (or any
    // timed second when `after` is none); -1 when none does.
    int nextBoundary(int from, std::optional<std::int64_t> after, int limit);
    void startFirstGroup();
    // `overFull`: the rest of a second that held more than maxGroup frames (the normal pace).
    void startGroupAt(int start, std::optional<std::int64_t> time, std::int64_t secondStartUs,
                      bool overFull);
    void forgetBefore(int index);

    const int count_;
    const int first_;
    TimeOf timeOf_;
    const int maxGroup_;

    // Times fetched so far, from windowStart_ on.
    std::deque<std::optional<std::int64_t>> window_;
    int windowStart_ = 0;

    bool started_ = false;
    int groupStart_ = 0;
    int groupEnd_ = 0;  // exclusive
    std::optional<std::int64_t> groupTime_;
    std::int64_t secondStartUs_ = 0;  // where the group's second begins
    std::int64_t firstOffsetUs_ = 0;  // of the group's first frame within its second
    std::int64_t spacingUs_ = kNormalFrameMs * 1000;
    int previousCount_ = 0;  // frames of the second before, 0 when unknown
    std::int64_t lastUs_ = -1;
    std::int64_t originUs_ = 0;
};

// The sound clock of a recording with a sound track: each frame at its millisecond offset,
// counted from the stretch's first frame, as the viewer plays it in step with the sound.
struct SoundClockTimes {
    std::int64_t firstOffsetMs = 0;
    std::int64_t positionMs(std::uint32_t offsetMs) const {
        return static_cast<std::int64_t>(offsetMs) - firstOffsetMs;
    }
};

}  // namespace korvex
