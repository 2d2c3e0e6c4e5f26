#include "viewer/export/ExportTimeline.h"

#include <algorithm>

namespace korvex {

namespace {

constexpr std::int64_t kSecondUs = 1000000;
constexpr std::int64_t kNormalUs = kNormalFrameMs * 1000;
// How many timed frames after a time are asked whether they go on from it.
constexpr int kConfirmingFrames = 3;
constexpr int kConfirmSearch = 8;

}  // namespace

RecorderTimePacer::RecorderTimePacer(int count, int first, TimeOf timeOf, int maxGroup)
    : count_(std::max(0, count)),
      first_(std::clamp(first, 0, std::max(0, count - 1))),
      timeOf_(std::move(timeOf)),
      maxGroup_(std::max(2, maxGroup)) {
    windowStart_ = std::max(0, first_ - maxGroup_ - 1);
}

std::optional<std::int64_t> RecorderTimePacer::rawTime(int index) {
    if (index < 0 || index >= count_)
        return std::nullopt;
    if (index < windowStart_)
        return timeOf_(index);
    while (windowStart_ + static_cast<int>(window_.size()) <= index)
        window_.push_back(timeOf_(windowStart_ + static_cast<int>(window_.size())));
    return window_[static_cast<std::size_t>(index - windowStart_)];
}

void RecorderTimePacer::forgetBefore(int index) {
    while (windowStart_ < index && !window_.empty()) {
        window_.pop_front();
        ++windowStart_;
    }
}

std::optional<std::int64_t> RecorderTimePacer::boundaryTime(int index) {
    const std::optional<std::int64_t> t = rawTime(index);
    if (!t)
        return t;
    // A time the next timed frames all fall short of is a stray one (a frame stamped wrongly).
    int timed = 0;
    int earlier = 0;
    for (int k = index + 1; k < count_ && k <= index + kConfirmSearch && timed < kConfirmingFrames;
         ++k) {
        const std::optional<std::int64_t> next = rawTime(k);
        if (!next)
            continue;
        ++timed;
        if (*next < *t)
            ++earlier;
    }
    if (timed > 0 && earlier == timed)
        return std::nullopt;
    return t;
}

int RecorderTimePacer::nextBoundary(int from, std::optional<std::int64_t> after, int limit) {
    const int end = std::min(limit, count_);
    for (int j = from + 1; j < end; ++j) {
        const std::optional<std::int64_t> t = boundaryTime(j);
        if (t && (!after || *t > *after))
            return j;
    }
    return -1;
}

void RecorderTimePacer::startFirstGroup() {
    // The second the first frame belongs to, and where that second's frames begin.
    const int floor = std::max(0, first_ - maxGroup_);
    std::optional<std::int64_t> time;
    int timedAt = first_;
    for (int k = first_; k >= floor; --k) {
        time = boundaryTime(k);
        if (time) {
            timedAt = k;
            break;
        }
    }
    int start = first_;
    if (time) {
        start = timedAt;
        for (int k = timedAt - 1; k >= floor; --k) {
            const std::optional<std::int64_t> t = boundaryTime(k);
            if (t && *t < *time)
                break;
            if (t && *t == *time)
                start = k;
        }
    }
    // Untimed frames before the first timed one start the stretch themselves (start = first).
    startGroupAt(start, time, 0, false);
}

void RecorderTimePacer::startGroupAt(int start, std::optional<std::int64_t> time,
                                     std::int64_t secondStartUs, bool overFull) {
    groupStart_ = start;
    groupTime_ = time;
    secondStartUs_ = secondStartUs;
    firstOffsetUs_ = 0;
    spacingUs_ = kNormalUs;
    const int previous = previousCount_;
    previousCount_ = 0;

    const int next = nextBoundary(start, time, start + maxGroup_ + 1);
    if (!time || overFull || (next < 0 && start + maxGroup_ < count_)) {
        // No time yet, or one second holds more frames than a recorder makes: the normal pace.
        groupEnd_ = next >= 0 ? next : std::min(count_, start + maxGroup_);
        return;
    }
    groupEnd_ = next >= 0 ? next : count_;
    const int n = groupEnd_ - start;
    const bool atStart = start == 0;
    const bool atEnd = groupEnd_ == count_;
    if (atStart && atEnd)
        return;  // one second only: its frames tell no pace
    spacingUs_ = kSecondUs / n;
    previousCount_ = n;
    if (atStart) {
        // The recording began within this second: its frames take the pace of the next second
        // and end where that one begins.
        const std::optional<std::int64_t> nextTime = boundaryTime(groupEnd_);
        const int after = nextBoundary(groupEnd_, nextTime, groupEnd_ + maxGroup_ + 1);
        const int nextCount = after >= 0                        ? after - groupEnd_
                              : groupEnd_ + maxGroup_ >= count_ ? count_ - groupEnd_
                                                                : 0;
        if (nextCount > n) {
            spacingUs_ = kSecondUs / nextCount;
            firstOffsetUs_ = kSecondUs - n * spacingUs_;
        }
    } else if (atEnd && previous > n) {
        // The recording ended within this second: the pace of the second before.
        spacingUs_ = kSecondUs / previous;
    }
}

std::int64_t RecorderTimePacer::positionUs(int index) {
    if (count_ == 0)
        return 0;
    index = std::clamp(index, 0, count_ - 1);
    if (!started_) {
        started_ = true;
        startFirstGroup();
        originUs_ = secondStartUs_ + firstOffsetUs_ + (first_ - groupStart_) * spacingUs_;
    }
    while (index >= groupEnd_ && groupEnd_ < count_) {
        const std::int64_t lastOfGroup =
            secondStartUs_ + firstOffsetUs_ + (groupEnd_ - 1 - groupStart_) * spacingUs_;
        std::optional<std::int64_t> nextTime = boundaryTime(groupEnd_);
        // The group ended without a later second: what follows is more of an over-full one.
        const bool overFull = groupTime_ && (!nextTime || *nextTime <= *groupTime_);
        if (overFull)
            nextTime = groupTime_;
        std::int64_t start = lastOfGroup + kNormalUs;
        if (groupTime_ && nextTime && !overFull && previousCount_ > 0)
            start =
                std::max(lastOfGroup + 1, secondStartUs_ + (*nextTime - *groupTime_) * kSecondUs);
        forgetBefore(groupEnd_);
        startGroupAt(groupEnd_, nextTime, start, overFull);
    }
    const std::int64_t position =
        secondStartUs_ + firstOffsetUs_ + (index - groupStart_) * spacingUs_;
    lastUs_ = position;
    return position - originUs_;
}

}  // namespace korvex
