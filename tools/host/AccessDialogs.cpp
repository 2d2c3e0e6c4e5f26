#include "tools/host/AccessDialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cctype>

namespace picvoxhost {

namespace {

// Texts from the recorder are shown as they are, never read as markup.
QLabel* plainLabel(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

std::string groupedFingerprint(const std::string& sha256) {
    std::string out;
    for (std::size_t i = 0; i < sha256.size(); ++i) {
        if (i > 0 && i % 2 == 0)
            out += ':';
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(sha256[i])));
    }
    return out;
}

LoginDialog::LoginDialog(const std::string& recorder, const std::string& realm, int attempt,
                         const std::string& user, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Recorder login"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plainLabel(
        (attempt > 0 ? "The recorder refused the login. " : "The recorder asks for a login. ") +
            recorder + " (\"" + realm + "\")",
        this));
    auto* form = new QFormLayout;
    user_ = new QLineEdit(QString::fromStdString(user), this);
    user_->setObjectName(QStringLiteral("loginUser"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("loginPassword"));
    password_->setEchoMode(QLineEdit::Password);
    remember_ = new QCheckBox(tr("Remember in the keyring"), this);
    remember_->setObjectName(QStringLiteral("loginRemember"));
    form->addRow(tr("User"), user_);
    form->addRow(tr("Password"), password_);
    layout->addLayout(form);
    layout->addWidget(remember_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    (user.empty() ? user_ : password_)->setFocus();
}

HostLogin LoginDialog::login() const {
    // A user name never spans lines (the keyring item keeps it on the first).
    QString user = user_->text();
    user.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    return HostLogin{user.toStdString(), password_->text().toStdString()};
}

bool LoginDialog::remember() const {
    return remember_->isChecked();
}

CertificateDialog::CertificateDialog(const CertificateQuestion& question, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Recorder certificate"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plainLabel(
        "No authority of this system vouches for the certificate of " + question.recorder +
            ". Trust it only when this is the fingerprint the recorder itself shows.",
        this));
    auto* form = new QFormLayout;
    form->addRow(tr("SHA-256"), plainLabel(groupedFingerprint(question.sha256), this));
    form->addRow(tr("Subject"), plainLabel(question.subject, this));
    form->addRow(tr("Valid"), plainLabel(question.validity, this));
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    trust_ = buttons->addButton(tr("Trust"), QDialogButtonBox::AcceptRole);
    trust_->setObjectName(QStringLiteral("certificateTrust"));
    thisRun_ = buttons->addButton(tr("Trust for this run"), QDialogButtonBox::AcceptRole);
    thisRun_->setObjectName(QStringLiteral("certificateThisRun"));
    refuse_ = buttons->addButton(tr("Refuse"), QDialogButtonBox::RejectRole);
    refuse_->setObjectName(QStringLiteral("certificateRefuse"));
    refuse_->setDefault(true);
    connect(trust_, &QPushButton::clicked, this, [this] {
        answer_ = HostTrust::Always;
        accept();
    });
    connect(thisRun_, &QPushButton::clicked, this, [this] {
        answer_ = HostTrust::ThisRun;
        accept();
    });
    connect(refuse_, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
}

}  // namespace picvoxhost
