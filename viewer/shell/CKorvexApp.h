#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class QMessageBox;
#include <cstdint>
#include <memory>

#include "viewer/playback/core/ViewerSettings.h"
#include "viewer/shell/core/CommandLine.h"

namespace korvex {

// The last probed recording kind, written by the document and read by the decoders and the
// sound track.
struct RecordingKindFlags {
    int32_t kindJp2Mp3 = 0;
    int32_t kindJpeg = 0;
    int32_t kindJp2Wav = 0;
};

// The viewer's application object: fixes the time zone, picks the brand from the brand file,
// reads the command line, keeps the per-user settings, creates the main window and runs the
// brand's About box. There is one per process (instance()), created after the QApplication.
//
// The document, the main frame and the mixer attach through the virtual hooks below; the
// defaults stand in until they exist (a placeholder window, no mixer).
class CKorvexApp : public QObject {
    Q_OBJECT
public:
    explicit CKorvexApp(QObject* parent = nullptr);
    ~CKorvexApp() override;

    // The application object of the process, or nullptr.
    static CKorvexApp* instance();

    // Start-up. `arguments` are the program's arguments without the program name; the brand
    // file is looked for in `brandFolder` (the current directory when empty), then in the data
    // folders of brandSearchFolders. False when the viewer cannot start: startupError() then
    // says why, naming the files and every folder looked in.
    bool InitInstance(const QStringList& arguments, const QString& brandFolder = QString());
    // Exit: closes the mixer; returns the process exit code.
    int ExitInstance();

    int brandIndex() const { return brandIndex_; }
    bool checkMode() const { return checkMode_ != 0; }
    RecordingKindFlags kindFlags() const { return kindFlags_; }
    void setKindFlags(const RecordingKindFlags& flags) { kindFlags_ = flags; }
    const LaunchOptions& launchOptions() const { return options_; }
    QString startupError() const { return startupError_; }
    // What kind of failure startupError() describes.
    enum class StartupError { None, BrandFile, CommandLine, Other };
    StartupError startupErrorKind() const { return startupErrorKind_; }
    QString startupFolder() const { return startupFolder_; }

    // The brand's document template (also the id of its menu and icon) and About box.
    int templateId() const;
    int aboutBoxId() const;
    // The brand's window title: the first field of its template string.
    QString windowTitle() const;
    // "SOFTWARE\<company>\<product>\Settings" of the brand in the UI language.
    std::string settingsKeyPath() const;

    // Settings of the per-user store: read when the document is created, written when it is
    // destroyed. Without a usable store the defaults are read and nothing is written.
    ViewerSettings LoadSettings() const;
    bool SaveSettings(const ViewerSettings& settings) const;

    // The main window; owned by the application object (deleted with it unless it went first).
    QWidget* mainFrame() const { return mainFrame_; }

public slots:
    // About commands 57664 and 32774: the About box of the brand, modal over the main window.
    void OnAppAbout();

protected:
    // Creates the main window (not yet shown). The default is a placeholder window with the
    // brand's title, menus and status bar.
    virtual QWidget* createMainFrame();
    // Opens the folder named on the command line. False fails the start-up.
    virtual bool openStartupFolder(const QString& folder);
    // Shows the main window; not called in screenshot mode.
    virtual void showMainFrame(QWidget* frame);
    // The master volume mixer, opened at the end of start-up and closed at exit.
    virtual bool initMixer();
    virtual void exitMixer();

private:
    bool fail(const QString& message);

    int32_t brandIndex_ = -1;
    int32_t checkMode_ = 0;
    RecordingKindFlags kindFlags_;
    LaunchOptions options_;
    QString startupError_;
    StartupError startupErrorKind_ = StartupError::None;
    QString startupFolder_;
    QPointer<QWidget> mainFrame_;
};

// The message box that tells a desktop user why the viewer did not start (its text is
// startupError()); the caller runs it before the program ends.
std::unique_ptr<QMessageBox> startupFailureBox(const CKorvexApp& app);
// Whether the failure of InitInstance should be shown in that box as well as on standard error:
// not for command-line mistakes or screenshot runs (`commandLine` is the early parse of the
// arguments), and not on a Qt `platform` without a screen to show it on.
bool startupFailureNeedsBox(const CKorvexApp& app, const LaunchOptions& commandLine,
                            const QString& platform);

}  // namespace korvex
