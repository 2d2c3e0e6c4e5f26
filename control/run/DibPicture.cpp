#include "control/run/DibPicture.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace picvox::run {

namespace {

std::uint16_t read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t read32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

constexpr std::uint32_t kBiRgb = 0;
constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;

// For each output position, the source positions it draws from and their weights (sum
// kWeightOne). A tent filter one output pixel wide: linear interpolation when enlarging, an
// average over the covered source pixels when shrinking.
struct Taps {
    std::vector<int> start;   // per output position: first index into source/weight
    std::vector<int> count;   // per output position
    std::vector<int> source;  // source positions
    std::vector<int> weight;
};

Taps buildTaps(int srcLen, int dstLen) {
    Taps taps;
    taps.start.resize(static_cast<std::size_t>(dstLen));
    taps.count.resize(static_cast<std::size_t>(dstLen));
    const double scale = static_cast<double>(dstLen) / srcLen;
    const double support = scale < 1.0 ? 1.0 / scale : 1.0;
    std::vector<double> w;
    std::vector<int> s;
    for (int i = 0; i < dstLen; ++i) {
        const double centre = (i + 0.5) / scale - 0.5;
        const int lo = static_cast<int>(std::floor(centre - support)) + 1;
        const int hi = static_cast<int>(std::ceil(centre + support)) - 1;
        w.clear();
        s.clear();
        double total = 0;
        for (int j = lo; j <= hi; ++j) {
            double weight = 1.0 - std::abs(j - centre) / support;
            if (weight <= 0)
                continue;
            int clamped = std::clamp(j, 0, srcLen - 1);
            if (!s.empty() && s.back() == clamped) {
                w.back() += weight;
            } else {
                s.push_back(clamped);
                w.push_back(weight);
            }
            total += weight;
        }
        if (s.empty()) {  // centre exactly on a pixel with a zero-width tent: take it whole
            s.push_back(std::clamp(static_cast<int>(std::lround(centre)), 0, srcLen - 1));
            w.push_back(1.0);
            total = 1.0;
        }
        taps.start[static_cast<std::size_t>(i)] = static_cast<int>(taps.source.size());
        taps.count[static_cast<std::size_t>(i)] = static_cast<int>(s.size());
        int given = 0;
        for (std::size_t k = 0; k < s.size(); ++k) {
            int fixed = static_cast<int>(std::lround(w[k] / total * kWeightOne));
            if (k + 1 == s.size())
                fixed = kWeightOne - given;  // rounding goes to the last tap
            given += fixed;
            taps.source.push_back(s[k]);
            taps.weight.push_back(fixed);
        }
    }
    return taps;
}

std::uint8_t channel(std::int64_t sum) {
    std::int64_t v = (sum + kWeightOne / 2) >> kWeightBits;
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

}  // namespace

std::optional<DibInfo> readDibInfo(const std::uint8_t* image, std::size_t size) {
    if (!image || size < kDibHeaderBytes)
        return std::nullopt;
    const std::uint8_t* header = image + 14;
    if (read32(header) < 40)
        return std::nullopt;
    const auto width = static_cast<std::int32_t>(read32(header + 4));
    const auto height = static_cast<std::int32_t>(read32(header + 8));
    const int bitCount = read16(header + 14);
    const std::uint32_t compression = read32(header + 16);
    if (compression != kBiRgb)
        return std::nullopt;
    if (width <= 0 || width > kMaxDibSide || height == 0 || height < -kMaxDibSide ||
        height > kMaxDibSide)
        return std::nullopt;

    DibInfo info;
    info.width = width;
    info.height = height < 0 ? -height : height;
    info.topDown = height < 0;
    info.bitCount = bitCount;
    switch (bitCount) {
        case 1:
            info.paletteEntries = 2;
            break;
        case 4:
            info.paletteEntries = 16;
            break;
        case 8:
            info.paletteEntries = 256;
            break;
        case 24:
        case 32:
            info.paletteEntries = 0;
            break;
        default:
            return std::nullopt;
    }
    info.bitsOffset = kDibHeaderBytes + 4 * static_cast<std::size_t>(info.paletteEntries);
    info.rowBytes =
        ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32) * 4;
    const std::uint64_t needed =
        std::uint64_t{info.bitsOffset} + std::uint64_t{info.rowBytes} * std::uint64_t(info.height);
    if (needed > size)
        return std::nullopt;
    return info;
}

std::uint32_t dibPixel(const std::uint8_t* image, const DibInfo& info, int x, int y) {
    const int storedRow = info.topDown ? y : info.height - 1 - y;
    const std::uint8_t* row =
        image + info.bitsOffset + static_cast<std::size_t>(storedRow) * info.rowBytes;
    int paletteIndex = 0;
    switch (info.bitCount) {
        case 1:
            paletteIndex = (row[x / 8] >> (7 - x % 8)) & 1;
            break;
        case 4:
            paletteIndex = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F;
            break;
        case 8:
            paletteIndex = row[x];
            break;
        case 24: {
            const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
            return rgb(p[2], p[1], p[0]);
        }
        default: {
            const std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
            return rgb(p[2], p[1], p[0]);
        }
    }
    const std::uint8_t* entry =
        image + kDibHeaderBytes + 4 * static_cast<std::size_t>(paletteIndex);
    return rgb(entry[2], entry[1], entry[0]);
}

bool drawDibStretched(const std::uint8_t* image, std::size_t size, const Surface& surface,
                      DibInfo* infoOut) {
    // The second pass keeps one stretched row per source row; bound it by the surface too.
    if (!surface.valid() || surface.width > kMaxDibSide || surface.height > kMaxDibSide)
        return false;
    std::optional<DibInfo> info = readDibInfo(image, size);
    if (!info)
        return false;
    if (infoOut)
        *infoOut = *info;
    const int srcW = info->width;
    const int srcH = info->height;
    const int dstW = surface.width;
    const int dstH = surface.height;

    const Taps across = buildTaps(srcW, dstW);
    const Taps down = buildTaps(srcH, dstH);

    // Pass 1: every source row stretched across, kept as 8-bit channels.
    std::vector<std::uint32_t> source(static_cast<std::size_t>(srcW));
    std::vector<std::uint32_t> wide(static_cast<std::size_t>(srcH) *
                                    static_cast<std::size_t>(dstW));
    for (int y = 0; y < srcH; ++y) {
        for (int x = 0; x < srcW; ++x)
            source[static_cast<std::size_t>(x)] = dibPixel(image, *info, x, y);
        std::uint32_t* out =
            wide.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(dstW);
        for (int x = 0; x < dstW; ++x) {
            std::int64_t r = 0, g = 0, b = 0;
            const int first = across.start[static_cast<std::size_t>(x)];
            for (int k = 0; k < across.count[static_cast<std::size_t>(x)]; ++k) {
                const std::uint32_t c = source[static_cast<std::size_t>(
                    across.source[static_cast<std::size_t>(first + k)])];
                const std::int64_t w = across.weight[static_cast<std::size_t>(first + k)];
                r += w * ((c >> 16) & 0xFF);
                g += w * ((c >> 8) & 0xFF);
                b += w * (c & 0xFF);
            }
            out[x] = rgb(channel(r), channel(g), channel(b));
        }
    }
    // Pass 2: down the columns, straight into the surface.
    for (int y = 0; y < dstH; ++y) {
        std::uint32_t* out = surface.row(y);
        const int first = down.start[static_cast<std::size_t>(y)];
        const int count = down.count[static_cast<std::size_t>(y)];
        for (int x = 0; x < dstW; ++x) {
            std::int64_t r = 0, g = 0, b = 0;
            for (int k = 0; k < count; ++k) {
                const std::size_t row =
                    static_cast<std::size_t>(down.source[static_cast<std::size_t>(first + k)]);
                const std::uint32_t c =
                    wide[row * static_cast<std::size_t>(dstW) + static_cast<std::size_t>(x)];
                const std::int64_t w = down.weight[static_cast<std::size_t>(first + k)];
                r += w * ((c >> 16) & 0xFF);
                g += w * ((c >> 8) & 0xFF);
                b += w * (c & 0xFF);
            }
            out[x] = rgb(channel(r), channel(g), channel(b));
        }
    }
    return true;
}

}  // namespace picvox::run
