#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace platform {

// Stand-in for a movable, zero-initialised global memory block. Locking is a no-op: the bytes
// never move. The block is move-only, so ownership passes to whoever receives it and the last
// owner frees it.
class GlobalBlock {
public:
    GlobalBlock() = default;

    // Zero-filled block of `size` bytes; an empty block when the allocation fails.
    static GlobalBlock allocate(std::size_t size) {
        GlobalBlock b;
        if (size == 0)
            return b;
        b.bytes_.reset(new (std::nothrow) std::uint8_t[size]());
        if (b.bytes_)
            b.size_ = size;
        return b;
    }

    GlobalBlock(GlobalBlock&& other) noexcept
        : bytes_(std::move(other.bytes_)), size_(other.size_) {
        other.size_ = 0;
    }
    GlobalBlock& operator=(GlobalBlock&& other) noexcept {
        bytes_ = std::move(other.bytes_);
        size_ = other.size_;
        other.size_ = 0;
        return *this;
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    explicit operator bool() const { return size_ != 0; }
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }

    std::uint8_t* lock() { return bytes_.get(); }
    const std::uint8_t* lock() const { return bytes_.get(); }
    void unlock() const {}

    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }

    void reset() {
        bytes_.reset();
        size_ = 0;
    }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
};

}  // namespace platform
