#include "viewer/resources/Resources.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>

using korvex::Language;
using korvex::ResourceKind;

TEST(Resources, EveryPictureIsPresentWithItsSize) {
    for (const korvex::BitmapSpec& spec : korvex::bitmapSpecs()) {
        const QImage img = korvex::loadPicture(spec.kind, spec.id);
        ASSERT_FALSE(img.isNull()) << static_cast<int>(spec.kind) << " " << spec.id;
        EXPECT_EQ(img.size(), QSize(spec.width, spec.height)) << spec.id;
        EXPECT_EQ(img.format(), QImage::Format_RGB888);
    }
    EXPECT_TRUE(korvex::loadBitmap(142).isNull());
    EXPECT_TRUE(korvex::loadBitmap(178).isNull());
}

TEST(Resources, ButtonSetsShareOneShapeAndKeyTheirCorners) {
    // The four pictures of a set are cut by the first one's region, so they must agree on it;
    // round buttons and icons leave their corners to the panel.
    for (int first = 143; first <= 171; first += 4) {
        const QImage normal = korvex::loadBitmap(first);
        for (int i = 0; i < 4; ++i) {
            const QImage img = korvex::loadBitmap(first + i);
            for (const QPoint& corner :
                 {QPoint(0, 0), QPoint(35, 0), QPoint(0, 35), QPoint(35, 35)}) {
                EXPECT_EQ(img.pixelColor(corner), QColor(255, 0, 255)) << first + i;
            }
            EXPECT_NE(img.pixelColor(18, 18), QColor(255, 0, 255)) << first + i;
        }
        EXPECT_NE(korvex::loadBitmap(first), korvex::loadBitmap(first + 1)) << first;
    }
}

TEST(Resources, ToolbarAndProgramIcons) {
    for (int command : korvex::toolbarCommands()) {
        const QIcon icon = korvex::toolbarIcon(command);
        ASSERT_FALSE(icon.isNull()) << command;
        const QImage img = icon.pixmap(16, 15).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(img.size(), QSize(16, 15));
        bool anyTransparent = false, anyOpaque = false;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                (qAlpha(img.pixel(x, y)) == 0 ? anyTransparent : anyOpaque) = true;
            }
        }
        EXPECT_TRUE(anyTransparent && anyOpaque) << command;
    }
    EXPECT_TRUE(korvex::toolbarIcon(57665).isNull());
    for (int id : {127, 128, 129, 179})
        EXPECT_FALSE(korvex::programIcon(id).isNull()) << id;
}

TEST(Resources, TextsFollowTheLanguage) {
    korvex::setUiLanguage(Language::Japanese);
    EXPECT_EQ(korvex::resString(1004), QString::fromUtf8("再生"));
    EXPECT_EQ(korvex::resString(64471), QString());
    EXPECT_EQ(korvex::resDialogText(135, 0), QString::fromUtf8("日付表示形式"));
    EXPECT_EQ(korvex::resToolTip(57601), QString::fromUtf8("開く"));
    korvex::setUiLanguage(Language::English);
    EXPECT_EQ(korvex::resString(1004), QString("play"));
    EXPECT_EQ(korvex::resStatusHelp(57601), QString("open image folder"));
    EXPECT_EQ(korvex::resToolTip(57601), QString("open"));
    EXPECT_EQ(korvex::resToolTip(32773), QString());
}

TEST(Resources, MenuBarFromTheBrandMenu) {
    QMenuBar bar;
    std::map<int, QAction*> made;
    korvex::populateMenuBar(&bar, korvex::menuResource(Language::English, 128),
                            [&](int id, const QString& text) {
                                QAction* a = korvex::createCommandAction(id, text, &bar);
                                made[id] = a;
                                return a;
                            });
    ASSERT_EQ(bar.actions().size(), 3);
    EXPECT_EQ(bar.actions()[0]->text(), QString("File(&F)"));
    ASSERT_TRUE(made.count(57601));
    EXPECT_EQ(made[57601]->text(), QString("Open(&O)..."));
    EXPECT_EQ(made[57601]->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(made[57601]->statusTip(), QString("open image folder"));
    EXPECT_EQ(made[57601]->data().toInt(), 57601);
    EXPECT_EQ(made[33001]->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_EQ(made[57607]->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_TRUE(made.count(32774));
    EXPECT_FALSE(made.count(57664));
    EXPECT_EQ(made[32775]->text(), QString("Export Video(&E)..."));
    EXPECT_EQ(made.size(), 19u);
    // "Time Display Position" and "Image" are submenus of View.
    QMenu* view = bar.actions()[1]->menu();
    ASSERT_NE(view, nullptr);
    int submenus = 0;
    for (QAction* a : view->actions())
        submenus += a->menu() != nullptr;
    EXPECT_EQ(submenus, 2);
}
