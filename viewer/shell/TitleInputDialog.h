#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QSettings;

namespace korvex {

class CKorvexDoc;

// The print title history: section "Print Title" of the application profile, keys "1" (the most
// recent) to "10".
inline constexpr int kTitleHistorySize = 10;
inline constexpr char kTitleHistorySection[] = "Print Title";
// A print title is one line under the picture; longer ones are cut when read or typed.
inline constexpr int kMaxTitleLength = 256;

// Every non-empty value of keys "1" to "10", in key order.
std::vector<std::string> readTitleHistory(QSettings& profile);
// Keys "1" to "10" from entries 0 to 9 (empty strings past the history's end). False when the
// profile cannot be written.
bool writeTitleHistory(QSettings& profile, const std::vector<std::string>& history);
// The history after `title` was entered: an equal entry moves to the front (only the first one,
// compared byte for byte; an empty title is not looked up), otherwise the title is put in front.
// Entries past the tenth are no longer stored.
std::vector<std::string> enterTitle(std::vector<std::string> history, const std::string& title);

// Title Input (template 104): the prompt, an editable drop-down list (1038) of the history with
// the current title in its edit field, OK and Cancel. On OK the entered title goes to the front
// of the history in `profile`.
class TitleInputDialog : public QDialog {
    Q_OBJECT
public:
    TitleInputDialog(const std::string& currentTitle, QSettings& profile,
                     QWidget* parent = nullptr);

    // The entered text (valid after OK).
    std::string title() const { return title_; }
    QComboBox* comboBox() const { return combo_; }
    const std::vector<std::string>& history() const { return history_; }

    void accept() override;

private:
    QSettings& profile_;
    QComboBox* combo_ = nullptr;
    std::vector<std::string> history_;
    std::string title_;
};

// Command 32772: runs Title Input on the document's print title and the user's profile; on OK
// the document's `printTitle` becomes the entered text. True on OK.
bool runTitleInput(QWidget* parent, CKorvexDoc& doc);

}  // namespace korvex
