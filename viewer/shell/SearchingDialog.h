#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QTimer;

namespace korvex {

class ScanSession;

// The Searching dialog (template 133): a bar that sweeps 1 to 10 every second while the scan
// worker builds the frame index, with the number of frame files found so far, and Cancel. It
// closes itself when the scan reports its end.
class CSearchDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSearchDlg(ScanSession& scan, QWidget* parent = nullptr);
    ~CSearchDlg() override;

    int counter() const { return counter_; }

    // UM_PROGRESS: bar position `step`; `finished` 1 closes the dialog.
    void onProgress(int step, int finished);

public slots:
    // Cancel, Escape and the window's close box: raise the scan's cancel flag and close.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onTimer();
    void updateFound();
    void detach();

    ScanSession& scan_;
    QProgressBar* bar_;
    QLabel* found_;
    QTimer* timer_;
    int counter_ = 0;
    bool attached_ = false;
};

}  // namespace korvex
