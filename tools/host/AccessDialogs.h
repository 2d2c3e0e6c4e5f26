#pragma once

// Window mode's two questions: a recorder's login and a certificate nothing vouches for.

#include <QDialog>

#include "tools/host/HostSite.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace picvoxhost {

class LoginDialog final : public QDialog {
    Q_OBJECT
public:
    // `attempt` 1: the recorder refused the first login, and the dialog says so.
    LoginDialog(const std::string& recorder, const std::string& realm, int attempt,
                const std::string& user, QWidget* parent = nullptr);
    HostLogin login() const;
    bool remember() const;
    QLineEdit* userField() const { return user_; }
    QLineEdit* passwordField() const { return password_; }
    QCheckBox* rememberBox() const { return remember_; }

private:
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* remember_;
};

class CertificateDialog final : public QDialog {
    Q_OBJECT
public:
    explicit CertificateDialog(const CertificateQuestion& question, QWidget* parent = nullptr);
    // Refused unless a trust button was pressed.
    HostTrust answer() const { return answer_; }
    QPushButton* trustButton() const { return trust_; }
    QPushButton* thisRunButton() const { return thisRun_; }
    QPushButton* refuseButton() const { return refuse_; }

private:
    HostTrust answer_ = HostTrust::Refused;
    QPushButton* trust_;
    QPushButton* thisRun_;
    QPushButton* refuse_;
};

// "ab:cd:..." in groups, upper case, as certificate viewers show a fingerprint.
std::string groupedFingerprint(const std::string& sha256);

}  // namespace picvoxhost
