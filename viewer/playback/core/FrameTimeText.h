#pragma once

#include <cstdint>
#include <string>

namespace korvex {

// The stored "DateFormat": the order of the date's fields.
enum DateOrder : std::int32_t {
    kMonthDayYear = 0,
    kDayMonthYear = 1,
    kYearMonthDay = 2,
};

// Delimiter 0, 1, 2 of the date is "/", "-", "."; other values read as "/".
char dateDelimiterChar(int delimiter);

// A frame's capture time (seconds since 1970) as the overlays and the control panel show it, in
// the process time zone (the recorders' wall clock, fixed at start-up):
//   0 "MM/DD/YYYY hh:mm:ss", 1 "DD/MM/YYYY hh:mm:ss", 2 "YYYY/MM/DD hh:mm:ss", the date's fields
// separated by "/", "-" or "." for `dateDelimiter` 0, 1, 2 (any other value reads as "/").
// Empty for an unknown `dateFormat` or a time the calendar cannot hold.
std::string FormatFrameTime(std::int64_t time, std::int32_t dateFormat, std::int32_t dateDelimiter);

// What the overlay writes over one picture.
struct OverlayTextInput {
    std::int64_t time = 0;         // 0: none
    std::int32_t frameFlags = -1;  // the frame's check flags
    std::string title;             // the camera title of the frame's channel
    bool showCameraTitle = true;   // View > Camera Title
    bool hasChannelInfo = false;   // the recording has an INFO table
    std::int32_t dateFormat = 0;
    std::int32_t dateDelimiter = 0;
};
// Empty without a time or for a frame without a valid time; else the title and two spaces when
// titles are shown and the recording names its channels, then the time.
std::string overlayText(const OverlayTextInput& input);

}  // namespace korvex
