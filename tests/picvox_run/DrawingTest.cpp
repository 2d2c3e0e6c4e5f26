#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "control/run/AnimationBitmaps.h"
#include "control/run/DibPicture.h"
#include "control/run/WaitAnimation.h"
#include "tests/picvox_run/DibBuilder.h"

namespace picvox::run {
namespace {

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

struct Canvas {
    Canvas(int w, int h, int padPixels = 0)
        : stride(w + padPixels), pixels(static_cast<std::size_t>(stride * h), 0x12345678u) {
        surface = Surface{pixels.data(), w, h, stride * 4};
    }
    std::uint32_t at(int x, int y) const { return surface.at(x, y) & 0xFFFFFF; }
    int stride;
    std::vector<std::uint32_t> pixels;
    Surface surface;
};

// Quadrants of a 2 x 2 picture: top-left red, top-right green, bottom-left blue,
// bottom-right white (1 bit: red and green only, on a diagonal).
struct FormatCase {
    const char* name;
    int bitCount;
    bool topDown;
};

class StretchFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(StretchFormats, CornersKeepTheirColoursAndTheMiddleBlends) {
    const FormatCase& c = GetParam();
    const bool twoColours = c.bitCount == 1;
    std::vector<std::uint32_t> palette(256, 0);
    palette[0] = kRed;
    palette[1] = kGreen;
    palette[2] = kBlue;
    palette[3] = kWhite;
    auto index = [&](int x, int y) -> std::uint32_t {
        return twoColours ? static_cast<std::uint32_t>(x != y)
                          : static_cast<std::uint32_t>(y * 2 + x);
    };
    auto colour = [&](int x, int y) { return palette[index(x, y)]; };
    const bool direct = c.bitCount >= 24;
    auto image = test::makeDib(
        2, 2, c.bitCount, palette,
        [&](int x, int y) { return direct ? colour(x, y) : index(x, y); }, c.topDown);

    Canvas canvas(8, 6, 3);  // rows wider than the area: the padding must stay untouched
    DibInfo info;
    ASSERT_TRUE(drawDibStretched(image.data(), image.size(), canvas.surface, &info));
    EXPECT_EQ(info.width, 2);
    EXPECT_EQ(info.height, 2);
    EXPECT_EQ(info.paletteEntries, c.bitCount == 1   ? 2
                                   : c.bitCount == 4 ? 16
                                   : c.bitCount == 8 ? 256
                                                     : 0);
    EXPECT_EQ(canvas.at(0, 0), colour(0, 0));
    EXPECT_EQ(canvas.at(7, 0), colour(1, 0));
    EXPECT_EQ(canvas.at(0, 5), colour(0, 1));
    EXPECT_EQ(canvas.at(7, 5), colour(1, 1));
    EXPECT_EQ(canvas.surface.at(0, 0) >> 24, 0xFFu);
    // Smooth, not nearest: between red and green (top row) both channels are partly lit.
    const std::uint32_t mid = canvas.at(4, 0);
    EXPECT_GT((mid >> 16) & 0xFF, 0u);
    EXPECT_GT((mid >> 8) & 0xFF, 0u);
    for (int y = 0; y < 6; ++y)
        for (int x = 8; x < 11; ++x)
            ASSERT_EQ(canvas.pixels[static_cast<std::size_t>(y * canvas.stride + x)], 0x12345678u);
}

INSTANTIATE_TEST_SUITE_P(
    Dib, StretchFormats,
    ::testing::Values(FormatCase{"1bit", 1, false}, FormatCase{"4bit", 4, false},
                      FormatCase{"8bit", 8, false}, FormatCase{"24bit", 24, false},
                      FormatCase{"32bit", 32, false}, FormatCase{"24bitTopDown", 24, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StretchDib, SameSizeIsAnExactCopyAndShrinkingAverages) {
    // An odd width (rows padded) at the same size comes out pixel for pixel.
    auto pattern = [](int x, int y) {
        return static_cast<std::uint32_t>((x * 40) << 16 | (y * 50) << 8 | (x + y) * 9);
    };
    auto image = test::makeDib(5, 3, 24, {}, pattern);
    Canvas same(5, 3);
    ASSERT_TRUE(drawDibStretched(image.data(), image.size(), same.surface));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(same.at(x, y), pattern(x, y)) << x << "," << y;

    // A fine black and white checkerboard shrunk to one pixel is grey, not black or white.
    std::vector<std::uint32_t> greys(256, 0);
    greys[1] = kWhite;
    auto board = test::makeDib(16, 16, 8, greys, [](int x, int y) { return (x + y) % 2u; });
    Canvas one(1, 1);
    ASSERT_TRUE(drawDibStretched(board.data(), board.size(), one.surface));
    const std::uint32_t grey = one.at(0, 0);
    EXPECT_NEAR(static_cast<int>(grey & 0xFF), 128, 8);
    EXPECT_EQ((grey >> 16) & 0xFF, grey & 0xFF);
}

void put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(StretchDib, RefusesBlocksItCannotReadAndDrawsNothing) {
    struct {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> spoil;
    } cases[] = {
        {"rows cut short", [](auto& v) { v.resize(v.size() - 1); }},
        {"palette cut short", [](auto& v) { v.resize(54 + 100); }},
        {"headers cut short", [](auto& v) { v.resize(40); }},
        {"compressed", [](auto& v) { put32(v, 30, 1); }},
        {"16 bits", [](auto& v) { v[28] = 16; }},
        {"zero width", [](auto& v) { put32(v, 18, 0); }},
        {"negative width", [](auto& v) { put32(v, 18, 0xFFFFFFFFu); }},
        {"huge height", [](auto& v) { put32(v, 22, 0x7FFFFFFFu); }},
        {"short info header", [](auto& v) { put32(v, 14, 12); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = test::makeDib(4, 4, 8, std::vector<std::uint32_t>(256, kRed),
                                   [](int, int) { return 0u; });
        c.spoil(image);
        Canvas canvas(4, 4);
        EXPECT_FALSE(readDibInfo(image.data(), image.size()));
        EXPECT_FALSE(drawDibStretched(image.data(), image.size(), canvas.surface));
        EXPECT_EQ(canvas.pixels[0], 0x12345678u);
    }
}

// ---- The waiting animation ----

class AnimationBoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto record = std::make_unique<WaitAnimation>();
        record->strip = makeAnimationBitmap(kBitmapChevronStrip);
        record->speakerRest = makeAnimationBitmap(kBitmapSpeakerRest);
        record->speakerPulse = makeAnimationBitmap(kBitmapSpeakerPulse);
        record->place(canvas_.surface.width, canvas_.surface.height);
        bar_ = Rect{record->barX, record->barY, kStripWidth, kStripHeight};
        token_ = board_.publish(std::move(record));
    }
    std::vector<std::uint32_t> stripOnCanvas() const {
        std::vector<std::uint32_t> out;
        for (int y = 0; y < kStripHeight; ++y)
            for (int x = 0; x < kStripWidth; ++x)
                out.push_back(canvas_.at(bar_.x + x, bar_.y + y));
        return out;
    }
    AnimationBoard board_;
    Canvas canvas_{300, 240};
    Rect bar_;
    std::uint64_t token_ = 0;
};

TEST_F(AnimationBoardTest, ChevronsMoveOneChevronPerTickAndComeBackAfterTen) {
    EXPECT_EQ(bar_.x, (300 - 149) / 2);
    EXPECT_EQ(bar_.y, (240 - 12) / 2);
    board_.setState(kAnimationCaching);
    ASSERT_TRUE(board_.draw(canvas_.surface));
    const auto first = stripOnCanvas();
    EXPECT_EQ(canvas_.at(0, 0), 0u);  // black around the strip

    // Redrawing without a tick moves nothing.
    ASSERT_TRUE(board_.draw(canvas_.surface));
    EXPECT_EQ(stripOnCanvas(), first);

    board_.tick();
    ASSERT_TRUE(board_.draw(canvas_.surface));
    const auto moved = stripOnCanvas();
    EXPECT_NE(moved, first);
    for (int y = 0; y < kStripHeight; ++y)
        for (int x = 0; x < kStripWidth; ++x)
            ASSERT_EQ(moved[static_cast<std::size_t>(y * kStripWidth +
                                                     (x + kChevronStepPx) % kStripWidth)],
                      first[static_cast<std::size_t>(y * kStripWidth + x)]);
    for (int i = 0; i < 9; ++i) {
        board_.tick();
        board_.draw(canvas_.surface);
    }
    EXPECT_EQ(stripOnCanvas(), first);
}

TEST_F(AnimationBoardTest, SpeakerChangesEveryThirdTick) {
    board_.setState(kAnimationWaitingForPicture);
    const bool expected[] = {false, false, true, true, true, false, false};
    for (bool pulse : expected) {
        board_.tick();
        ASSERT_TRUE(board_.draw(canvas_.surface));
        EXPECT_EQ(board_.snapshot()->pulseFrame, pulse);
    }
}

TEST_F(AnimationBoardTest, StatesDecideWhatIsDrawn) {
    board_.setState(kAnimationEnded);
    ASSERT_TRUE(board_.draw(canvas_.surface));
    EXPECT_TRUE(std::all_of(canvas_.pixels.begin(), canvas_.pixels.end(),
                            [](std::uint32_t p) { return p == kBlack; }));
    board_.setState(9);  // not a state: ignored
    EXPECT_EQ(board_.state(), kAnimationEnded);
    board_.setState(kAnimationNone);
    EXPECT_FALSE(board_.draw(canvas_.surface));

    // A stale token leaves the active record alone; its own token ends it.
    board_.setState(kAnimationCaching);
    board_.withdraw(token_ + 1);
    EXPECT_TRUE(board_.draw(canvas_.surface));
    board_.withdraw(token_);
    EXPECT_FALSE(board_.active());
    EXPECT_FALSE(board_.draw(canvas_.surface));
}

}  // namespace
}  // namespace picvox::run
