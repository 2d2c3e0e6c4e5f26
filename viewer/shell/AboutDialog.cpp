#include "viewer/shell/AboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "viewer/resources/Resources.h"

namespace korvex {

AboutDialog::AboutDialog(int aboutBoxId, int iconId, QWidget* parent)
    : QDialog(parent), aboutBoxId_(aboutBoxId) {
    setObjectName(QStringLiteral("about%1").arg(aboutBoxId));
    setWindowTitle(resDialogText(aboutBoxId, 0));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(programIcon(iconId).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* lines = new QVBoxLayout;
    auto* version = new QLabel(resDialogText(aboutBoxId, -1), this);
    version->setObjectName(QStringLiteral("version"));
    lines->addWidget(version);
    const int extra = aboutExtraLineCount(aboutBoxId);
    for (int i = 0; i < extra; ++i) {
        auto* line = new QLabel(resDialogText(aboutBoxId, -2 - i), this);
        line->setObjectName(QStringLiteral("line%1").arg(i + 1));
        lines->addWidget(line);
    }
    lines->addStretch(1);

    auto* ok = new QPushButton(resDialogText(aboutBoxId, 1), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addStretch(1);

    auto* row = new QHBoxLayout(this);
    row->addWidget(icon);
    row->addLayout(lines, 1);
    row->addLayout(buttons);
    // 235 x 55 dialog units of the original template.
    setMinimumSize(352, 90);
}

}  // namespace korvex
