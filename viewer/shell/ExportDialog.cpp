#include "viewer/shell/ExportDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Worker.h"
#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/CKorvexView.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/core/CommandLine.h"

namespace korvex {

namespace {

constexpr int kPollMs = 100;

QString layoutTextFor(const CKorvexView& view) {
    if (!view.isMultiPane()) {
        const int channel = view.channelOfPane(0);
        if (channel < 0)
            return uiText("1 pane, every channel", "1画面、全チャンネル");
        return uiText("1 pane, ", "1画面、") + QString::fromStdString(channelName(channel));
    }
    QStringList channels;
    for (int p = 0; p < view.paneCount(); ++p) {
        const int c = view.channelOfPane(p);
        channels << (c >= 0 ? QString::fromStdString(channelName(c)) : QStringLiteral("-"));
    }
    return uiText("%1 panes (%2)", "%1画面 (%2)")
        .arg(view.paneCount())
        .arg(channels.join(QStringLiteral(", ")));
}

}  // namespace

ExportRequest exportRequestFor(const CKorvexDoc& doc, const CKorvexView& view) {
    ExportRequest r;
    const ImageSource* source = doc.source();
    r.folder = doc.lastOpenFolder();
    r.panes = view.paneCount();
    if (r.panes == 1) {
        r.channel = view.channelOfPane(0) >= 0 ? view.channelOfPane(0) : kAllChannelsChoice;
    } else {
        for (int p = 0; p < r.panes && p < 16; ++p)
            r.paneChannels[static_cast<std::size_t>(p)] = view.channelOfPane(p);
    }
    if (source != nullptr && source->currentIndex() >= 0)
        r.from = FrameBound::ofNumber(source->currentIndex() + 1);
    if (source != nullptr && source->count() > 0)
        r.to = FrameBound::ofNumber(source->count());
    r.marks = doc.checkMode();
    r.dateFormat = doc.dateFormat();
    r.dateDelimiter = doc.dateDelimiter();
    r.timePosition = doc.timePosition();
    r.showCameraTitle = doc.showCameraTitle() != 0;
    return r;
}

ExportDialog::ExportDialog(ExportRequest request, int frameCount, const QString& layoutText,
                           QWidget* parent)
    : QDialog(parent), request_(std::move(request)) {
    setObjectName(QStringLiteral("exportDialog"));
    setWindowTitle(uiText("Export Video", "動画の書き出し"));
    setModal(true);
    const int count = std::max(1, frameCount);

    from_ = new QSpinBox(this);
    from_->setObjectName(QStringLiteral("exportFrom"));
    from_->setRange(1, count);
    from_->setValue(request_.from.kind == FrameBound::Kind::Number
                        ? std::clamp(request_.from.number, 1, count)
                        : 1);
    to_ = new QSpinBox(this);
    to_->setObjectName(QStringLiteral("exportTo"));
    to_->setRange(1, count);
    to_->setValue(request_.to.kind == FrameBound::Kind::Number
                      ? std::clamp(request_.to.number, 1, count)
                      : count);
    // The stretch cannot run backwards.
    connect(from_, &QSpinBox::valueChanged, this, [this](int v) {
        if (to_->value() < v)
            to_->setValue(v);
    });
    connect(to_, &QSpinBox::valueChanged, this, [this](int v) {
        if (from_->value() > v)
            from_->setValue(v);
    });
    overlay_ =
        new QCheckBox(uiText("Date, time and camera title", "日付・時刻とカメラタイトル"), this);
    overlay_->setObjectName(QStringLiteral("exportOverlay"));
    overlay_->setChecked(request_.overlay);
    marks_ = new QCheckBox(
        uiText("IMAGE ALTERED / TIME ALTERED marks", "改ざん表示 (IMAGE ALTERED / TIME ALTERED)"),
        this);
    marks_->setObjectName(QStringLiteral("exportMarks"));
    marks_->setChecked(request_.marks);
    file_ = new QLineEdit(this);
    file_->setObjectName(QStringLiteral("exportFile"));
    browse_ = new QPushButton(uiText("Browse...", "参照..."), this);
    connect(browse_, &QPushButton::clicked, this, &ExportDialog::browse);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse_);

    auto* form = new QFormLayout;
    form->addRow(uiText("Layout:", "画面:"), new QLabel(layoutText, this));
    form->addRow(uiText("From frame:", "開始フレーム:"), from_);
    form->addRow(uiText("To frame:", "終了フレーム:"), to_);
    form->addRow(QString(), overlay_);
    form->addRow(QString(), marks_);
    form->addRow(uiText("File:", "ファイル:"), fileRow);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("exportProgress"));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("exportStatus"));
    status_->setWordWrap(true);

    start_ = new QPushButton(uiText("Export", "書き出し"), this);
    start_->setObjectName(QStringLiteral("exportStart"));
    start_->setDefault(true);
    cancel_ = new QPushButton(uiText("Cancel", "キャンセル"), this);
    cancel_->setObjectName(QStringLiteral("exportCancel"));
    connect(start_, &QPushButton::clicked, this, &ExportDialog::startExport);
    connect(cancel_, &QPushButton::clicked, this, &ExportDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);

    auto* rows = new QVBoxLayout(this);
    rows->addLayout(form);
    rows->addWidget(bar_);
    rows->addWidget(status_);
    rows->addLayout(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(kPollMs);
    connect(timer_, &QTimer::timeout, this, &ExportDialog::poll);
}

ExportDialog::~ExportDialog() {
    // The worker refers to this dialog's members: it ends first, leaving nothing behind.
    cancelOrder_.store(true);
    worker_.reset();
}

void ExportDialog::browse() {
    QString start = file_->text();
    if (start.isEmpty())
        start = QDir::homePath() + QStringLiteral("/export.mp4");
    const QString chosen = QFileDialog::getSaveFileName(
        this, windowTitle(), start, uiText("MP4 video (*.mp4)", "MP4 動画 (*.mp4)"));
    if (!chosen.isEmpty())
        file_->setText(chosen);
}

void ExportDialog::startExport() {
    if (worker_ != nullptr)
        return;
    QString path = file_->text().trimmed();
    if (path.isEmpty()) {
        status_->setText(uiText("Choose the file to write.", "書き出すファイルを選んでください。"));
        return;
    }
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".mp4");
    file_->setText(path);
    ExportRequest r = request_;
    r.output = path.toStdString();
    r.from = FrameBound::ofNumber(from_->value());
    r.to = FrameBound::ofNumber(to_->value());
    r.overlay = overlay_->isChecked();
    r.marks = marks_->isChecked();
    r.overwrite = false;
    if (QFileInfo::exists(path)) {
        const auto answer = QMessageBox::question(
            this, windowTitle(),
            uiText("%1 exists. Replace it?", "%1 は既にあります。置き換えますか?").arg(path));
        if (answer != QMessageBox::Yes)
            return;
        r.overwrite = true;
    }

    cancelOrder_.store(false);
    done_.store(false);
    framesDone_.store(0);
    framesTotal_.store(0);
    stage_.store(0);
    bar_->setValue(0);
    status_->setText(uiText("Reading the recording...", "記録を読んでいます..."));
    for (QWidget* w :
         std::initializer_list<QWidget*>{from_, to_, overlay_, marks_, file_, browse_, start_}) {
        w->setEnabled(false);
    }
    worker_ = std::make_unique<platform::Worker>();
    const bool started = worker_->start([this, r](platform::Event& /*stop*/) {
        ExportJob job(r, kViewerVersion);
        outcome_ = job.run(cancelOrder_, [this](const ExportProgress& p) {
            stage_.store(static_cast<int>(p.stage));
            framesTotal_.store(p.total);
            framesDone_.store(p.done);
        });
        done_.store(true);
    });
    if (!started) {
        worker_.reset();
        outcome_ = ExportOutcome{};
        outcome_.error = "cannot start the export";
        finished();
        return;
    }
    timer_->start();
}

void ExportDialog::poll() {
    const long long total = framesTotal_.load();
    if (total > 0)
        bar_->setValue(static_cast<int>(framesDone_.load() * 100 / total));
    if (!cancelOrder_.load()) {
        const auto stage = static_cast<ExportProgress::Stage>(stage_.load());
        if (stage == ExportProgress::Stage::Frames) {
            status_->setText(
                uiText("Frame %1 of %2", "%2 フレーム中 %1").arg(framesDone_.load()).arg(total));
        } else if (stage == ExportProgress::Stage::Finishing) {
            status_->setText(uiText("Finishing the file...", "ファイルを仕上げています..."));
        }
    }
    if (done_.load())
        finished();
}

void ExportDialog::finished() {
    timer_->stop();
    if (worker_ != nullptr) {
        worker_->stop();
        worker_.reset();
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{from_, to_, overlay_, marks_, file_, browse_, start_}) {
        w->setEnabled(true);
    }
    cancel_->setEnabled(true);
    using Result = ExportOutcome::Result;
    switch (outcome_.result) {
        case Result::Written:
            bar_->setValue(100);
            accept();
            return;
        case Result::Cancelled:
            bar_->setValue(0);
            status_->setText(uiText("Cancelled; nothing was written.",
                                    "キャンセルしました。何も書き出していません。"));
            return;
        case Result::Failed:
        case Result::Unusable:
            bar_->setValue(0);
            status_->setText(uiText("Not exported: %1", "書き出せませんでした: %1")
                                 .arg(QString::fromStdString(outcome_.error)));
            return;
    }
}

void ExportDialog::reject() {
    if (worker_ != nullptr) {
        // The worker sees the order between frames; the poll then reports the end.
        cancelOrder_.store(true);
        cancel_->setEnabled(false);
        status_->setText(uiText("Cancelling...", "キャンセルしています..."));
        return;
    }
    QDialog::reject();
}

QString runExport(QWidget* parent, CKorvexDoc& doc, const CKorvexView& view) {
    const ImageSource* source = doc.source();
    if (source == nullptr || source->count() <= 0)
        return {};
    // Playback stops: the dialog's numbers are those of the frame on show.
    doc.StopAction();
    ExportDialog dialog(exportRequestFor(doc, view), source->count(), layoutTextFor(view), parent);
    if (dialog.exec() != QDialog::Accepted ||
        dialog.outcome().result != ExportOutcome::Result::Written)
        return {};
    const ExportOutcome& o = dialog.outcome();
    return uiText("Exported %1 (%2 pictures)", "%1 を書き出しました (%2 枚)")
        .arg(QString::fromStdString(o.output))
        .arg(o.sideCar.pictures);
}

}  // namespace korvex
