#pragma once

#include <QDialog>

class QComboBox;
class QLabel;

namespace korvex {

// The Date Display Format dialog (template 135): date order and delimiter with a live sample of
// today's date.
class CDateFormatDlg : public QDialog {
    Q_OBJECT
public:
    CDateFormatDlg(int format, int delimiter, QWidget* parent = nullptr);

    // After OK, the chosen selections; after Cancel, the values given.
    int format() const { return format_; }
    int delimiter() const { return delimiter_; }

public slots:
    void accept() override;

private:
    void selectionChanged();
    // List 1043 with the three orders for the stored delimiter, the stored format selected.
    void rebuildOrders();
    void showSample();

    int format_;
    int delimiter_;
    int shownFormat_;  // the selections the lists show while the dialog runs
    int shownDelimiter_;
    QComboBox* orders_;
    QComboBox* delimiters_;
    QLabel* sample_;
    bool rebuilding_ = false;
};

}  // namespace korvex
