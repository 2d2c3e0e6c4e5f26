// The host's window on Qt's offscreen platform: Start streams from the built-in recorder into
// the control's area, the page's fields follow the save, the property editor shows its texts
// whole, a Start without the properties a run needs says what is missing, the control's status
// line and its boxes' icons show; and a session reports a saved folder only when it is on disk.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "platform/com/Automation.h"
#include "tests/tools/ToolsTestSupport.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/host/AccessDialogs.h"
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
            } else if (modal && answerDialog_) {
                answerDialog_(modal);
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
    std::function<void(QWidget*)> answerDialog_;  // any other dialog
};

// What a window remembered, in memory.
struct FakeKeyring final : PasswordKeyring {
    std::map<std::string, HostLogin>* items;
    explicit FakeKeyring(std::map<std::string, HostLogin>* kept) : items(kept) {}
    std::optional<HostLogin> read(const std::string& item) override {
        const auto it = items->find(item);
        return it == items->end() ? std::nullopt : std::optional<HostLogin>(it->second);
    }
    bool write(const std::string& item, const HostLogin& login) override {
        (*items)[item] = login;
        return true;
    }
    void forget(const std::string& item) override { items->erase(item); }
};

// Runs `call` on a worker, as the control's download thread asks, serving the GUI meanwhile.
template <typename F>
void fromWorker(F call) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        call();
        done = true;
    });
    EXPECT_TRUE(waitFor([&] { return done.load(); }, 10000));
    worker.join();
}

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
        if (std::string(c.element) == "save_folder") {
            EXPECT_EQ(field->text().toStdString(), folder_);
        }
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

TEST_F(HostWindowTest, AccessQuestionsAskWithDialogsAndRememberInTheKeyring) {
    HostWindow window(*control_, QSize(320, 240));
    std::map<std::string, HostLogin> kept;
    window.setKeyring(std::make_unique<FakeKeyring>(&kept));
    window.show();
    platform::com::IUnknown* site = clientSite();
    ASSERT_NE(site, nullptr);
    picvox::IPicvoxAccessSite* access = nullptr;
    ASSERT_EQ(
        site->QueryInterface(picvox::IID_IPicvoxAccessSite, reinterpret_cast<void**>(&access)),
        platform::com::S_OK);

    int dialogs = 0;
    bool acceptLogin = true;
    const char* trustButton = "certificateThisRun";
    answerDialog_ = [&](QWidget* modal) {
        ++dialogs;
        if (auto* login = qobject_cast<LoginDialog*>(modal)) {
            login->userField()->setText(QStringLiteral("admin"));
            login->passwordField()->setText(QStringLiteral("pw1"));
            login->rememberBox()->setChecked(acceptLogin);
            acceptLogin ? login->accept() : login->reject();
        } else if (auto* certificate = qobject_cast<CertificateDialog*>(modal)) {
            certificate->findChild<QPushButton*>(QString::fromLatin1(trustButton))->click();
        }
    };
    const std::u16string recorder = u"https://127.0.0.1:8443";
    struct Answer {
        platform::com::HRESULT hr = 0;
        std::string user, password;
    };
    const auto ask = [&](std::uint32_t attempt) {
        Answer answer;
        fromWorker([&] {
            platform::com::BSTR user = nullptr, password = nullptr;
            answer.hr =
                access->GetCredentials(recorder.c_str(), u"dvrsim", attempt, &user, &password);
            if (user)
                answer.user = platform::com::utf8FromBstr(user);
            if (password)
                answer.password = platform::com::utf8FromBstr(password);
            platform::com::SysFreeString(user);
            platform::com::SysFreeString(password);
        });
        return answer;
    };

    // The first question shows the dialog; the ticked box keeps the login under the recorder's
    // own item.
    Answer first = ask(0);
    EXPECT_EQ(first.hr, platform::com::S_OK);
    EXPECT_EQ(first.user, "admin");
    EXPECT_EQ(first.password, "pw1");
    EXPECT_EQ(dialogs, 1);
    const std::string item = keyringItem("https://127.0.0.1:8443", "dvrsim");
    EXPECT_EQ(item, "https://127.0.0.1:8443 realm=\"dvrsim\"");
    ASSERT_EQ(kept.count(item), 1u);
    // A later run's first question is answered from the keyring, without a dialog.
    EXPECT_EQ(ask(0).password, "pw1");
    EXPECT_EQ(dialogs, 1);
    // After a refusal the dialog comes at once; cancelled, it answers nothing and the refused
    // login leaves the keyring.
    acceptLogin = false;
    EXPECT_EQ(ask(1).hr, platform::com::S_FALSE);
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(kept.count(item), 0u);

    // The certificate dialog's buttons, and the command line's certificate without a dialog.
    const auto trust = [&](const std::u16string& sha) {
        std::uint32_t answer = 99;
        fromWorker([&] {
            access->TrustCertificate(recorder.c_str(), sha.c_str(), u"CN=dvr", u"2024 to 2025",
                                     &answer);
        });
        return answer;
    };
    const std::u16string sha(64, u'a');
    EXPECT_EQ(trust(sha), picvox::kPicvoxTrustThisRun);
    trustButton = "certificateTrust";
    EXPECT_EQ(trust(sha), picvox::kPicvoxTrustAlways);
    trustButton = "certificateRefuse";
    EXPECT_EQ(trust(sha), picvox::kPicvoxTrustRefused);
    EXPECT_EQ(dialogs, 5);
    window.setAnswers(HostAnswers{std::nullopt, std::string(64, 'a')});
    EXPECT_EQ(trust(sha), picvox::kPicvoxTrustThisRun);
    EXPECT_EQ(dialogs, 5);
    EXPECT_EQ(groupedFingerprint("0a1b2c"), "0A:1B:2C");
    access->Release();
    site->Release();
}

// A run whose download thread waits for the user's login: Stop, pressed while the dialog is up,
// ends the run; the dialog's late answer goes nowhere.
TEST_F(HostWindowTest, StopEndsARunThatWaitsForALogin) {
    korvex::sim::DvrSimOptions options;
    options.prerollMs = 3000;
    options.login = {korvex::sim::SimLoginKind::Basic, "admin", "pw", "dvrsim"};
    korvex::sim::DvrSim recorder(options);
    ASSERT_TRUE(recorder.start());
    HostWindow window(*control_, QSize(320, 240));
    std::map<std::string, HostLogin> kept;
    window.setKeyring(std::make_unique<FakeKeyring>(&kept));
    ASSERT_EQ(window.session().applySettings(
                  demoProperties(DemoMode::Live, recorder.baseUrl(), demoDestination())),
              "");
    window.show();
    bool stopped = false;
    answerDialog_ = [&](QWidget* modal) {
        auto* login = qobject_cast<LoginDialog*>(modal);
        if (!login || stopped)
            return;
        stopped = true;
        window.session().stop();  // as the window's close or a signal does
        login->reject();
    };
    ASSERT_TRUE(window.startRun(false));
    ASSERT_TRUE(waitFor([&] { return stopped; }, 20000));
    EXPECT_FALSE(window.session().running());
    EXPECT_EQ(recorder.refusedLogins(), 1);
    EXPECT_TRUE(closedIcons_.empty());  // no message: the run was stopped, not refused
}

// A question from the download thread while the GUI thread is blocked in Stop (which waits for
// that thread) is given up: no login, refused, and nothing is asked later.
TEST(HostSiteQuestions, AreGivenUpWhileThePageIsBlocked) {
    struct Page final : HostPage {
        std::atomic<int> asked{0};
        void controlInvalidated() override {}
        void showElement(const std::string&, const std::string&) override {}
        void showMessage(const std::string&, const std::string&, MessageIcon) override {}
        void showStatus(const std::string&) override {}
        std::optional<std::string> chooseFolder(const std::string&) override { return {}; }
        bool answersAtOnce() const override { return false; }
        std::optional<HostLogin> askLogin(const std::string&, const std::string&, int) override {
            ++asked;
            return HostLogin{"admin", "pw"};
        }
        HostTrust askTrust(const CertificateQuestion&) override {
            ++asked;
            return HostTrust::Always;
        }
    } page;
    HostSite* site = HostSite::create(page, 1);
    platform::com::HRESULT login = 0;
    std::uint32_t trust = 99;
    std::thread worker([&] {
        platform::com::BSTR user = nullptr, password = nullptr;
        login = site->GetCredentials(u"http://dvr:80", u"r", 0, &user, &password);
        site->TrustCertificate(u"https://dvr:443", u"ab", u"CN=dvr", u"-", &trust);
    });
    // The GUI thread serves no events here, as in Stop.
    site->setPageBlocked(true);
    worker.join();
    EXPECT_EQ(login, platform::com::S_FALSE);
    EXPECT_EQ(trust, picvox::kPicvoxTrustRefused);
    site->setPageBlocked(false);
    QApplication::processEvents();
    EXPECT_EQ(page.asked.load(), 0);
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
