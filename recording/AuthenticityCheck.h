#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

namespace korvex {

// Flag bits of a check.
inline constexpr std::int32_t kPictureAltered = 1;
inline constexpr std::int32_t kTimeAltered = 2;
inline constexpr std::int32_t kNoValidTime = 4;
inline constexpr std::int32_t kNoTrailer = 7;
inline constexpr std::int32_t kTrailerCutInTime = 3;

// Capture times count seconds since 2000-01-01 00:00:00 recorder wall-clock time; this many
// seconds (30 x 365 days) and more are invalid.
inline constexpr std::uint32_t kMaxDvrSeconds = 946080000u;

struct CheckResult {
    std::int32_t flags = 0;
    std::int64_t time = 0;  // calendar time (seconds since 1970 UTC), 0 = none
    std::uint32_t offsetMs = 0;
};

enum class CheckVariant { Jpeg, Jpeg2000 };

// Calendar time of 2000-01-01 00:00:00 local time plus `seconds`. Depends on the process time
// zone, which the programs fix to UTC+9 at start-up.
std::int64_t dvrSecondsToTime(std::uint32_t seconds);

// Each returns true when the check ran (result filled), false when it could not run.
bool checkJpeg2000(std::span<const std::uint8_t> file, CheckResult& result);
bool checkJpeg(std::span<const std::uint8_t> file, CheckResult& result);
bool checkBytes(std::span<const std::uint8_t> file, CheckVariant variant, CheckResult& result);
// Reads the whole file (bounded) and checks it; false when it cannot be read.
bool checkFile(const std::string& path, CheckVariant variant, CheckResult& result);

}  // namespace korvex
