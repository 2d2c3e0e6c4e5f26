#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <filesystem>
#include <fstream>
#include <random>

#include "tests/support/GuiTestEnvironment.h"
#include "tools/brand/BrandCodes.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/AboutDialog.h"
#include "viewer/shell/CKorvexApp.h"
#include "viewer/shell/UserStore.h"

namespace fs = std::filesystem;
using korvex::CKorvexApp;
using korvex::Language;

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("korvex-start-" + std::to_string(rd()));
        fs::create_directories(dir_);
        // Every test starts from an empty store.
        std::error_code ec;
        fs::remove_all(fs::path(korvex::test::scratchHome()) / "config" / "Korvex", ec);
    }
    void TearDown() override {
        korvex::setUiLanguage(Language::English);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    QString folder() const { return QString::fromStdString(dir_.string()); }
    void writeBrand(int brand) {
        std::string written, removed, error;
        ASSERT_TRUE(
            korvex::brandtool::writeBrandFile(brand, dir_.string(), written, removed, error));
    }
    fs::path storeFile() const {
        return fs::path(korvex::test::scratchHome()) / "config" / "korvex" / "registry.ini";
    }

    fs::path dir_;
};

}  // namespace

TEST_F(StartupTest, EachBrandGivesItsTitleMenuAndAboutBox) {
    struct Row {
        int brand;
        const char* title;
        int templ;
        int about;
        int aboutCommand;
    };
    const Row rows[] = {{0, "Korvex2", 127, 100, 57664},
                        {1, "Ostrand", 128, 101, 32774},
                        {2, "Korvex2", 179, 178, 32774},
                        {3, "Pellic2", 129, 181, 32774},
                        {4, "Korvex2", 127, 182, 57664}};
    for (const Row& r : rows) {
        writeBrand(r.brand);
        CKorvexApp app;
        ASSERT_TRUE(app.InitInstance({}, folder())) << app.startupError().toStdString();
        EXPECT_EQ(CKorvexApp::instance(), &app);
        EXPECT_EQ(app.brandIndex(), r.brand);
        EXPECT_EQ(app.templateId(), r.templ);
        EXPECT_EQ(app.aboutBoxId(), r.about);
        ASSERT_NE(app.mainFrame(), nullptr);
        EXPECT_EQ(app.mainFrame()->windowTitle(), QString::fromLatin1(r.title));
        EXPECT_TRUE(app.mainFrame()->isVisible());
        auto* about =
            app.mainFrame()->findChild<QAction*>(QStringLiteral("cmd%1").arg(r.aboutCommand));
        ASSERT_NE(about, nullptr) << r.brand;
        EXPECT_TRUE(about->isEnabled());
        fs::remove(dir_ / "Viewer2.ini");
        fs::remove(dir_ / "Viewer.ini");
    }
    EXPECT_EQ(CKorvexApp::instance(), nullptr);
}

TEST_F(StartupTest, MissingOrUnknownBrandFileFailsAndSaysWhy) {
    {
        CKorvexApp app;
        EXPECT_FALSE(app.InitInstance({}, folder()));
        const QString error = app.startupError();
        EXPECT_TRUE(error.contains("Viewer2.ini")) << error.toStdString();
        EXPECT_TRUE(error.contains("Viewer.ini"));
        EXPECT_TRUE(error.contains(folder()));
        EXPECT_EQ(app.mainFrame(), nullptr);
        EXPECT_EQ(app.brandIndex(), -1);
    }
    {
        // A Viewer2.ini holding the Viewer.ini code hides the valid Viewer.ini.
        writeBrand(1);
        korvex::brandtool::BrandFileContent code;
        ASSERT_TRUE(korvex::brandtool::brandFileFor(1, code));
        std::ofstream(dir_ / "Viewer2.ini", std::ios::binary)
            .write(reinterpret_cast<const char*>(code.bytes.data()), 4);
        CKorvexApp app;
        EXPECT_FALSE(app.InitInstance({}, folder()));
        EXPECT_TRUE(app.startupError().contains("Viewer2.ini"));
        EXPECT_EQ(app.mainFrame(), nullptr);
    }
}

// Typed in a terminal anywhere, the viewer finds the brand file an installation put into a data
// folder; without any, the message names every place it looked in, in order.
TEST_F(StartupTest, TheBrandFileIsFoundInTheDataFolders) {
    const fs::path home = korvex::test::scratchHome();
    const fs::path user = home / "data" / "korvex";
    const fs::path system = home / "system-data" / "korvex";
    {
        CKorvexApp app;
        ASSERT_FALSE(app.InitInstance({}, folder()));
        const QString error = app.startupError();
        const qsizetype at[] = {error.indexOf(folder()),
                                error.indexOf(QString::fromStdString(user)),
                                error.indexOf(QString::fromStdString(system))};
        EXPECT_TRUE(at[0] >= 0 && at[0] < at[1] && at[1] < at[2]) << error.toStdString();
        EXPECT_TRUE(error.contains("0 to 4")) << "the brand numbers there are";
    }
    for (const fs::path& place : {system, user}) {
        SCOPED_TRACE(place.string());
        fs::create_directories(place);
        std::string written, removed, error;
        ASSERT_TRUE(korvex::brandtool::writeBrandFile(place == user ? 1 : 2, place.string(),
                                                      written, removed, error));
        CKorvexApp app;
        ASSERT_TRUE(app.InitInstance({}, folder())) << app.startupError().toStdString();
        EXPECT_EQ(app.brandIndex(), place == user ? 1 : 2);
    }
    // The working folder still comes first.
    writeBrand(3);
    CKorvexApp app;
    ASSERT_TRUE(app.InitInstance({}, folder()));
    EXPECT_EQ(app.brandIndex(), 3);
    fs::remove_all(home / "data");
    fs::remove_all(home / "system-data");
}

TEST_F(StartupTest, ABrandFailureIsShownInAMessageBoxThatSaysHowToMendIt) {
    CKorvexApp app;
    ASSERT_FALSE(app.InitInstance({}, folder()));
    const QString details = korvex::startupFailureBox(app)->informativeText();
    EXPECT_TRUE(details.contains("Viewer2.ini")) << details.toStdString();
    EXPECT_TRUE(details.contains("korvex-brand --brand N --dir \"" + folder() + "\""));
    korvex::LaunchOptions shot;
    shot.screenshotPath = "x.png";
    const struct {
        korvex::LaunchOptions commandLine;
        const char* platform;
        bool box;
    } cases[] = {{{}, "xcb", true}, {{}, "offscreen", false}, {shot, "xcb", false}};
    for (const auto& c : cases)
        EXPECT_EQ(korvex::startupFailureNeedsBox(app, c.commandLine, c.platform), c.box);
    // A mistyped option was typed at a terminal, which has the message already.
    writeBrand(0);
    ASSERT_FALSE(app.InitInstance({"--panes", "5"}, folder()));
    EXPECT_FALSE(korvex::startupFailureNeedsBox(app, {}, "xcb"));
}

TEST_F(StartupTest, CheckSwitchAndBadOptions) {
    writeBrand(0);
    {
        CKorvexApp app;
        ASSERT_TRUE(app.InitInstance({"/CHECK"}, folder()));
        EXPECT_TRUE(app.checkMode());
    }
    {
        CKorvexApp app;
        ASSERT_TRUE(app.InitInstance({"check"}, folder()));
        EXPECT_FALSE(app.checkMode());
        EXPECT_EQ(app.launchOptions().folder, "check");
    }
    {
        CKorvexApp app;
        EXPECT_FALSE(app.InitInstance({"--panes", "5"}, folder()));
        EXPECT_TRUE(app.startupError().contains("--panes"));
    }
    {
        // Screenshot mode renders without showing the window.
        CKorvexApp app;
        ASSERT_TRUE(app.InitInstance({"--screenshot", "x.png", "rec"}, folder()));
        ASSERT_NE(app.mainFrame(), nullptr);
        EXPECT_FALSE(app.mainFrame()->isVisible());
    }
}

TEST_F(StartupTest, SettingsRoundTripThroughTheUserStore) {
    writeBrand(0);
    CKorvexApp app;
    ASSERT_TRUE(app.InitInstance({}, folder()));
    EXPECT_EQ(app.LoadSettings(), korvex::ViewerSettings{});

    korvex::ViewerSettings s;
    s.dateFormat = 1;
    s.dateDelimiter = 2;
    s.timePosition = 2;
    s.lastOpenFolder = "/media/rec, with comma";
    s.lastSaveFolder = "/home/u/保存";
    ASSERT_TRUE(app.SaveSettings(s));
    EXPECT_EQ(app.LoadSettings(), s);

    // The values sit under the brand's key path with their own names, in the store the control
    // shares.
    using platform::UserStore;
    UserStore raw;
    ASSERT_TRUE(raw.load(storeFile().string()));
    const std::string key = "SOFTWARE\\KALMO\\Korvex2\\Settings";
    EXPECT_EQ(raw.value(key, "DateFormat"), "1");
    EXPECT_EQ(raw.value(key, "DateDispPos"), "2");
    EXPECT_EQ(raw.value(key, "ForderDir"), "/media/rec, with comma");
    // An out-of-range position and an over-long folder are ignored one by one.
    ASSERT_TRUE(UserStore::update(storeFile().string(), [&](UserStore& store) {
        return store.setValue(key, "DateDispPos", "4") &&
               store.setValue(key, "SaveForder", std::string(300, 'a'));
    }));
    const korvex::ViewerSettings read = app.LoadSettings();
    EXPECT_EQ(read.timePosition, 0);
    EXPECT_EQ(read.dateFormat, 1);
    EXPECT_EQ(read.dateDelimiter, 2);
    EXPECT_EQ(read.lastOpenFolder, s.lastOpenFolder);
    EXPECT_TRUE(read.lastSaveFolder.empty());
}

TEST_F(StartupTest, JapaneseBrandWithoutCompanyUsesItsOwnKey) {
    writeBrand(3);
    korvex::setUiLanguage(Language::Japanese);
    CKorvexApp app;
    ASSERT_TRUE(app.InitInstance({}, folder()));
    EXPECT_EQ(app.settingsKeyPath(), "SOFTWARE\\\\Pellic2\\Settings");
    korvex::ViewerSettings s;
    s.timePosition = 3;
    ASSERT_TRUE(app.SaveSettings(s));
    EXPECT_EQ(app.LoadSettings().timePosition, 3);

    korvex::setUiLanguage(Language::English);
    EXPECT_EQ(app.settingsKeyPath(), "SOFTWARE\\TERIN\\Pellic2\\Settings");
    EXPECT_EQ(app.LoadSettings().timePosition, 0);  // English keeps its own key
}

TEST_F(StartupTest, SettingsOfEarlierVersionsAreReadUntilTheSharedStoreHasItsOwn) {
    writeBrand(0);
    CKorvexApp app;
    ASSERT_TRUE(app.InitInstance({}, folder()));
    const fs::path legacy =
        fs::path(korvex::test::scratchHome()) / "config" / "Korvex" / "Korvex.ini";
    fs::remove(storeFile());
    {
        QSettings old(QString::fromStdString(legacy.string()), QSettings::IniFormat);
        old.setValue("SOFTWARE/KALMO/Korvex2/Settings/DateFormat", 2);
    }
    EXPECT_EQ(app.LoadSettings().dateFormat, 2);
    korvex::ViewerSettings s;
    s.dateFormat = 1;
    ASSERT_TRUE(app.SaveSettings(s));
    EXPECT_EQ(app.LoadSettings().dateFormat, 1);
    fs::remove(legacy);
}

TEST_F(StartupTest, UnwritableStoreKeepsDefaults) {
    writeBrand(0);
    CKorvexApp app;
    ASSERT_TRUE(app.InitInstance({}, folder()));
    // A folder where the store file should be cannot be opened as a file.
    fs::remove(storeFile());
    fs::create_directories(storeFile());
    korvex::ViewerSettings s;
    s.dateFormat = 2;
    EXPECT_FALSE(app.SaveSettings(s));
    EXPECT_EQ(app.LoadSettings(), korvex::ViewerSettings{});
    fs::remove_all(storeFile());
}

TEST_F(StartupTest, AboutBoxesShowTheVersionLine) {
    struct Row {
        int box;
        int icon;
        const char* version;
        int extraLines;
    };
    const Row rows[] = {{100, 127, "Korvex2 Version 2.1.5", 2},
                        {101, 128, "Ostrand Version 2.1.5", 3},
                        {178, 179, "Korvex2 Version 2.1.5", 0},
                        {181, 129, "Pellic2 Version 2.1.5", 2},
                        {182, 127, "Korvex2 Version 2.1.5", 0}};
    for (const Row& r : rows) {
        korvex::AboutDialog dialog(r.box, r.icon);
        auto* version = dialog.findChild<QLabel*>("version");
        ASSERT_NE(version, nullptr);
        EXPECT_EQ(version->text(), QString::fromLatin1(r.version));
        int lines = 0;
        while (dialog.findChild<QLabel*>(QStringLiteral("line%1").arg(lines + 1)))
            ++lines;
        EXPECT_EQ(lines, r.extraLines) << r.box;
        auto* icon = dialog.findChild<QLabel*>("icon");
        ASSERT_NE(icon, nullptr);
        EXPECT_FALSE(icon->pixmap().isNull()) << r.box;
    }
    korvex::setUiLanguage(Language::Japanese);
    korvex::AboutDialog japanese(178, 179);
    EXPECT_EQ(japanese.windowTitle(), QString::fromUtf8("Korvex のバージョン情報"));
    EXPECT_EQ(japanese.findChild<QLabel*>("version")->text(), QString("Korvex Version 2.1.5"));
}
