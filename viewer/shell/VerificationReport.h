#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recording/ImageSource.h"
#include "tools/verify/ReportModel.h"

class QProgressDialog;
class QTimer;
class QWidget;

namespace korvex {

// Where the open recording's altered frames are, as far as they are known: the frames the viewer
// has checked while showing them, and every frame of the last verification of the same folder.
class AlterationMarks {
public:
    // The altered frames a verification of `folder` found (their paths inside it).
    void setVerified(std::string folder, std::vector<std::string> alteredPaths);
    void clear();
    // The indices of `source` (the recording open from `folder`) known to be altered.
    std::vector<int> positions(const ImageSource& source, const std::string& folder);

private:
    std::string folder_;
    std::vector<std::string> paths_;  // sorted
    // The verified frames as indices of the source they were last looked up in; looked up again
    // when the index changes (another channel selected).
    int cachedCount_ = -1;
    std::string cachedFirst_, cachedLast_;
    std::vector<int> verifiedIndices_;
};

// What a finished verification leaves for the window.
struct VerificationOutcome {
    bool checked = false;  // every frame was checked
    bool saved = false;
    bool cancelled = false;
    QString note;  // for the status bar
    std::string folder;
    std::vector<std::string> alteredPaths;  // inside the folder
};

// File > Verification Report: the check of every frame on a thread of its own while a progress
// dialog (not modal: the viewer stays usable) shows how far it is and offers Cancel; then the
// report is written, HTML or PDF by the file's name. The job owns its thread: Cancel or the
// job's end stops and joins it.
class VerificationJob : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const VerificationOutcome&)>;
    VerificationJob(QWidget* parent, std::string folder, QString reportPath, Done done);
    ~VerificationJob() override;

    void start();
    void cancel();
    bool finished() const { return done_.load(); }
    QProgressDialog* progressDialog() const { return progress_; }

    // The save dialog's choice of a report file for `folder`, starting in `startFolder`; empty
    // when the user cancelled. A name without a known ending gets the chosen filter's.
    static QString askReportPath(QWidget* parent, const std::string& folder,
                                 const QString& startFolder);

private:
    void poll();
    void work();
    VerificationOutcome writeReport();

    QWidget* parent_;
    std::string folder_;
    QString reportPath_;
    Done doneCallback_;
    QProgressDialog* progress_ = nullptr;
    QTimer* timer_ = nullptr;

    // Shared with the worker: it writes the counts and `done_`, everything else it leaves alone
    // until done_ is set.
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{false};
    std::atomic<long long> checked_{0};
    std::atomic<long long> total_{0};
    verify::ReportModel model_;
    std::vector<std::string> altered_;
    std::string error_;
    bool ok_ = false;
    bool cancelled_ = false;
    bool reported_ = false;
    std::thread worker_;
};

}  // namespace korvex
