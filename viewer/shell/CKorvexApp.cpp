#include "viewer/shell/CKorvexApp.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <cstdlib>

#include "platform/TimeZone.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/AboutDialog.h"
#include "viewer/shell/UserStore.h"
#include "viewer/shell/core/Brand.h"

namespace korvex {

namespace {

// The application object of the process (the framework's one global app).
CKorvexApp* g_instance = nullptr;

}  // namespace

CKorvexApp::CKorvexApp(QObject* parent) : QObject(parent) {
    // Frame times are the recorders' Japanese wall-clock time: every conversion in the program
    // uses UTC+9 whatever the machine's zone. The C locale stays as Qt set it; numbers and
    // texts are formatted explicitly, so a "Japanese" C locale would change nothing here.
    platform::fixProcessTimeZone();
    g_instance = this;
}

CKorvexApp::~CKorvexApp() {
    delete mainFrame_.data();  // null when the window already deleted itself
    if (g_instance == this)
        g_instance = nullptr;
}

CKorvexApp* CKorvexApp::instance() {
    return g_instance;
}

bool CKorvexApp::fail(const QString& message) {
    startupError_ = message;
    if (startupErrorKind_ == StartupError::None)
        startupErrorKind_ = StartupError::Other;
    return false;
}

std::unique_ptr<QMessageBox> startupFailureBox(const CKorvexApp& app) {
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("Korvex"),
                                      resString(textid::startupFailedCaption), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("startupFailure"));
    box->setInformativeText(app.startupError());
    return box;
}

bool startupFailureNeedsBox(const CKorvexApp& app, const LaunchOptions& commandLine,
                            const QString& platform) {
    // A mistyped command line was typed at a terminal, and a screenshot run is a script's:
    // standard error reaches both. Without a visible screen nobody could close the box.
    if (app.startupErrorKind() == CKorvexApp::StartupError::CommandLine ||
        !commandLine.screenshotPath.empty() || !commandLine.error.empty()) {
        return false;
    }
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

bool CKorvexApp::InitInstance(const QStringList& arguments, const QString& brandFolder) {
    startupFolder_ = brandFolder.isEmpty() ? QDir::currentPath() : brandFolder;
    brandIndex_ = -1;
    checkMode_ = 0;
    kindFlags_ = {};
    startupError_.clear();
    startupErrorKind_ = StartupError::None;
    delete mainFrame_.data();

    // The brand file decides everything that carries a name: title, menu, About box, key. It is
    // looked for in the working folder first, then where an installation puts it.
    const std::string folder = startupFolder_.toStdString();
    const std::vector<std::string> places = brandSearchFolders(
        folder, std::getenv("XDG_DATA_HOME"), std::getenv("XDG_DATA_DIRS"), std::getenv("HOME"));
    const BrandSelection brand = selectBrand(places);
    std::string everywhere;
    for (const std::string& place : places)
        everywhere += (everywhere.empty() ? "" : ", ") + place;
    const std::string where = QDir::toNativeSeparators(startupFolder_).toStdString();
    const auto brandFailure = [&](int textId, std::initializer_list<std::string_view> args) {
        startupErrorKind_ = StartupError::BrandFile;
        const Language language = uiLanguage();
        return fail(QString::fromStdString(
            formatText(loadString(language, textId), args) + "\n" +
            formatText(loadString(language, textid::brandFileHint), {where})));
    };
    switch (brand.status) {
        case BrandSelection::Status::Ok:
            break;
        case BrandSelection::Status::Missing:
            return brandFailure(textid::noBrandFile, {kBrandFileNew, kBrandFileOld, everywhere});
        case BrandSelection::Status::Unreadable:
            return brandFailure(textid::unreadableBrandFile, {brand.fileName, brand.folder});
        case BrandSelection::Status::UnknownCode:
            return brandFailure(textid::unknownBrandCode, {brand.fileName, brand.folder});
    }
    brandIndex_ = brand.brandIndex;

    std::vector<std::string> args;
    args.reserve(static_cast<size_t>(arguments.size()));
    for (const QString& a : arguments)
        args.push_back(a.toStdString());
    options_ = parseCommandLine(args);
    if (!options_.error.empty()) {
        startupErrorKind_ = StartupError::CommandLine;
        return fail(QString::fromStdString(options_.error));
    }
    checkMode_ = options_.checkMode ? 1 : 0;

    QWidget* frame = createMainFrame();
    if (frame == nullptr)
        return fail(resString(textid::startupFailedCaption));
    mainFrame_ = frame;
    if (!options_.folder.empty() && !openStartupFolder(QString::fromStdString(options_.folder))) {
        return fail(QString::fromStdString(options_.folder));
    }
    if (options_.screenshotPath.empty())
        showMainFrame(frame);

    initMixer();
    return true;
}

int CKorvexApp::ExitInstance() {
    exitMixer();
    return 0;
}

int CKorvexApp::templateId() const {
    const BrandInfo* info = brandInfo(brandIndex_);
    return info != nullptr ? info->templateId : 127;
}

int CKorvexApp::aboutBoxId() const {
    return aboutBoxOf(brandIndex_);
}

QString CKorvexApp::windowTitle() const {
    return QString::fromStdString(brandWindowTitle(uiLanguage(), brandIndex_));
}

std::string CKorvexApp::settingsKeyPath() const {
    return korvex::settingsKeyPath(uiLanguage(), brandIndex_);
}

ViewerSettings CKorvexApp::LoadSettings() const {
    if (brandIndex_ < 0)
        return {};
    using platform::UserStore;
    const std::string path = UserStore::defaultPath();
    UserStore store;
    if (path.empty() || !store.load(path))
        return loadSettings(nullptr);
    if (!store.keyExists(settingsKeyPath())) {
        if (const std::unique_ptr<QSettings> legacy = openLegacyUserStore();
            legacy && legacy->status() == QSettings::NoError) {
            QtSettingsKey key(*legacy, settingsKeyPath());
            return loadSettings(&key);
        }
    }
    StoreSettingsKey key(store, settingsKeyPath());
    return loadSettings(&key);
}

bool CKorvexApp::SaveSettings(const ViewerSettings& settings) const {
    if (brandIndex_ < 0)
        return false;
    using platform::UserStore;
    const std::string path = UserStore::defaultPath();
    if (path.empty())
        return false;
    return UserStore::update(path, [&](UserStore& store) {
        StoreSettingsKey key(store, settingsKeyPath());
        return saveSettings(key, settings);
    });
}

void CKorvexApp::OnAppAbout() {
    AboutDialog about(aboutBoxId(), templateId(), mainFrame_);
    about.exec();
}

QWidget* CKorvexApp::createMainFrame() {
    // Stands in for the main frame until it exists: the brand's title, menus and status bar.
    auto* window = new QMainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setObjectName(QStringLiteral("mainFrame"));
    window->setWindowTitle(windowTitle());
    window->setWindowIcon(programIcon(templateId()));
    window->resize(810, 748);
    window->setMinimumSize(345, 440);
    const ActionForCommand actionFor = [this, window](int id, const QString& text) {
        QAction* action = createCommandAction(id, text, window);
        if (id == 57664 || id == 32774) {
            connect(action, &QAction::triggered, this, &CKorvexApp::OnAppAbout);
        } else if (id == 57665) {
            connect(action, &QAction::triggered, window, &QWidget::close);
        } else {
            action->setEnabled(false);
        }
        return action;
    };
    populateMenuBar(window->menuBar(), menuResource(uiLanguage(), templateId()), actionFor);
    window->statusBar()->showMessage(resString(strid::idleText));
    window->setCentralWidget(new QLabel(window));
    return window;
}

bool CKorvexApp::openStartupFolder(const QString& /*folder*/) {
    return true;
}

void CKorvexApp::showMainFrame(QWidget* frame) {
    frame->show();
    frame->update();
}

bool CKorvexApp::initMixer() {
    return true;
}

void CKorvexApp::exitMixer() {}

}  // namespace korvex
