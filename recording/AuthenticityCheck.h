#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
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

// Why the check cannot run on a file: the parts it reads its sums from are not where the
// recorder puts them. A file that decodes may still be refused, and one that does not decode (a
// JPEG cut inside its coded data) may still be checked: the check reads bytes, not pictures.
enum class CheckRefusal {
    None,
    TooShort,             // fewer than 2 bytes
    NotJp2,               // no JP2 signature and file-type box (a raw code-stream, say)
    NoStartOfData,        // no FF 93 after them
    NoEndOfCodestream,    // no FF D9 after the start of data: a JPEG 2000 file cut short
    NotJpeg,              // no FF D8 at the start
    NoQuantisationTable,  // no FF DB before the end, or its entries cut off
    NoStartOfScan,        // no FF DA after the table
};
// The refusal in a few words, for reports ("no end marker FF D9: the file is cut short").
const char* checkRefusalText(CheckRefusal refusal);

// Calendar time of 2000-01-01 00:00:00 local time plus `seconds`. Depends on the process time
// zone, which the programs fix to UTC+9 at start-up.
std::int64_t dvrSecondsToTime(std::uint32_t seconds);

// Where the checked parts of a JPEG 2000 frame lie, found exactly as the check finds them; the
// trailer writers and the control's trailer accessors use the same places.
struct J2kLayout {
    std::size_t start = 0;         // first byte after the first FF 93 (start of the tile data)
    std::size_t end = 0;           // first byte after the first FF D9 that follows: the trailer
    std::uint32_t length = 0;      // bytes from start up to, not including, that FF D9
    std::uint32_t pictureSum = 0;  // 32-bit sum of those bytes
};

// Field offsets within the JPEG 2000 trailer, counted from the byte after FF D9.
inline constexpr std::size_t kJ2kTrailerSize = 20;       // with the time fields
inline constexpr std::size_t kJ2kShortTrailerSize = 14;  // start, length, checksum, offsetMs
inline constexpr std::size_t kJ2kTimeChecksumAt = 0;
inline constexpr std::size_t kJ2kTimeAt = 2;
inline constexpr std::size_t kJ2kStartAt = 6;  // in the short form these three move up by 6
inline constexpr std::size_t kJ2kLengthAt = 10;
inline constexpr std::size_t kJ2kPictureChecksumAt = 14;

// Empty when the file is not a JP2 file of the recorder's shape (the check does not run); `why`,
// when given, then says what was missing.
std::optional<J2kLayout> locateJ2k(std::span<const std::uint8_t> file, CheckRefusal* why = nullptr);

// The time checksum of the JPEG 2000 trailer: picture sum plus the four bytes of the time.
std::uint16_t j2kTimeChecksum(std::uint32_t pictureSum, std::uint32_t dvrSeconds);

// Where the checked parts of a JPEG frame lie, found exactly as the check finds them.
struct JpegLayout {
    std::array<std::uint8_t, 4> tableTail{};  // entries 60 to 63 of the first quantisation table
    std::size_t codedStart = 0;               // first byte of entropy-coded data
    bool endFound = false;                    // false: the coded data runs off the end of the file
    std::size_t end = 0;                      // first byte after the first FF D9 of the coded data
    std::size_t trailerStart = 0;             // first byte after the fill
    bool fillHasDqt = false;                  // the pair FF DB turned up in the fill
    std::uint16_t pictureSum = 0;             // big-endian word sum of the coded data through FF D9
};

inline constexpr std::size_t kJpegFillBlock = 32;
inline constexpr std::size_t kJpegTrailerSize = 16;       // time sum, time, checksum, table, ms
inline constexpr std::size_t kJpegShortTrailerSize = 10;  // checksum, table, ms

std::optional<JpegLayout> locateJpeg(std::span<const std::uint8_t> file,
                                     CheckRefusal* why = nullptr);

std::uint16_t jpegTimeChecksum(std::uint16_t pictureSum, std::uint32_t dvrSeconds);

// Steps of the JPEG 2000 check as they happen, for a caller that reports them (the control logs
// each one). Every method has an empty default.
class J2kCheckListener {
public:
    virtual ~J2kCheckListener() = default;
    virtual void startFound(std::size_t /*start*/) {}
    virtual void lengthSummed(std::uint32_t /*length*/) {}
    virtual void trailerTooShort(std::size_t /*remaining*/) {}
    virtual void validTime(std::uint32_t /*dvrSeconds*/) {}
    virtual void startMismatch() {}
    virtual void lengthMismatch() {}
    virtual void pictureChecksumMismatch(std::uint16_t /*computed*/,
                                         std::array<std::uint8_t, 2> /*stored*/) {}
    virtual void timeChecksumMismatch(std::uint16_t /*computed*/, std::uint16_t /*stored*/) {}
};

// How the JPEG 2000 check turns a stored time into calendar time (the viewer: local time of the
// process zone; the control: the stored wall-clock time taken as universal time).
using DvrTimeConverter = std::int64_t (*)(std::uint32_t dvrSeconds);

// Each returns true when the check ran (result filled), false when it could not run. The result
// is reset on entry either way.
bool checkJpeg2000(std::span<const std::uint8_t> file, CheckResult& result);
bool checkJpeg2000(std::span<const std::uint8_t> file, CheckResult& result, DvrTimeConverter toTime,
                   J2kCheckListener* listener);
bool checkJpeg(std::span<const std::uint8_t> file, CheckResult& result);
bool checkBytes(std::span<const std::uint8_t> file, CheckVariant variant, CheckResult& result);
// Why checkBytes cannot run on `file`; CheckRefusal::None when it runs.
CheckRefusal checkRefusal(std::span<const std::uint8_t> file, CheckVariant variant);
// Reads the whole file (bounded) and checks it; false when it cannot be read.
bool checkFile(const std::string& path, CheckVariant variant, CheckResult& result);

}  // namespace korvex
