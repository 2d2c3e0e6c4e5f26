#include "recording/ClientPlaceholder.h"

#include <algorithm>
#include <array>

#include "recording/AuthenticityCheck.h"

namespace korvex {

namespace {

// The black picture as its bytes stand in the file. The code-stream is one tile-part of a black
// picture; the trailer after FF D9 at 0x1DA holds start, length and picture checksum of that
// tile-part and a relative time of 0, so it passes the check with only "no valid time".
constexpr char kPlaceholderHex[] =
    "00 00 00 0C 6A 50 20 20 0D 0A 87 0A 00 00 00 14 "  // 000
    "66 74 79 70 6A 70 32 20 00 00 00 00 6A 70 32 20 "  // 010
    "00 00 00 47 6A 70 32 68 00 00 00 16 69 68 64 72 "  // 020
    "00 00 00 F8 00 00 02 D0 00 03 07 07 00 00 00 00 "  // 030
    "00 0F 63 6F 6C 72 01 00 00 00 00 00 10 00 00 00 "  // 040
    "1A 72 65 73 20 00 00 00 12 72 65 73 63 00 60 00 "  // 050
    "FE 00 60 00 FE 04 04 00 00 00 00 6A 70 32 63 FF "  // 060
    "4F FF 51 00 2F 00 00 00 00 02 D0 00 00 00 F8 00 "  // 070
    "00 00 00 00 00 00 00 00 00 02 D0 00 00 00 F8 00 "  // 080
    "00 00 00 00 00 00 00 00 03 07 01 01 07 01 01 07 "  // 090
    "01 01 FF 5C 00 1D 42 68 BA 5F C8 5F C8 5F A8 48 "  // 0A0
    "0C 48 0C 48 19 40 6E 40 6E 40 B4 38 53 38 53 38 "  // 0B0
    "17 FF 5D 00 1E 01 42 68 60 5F 24 5F 24 5F 06 57 "  // 0C0
    "72 57 72 57 8A 40 17 40 17 40 5A 47 F9 47 F9 47 "  // 0D0
    "86 FF 5D 00 1E 02 42 69 9B 50 B0 50 B0 50 9E 48 "  // 0E0
    "DC 48 DC 48 EA 41 48 41 48 41 94 39 2A 39 2A 38 "  // 0F0
    "E8 FF 52 00 0C 00 00 00 01 01 04 04 04 00 00 FF "  // 100
    "64 00 0C 00 01 41 56 4C 54 5F 31 31 36 FF 90 00 "  // 110
    "0A 00 00 00 00 00 BD 00 01 FF 5D 00 1E 01 42 68 "  // 120
    "60 5F 24 5F 24 5F 06 57 72 57 72 57 8A 40 17 40 "  // 130
    "17 40 5A 47 F9 47 F9 47 86 FF 5D 00 1E 02 42 69 "  // 140
    "9B 50 B0 50 B0 50 9E 48 DC 48 DC 48 EA 41 48 41 "  // 150
    "48 41 94 39 2A 39 2A 38 E8 FF 93 CF F0 BC 11 50 "  // 160
    "54 AF FF 0F DE E2 98 00 00 00 00 03 09 09 7F DE "  // 170
    "31 80 00 00 00 18 48 4B FE F2 96 00 00 00 00 C2 "  // 180
    "42 5F F7 94 B0 00 00 00 06 12 12 FF 5E 52 C0 00 "  // 190
    "00 00 18 48 4B FE F2 96 00 00 00 00 C2 42 5F F7 "  // 1A0
    "94 B0 00 00 00 06 12 12 FF 5E 52 C0 00 00 00 18 "  // 1B0
    "48 4B FE F2 96 00 00 00 00 C2 42 5F 80 80 80 80 "  // 1C0
    "80 80 80 80 80 80 80 80 80 80 FF D9 6B 01 00 00 "  // 1D0
    "6F 00 00 00 CC 27 00 00 00 00 ";                   // 1E0

constexpr int hexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

constexpr std::array<std::uint8_t, 490> parsePlaceholder() {
    std::array<std::uint8_t, 490> out{};
    std::size_t n = 0;
    for (std::size_t i = 0; kPlaceholderHex[i] != '\0' && n < out.size(); i += 3) {
        out[n++] = static_cast<std::uint8_t>(hexValue(kPlaceholderHex[i]) * 16 +
                                             hexValue(kPlaceholderHex[i + 1]));
    }
    return out;
}

constexpr std::array<std::uint8_t, 490> kPlaceholder = parsePlaceholder();
static_assert(kPlaceholder[0x1DA] == 0xFF && kPlaceholder[0x1DB] == 0xD9);
static_assert(sizeof kPlaceholderHex == 490 * 3 + 1);

}  // namespace

std::span<const std::uint8_t> clientPlaceholderPicture() {
    return {kPlaceholder.data(), kPlaceholder.size()};
}

bool isClientPlaceholder(std::span<const std::uint8_t> file) {
    // A trailer is at most the 20 bytes with the time fields.
    if (file.size() < kPlaceholderPictureBytes + kJ2kShortTrailerSize ||
        file.size() > kPlaceholderPictureBytes + kJ2kTrailerSize) {
        return false;
    }
    return std::equal(file.begin(), file.begin() + kPlaceholderPictureBytes, kPlaceholder.begin());
}

}  // namespace korvex
