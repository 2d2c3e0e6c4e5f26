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
