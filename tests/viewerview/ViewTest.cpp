#include "viewer/playback/CKorvexView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ViewTestEnvironment.h"
#include "tools/recgen/FrameRenderer.h"
#include "viewer/playback/core/FrameTimeText.h"

namespace korvex {
namespace {

using test::openGenerated;

QPoint centreOf(const PixelRect& r) {
    return QPoint(r.left + r.width() / 2, r.top + r.height() / 2);
}

bool paneIsBlack(const QImage& image, const PixelRect& pane) {
    return image.pixelColor(centreOf(pane)) == QColor(Qt::black);
}

QAction* actionOf(QMenu& menu, int id) {
    return menu.findChild<QAction*>(QStringLiteral("cmd%1").arg(id));
}

// The document drawn with the alteration banners for one scope.
struct CheckModeOn {
    explicit CheckModeOn(CKorvexDoc& doc) : doc(doc) { doc.setCheckMode(true); }
    ~CheckModeOn() { doc.setCheckMode(false); }
    CKorvexDoc& doc;
};

// A panel that records what the view tells it.
struct RecordingPanel : PanelPort {
    int refreshes = 0;
    int indicators = -1;
    int soundSingle = -1;
    void refreshDisplays() override { ++refreshes; }
    void showChannelIndicators(int paneCount) override { indicators = paneCount; }
    void updateSoundControls(int, bool single) override { soundSingle = single ? 1 : 0; }
};

TEST(CKorvexView, StartsWithOnePaneOfTheDefaultChannel) {
    auto rec = openGenerated(test::fourChannelSpec(16));
    ASSERT_TRUE(rec->opened);
    CKorvexView& view = *rec->view;
    EXPECT_EQ(view.gridSize(), 1);
    EXPECT_FALSE(view.isMultiPane());
    EXPECT_EQ(view.paneCount(), 1);
    EXPECT_EQ(view.channelOfPane(0), 0);
    EXPECT_EQ(rec->doc->source()->count(), 4);  // channel 0's frames

    // Without a recording the view paints its face only.
    CKorvexDoc empty;
    CKorvexView blank(empty);
    EXPECT_EQ(blank.channelOfPane(0), kAllChannels);
    const QImage face = blank.renderView(QSize(200, 150));
    EXPECT_EQ(face.pixelColor(100, 75), faceColour());
}

TEST(CKorvexView, FrameTimesAreTheRecordersWallClock) {
    auto rec = openGenerated(test::fourChannelSpec(8));
    ASSERT_TRUE(rec->opened);
    const ImageSource& source = *rec->doc->source();
    for (int i = 0; i < source.count(); ++i) {
        // The single pane lists channel 0: every fourth frame written.
        const auto& written = rec->written.frames[static_cast<std::size_t>(i * 4)];
        EXPECT_EQ(FormatFrameTime(source.timeAt(i), 2, 1), gen::formatDvrTime(written.dvrSeconds))
            << i;
    }
}

TEST(CKorvexView, TimeTextIsDarkenedWhereThePositionPutsIt) {
    auto rec = openGenerated(test::fourChannelSpec(8));
    ASSERT_TRUE(rec->opened);
    CKorvexView& view = *rec->view;
    for (int id = 40031; id <= 40034; ++id) {
        ASSERT_TRUE(view.onCommand(id));
        EXPECT_EQ(rec->doc->timePosition(), id - 40031);
        CommandState state;
        ASSERT_TRUE(view.updateCommand(id, state));
        EXPECT_TRUE(state.checked);

        const QImage shown = rec->render();
        FrameContent frame = currentFrameOf(*rec->doc);
        PaneDrawRequest request;
        request.rect = QRect(QPoint(0, 0), view.size());
        request.picture = frame.picture;
        request.time = frame.time;
        request.title = frame.title;
        request.frameFlags = frame.flags;
        const PanePlan plan = planPane(request, view.overlaySettings());
        ASSERT_TRUE(plan.textShown);
        EXPECT_TRUE(plan.text.startsWith(QStringLiteral("Gate  07/04/2009 05:20:00"))) << id;

        frame.time = 0;  // the same picture without any text
        const QImage base = renderSinglePane(view.size(), frame, view.overlaySettings(), false);
        int darkened = 0;
        int total = 0;
        const PixelRect& t = plan.textRect;
        for (int y = t.top; y < t.bottom; ++y) {
            for (int x = t.left; x < t.right; ++x) {
                const QColor s = shown.pixelColor(x, y);
                const QColor b = base.pixelColor(x, y);
                ++total;
                darkened += s.red() == b.red() * 9 / 10 && s.green() == b.green() * 9 / 10 &&
                            s.blue() == b.blue() * 9 / 10;
            }
        }
        EXPECT_GT(darkened, total / 3) << id;
        // Outside the text the picture is untouched.
        const QPoint away(t.left > 400 ? 100 : 700, t.top > 300 ? 100 : 500);
        EXPECT_EQ(shown.pixelColor(away), base.pixelColor(away)) << id;
    }
}

TEST(CKorvexView, CameraTitleCommandTogglesTheTitle) {
    auto rec = openGenerated(test::fourChannelSpec(4));
    ASSERT_TRUE(rec->opened);
    CKorvexView& view = *rec->view;
    CommandState state;
    ASSERT_TRUE(view.updateCommand(40035, state));
    EXPECT_TRUE(state.enabled);
    EXPECT_TRUE(state.checked);
    view.onCommand(40035);
    EXPECT_EQ(rec->doc->showCameraTitle(), 0);
    view.updateCommand(40035, state);
    EXPECT_FALSE(state.checked);
    PaneDrawRequest request;
    request.rect = QRect(0, 0, 800, 600);
    request.picture = &rec->doc->currentPicture();
    request.time = rec->doc->source()->currentTime();
    request.title = "Gate";
    request.frameFlags = 0;
    EXPECT_FALSE(planPane(request, view.overlaySettings()).text.contains("Gate"));
}

TEST(CKorvexView, BannersOnlyInCheckModeForDamagedFrames) {
    gen::RecordingSpec spec = test::fourChannelSpec(16);
    spec.damage = {{4, gen::Damage::CodedByte}, {8, gen::Damage::StoredTime}};  // channel 0
    auto rec = openGenerated(spec);
    ASSERT_TRUE(rec->opened);
    CKorvexDoc& doc = *rec->doc;
    const PixelRect d = fitFourByThree({0, 0, 800, 600});
    const QPoint pictureProbe(pictureBannerRect(d).left + pictureBannerRect(d).width() / 2,
                              pictureBannerRect(d).top + 4);
    const QPoint timeProbe(timeBannerRect(d).left + timeBannerRect(d).width() / 2,
                           timeBannerRect(d).top + 4);
    auto red = [](const QColor& c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };

    int damaged = 0;
    int clean = 0;
    for (int i = 0; i < doc.source()->count(); ++i) {
        ASSERT_EQ(doc.SetPosition(i), 1);
        const std::int32_t flags = doc.source()->currentFlags();
        const BannerPlan plan = bannersFor(flags, true);
        (plan.picture || plan.time ? damaged : clean) += 1;
        QImage withCheck;
        {
            CheckModeOn check(doc);
            withCheck = rec->render();
        }
        EXPECT_EQ(red(withCheck.pixelColor(pictureProbe)), plan.picture) << i << " " << flags;
        EXPECT_EQ(red(withCheck.pixelColor(timeProbe)), plan.time) << i << " " << flags;
        const QImage without = rec->render();
        EXPECT_FALSE(red(without.pixelColor(pictureProbe))) << i;
        EXPECT_FALSE(red(without.pixelColor(timeProbe))) << i;
    }
    EXPECT_EQ(damaged, 2);
    EXPECT_EQ(clean, 2);
}

TEST(CKorvexView, UndecodableFrameShowsTheInvalidImageFace) {
    auto spoil = [](const gen::RecordingResult& written) {
        std::ofstream(written.frames[4].path, std::ios::binary | std::ios::trunc)
            << "this is no picture";
    };
    auto rec = openGenerated(test::fourChannelSpec(8), QSize(640, 480), spoil);
    ASSERT_TRUE(rec->opened);
    ASSERT_EQ(rec->doc->SetPosition(1), 1);  // channel 0's second frame: the spoiled file
    EXPECT_FALSE(rec->doc->currentPicture());
    QImage expected = newOffscreen(QSize(640, 480), faceColour());
    paintInvalidImage(expected, expected.rect());
    EXPECT_EQ(rec->render(), expected);

    ASSERT_EQ(rec->doc->SetPosition(0), 1);
    EXPECT_NE(rec->render(), expected);
}

TEST(CKorvexView, SwitchesToFourAndNinePanesAndBack) {
    auto rec = openGenerated(test::fourChannelSpec(16), QSize(810, 575));
    ASSERT_TRUE(rec->opened);
    CKorvexView& view = *rec->view;
    CKorvexDoc& doc = *rec->doc;
    RecordingPanel panel;
    view.setPanelPort(&panel);

    ASSERT_TRUE(view.onCommand(40042));
    EXPECT_EQ(view.gridSize(), 2);
    EXPECT_TRUE(view.isMultiPane());
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(view.channelOfPane(p), p);  // the recording's default channel set
    EXPECT_EQ(doc.source()->count(), 16);
    EXPECT_EQ(panel.indicators, 4);
    EXPECT_EQ(panel.soundSingle, 0);
    EXPECT_GT(panel.refreshes, 0);
    CommandState state;
    view.updateCommand(40042, state);
    EXPECT_TRUE(state.checked);

    // Only the current frame's pane has a picture yet; the others fill as frames pass.
    std::vector<PixelRect> panes = view.paneRectangles();
    ASSERT_EQ(panes.size(), 4u);
    doc.SetPosition(0);
    QImage image = rec->render();
    EXPECT_FALSE(paneIsBlack(image, panes[0]));
    EXPECT_TRUE(paneIsBlack(image, panes[3]));
    for (int i = 1; i < 4; ++i) {
        doc.SetPosition(i);
        image = rec->render();
    }
    for (int p = 0; p < 4; ++p)
        EXPECT_FALSE(paneIsBlack(image, panes[static_cast<std::size_t>(p)])) << p;

    ASSERT_TRUE(view.onCommand(40043));
    EXPECT_EQ(view.gridSize(), 3);
    EXPECT_EQ(view.paneCount(), 9);
    EXPECT_EQ(view.channelOfPane(4), kEmptyPane);  // four channels fill four of nine panes
    panes = view.paneRectangles();
    image = rec->render();
    EXPECT_TRUE(paneIsBlack(image, panes[8]));

    // View > 1 Image: back to the single pane's own channel.
    ASSERT_TRUE(view.onCommand(40041));
    EXPECT_EQ(view.gridSize(), 1);
    EXPECT_FALSE(view.isMultiPane());
    EXPECT_EQ(view.channelOfPane(0), 0);
    EXPECT_EQ(doc.source()->count(), 4);
    EXPECT_EQ(panel.indicators, 1);
    EXPECT_EQ(panel.soundSingle, 1);
    view.updateCommand(40041, state);
    EXPECT_TRUE(state.checked);

    // And 4 panes again keep their channels.
    view.onCommand(40042);
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(view.channelOfPane(p), p);
}

TEST(CKorvexView, ChannelMenuChoosesAPanesChannel) {
    auto rec = openGenerated(test::fourChannelSpec(16), QSize(800, 600));
    ASSERT_TRUE(rec->opened);
    CKorvexView& view = *rec->view;
    CKorvexDoc& doc = *rec->doc;

    // Single pane: no "1 image", "--" offered.
    std::unique_ptr<QMenu> menu = view.createChannelMenu(QPoint(400, 300));
    ASSERT_TRUE(menu);
    EXPECT_EQ(actionOf(*menu, 40001), nullptr);
    ASSERT_NE(actionOf(*menu, 40005), nullptr);
    EXPECT_EQ(actionOf(*menu, 40010), nullptr);  // channel 4 is not in the recording
    EXPECT_EQ(actionOf(*menu, 40002)->text(), QStringLiteral("4 image"));

    view.onCommand(40042);
    const std::vector<PixelRect> panes = view.paneRectangles();
    menu = view.createChannelMenu(centreOf(panes[1]));
    ASSERT_TRUE(menu);
    EXPECT_EQ(view.activePane(), 1);
    EXPECT_EQ(actionOf(*menu, 40002), nullptr);  // the layout on show
    EXPECT_EQ(actionOf(*menu, 40005), nullptr);
    ASSERT_NE(actionOf(*menu, 40001), nullptr);
    EXPECT_FALSE(actionOf(*menu, 40006)->isEnabled());  // channel 0 is in pane 0
    EXPECT_TRUE(actionOf(*menu, 40007)->isEnabled());
    EXPECT_TRUE(actionOf(*menu, 40007)->isChecked());

    // The shown channel again: the pane goes empty and its frames leave the list.
    actionOf(*menu, 40007)->trigger();
    EXPECT_EQ(view.channelOfPane(1), kEmptyPane);
    EXPECT_EQ(doc.source()->count(), 12);
    EXPECT_TRUE(paneIsBlack(rec->render(), panes[1]));

    menu = view.createChannelMenu(centreOf(panes[1]));
    ASSERT_TRUE(menu);
    EXPECT_TRUE(actionOf(*menu, 40007)->isEnabled());
    EXPECT_FALSE(actionOf(*menu, 40007)->isChecked());
    actionOf(*menu, 40007)->trigger();
    EXPECT_EQ(view.channelOfPane(1), 1);
    EXPECT_EQ(doc.source()->count(), 16);

    // A click beside the 4:3 area picks no pane.
    view.resize(900, 600);
    EXPECT_FALSE(view.createChannelMenu(QPoint(10, 300)));
    EXPECT_TRUE(view.createChannelMenu(QPoint(60, 300)));
}

TEST(CKorvexView, DoubleClickShowsAPaneAlone) {
    auto rec = openGenerated(test::fourChannelSpec(16), QSize(800, 600));
    ASSERT_TRUE(rec->opened);
    CKorvexView& view = *rec->view;
    view.onCommand(40042);
    const QPointF at = centreOf(view.paneRectangles()[2]);
    QMouseEvent click(QEvent::MouseButtonDblClick, at, view.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &click);
    EXPECT_EQ(view.gridSize(), 1);
    EXPECT_EQ(view.channelOfPane(0), 2);
    EXPECT_EQ(rec->doc->source()->count(), 4);
    EXPECT_EQ(rec->doc->source()->currentChannel(), 2);

    // In the single pane a double click does nothing.
    QCoreApplication::sendEvent(&view, &click);
    EXPECT_EQ(view.gridSize(), 1);
    EXPECT_EQ(view.channelOfPane(0), 2);
}

TEST(CKorvexView, RecordingWithoutChannelsOffersNoMenu) {
    gen::RecordingSpec spec = test::fourChannelSpec(4);
    spec.writeInfo = false;
    auto rec = openGenerated(spec);
    ASSERT_TRUE(rec->opened);
    CKorvexView& view = *rec->view;
    EXPECT_FALSE(view.createChannelMenu(QPoint(400, 300)));
    CommandState state;
    view.updateCommand(40042, state);
    EXPECT_FALSE(state.enabled);
    view.updateCommand(40035, state);
    EXPECT_FALSE(state.enabled);
    // The time text has no title without an INFO table.
    EXPECT_FALSE(view.overlaySettings().hasChannelInfo);
}

TEST(CKorvexView, PrintAndSaveDrawTheCurrentFrame) {
    auto rec = openGenerated(test::fourChannelSpec(4));
    ASSERT_TRUE(rec->opened);
    const QImage saved = renderForSave(*rec->doc, 704, 528);
    ASSERT_EQ(saved.size(), QSize(704, 528));
    const QImage page = renderForPrint(*rec->doc, QSize(1000, 1400));
    ASSERT_EQ(page.size(), QSize(1000, 1400));
    EXPECT_EQ(page.pixelColor(0, 0), QColor(Qt::white));
    // Both show the same picture: compare the background at the same relative place (5 % from
    // the left, 60 % down; the page's picture is 1000 x 750 from row 325).
    const QColor inSaved = saved.pixelColor(35, 316);
    const QColor onPage = page.pixelColor(50, 325 + 450);
    EXPECT_LT(std::abs(inSaved.red() - onPage.red()), 40);
    EXPECT_LT(std::abs(inSaved.blue() - onPage.blue()), 40);
}

}  // namespace
}  // namespace korvex
