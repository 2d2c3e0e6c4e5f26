#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/recgen/Encoders.h"

namespace korvex::gen {

// What a synthetic camera picture shows, large enough to read at a glance: the channel (and its
// title), the frame file's number and the capture time.
struct FrameCaption {
    int channel = 0;               // the channel number as the index stores it
    std::string title;             // camera title, may be empty
    int frameNumber = 1;           // the number in the frame file's name
    std::uint32_t dvrSeconds = 0;  // capture time, seconds since 2000-01-01 00:00:00
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

// The background colour of a channel's pictures (distinct for channels 0 to 15, repeating after).
Rgb channelColour(int channel);

// Renders a picture of `width` x `height` RGB pixels: the channel's background with a fixed
// scene, a square that moves with the frame number, and the caption in our bitmap font. The same
// caption, size and seed always give the same pixels. Sizes below 1 give an empty picture.
RawPicture renderFrame(int width, int height, const FrameCaption& caption, std::uint64_t seed);

// Width in pixels of `text` drawn at `scale` (font pixels are scale x scale squares).
int textWidth(std::string_view text, int scale);
// Draws `text` with its top-left corner at (x, y); clipped to the picture. 3-channel pictures.
void drawText(RawPicture& picture, int x, int y, std::string_view text, int scale, Rgb colour);

// "YYYY-MM-DD HH:MM:SS" of the recorder's wall clock: 2000-01-01 00:00:00 plus `dvrSeconds`.
// Computed directly from the calendar, independent of any time zone.
std::string formatDvrTime(std::uint32_t dvrSeconds);
// Parses "YYYY-MM-DD HH:MM:SS" (from 2000-01-01 on) into seconds since 2000-01-01 00:00:00.
// False when the text is not such a date and time, or lies beyond a 32-bit count.
bool parseDvrTime(std::string_view text, std::uint32_t& dvrSeconds);

}  // namespace korvex::gen
