#include "viewer/shell/ViewerApp.h"

#include "platform/audio/MixerDevice.h"
#include "viewer/audio/VolumeControl.h"
#include "viewer/shell/CMainFrame.h"

namespace korvex {

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
    return new CMainFrame(std::move(setup));
}

bool ViewerApp::openStartupFolder(const QString& folder) {
    CMainFrame* main = frame();
    if (main == nullptr)
        return false;
    // The window comes up first so that the Searching dialog has an owner on screen; a folder
    // that holds no recording leaves the viewer empty rather than failing the start.
    if (launchOptions().screenshotPath.empty())
        showMainFrame(main);
    main->document().OpenRecordingFolder(folder.toStdString());
    return true;
}

bool ViewerApp::initMixer() {
    return volume_->openMixer() != 0;
}

void ViewerApp::exitMixer() {
    volume_->closeMixer();
}

}  // namespace korvex
