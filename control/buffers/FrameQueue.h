#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/GlobalBlock.h"

namespace picvox {

// Where the queue asks for a repaint of the control's whole window (no erase). Called with the
// control lock held, so an implementation only schedules the repaint; painting takes that lock.
class RepaintTarget {
public:
    virtual ~RepaintTarget() = default;
    virtual void invalidateWindow() = 0;
};

// The decoded pictures between the download thread, the main process thread and the painting
// code, each with an index value and its presentation time (whole seconds of time()). Every
// operation takes the control lock.
class FrameQueue {
public:
    struct Picture {
        std::shared_ptr<const platform::GlobalBlock> block;  // a bitmap file image
        std::int32_t index = 0;
        std::int64_t time = 0;
    };

    // Most pictures a queue holds: 20 per second of the longest cache time a mode accepts.
    static constexpr int kMaxCapacity = 600;

    // 20 pictures per whole second of cache time, 10 when it is 0. A negative cache time holds
    // nothing, a longer one than 30 s no more than kMaxCapacity.
    static int capacityFor(std::int32_t cacheTimeMs);

    // `repaint` may be null (no window yet); it must outlive the queue.
    FrameQueue(int capacity, RepaintTarget* repaint, std::mutex& controlLock);

    // False, keeping nothing, when the queue is full.
    bool Push(platform::GlobalBlock block, std::int32_t index, std::int64_t time);
    // Shows the newest picture whose time has come (t = 0: the first one); see the .cpp.
    bool ShowAt(std::int64_t t);
    // Makes this picture the only one queued (picture-only runs).
    bool Replace(platform::GlobalBlock block, std::int32_t index, std::int64_t time);
    bool ShowFirst();
    void Clear();

    // The picture to paint, under the control lock. Returns false when there is none; `paint`
    // runs with the lock held and must not call back into the queue.
    template <class Fn>
    bool withCurrentPicture(Fn&& paint) const {
        std::lock_guard<std::mutex> guard(lock_);
        if (!current_.block || current_.block->empty())
            return false;
        paint(*current_.block, current_.index, current_.time);
        return true;
    }

    int capacity() const { return capacity_; }
    std::size_t size() const;
    // The current picture's index and time (0, 0 when none).
    std::int32_t currentIndex() const;
    std::int64_t currentTime() const;

private:
    void invalidate();

    const int capacity_;
    RepaintTarget* repaint_;
    std::mutex& lock_;
    std::vector<Picture> entries_;
    Picture current_;
};

}  // namespace picvox
