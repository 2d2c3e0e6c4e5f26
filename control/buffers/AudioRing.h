#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace picvox {

// PCM bytes from the download thread to the sound feeder. One slot always stays free, so a ring
// of N bytes holds at most N - 1 and read == write means empty. Each call holds the ring's own
// lock for its whole length, so a Get never sees half a Put.
class AudioRing {
public:
    // The smallest ring the control gives a run, and the largest.
    static constexpr std::size_t kControlSize = 0x80000;
    static constexpr std::size_t kMaxSize = 64u << 20;
    // A ring for sound of `avgBytesPerSec` that holds twice the cache time and the segments on
    // their way (eight seconds more), so that the fill can pass the correction's upper band
    // without an overflow dropping sound. Between kControlSize and kMaxSize.
    static std::size_t sizeFor(std::uint32_t avgBytesPerSec, int cacheTimeMs);

    AudioRing() = default;
    AudioRing(const AudioRing&) = delete;
    AudioRing& operator=(const AudioRing&) = delete;

    // (Re)allocates `size` bytes of storage, empty; false when out of memory or size is 0.
    bool Allocate(std::size_t size);
    // Copies all `len` bytes in, or nothing (false) when there is no storage or not more than
    // `len` bytes free.
    bool Put(const void* data, std::size_t len);
    // Copies exactly `len` bytes out, or nothing (false) when fewer are held.
    bool Get(void* destination, std::size_t len);
    std::size_t DataSize() const;
    void Release();

    bool allocated() const;
    std::size_t size() const;

private:
    std::size_t heldLocked() const;

    mutable std::mutex lock_;
    std::unique_ptr<std::uint8_t[]> storage_;
    std::size_t size_ = 0;
    std::size_t read_ = 0;
    std::size_t write_ = 0;
};

}  // namespace picvox
