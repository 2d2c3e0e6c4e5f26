#include "platform/Hex.h"

namespace platform {

std::string hexOf(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(2 * bytes.size(), '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHexBytes(std::string_view text, std::span<std::uint8_t> out, bool colons) {
    std::size_t digits = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':' && colons) {
            // Only between two bytes.
            if (digits == 0 || digits % 2 != 0 || i + 1 == text.size() || text[i + 1] == ':')
                return false;
            continue;
        }
        const int value = hexDigitValue(c);
        if (value < 0 || digits >= 2 * out.size())
            return false;
        std::uint8_t& byte = out[digits / 2];
        byte = static_cast<std::uint8_t>(digits % 2 == 0 ? value << 4 : byte | value);
        ++digits;
    }
    return digits == 2 * out.size();
}

}  // namespace platform
