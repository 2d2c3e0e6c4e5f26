#include "viewer/playback/core/FrameTimeText.h"

#include <cstdio>
#include <ctime>

#include "viewer/playback/core/PaneGeometry.h"

namespace korvex {

char dateDelimiterChar(int delimiter) {
    switch (delimiter) {
        case 1:
            return '-';
        case 2:
            return '.';
        default:
            return '/';
    }
}

std::string FormatFrameTime(std::int64_t time, std::int32_t dateFormat,
                            std::int32_t dateDelimiter) {
    if (dateFormat != kMonthDayYear && dateFormat != kDayMonthYear && dateFormat != kYearMonthDay)
        return {};
    const auto t = static_cast<std::time_t>(time);
    if (static_cast<std::int64_t>(t) != time)
        return {};
    std::tm f{};
    if (localtime_r(&t, &f) == nullptr)
        return {};
    const char d = dateDelimiterChar(dateDelimiter);
    const int year = f.tm_year + 1900;
    const int month = f.tm_mon + 1;
    char text[64];
    int n = 0;
    switch (dateFormat) {
        case kMonthDayYear:
            n = std::snprintf(text, sizeof text, "%02d%c%02d%c%d %02d:%02d:%02d", month, d,
                              f.tm_mday, d, year, f.tm_hour, f.tm_min, f.tm_sec);
            break;
        case kDayMonthYear:
            n = std::snprintf(text, sizeof text, "%02d%c%02d%c%d %02d:%02d:%02d", f.tm_mday, d,
                              month, d, year, f.tm_hour, f.tm_min, f.tm_sec);
            break;
        default:
            n = std::snprintf(text, sizeof text, "%d%c%02d%c%02d %02d:%02d:%02d", year, d, month, d,
                              f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
            break;
    }
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof text)
        return {};
    return text;
}

std::string overlayText(const OverlayTextInput& input) {
    if (input.time == 0 || (input.frameFlags & kFlagNoValidTime) != 0)
        return {};
    const std::string time = FormatFrameTime(input.time, input.dateFormat, input.dateDelimiter);
    if (time.empty())
        return {};
    if (input.showCameraTitle && input.hasChannelInfo)
        return input.title + "  " + time;
    return time;
}

}  // namespace korvex
