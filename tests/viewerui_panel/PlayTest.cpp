// Playing through the control panel's buttons and sliders on a generated recording.

#include <QAction>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

#include <QStatusBar>
#include <memory>

#include "PanelTestSupport.h"
#include "platform/audio/AudioStream.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"
#include "viewer/resources/StringTable.h"

namespace korvex::test {
namespace {

QSlider* slider(QWidget* w) {
    return qobject_cast<QSlider*>(w);
}

std::vector<int> shownIndices(const QSignalSpy& spy) {
    std::vector<int> v;
    for (const QList<QVariant>& args : spy)
        v.push_back(args.at(0).toInt());
    return v;
}

struct PlayCase {
    int startFrame;  // 1-based, as the panel shows it
    int speed;
    bool reverse;
    const char* endCounter;
    std::vector<int> shown;
};

class PanelPlay : public FrameTest, public ::testing::WithParamInterface<PlayCase> {};

TEST_P(PanelPlay, RunsToWhereTheNextStepWouldPassTheEnd) {
    const PlayCase& c = GetParam();
    gen::RecordingSpec silent;  // with sound, play would follow the sound track, frame by frame
    silent.sound = SoundFormat::None;
    ASSERT_TRUE(open(write("rec", 10, silent)));
    slider(control(ctl::speed))->setValue(c.speed);
    slider(control(ctl::position))->setValue(c.startFrame);  // a user's scroll
    ASSERT_EQ(currentIndex(), c.startFrame - 1);
    QSignalSpy refreshed(&panel(), &CDVRFormView::displaysRefreshed);
    click(c.reverse ? ctl::reverse : ctl::play);
    ASSERT_TRUE(waitFor([&] { return !doc().playing(); }));
    EXPECT_EQ(shownIndices(refreshed), c.shown);
    EXPECT_EQ(text(ctl::frameCounter), QString::fromLatin1(c.endCounter));
    EXPECT_EQ(slider(control(ctl::position))->value(), currentIndex() + 1);
    // The panel is ready for the next command; Close works again.
    for (int id : {ctl::play, ctl::reverse, ctl::next, ctl::previous})
        EXPECT_TRUE(control(id)->isEnabled()) << id;
    EXPECT_FALSE(control(ctl::stop)->isEnabled());
    EXPECT_EQ(frame->closeDisabled(), 0);
    EXPECT_TRUE(frame->action(cmd::appExit)->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, PanelPlay,
    ::testing::Values(PlayCase{1, 6, false, "8 / 10", {7}},  // skip 1 stops at frame 8
                      PlayCase{1, 5, false, "10 / 10", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
                      PlayCase{7, 4, false, "10 / 10", {7, 8, 9}},
                      PlayCase{3, 5, true, "1 / 10", {1, 0}},  // reverse from frame 3, step 1
                      PlayCase{3, 6, true, "3 / 10", {}},      // step 7 ends at once
                      PlayCase{10, 7, true, "10 / 10", {}}));

TEST_F(FrameTest, StopEndsPlayAndCloseIsRefusedMeanwhile) {
    ASSERT_TRUE(open(write("rec", 200)));
    slider(control(ctl::speed))->setValue(4);  // 100 ms a frame: 20 s unless stopped
    bool checked = false;
    QObject::connect(&panel(), &CDVRFormView::displaysRefreshed, frame.get(), [&](int index) {
        if (index != 2 || checked)
            return;
        checked = true;
        QTimer::singleShot(0, frame.get(), [&] {
            EXPECT_TRUE(control(ctl::stop)->isEnabled());
            EXPECT_FALSE(control(ctl::play)->isEnabled());
            EXPECT_FALSE(control(ctl::next)->isEnabled());
            EXPECT_FALSE(frame->action(cmd::appExit)->isEnabled());
            EXPECT_FALSE(frame->close());  // dropped while playing
            EXPECT_TRUE(frame->isVisible());
            click(ctl::stop);
        });
    });
    click(ctl::play);
    ASSERT_TRUE(waitFor([&] { return !doc().playing(); }));
    EXPECT_TRUE(checked);
    EXPECT_LT(currentIndex(), 10);
    EXPECT_TRUE(frame->close());
}

TEST_F(FrameTest, SpaceAndTheArrowKeysWorkTheTransport) {
    ASSERT_TRUE(open(write("rec", 200)));
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));  // the keys belong to the window
    QTest::keyClick(frame.get(), Qt::Key_Right);
    QTest::keyClick(frame.get(), Qt::Key_Right);
    EXPECT_EQ(currentIndex(), 2);
    QTest::keyClick(frame.get(), Qt::Key_Left);
    EXPECT_EQ(currentIndex(), 1);

    // Space plays; Space again (inside the loop) stops it.
    slider(control(ctl::speed))->setValue(4);  // 100 ms a frame: 20 s unless stopped
    bool stopped = false;
    QObject::connect(&panel(), &CDVRFormView::displaysRefreshed, frame.get(), [&](int index) {
        if (index < 4 || stopped)
            return;
        stopped = true;
        QTimer::singleShot(0, frame.get(), [&] {
            EXPECT_FALSE(frame->pressTransportKey(Qt::Key_Right));  // Next is off while playing
            QTest::keyClick(frame.get(), Qt::Key_Space);
        });
    });
    QTest::keyClick(frame.get(), Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return !doc().playing(); }));
    EXPECT_TRUE(stopped);
    EXPECT_LT(currentIndex(), 20);
    EXPECT_TRUE(control(ctl::play)->isEnabled());
    EXPECT_FALSE(frame->pressTransportKey(Qt::Key_Up));
}

TEST_F(FrameTest, AFocusedSliderKeepsTheArrowKeys) {
    ASSERT_TRUE(open(write("rec", 20)));
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    slider(control(ctl::position))->setValue(10);
    const struct {
        int id;  // 0: a click on the picture, after the speed slider had the focus
        Qt::Key key;
        int sliderMoves;  // the slider's own actions, not a setValue
        int frameMoves;
    } cases[] = {{ctl::speed, Qt::Key_Right, 1, 0},
                 {ctl::volume, Qt::Key_Left, 1, 0},
                 {ctl::position, Qt::Key_Left, 1, -1},
                 {ctl::next, Qt::Key_Right, 0, 1},
                 {0, Qt::Key_Right, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        QWidget* target = c.id == 0 ? frame->imageView() : control(c.id);
        (c.id == 0 ? control(ctl::speed) : target)->setFocus();
        if (c.id == 0)
            QTest::mouseClick(target, Qt::LeftButton);
        ASSERT_TRUE(target->hasFocus());
        QSignalSpy actions(slider(target) ? slider(target) : slider(control(ctl::speed)),
                           &QAbstractSlider::actionTriggered);
        const int before = currentIndex();
        QTest::keyClick(target, c.key);
        EXPECT_EQ(actions.count(), c.sliderMoves);
        EXPECT_EQ(currentIndex() - before, c.frameMoves);
    }
}

// Both ways of taking hold of the handle: a press, and the second press of a double click.
class SliderDrag : public FrameTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SliderDrag, DuringPlayResumesFromTheNewFrame) {
    const bool doubleClick = GetParam();
    ASSERT_TRUE(open(write("rec", 100)));
    QSlider* position = slider(control(ctl::position));
    slider(control(ctl::speed))->setValue(5);  // 20 ms a frame
    QSignalSpy refreshed(&panel(), &CDVRFormView::displaysRefreshed);
    bool dragged = false;
    int loopsStarted = 0;
    QObject::connect(&panel(), &CDVRFormView::displaysRefreshed, frame.get(), [&](int index) {
        if (dragged || index < 3)
            return;
        dragged = true;
        QTimer::singleShot(0, frame.get(), [&] {
            // Press on the handle, drag it to frame 60, let go: all while play runs.
            QStyleOptionSlider option;
            option.initFrom(position);
            option.minimum = position->minimum();
            option.maximum = position->maximum();
            option.sliderPosition = position->sliderPosition();
            option.orientation = Qt::Horizontal;
            const QPoint handle =
                position->style()
                    ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, position)
                    .center();
            if (doubleClick) {
                QMouseEvent second(QEvent::MouseButtonDblClick, handle,
                                   position->mapToGlobal(handle), Qt::LeftButton, Qt::LeftButton,
                                   Qt::NoModifier);
                QCoreApplication::sendEvent(position, &second);
            } else {
                QTest::mousePress(position, Qt::LeftButton, {}, handle);
            }
            // Taking hold stops the loop, to resume from wherever the handle is let go.
            EXPECT_EQ(doc().stopRequest(), 1);
            EXPECT_EQ(doc().resumeForward(), 1);
            position->setSliderPosition(60);
            EXPECT_EQ(currentIndex(), 59);
            QTest::mouseRelease(position, Qt::LeftButton, {}, handle);
        });
    });
    QObject::connect(&panel(), &CDVRFormView::displaysRefreshed, frame.get(), [&] {
        if (doc().playingForward() && loopsStarted == 0)
            loopsStarted = 1;
    });
    click(ctl::play);
    // The press ended the first loop; the release posted Play, which runs from frame 60.
    ASSERT_TRUE(waitFor([&] { return !doc().playing() && currentIndex() == 99; }));
    ASSERT_TRUE(dragged);
    const std::vector<int> shown = shownIndices(refreshed);
    const auto jump = std::find(shown.begin(), shown.end(), 59);
    ASSERT_NE(jump, shown.end());
    // Before the drag: the first frames in order; after it: 59 on, in order, to the end.
    for (auto it = shown.begin(); it != jump; ++it)
        EXPECT_EQ(*it, static_cast<int>(it - shown.begin()) + 1);
    for (auto it = jump; it != shown.end(); ++it)
        EXPECT_EQ(*it, 59 + static_cast<int>(it - jump));
    EXPECT_EQ(text(ctl::frameCounter), QStringLiteral("100 / 100"));
    EXPECT_EQ(frame->closeDisabled(), 0);
}

INSTANTIATE_TEST_SUITE_P(PositionSlider, SliderDrag, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "DoubleClick" : "Press"; });

// On a sound device and without one: unheard, the track still sets the pace of the pictures,
// and the status bar says the sound is not heard whenever it has nothing else to say.
class SoundClock : public FrameTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SoundClock, SoundModeKeepsFramesOnTheSoundClock) {
    std::unique_ptr<platform::ScopedNoSoundDevice> noDevice;
    if (GetParam())
        noDevice = std::make_unique<platform::ScopedNoSoundDevice>();
    gen::RecordingSpec spec;
    spec.pictures = PictureFormat::Jpeg;
    spec.width = 64;
    spec.height = 48;
    spec.framesPerFolder = 10;
    spec.intervalMs = 100;
    ASSERT_TRUE(open(write("rec", 20, spec, true)));
    ASSERT_EQ(doc().soundPresent(), 1);
    ASSERT_TRUE(panel().soundWanted(0));
    EXPECT_EQ(doc().soundSilent(), GetParam());
    const QString notHeard = resString(textid::soundNotHeard);
    EXPECT_EQ(frame->soundNote(), GetParam() ? notHeard : QString());
    EXPECT_EQ(frame->statusBar()->currentMessage() == notHeard, GetParam());
    ImageSource* source = doc().source();
    const std::uint32_t base = source->offsetAt(0);

    // At each shown frame, how far the picture is ahead of the sound.
    std::vector<std::int64_t> aheadMs;
    bool speedDisabled = false;
    QObject::connect(&panel(), &CDVRFormView::displaysRefreshed, frame.get(), [&](int index) {
        if (!doc().playingForward() || index <= 0)
            return;
        const std::int64_t picture = source->offsetAt(index) - base;
        const std::int64_t sound = doc().sound()->soundPosition();
        aheadMs.push_back(picture - sound);
        speedDisabled = !control(ctl::speed)->isEnabled();
    });
    click(ctl::play);
    ASSERT_TRUE(waitFor([&] { return !doc().playing(); }));
    EXPECT_EQ(currentIndex(), 19);
    ASSERT_EQ(aheadMs.size(), 19u);
    EXPECT_TRUE(speedDisabled);
    // The output reports its position in device blocks; beyond one block (and a little for the
    // steps of the loop) a picture never runs ahead of its sound.
    const std::int64_t slack = 150;
    for (std::size_t i = 0; i < aheadMs.size(); ++i)
        EXPECT_LE(aheadMs[i], slack) << "frame " << i + 1;
    // Played to the end: the track is rewound.
    EXPECT_EQ(doc().sound()->soundPosition(), 0u);
    EXPECT_TRUE(control(ctl::speed)->isEnabled());
    // Pressing play took away no note: the sound is still not heard.
    EXPECT_EQ(frame->statusBar()->currentMessage() == notHeard, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Outputs, SoundClock, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NoSoundDevice" : "Device"; });

TEST_F(FrameTest, QuittingTheProgramEndsALoop) {
    ASSERT_TRUE(open(write("rec", 200)));
    slider(control(ctl::speed))->setValue(4);  // 20 s unless something ends it
    QObject::connect(&panel(), &CDVRFormView::displaysRefreshed, frame.get(), [&](int index) {
        if (index != 2)
            return;
        // What the application's quit shows the frame's filter (a real quit would end this
        // test program's later event loops too).
        QEvent quit(QEvent::Quit);
        static_cast<QObject*>(frame.get())->eventFilter(qApp, &quit);
    });
    click(ctl::play);
    EXPECT_FALSE(doc().playing());
    EXPECT_LT(currentIndex(), 10);
    // No loop starts any more; the window may close.
    click(ctl::play);
    EXPECT_LT(currentIndex(), 10);
    EXPECT_TRUE(frame->close());
}

TEST_F(FrameTest, PreviousAndNextMoveOneFrame) {
    ASSERT_TRUE(open(write("rec", 4)));
    click(ctl::next);
    click(ctl::next);
    EXPECT_EQ(text(ctl::frameCounter), QStringLiteral("3 / 4"));
    click(ctl::previous);
    EXPECT_EQ(text(ctl::frameCounter), QStringLiteral("2 / 4"));
    EXPECT_EQ(slider(control(ctl::position))->value(), 2);
}

}  // namespace
}  // namespace korvex::test
