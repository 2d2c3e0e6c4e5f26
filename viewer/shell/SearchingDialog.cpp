#include "viewer/shell/SearchingDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "viewer/playback/core/ScanSession.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"

namespace korvex {

CSearchDlg::CSearchDlg(ScanSession& scan, QWidget* parent) : QDialog(parent), scan_(scan) {
    setObjectName(QStringLiteral("dlg%1").arg(dlg::searching));
    setWindowTitle(resDialogText(dlg::searching, 0));

    auto* message = new QLabel(resDialogText(dlg::searching, -1), this);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("ctl1052"));
    bar_->setRange(1, 10);
    bar_->setValue(1);
    bar_->setTextVisible(false);
    found_ = new QLabel(this);
    found_->setObjectName(QStringLiteral("ctl1060"));
    auto* cancel = new QPushButton(resDialogText(dlg::searching, 2), this);
    cancel->setObjectName(QStringLiteral("ctl2"));
    connect(cancel, &QPushButton::clicked, this, &CSearchDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addWidget(bar_);
    layout->addWidget(found_);
    layout->addLayout(buttons);
    setMinimumWidth(320);

    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &CSearchDlg::onTimer);
}

CSearchDlg::~CSearchDlg() {
    detach();
}

void CSearchDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (attached_)
        return;
    attached_ = true;
    // The worker's end arrives on its own thread: it only posts to this window. The session
    // calls this under its lock and the dialog detaches before it goes, so `this` is alive;
    // a posted call that finds the dialog gone is dropped by Qt.
    scan_.attachReceiver([this] {
        QMetaObject::invokeMethod(
            this, [this] { onProgress(0, 1); }, Qt::QueuedConnection);
    });
    timer_->start();
    ++counter_;
}

void CSearchDlg::onTimer() {
    if (counter_ > 10 || counter_ < 0)
        counter_ = 1;
    const int step = counter_;
    QMetaObject::invokeMethod(
        this, [this, step] { onProgress(step, 0); }, Qt::QueuedConnection);
    ++counter_;
    updateFound();
}

void CSearchDlg::updateFound() {
    const long long n = scan_.filesFound();
    if (n > 0) {
        found_->setText(QString::fromStdString(
            formatText(loadString(uiLanguage(), textid::filesFoundSoFar), {std::to_string(n)})));
    }
}

void CSearchDlg::onProgress(int step, int finished) {
    bar_->setValue(step < 1 ? bar_->minimum() : step);
    if (finished == 1) {
        timer_->stop();
        updateFound();
        detach();
        if (isVisible())
            QDialog::accept();
    }
}

void CSearchDlg::reject() {
    timer_->stop();
    scan_.cancel();
    detach();
    QDialog::reject();
}

void CSearchDlg::detach() {
    if (attached_)
        scan_.detachReceiver();
}

}  // namespace korvex
