// The main frame's window, menus, toolbar and panel row; opening through the dialogs; the
// panel's displays and sound and volume controls.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "PanelTestSupport.h"
#include "platform/audio/AudioStream.h"
#include "platform/audio/MixerDevice.h"
#include "recording/FolderImageSource.h"
#include "tests/support/FakeMixer.h"
#include "tools/brand/BrandCodes.h"
#include "viewer/audio/VolumeControl.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"
#include "viewer/resources/StringTable.h"
#include "viewer/shell/OpenDialog.h"
#include "viewer/shell/SearchingDialog.h"
#include "viewer/shell/ShapedButton.h"
#include "viewer/shell/ViewerApp.h"

namespace korvex::test {
namespace {

TEST_F(FrameTest, WindowHasItsMenusToolbarStatusBarAndPanelRow) {
    EXPECT_EQ(frame->size(), QSize(810, 748));
    EXPECT_EQ(frame->minimumSize(), QSize(345, 440));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Korvex2"));

    QStringList menus;
    for (QAction* a : frame->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"File(&F)", "View(&V)", "Help(&H)"}));
    const struct {
        int id;
        const char* shortcut;
    } accelerators[] = {
        {cmd::fileOpen, "Ctrl+O"}, {cmd::fileSave, "Ctrl+S"}, {cmd::filePrint, "Ctrl+P"}};
    for (const auto& a : accelerators)
        EXPECT_EQ(frame->action(a.id)->shortcut(), QKeySequence(a.shortcut)) << a.id;
    for (int id : {cmd::titleInput, cmd::appExit, cmd::viewToolbar, cmd::viewStatusBar,
                   cmd::cameraTitle, cmd::dateFormat, cmd::timeRightDown, cmd::timeLeftDown,
                   cmd::viewImage1, cmd::viewImage16, cmd::appAbout}) {
        ASSERT_NE(frame->action(id), nullptr) << id;
        EXPECT_EQ(frame->action(id)->objectName(), QStringLiteral("cmd%1").arg(id));
    }
    EXPECT_EQ(frame->action(cmd::fileOpen)->statusTip(), QStringLiteral("open image folder"));

    QList<int> toolbar;
    for (QAction* a : frame->toolBar()->actions())
        toolbar << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(toolbar,
              (QList<int>{cmd::fileOpen, cmd::fileSave, cmd::filePrint, 0, cmd::viewImage1,
                          cmd::viewImage4, cmd::viewImage9, cmd::viewImage16, 0, cmd::appAbout}));
    EXPECT_EQ(frame->statusBar()->currentMessage(), QStringLiteral("ready"));

    // The panel row: 80 pixels under the view, whatever the window's height.
    EXPECT_EQ(frame->GetPane(1)->height(), 80);
    frame->resize(600, 500);
    ASSERT_TRUE(waitFor([&] { return frame->GetPane(1)->height() == 80; }));
    EXPECT_GT(frame->GetPane(0)->height(), 100);
    EXPECT_LT(frame->GetPane(0)->geometry().bottom(), frame->GetPane(1)->geometry().top());

    // Without a recording there is nothing to save or print.
    EXPECT_TRUE(frame->action(cmd::fileOpen)->isEnabled());
    EXPECT_FALSE(frame->action(cmd::fileSave)->isEnabled());
    EXPECT_FALSE(frame->action(cmd::filePrint)->isEnabled());
}

TEST_F(FrameTest, PanelHasEveryControlOfItsTemplateWithTooltips) {
    for (int id : {1001, 1002, 1003, 1004, 1005, 1022, 1023, 1061, 1062, 1063, 1064, 1065,
                   1066, 1067, 1068, 1069, 1070, 1071, 1072, 1073, 1074, 1075, 1076}) {
        ASSERT_NE(control(id), nullptr) << id;
        EXPECT_EQ(control(id)->objectName(), QStringLiteral("ctl%1").arg(id));
    }
    const struct {
        int id;
        const char* tip;
    } tips[] = {{1001, "previous image"},
                {1002, "reversible play"},
                {1003, "stop"},
                {1004, "play"},
                {1005, "next image"},
                {1065, "sound"},
                {1066, "camera channel"},
                {1067, "time of current image "},
                {1068, "current image number"},
                {1071, "volume"}};
    for (const auto& t : tips)
        EXPECT_EQ(control(t.id)->toolTip(), QString::fromLatin1(t.tip)) << t.id;
    auto* speed = qobject_cast<QSlider*>(control(ctl::speed));
    EXPECT_EQ(speed->minimum(), 1);
    EXPECT_EQ(speed->maximum(), 10);
    EXPECT_EQ(speed->value(), 3);
    // 1ch ticked and both boxes hidden until an MP3 recording comes; the single channel text.
    EXPECT_TRUE(qobject_cast<QCheckBox*>(control(ctl::channel1))->isChecked());
    EXPECT_TRUE(control(ctl::channel1)->isHidden());
    EXPECT_TRUE(control(ctl::channel2)->isHidden());
    EXPECT_FALSE(control(ctl::singleChannel)->isHidden());
    EXPECT_TRUE(control(1073)->isHidden());
    // The last time keeps 8 pixels to the right edge, the slider 10 pixels before it.
    const QRect last = control(ctl::lastTime)->geometry();
    EXPECT_EQ(panel().width() - 1 - last.right(), 8);
    EXPECT_EQ(last.left() - 1 - control(ctl::position)->geometry().right(), 10);
}

TEST_F(FrameTest, SpeedTicksCarryTheirLabels) {
    auto* speed = qobject_cast<QSlider*>(control(ctl::speed));
    QStringList labels;
    for (int x = 0; x < speed->width(); ++x) {
        const QString label = panel().speedTickLabelAt(x);
        if (!label.isEmpty() && (labels.isEmpty() || labels.back() != label))
            labels << label;
    }
    EXPECT_EQ(labels, (QStringList{"1", "2", "3", "4", "5", "skip 1", "skip 2", "skip 3", "skip 4",
                                   "skip 5"}));
}

TEST_F(FrameTest, OpenGoesThroughTheOpenAndSearchingDialogs) {
    const std::string folder = write("rec", 10);
    COpenDlg::setFolderPicker([&](QWidget*, const QString& start) {
        EXPECT_TRUE(start.isEmpty());  // nothing opened before
        return QString::fromStdString(folder);
    });
    bool sawOpen = false;
    whenModal<COpenDlg>([&](COpenDlg* dialog) {
        sawOpen = true;
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("ctl1008"));
        EXPECT_TRUE(edit->text().isEmpty());
        dialog->findChild<QPushButton*>(QStringLiteral("ctl1000"))->click();
        EXPECT_EQ(edit->text().toStdString(), folder);
        dialog->findChild<QPushButton*>(QStringLiteral("ctl1"))->click();
    });
    QTimer::singleShot(0, frame.get(), [&] { frame->action(cmd::fileOpen)->trigger(); });
    ASSERT_TRUE(waitFor([&] { return doc().hasSource() && doc().busyOpening() == 0; }));
    COpenDlg::setFolderPicker({});
    EXPECT_TRUE(sawOpen);
    EXPECT_EQ(doc().source()->count(), 10);
    EXPECT_EQ(doc().lastOpenFolder(), folder);
    EXPECT_EQ(text(ctl::frameCounter), QStringLiteral("1 / 10"));
    EXPECT_EQ(text(ctl::firstTime), text(ctl::currentTime));
    EXPECT_FALSE(text(ctl::lastTime).isEmpty());
    auto* position = qobject_cast<QSlider*>(control(ctl::position));
    EXPECT_EQ(position->minimum(), 1);
    EXPECT_EQ(position->maximum(), 10);
    EXPECT_EQ(position->value(), 1);
    EXPECT_TRUE(frame->action(cmd::fileSave)->isEnabled());
    EXPECT_TRUE(frame->action(cmd::filePrint)->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The next Open starts where this one ended.
    whenModal<COpenDlg>([&](COpenDlg* dialog) {
        EXPECT_EQ(dialog->findChild<QLineEdit*>(QStringLiteral("ctl1008"))->text().toStdString(),
                  folder);
        dialog->reject();
    });
    frame->action(cmd::fileOpen)->trigger();
    EXPECT_EQ(doc().source()->count(), 10);
}

// A scan that lists the folder and then keeps working until it is cancelled: a folder too
// large to finish before the user gives up.
class EndlessScanSource : public FolderImageSource {
public:
    EndlessScanSource(RecordingKind kind, const std::atomic<bool>* cancel)
        : FolderImageSource(kind, cancel), cancel_(cancel) {}
    int openFolder(const std::string& path, int subfoldersOnly) override {
        const int result = FolderImageSource::openFolder(path, subfoldersOnly);
        for (int i = 0; i < 60000 && !cancel_->load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return cancel_->load() ? 0 : result;
    }

private:
    const std::atomic<bool>* cancel_;
};

TEST_F(FrameTest, CancellingTheSearchLeavesNothingOpen) {
    const std::string small = write("small", 3);
    const std::string large = write("large", 120);
    bool endless = false;
    MainFrameSetup setup;
    setup.services.makeSource =
        [&](const RecordingKind& kind,
            const std::atomic<bool>* cancel) -> std::unique_ptr<ImageSource> {
        if (endless)
            return std::make_unique<EndlessScanSource>(kind, cancel);
        return std::make_unique<FolderImageSource>(kind, cancel);
    };
    frame = std::make_unique<CMainFrame>(std::move(setup));
    frame->show();

    // Something open before, to see that it goes.
    ASSERT_TRUE(open(small));
    endless = true;
    bool cancelled = false;
    QString found;
    whenModal<CSearchDlg>([&](CSearchDlg* dialog) {
        auto* label = dialog->findChild<QLabel*>(QStringLiteral("ctl1060"));
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Searching..."));
        // The count of files found shows while the scan goes on.
        EXPECT_TRUE(waitFor([&] { return !label->text().isEmpty(); }));
        found = label->text();
        cancelled = true;
        dialog->findChild<QPushButton*>(QStringLiteral("ctl2"))->click();
    });
    EXPECT_FALSE(open(large));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(found, QStringLiteral("120 image files found"));
    EXPECT_FALSE(doc().hasSource());
    EXPECT_EQ(doc().sound(), nullptr);
    EXPECT_FALSE(doc().currentPicture());
    EXPECT_TRUE(text(ctl::frameCounter).isEmpty());
    EXPECT_TRUE(text(ctl::currentTime).isEmpty());
    EXPECT_FALSE(control(ctl::sound)->isEnabled());
    EXPECT_FALSE(frame->action(cmd::fileSave)->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FrameTest, TimeTextsShowFramesWithoutValidTimeOnlyWithoutAnIndex) {
    for (const bool info : {false, true}) {
        gen::RecordingSpec spec;
        spec.pictures = PictureFormat::Jpeg;
        spec.sound = SoundFormat::None;
        spec.layout = gen::FrameLayout::Flat;
        spec.width = 64;
        spec.height = 48;
        spec.writeInfo = info;
        spec.damage[1] = gen::Damage::NoTrailer;
        ASSERT_TRUE(open(write(info ? "info" : "plain", 3, spec, true)));
        click(ctl::next);
        if (info) {
            EXPECT_EQ(text(ctl::currentTime).size(), 19);
            EXPECT_NE(text(ctl::currentTime), QStringLiteral("----.--.-- --:--:--"));
        } else {
            EXPECT_EQ(text(ctl::currentTime), QStringLiteral("----.--.-- --:--:--"));
        }
        click(ctl::next);
        EXPECT_NE(text(ctl::currentTime), QStringLiteral("----.--.-- --:--:--"));
    }
}

class PanesView : public ViewPort {
public:
    int panes = 1;
    int paneCount() const override { return panes; }
    bool isMultiPane() const override { return panes != 1; }
    int channelOfPane(int pane) const override { return pane == 2 ? -9 : pane * 3; }
};

TEST_F(FrameTest, ChannelTextsFollowThePanes) {
    ASSERT_TRUE(open(write("rec", 2)));
    PanesView view;
    panel().setViewPort(&view);
    panel().refreshDisplays();
    EXPECT_EQ(text(ctl::singleChannel), QStringLiteral(" 1"));
    view.panes = 4;
    panel().showChannelIndicators(4);
    panel().refreshDisplays();
    EXPECT_TRUE(control(ctl::singleChannel)->isHidden());
    EXPECT_EQ(text(1073), QStringLiteral(" 1"));
    EXPECT_EQ(text(1074), QStringLiteral(" 4"));
    EXPECT_EQ(text(1075), QStringLiteral("--"));
    EXPECT_EQ(text(1076), QStringLiteral("10"));
    view.panes = 9;
    panel().showChannelIndicators(9);
    panel().refreshDisplays();
    EXPECT_FALSE(control(ctl::singleChannel)->isHidden());
    EXPECT_EQ(text(ctl::singleChannel), QStringLiteral("--"));
    panel().setViewPort(frame->GetPane(0) ? dynamic_cast<ViewPort*>(frame->GetPane(0)) : nullptr);
}

TEST_F(FrameTest, SoundToggleAndChannelBoxesOfAnMp3Recording) {
    gen::RecordingSpec spec;
    spec.pictures = PictureFormat::Jpeg2000;
    spec.sound = SoundFormat::Mp3;
    spec.soundChannels = 2;
    spec.soundRate = 16000;
    spec.width = 64;
    spec.height = 48;
    ASSERT_TRUE(open(write("mp3", 4, spec, true)));
    ASSERT_EQ(doc().kindJp2Mp3(), 1);
    ASSERT_EQ(doc().soundPresent(), 1);
    auto* one = qobject_cast<QCheckBox*>(control(ctl::channel1));
    auto* two = qobject_cast<QCheckBox*>(control(ctl::channel2));
    auto* toggle = qobject_cast<ToggleImageButton*>(control(ctl::sound));
    EXPECT_FALSE(one->isHidden());
    EXPECT_FALSE(two->isHidden());
    EXPECT_EQ(panel().soundTwoChannel(1), 1);

    toggle->click();  // off: both boxes cleared
    EXPECT_FALSE(toggle->toggleState());
    EXPECT_FALSE(one->isChecked());
    EXPECT_FALSE(two->isChecked());
    EXPECT_FALSE(panel().soundWanted(1));
    toggle->click();  // on again: 1ch
    EXPECT_TRUE(one->isChecked());
    EXPECT_FALSE(two->isChecked());

    two->click();
    EXPECT_EQ(panel().soundTwoChannel(1), 3);
    one->click();
    EXPECT_EQ(panel().soundTwoChannel(1), 2);
    two->click();  // none ticked: no sound wanted, the toggle shows off
    EXPECT_EQ(panel().soundTwoChannel(1), 0);
    EXPECT_FALSE(panel().soundWanted(1));
    EXPECT_FALSE(toggle->toggleState());
    toggle->click();  // on with 2ch unticked: 1ch
    EXPECT_EQ(panel().soundTwoChannel(1), 1);
}

TEST_F(FrameTest, VolumeSliderDrivesAndFollowsTheMixer) {
    // A mixer whose volume the test can change behind the panel's back.
    FakeMixer::State mixer;
    mixer.maximum = 1000;
    mixer.value = 550;  // 55 percent
    std::uint32_t& raw = mixer.value;
    VolumeControl volume(std::make_unique<FakeMixer>(mixer));
    MainFrameSetup setup;
    setup.volume = &volume;
    frame = std::make_unique<CMainFrame>(std::move(setup));
    auto* slider = qobject_cast<QSlider*>(control(ctl::volume));
    EXPECT_EQ(slider->value(), 5);
    EXPECT_EQ(raw, 550u);  // showing the volume does not change it
    slider->setValue(8);   // the user's move
    EXPECT_EQ(raw, 800u);
    raw = 200;  // changed elsewhere: timer 1 brings the slider along
    EXPECT_TRUE(waitFor([&] { return slider->value() == 2; }));
    frame.reset();
}

TEST_F(FrameTest, PositionSliderPageSize) {
    auto* position = qobject_cast<QSlider*>(control(ctl::position));
    const int cases[][2] = {{250, 2}, {1000, 7}, {50, 1}};
    for (const auto& c : cases) {
        panel().setPositionRange(c[0]);
        EXPECT_EQ(position->maximum(), c[0]);
        EXPECT_EQ(position->pageStep(), c[1]) << c[0];
    }
}

}  // namespace
}  // namespace korvex::test

namespace korvex::test {
namespace {

TEST_F(FrameTest, ARecordingFolderDroppedOnTheWindowOpens) {
    const std::string folder = write("rec", 6);
    const std::string file = root + "/note.txt";
    std::ofstream(file) << "not a folder";
    const auto carrying = [](const QList<QUrl>& urls) {
        auto mime = std::make_unique<QMimeData>();
        mime->setUrls(urls);
        return mime;
    };
    // Only one local folder is taken.
    const QUrl local = QUrl::fromLocalFile(QString::fromStdString(folder));
    EXPECT_EQ(CMainFrame::droppedFolder(carrying({local}).get()), QString::fromStdString(folder));
    EXPECT_TRUE(CMainFrame::droppedFolder(carrying({}).get()).isEmpty());
    EXPECT_TRUE(CMainFrame::droppedFolder(carrying({local, local}).get()).isEmpty());
    EXPECT_TRUE(CMainFrame::droppedFolder(
                    carrying({QUrl::fromLocalFile(QString::fromStdString(file))}).get())
                    .isEmpty());
    EXPECT_TRUE(
        CMainFrame::droppedFolder(carrying({QUrl("http://127.0.0.1/rec")}).get()).isEmpty());
    EXPECT_TRUE(CMainFrame::droppedFolder(nullptr).isEmpty());

    const auto mime = carrying({local});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, mime.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(frame.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    // The open follows once the drop has returned, through the Searching dialog.
    ASSERT_TRUE(waitFor([&] {
        return doc().hasSource() && doc().busyOpening() == 0 && doc().source()->count() == 6;
    }));
    EXPECT_EQ(doc().lastOpenFolder(), folder);
    EXPECT_EQ(text(ctl::frameCounter), QStringLiteral("1 / 6"));
}

TEST_F(FrameTest, TheProgramOpensTheFolderOnItsCommandLineAndRemembersIt) {
    const std::string folder = write("rec", 6);
    std::string written, removed, error;
    ASSERT_TRUE(brandtool::writeBrandFile(0, root, written, removed, error)) << error;
    frame.reset();
    {
        ViewerApp app;
        ASSERT_TRUE(
            app.InitInstance({QString::fromStdString(folder)}, QString::fromStdString(root)))
            << app.startupError().toStdString();
        ASSERT_NE(app.frame(), nullptr);
        CKorvexDoc& doc = app.frame()->document();
        ASSERT_TRUE(doc.hasSource());
        EXPECT_EQ(doc.source()->count(), 6);
        EXPECT_TRUE(app.frame()->isVisible());
        EXPECT_EQ(app.frame()->windowTitle(), QStringLiteral("Korvex2"));
        doc.setDateFormat(1);
        app.ExitInstance();
    }
    // The document saved its settings when it went; the next run reads them back.
    ViewerApp next;
    ASSERT_TRUE(next.InitInstance({}, QString::fromStdString(root)));
    EXPECT_EQ(next.frame()->document().lastOpenFolder(), folder);
    EXPECT_EQ(next.frame()->document().dateFormat(), 1);
    EXPECT_FALSE(next.frame()->document().hasSource());
    next.ExitInstance();
}

TEST_F(FrameTest, AFolderOnTheCommandLineThatIsNoRecordingStillStartsTheViewer) {
    std::string written, removed, error;
    ASSERT_TRUE(brandtool::writeBrandFile(0, root, written, removed, error)) << error;
    frame.reset();
    ViewerApp app;
    ASSERT_TRUE(app.InitInstance({QString::fromStdString(root + "/missing")},
                                 QString::fromStdString(root)));
    EXPECT_FALSE(app.frame()->document().hasSource());
    app.ExitInstance();
}

}  // namespace
}  // namespace korvex::test

namespace korvex::test {
namespace {

TEST_F(FrameTest, LayoutCommandsReachThePanelAndDisableSaveAndPrint) {
    gen::RecordingSpec spec;
    spec.pictures = PictureFormat::Jpeg;
    spec.sound = SoundFormat::None;
    spec.width = 64;
    spec.height = 48;
    spec.channels = {0, 1, 2, 3};
    ASSERT_TRUE(open(write("four", 16, spec, true)));
    EXPECT_EQ(text(ctl::singleChannel), QStringLiteral(" 1"));
    frame->action(cmd::viewImage4)->trigger();
    EXPECT_TRUE(frame->action(cmd::viewImage4)->isChecked());
    EXPECT_TRUE(control(ctl::singleChannel)->isHidden());
    EXPECT_FALSE(control(1073)->isHidden());
    EXPECT_EQ(text(1073), QStringLiteral(" 1"));
    EXPECT_EQ(text(1076), QStringLiteral(" 4"));
    EXPECT_FALSE(frame->action(cmd::fileSave)->isEnabled());
    EXPECT_FALSE(frame->action(cmd::filePrint)->isEnabled());
    EXPECT_EQ(doc().source()->count(), 16);  // the four channels merged

    frame->action(cmd::viewImage9)->trigger();
    EXPECT_EQ(text(ctl::singleChannel), QStringLiteral("--"));
    frame->action(cmd::viewImage1)->trigger();
    EXPECT_FALSE(control(ctl::singleChannel)->isHidden());
    EXPECT_TRUE(frame->action(cmd::fileSave)->isEnabled());
}

TEST_F(FrameTest, TheStatusBarSaysWhyAnOpenDidNothingUntilTheNextCommand) {
    ASSERT_TRUE(open(write("rec", 3)));
    QStatusBar* bar = frame->statusBar();
    const QString idle = bar->currentMessage();
    const std::string empty = root + "/empty";
    std::filesystem::create_directories(empty);
    const auto menuCommand = [&] {
        frame->routeCommand(cmd::viewToolbar);
        frame->routeCommand(cmd::viewToolbar);  // the toolbar back
    };
    const std::function<void()> nextCommands[] = {menuCommand, [&] { click(ctl::next); }};
    for (const auto& command : nextCommands) {
        EXPECT_FALSE(open(empty));
        const QString note = bar->currentMessage();
        EXPECT_EQ(note.toStdString(), empty +
                                          " is not a recording (no *.jpg or *.jp2 frame "
                                          "files): nothing was opened.");
        // A command's help text covers the note only while the pointer is on the command.
        QStatusTipEvent help(QStringLiteral("help")), gone{QString()};
        QApplication::sendEvent(frame.get(), &help);
        QApplication::sendEvent(frame.get(), &gone);
        EXPECT_EQ(bar->currentMessage(), note);
        command();
        EXPECT_EQ(bar->currentMessage(), idle);
    }
}

// Without a sound device the note that the sound is not heard stands in for the idle text while
// that recording is open: a failed open or a command's help covers it for a while, a recording
// without sound ends it.
TEST_F(FrameTest, WithoutASoundDeviceTheStatusBarSaysTheSoundIsNotHeard) {
    QStatusBar* bar = frame->statusBar();
    const QString idle = bar->currentMessage();
    const QString notHeard = resString(textid::soundNotHeard);
    ASSERT_FALSE(notHeard.isEmpty());
    gen::RecordingSpec noSound;
    noSound.sound = SoundFormat::None;
    const std::string quiet = write("quiet", 3, noSound);
    const std::string empty = root + "/empty";
    std::filesystem::create_directories(empty);
    {
        platform::ScopedNoSoundDevice noDevice;
        ASSERT_TRUE(open(write("rec", 3)));
    }
    ASSERT_TRUE(doc().soundSilent());
    EXPECT_EQ(bar->currentMessage(), notHeard);
    EXPECT_FALSE(open(empty));  // the open recording stays, and so does its silent track
    EXPECT_NE(bar->currentMessage(), notHeard);
    frame->routeCommand(cmd::viewToolbar);
    frame->routeCommand(cmd::viewToolbar);
    EXPECT_EQ(bar->currentMessage(), notHeard);
    QStatusTipEvent help(QStringLiteral("help")), gone{QString()};
    QApplication::sendEvent(frame.get(), &help);
    EXPECT_EQ(bar->currentMessage(), QStringLiteral("help"));
    QApplication::sendEvent(frame.get(), &gone);
    EXPECT_EQ(bar->currentMessage(), notHeard);
    ASSERT_TRUE(open(quiet));
    EXPECT_FALSE(doc().soundSilent());
    EXPECT_EQ(bar->currentMessage(), idle);
    EXPECT_TRUE(frame->soundNote().isEmpty());
}

TEST_F(FrameTest, SaveAndTitleInputRunFromTheirCommands) {
    ASSERT_TRUE(open(write("rec", 3)));
    const std::string saved = root + "/shot.bmp";
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(QString::fromStdString(saved));
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own accept takes the name
    });
    frame->action(cmd::fileSave)->trigger();
    ASSERT_TRUE(std::filesystem::exists(saved));
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QString::fromStdString(saved)));
    // 64 pixels wide: 64 x 48 rows of 192 bytes after the 54-byte headers.
    EXPECT_EQ(std::filesystem::file_size(saved), 54u + 48u * 192u);

    whenModal<QDialog>([](QDialog* dialog) {
        auto* combo = dialog->findChild<QComboBox*>();
        ASSERT_NE(combo, nullptr);
        combo->setEditText(QStringLiteral("Gate camera"));
        dialog->accept();
    });
    frame->action(cmd::titleInput)->trigger();
    EXPECT_EQ(doc().printTitle(), "Gate camera");
}

}  // namespace
}  // namespace korvex::test
