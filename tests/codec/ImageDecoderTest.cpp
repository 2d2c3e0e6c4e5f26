#include "recording/ImageDecoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "platform/ijl/JpegLibrary.h"
#include "tests/codec/CodecTestSupport.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace korvex;
using namespace codectest;
using gen::J2kContainer;
using gen::RawPicture;
using korvex::test::TempDir;
using korvex::test::writeFile;

namespace {

std::uint32_t le32At(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void expectZeroPadding(const DibBlock& block, const DibInfo& info) {
    const std::uint32_t used = static_cast<std::uint32_t>(info.width) * (info.bitCount / 8);
    for (int y = 0; y < info.height; ++y)
        for (std::uint32_t i = used; i < info.stride; ++i)
            ASSERT_EQ(block.data()[kDibPixelOffset + y * info.stride + i], 0) << "row " << y;
}

// ---- JPEG -------------------------------------------------------------------------------------

struct JpegCase {
    const char* name;
    int width, height, channels;
    std::uint32_t padBytes;
    double maxError;
};

class JpegDecode : public testing::TestWithParam<JpegCase> {};

TEST_P(JpegDecode, GivesBottomUpBgrRowsPaddedToFour) {
    const JpegCase& c = GetParam();
    const RawPicture src = gen::syntheticPicture(c.width, c.height, c.channels, 7);
    const auto jpeg = gen::encodeJpeg(src, 95);
    ASSERT_FALSE(jpeg.empty());
    TempDir dir;
    writeFile(dir.file("IMG00001.jpg"), jpeg);

    std::size_t size = 0;
    PictureSize picture;
    const DibBlock block = decodeJpegFile(dir.file("IMG00001.jpg"), &size, &picture);
    ASSERT_TRUE(block);
    DibInfo info;
    ASSERT_TRUE(readDibInfo(block, info));
    EXPECT_EQ(info.bitCount, 24);
    EXPECT_EQ(info.stride - 3u * c.width, c.padBytes);
    EXPECT_EQ(size, kDibPixelOffset + info.stride * c.height);
    EXPECT_EQ(block.size(), size);
    EXPECT_EQ(picture.width, c.width);
    EXPECT_EQ(picture.height, c.height);
    EXPECT_EQ(le32At(block.data() + 20), info.stride * c.height);  // image size
    EXPECT_EQ(le32At(block.data() + 40), 0u);
    expectZeroPadding(block, info);
    if (c.channels == 1) {
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const std::uint8_t* p = dibPixel(block, info, x, y);
                ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
            }
    }
    EXPECT_LT(meanAbsError(block, src), c.maxError);

    const DibBlock fromMemory = decodeJpegBytes(jpeg.data(), jpeg.size());
    ASSERT_EQ(fromMemory.size(), block.size());
    EXPECT_EQ(std::memcmp(fromMemory.data(), block.data(), block.size()), 0);
}

// Four bytes a pixel: the three-byte picture's bytes with 255 after each pixel, rows in the same
// order, through the frame decoder as well.
TEST_P(JpegDecode, FourBytesAPixelAreTheThreeBytesAnd255) {
    const JpegCase& c = GetParam();
    const auto jpeg = gen::encodeJpeg(gen::syntheticPicture(c.width, c.height, c.channels, 7), 95);
    const DibBlock three = decodeJpegBytes(jpeg.data(), jpeg.size());
    std::size_t size = 0;
    const DibBlock four =
        decodeFrameBytes("JPG", jpeg.data(), jpeg.size(), &size, JpegPixels::Bgrx32);
    DibInfo t, f;
    ASSERT_TRUE(readDibInfo(three, t));
    ASSERT_TRUE(readDibInfo(four, f));
    EXPECT_EQ(f.bitCount, 32);
    EXPECT_EQ(f.width, c.width);
    EXPECT_EQ(f.height, c.height);
    EXPECT_EQ(f.stride, 4u * c.width);
    EXPECT_EQ(size, four.size());
    EXPECT_EQ(le32At(four.data() + 20), f.stride * c.height);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const std::uint8_t* a = three.data() + kDibPixelOffset + y * t.stride + 3 * x;
            const std::uint8_t* b = four.data() + kDibPixelOffset + y * f.stride + 4 * x;
            ASSERT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && b[3] == 255)
                << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, JpegDecode,
                         testing::Values(JpegCase{"grey", 64, 48, 1, 0, 3.0},
                                         JpegCase{"greyWidth1", 1, 9, 1, 1, 3.0},
                                         JpegCase{"colourWidth1", 1, 9, 3, 1, 6.0},
                                         JpegCase{"colourOdd", 33, 7, 3, 1, 8.0},
                                         JpegCase{"greyOdd", 17, 13, 1, 1, 3.0},
                                         JpegCase{"colour704x480", 704, 480, 3, 0, 6.0},
                                         JpegCase{"colour720x248", 720, 248, 3, 0, 6.0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FourChannelCase {
    const char* name;
    bool adobe, ycck;
    std::uint8_t top[4], bottom[4];
    std::uint8_t topBgra[4], bottomBgra[4];  // expected, after swap and premultiplication
};

class FourChannelJpeg : public testing::TestWithParam<FourChannelCase> {};

TEST_P(FourChannelJpeg, SwapsRedAndBluePremultipliesAndKeepsRowOrder) {
    const FourChannelCase& c = GetParam();
    const auto jpeg = fourComponentJpeg(16, 16, c.top, c.bottom, c.adobe, c.ycck);
    std::size_t size = 0;
    const DibBlock block = decodeJpegBytes(jpeg.data(), jpeg.size(), &size);
    ASSERT_TRUE(block);
    DibInfo info;
    ASSERT_TRUE(readDibInfo(block, info));
    EXPECT_EQ(info.bitCount, 32);
    EXPECT_EQ(size, kDibPixelOffset + 64u * 16u);
    // Rows are left top row first: memory row 2 is in the picture's top half.
    const std::uint8_t* first = block.data() + kDibPixelOffset + 2 * info.stride + 4 * 8;
    const std::uint8_t* last = block.data() + kDibPixelOffset + 13 * info.stride + 4 * 8;
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(first[i], c.topBgra[i], 4) << "byte " << i;
        EXPECT_NEAR(last[i], c.bottomBgra[i], 4) << "byte " << i;
    }
    // Asking for four bytes a pixel changes nothing here.
    const DibBlock four =
        decodeJpegBytes(jpeg.data(), jpeg.size(), nullptr, nullptr, JpegPixels::Bgrx32);
    ASSERT_EQ(four.size(), block.size());
    EXPECT_EQ(std::memcmp(four.data(), block.data(), block.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FourChannelJpeg,
    testing::Values(
        // Y, Cb, Cr, alpha: red 229, green 77, blue 128; then 200 grey at half alpha.
        FourChannelCase{"yccAlpha",
                        false,
                        false,
                        {128, 128, 200, 255},
                        {200, 128, 128, 128},
                        {127, 76, 228, 255},
                        {100, 100, 100, 128}},
        // Inverted CMYK as Adobe files store it: red 255, green 128, blue 0; then mid grey.
        FourChannelCase{"adobeCmyk",
                        true,
                        false,
                        {255, 128, 0, 255},
                        {255, 255, 255, 128},
                        {0, 127, 254, 255},
                        {127, 127, 127, 255}},
        FourChannelCase{"adobeYcck",
                        true,
                        true,
                        {255, 128, 0, 255},
                        {255, 255, 255, 128},
                        {0, 127, 254, 255},
                        {127, 127, 127, 255}}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<std::uint8_t> sampleJpeg() {
    return gen::encodeJpeg(gen::syntheticPicture(64, 48, 3, 3), 85);
}

std::vector<std::uint8_t> withSof(std::uint32_t width, std::uint32_t height) {
    auto jpeg = sampleJpeg();
    const long sof = sofOffset(jpeg);
    putBe16(jpeg, static_cast<std::size_t>(sof) + 5, height);
    putBe16(jpeg, static_cast<std::size_t>(sof) + 7, width);
    return jpeg;
}

struct BadJpegCase {
    const char* name;
    std::function<std::vector<std::uint8_t>()> bytes;
};

class BadJpeg : public testing::TestWithParam<BadJpegCase> {};

TEST_P(BadJpeg, DecodesToNothing) {
    TempDir dir;
    const std::string path = dir.file("frame.jpg");
    writeFile(path, GetParam().bytes());
    std::size_t size = 123;
    EXPECT_FALSE(decodeJpegFile(path, &size));
    EXPECT_EQ(size, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadJpeg,
    testing::Values(BadJpegCase{"empty", [] { return std::vector<std::uint8_t>{}; }},
                    BadJpegCase{"notJpeg", [] { return std::vector<std::uint8_t>(300, 0x5A); }},
                    BadJpegCase{"jpeg2000",
                                [] { return gen::encodeJ2k(gen::syntheticPicture(32, 32, 3, 1)); }},
                    BadJpegCase{"headerOnly",
                                [] {
                                    auto j = sampleJpeg();
                                    j.resize(static_cast<std::size_t>(sofOffset(j)) + 12);
                                    return j;
                                }},
                    BadJpegCase{"cutInHalf",
                                [] {
                                    auto j = sampleJpeg();
                                    j.resize(j.size() / 2);
                                    return j;
                                }},
                    BadJpegCase{"twoComponents", [] { return otherComponentJpeg(16, 16, 2, 90); }},
                    BadJpegCase{"huge", [] { return withSof(60000, 60000); }},
                    BadJpegCase{"tooWide", [] { return withSof(4097, 48); }},
                    BadJpegCase{"zeroHeight", [] { return withSof(64, 0); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegLibrary, RefusesHostileSizeAtTheParameterRead) {
    // The refusal comes from reading the parameters alone, before any picture memory exists.
    const auto jpeg = withSof(60000, 60000);
    platform::JpegProperties props{};
    ASSERT_EQ(platform::jpegInit(&props), 0);
    props.jpegBytes = jpeg.data();
    props.jpegSize = jpeg.size();
    EXPECT_EQ(platform::jpegRead(&props, platform::kJpegReadParams), platform::kJpegRefused);
    EXPECT_EQ(platform::jpegRead(&props, platform::kJpegReadWhole), platform::kJpegRefused);
    platform::jpegFree(&props);
}

TEST(JpegLibrary, RefusesAnOutputBufferTooSmall) {
    const auto jpeg = sampleJpeg();
    std::vector<unsigned char> out(64 * 3 * 48 - 1);
    platform::JpegProperties props{};
    ASSERT_EQ(platform::jpegInit(&props), 0);
    props.jpegBytes = jpeg.data();
    props.jpegSize = jpeg.size();
    ASSERT_EQ(platform::jpegRead(&props, platform::kJpegReadParams), 0);
    props.dibWidth = 64;
    props.dibHeight = 48;
    props.dibChannels = 3;
    props.dibColor = platform::JpegColor::Bgr;
    props.dibBytes = out.data();
    props.dibBufferSize = out.size();
    EXPECT_EQ(platform::jpegRead(&props, platform::kJpegReadWhole), platform::kJpegBufferTooSmall);
    platform::jpegFree(&props);
}

// ---- JPEG 2000 ----------------------------------------------------------------------------------

struct J2kCase {
    const char* name;
    int width, height, channels;
    J2kContainer container;
    float rate;  // 1 = lossless
    double maxError;
    bool trailer;  // recorder files carry 20 bytes after the end marker
};

class J2kDecode : public testing::TestWithParam<J2kCase> {};

TEST_P(J2kDecode, GivesDibBlockAndBmpFileLayout) {
    const J2kCase& c = GetParam();
    const RawPicture src = gen::syntheticPicture(c.width, c.height, c.channels, 11);
    auto file = gen::encodeJ2k(src, c.container, c.rate);
    ASSERT_FALSE(file.empty());
    if (c.trailer)
        file.insert(file.end(), 20, 0x11);
    TempDir dir;
    writeFile(dir.file("IMG00001.jp2"), file);

    std::size_t size = 0;
    const DibBlock dib = decodeJ2kFile(dir.file("IMG00001.jp2"), &size);
    ASSERT_TRUE(dib);
    EXPECT_EQ(size, kJ2kBlockCapacity);
    EXPECT_EQ(dib.size(), kJ2kBlockCapacity);
    DibInfo info;
    ASSERT_TRUE(readDibInfo(dib, info));
    EXPECT_EQ(info.bitCount, 24);
    EXPECT_EQ(le32At(dib.data() + 40), 0u);
    expectZeroPadding(dib, info);
    EXPECT_LE(meanAbsError(dib, src), c.maxError);

    const DibBlock bmp = decodeJ2kFileToBmp(dir.file("IMG00001.jp2"));
    ASSERT_EQ(bmp.size(), kJ2kBlockCapacity);
    const std::uint8_t* b = bmp.data();
    const std::uint32_t pixelBytes = info.stride * c.height;
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(le32At(b + 2), 54 + pixelBytes);
    EXPECT_EQ(le32At(b + 10), 54u);
    EXPECT_EQ(le32At(b + 14), 40u);
    EXPECT_EQ(static_cast<int>(le32At(b + 18)), c.width);
    EXPECT_EQ(static_cast<int>(le32At(b + 22)), c.height);
    EXPECT_EQ(b[26] | (b[27] << 8), 1);
    EXPECT_EQ(b[28] | (b[29] << 8), 24);
    EXPECT_EQ(std::memcmp(b + 14, dib.data(), 40), 0);
    EXPECT_EQ(std::memcmp(b + 54, dib.data() + kDibPixelOffset, pixelBytes), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, J2kDecode,
    testing::Values(J2kCase{"greyJp2", 64, 48, 1, J2kContainer::Jp2, 1, 0, false},
                    J2kCase{"greyCodestream", 64, 48, 1, J2kContainer::Codestream, 1, 0, false},
                    J2kCase{"colourJp2", 33, 7, 3, J2kContainer::Jp2, 1, 0, false},
                    J2kCase{"colourCodestream", 33, 7, 3, J2kContainer::Codestream, 1, 0, false},
                    J2kCase{"colourWidth1", 1, 5, 3, J2kContainer::Jp2, 1, 0, false},
                    J2kCase{"recorderFrame704x480", 704, 480, 3, J2kContainer::Jp2, 20, 8, true},
                    J2kCase{"recorderFrame720x248", 720, 248, 3, J2kContainer::Jp2, 20, 8, true},
                    J2kCase{"codestreamWithTrailer", 720, 248, 3, J2kContainer::Codestream, 20, 8,
                            true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(J2kDecode, PictureWhoseBmpExceedsTheBlockGivesNothing) {
    // 800 x 600 needs 1,440,054 bytes; the block holds 1,032,192.
    const auto file = gen::encodeJ2k(gen::syntheticPicture(800, 600, 1, 2));
    EXPECT_FALSE(decodeJ2kBytes(file.data(), file.size()));
    EXPECT_FALSE(decodeJ2kBytesToBmp(file.data(), file.size()));
}

TEST(J2kDecode, FilesThatAreNotWholeJpeg2000GiveNothing) {
    const auto jp2 = gen::encodeJ2k(gen::syntheticPicture(64, 48, 3, 5));
    const auto cs = gen::encodeJ2k(gen::syntheticPicture(64, 48, 3, 5), J2kContainer::Codestream);
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> cases = {
        {"jpegNamedJp2", sampleJpeg()},
        {"empty", {}},
        {"signatureOnly", std::vector<std::uint8_t>(jp2.begin(), jp2.begin() + 12)},
        {"jp2CutInHalf", std::vector<std::uint8_t>(jp2.begin(), jp2.begin() + jp2.size() / 2)},
        {"codestreamCutInHalf", std::vector<std::uint8_t>(cs.begin(), cs.begin() + cs.size() / 2)},
        {"codestreamHeaderOnly", std::vector<std::uint8_t>(cs.begin(), cs.begin() + 60)},
    };
    TempDir dir;
    for (const auto& [name, bytes] : cases) {
        writeFile(dir.file("x.jp2"), bytes);
        std::size_t size = 99;
        EXPECT_FALSE(decodeJ2kFile(dir.file("x.jp2"), &size)) << name;
        EXPECT_EQ(size, 0u) << name;
        EXPECT_FALSE(decodeJ2kFileToBmp(dir.file("x.jp2"))) << name;
    }
    EXPECT_FALSE(decodeJ2kFile(dir.file("missing.jp2")));
}

// Random damage must never crash or read out of bounds (the sanitizer builds check the latter);
// whatever still decodes must be a well-formed block.
TEST(Decoders, SurviveDamagedFiles) {
    const auto jpeg = gen::encodeJpeg(gen::syntheticPicture(48, 32, 3, 9), 80);
    const auto jp2 = gen::encodeJ2k(gen::syntheticPicture(48, 32, 3, 9));
    std::mt19937 rng(1234);
    for (int round = 0; round < 150; ++round) {
        for (const auto* original : {&jpeg, &jp2}) {
            auto bytes = *original;
            const int hits = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < hits; ++i)
                bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
            if (rng() % 3 == 0)
                bytes.resize(rng() % bytes.size());
            DibBlock block = original == &jpeg ? decodeJpegBytes(bytes.data(), bytes.size())
                                               : decodeJ2kBytes(bytes.data(), bytes.size());
            DibInfo info;
            if (block) {
                EXPECT_TRUE(readDibInfo(block, info));
            }
        }
    }
}

}  // namespace
