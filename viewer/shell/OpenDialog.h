#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;

namespace korvex {

// The Open dialog (template 103): the recording folder, typed or picked with Browse.
class COpenDlg : public QDialog {
    Q_OBJECT
public:
    // Runs the folder picker: (owner, start folder) -> the chosen folder, empty when cancelled.
    using FolderPicker = std::function<QString(QWidget* owner, const QString& startFolder)>;

    explicit COpenDlg(const QString& initialFolder, QWidget* parent = nullptr);

    // The folder of edit 1008 as it was when OK was pressed.
    QString path() const { return path_; }
    QString initialFolder() const { return initialFolder_; }

    // Browse (1000): the picker, owned by the main window; a chosen folder replaces the edit.
    void browse();

    // The picker of every Open dialog; the platform's folder picker unless a test sets another.
    static void setFolderPicker(FolderPicker picker);

public slots:
    void accept() override;

private:
    QString initialFolder_;
    QString path_;
    QLineEdit* edit_;
};

}  // namespace korvex
