// The digest against the published test vectors, in one piece and in many.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "recording/manifest/Sha256.h"
#include "tests/tools/ToolsTestSupport.h"

namespace {

using korvex::Sha256;
using korvex::toHex;

std::span<const std::uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Sha256, KnownVectorsWholeAndInPieces) {
    const struct {
        std::string message;
        const char* hex;
    } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    Sha256 reused;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.message.substr(0, 16));
        EXPECT_EQ(toHex(Sha256::of(bytesOf(r.message))), r.hex);
        // Pieces of awkward lengths across the block boundary give the same digest, and the
        // object starts afresh after each finish.
        for (std::size_t at = 0; at < r.message.size(); at += 37)
            reused.update(r.message.data() + at, std::min<std::size_t>(37, r.message.size() - at));
        EXPECT_EQ(toHex(reused.finish()), r.hex);
    }
}

TEST(Sha256, HexRoundTripAndRefusals) {
    korvex::Sha256Digest d{};
    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    ASSERT_TRUE(korvex::parseHex(upper, d));
    EXPECT_EQ(toHex(d), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    for (const std::string& bad :
         {upper.substr(1), upper + "0", "g" + upper.substr(1), std::string(64, ' ')}) {
        EXPECT_FALSE(korvex::parseHex(bad, d)) << bad;
    }
}

TEST(Sha256, FilesAreHashedInPiecesAndOnlyRegularFilesAreRead) {
    toolstest::TempDir tmp;
    const std::string big(600 * 1024 + 3, 'a');  // more than two read pieces
    std::ofstream(tmp / "big", std::ios::binary) << big;
    Sha256 hasher;
    std::vector<std::uint8_t> buffer;
    korvex::Sha256Digest d{};
    ASSERT_EQ(korvex::sha256File(tmp / "big", d, buffer, hasher), 0);
    EXPECT_EQ(d, Sha256::of(bytesOf(big)));
    EXPECT_EQ(korvex::sha256File(tmp / "missing", d, buffer, hasher), ENOENT);
    EXPECT_NE(korvex::sha256File(tmp.path().string(), d, buffer, hasher), 0);
    ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0600), 0);
    EXPECT_NE(korvex::sha256File(tmp / "fifo", d, buffer, hasher), 0);  // and does not block

    std::string hex;
    int error = 0;
    ASSERT_TRUE(korvex::sha256OfFile(tmp / "big", hex, error));
    EXPECT_EQ(hex, korvex::toHex(Sha256::of(bytesOf(big))));
    EXPECT_FALSE(korvex::sha256OfFile(tmp / "missing", hex, error));
    EXPECT_EQ(error, ENOENT);
}

}  // namespace
