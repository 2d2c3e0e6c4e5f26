#include "tools/verify/TimeText.h"

#include <cstdio>
#include <ctime>

namespace korvex::verify {

namespace {

// Civil date of a day count since 1970-01-01 (Howard Hinnant's algorithm, proleptic Gregorian).
void civilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0));
}

}  // namespace

TimeText::TimeText() {
    ::tzset();
    if (daylight == 0) {
        fixedOffset_ = true;
        offsetSeconds_ = -timezone;
    }
}

std::string TimeText::format(std::int64_t time) const {
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (fixedOffset_) {
        const std::int64_t local = time + offsetSeconds_;
        std::int64_t days = local / 86400;
        std::int64_t rest = local % 86400;
        if (rest < 0) {
            rest += 86400;
            --days;
        }
        civilFromDays(days, year, month, day);
        hour = static_cast<unsigned>(rest / 3600);
        minute = static_cast<unsigned>(rest / 60 % 60);
        second = static_cast<unsigned>(rest % 60);
    } else {
        const auto t = static_cast<std::time_t>(time);
        std::tm tm{};
        if (!::localtime_r(&t, &tm))
            return {};
        year = tm.tm_year + 1900;
        month = static_cast<unsigned>(tm.tm_mon + 1);
        day = static_cast<unsigned>(tm.tm_mday);
        hour = static_cast<unsigned>(tm.tm_hour);
        minute = static_cast<unsigned>(tm.tm_min);
        second = static_cast<unsigned>(tm.tm_sec);
    }
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute,
                  second);
    return out;
}

std::string TimeText::zoneName() const {
    long east = offsetSeconds_;
    if (!fixedOffset_) {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        ::localtime_r(&now, &tm);
        east = tm.tm_gmtoff;
    }
    const char sign = east < 0 ? '-' : '+';
    const long a = east < 0 ? -east : east;
    char out[32];
    std::snprintf(out, sizeof out, "UTC%c%02ld:%02ld", sign, a / 3600, a / 60 % 60);
    return out;
}

}  // namespace korvex::verify
