#include "viewer/shell/ShapedButton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include "viewer/resources/Resources.h"

using korvex::regionFromBitmap;
using korvex::ShapedButton;
using korvex::ToggleImageButton;

namespace {

const QColor kKey(255, 0, 255);

QImage filled(int w, int h, const QColor& c) {
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(c);
    return img;
}

// Every pixel's membership in `region` matches its being other than magenta.
void expectRegionMatchesPixels(const QImage& img, const QRegion& region) {
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const bool opaque = img.pixelColor(x, y) != kKey;
            ASSERT_EQ(region.contains(QPoint(x, y)), opaque) << x << "," << y;
        }
    }
}

}  // namespace

TEST(ShapedButton, RegionFromBitmapCases) {
    const QImage plain = filled(30, 20, Qt::darkGray);
    EXPECT_EQ(regionFromBitmap(plain), QRegion(0, 0, 30, 20));
    EXPECT_TRUE(regionFromBitmap(filled(30, 20, kKey)).isEmpty());
    EXPECT_TRUE(regionFromBitmap(QImage()).isEmpty());

    // A checkerboard has far more than 200 opaque runs and still gives one exact region.
    QImage board = filled(64, 40, kKey);
    for (int y = 0; y < board.height(); ++y) {
        for (int x = (y % 2); x < board.width(); x += 2)
            board.setPixelColor(x, y, Qt::black);
    }
    const QRegion region = regionFromBitmap(board);
    EXPECT_EQ(region.rectCount(), 64 * 40 / 2);
    expectRegionMatchesPixels(board, region);

    // A pixel one step off magenta is opaque.
    QImage nearKey = filled(4, 1, kKey);
    nearKey.setPixelColor(2, 0, QColor(255, 1, 255));
    EXPECT_EQ(regionFromBitmap(nearKey), QRegion(2, 0, 1, 1));
}

TEST(ShapedButton, MaskIsCutFromTheFirstBitmap) {
    QWidget panel;
    ShapedButton play(&panel);
    ASSERT_TRUE(play.setBitmaps(159, 160, 161, 162));
    EXPECT_EQ(play.size(), QSize(36, 36));
    EXPECT_FALSE(play.mask().isEmpty());
    const QImage normal = korvex::loadBitmap(159);
    expectRegionMatchesPixels(normal, play.mask());
    EXPECT_FALSE(play.mask().contains(QPoint(0, 0)));  // the round button's corner
    EXPECT_TRUE(play.mask().contains(QPoint(18, 18)));

    // Clicks count only inside the shape.
    panel.show();
    int clicked = 0;
    QObject::connect(&play, &QAbstractButton::clicked, [&clicked] { ++clicked; });
    for (const QPoint& at : {QPoint(1, 1), QPoint(18, 18)}) {
        QMouseEvent press(QEvent::MouseButtonPress, at, play.mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&play, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, play.mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&play, &release);
    }
    EXPECT_EQ(clicked, 1);
}

TEST(ShapedButton, TransparentPixelsAreNotPainted) {
    QWidget panel;
    panel.setAutoFillBackground(true);
    QPalette pal = panel.palette();
    pal.setColor(QPalette::Window, QColor(0, 200, 0));
    panel.setPalette(pal);
    panel.resize(60, 60);
    ShapedButton stop(&panel);
    ASSERT_TRUE(stop.setBitmaps(151, 152, 153, 154));
    stop.move(10, 10);
    panel.show();
    const QImage shot = panel.grab().toImage();
    EXPECT_EQ(shot.pixelColor(10, 10), QColor(0, 200, 0));  // panel shows through the corner
    const QImage normal = korvex::loadBitmap(151);
    EXPECT_EQ(shot.pixelColor(28, 28), normal.pixelColor(18, 18));
}

TEST(ShapedButton, AllMagentaButtonIsInvisibleAndTakesNoClicks) {
    ShapedButton ghost;
    const QImage key = filled(20, 20, kKey);
    EXPECT_TRUE(ghost.setPictures(key, key, key, key));
    EXPECT_TRUE(ghost.shape().isEmpty());
    EXPECT_TRUE(ghost.testAttribute(Qt::WA_TransparentForMouseEvents));

    ShapedButton missing;
    EXPECT_FALSE(missing.setBitmaps(9999));
    EXPECT_FALSE(missing.hasShape());
    EXPECT_FALSE(missing.testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST(ShapedButton, PictureFollowsTheState) {
    QWidget panel;
    ShapedButton button(&panel);
    ASSERT_TRUE(button.setBitmaps(143, 144, 145, 146));
    panel.show();
    EXPECT_EQ(button.currentPicture(), ShapedButton::Normal);
    button.setDown(true);
    EXPECT_EQ(button.currentPicture(), ShapedButton::Pressed);
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(button.currentPicture(), ShapedButton::Disabled);
}

TEST(ShapedButton, TogglePictureChoice) {
    struct Row {
        bool enabled;
        bool on;
        bool hold;
        int picture;
    };
    const Row rows[] = {
        {true, true, false, 0},  {true, false, false, 1},  {true, true, true, 0},
        {false, true, false, 2}, {false, false, false, 3}, {false, true, true, 3},
        {false, false, true, 3},
    };
    ToggleImageButton sound;
    ASSERT_TRUE(sound.setBitmaps(171, 172, 173, 174));
    EXPECT_TRUE(sound.toggleState());  // starts on
    for (const Row& r : rows) {
        sound.setEnabled(r.enabled);
        sound.setToggleState(r.on);
        sound.setHold(r.hold);
        EXPECT_EQ(sound.currentPicture(), r.picture) << r.enabled << r.on << r.hold;
    }
    // Clicking does not flip it: the panel decides.
    sound.setEnabled(true);
    sound.setToggleState(true);
    sound.click();
    EXPECT_TRUE(sound.toggleState());
}

// Toolbar and program icons are cut with the same key: magenta must come out transparent.
TEST(ShapedButton, KeyedPixmapDropsTheKeyColour) {
    QImage picture(2, 1, QImage::Format_RGB888);
    picture.setPixel(0, 0, qRgb(255, 0, 255));
    picture.setPixel(1, 0, qRgb(10, 20, 30));
    const QImage keyed =
        korvex::keyedPixmap(picture).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(keyed.pixel(1, 0)), 255);
}
