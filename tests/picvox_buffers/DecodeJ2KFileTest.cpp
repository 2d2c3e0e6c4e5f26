#include "control/buffers/DecodeJ2KFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tools/recgen/Encoders.h"

namespace picvox {
namespace {

namespace fs = std::filesystem;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

class DecodeJ2KFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        korvex::test::writeFile(dir_.path() / name, bytes);
        return dir_.file(name);
    }
    korvex::test::TempDir dir_{"picvox-j2k"};
};

// The largest recorder picture, 704 x 480 at 24 bits (1,013,814 bytes as a bitmap file), fits
// the fixed block.
TEST_F(DecodeJ2KFileTest, LargestPictureFitsTheFixedBlock) {
    auto picture = korvex::gen::syntheticPicture(704, 480, 3, 5);
    auto j2k = korvex::gen::encodeJ2k(picture);
    ASSERT_FALSE(j2k.empty());
    auto block = DecodeJ2KFile(write("01.jp2", j2k));
    ASSERT_FALSE(block.empty());
    ASSERT_EQ(block.size(), 0xFC000u);
    const std::uint8_t* b = block.data();
    EXPECT_EQ(std::memcmp(b, "BM", 2), 0);
    EXPECT_EQ(le32(b + 2), 1013814u);  // file size in the file header
    EXPECT_EQ(le32(b + 10), 54u);      // pixel rows start after the two headers
    EXPECT_EQ(le32(b + 18), 704u);
    EXPECT_EQ(le32(b + 22), 480u);
    EXPECT_EQ(b[28], 24);
}

TEST_F(DecodeJ2KFileTest, UnreadableOrBrokenFilesGiveNoPicture) {
    EXPECT_TRUE(DecodeJ2KFile(dir_.file("missing.jp2")).empty());
    EXPECT_TRUE(DecodeJ2KFile(write("empty.jp2", {})).empty());
    auto j2k = korvex::gen::encodeJ2k(korvex::gen::syntheticPicture(64, 48, 3, 1));
    ASSERT_GT(j2k.size(), 100u);
    j2k.resize(j2k.size() / 3);
    EXPECT_TRUE(DecodeJ2KFile(write("cut.jp2", j2k)).empty());
}

}  // namespace
}  // namespace picvox
