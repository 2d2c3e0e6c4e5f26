#include "viewer/shell/OpenDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"

namespace korvex {

namespace {

COpenDlg::FolderPicker& folderPicker() {
    // One picker for the process, like the platform's shell service it stands for.
    static COpenDlg::FolderPicker picker;
    return picker;
}

QString pickFolder(QWidget* owner, const QString& startFolder) {
    if (folderPicker())
        return folderPicker()(owner, startFolder);
    // File-system folders only, no title text, the initial folder preselected (an empty one
    // starts the picker where it usually starts).
    return QFileDialog::getExistingDirectory(owner, QString(), startFolder,
                                             QFileDialog::ShowDirsOnly);
}

}  // namespace

void COpenDlg::setFolderPicker(FolderPicker picker) {
    folderPicker() = std::move(picker);
}

COpenDlg::COpenDlg(const QString& initialFolder, QWidget* parent)
    : QDialog(parent), initialFolder_(initialFolder) {
    setObjectName(QStringLiteral("dlg%1").arg(dlg::open));
    setWindowTitle(resDialogText(dlg::open, 0));

    auto* heading = new QLabel(resDialogText(dlg::open, -1), this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("ctl1008"));
    edit_->setText(initialFolder_);
    edit_->setMinimumWidth(360);
    auto* browseButton = new QPushButton(resDialogText(dlg::open, 1000), this);
    browseButton->setObjectName(QStringLiteral("ctl1000"));
    browseButton->setAutoDefault(false);
    connect(browseButton, &QPushButton::clicked, this, &COpenDlg::browse);

    auto* ok = new QPushButton(resDialogText(dlg::open, 1), this);
    ok->setObjectName(QStringLiteral("ctl1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(resDialogText(dlg::open, 2), this);
    cancel->setObjectName(QStringLiteral("ctl2"));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &COpenDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &COpenDlg::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(edit_, 1);
    row->addWidget(browseButton);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(row);
    layout->addStretch(1);
    layout->addLayout(buttons);
}

void COpenDlg::browse() {
    const QString chosen =
        pickFolder(parentWidget() ? parentWidget()->window() : this, initialFolder_);
    if (!chosen.isEmpty())
        edit_->setText(QDir::toNativeSeparators(chosen));
}

void COpenDlg::accept() {
    path_ = edit_->text();
    QDialog::accept();
}

}  // namespace korvex
