#include "viewer/playback/FramePainter.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QPainter>
#include <functional>

#include "ViewTestEnvironment.h"

namespace korvex {
namespace {

struct Bgr {
    std::uint8_t b = 0, g = 0, r = 0;
};

// A DIB block of `w` x `h` whose stored row `row` (0 = bottom) and column `x` get colour(x, row).
DibBlock makeDib(int w, int h, const std::function<Bgr(int, int)>& colour, int bits = 24) {
    const std::uint32_t stride = dibStride(static_cast<std::uint32_t>(w), bits / 8u);
    DibBlock block = DibBlock::allocate(kDibPixelOffset + stride * static_cast<std::size_t>(h));
    writeBitmapInfoHeader(block.data(), w, h, static_cast<std::uint16_t>(bits));
    for (int row = 0; row < h; ++row) {
        std::uint8_t* p = block.data() + kDibPixelOffset + stride * static_cast<std::size_t>(row);
        for (int x = 0; x < w; ++x, p += bits / 8) {
            const Bgr c = colour(x, row);
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
    return block;
}

DibBlock uniformDib(int w, int h, std::uint8_t grey) {
    return makeDib(w, h, [grey](int, int) { return Bgr{grey, grey, grey}; });
}

// Pixels inside `r` of `shown` that are exactly 90 % (truncated) of the same pixel of `base`, and
// pixels that are unchanged.
struct DarkCount {
    int darkened = 0;
    int unchanged = 0;
    int total = 0;
};
DarkCount countDarkened(const QImage& shown, const QImage& base, const PixelRect& r) {
    DarkCount n;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            const QColor s = shown.pixelColor(x, y);
            const QColor b = base.pixelColor(x, y);
            ++n.total;
            if (s == b)
                ++n.unchanged;
            else if (s.red() == b.red() * 9 / 10 && s.green() == b.green() * 9 / 10 &&
                     s.blue() == b.blue() * 9 / 10)
                ++n.darkened;
        }
    }
    return n;
}

// Every pixel outside `r` is the same in both pictures.
bool sameOutside(const QImage& a, const QImage& b, const PixelRect& r) {
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (!r.contains(x, y) && a.pixel(x, y) != b.pixel(x, y))
                return false;
        }
    }
    return true;
}

bool isRed(const QColor& c) {
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

PaneDrawRequest requestFor(const DibBlock& picture, QRect rect, std::int64_t time,
                           std::int32_t flags) {
    PaneDrawRequest r;
    r.rect = rect;
    r.picture = &picture;
    r.time = time;
    r.frameFlags = flags;
    r.title = "Gate";
    return r;
}

constexpr std::int64_t kSomeTime = 1236229629;  // 2009-03-05 14:07:09 on the recorder's clock

TEST(FramePainter, ShownRowsLeaveOutTheTopOfFieldPictures) {
    // Stored row r carries r in its blue byte; rows 232..247 are the picture's top 16.
    const DibBlock dib = makeDib(8, 248, [](int, int row) {
        return Bgr{static_cast<std::uint8_t>(row), 0, 0};
    });
    const QImage shown = dibToImage(dib);
    ASSERT_EQ(shown.size(), QSize(8, 232));
    EXPECT_EQ(shown.pixelColor(0, 0).blue(), 231);  // top row: the highest row kept
    EXPECT_EQ(shown.pixelColor(0, 231).blue(), 0);  // bottom row: the first stored

    const DibBlock full = makeDib(8, 240, [](int, int row) {
        return Bgr{static_cast<std::uint8_t>(row), 0, 0};
    });
    EXPECT_EQ(dibToImage(full).size(), QSize(8, 240));
    EXPECT_EQ(dibToImage(full).pixelColor(0, 0).blue(), 239);

    const DibBlock wide = makeDib(
        4, 4,
        [](int, int) {
            return Bgr{1, 2, 3};
        },
        32);
    const QColor c = dibToImage(wide).pixelColor(2, 2);
    EXPECT_EQ(c, QColor(3, 2, 1));
}

TEST(FramePainter, UnreadableBlocksAreNotTouched) {
    DibBlock liar = DibBlock::allocate(100);
    writeBitmapInfoHeader(liar.data(), 1000, 1000, 24);  // rows the block does not hold
    EXPECT_TRUE(dibToImage(liar).isNull());
    EXPECT_TRUE(dibToImage(DibBlock{}).isNull());

    QImage target = newOffscreen(QSize(64, 48), Qt::gray);
    const QImage before = target.copy();
    OverlaySettings check;
    check.checkMode = true;
    paintPane(target, requestFor(liar, target.rect(), 0, 1), check);
    EXPECT_EQ(target, before);
}

TEST(FramePainter, PictureFillsTheFourByThreeDestinationWithoutTheCroppedRows) {
    // 704 x 248: the top 16 rows are red, the rest green.
    const DibBlock dib = makeDib(704, 248, [](int, int row) {
        return row >= 232 ? Bgr{0, 0, 255} : Bgr{0, 255, 0};
    });
    QImage target = newOffscreen(QSize(800, 480), Qt::blue);
    PaneDrawRequest r = requestFor(dib, target.rect(), 0, 0);
    paintPane(target, r, OverlaySettings{});
    // D = (80, 0, 720, 480): green inside, the face outside, no red anywhere.
    EXPECT_EQ(target.pixelColor(80, 0), QColor(0, 255, 0));
    EXPECT_EQ(target.pixelColor(719, 479), QColor(0, 255, 0));
    EXPECT_EQ(target.pixelColor(79, 240), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(720, 240), QColor(Qt::blue));
    for (int y = 0; y < 480; y += 7)
        EXPECT_FALSE(isRed(target.pixelColor(400, y))) << y;
}

TEST(FramePainter, DarkensColourBytesToNinetyPercent) {
    QImage image = newOffscreen(QSize(20, 10), QColor(100, 200, 255));
    darkenRect(image, {5, 2, 30, 4});  // clipped at the right edge
    EXPECT_EQ(image.pixelColor(5, 2), QColor(90, 180, 229));
    EXPECT_EQ(image.pixelColor(19, 3), QColor(90, 180, 229));
    EXPECT_EQ(image.pixelColor(4, 2), QColor(100, 200, 255));
    EXPECT_EQ(image.pixelColor(5, 4), QColor(100, 200, 255));
    darkenRect(image, {-50, -50, -10, -10});  // wholly outside: nothing
    EXPECT_EQ(image.pixelColor(0, 0), QColor(100, 200, 255));
}

TEST(FramePainter, TimeTextSitsOnADarkenedBackground) {
    const DibBlock dib = uniformDib(704, 480, 128);
    OverlaySettings s;
    s.hasChannelInfo = true;
    struct Case {
        std::int32_t position;
        bool right, bottom;
    };
    const Case cases[] = {{kRightDown, true, true},
                          {kRightUp, true, false},
                          {kLeftUp, false, false},
                          {kLeftDown, false, true}};
    const QRect page(0, 0, 800, 600);
    for (const Case& c : cases) {
        s.timePosition = c.position;
        const PaneDrawRequest r = requestFor(dib, page, kSomeTime, 0);
        const PanePlan plan = planPane(r, s);
        ASSERT_TRUE(plan.textShown) << c.position;
        EXPECT_EQ(plan.text, QStringLiteral("Gate  03/05/2009 14:07:09"));
        const PixelRect& t = plan.textRect;
        EXPECT_EQ(t.right > 700, c.right) << c.position;
        EXPECT_EQ(t.left < 100, !c.right) << c.position;
        EXPECT_EQ(t.bottom > 500, c.bottom) << c.position;
        EXPECT_EQ(t.top < 100, !c.bottom) << c.position;
        // Character height 600 / 18 = 33.
        EXPECT_EQ(plan.unit.unit, 33);

        QImage shown = newOffscreen(page.size(), faceColour());
        paintPane(shown, r, s);
        QImage base = newOffscreen(page.size(), faceColour());
        paintPane(base, requestFor(dib, page, 0, 0), s);
        const DarkCount n = countDarkened(shown, base, t);
        EXPECT_GT(n.darkened, n.total / 3) << c.position;  // the background between glyphs
        // Only a glyph's edge can happen to blend back to the old value.
        EXPECT_LT(n.unchanged, n.total / 50) << c.position;
        EXPECT_TRUE(sameOutside(shown, base, t)) << c.position;
    }
}

TEST(FramePainter, NoTextWhenItDoesNotFitOrHasNoValidTime) {
    const DibBlock dib = uniformDib(352, 240, 90);
    OverlaySettings s;
    s.hasChannelInfo = true;
    const QRect pane(0, 0, 160, 120);
    const QImage base = [&] {
        QImage i = newOffscreen(pane.size(), faceColour());
        paintPane(i, requestFor(dib, pane, 0, 0), s);
        return i;
    }();

    PaneDrawRequest wide = requestFor(dib, pane, kSomeTime, 0);
    wide.title = std::string(60, 'W');  // far wider than the pane
    EXPECT_FALSE(planPane(wide, s).textShown);
    QImage shown = newOffscreen(pane.size(), faceColour());
    paintPane(shown, wide, s);
    EXPECT_EQ(shown, base);

    for (std::int32_t flags : {4, 6, 7}) {
        QImage noTime = newOffscreen(pane.size(), faceColour());
        paintPane(noTime, requestFor(dib, pane, kSomeTime, flags), s);
        EXPECT_EQ(noTime, base) << flags;
    }
}

TEST(FramePainter, BannersOnlyInCheckModeAndOnlyForTheirFlags) {
    const DibBlock dib = uniformDib(640, 480, 60);
    const QRect page(0, 0, 640, 480);
    const PixelRect d = fitFourByThree({0, 0, 640, 480});
    const PixelRect pictureBanner = pictureBannerRect(d);
    const PixelRect timeBanner = timeBannerRect(d);
    auto probe = [](const PixelRect& b) { return QPoint(b.left + b.width() / 2, b.top + 4); };
    struct Case {
        std::int32_t flags;
        bool check, picture, time;
    };
    const Case cases[] = {{1, true, true, false},  {2, true, false, true},  {3, true, true, true},
                          {7, true, true, true},   {4, true, false, false}, {0, true, false, false},
                          {7, false, false, false}};
    for (const Case& c : cases) {
        OverlaySettings s;
        s.checkMode = c.check;
        QImage target = newOffscreen(page.size(), faceColour());
        paintPane(target, requestFor(dib, page, 0, c.flags), s);
        EXPECT_EQ(isRed(target.pixelColor(probe(pictureBanner))), c.picture) << c.flags;
        EXPECT_EQ(isRed(target.pixelColor(probe(timeBanner))), c.time) << c.flags;
    }
}

TEST(FramePainter, BlackPaneHasNoTextOrBanners) {
    QImage target = newOffscreen(QSize(400, 300), faceColour());
    PaneDrawRequest r;
    r.parts = kPartBlack;
    r.rect = QRect(0, 0, 400, 300);
    r.time = kSomeTime;
    r.frameFlags = 7;
    OverlaySettings s;
    s.checkMode = true;
    paintPane(target, r, s);
    for (int y = 0; y < 300; y += 11) {
        for (int x = 0; x < 400; x += 13)
            ASSERT_EQ(target.pixelColor(x, y), QColor(Qt::black)) << x << "," << y;
    }
}

TEST(FramePainter, InvalidImageFaceIsTheFaceColourWithBlackText) {
    const QImage page = renderSinglePane(QSize(640, 480), FrameContent{}, OverlaySettings{}, false);
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(page.pixelColor(0, 0), faceColour());
    EXPECT_EQ(page.pixelColor(639, 479), faceColour());
    int dark = 0;
    for (int y = 220; y < 260; ++y) {
        for (int x = 260; x < 380; ++x)
            dark += page.pixelColor(x, y).lightness() < 80 ? 1 : 0;
    }
    EXPECT_GT(dark, 20);
}

// A frame whose picture does not decode but whose trailer was checked: the face carries the
// check's time and, in check mode only, its marks; an unchecked one stays the bare face.
TEST(FramePainter, InvalidImageFaceCarriesTheTimeAndMarksOfACheckedFrame) {
    const QSize size(640, 480);
    OverlaySettings check;
    check.checkMode = true;
    FrameContent frame;
    frame.time = 1700000000;
    const QImage bare = renderSinglePane(size, FrameContent{}, check, false);
    EXPECT_EQ(renderSinglePane(size, frame, check, false), bare);  // flags -1: not checked
    frame.flags = 0;
    const QImage timed = renderSinglePane(size, frame, check, false);
    EXPECT_NE(timed, bare);
    frame.flags = 3;
    EXPECT_EQ(renderSinglePane(size, frame, OverlaySettings{}, false), timed);
    EXPECT_NE(renderSinglePane(size, frame, check, false), timed);
}

TEST(FramePainter, PrintedPageCarriesTheTitleBelowThePicture) {
    const DibBlock dib = uniformDib(704, 480, 200);
    FrameContent frame;
    frame.picture = &dib;
    OverlaySettings s;
    s.printTitle = "Front door";
    const QImage page = renderSinglePane(QSize(800, 1000), frame, s, true);
    // D = (0, 200, 800, 800); the title is centred in the 256 rows below it.
    EXPECT_EQ(page.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(page.pixelColor(400, 500), QColor(200, 200, 200));
    int black = 0;
    for (int y = 800; y < 1000; ++y) {
        for (int x = 200; x < 600; ++x)
            black += page.pixelColor(x, y).lightness() < 80 ? 1 : 0;
    }
    EXPECT_GT(black, 50);

    // Landscape: the picture fitted to the whole page would reach its bottom edge, so it is
    // fitted above a band (a quarter of 800 rows here) and the title stays on the page.
    const QImage landscape = renderSinglePane(QSize(1100, 800), frame, s, true);
    EXPECT_EQ(landscape.pixelColor(550, 300), QColor(200, 200, 200));
    EXPECT_EQ(landscape.pixelColor(550, 650), QColor(Qt::white));
    EXPECT_EQ(landscape.pixelColor(100, 300), QColor(Qt::white));  // D = (150, 0, 950, 600)
    black = 0;
    for (int y = 600; y < 800; ++y) {
        for (int x = 300; x < 800; ++x)
            black += landscape.pixelColor(x, y).lightness() < 80 ? 1 : 0;
    }
    EXPECT_GT(black, 50);

    s.printTitle.clear();
    const QImage untitled = renderSinglePane(QSize(800, 1000), frame, s, true);
    EXPECT_EQ(untitled.pixelColor(400, 900), QColor(Qt::white));
}

TEST(FramePainter, SavedPictureIsFilledByTheFrame) {
    const DibBlock dib = uniformDib(704, 480, 33);
    FrameContent frame;
    frame.picture = &dib;
    const QImage picture = renderPanePicture(QSize(704, 528), frame, OverlaySettings{});
    ASSERT_EQ(picture.size(), QSize(704, 528));
    EXPECT_EQ(picture.format(), QImage::Format_BGR888);
    EXPECT_EQ(picture.pixelColor(0, 0), QColor(33, 33, 33));
    EXPECT_EQ(picture.pixelColor(703, 527), QColor(33, 33, 33));
    EXPECT_TRUE(renderPanePicture(QSize(704, 528), FrameContent{}, OverlaySettings{}).isNull());
    EXPECT_TRUE(renderPanePicture(QSize(1 << 20, 1 << 20), frame, OverlaySettings{}).isNull());
}

// A picture drawn from four bytes a pixel (blue, green, red, 255: how the export decodes its
// JPEG frames) has, pixel for pixel, what the same picture gets from three bytes, and that is
// what Qt's own smooth scaling of the three-byte rows gives: the view and the export show the
// same picture, whichever way Qt scales it (it draws through a bilinear transform, and takes its
// box filter for a picture shrunk more than twice or of a megapixel or more).
struct ScaleCase {
    const char* name;
    int width, height;  // the picture
    QSize page;
    bool halftone;
};

class FourBytePictures : public testing::TestWithParam<ScaleCase> {};

TEST_P(FourBytePictures, DrawAsTheirThreeByteSelves) {
    const ScaleCase& c = GetParam();
    auto colour = [](int x, int row) {
        const unsigned v = static_cast<unsigned>(x * 2654435761u) ^ (row * 40503u);
        return Bgr{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                   static_cast<std::uint8_t>(v >> 16)};
    };
    const DibBlock three = makeDib(c.width, c.height, colour);
    DibBlock four = makeDib(c.width, c.height, colour, 32);
    const std::uint32_t stride = dibStride(static_cast<std::uint32_t>(c.width), 4);
    for (int row = 0; row < c.height; ++row)
        for (int x = 0; x < c.width; ++x)
            four.data()[kDibPixelOffset + row * stride + x * 4 + 3] = 255;

    auto paint = [&](const DibBlock& dib) {
        QImage page = newOffscreen(c.page, QColor(212, 208, 200));
        PaneDrawRequest r = requestFor(dib, page.rect().adjusted(3, 2, -1, -5), 0, 0);
        r.parts = kPartPicture;
        r.halftone = c.halftone;
        paintPane(page, r, OverlaySettings{});
        return page;
    };
    const QImage fromThree = paint(three);
    const QImage fromFour = paint(four);

    // Qt's scaling of the shown rows, turned over and put in the 4:3 place.
    const PixelRect d = fitFourByThree({3, 2, c.page.width() - 1, c.page.height() - 5});
    const int rows = c.height - croppedRows(c.height);
    const QImage stored(three.data() + kDibPixelOffset, c.width, rows,
                        static_cast<qsizetype>(dibStride(static_cast<std::uint32_t>(c.width), 3)),
                        QImage::Format_BGR888);
    QImage expected = newOffscreen(c.page, QColor(212, 208, 200));
    {
        QPainter painter(&expected);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(
            d.left, d.top,
            stored
                .scaled(d.width(), d.height(), Qt::IgnoreAspectRatio,
                        c.halftone ? Qt::SmoothTransformation : Qt::FastTransformation)
                .mirrored(false, true));
    }
    EXPECT_TRUE(fromThree == expected);
    EXPECT_TRUE(fromFour == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scales, FourBytePictures,
    testing::Values(ScaleCase{"fullSizeTaller", 704, 480, QSize(708, 535), true},
                    ScaleCase{"fieldCropped", 720, 248, QSize(644, 487), true},
                    ScaleCase{"upBothWays", 352, 240, QSize(1284, 967), true},
                    ScaleCase{"downToAFourPane", 704, 480, QSize(481, 365), true},
                    ScaleCase{"downJustToHalf", 704, 480, QSize(356, 271), true},
                    ScaleCase{"downBelowHalf", 704, 480, QSize(350, 266), true},
                    ScaleCase{"sixteenPanes", 704, 480, QSize(120, 96), true},
                    ScaleCase{"aMegapixel", 1280, 820, QSize(1284, 967), true},
                    ScaleCase{"justUnderAMegapixel", 1280, 818, QSize(1284, 967), true},
                    ScaleCase{"notSmoothed", 704, 480, QSize(708, 535), false}),
    [](const testing::TestParamInfo<ScaleCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvex
