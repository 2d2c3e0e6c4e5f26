#include "viewer/playback/core/PanelText.h"

#include <cstdio>

#include "viewer/playback/core/FrameTimeText.h"

namespace korvex {

namespace {

bool isPrime(int n) {
    if (n < 2)
        return false;
    for (int d = 2; d <= n / d; ++d) {
        if (n % d == 0)
            return false;
    }
    return true;
}

}  // namespace

int largestPrimeAtMost(int n) {
    for (int p = n; p >= 2; --p) {
        if (isPrime(p))
            return p;
    }
    return 1;
}

int positionPageSize(int count) {
    const int hundredth = count / 100;
    if (hundredth <= 1)
        return 1;
    if (hundredth >= 10007)
        return hundredth;
    return largestPrimeAtMost(hundredth);
}

std::string channelText(int channel) {
    if (channel < 0)
        return "--";
    char text[16];
    std::snprintf(text, sizeof text, "%2d", channel + 1);
    return text;
}

std::string frameCounterText(int currentIndex, int count) {
    char text[32];
    std::snprintf(text, sizeof text, "%d / %d", currentIndex + 1, count);
    return text;
}

}  // namespace korvex

namespace korvex {

std::string dateOrderName(int format, int delimiter) {
    const char c = dateDelimiterChar(delimiter);
    char text[32];
    switch (format) {
        case 0:
            std::snprintf(text, sizeof text, "MM%cdd%cyyyy", c, c);
            break;
        case 1:
            std::snprintf(text, sizeof text, "dd%cMM%cyyyy", c, c);
            break;
        case 2:
            std::snprintf(text, sizeof text, "yyyy%cMM%cdd", c, c);
            break;
        default:
            return {};
    }
    return text;
}

std::string dateSampleText(int format, int delimiter, int year, int month, int day) {
    const char c = dateDelimiterChar(delimiter);
    char text[48];
    switch (format) {
        case 0:
            std::snprintf(text, sizeof text, "%02d%c%02d%c%4d", month, c, day, c, year);
            break;
        case 1:
            std::snprintf(text, sizeof text, "%02d%c%02d%c%4d", day, c, month, c, year);
            break;
        case 2:
            std::snprintf(text, sizeof text, "%4d%c%02d%c%02d", year, c, month, c, day);
            break;
        default:
            return {};
    }
    return text;
}

}  // namespace korvex
