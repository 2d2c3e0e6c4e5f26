#pragma once

#include <QDialog>

namespace korvex {

// The About box of a brand (100, 101, 178, 181, 182): the brand's icon, the product name with
// "Version 2.1.5", the box's further fixed lines, and OK.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(int aboutBoxId, int iconId, QWidget* parent = nullptr);
    int aboutBoxId() const { return aboutBoxId_; }

private:
    int aboutBoxId_;
};

}  // namespace korvex
