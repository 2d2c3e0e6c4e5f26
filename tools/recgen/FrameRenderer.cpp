#include "tools/recgen/FrameRenderer.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "tools/recgen/BitmapFont.h"
#include "tools/recgen/SeedRandom.h"

namespace korvex::gen {

namespace {

// Mid-bright, clearly different hues, so that white captions stay readable on every channel and
// the channels of a multi-pane view tell apart at a glance.
constexpr std::array<Rgb, 16> kPalette = {{
    {40, 80, 160},
    {150, 50, 50},
    {40, 120, 60},
    {120, 70, 150},
    {160, 110, 30},
    {30, 120, 130},
    {130, 50, 100},
    {90, 100, 40},
    {60, 60, 60},
    {170, 70, 20},
    {50, 90, 110},
    {110, 40, 40},
    {20, 100, 100},
    {140, 90, 120},
    {80, 60, 140},
    {100, 110, 100},
}};

std::uint8_t scaleByte(int v, int num, int den) {
    const int s = v * num / den;
    return static_cast<std::uint8_t>(std::clamp(s, 0, 255));
}

void fillRect(RawPicture& p, int x0, int y0, int w, int h, Rgb c) {
    const int x1 = std::min(p.width, x0 + w), y1 = std::min(p.height, y0 + h);
    x0 = std::max(0, x0);
    y0 = std::max(0, y0);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* px = p.pixels.data() + (static_cast<std::size_t>(y) * p.width + x0) * 3;
        for (int x = x0; x < x1; ++x, px += 3) {
            px[0] = c.r;
            px[1] = c.g;
            px[2] = c.b;
        }
    }
}

// Darkens a rectangle to a third, the band behind a caption.
void darkenRect(RawPicture& p, int x0, int y0, int w, int h) {
    const int x1 = std::min(p.width, x0 + w), y1 = std::min(p.height, y0 + h);
    x0 = std::max(0, x0);
    y0 = std::max(0, y0);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* px = p.pixels.data() + (static_cast<std::size_t>(y) * p.width + x0) * 3;
        for (int x = x0; x < x1; ++x, px += 3) {
            px[0] = static_cast<std::uint8_t>(px[0] / 3);
            px[1] = static_cast<std::uint8_t>(px[1] / 3);
            px[2] = static_cast<std::uint8_t>(px[2] / 3);
        }
    }
}

// The largest scale at which `text` fits the width with margins, capped so that a wide picture
// does not get letters taller than `capScale`.
int fitScale(std::string_view text, int width, int margin, int capScale) {
    const int unit = textWidth(text, 1);
    if (unit <= 0)
        return 1;
    const int fit = (width - 2 * margin) / unit;
    return std::max(1, std::min(fit, capScale));
}

// Draws one caption line on a dark band; returns the y just below the band.
int captionLine(RawPicture& p, std::string_view text, int y, int scale, Rgb colour) {
    const int pad = std::max(1, scale);
    const int w = textWidth(text, scale);
    const int x = std::max(pad, (p.width - w) / 2);
    darkenRect(p, x - pad, y - pad, w + 2 * pad, kGlyphHeight * scale + 2 * pad);
    drawText(p, x, y, text, scale, colour);
    return y + kGlyphHeight * scale + pad;
}

}  // namespace

Rgb channelColour(int channel) {
    const int i = ((channel % 16) + 16) % 16;
    return kPalette[static_cast<std::size_t>(i)];
}

int textWidth(std::string_view text, int scale) {
    if (text.empty() || scale < 1)
        return 0;
    return static_cast<int>(text.size()) * kGlyphAdvance * scale - scale;
}

void drawText(RawPicture& picture, int x, int y, std::string_view text, int scale, Rgb colour) {
    if (picture.channels != 3 || scale < 1)
        return;
    for (char c : text) {
        const GlyphRows& rows = glyphFor(c);
        for (int gy = 0; gy < kGlyphHeight; ++gy) {
            for (int gx = 0; gx < kGlyphWidth; ++gx) {
                if (rows[static_cast<std::size_t>(gy)] & (0x10 >> gx)) {
                    fillRect(picture, x + gx * scale, y + gy * scale, scale, scale, colour);
                }
            }
        }
        x += kGlyphAdvance * scale;
        if (x >= picture.width)
            break;
    }
}

RawPicture renderFrame(int width, int height, const FrameCaption& caption, std::uint64_t seed) {
    RawPicture p;
    if (width < 1 || height < 1)
        return p;
    p.width = width;
    p.height = height;
    p.channels = 3;
    p.pixels.resize(static_cast<std::size_t>(width) * height * 3);

    // Sky-to-ground shading of the channel colour.
    const Rgb base = channelColour(caption.channel);
    for (int y = 0; y < height; ++y) {
        const int num = 110 - 50 * y / height;
        fillRect(p, 0, y, width, 1,
                 {scaleByte(base.r, num, 100), scaleByte(base.g, num, 100),
                  scaleByte(base.b, num, 100)});
    }

    // A fixed scene per channel and seed: a few blocks, like buildings in a camera's view.
    SplitMix64 scene(seed ^
                     (0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(caption.channel + 1)));
    for (int i = 0; i < 6; ++i) {
        const int bw = 1 + static_cast<int>(scene.below(static_cast<std::uint64_t>(width / 4 + 1)));
        const int bh =
            1 + static_cast<int>(scene.below(static_cast<std::uint64_t>(height / 3 + 1)));
        const int bx = static_cast<int>(scene.below(static_cast<std::uint64_t>(width)));
        const int shade = 50 + static_cast<int>(scene.below(60));
        fillRect(p, bx, height - height / 5 - bh, bw, bh,
                 {scaleByte(base.r, shade, 100), scaleByte(base.g, shade, 100),
                  scaleByte(base.b, shade, 100)});
    }

    // Captions: channel and title on top with the time under them, the frame number large in
    // the middle. The bottom strip stays clear for the time and title a viewer draws there.
    const int margin = std::max(2, width / 64);
    std::string top = "CH " + std::to_string(caption.channel);
    if (!caption.title.empty())
        top += "  " + caption.title;
    char number[32];
    std::snprintf(number, sizeof number, "FRAME %06d", caption.frameNumber);
    const std::string time = formatDvrTime(caption.dvrSeconds);

    // Each line gets a share of the height (glyph rows plus its band) and the width it fits in.
    const auto capFor = [&](int percent) {
        return std::max(1, height * percent / 100 / (kGlyphHeight + 2));
    };
    const int topScale = fitScale(top, width, margin, capFor(16));
    const int timeScale = fitScale(time, width, margin, capFor(12));
    const int numberScale = fitScale(number, width, margin, capFor(22));
    const int size = std::max(2, std::min(width, height) / 10);

    const Rgb white{255, 255, 255};
    const int topBottom = captionLine(p, top, margin + topScale, topScale, white);
    const int timeBottom = captionLine(p, time, topBottom + margin + timeScale, timeScale, white);
    const int clearFrom = height - height * 16 / 100;
    const int numberHeight = kGlyphHeight * numberScale + 2 * numberScale;
    const int gap = std::max(0, (clearFrom - timeBottom - numberHeight - size) / 3);
    const int numberBottom =
        captionLine(p, number, timeBottom + gap + numberScale, numberScale, {255, 240, 120});

    // The moving square bounces from edge to edge as the frame number grows.
    const int travel = std::max(1, width - size);
    SplitMix64 motion(seed);
    const int step = std::max(1, width / 48) + static_cast<int>(motion.below(3));
    const long long phase = static_cast<long long>(caption.frameNumber) * step % (2LL * travel);
    const int sx = static_cast<int>(phase <= travel ? phase : 2LL * travel - phase);
    // On pictures too small for the layout it still shows, over whatever is beneath it.
    const int sy = std::max(0, std::min(numberBottom + gap, height - size));
    fillRect(p, sx, sy, size, size, {20, 20, 20});
    fillRect(p, sx + size / 6, sy + size / 6, size - size / 3, size - size / 3, {255, 220, 0});
    return p;
}

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (the usual era-based computation).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

const long long kDays2000 = daysFromCivil(2000, 1, 1);

bool readNumber(std::string_view text, std::size_t& pos, std::size_t digits, unsigned& value) {
    if (pos + digits > text.size())
        return false;
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    pos += digits;
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

}  // namespace

std::string formatDvrTime(std::uint32_t dvrSeconds) {
    const long long days = kDays2000 + dvrSeconds / 86400;
    const unsigned secs = dvrSeconds % 86400;
    long long y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char out[40];
    std::snprintf(out, sizeof out, "%04lld-%02u-%02u %02u:%02u:%02u", y, m, d, secs / 3600,
                  secs / 60 % 60, secs % 60);
    return out;
}

bool parseDvrTime(std::string_view text, std::uint32_t& dvrSeconds) {
    std::size_t pos = 0;
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!readNumber(text, pos, 4, y) || !expect(text, pos, '-') || !readNumber(text, pos, 2, mo) ||
        !expect(text, pos, '-') || !readNumber(text, pos, 2, d) || !expect(text, pos, ' ') ||
        !readNumber(text, pos, 2, h) || !expect(text, pos, ':') || !readNumber(text, pos, 2, mi) ||
        !expect(text, pos, ':') || !readNumber(text, pos, 2, s) || pos != text.size()) {
        return false;
    }
    if (y < 2000 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59)
        return false;
    // Reject dates like 02-30: they must survive the round trip through the calendar.
    const long long days = daysFromCivil(y, mo, d);
    long long ry = 0;
    unsigned rm = 0, rd = 0;
    civilFromDays(days, ry, rm, rd);
    if (ry != y || rm != mo || rd != d)
        return false;
    const long long total = (days - kDays2000) * 86400 + h * 3600LL + mi * 60LL + s;
    if (total < 0 || total > 0xFFFFFFFFLL)
        return false;
    dvrSeconds = static_cast<std::uint32_t>(total);
    return true;
}

}  // namespace korvex::gen
