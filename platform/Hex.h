#pragma once

// Bytes as hex digits and back: digests, fingerprints, nonces.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// Two lower-case hex digits a byte, as sha256sum prints a digest.
std::string hexOf(std::span<const std::uint8_t> bytes);
// The value of one hex digit of either case; -1 for anything else.
int hexDigitValue(char c);
// Exactly out.size() bytes written as hex digits of either case. With `colons`, one ':' may
// stand between two bytes ("AB:CD"), never at either end. False, `out` unspecified, for anything
// else.
bool parseHexBytes(std::string_view text, std::span<std::uint8_t> out, bool colons);

}  // namespace platform
