#include "platform/jpxcodec/jpxcodec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/codec/CodecTestSupport.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace platform;
using namespace codectest;
using korvex::test::TempDir;
using korvex::test::writeFile;
namespace gen = korvex::gen;

namespace {

struct Decoded {
    int result = -1;
    std::vector<unsigned char> bmp;
    std::int32_t outputs[3] = {0, 0, 0};
};

Decoded decodeToBmp(const std::vector<std::uint8_t>& file, std::size_t capacity = 0xFC000) {
    Decoded d;
    j2k_extra_stat_s stat;
    stat.width = &d.outputs[0];
    stat.height = &d.outputs[1];
    stat.detail = &d.outputs[2];
    JpxHandle picture = nullptr;
    d.result = decodeJ2K(file.data(), file.size(), &picture, 0, &stat);
    if (d.result == 0) {
        d.bmp.assign(capacity, 0xAA);
        d.result = encodeBMP(d.bmp.data(), capacity, picture, 0, &stat);
    }
    releaseJ2K(picture);
    return d;
}

// B, G, R of picture pixel (x, y), y from the top, in a BMP file.
const unsigned char* bmpPixel(const Decoded& d, int x, int y) {
    const int w = static_cast<int>(d.bmp[18] | (d.bmp[19] << 8));
    const int h = static_cast<int>(d.bmp[22] | (d.bmp[23] << 8));
    const int stride = (w * 3 + 3) & ~3;
    return d.bmp.data() + 54 + static_cast<std::size_t>(h - 1 - y) * stride + x * 3;
}

TEST(JpxCodec, EncodeBmpRefusesACapacityTooSmallWithoutWriting) {
    const auto file = gen::encodeJ2k(gen::syntheticPicture(40, 30, 3, 4));
    const std::size_t needed = 54 + 120 * 30;
    EXPECT_EQ(decodeToBmp(file, needed).result, 0);
    const Decoded tooSmall = decodeToBmp(file, needed - 1);
    EXPECT_EQ(tooSmall.result, kJpxCapacityTooSmall);
    EXPECT_EQ(tooSmall.outputs[0], 40);
    EXPECT_EQ(tooSmall.outputs[1], 30);
    EXPECT_EQ(tooSmall.outputs[2], kJpxCapacityTooSmall);
    for (unsigned char b : tooSmall.bmp)
        ASSERT_EQ(b, 0xAA);
}

TEST(JpxCodec, FailedDecodeClearsTheHandleAndShortRecordIsNotWritten) {
    const std::vector<std::uint8_t> junk(100, 0x42);
    std::int32_t out = 77;
    j2k_extra_stat_s stat;
    stat.size = 16;  // a record laid out for 32-bit callers
    stat.detail = &out;
    JpxHandle picture = reinterpret_cast<JpxHandle>(&out);
    EXPECT_EQ(decodeJ2K(junk.data(), junk.size(), &picture, 0, &stat), kJpxNotJpeg2000);
    EXPECT_EQ(picture, nullptr);
    EXPECT_EQ(out, 77);
    EXPECT_NE(decodeJ2K(nullptr, 0, &picture, 0, nullptr), 0);
    EXPECT_NE(encodeBMP(nullptr, 0xFC000, nullptr, 0, nullptr), 0);
    releaseJ2K(nullptr);
}

std::vector<std::string> gLoggedLines;

TEST(JpxCodec, CodecErrorsReachTheLogHookAsSingleLines) {
    const auto file =
        gen::encodeJ2k(gen::syntheticPicture(64, 48, 3, 4), gen::J2kContainer::Codestream);
    const std::vector<std::uint8_t> cut(file.begin(), file.begin() + file.size() / 2);
    setJpxErrorLog([](const char* line) { gLoggedLines.emplace_back(line); });
    EXPECT_NE(decodeToBmp(cut).result, 0);
    setJpxErrorLog(nullptr);
    ASSERT_FALSE(gLoggedLines.empty());
    for (const auto& line : gLoggedLines) {
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
}

TEST(JpxCodec, OneAndTwoThreadsGiveTheSamePicture) {
    const auto file = gen::encodeJ2k(gen::syntheticPicture(704, 480, 3, 8));
    const int before = jpxDecodeThreads();
    setJpxDecodeThreads(1);
    const Decoded one = decodeToBmp(file);
    setJpxDecodeThreads(2);
    const Decoded two = decodeToBmp(file);
    setJpxDecodeThreads(before);
    ASSERT_EQ(one.result, 0);
    ASSERT_EQ(two.result, 0);
    EXPECT_EQ(one.bmp, two.bmp);
}

// Largest difference, per channel byte, between a BMP and top-down BGR bytes of the same picture.
int worstDifference(const Decoded& d, const std::vector<std::uint8_t>& bgr, int w, int h) {
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                worst =
                    std::max(worst, std::abs(bmpPixel(d, x, y)[c] -
                                             bgr[(static_cast<std::size_t>(y) * w + x) * 3 + c]));
    return worst;
}

// Frames of three 8-bit components are level-shifted and colour-transformed by us, not the codec.
// The pictures must match the codec's own: exactly for the reversible transform (and for grey or
// untransformed frames, which we do not touch), within one for the irreversible one. Saturated
// stripes make colour differences span +-255 and lossy coding overshoot the 8-bit range.
struct TransformCase {
    const char* name;
    int width;
    int height;
    int channels;
    bool saturated;
    J2kTuning tuning;
};

class OwnColourTransform : public testing::TestWithParam<TransformCase> {};

TEST_P(OwnColourTransform, MatchesTheCodecsOwnOnOneAndTwoThreads) {
    const TransformCase& c = GetParam();
    const auto picture = c.saturated ? saturatedPicture(c.width, c.height)
                                     : gen::syntheticPicture(c.width, c.height, c.channels, 11);
    const auto file = tunedJ2k(picture, c.tuning);
    const auto expected = plainDecodeBgr(file);
    ASSERT_FALSE(expected.empty());
    const bool exact = c.tuning.rate <= 1.0f || !c.tuning.colourTransform || c.channels == 1;
    const int before = jpxDecodeThreads();
    for (int threads : {1, 2}) {
        setJpxDecodeThreads(threads);
        const Decoded d = decodeToBmp(file);
        ASSERT_EQ(d.result, 0) << threads << " threads";
        EXPECT_LE(worstDifference(d, expected, c.width, c.height), exact ? 0 : 1)
            << threads << " threads";
    }
    setJpxDecodeThreads(before);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, OwnColourTransform,
    testing::Values(
        TransformCase{"recorder704", 704, 480, 3, false, {true, 20.0f}},
        TransformCase{"recorder720Codestream", 720, 248, 3, false, {false, 20.0f}},
        TransformCase{"lossless", 333, 97, 3, false, {true, 0.0f}},
        TransformCase{"saturatedLossless", 96, 64, 3, true, {false, 0.0f}},
        TransformCase{"saturatedLossy", 96, 64, 3, true, {true, 8.0f}},
        TransformCase{"saturatedHeavyLoss", 200, 150, 3, true, {false, 60.0f}},
        TransformCase{"tinyLossy", 3, 2, 3, false, {true, 4.0f}},
        TransformCase{"onePixelLossless", 1, 1, 3, false, {false, 0.0f}},
        TransformCase{"withoutColourTransform", 200, 120, 3, false, {true, 20.0f, false}},
        TransformCase{"tilesAndTileParts", 300, 200, 3, false, {true, 20.0f, true, 128, true}},
        TransformCase{"losslessTiles", 300, 200, 3, true, {false, 0.0f, true, 64, true}},
        TransformCase{"grey", 704, 480, 1, false, {true, 20.0f}}),
    [](const auto& info) { return std::string(info.param.name); });

// The viewer's GUI thread and a streaming decoder decode at the same time; each must get its own
// picture whichever of them has the helper thread.
TEST(JpxCodec, CallersOnSeveralThreadsGetTheirOwnPictures) {
    const std::vector<std::vector<std::uint8_t>> files = {
        gen::encodeJ2k(gen::syntheticPicture(704, 480, 3, 21)),
        tunedJ2k(saturatedPicture(320, 240), {false, 0.0f}),
    };
    std::vector<Decoded> expected;
    for (const auto& file : files)
        expected.push_back(decodeToBmp(file));
    ASSERT_EQ(expected[0].result, 0);
    ASSERT_EQ(expected[1].result, 0);
    const int before = jpxDecodeThreads();
    setJpxDecodeThreads(2);
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                const std::size_t f = static_cast<std::size_t>(t + i) % files.size();
                const Decoded d = decodeToBmp(files[f]);
                if (d.result != 0 || d.bmp != expected[f].bmp)
                    ++wrong;
            }
        });
    for (auto& caller : callers)
        caller.join();
    setJpxDecodeThreads(before);
    EXPECT_EQ(wrong.load(), 0);
}

// The marker segments after SIZ are read by us too (to choose who does the colour transform):
// any byte of them damaged must give a picture of the right size or an error, never a read past
// the data (the sanitizer builds check that).
TEST(JpxCodec, DamagedMarkerSegmentsGiveAPictureOrAnError) {
    const auto file = tunedJ2k(gen::syntheticPicture(48, 32, 3, 5), {false, 20.0f, true, 16, true});
    const long siz = sizOffset(file);
    ASSERT_GT(siz, 0);
    const std::size_t from =
        static_cast<std::size_t>(siz) + 2 + ((file[siz + 2] << 8) | file[siz + 3]);
    std::size_t sod = from;
    while (sod + 1 < file.size() && !(file[sod] == 0xFF && file[sod + 1] == 0x93))
        ++sod;
    ASSERT_LT(sod, file.size());
    for (std::size_t at = from; at < sod + 2; ++at) {
        for (std::uint8_t value : {0x00, 0x01, 0x7F, 0xFF}) {
            auto damaged = file;
            damaged[at] = value;
            const Decoded d = decodeToBmp(damaged);
            if (d.result == 0) {
                EXPECT_EQ(d.outputs[0], 48);
                EXPECT_EQ(d.outputs[1], 32);
            }
        }
    }
}

// Component layouts a recorder does not write but a JPEG 2000 file may hold.
struct LayoutCase {
    const char* name;
    std::vector<J2kComponent> comps;
    J2kColour colour;
    bool jp2;
    int (*sample)(int c, int x, int y);
    int expected;               // JpxResult
    unsigned char bgrAt5x3[3];  // expected blue, green, red at picture pixel (5, 3)
};

class JpxLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(JpxLayouts, ConvertOrRefuse) {
    const LayoutCase& c = GetParam();
    const auto file = customJ2k(16, 8, c.comps, c.colour, c.jp2, c.sample);
    const Decoded d = decodeToBmp(file);
    ASSERT_EQ(d.result, c.expected);
    if (c.expected != 0)
        return;
    const unsigned char* p = bmpPixel(d, 5, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(p[i], c.bgrAt5x3[i], 1) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Files, JpxLayouts,
                         testing::Values(
                             // 12-bit grey: 2048 -> 128.
                             LayoutCase{"grey12bit",
                                        {{1, 1, 12}},
                                        J2kColour::Grey,
                                        false,
                                        [](int, int, int) { return 2048; },
                                        0,
                                        {128, 128, 128}},
                             LayoutCase{"grey16bit",
                                        {{1, 1, 16}},
                                        J2kColour::Grey,
                                        true,
                                        [](int, int, int) { return 65535; },
                                        0,
                                        {255, 255, 255}},
                             LayoutCase{"greySigned",
                                        {{1, 1, 8, true}},
                                        J2kColour::Grey,
                                        false,
                                        [](int, int, int) { return -28; },
                                        0,
                                        {100, 100, 100}},
                             // Blue at half resolution across: pixel 5 takes sample 2.
                             LayoutCase{"blueSubsampled",
                                        {{1, 1, 8}, {1, 1, 8}, {2, 1, 8}},
                                        J2kColour::Srgb,
                                        true,
                                        [](int c, int x, int y) {
                                            return c == 0 ? 10 * x : c == 1 ? 10 * y : 40 * x;
                                        },
                                        0,
                                        {80, 30, 50}},
                             // YCbCr 4:2:0 with Cr 200: red 229, green 77, blue 128.
                             LayoutCase{"sycc420",
                                        {{1, 1, 8}, {2, 2, 8}, {2, 2, 8}},
                                        J2kColour::Sycc,
                                        true,
                                        [](int c, int, int) {
                                            return c == 0 ? 128 : c == 1 ? 128 : 200;
                                        },
                                        0,
                                        {128, 77, 229}},
                             LayoutCase{"rgbaAlphaDropped",
                                        {{1, 1, 8}, {1, 1, 8}, {1, 1, 8}, {1, 1, 8}},
                                        J2kColour::Srgb,
                                        true,
                                        [](int c, int, int) { return c == 3 ? 0 : 60 * (c + 1); },
                                        0,
                                        {180, 120, 60}},
                             LayoutCase{"cmyk",
                                        {{1, 1, 8}, {1, 1, 8}, {1, 1, 8}, {1, 1, 8}},
                                        J2kColour::Cmyk,
                                        true,
                                        [](int c, int, int) {
                                            return c == 0 ? 0 : c == 1 ? 255 : c == 2 ? 128 : 51;
                                        },
                                        0,
                                        {101, 0, 204}},
                             LayoutCase{"fiveComponents",
                                        {{}, {}, {}, {}, {}},
                                        J2kColour::Srgb,
                                        false,
                                        [](int, int, int) { return 1; },
                                        kJpxUnsupported,
                                        {}},
                             LayoutCase{"precision17",
                                        {{1, 1, 17}},
                                        J2kColour::Grey,
                                        false,
                                        [](int, int, int) { return 1; },
                                        kJpxUnsupported,
                                        {}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Main headers no recorder writes are refused from the header alone: readJ2KHeader says so, and
// decodeJ2K gives up before the codec is created.
struct SizPatch {
    const char* name;
    std::size_t offset;  // from the SIZ marker
    std::uint32_t value;
    int bytes;  // 1, 4, or 8 for two fields in a row
};

class HostileHeader : public testing::TestWithParam<SizPatch> {};

TEST_P(HostileHeader, IsRefusedBeforeDecoding) {
    const SizPatch& p = GetParam();
    for (bool jp2 : {true, false}) {
        auto file = gen::encodeJ2k(gen::syntheticPicture(128, 64, 3, 6),
                                   jp2 ? gen::J2kContainer::Jp2 : gen::J2kContainer::Codestream);
        const long siz = sizOffset(file);
        ASSERT_GT(siz, 0);
        const std::size_t at = static_cast<std::size_t>(siz) + p.offset;
        if (p.bytes == 1)
            file.at(at) = static_cast<std::uint8_t>(p.value);
        for (int i = 0; i < p.bytes / 4; ++i)
            putBe32(file, at + 4 * i, p.value);
        JpxHeaderInfo info;
        EXPECT_NE(readJ2KHeader(file.data(), file.size(), &info), 0);
        const Decoded d = decodeToBmp(file);
        EXPECT_NE(d.result, 0);
        EXPECT_TRUE(d.outputs[2] == kJpxHeaderRefused || d.outputs[2] == kJpxUnsupported ||
                    d.outputs[2] == kJpxNotJpeg2000);
    }
}

// SIZ: FF 51, Lsiz, Rsiz, then Xsiz at 6, Ysiz 10, XOsiz 14, YOsiz 18, XTsiz 22, YTsiz 26, XTOsiz
// 30, YTOsiz 34, Csiz 38, and per component Ssiz, XRsiz, YRsiz from 40.
INSTANTIATE_TEST_SUITE_P(
    Patches, HostileHeader,
    testing::Values(SizPatch{"huge", 6, 60000, 4}, SizPatch{"tooTall", 10, 4097, 4},
                    SizPatch{"emptyWidth", 14, 128, 4}, SizPatch{"oneByOneTiles", 22, 1, 8},
                    SizPatch{"zeroTileHeight", 26, 0, 4}, SizPatch{"zeroSubsampling", 41, 0, 1},
                    SizPatch{"precision20", 40, 19, 1}, SizPatch{"componentCount", 39, 9, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
