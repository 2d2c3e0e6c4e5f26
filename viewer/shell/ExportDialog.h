#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>

#include "viewer/export/ExportJob.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace platform {
class Worker;
}

namespace korvex {

class CKorvexDoc;
class CKorvexView;

// The export request for what `view` shows of `doc`'s recording: its layout and channels, the
// document's display settings, from the current frame to the last, marks as the program's check
// mode draws them. The output is left empty.
ExportRequest exportRequestFor(const CKorvexDoc& doc, const CKorvexView& view);

// File > Export: a stretch of the open recording as an MP4 video, in the layout the view shows.
// The export runs on a worker thread of the dialog's; the progress bar follows it and Cancel (or
// closing the dialog) stops it, leaving no file. The dialog closes itself once the file is
// written.
class ExportDialog : public QDialog {
    Q_OBJECT
public:
    ExportDialog(ExportRequest request, int frameCount, const QString& layoutText,
                 QWidget* parent = nullptr);
    ~ExportDialog() override;

    bool running() const { return worker_ != nullptr; }
    const ExportOutcome& outcome() const { return outcome_; }

    // For tests: the controls by role.
    QSpinBox* fromBox() const { return from_; }
    QSpinBox* toBox() const { return to_; }
    QCheckBox* overlayBox() const { return overlay_; }
    QCheckBox* marksBox() const { return marks_; }
    QLineEdit* fileEdit() const { return file_; }
    QPushButton* exportButton() const { return start_; }
    QPushButton* cancelButton() const { return cancel_; }
    QProgressBar* progressBar() const { return bar_; }

public slots:
    // Starts the export with what the controls hold; does nothing while one runs.
    void startExport();
    // Stops a running export (nothing is left behind), or closes the dialog.
    void reject() override;

private:
    void browse();
    void poll();
    void finished();

    ExportRequest request_;
    QSpinBox* from_ = nullptr;
    QSpinBox* to_ = nullptr;
    QCheckBox* overlay_ = nullptr;
    QCheckBox* marks_ = nullptr;
    QLineEdit* file_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;

    // Shared with the worker: written there, read here.
    std::atomic<bool> cancelOrder_{false};
    std::atomic<bool> done_{false};
    std::atomic<long long> framesDone_{0};
    std::atomic<long long> framesTotal_{0};
    std::atomic<int> stage_{0};
    ExportOutcome outcome_;  // the worker's, read after it has ended
    std::unique_ptr<platform::Worker> worker_;
};

// Runs File > Export for the frame's document and view: the dialog, then a status note.
// Returns the note to show (empty when nothing was written).
QString runExport(QWidget* parent, CKorvexDoc& doc, const CKorvexView& view);

}  // namespace korvex
