#pragma once

#include <QHash>
#include <QMainWindow>
#include <memory>
#include <vector>

#include "viewer/audio/SoundMessagePort.h"
#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/core/CommandTarget.h"
#include "viewer/shell/VerificationReport.h"

class QAction;
class QToolBar;

class QMimeData;
class QDragEnterEvent;
class QDropEvent;

namespace korvex {

class CDVRFormView;
class VerificationJob;
class VolumeControl;

struct MainFrameSetup {
    // The document's services; settings default to the application object's store.
    DocumentServices services;
    // The application's master volume (may be null).
    VolumeControl* volume = nullptr;
};

// The viewer's top-level window: menus, toolbar, status bar, and a client area of two fixed rows,
// the image view on top and the 80-pixel control panel below. It owns the document, routes the
// commands (view, document, frame, application), pumps messages for the playback loops and keeps
// Close disabled while a loop runs.
class CMainFrame : public QMainWindow,
                   public ShellPort,
                   public CommandTarget,
                   public SoundMessagePort {
    Q_OBJECT
public:
    using Setup = MainFrameSetup;

    explicit CMainFrame(Setup setup, QWidget* parent = nullptr);
    explicit CMainFrame(QWidget* parent = nullptr) : CMainFrame(Setup(), parent) {}
    ~CMainFrame() override;

    CKorvexDoc& document() { return *doc_; }
    CDVRFormView* panel() const { return panel_; }
    QWidget* imageView() const { return viewWidget_; }
    QToolBar* toolBar() const { return toolBar_; }
    // The action of command `id` (menu, toolbar and accelerator share it), or null.
    QAction* action(int id) const { return actions_.value(id); }
    int closeDisabled() const { return closeDisabled_; }

    // Runs command `id` through the routing; false when no target took it.
    bool routeCommand(int id);
    // GetPane: row 0 the image view, row 1 the control panel.
    QWidget* GetPane(int row) const;
    // Invalidate the image view (with or without erasing) and repaint it at once.
    void RedrawView(bool erase = false);
    void DisableClose();
    void EnableClose();

    // ---- ShellPort ----
    bool pumpMessages() override;
    void disableClose() override { DisableClose(); }
    void enableClose() override { EnableClose(); }
    bool runOpenDialog(const std::string& initialFolder, std::string& folder) override;
    void runSearchingDialog(ScanSession& scan) override;
    void setWaitCursor(bool on) override;
    void recordingKindChanged(const RecordingKind& kind) override;
    // Menus and toolbar reflect the current state (the framework's idle update).
    void updateCommandUi() override;
    void openFinished(const std::string& folder, OpenOutcome outcome) override;
    void reportUnreadableParts(const std::string& folder,
                               const std::vector<std::string>& parts) override;

    // ---- CommandTarget: the frame's own commands ----
    bool onCommand(int id) override;
    bool updateCommand(int id, CommandState& state) override;

    // ---- SoundMessagePort ----
    void showSoundError(const std::string& text) override;

    // Date Display Format (32773).
    void OnDateDisplayFormat();

    // A note in the status bar (why an open did nothing, a file saved, a page printed). It
    // stays until the next command; a command's help text covers it only while shown.
    void showNote(const QString& text);
    void clearNote();
    QString note() const { return note_; }
    // The note that stands in for the idle text while the open recording's sound track plays
    // unheard (no sound device); empty otherwise.
    QString soundNote() const { return soundNote_; }

    // The folder a drag carries when it is one local folder; empty otherwise.
    static QString droppedFolder(const QMimeData* mime);

    // Whether the alteration marks show: View > Show Alteration Marks, or the switch "check".
    bool alterationMarksShown() const;
    // Puts the marks of the open recording's known altered frames under the position slider
    // (none while the marks are off). Runs every second, as the viewer checks frames it shows.
    void refreshAlterationMarks();
    // The running or last File > Verification Report; null before the first.
    VerificationJob* verification() const { return verification_.get(); }

    // Keys of the transport, as a player's users expect them: Space plays or stops, Left and
    // Right step one frame. Each presses its panel button when that is enabled; true if it did.
    // A focused slider keeps its arrow keys.
    bool pressTransportKey(int key);

protected:
    void closeEvent(QCloseEvent* event) override;
    // A recording folder dropped on the window opens as if chosen in the Open dialog.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* actionFor(int id, const QString& text);
    void createMenusAndToolbar(int templateId);
    void createClientArea(VolumeControl* volume);
    std::vector<CommandTarget*> routing() const;
    // A key the focused slider `watched` uses itself, which the transport keys must not take.
    bool sliderKeepsKey(QObject* watched, QEvent* event) const;

    std::unique_ptr<SettingsPort> appSettings_;
    std::unique_ptr<CKorvexDoc> doc_;
    QWidget* viewWidget_ = nullptr;
    ViewPort* viewPort_ = nullptr;
    CommandTarget* viewCommands_ = nullptr;
    CDVRFormView* panel_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QHash<int, QAction*> actions_;
    int32_t closeDisabled_ = 0;
    bool ending_ = false;  // the program is quitting: loops stop, Close is no longer refused
    bool waitCursor_ = false;
    QString note_;
    QString soundNote_;
    std::string openFolder_;  // the recording shown, empty before the first open
    AlterationMarks marks_;
    QTimer* marksTimer_ = nullptr;
    // Declared last: a check still running is ended before what it reports to goes.
    std::unique_ptr<VerificationJob> verification_;
};

}  // namespace korvex
