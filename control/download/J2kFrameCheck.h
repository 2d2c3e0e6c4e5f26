#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "recording/AuthenticityCheck.h"

namespace picvox {

// The authenticity check of a downloaded JPEG 2000 frame (the viewer's JPEG 2000 variant), with
// a log line for each step under the tag "J2KCHK". Flags are set to 0 on entry; time and offsetMs
// are written only when the trailer supplies them. The time is the stored wall-clock time taken
// as universal time (946684800 + seconds), so that breaking it down as universal time gives the
// recorder's clock back. 1 when the check ran, 0 when the file is not of the recorder's shape.
int CheckJ2kFrame(const std::uint8_t* file, std::size_t length, korvex::CheckResult& result);

// The check of the frame file at `path` (read whole, up to a bound far above any frame): true
// when the check ran. The file has a capture time when it ran and FrameHasTime says so; a
// frame's time is decided by this, never by the text ReadAbsoluteTime makes of it.
bool CheckJ2kFile(const std::string& path, korvex::CheckResult& result);
inline bool FrameHasTime(const korvex::CheckResult& result) {
    // A trailer cut inside its time fields (flags 3) supplies no time either.
    return (result.flags & korvex::kNoValidTime) == 0 && result.time != 0;
}

// Order of the date in a frame time text (the control's TimestampOrder property).
inline constexpr int kOrderMonthDayYear = 0;
inline constexpr int kOrderDayMonthYear = 1;
inline constexpr int kOrderYearMonthDay = 2;

// A check's time (calendar seconds, taken as universal time) as the text of the order; empty for
// a time of 0 or an order that is not one of the three.
std::string FormatAbsoluteTime(std::int64_t time, int order, std::string_view delimiter);
inline bool IsTimestampOrder(int order) {
    return order >= kOrderMonthDayYear && order <= kOrderYearMonthDay;
}

// The capture time of the frame file at `path` as text, e.g. "2000/01/01 00:00:00" (order 2,
// delimiter "/"). The text is empty when the file cannot be read, is no frame, carries no valid
// time, or the order is unknown; the saver keeps only frames with a text. Always 0.
int ReadAbsoluteTime(std::string& text, int order, std::string_view delimiter,
                     const std::string& path);

// Trailer accessors of a cached frame file. Each opens and closes the file itself and returns 1
// on success, 0 when the file cannot be opened or is too short to hold the field. None of them
// creates a file.
//
// The relative time (the frame's offsetMs) is always the file's last four bytes.
int ReadRelTime(const std::string& path, std::uint32_t& relTimeMs);
int WriteRelTime(const std::string& path, std::uint32_t relTimeMs);
// The set time is the trailer's capture time (seconds since 2000-01-01 00:00:00). Its place is
// found from the end marker as the check finds it, so neither the picture nor the other trailer
// fields can be hit. ReadSetTime fails for a frame without time fields. WriteSetTime renews the
// time checksum from the stored picture checksum; a frame with the 14-byte trailer without time
// fields (the black picture) gets the two time fields put in front of it.
int ReadSetTime(const std::string& path, std::uint32_t& dvrSeconds);
int WriteSetTime(const std::string& path, std::uint32_t dvrSeconds);

// The 490-byte black JPEG 2000 picture (720 x 248) that starts a save before any real picture:
// a trailer without time fields whose relative time is 0.
std::span<const std::uint8_t> BlackPicture();
// Writes the black picture to `path` (created or truncated); 1 on success, 0 when the file cannot
// be written.
int WriteBlackPicture(const std::string& path);

}  // namespace picvox
