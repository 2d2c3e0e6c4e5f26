#include "viewer/shell/TitleInputDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <algorithm>

#include "viewer/playback/CKorvexDoc.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/UserStore.h"

namespace korvex {

namespace {

constexpr int kTitleComboId = 1038;

QString keyOf(int n) {
    return QString::number(n);
}

}  // namespace

std::vector<std::string> readTitleHistory(QSettings& profile) {
    std::vector<std::string> history;
    profile.beginGroup(QString::fromLatin1(kTitleHistorySection));
    for (int n = 1; n <= kTitleHistorySize; ++n) {
        const QVariant value = profile.value(keyOf(n));
        // A hand-edited list ("a, b") is no title.
        if (value.typeId() != QMetaType::QString && value.typeId() != QMetaType::QByteArray)
            continue;
        const QString text = value.toString().left(kMaxTitleLength);
        if (!text.isEmpty())
            history.push_back(text.toStdString());
    }
    profile.endGroup();
    return history;
}

bool writeTitleHistory(QSettings& profile, const std::vector<std::string>& history) {
    profile.beginGroup(QString::fromLatin1(kTitleHistorySection));
    for (int n = 1; n <= kTitleHistorySize; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        profile.setValue(keyOf(n),
                         i < history.size() ? QString::fromStdString(history[i]) : QString(""));
    }
    profile.endGroup();
    profile.sync();
    return profile.status() == QSettings::NoError;
}

std::vector<std::string> enterTitle(std::vector<std::string> history, const std::string& title) {
    if (!history.empty() && !title.empty()) {
        const auto same = std::find(history.begin(), history.end(), title);
        if (same != history.end())
            history.erase(same);
    }
    history.insert(history.begin(), title);
    if (history.size() > static_cast<std::size_t>(kTitleHistorySize))
        history.resize(kTitleHistorySize);
    return history;
}

TitleInputDialog::TitleInputDialog(const std::string& currentTitle, QSettings& profile,
                                   QWidget* parent)
    : QDialog(parent), profile_(profile) {
    setObjectName(QStringLiteral("dlg104"));
    setWindowTitle(resDialogText(dlg::titleInput, 0));

    auto* prompt = new QLabel(resDialogText(dlg::titleInput, -1), this);
    prompt->setObjectName(QStringLiteral("prompt"));

    combo_ = new QComboBox(this);
    combo_->setObjectName(QStringLiteral("ctl%1").arg(kTitleComboId));
    combo_->setEditable(true);
    combo_->lineEdit()->setMaxLength(kMaxTitleLength);
    // Only OK adds to the history; Enter in the field must not add list items of its own.
    combo_->setInsertPolicy(QComboBox::NoInsert);
    combo_->setMinimumWidth(280);
    history_ = readTitleHistory(profile_);
    for (const auto& entry : history_)
        combo_->addItem(QString::fromStdString(entry));
    combo_->setEditText(QString::fromStdString(currentTitle));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok =
        buttons->addButton(resDialogText(dlg::titleInput, 1), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(resDialogText(dlg::titleInput, 2), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(combo_);
    layout->addStretch(1);
    layout->addWidget(buttons);
}

void TitleInputDialog::accept() {
    title_ = combo_->currentText().toStdString();
    history_ = enterTitle(std::move(history_), title_);
    // The title is used for printing even when the profile cannot keep the history.
    if (!writeTitleHistory(profile_, history_))
        qWarning("Title Input: the print title history could not be written to %s",
                 qPrintable(profile_.fileName()));
    QDialog::accept();
}

bool runTitleInput(QWidget* parent, CKorvexDoc& doc) {
    const auto profile = openProfile();
    TitleInputDialog dialog(doc.printTitle(), *profile, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    doc.setPrintTitle(dialog.title());
    return true;
}

}  // namespace korvex
