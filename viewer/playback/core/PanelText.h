#pragma once

#include <string>

namespace korvex {

// Page size of the position slider for `count` frames: the largest prime not above count / 100
// (1 when that is 1 or less; count / 100 itself from 10,007 on, where the search would be long).
int positionPageSize(int count);
// The largest prime not above n (n >= 2).
int largestPrimeAtMost(int n);

// A pane's channel as the panel shows it: "%2d" of channel + 1, "--" for a negative channel.
std::string channelText(int channel);
// "%d / %d" of the current frame number (1-based) and the count.
std::string frameCounterText(int currentIndex, int count);

}  // namespace korvex

namespace korvex {

// The Date Display Format dialog's texts (delimiters as dateDelimiterChar reads them). Order
// `format` 0 month-day-year, 1 day-month-year, 2 year-month-day.
// "MM/dd/yyyy", "dd/MM/yyyy" or "yyyy/MM/dd" with the delimiter; empty for another format.
std::string dateOrderName(int format, int delimiter);
// A date in the chosen form, e.g. "03/05/2009"; empty for another format.
std::string dateSampleText(int format, int delimiter, int year, int month, int day);

}  // namespace korvex
