#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <string>

namespace korvex {

class CKorvexApp;
class CKorvexDoc;
class ShellPort;

// "korvex --screenshot OUT.png [--frame N] [--panes 1|4|9|16] [--check] FOLDER": the recording
// opened without a visible window, the main window rendered at that frame and layout into a PNG
// file, then the program ends. For documentation and visual checks.

// Opens `folder` in `doc` with no dialog: the scan runs at once and the call returns when it has
// ended. `shell` (may be null) serves everything else the document asks of its shell meanwhile
// and is the document's shell port again afterwards. True when a recording with frames is open.
bool openRecordingHeadless(CKorvexDoc& doc, const std::string& folder, ShellPort* shell);

// What a screenshot run produced.
struct ScreenshotResult {
    bool ok = false;
    QString error;      // why not, for the user
    QStringList notes;  // what was done otherwise than asked, for the user
    QImage image;
};

// Renders the screenshot that the application's launch options ask for (the application has
// passed InitInstance): the main frame when it holds the image view, else the view alone at the
// main window's size.
ScreenshotResult renderScreenshot(CKorvexApp& app);

// renderScreenshot, then the PNG file. Returns the process exit code: 0 when the file was
// written, else 1 after a message on standard error.
int runScreenshot(CKorvexApp& app);

}  // namespace korvex
