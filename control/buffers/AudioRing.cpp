#include "control/buffers/AudioRing.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace picvox {

std::size_t AudioRing::sizeFor(std::uint32_t avgBytesPerSec, int cacheTimeMs) {
    constexpr std::uint64_t kInFlightMs = 8000;
    const std::uint64_t ms =
        2 * static_cast<std::uint64_t>(cacheTimeMs > 0 ? cacheTimeMs : 0) + kInFlightMs;
    const std::uint64_t bytes = ms * avgBytesPerSec / 1000;
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(bytes, kControlSize, static_cast<std::uint64_t>(kMaxSize)));
}

bool AudioRing::Allocate(std::size_t size) {
    if (size == 0)
        return false;
    std::unique_ptr<std::uint8_t[]> fresh(new (std::nothrow) std::uint8_t[size]);
    if (!fresh)
        return false;
    std::lock_guard<std::mutex> guard(lock_);
    storage_ = std::move(fresh);
    size_ = size;
    read_ = 0;
    write_ = 0;
    return true;
}

std::size_t AudioRing::heldLocked() const {
    if (!storage_)
        return 0;
    return write_ >= read_ ? write_ - read_ : write_ + size_ - read_;
}

bool AudioRing::Put(const void* data, std::size_t len) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!storage_)
        return false;
    std::size_t freeBytes = size_ - heldLocked();
    if (freeBytes <= len)
        return false;
    if (len == 0)
        return true;
    if (!data)
        return false;
    const auto* src = static_cast<const std::uint8_t*>(data);
    std::size_t first = std::min(len, size_ - write_);
    std::memcpy(storage_.get() + write_, src, first);
    if (len > first)
        std::memcpy(storage_.get(), src + first, len - first);
    write_ = (write_ + len) % size_;
    return true;
}

bool AudioRing::Get(void* destination, std::size_t len) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!storage_)
        return false;
    if (heldLocked() < len)
        return false;
    if (len == 0)
        return true;
    if (!destination)
        return false;
    auto* dst = static_cast<std::uint8_t*>(destination);
    std::size_t first = std::min(len, size_ - read_);
    std::memcpy(dst, storage_.get() + read_, first);
    if (len > first)
        std::memcpy(dst + first, storage_.get(), len - first);
    read_ = (read_ + len) % size_;
    return true;
}

std::size_t AudioRing::DataSize() const {
    std::lock_guard<std::mutex> guard(lock_);
    return heldLocked();
}

void AudioRing::Release() {
    std::lock_guard<std::mutex> guard(lock_);
    storage_.reset();
    size_ = 0;
    read_ = 0;
    write_ = 0;
}

bool AudioRing::allocated() const {
    std::lock_guard<std::mutex> guard(lock_);
    return storage_ != nullptr;
}

std::size_t AudioRing::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return size_;
}

}  // namespace picvox
