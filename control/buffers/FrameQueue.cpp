#include "control/buffers/FrameQueue.h"

#include <algorithm>

namespace picvox {

int FrameQueue::capacityFor(std::int32_t cacheTimeMs) {
    if (cacheTimeMs == 0)
        return 10;
    if (cacheTimeMs < 0)
        return 0;
    // Integer division first: 5999 ms gives 100 like 5000 ms. Each entry is a picture of about
    // a megabyte, so the modes that skip the cache-time check must not size the queue from an
    // unchecked value.
    std::int64_t capacity = std::int64_t{cacheTimeMs / 1000} * 20;
    return static_cast<int>(std::min<std::int64_t>(capacity, kMaxCapacity));
}

FrameQueue::FrameQueue(int capacity, RepaintTarget* repaint, std::mutex& controlLock)
    : capacity_(std::clamp(capacity, 0, kMaxCapacity)), repaint_(repaint), lock_(controlLock) {
    // Room for one entry always: Replace needs it even when the capacity is 0.
    entries_.reserve(static_cast<std::size_t>(std::max(capacity_, 1)));
}

void FrameQueue::invalidate() {
    if (repaint_)
        repaint_->invalidateWindow();
}

bool FrameQueue::Push(platform::GlobalBlock block, std::int32_t index, std::int64_t time) {
    auto shared = std::make_shared<const platform::GlobalBlock>(std::move(block));
    std::lock_guard<std::mutex> guard(lock_);
    if (entries_.size() >= static_cast<std::size_t>(capacity_))
        return false;
    entries_.push_back(Picture{std::move(shared), index, time});
    return true;
}

bool FrameQueue::ShowAt(std::int64_t t) {
    std::lock_guard<std::mutex> guard(lock_);
    if (entries_.empty())
        return false;
    std::size_t found = 0;
    if (t != 0) {
        bool any = false;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].time <= t) {
                found = i;
                any = true;
            }
        }
        if (!any)
            return false;
    }
    // With no current picture yet, an entry whose time happens to be 0 (the black picture of
    // slot 0) is still shown rather than taken for the current one.
    bool hasCurrent = current_.block != nullptr;
    if (!hasCurrent || entries_[found].time != current_.time) {
        current_ = entries_[found];
        // The superseded pictures go; the current one stays as entry 0.
        entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(found));
        invalidate();
    }
    return true;
}

bool FrameQueue::Replace(platform::GlobalBlock block, std::int32_t index, std::int64_t time) {
    auto shared = std::make_shared<const platform::GlobalBlock>(std::move(block));
    std::lock_guard<std::mutex> guard(lock_);
    // The current picture keeps its own reference, so painting between this and ShowFirst still
    // finds a live block.
    entries_.clear();
    entries_.push_back(Picture{std::move(shared), index, time});
    return true;
}

bool FrameQueue::ShowFirst() {
    std::lock_guard<std::mutex> guard(lock_);
    if (entries_.empty() || !entries_.front().block)
        return false;
    current_ = entries_.front();
    invalidate();
    return true;
}

void FrameQueue::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
    entries_.shrink_to_fit();
    current_ = Picture{};
}

std::size_t FrameQueue::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

std::int32_t FrameQueue::currentIndex() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_.index;
}

std::int64_t FrameQueue::currentTime() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_.time;
}

}  // namespace picvox
