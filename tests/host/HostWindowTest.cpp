// The host's window on Qt's offscreen platform: Start streams from the built-in recorder into
// the control's area, the page's fields follow the save, the property editor shows its texts
// whole, a Start without the properties a run needs says what is missing, the control's status
// line and its boxes' icons show; and a session reports a saved folder only when it is on disk.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "platform/com/Automation.h"
#include "tests/tools/ToolsTestSupport.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/host/ControlHandle.h"
#include "tools/host/DemoSetup.h"
#include "tools/host/HeadlessPage.h"
#include "tools/host/HostSession.h"
#include "tools/host/HostWindow.h"

using namespace picvoxhost;
namespace fs = std::filesystem;

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A picture from the recorder has many colours; black or the waiting figure have few.
bool showsAPicture(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    return colours.size() > 64;
}

// One scratch user for the whole program (the control reads its folders from the environment
// once), a control and the built-in recorder for each test, and someone to close the boxes.
class HostWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home_ = new toolstest::TempDir;
        const std::string docs = *home_ / "docs";
        fs::create_directories(docs);
        std::ofstream(docs + "/Picvox.ini") << "";
        ::setenv("HOME", home_->path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (*home_ / "cfg").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (*home_ / "cache").c_str(), 1);
        ::setenv("TMPDIR", home_->path().c_str(), 1);
        fs::create_directories(*home_ / "cache");
        ::setenv("XDG_DOCUMENTS_DIR", docs.c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete home_;
        home_ = nullptr;
    }

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(callRegistrationEntry(std::getenv("PICVOX_MODULE"), false, &error)) << error;
        std::ostringstream notes;
        std::optional<ControlHandle> made = ControlHandle::create(notes, &error);
        ASSERT_TRUE(made) << error;
        control_.emplace(std::move(*made));
        recorder_ = startDemoRecorder(&error);
        ASSERT_TRUE(recorder_) << error;
        // Nobody is there to answer a dialog: close each box, noting its icon, and pick
        // `folder_` in the folder chooser.
        QObject::connect(&closer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                closedIcons_.push_back(box->icon());
                box->accept();
            } else if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
                chooser->setDirectory(QString::fromStdString(folder_));
                static_cast<QDialog*>(chooser)->accept();
            }
        });
        closer_.start(50);
    }

    std::vector<PropertySetting> demo(DemoMode mode) const {
        return demoProperties(mode, recorder_->baseUrl(), demoDestination());
    }
    bool engineRan() const {
        return toolstest::readText(*home_ / "docs/Picvox_log.log")
                   .find("MainProcessThread START!!") != std::string::npos;
    }
    // The page's site as the control sees it.
    platform::com::IUnknown* clientSite() const {
        platform::com::IUnknown* site = nullptr;
        control_->hosted()->GetClientSite(&site);
        return site;
    }

    static toolstest::TempDir* home_;
    std::optional<ControlHandle> control_;
    std::unique_ptr<korvex::sim::DvrSim> recorder_;
    QTimer closer_;
    std::vector<QMessageBox::Icon> closedIcons_;
    std::string folder_;
};

toolstest::TempDir* HostWindowTest::home_ = nullptr;

TEST_F(HostWindowTest, StartPaintsTheStreamCountsAndStops) {
    HostWindow window(*control_, QSize(360, 240));
    ASSERT_EQ(window.session().applySettings(demo(DemoMode::Live)), "");
    window.show();
    // The area is the control's from the first paint on.
    ASSERT_TRUE(waitFor([&] { return !window.area()->lastPainted().isNull(); }, 5000));
    EXPECT_EQ(window.area()->lastPainted().size(), QSize(360, 240));

    // Live: the recorder's pictures reach the area.
    window.startButton()->click();
    EXPECT_TRUE(window.stopButton()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return engineRan(); }, 5000));
    EXPECT_TRUE(waitFor([&] { return showsAPicture(window.area()->lastPainted()); }, 30000));
    window.stopButton()->click();
    EXPECT_FALSE(window.stopButton()->isEnabled());
    EXPECT_FALSE(window.session().running());

    // Saving: the page's counter field counts.
    ASSERT_EQ(window.session().applySettings({{"hdd_save", "1"}, {"save_time", "30"}}), "");
    window.startButton()->click();
    QLineEdit* counter = window.elementField("save_timer_counter");
    ASSERT_NE(counter, nullptr);
    EXPECT_TRUE(counter->isReadOnly());
    EXPECT_TRUE(waitFor([&] { return !counter->text().isEmpty(); }, 30000));
    window.stopButton()->click();
    EXPECT_FALSE(window.session().running());
}

// As from the command line: Start comes before the window was ever painted, and the page's
// elements still fill in.
TEST_F(HostWindowTest, PageElementsShowWhenStartedBeforeTheFirstPaint) {
    struct Case {
        const char* what;
        std::vector<PropertySetting> extra;
        const char* element;
    };
    folder_ = *home_ / "chosen";
    fs::create_directories(folder_);
    const Case cases[] = {
        {"save counter", {{"hdd_save", "1"}, {"save_time", "30"}}, "save_timer_counter"},
        {"pictures counter",
         {{"hdd_save", "1"}, {"jpeg2000_interval", "500"}, {"save_time", "30"}},
         "save_timer_counter"},
        {"chosen folder", {{"destinationSW", "1"}}, "save_folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostWindow window(*control_, QSize(320, 240));
        ASSERT_EQ(window.session().applySettings(demo(DemoMode::Live)), "");
        ASSERT_EQ(window.session().applySettings(c.extra), "");
        window.show();
        ASSERT_TRUE(window.startRun(false));
        QLineEdit* field = window.elementField(c.element);
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(waitFor([&] { return !field->text().isEmpty(); }, 30000));
        if (std::string(c.element) == "save_folder")
            EXPECT_EQ(field->text().toStdString(), folder_);
        window.stopButton()->click();
    }
}

TEST_F(HostWindowTest, ThePropertyEditorShowsNamesAndValuesWhole) {
    HostWindow window(*control_, QSize(720, 480));  // the program's default size
    ASSERT_EQ(window.session().applySettings(demo(DemoMode::Save)), "");
    window.show();
    ASSERT_TRUE(waitFor([&] { return window.isVisible(); }, 5000));
    QApplication::processEvents();
    QTableWidget* table = window.propertyTable();
    const QFontMetrics metrics(table->font());
    const int margin =
        2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
    for (int row = 0; row < table->rowCount(); ++row) {
        for (int column = 0; column < 2; ++column) {
            const QTableWidgetItem* item = table->item(row, column);
            const int textWidth = metrics.horizontalAdvance(item->text());
            // Long values may be cut; their tool tip holds them whole.
            if (column == 1 && textWidth > metrics.averageCharWidth() * 40)
                continue;
            const QRect cell = table->visualItemRect(item);
            EXPECT_GE(cell.width(), textWidth + margin) << item->text().toStdString();
            EXPECT_LE(cell.right(), table->viewport()->width()) << item->text().toStdString();
        }
    }
}

TEST_F(HostWindowTest, StartWithoutPropertiesSaysWhatIsMissing) {
    HostWindow window(*control_, QSize(320, 240));
    window.show();
    // Shown as the desktop's menu starts it: what a run needs is there before Start.
    ASSERT_TRUE(waitFor([&] { return !window.hostStatus()->text().isEmpty(); }, 5000));
    EXPECT_TRUE(window.hostStatus()->text().contains("no Location set"));
    window.startButton()->click();
    EXPECT_FALSE(window.session().running());
    EXPECT_FALSE(window.stopButton()->isEnabled());
    const QString said = window.hostStatus()->text();
    EXPECT_TRUE(said.startsWith("Not started:")) << said.toStdString();
    for (const char* missing : {"Location", "ImageFileURL", "WaveFileURL", "CacheTime 0"})
        EXPECT_TRUE(said.contains(missing)) << missing;
    // Nothing ran, so the control had nothing to say.
    QApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_TRUE(closedIcons_.empty());

    // What is set no longer shows; a complete page starts.
    ASSERT_EQ(window.session().applySettings(demo(DemoMode::Live)), "");
    EXPECT_TRUE(window.startRun(false));
    EXPECT_TRUE(window.session().running());
    EXPECT_TRUE(window.hostStatus()->text().isEmpty());
    window.stopButton()->click();
}

TEST_F(HostWindowTest, TheControlsStatusLineAndItsBoxIcons) {
    HostWindow window(*control_, QSize(320, 240));
    window.show();
    platform::com::IUnknown* site = clientSite();
    ASSERT_NE(site, nullptr);
    picvox::IPicvoxStatusSite* status = nullptr;
    ASSERT_EQ(
        site->QueryInterface(picvox::IID_IPicvoxStatusSite, reinterpret_cast<void**>(&status)),
        platform::com::S_OK);
    picvox::IPicvoxSite* page = nullptr;
    ASSERT_EQ(site->QueryInterface(picvox::IID_IPicvoxSite, reinterpret_cast<void**>(&page)),
              platform::com::S_OK);

    // From a worker, while the GUI thread is busy elsewhere: it returns without the GUI thread.
    const std::u16string text = u"the recorder answers 500: retrying in 8 s";
    std::thread worker([&] { EXPECT_EQ(status->ShowStatus(text.c_str()), platform::com::S_OK); });
    worker.join();
    EXPECT_TRUE(waitFor(
        [&] { return window.controlStatus()->text() == QString::fromStdU16String(text); }, 5000));
    std::thread clearer([&] { status->ShowStatus(u""); });
    clearer.join();
    EXPECT_TRUE(waitFor([&] { return window.controlStatus()->text().isEmpty(); }, 5000));

    // Each style its icon.
    page->ShowMessageBox(u"Tessaly", u"information", picvox::kPicvoxMessageInformation);
    page->ShowMessageBox(u"Tessaly", u"warning", picvox::kPicvoxMessageWarning);
    page->ShowMessageBox(u"Tessaly", u"plain", picvox::kPicvoxMessageNoIcon);
    EXPECT_EQ(closedIcons_,
              (std::vector<QMessageBox::Icon>{QMessageBox::Information, QMessageBox::Warning,
                                              QMessageBox::NoIcon}));
    page->Release();
    status->Release();
    site->Release();
}

// "saved FOLDER" comes from savedFolder(): only a run folder that is on disk when the run ends.
// A save stopped before it saved anything takes its empty run folder away again.
TEST_F(HostWindowTest, ASessionReportsOnlyASavedFolderThatIsOnDisk) {
    struct Case {
        const char* what;
        bool recorderThere;
    };
    for (const Case& c : {Case{"nothing saved", false}, Case{"pictures saved", true}}) {
        SCOPED_TRACE(c.what);
        const std::string destination = *home_ / (c.recorderThere ? "saved" : "unsaved");
        fs::create_directories(destination);
        HeadlessPage page(64, 48, std::nullopt);
        page.setControl(control_->hosted());
        HostSite* site = HostSite::create(page, 1);
        {
            HostSession session(*control_, *site);
            std::vector<PropertySetting> settings = demo(DemoMode::Save);
            if (!c.recorderThere)
                settings.push_back({"Location", "http://127.0.0.1:1/index.html"});
            settings.push_back({"save_time", "30"});
            settings.push_back({"destination", destination});
            ASSERT_EQ(session.applySettings(settings), "");
            session.start(false);
            std::string runFolder;
            ASSERT_TRUE(waitFor(
                [&] {
                    runFolder = control_->textProperty("destination");
                    return runFolder != destination;
                },
                10000));
            if (c.recorderThere) {
                const auto holdsAFile = [&] {
                    std::error_code ec;
                    for (fs::recursive_directory_iterator it(runFolder, ec), end; !ec && it != end;
                         it.increment(ec)) {
                        if (it->is_regular_file())
                            return true;
                    }
                    return false;
                };
                ASSERT_TRUE(waitFor(holdsAFile, 30000));
            }
            session.stop();
            EXPECT_EQ(fs::is_directory(runFolder), c.recorderThere);
            EXPECT_EQ(session.savedFolder(), c.recorderThere ? runFolder : "");
        }
        site->Release();
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
