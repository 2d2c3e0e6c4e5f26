#include "control/buffers/WaveSaveQueue.h"

#include <utility>

namespace picvox {

WaveSaveQueue::WaveSaveQueue(std::size_t slots) : ring_(slots) {}

bool WaveSaveQueue::Push(WavClip&& clip) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ring_.empty())
        return false;
    const std::size_t next = (write_ + 1) % ring_.size();
    if (next == read_)
        return false;
    ring_[write_] = std::move(clip);
    write_ = next;
    return true;
}

bool WaveSaveQueue::Pop(WavClip& clip) {
    std::lock_guard<std::mutex> guard(lock_);
    if (read_ == write_)
        return false;
    clip = std::move(ring_[read_]);
    ring_[read_] = WavClip{};
    read_ = (read_ + 1) % ring_.size();
    return true;
}

std::size_t WaveSaveQueue::slots() const {
    return ring_.size();
}

std::size_t WaveSaveQueue::held() const {
    std::lock_guard<std::mutex> guard(lock_);
    return write_ >= read_ ? write_ - read_ : write_ + ring_.size() - read_;
}

}  // namespace picvox
