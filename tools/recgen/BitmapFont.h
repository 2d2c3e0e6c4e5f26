#pragma once

#include <array>
#include <cstdint>

namespace korvex::gen {

// A small 5 x 7 bitmap font of our own for the captions burned into synthetic frames: digits,
// ASCII letters, space and . , : ; - / _ # ( ) + = ' ! ? *. Each glyph row is 5 bits, bit 4 the
// leftmost pixel. Characters without a glyph draw as a hollow box.
inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
// Horizontal advance of one character in font pixels (glyph plus one column of space).
inline constexpr int kGlyphAdvance = 6;

using GlyphRows = std::array<std::uint8_t, kGlyphHeight>;

// Rows of `c`'s glyph.
const GlyphRows& glyphFor(char c);
// True when `c` has a glyph of its own.
bool hasGlyph(char c);

}  // namespace korvex::gen
