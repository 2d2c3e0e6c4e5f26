#include "viewer/shell/ViewerApp.h"

#include <cstdio>

#include "platform/audio/MixerDevice.h"
#include "viewer/audio/VolumeControl.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/CMainFrame.h"
#include "viewer/shell/ScreenshotMode.h"
#include "viewer/shell/core/StatusNotes.h"

namespace korvex {

class ViewerApp::ReadOnlyAppSettings : public SettingsPort {
public:
    explicit ReadOnlyAppSettings(const CKorvexApp& app) : app_(app) {}
    ViewerSettings load() override { return app_.LoadSettings(); }
    void save(const ViewerSettings&) override {}

private:
    const CKorvexApp& app_;
};

ViewerApp::ViewerApp(QObject* parent)
    : CKorvexApp(parent), volume_(std::make_unique<VolumeControl>(platform::makeAlsaMixer())) {}

ViewerApp::~ViewerApp() {
    // The frame and its panel use the mixer; they go first.
    delete mainFrame();
}

CMainFrame* ViewerApp::frame() const {
    return qobject_cast<CMainFrame*>(mainFrame());
}

QWidget* ViewerApp::createMainFrame() {
    CMainFrame::Setup setup;
    setup.volume = volume_.get();
    if (!launchOptions().screenshotPath.empty()) {
        // A screenshot run reads the user's settings but leaves them as they were.
        screenshotSettings_ = std::make_unique<ReadOnlyAppSettings>(*this);
        setup.services.settings = screenshotSettings_.get();
    }
    return new CMainFrame(std::move(setup));
}

bool ViewerApp::openStartupFolder(const QString& folder) {
    CMainFrame* main = frame();
    if (main == nullptr)
        return false;
    // A folder that holds no recording leaves the viewer empty rather than failing the start;
    // the terminal hears why, as the status bar shows it.
    CKorvexDoc& doc = main->document();
    if (!launchOptions().screenshotPath.empty()) {
        openRecordingHeadless(doc, folder.toStdString(), main);
    } else {
        // The window comes up first so that the Searching dialog has an owner on screen.
        showMainFrame(main);
        doc.OpenRecordingFolder(folder.toStdString());
    }
    const std::string why =
        openOutcomeText(uiLanguage(), doc.lastOpenOutcome(), folder.toStdString());
    if (!why.empty())
        std::fprintf(stderr, "korvex: %s\n", why.c_str());
    else if (doc.soundSilent())
        std::fprintf(stderr, "korvex: %s\n", soundNotHeardText(uiLanguage()).c_str());
    return true;
}

bool ViewerApp::initMixer() {
    return volume_->openMixer() != 0;
}

void ViewerApp::exitMixer() {
    volume_->closeMixer();
}

}  // namespace korvex
