#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "recording/DibBlock.h"
#include "recording/ImageSource.h"
#include "recording/RecordingProbe.h"
#include "viewer/audio/SoundMessagePort.h"
#include "viewer/playback/core/CommandTarget.h"
#include "viewer/playback/core/OpenOutcome.h"
#include "viewer/playback/core/PlaybackClock.h"
#include "viewer/playback/core/ScanSession.h"
#include "viewer/playback/core/ViewerSettings.h"

namespace korvex {

// Private messages of the control panel (their numbers are the recorder software's).
inline constexpr int UM_RESTART_PLAY = 0x512;
inline constexpr int UM_RESTART_REVERSE = 0x513;
inline constexpr int UM_SUSPEND = 0x401;  // position slider: mouse button down
inline constexpr int UM_RESUME = 0x402;   // position slider: mouse button up
inline constexpr int UM_PROGRESS = 0x46E;

// ---- Ports: the document reaches the user interface only through these. Every method has a
// harmless default, so a test fakes only what it watches. All calls come on the UI thread. ----

// The image view (CKorvexView). The main frame creates it as
//     new CKorvexView(CKorvexDoc& doc, QWidget* parent)
// (a QWidget that is also this ViewPort and a CommandTarget for the CHANNEL menu, the View menu's
// 40031..40035 and 40041..40044, Print 57607, Save 33001 and Title Input 32772), puts it in the
// upper row and hands it to the document with setViewPort. The view reaches the panel through
// CKorvexDoc::panel() and the frame through CKorvexDoc::shell().
class ViewPort {
public:
    virtual ~ViewPort() = default;
    // Invalidate without erasing and repaint at once.
    virtual void redrawView() {}
    // Back to one pane showing the source's default channel (after an open).
    virtual void resetView() {}
    // The view shows more than one pane (its grid is not 1 x 1).
    virtual bool isMultiPane() const { return false; }
    // 1, 4, 9 or 16.
    virtual int paneCount() const { return 1; }
    // The channel pane `pane` of the current layout shows; -1 all channels, -9 an empty pane.
    virtual int channelOfPane(int pane) const {
        (void)pane;
        return -1;
    }
};

// The control panel (CDVRFormView). Control ids are those of template 132 (ctl:: in
// viewer/resources/ResourceIds.h).
class PanelPort {
public:
    virtual ~PanelPort() = default;
    // Texts and the position slider from the document.
    virtual void refreshDisplays() {}
    // Empty the current time and the frame counter.
    virtual void blankDisplays() {}
    // Sound toggle, 1ch, 2ch and volume for a recording of `kindFlag` (kindJp2Mp3) shown in one
    // pane (`single`) or several.
    virtual void updateSoundControls(int kindFlag, bool single) {
        (void)kindFlag;
        (void)single;
    }
    virtual void showChannelIndicators(int paneCount) { (void)paneCount; }
    // Position slider: range 1..count, position index + 1.
    virtual void setPositionRange(int count) { (void)count; }
    virtual void setPosition(int index) { (void)index; }
    // The speed slider's position, 1 to 10, read when needed.
    virtual int speedPosition() const { return 3; }
    // Whether the user wants to hear the sound; the 1ch / 2ch choice (0 to 3).
    virtual bool soundWanted(int kindFlag) const {
        (void)kindFlag;
        return true;
    }
    virtual int soundTwoChannel(int kindFlag) const {
        (void)kindFlag;
        return 1;
    }
    virtual void setControlEnabled(int controlId, bool enabled) {
        (void)controlId;
        (void)enabled;
    }
    // Posts a message or a button command (UM_RESTART_PLAY, UM_RESTART_REVERSE, or the button
    // ids 1004 / 1002) to the panel; the panel hands it back to the document later through
    // the intents below.
    virtual void postToPanel(int message) { (void)message; }
    // Reads the controls into the panel's data (kept for the loops' rhythm; may do nothing).
    virtual void updateData() {}
};

// What the recording kind scan needs from a modal dialog.
class ScanSession;

// The main frame and the application: message pump, Close, modal dialogs, cursor.
class ShellPort {
public:
    virtual ~ShellPort() = default;
    // Dispatches every waiting message. False when the program is ending: the loops stop.
    virtual bool pumpMessages() { return true; }
    virtual void disableClose() {}
    virtual void enableClose() {}
    // The Open dialog; true with `folder` on OK.
    virtual bool runOpenDialog(const std::string& initialFolder, std::string& folder) {
        (void)initialFolder;
        (void)folder;
        return false;
    }
    // The Searching dialog, modal until `scan` finishes or the user cancels (scan.cancel()).
    virtual void runSearchingDialog(ScanSession& scan) { (void)scan; }
    virtual void setWaitCursor(bool on) { (void)on; }
    // The application object keeps the last probed kind for the decoders and the sound track.
    virtual void recordingKindChanged(const RecordingKind& kind) { (void)kind; }
    // Idle processing: menus and toolbar reflect the new state.
    virtual void updateCommandUi() {}
    // An open of `folder` (from the menu, a drop or the command line) ended with `outcome`.
    virtual void openFinished(const std::string& folder, OpenOutcome outcome) {
        (void)folder;
        (void)outcome;
    }
    // The scan of `folder` could not read some of its folders or files (each "PATH (reason)"):
    // what they hold is missing, and the user must know the recording is shown incomplete.
    virtual void reportUnreadableParts(const std::string& folder,
                                       const std::vector<std::string>& parts) {
        (void)folder;
        (void)parts;
    }
};

// Where the document's display settings come from and go back to (the per-user store).
class SettingsPort {
public:
    virtual ~SettingsPort() = default;
    virtual ViewerSettings load() = 0;
    virtual void save(const ViewerSettings& settings) = 0;
};

// The recording's sound track as the loops use it (SoundTrack in the program, fakes in tests).
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual int openSound(const std::string& folder) = 0;
    virtual int playFrom(std::uint32_t ms, int channel) = 0;
    virtual int pauseSound() = 0;
    virtual int stopSound() = 0;
    virtual int seekSoundStart() = 0;
    virtual int seekSoundEnd() = 0;
    virtual std::uint32_t soundLength() = 0;
    virtual std::uint32_t soundPosition() = 0;
    // The open track plays unheard (no sound device); its positions still keep time.
    virtual bool silentOutput() const { return false; }
};

// Everything the document creates or asks for from outside; empty members take the program's
// real ones (steady clock, RecordingProbe, FolderImageSource, SoundTrack, no settings store).
struct DocumentServices {
    PlaybackClock* clock = nullptr;             // not owned
    SettingsPort* settings = nullptr;           // not owned
    SoundMessagePort* soundMessages = nullptr;  // not owned; the sound track's failures
    std::function<int(const std::string& folder, RecordingKind& kind)> probe;
    std::function<std::unique_ptr<ImageSource>(const RecordingKind& kind,
                                               const std::atomic<bool>* cancelFlag)>
        makeSource;
    std::function<std::unique_ptr<SoundPlayer>()> makeSound;
    // The running scan's count of frame files found so far (for the Searching dialog).
    std::function<long long(const ImageSource& source)> filesFound;
    // What the last scan could not read, each as "PATH (reason)".
    std::function<std::vector<std::string>(const ImageSource& source)> unreadableParts;
};

// The playback controller: owns the open recording's source, its sound track and the current
// frame's picture; opens recordings; navigates; runs the forward and reverse loops on the UI
// thread, pumping messages between frames through the shell port.
class CKorvexDoc : public CommandTarget {
public:
    explicit CKorvexDoc(DocumentServices services = {});
    // Frees the picture, closes the recording and saves the settings.
    ~CKorvexDoc() override;
    CKorvexDoc(const CKorvexDoc&) = delete;
    CKorvexDoc& operator=(const CKorvexDoc&) = delete;

    void setViewPort(ViewPort* view) { view_ = view; }
    void setPanelPort(PanelPort* panel) { panel_ = panel; }
    void setShellPort(ShellPort* shell) { shell_ = shell; }

    // ---- Opening ----
    // File > Open (57601): the Open dialog, then OpenRecordingFolder.
    void OpenRecording();
    // Everything after the Open dialog's OK: probe, sound track, scan with the Searching dialog.
    // True when a recording with frames is open afterwards. The shell hears how it ended.
    bool OpenRecordingFolder(const std::string& folder);
    // How the last OpenRecordingFolder ended.
    OpenOutcome lastOpenOutcome() const { return lastOpenOutcome_; }

    // ---- Navigation (1 moved / 0 not) ----
    int Next(bool redraw);
    int Previous(bool redraw);
    int First(bool redraw);
    int Last(bool redraw);
    int SetPosition(int index);  // no redraw

    // ---- Loops ----
    int PlayForward();
    int PlayReverse();
    void SuspendForChannelChange();
    void ResumeAfterChannelChange();
    // Called by the view after a pane's channel or the layout changed. `paneChannelRow` holds
    // 16 entries.
    int SelectChannels(int channel, int paneCount, int* paneChannelRow);

    // ---- Panel intents (the buttons of template 132 and the panel's private messages) ----
    void OnPlayPressed();                         // 1004 and UM_RESTART_PLAY
    void OnReversePressed();                      // 1002 and UM_RESTART_REVERSE
    void StopAction();                            // 1003
    void OnPreviousPressed() { Previous(true); }  // 1001
    void OnNextPressed() { Next(true); }          // 1005
    // Position slider: a scroll to `sliderPosition` (1-based), button down, button up.
    void OnPositionScrolled(int sliderPosition);
    void OnPositionPressed() { SuspendForChannelChange(); }
    void OnPositionReleased() { ResumeAfterChannelChange(); }
    // The program is ending: running loops stop and no new one starts.
    void RequestShutdown();

    // ---- The current picture ----
    // Frees the picture and loads the current frame's; 1 when there is one.
    int LoadCurrentPicture(int orderCheck);
    // A byte copy of the picture, owned by the caller; empty when there is none.
    DibBlock CopyCurrentPicture() const;
    const DibBlock& currentPicture() const { return currentPicture_; }
    std::size_t currentPictureSize() const { return currentPictureSize_; }
    std::string CurrentPath() const;

    // ---- Commands: File > Open; enabling of Save and Print (their actions are the view's) ----
    bool canSave() const;   // 33001
    bool canPrint() const;  // 57607
    bool onCommand(int id) override;
    bool updateCommand(int id, CommandState& state) override;

    // ---- State read by the view and the panel ----
    ImageSource* source() const { return source_.get(); }
    bool hasSource() const { return source_ != nullptr; }
    int32_t kindJp2Mp3() const { return kindJp2Mp3_; }
    int32_t kindJpeg() const { return kindJpeg_; }
    int32_t kindJp2Wav() const { return kindJp2Wav_; }
    int32_t soundPresent() const { return soundPresent_; }
    // The open recording has a sound track that nobody hears: there is no sound device.
    bool soundSilent() const { return soundPresent_ != 0 && sound_ && sound_->silentOutput(); }
    int32_t playingForward() const { return playingForward_; }
    int32_t playingReverse() const { return playingReverse_; }
    bool playing() const { return playingForward_ != 0 || playingReverse_ != 0; }
    int32_t stopRequest() const { return stopRequest_; }
    int32_t resumeForward() const { return resumeForward_; }
    int32_t resumeReverse() const { return resumeReverse_; }
    int32_t busyOpening() const { return busyOpening_; }
    SoundPlayer* sound() const { return sound_.get(); }

    // ---- Display settings (stored per user) ----
    int32_t dateFormat() const { return dateFormat_; }
    int32_t dateDelimiter() const { return dateDelimiter_; }
    int32_t timePosition() const { return timePosition_; }
    int32_t showCameraTitle() const { return showCameraTitle_; }
    const std::string& printTitle() const { return printTitle_; }
    const std::string& lastOpenFolder() const { return lastOpenFolder_; }
    const std::string& lastSaveFolder() const { return lastSaveFolder_; }
    void setDateFormat(int32_t format) { dateFormat_ = format; }
    void setDateDelimiter(int32_t delimiter) { dateDelimiter_ = delimiter; }
    void setTimePosition(int32_t position) { timePosition_ = position; }
    void setShowCameraTitle(int32_t show) { showCameraTitle_ = show; }
    void setPrintTitle(std::string title) { printTitle_ = std::move(title); }
    void setLastSaveFolder(std::string folder);
    ViewerSettings settings() const;
    // The command line's "check" switch: the view, the print and the saved picture draw the
    // alteration banners. Given by the application when it creates the document; not stored.
    bool checkMode() const { return checkMode_; }
    void setCheckMode(bool on) { checkMode_ = on; }

    // The frame time as the panel and the overlays show it, in the document's date format.
    std::string FormatFrameTime(std::int64_t time) const;

    // The attached ports (do-nothing ones until attached).
    ViewPort& view() const { return view_ ? *view_ : nullView_; }
    PanelPort& panel() const { return panel_ ? *panel_ : nullPanel_; }
    ShellPort& shell() const { return shell_ ? *shell_ : nullShell_; }

private:
    void freePicture();
    void load();  // LoadCurrentPicture(orderCheckDefault)
    void redrawAndRefresh(bool redraw);
    // Dispatches waiting messages; false when the program is ending.
    bool pump();
    bool singlePane() const;
    int speedPosition() const;
    // The loop may go on with the same recording (no open replaced it meanwhile).
    bool sameRecording(std::uint64_t generation) const {
        return source_ != nullptr && generation == generation_;
    }
    void enableControls(std::initializer_list<int> ids, bool enabled);
    void reenableAfterForward();
    void reenableAfterReverse();
    void discardRecording();
    void closeSoundTrack();
    bool finishOpen(const std::string& folder, OpenOutcome outcome);

    DocumentServices services_;
    SteadyPlaybackClock steadyClock_;
    PlaybackClock* clock_;
    ViewPort* view_ = nullptr;
    PanelPort* panel_ = nullptr;
    ShellPort* shell_ = nullptr;
    mutable ViewPort nullView_;
    mutable PanelPort nullPanel_;
    mutable ShellPort nullShell_;

    std::unique_ptr<ImageSource> source_;
    std::unique_ptr<SoundPlayer> sound_;
    DibBlock currentPicture_;
    std::size_t currentPictureSize_ = 0;

    int32_t kindJp2Mp3_ = 0;
    int32_t kindJpeg_ = 0;
    int32_t kindJp2Wav_ = 0;
    int32_t soundPresent_ = 0;
    int32_t orderCheckDefault_ = 0;
    int32_t playingForward_ = 0;
    int32_t playingReverse_ = 0;
    int32_t stopRequest_ = 0;
    int32_t resumeForward_ = 0;
    int32_t resumeReverse_ = 0;
    int32_t busyOpening_ = 0;
    bool shuttingDown_ = false;
    OpenOutcome lastOpenOutcome_ = OpenOutcome::Opened;
    // Counts the recordings replaced or discarded, so that a loop notices an open that ran
    // from inside its message pump.
    std::uint64_t generation_ = 0;
    // Raised by the Searching dialog's Cancel, polled by the scan. Lives as long as the
    // document because the source keeps a pointer to it.
    std::atomic<bool> cancelFlag_{false};

    int32_t dateFormat_ = 0;
    int32_t dateDelimiter_ = 0;
    int32_t timePosition_ = 0;
    int32_t showCameraTitle_ = 1;
    bool checkMode_ = false;
    std::string printTitle_;
    std::string lastOpenFolder_;
    std::string lastSaveFolder_;
};

}  // namespace korvex
