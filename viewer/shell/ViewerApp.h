#pragma once

#include <memory>

#include "viewer/shell/CKorvexApp.h"

namespace korvex {

class CMainFrame;
class VolumeControl;

// The program's application object: CKorvexApp with the real main frame, the recording named on
// the command line opened at start-up, and the master volume mixer.
class ViewerApp : public CKorvexApp {
    Q_OBJECT
public:
    explicit ViewerApp(QObject* parent = nullptr);
    ~ViewerApp() override;

    CMainFrame* frame() const;
    VolumeControl* volume() const { return volume_.get(); }

protected:
    QWidget* createMainFrame() override;
    bool openStartupFolder(const QString& folder) override;
    bool initMixer() override;
    void exitMixer() override;

private:
    class ReadOnlyAppSettings;

    std::unique_ptr<VolumeControl> volume_;
    std::unique_ptr<ReadOnlyAppSettings> screenshotSettings_;
};

}  // namespace korvex
