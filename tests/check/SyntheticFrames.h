#pragma once

// Minimal frame files for the authenticity check: the check walks markers and sums bytes but
// never decodes, so a few hand-made segments around chosen coded bytes give exact edge cases.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace checktest {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& out, std::initializer_list<std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
inline void append(Bytes& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
inline void putLe16(Bytes& out, std::uint32_t v) {
    append(out, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
}
inline void putLe32(Bytes& out, std::uint32_t v) {
    append(out, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

// JP2 boxes, a token main header and tile-part header, SOD, `coded`, EOC.
struct Jp2Frame {
    Bytes bytes;
    std::uint32_t start = 0;  // offset after FF 93
};

inline Jp2Frame makeJp2(const Bytes& coded) {
    Jp2Frame f;
    append(f.bytes, {0x00, 0x00, 0x00, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A});
    append(f.bytes, {0x00, 0x00, 0x00, 0x14, 'f',  't',  'y', 'p', 'j', 'p',
                     '2',  ' ',  0x00, 0x00, 0x00, 0x00, 'j', 'p', '2', ' '});
    append(f.bytes, {0x00, 0x00, 0x00, 0x08, 'j', 'p', '2', 'h'});
    append(f.bytes, {0x00, 0x00, 0x00, 0x00, 'j', 'p', '2', 'c'});
    append(f.bytes, {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x04, 0x00, 0x00});
    append(f.bytes, {0xFF, 0x90, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
    append(f.bytes, {0xFF, 0x93});
    f.start = static_cast<std::uint32_t>(f.bytes.size());
    append(f.bytes, coded);
    append(f.bytes, {0xFF, 0xD9});
    return f;
}

// The first quantisation table's entries are 1..64, so its last four are 61..64.
inline constexpr std::uint8_t kTableTail[4] = {61, 62, 63, 64};

struct JpegFrame {
    Bytes bytes;
    std::size_t codedStart = 0;
};

// SOI, APP0 (or the given application segments), DQT, SOF0, DHT, SOS of three components,
// `coded`, EOI.
inline JpegFrame makeJpeg(const Bytes& coded, const Bytes& appSegments = {}) {
    JpegFrame f;
    append(f.bytes, {0xFF, 0xD8});
    if (appSegments.empty()) {
        append(f.bytes, {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00, 0x00,
                         0x01, 0x00, 0x01, 0x00, 0x00});
    } else {
        append(f.bytes, appSegments);
    }
    append(f.bytes, {0xFF, 0xDB, 0x00, 0x43, 0x00});
    for (int i = 1; i <= 64; ++i)
        f.bytes.push_back(static_cast<std::uint8_t>(i));
    append(f.bytes, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10, 0x03, 0x01, 0x22, 0x00,
                     0x02, 0x11, 0x01, 0x03, 0x11, 0x01});
    append(f.bytes, {0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    append(f.bytes,
           {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
    f.codedStart = f.bytes.size();
    append(f.bytes, coded);
    append(f.bytes, {0xFF, 0xD9});
    return f;
}

}  // namespace checktest
