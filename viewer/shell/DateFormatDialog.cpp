#include "viewer/shell/DateFormatDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>

#include "viewer/playback/core/PanelText.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"

namespace korvex {

CDateFormatDlg::CDateFormatDlg(int format, int delimiter, QWidget* parent)
    : QDialog(parent),
      format_(format),
      delimiter_(delimiter),
      shownFormat_(std::clamp(format, 0, 2)),
      shownDelimiter_(std::clamp(delimiter, 0, 2)) {
    setObjectName(QStringLiteral("dlg%1").arg(dlg::dateFormat));
    setWindowTitle(resDialogText(dlg::dateFormat, 0));

    sample_ = new QLabel(this);
    sample_->setObjectName(QStringLiteral("ctl1045"));
    sample_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    sample_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    sample_->setMinimumHeight(24);
    orders_ = new QComboBox(this);
    orders_->setObjectName(QStringLiteral("ctl1043"));
    delimiters_ = new QComboBox(this);
    delimiters_->setObjectName(QStringLiteral("ctl1044"));
    delimiters_->addItems({QStringLiteral("/"), QStringLiteral("-"), QStringLiteral(".")});

    auto* ok = new QPushButton(resDialogText(dlg::dateFormat, 1), this);
    ok->setObjectName(QStringLiteral("ctl1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(resDialogText(dlg::dateFormat, 2), this);
    cancel->setObjectName(QStringLiteral("ctl2"));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &CDateFormatDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CDateFormatDlg::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(resDialogText(dlg::dateFormat, -1), this), 0, 0);
    grid->addWidget(sample_, 0, 1);
    grid->addWidget(new QLabel(resDialogText(dlg::dateFormat, -2), this), 1, 0);
    grid->addWidget(orders_, 1, 1);
    grid->addWidget(new QLabel(resDialogText(dlg::dateFormat, -3), this), 2, 0);
    grid->addWidget(delimiters_, 2, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    rebuildOrders();
    {
        const QSignalBlocker block(delimiters_);
        delimiters_->setCurrentIndex(shownDelimiter_);
    }
    showSample();
    connect(orders_, &QComboBox::currentIndexChanged, this, &CDateFormatDlg::selectionChanged);
    connect(delimiters_, &QComboBox::currentIndexChanged, this, &CDateFormatDlg::selectionChanged);
}

void CDateFormatDlg::rebuildOrders() {
    const QSignalBlocker block(orders_);
    orders_->clear();
    for (int f = 0; f < 3; ++f)
        orders_->addItem(QString::fromStdString(dateOrderName(f, shownDelimiter_)));
    orders_->setCurrentIndex(shownFormat_);
}

void CDateFormatDlg::selectionChanged() {
    const int format = orders_->currentIndex();
    const int delimiter = delimiters_->currentIndex();
    if (format < 0 || delimiter < 0 || (format == shownFormat_ && delimiter == shownDelimiter_))
        return;
    shownFormat_ = format;
    shownDelimiter_ = delimiter;
    rebuildOrders();
    showSample();
}

void CDateFormatDlg::showSample() {
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);  // in the program's fixed zone, like the frame times
    sample_->setText(QString::fromStdString(dateSampleText(
        shownFormat_, shownDelimiter_, today.tm_year + 1900, today.tm_mon + 1, today.tm_mday)));
}

void CDateFormatDlg::accept() {
    format_ = orders_->currentIndex();
    delimiter_ = delimiters_->currentIndex();
    QDialog::accept();
}

}  // namespace korvex
