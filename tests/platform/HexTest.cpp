// Hex digits and back, as digests and certificate fingerprints are written and typed.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "platform/Hex.h"

namespace {

TEST(Hex, BytesRoundTripInEitherCase) {
    const std::array<std::uint8_t, 4> bytes{0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(platform::hexOf(bytes), "000fa5ff");
    EXPECT_EQ(platform::hexOf({}), "");
    std::array<std::uint8_t, 4> back{};
    ASSERT_TRUE(platform::parseHexBytes("000FA5ff", back, false));
    EXPECT_EQ(back, bytes);
    ASSERT_TRUE(platform::parseHexBytes("00:0f:A5:ff", back, true));
    EXPECT_EQ(back, bytes);
}

TEST(Hex, AnythingButExactlyTheBytesIsRefused) {
    std::array<std::uint8_t, 2> out{};
    // Without colons a colon is as wrong as any other character.
    for (const char* text : {"", "abc", "abcdef", "ab cd", "abcg", "0xab", "ab:cd"})
        EXPECT_FALSE(platform::parseHexBytes(text, out, false)) << text;
    // With them, only one between two whole bytes.
    for (const char* text : {":abcd", "abcd:", "ab::cd", "a:bcd", "ab:c:d"})
        EXPECT_FALSE(platform::parseHexBytes(text, out, true)) << text;
    EXPECT_EQ(platform::hexDigitValue('7'), 7);
    EXPECT_EQ(platform::hexDigitValue('F'), 15);
    EXPECT_EQ(platform::hexDigitValue('g'), -1);
}

}  // namespace
