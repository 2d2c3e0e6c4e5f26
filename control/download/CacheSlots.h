#pragma once

#include <cstdint>
#include <string>

#include "control/download/HttpThreadParams.h"

namespace picvox {

// The cache keeps pictures in "<cache>/J2K2/NN.jp2" (with the download start time of each in
// "NN.txt") and sound segments in "<cache>/WAVE2/NN.wav". Slots 1 to 99 form a ring; picture
// slot 0 holds only the black picture.
inline constexpr int kLastSlot = 99;
enum class SlotKind { Sound = 0, Picture = 1 };

inline int NextSlot(int n) {
    return n >= 1 && n < kLastSlot ? n + 1 : 1;
}
inline int PrevSlot(int n) {
    return n == 1 ? kLastSlot : n - 1;
}
// NextSlot steps from `from` to `to`: 0 when they are equal or `to` is not a ring slot (1 to 99).
// Any other `from` (the black picture's 0) steps to 1 first, as NextSlot does.
inline int RingDistance(int from, int to) {
    if (to < 1 || to > kLastSlot)
        return 0;
    if (from < 1 || from > kLastSlot)
        return to;
    return (to - from + kLastSlot) % kLastSlot;
}

std::string PictureFolder(const std::string& cache);
std::string SoundFolder(const std::string& cache);
std::string PictureSlotPath(const std::string& cache, int slot);
std::string StartTimePath(const std::string& cache, int slot);
std::string SoundSlotPath(const std::string& cache, int slot);
std::string SlotPath(const std::string& cache, int slot, SlotKind kind);

// A slot file's creation time in 100-ns units; 0 when the file cannot be read. Where the file
// system keeps no birth time (or `clock` asks for it), the modification time stands in.
std::uint64_t SlotTime(const std::string& path, SlotClock clock);

// Calls `fn(number, time)` for every entry of `folder` whose name is exactly 6 characters long;
// `number` is the value of its first two characters when both are digits, else -1. The J2K2
// scans therefore see the start-time records too.
template <class Fn>
void ScanSlotFolder(const std::string& folder, SlotClock clock, Fn&& fn);

// The slot of the most recently written file of a folder (1 to 99); 0 when there is none.
int LatestSlot(const CacheLocation& cache, SlotKind kind);
// Moves `slot` to PrevSlot and returns that file's time when it exists and is not later than
// `reference`; otherwise leaves `slot` and returns 0.
std::uint64_t StepSlotBack(const CacheLocation& cache, int& slot, std::uint64_t reference,
                           SlotKind kind);
// The same forwards (NextSlot), accepting a file not earlier than `reference`.
std::uint64_t StepSlotForward(const CacheLocation& cache, int& slot, std::uint64_t reference,
                              SlotKind kind);
// The slot of the newest file of the folder that is earlier than `time`; 0 when none.
int NewestSlotBefore(const CacheLocation& cache, SlotKind kind, std::uint64_t time);

// The start-time record of a picture slot: the calendar time its download began, 4 bytes.
// WriteStartTime creates the record anew (1 success, 0 failure); GetImgStartTime gives 0 when
// it cannot be read.
int WriteStartTime(const std::string& cache, int slot, std::int64_t time);
std::int64_t GetImgStartTime(const std::string& cache, int slot);

namespace detail {
bool scanFolder(const std::string& folder, SlotClock clock,
                void (*cb)(void*, int number, std::uint64_t time), void* ctx);
}

template <class Fn>
void ScanSlotFolder(const std::string& folder, SlotClock clock, Fn&& fn) {
    detail::scanFolder(
        folder, clock,
        [](void* ctx, int number, std::uint64_t time) {
            (*static_cast<std::remove_reference_t<Fn>*>(ctx))(number, time);
        },
        &fn);
}

}  // namespace picvox
