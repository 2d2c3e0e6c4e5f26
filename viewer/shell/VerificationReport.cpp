#include "viewer/shell/VerificationReport.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>

#include "platform/FileSystem.h"
#include "tools/verify/ReportOutput.h"
#include "tools/verify/Verification.h"
#include "tools/verify/report/ReportPdf.h"
#include "viewer/resources/Resources.h"
#include "viewer/resources/StringTable.h"

namespace korvex {

// ---- AlterationMarks ----

void AlterationMarks::setVerified(std::string folder, std::vector<std::string> alteredPaths) {
    std::sort(alteredPaths.begin(), alteredPaths.end());
    folder_ = std::move(folder);
    paths_ = std::move(alteredPaths);
    cachedCount_ = -1;
}

void AlterationMarks::clear() {
    folder_.clear();
    paths_.clear();
    cachedCount_ = -1;
    verifiedIndices_.clear();
}

std::vector<int> AlterationMarks::positions(const ImageSource& source, const std::string& folder) {
    const int count = source.count();
    std::vector<int> out;
    for (int i = 0; i < count; ++i) {
        const std::int32_t flags = source.flagsAt(i);
        if (flags >= 0 && (flags & 3) != 0)
            out.push_back(i);
    }
    if (folder != folder_ || paths_.empty() || count == 0)
        return out;
    const std::string first = source.pathAt(0), last = source.pathAt(count - 1);
    if (count != cachedCount_ || first != cachedFirst_ || last != cachedLast_) {
        verifiedIndices_.clear();
        const std::string prefix = platform::joinPath(folder, "");
        for (int i = 0; i < count; ++i) {
            const std::string path = source.pathAt(i);
            if (path.compare(0, prefix.size(), prefix) == 0 &&
                std::binary_search(paths_.begin(), paths_.end(), path.substr(prefix.size())))
                verifiedIndices_.push_back(i);
        }
        cachedCount_ = count;
        cachedFirst_ = first;
        cachedLast_ = last;
    }
    out.insert(out.end(), verifiedIndices_.begin(), verifiedIndices_.end());
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// ---- VerificationJob ----

namespace {

// Follows the check for the progress dialog and keeps what the window needs afterwards.
class JobObserver final : public verify::VerifyObserver {
public:
    JobObserver(verify::ReportModel& model, std::vector<std::string>& altered,
                std::atomic<long long>& checked, std::atomic<long long>& total)
        : builder_(model), altered_(altered), checked_(checked), total_(total) {}
    void started(const verify::VerifyReport& report, std::size_t frames) override {
        prefix_ = report.folder + "/";
        total_.store(static_cast<long long>(frames));
        builder_.started(report, frames);
    }
    void frame(verify::FrameOutcome& o) override {
        if (o.frame.flags >= 0 && (o.frame.flags & 3) != 0)
            altered_.push_back(o.frame.path.compare(0, prefix_.size(), prefix_) == 0
                                   ? o.frame.path.substr(prefix_.size())
                                   : o.frame.path);
        builder_.frame(o);
        checked_.fetch_add(1, std::memory_order_relaxed);
    }
    void finished(const verify::VerifyReport& report) override { builder_.finished(report); }

private:
    verify::ReportBuilder builder_;
    std::vector<std::string>& altered_;
    std::atomic<long long>& checked_;
    std::atomic<long long>& total_;
    std::string prefix_;
};

}  // namespace

QString VerificationJob::askReportPath(QWidget* parent, const std::string& folder,
                                       const QString& startFolder) {
    QFileDialog dialog(parent, resString(textid::reportTitle));
    dialog.setObjectName(QStringLiteral("reportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(resString(textid::reportFilter).split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(QStringLiteral("html"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.contains(QStringLiteral("pdf")) ? QStringLiteral("pdf")
                                                                       : QStringLiteral("html"));
    });
    dialog.setDirectory(startFolder);
    dialog.selectFile(QFileInfo(QString::fromStdString(folder)).fileName() +
                      QStringLiteral("-report.html"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

VerificationJob::VerificationJob(QWidget* parent, std::string folder, QString reportPath, Done done)
    : QObject(parent),
      parent_(parent),
      folder_(std::move(folder)),
      reportPath_(std::move(reportPath)),
      doneCallback_(std::move(done)) {}

VerificationJob::~VerificationJob() {
    cancel_.store(true);
    if (worker_.joinable())
        worker_.join();
    delete progress_;
}

void VerificationJob::start() {
    progress_ = new QProgressDialog(parent_);
    progress_->setObjectName(QStringLiteral("verificationProgress"));
    progress_->setWindowTitle(resString(textid::reportTitle));
    progress_->setWindowModality(Qt::NonModal);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setMinimumDuration(0);
    progress_->setRange(0, 0);
    progress_->setLabelText(resString(textid::reportProgress).arg(0).arg(0));
    connect(progress_, &QProgressDialog::canceled, this, &VerificationJob::cancel);
    progress_->show();
    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &VerificationJob::poll);
    timer_->start();
    worker_ = std::thread([this] { work(); });
}

void VerificationJob::cancel() {
    cancel_.store(true);
}

void VerificationJob::work() {
    JobObserver observer(model_, altered_, checked_, total_);
    verify::VerifyOptions options;
    options.thumbnails = verify::ReportModel::kMaxListed;
    options.cancel = &cancel_;
    verify::VerifyReport report;
    try {
        ok_ = verify::runVerification(folder_, options, observer, report, error_, &cancelled_);
    } catch (const std::exception& e) {
        ok_ = false;
        error_ = e.what();
    }
    done_.store(true);
}

void VerificationJob::poll() {
    const long long total = total_.load(), checked = checked_.load();
    if (total > 0 && progress_) {
        // The dialog counts in int; a recording of more frames is shown to scale.
        const int scale = total > 1000000000 ? 1000 : 1;
        progress_->setRange(0, static_cast<int>(total / scale));
        progress_->setValue(static_cast<int>(checked / scale));
        progress_->setLabelText(resString(textid::reportProgress).arg(checked).arg(total));
    }
    if (!done_.load() || reported_)
        return;
    reported_ = true;
    timer_->stop();
    worker_.join();
    VerificationOutcome outcome = writeReport();
    if (progress_)
        progress_->hide();
    if (doneCallback_)
        doneCallback_(outcome);
}

VerificationOutcome VerificationJob::writeReport() {
    VerificationOutcome out;
    out.folder = folder_;
    if (cancelled_) {
        out.cancelled = true;
        out.note = resString(textid::reportCancelled);
        return out;
    }
    if (!ok_) {
        out.note = resString(textid::reportFailed).arg(QString::fromStdString(error_));
        return out;
    }
    out.checked = true;
    out.alteredPaths = std::move(altered_);
    model_.program = "korvex";
    verify::stampReport(model_, {"korvex", "File > Verification Report", folder_});
    const std::string path = reportPath_.toStdString();
    std::string error;
    bool written = false;
    if (verify::isPdfReportName(path)) {
        QString why;
        written = verify::writeReportPdf(QByteArray::fromStdString(verify::reportDataJson(model_)),
                                         reportPath_, &why);
        error = why.toStdString();
    } else {
        written = verify::writeHtmlReport(model_, path, error);
    }
    if (!written) {
        out.note = resString(textid::reportFailed).arg(QString::fromStdString(error));
        return out;
    }
    out.saved = true;
    out.note =
        resString(textid::reportSaved).arg(reportPath_, QString::fromStdString(model_.headline));
    return out;
}

}  // namespace korvex
