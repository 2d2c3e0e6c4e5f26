#pragma once

#include <QImage>

#include <mutex>
#include <optional>
#include <string>

#include "tools/host/HostSite.h"

namespace picvoxhost {

// The page without a display: the control paints into an offscreen area; elements, messages and
// status texts are printed on stdout as they come, and boxes are answered at once.
class HeadlessPage final : public HostPage {
public:
    HeadlessPage(int width, int height, std::optional<std::string> chosenFolder,
                 HostAnswers answers = {});

    void setControl(picvox::IHostedControl* control) { control_ = control; }
    // Lets the control paint its area now (GUI thread).
    void paint();
    const QImage& area() const { return area_; }
    // The last paint that showed anything (a picture or the animation), else the area as it is:
    // a run ends on black once its pictures are gone, which makes a poor screenshot.
    const QImage& lastShown() const { return lastShown_.isNull() ? area_ : lastShown_; }

    void controlInvalidated() override { paint(); }
    void showElement(const std::string& name, const std::string& value) override;
    void showMessage(const std::string& caption, const std::string& text,
                     MessageIcon icon) override;
    void showStatus(const std::string& text) override;
    std::optional<std::string> chooseFolder(const std::string& startFolder) override;
    bool answersAtOnce() const override { return true; }
    // From the command line only: nothing new after a refusal, no certificate but the one named.
    std::optional<HostLogin> askLogin(const std::string& recorder, const std::string& realm,
                                      int attempt) override;
    HostTrust askTrust(const CertificateQuestion& question) override;

private:
    void printLine(const std::string& line);

    QImage area_;
    QImage lastShown_;
    picvox::IHostedControl* control_ = nullptr;
    std::optional<std::string> chosenFolder_;
    HostAnswers answers_;
    std::mutex printLock_;
};

}  // namespace picvoxhost
