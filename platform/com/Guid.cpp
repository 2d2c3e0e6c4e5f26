#include <cstdio>

#include "platform/com/ComBase.h"

namespace platform::com {

std::string guidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool guidFromString(std::string_view text, GUID& out) {
    // {8-4-4-4-12}: 38 characters with the braces.
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    std::string_view body = text.substr(1, 36);
    std::uint8_t bytes[16];
    int nibbles = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
            continue;
        }
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return false;
        }
        if (nibbles % 2 == 0) {
            bytes[nibbles / 2] = static_cast<std::uint8_t>(v << 4);
        } else {
            bytes[nibbles / 2] |= static_cast<std::uint8_t>(v);
        }
        ++nibbles;
    }
    if (nibbles != 32)
        return false;
    GUID g;
    g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
              (std::uint32_t{bytes[2]} << 8) | bytes[3];
    g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = bytes[8 + i];
    out = g;
    return true;
}

}  // namespace platform::com
