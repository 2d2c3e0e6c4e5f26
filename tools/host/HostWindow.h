#pragma once

#include <QImage>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tools/host/ControlHandle.h"
#include "tools/host/HostSession.h"
#include "tools/host/HostSite.h"
#include "tools/host/Keyring.h"

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace picvoxhost {

// The control's area: each paint lets the control draw into a surface of the area's size.
class ControlArea final : public QWidget {
    Q_OBJECT
public:
    ControlArea(picvox::IHostedControl* control, QSize size, QWidget* parent = nullptr);
    // The area as the control painted it last.
    const QImage& lastPainted() const { return surface_; }
    // Lets the control paint its surface now, shown or not: its first paint gives it its window,
    // which the page counter's timers need from Start on.
    void paintSurface();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    picvox::IHostedControl* control_;
    QImage surface_;
};

// The page of window mode: the control's area with its status line, the page's INPUT elements as
// read-only fields, a property editor, Start and Stop, and a line for what the host says.
class HostWindow final : public QWidget, public HostPage {
    Q_OBJECT
public:
    HostWindow(ControlHandle& control, QSize areaSize, QWidget* parent = nullptr);
    ~HostWindow() override;

    HostSession& session() { return *session_; }
    ControlArea* area() const { return area_; }
    QPushButton* startButton() const { return startButton_; }
    QPushButton* stopButton() const { return stopButton_; }
    // The field of the page element `name`, or null.
    QLineEdit* elementField(const std::string& name) const;
    QLabel* hostStatus() const { return status_; }
    QLabel* controlStatus() const { return controlStatus_; }
    QTableWidget* propertyTable() const { return properties_; }
    // Start, with the page's fields for the elements the control is told to fill. With
    // `watchEnd` the session ends when the run reports its end. Refused, saying why in the
    // window, when the properties lack what a run needs (false).
    bool startRun(bool watchEnd);
    // Reads every property back into the editor.
    void refreshProperties();
    // What the command line answers first, and where remembered passwords go (by default the
    // desktop's keyring).
    void setAnswers(HostAnswers answers) { answers_ = std::move(answers); }
    void setKeyring(std::unique_ptr<PasswordKeyring> keyring) { keyring_ = std::move(keyring); }

    // HostPage
    void controlInvalidated() override;
    void showElement(const std::string& name, const std::string& value) override;
    void showMessage(const std::string& caption, const std::string& text,
                     MessageIcon icon) override;
    void showStatus(const std::string& text) override;
    std::optional<std::string> chooseFolder(const std::string& startFolder) override;
    bool answersAtOnce() const override { return false; }
    // The command line's login, else the keyring's, else the login dialog (which, after a
    // refusal, comes at once); remembered when the user ticks it.
    std::optional<HostLogin> askLogin(const std::string& recorder, const std::string& realm,
                                      int attempt) override;
    // The command line's certificate, else the certificate dialog.
    HostTrust askTrust(const CertificateQuestion& question) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startPressed();
    void stopPressed();
    void propertyEdited(QTableWidgetItem* item);
    void updateButtons();
    // Widens the property editor so that every name and every value up to a length shows whole.
    void fitPropertyColumns();

    ControlHandle& control_;
    HostSite* site_ = nullptr;  // one reference of ours
    HostSession* session_ = nullptr;
    ControlArea* area_ = nullptr;
    QFormLayout* elementsForm_ = nullptr;
    std::map<std::string, QLineEdit*> elementFields_;
    QTableWidget* properties_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QLabel* status_ = nullptr;         // the host's own words
    QLabel* controlStatus_ = nullptr;  // the control's status line
    bool refreshing_ = false;
    HostAnswers answers_;
    std::unique_ptr<PasswordKeyring> keyring_ = std::make_unique<DesktopKeyring>();
};

}  // namespace picvoxhost
