#include "viewer/playback/CKorvexDoc.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/FileSystem.h"
#include "recording/FolderImageSource.h"
#include "viewer/audio/SoundTrack.h"
#include "viewer/playback/core/FrameTimeText.h"
#include "viewer/playback/core/SpeedTable.h"
#include "viewer/resources/ResourceIds.h"

namespace korvex {

namespace {

// The program's sound player: the recording's SoundTrack.
class TrackSoundPlayer : public SoundPlayer {
public:
    explicit TrackSoundPlayer(SoundMessagePort* messages) : track_(messages) {}
    int openSound(const std::string& folder) override { return track_.openSound(folder); }
    int playFrom(std::uint32_t ms, int channel) override { return track_.playFrom(ms, channel); }
    int pauseSound() override { return track_.pauseSound(); }
    int stopSound() override { return track_.stopSound(); }
    int seekSoundStart() override { return track_.seekSoundStart(); }
    int seekSoundEnd() override { return track_.seekSoundEnd(); }
    std::uint32_t soundLength() override { return track_.soundLength(); }
    std::uint32_t soundPosition() override { return track_.soundPosition(); }
    bool silentOutput() const override { return track_.silentOutput(); }

private:
    SoundTrack track_;
};

// Only asked after the probe found nothing, to tell a folder without frames from one that
// could not be looked into at all.
bool folderReadable(const std::string& folder) {
    std::error_code error;
    const std::filesystem::directory_iterator opened(folder, error);
    return !error;
}

// Deadlines and clock readings wrap like a 32-bit tick count; compare them by difference.
bool isAfter(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) > 0;
}

}  // namespace

CKorvexDoc::CKorvexDoc(DocumentServices services)
    : services_(std::move(services)),
      clock_(services_.clock != nullptr ? services_.clock : &steadyClock_) {
    if (!services_.probe) {
        services_.probe = [](const std::string& folder, RecordingKind& kind) {
            RecordingProbe probe;
            const int result = probe.probe(folder);
            kind = probe.kind();
            return result;
        };
    }
    if (!services_.makeSource) {
        services_.makeSource = [](const RecordingKind& kind, const std::atomic<bool>* cancel) {
            return std::make_unique<FolderImageSource>(kind, cancel);
        };
    }
    if (!services_.makeSound) {
        SoundMessagePort* messages = services_.soundMessages;
        services_.makeSound = [messages] { return std::make_unique<TrackSoundPlayer>(messages); };
    }
    if (!services_.filesFound) {
        services_.filesFound = [](const ImageSource& source) -> long long {
            const auto* folder = dynamic_cast<const FolderImageSource*>(&source);
            return folder != nullptr ? folder->filesFound() : 0;
        };
    }
    if (!services_.unreadableParts) {
        services_.unreadableParts = [](const ImageSource& source) {
            std::vector<std::string> parts;
            if (const auto* folder = dynamic_cast<const FolderImageSource*>(&source)) {
                for (const UnreadablePart& part : folder->unreadableParts())
                    parts.push_back(part.path + " (" + platform::fileErrorText(part.error) + ")");
            }
            return parts;
        };
    }
    if (services_.settings != nullptr) {
        const ViewerSettings s = services_.settings->load();
        dateFormat_ = s.dateFormat;
        dateDelimiter_ = s.dateDelimiter;
        timePosition_ = s.timePosition;
        lastOpenFolder_ = s.lastOpenFolder;
        lastSaveFolder_ = s.lastSaveFolder;
    }
}

CKorvexDoc::~CKorvexDoc() {
    RequestShutdown();
    freePicture();
    source_.reset();
    sound_.reset();
    if (services_.settings != nullptr)
        services_.settings->save(settings());
}

ViewerSettings CKorvexDoc::settings() const {
    ViewerSettings s;
    s.dateFormat = dateFormat_;
    s.dateDelimiter = dateDelimiter_;
    s.timePosition = timePosition_;
    s.lastOpenFolder = lastOpenFolder_;
    s.lastSaveFolder = lastSaveFolder_;
    return s;
}

void CKorvexDoc::setLastSaveFolder(std::string folder) {
    lastSaveFolder_ = std::move(folder);
}

std::string CKorvexDoc::FormatFrameTime(std::int64_t time) const {
    return korvex::FormatFrameTime(time, dateFormat_, dateDelimiter_);
}

// ---- Helpers ----

bool CKorvexDoc::singlePane() const {
    return !view().isMultiPane();
}

int CKorvexDoc::speedPosition() const {
    return panel().speedPosition();
}

bool CKorvexDoc::pump() {
    if (!shell().pumpMessages())
        RequestShutdown();
    return !shuttingDown_;
}

void CKorvexDoc::RequestShutdown() {
    shuttingDown_ = true;
    stopRequest_ = 1;
    cancelFlag_.store(true);
}

void CKorvexDoc::freePicture() {
    currentPicture_.reset();
    currentPictureSize_ = 0;
}

int CKorvexDoc::LoadCurrentPicture(int orderCheck) {
    freePicture();
    if (!source_)
        return 0;
    std::size_t size = 0;
    currentPicture_ = source_->loadCurrent(&size, orderCheck);
    if (!currentPicture_)
        return 0;
    currentPictureSize_ = size;
    return 1;
}

void CKorvexDoc::load() {
    LoadCurrentPicture(orderCheckDefault_);
}

DibBlock CKorvexDoc::CopyCurrentPicture() const {
    if (!currentPicture_)
        return {};
    // The reported size may exceed the block only if a source misreports; never read past it.
    const std::size_t size = std::min(currentPictureSize_, currentPicture_.size());
    DibBlock copy = DibBlock::allocate(size);
    if (copy)
        std::memcpy(copy.data(), currentPicture_.data(), size);
    return copy;
}

std::string CKorvexDoc::CurrentPath() const {
    return source_ ? source_->pathAt(source_->currentIndex()) : std::string();
}

void CKorvexDoc::redrawAndRefresh(bool redraw) {
    if (!redraw)
        return;
    view().redrawView();
    panel().refreshDisplays();
}

void CKorvexDoc::enableControls(std::initializer_list<int> ids, bool enabled) {
    for (int id : ids)
        panel().setControlEnabled(id, enabled);
}

// ---- Commands ----

bool CKorvexDoc::canSave() const {
    return currentPicture_ && source_ && singlePane();
}

bool CKorvexDoc::canPrint() const {
    return currentPicture_ && singlePane();
}

bool CKorvexDoc::onCommand(int id) {
    if (id != cmd::fileOpen)
        return false;
    OpenRecording();
    return true;
}

bool CKorvexDoc::updateCommand(int id, CommandState& state) {
    switch (id) {
        case cmd::fileOpen:
            state.enabled = true;
            return true;
        case cmd::fileSave:
            state.enabled = canSave();
            return true;
        case cmd::filePrint:
            state.enabled = canPrint();
            return true;
        default:
            return false;
    }
}

// ---- Opening ----

void CKorvexDoc::OpenRecording() {
    busyOpening_ = 1;
    std::string folder;
    if (!shell().runOpenDialog(lastOpenFolder_, folder)) {
        busyOpening_ = 0;
        return;
    }
    OpenRecordingFolder(folder);
}

void CKorvexDoc::closeSoundTrack() {
    sound_.reset();
    soundPresent_ = 0;
    orderCheckDefault_ = 0;
}

void CKorvexDoc::discardRecording() {
    ++generation_;
    source_.reset();
    freePicture();
}

bool CKorvexDoc::OpenRecordingFolder(const std::string& folder) {
    if (shuttingDown_)
        return false;
    busyOpening_ = 1;

    // A folder that is not a recording leaves the open one as it is, kind flags included: the
    // decoders and the sound controls still serve it.
    RecordingKind kind;
    if (services_.probe(folder, kind) != 1 || !kind.any()) {
        busyOpening_ = 0;
        return finishOpen(
            folder, folderReadable(folder) ? OpenOutcome::NotARecording : OpenOutcome::Unreadable);
    }
    kindJp2Mp3_ = kind.kindJp2Mp3 ? 1 : 0;
    kindJpeg_ = kind.kindJpeg ? 1 : 0;
    kindJp2Wav_ = kind.kindJp2Wav ? 1 : 0;
    shell().recordingKindChanged(kind);

    // A loop running below this call (the open came from its message pump) ends when control
    // returns to it.
    playingForward_ = 0;
    playingReverse_ = 0;
    StopAction();

    discardRecording();
    closeSoundTrack();
    panel().refreshDisplays();

    sound_ = services_.makeSound();
    soundPresent_ = orderCheckDefault_ = sound_ ? sound_->openSound(folder) : 0;
    panel().updateSoundControls(kindJp2Mp3_, soundPresent_ != 0);
    source_ = services_.makeSource(kind, &cancelFlag_);
    ImageSource* source = source_.get();

    int result = 0;
    bool cancelled = false;
    {
        ScanSession scan(cancelFlag_);
        shell().setWaitCursor(true);
        const int subfoldersOnly = soundPresent_;
        std::function<long long()> progress;
        if (services_.filesFound) {
            progress = [this, source] { return services_.filesFound(*source); };
        }
        scan.start(
            [source, folder, subfoldersOnly] { return source->openFolder(folder, subfoldersOnly); },
            progress);
        shell().runSearchingDialog(scan);
        // A dialog that closed for another reason than the scan's end or Cancel (the program
        // is ending) must not leave the worker scanning a folder nobody waits for.
        if (shuttingDown_)
            scan.cancel();
        result = scan.join();
        cancelled = scan.cancelled();
        shell().setWaitCursor(false);
    }
    // The scan is over and nothing below pumps messages: the redraws that follow must paint the
    // new recording, which the view refuses to do while an open is under way.
    busyOpening_ = 0;

    if (cancelled) {
        discardRecording();
        // Nothing of the abandoned recording stays open, its sound track included.
        closeSoundTrack();
        panel().updateSoundControls(kindJp2Mp3_, false);
        view().resetView();
        panel().showChannelIndicators(1);
        view().redrawView();
        panel().blankDisplays();
    } else if (result == 1) {
        lastOpenFolder_ = folder;
        panel().setPositionRange(source_->count());
        Last(false);
        First(true);
        view().resetView();
        panel().showChannelIndicators(1);
        view().redrawView();
        panel().refreshDisplays();
    } else {
        // The scan found no frames: the slider and texts of the recording before must go too.
        panel().setPositionRange(source_->count());
        view().redrawView();
        panel().blankDisplays();
    }
    if (!cancelled && source_) {
        const std::vector<std::string> parts = services_.unreadableParts(*source_);
        if (!parts.empty())
            shell().reportUnreadableParts(folder, parts);
    }
    shell().updateCommandUi();
    if (cancelled)
        return finishOpen(folder, OpenOutcome::Cancelled);
    if (result != 1 || !source_ || source_->count() <= 0) {
        return finishOpen(
            folder, soundPresent_ != 0 ? OpenOutcome::NoFramesInSubfolders : OpenOutcome::NoFrames);
    }
    return finishOpen(folder, OpenOutcome::Opened);
}

bool CKorvexDoc::finishOpen(const std::string& folder, OpenOutcome outcome) {
    lastOpenOutcome_ = outcome;
    shell().openFinished(folder, outcome);
    return outcome == OpenOutcome::Opened;
}

// ---- Navigation ----

int CKorvexDoc::Next(bool redraw) {
    if (!source_ || source_->currentIndex() + 1 >= source_->count())
        return 0;
    source_->forward(1);
    load();
    redrawAndRefresh(redraw);
    return 1;
}

int CKorvexDoc::Previous(bool redraw) {
    if (!source_ || source_->currentIndex() <= 0)
        return 0;
    source_->back(1);
    load();
    redrawAndRefresh(redraw);
    return 1;
}

int CKorvexDoc::First(bool redraw) {
    if (!source_ || source_->count() <= 0)
        return 0;
    source_->first();
    load();
    if (soundPresent_ && sound_)
        sound_->seekSoundStart();
    redrawAndRefresh(redraw);
    return 1;
}

int CKorvexDoc::Last(bool redraw) {
    if (!source_)
        return 0;
    source_->last();
    load();
    if (soundPresent_ && sound_)
        sound_->seekSoundEnd();
    redrawAndRefresh(redraw);
    return 1;
}

int CKorvexDoc::SetPosition(int index) {
    if (!source_)
        return 0;
    source_->setCurrent(index);
    load();
    return 1;
}

void CKorvexDoc::OnPositionScrolled(int sliderPosition) {
    // A slider whose range outlived its recording names no frame.
    if (!source_ || sliderPosition < 1 || sliderPosition > source_->count())
        return;
    SetPosition(sliderPosition - 1);
    view().redrawView();
    panel().refreshDisplays();
}

// ---- The forward loop ----

int CKorvexDoc::PlayForward() {
    if (!source_ || shuttingDown_)
        return 0;
    const std::uint64_t generation = generation_;
    playingForward_ = 1;
    panel().updateData();
    shell().disableClose();

    std::uint32_t t0 = clock_->nowMs();
    const bool soundMode =
        panel().soundWanted(kindJp2Mp3_) && soundPresent_ == 1 && singlePane() && sound_ != nullptr;
    const std::uint32_t base = source_->offsetAt(0);
    int step = 1;
    if (soundMode) {
        panel().setControlEnabled(ctl::speed, false);
        if (singlePane())
            panel().setControlEnabled(ctl::volume, true);
    } else {
        panel().setControlEnabled(ctl::speed, true);
        panel().setControlEnabled(ctl::volume, false);
        step = SpeedStep(speedPosition());
    }
    bool first = true;
    std::uint32_t t1 = clock_->nowMs();

    std::uint32_t deadline = 0;
    std::uint32_t lastPos = 0;
    if (source_->currentIndex() + step < source_->count()) {
        if (soundMode) {
            const int c = source_->currentIndex();
            const std::uint32_t at = source_->offsetAt(c) - base;
            t0 = t0 - at;
            deadline = source_->offsetAt(c + step) + (t0 - base);
            lastPos = sound_->soundLength();
            t1 = clock_->nowMs();
            if (lastPos > at)
                sound_->playFrom(at, panel().soundTwoChannel(kindJp2Mp3_));
            lastPos = sound_->soundPosition();
        } else {
            deadline = t0 + SpeedInterval(speedPosition());
        }

        while (sameRecording(generation) && source_->currentIndex() + 1 < source_->count()) {
            if (!pump() || stopRequest_ != 0 || !sameRecording(generation))
                break;
            const std::uint32_t now = first ? t1 : clock_->nowMs();
            first = false;
            if (!isAfter(deadline, now)) {
                if (soundMode && isAfter(now, deadline)) {
                    // Frames whose time has already passed are skipped to catch up with the
                    // sound. The clock counts from the first frame; the source's offsets are
                    // its own, which need not start at 0.
                    step = source_->findByOffset(now - t0 + base) -
                           source_->findByOffset(deadline - t0 + base);
                    if (step < 1)
                        step = 1;
                }
                const int n = source_->currentIndex() + step;
                if (n >= source_->count())
                    break;
                if (source_->forward(step))
                    LoadCurrentPicture(soundMode ? 1 : 0);
                else
                    freePicture();
                if (soundMode) {
                    // When the sound lags behind the picture, the picture clock is held back by
                    // the lag; it is never moved earlier.
                    const std::uint32_t t = source_->offsetAt(n) - base;
                    const std::uint32_t p = sound_ ? sound_->soundPosition() : lastPos;
                    if (p != lastPos) {
                        lastPos = p;
                        if (p < t)
                            t0 += t - p;
                    }
                }
                view().redrawView();
                panel().refreshDisplays();
                if (soundMode) {
                    step = 1;
                    if (n + 1 >= source_->count())
                        break;
                    deadline = source_->offsetAt(n + 1) + t0 - base;
                } else {
                    step = SpeedStep(speedPosition());
                    panel().updateData();
                    deadline = now + SpeedInterval(speedPosition());
                }
            }
            if (stopRequest_ != 0)
                break;
            clock_->yieldUntil(deadline);
        }
    }

    if (soundMode && sound_) {
        if (stopRequest_ != 0) {
            stopRequest_ = 0;
            sound_->pauseSound();  // halts where it is
        } else {
            sound_->stopSound();  // rewound to its start
        }
    }
    if (resumeForward_ == 0) {
        shell().enableClose();
        reenableAfterForward();
    }
    playingForward_ = 0;
    return 1;
}

void CKorvexDoc::reenableAfterForward() {
    enableControls({ctl::play, ctl::speed, ctl::previous, ctl::next, ctl::reverse}, true);
    if (soundPresent_)
        enableControls({ctl::sound, ctl::channel1, ctl::channel2, ctl::volume}, true);
}

// ---- The reverse loop ----

int CKorvexDoc::PlayReverse() {
    if (!source_ || shuttingDown_)
        return 0;
    const std::uint64_t generation = generation_;
    playingReverse_ = 1;
    panel().updateData();
    shell().disableClose();

    while (sameRecording(generation) && source_->currentIndex() >= 0) {
        if (!pump() || !sameRecording(generation))
            break;
        if (stopRequest_ != 0) {
            stopRequest_ = 0;
            break;
        }
        const std::uint32_t t0 = clock_->nowMs();
        const int step = SpeedStep(speedPosition());
        if (source_->currentIndex() - step < 0)
            break;
        if (source_->back(step))
            LoadCurrentPicture(0);
        else
            freePicture();
        if (stopRequest_ == 0) {
            view().redrawView();
            panel().refreshDisplays();
            // The rest of the interval is waited for with the message pump running, so that
            // Stop and the sliders answer at once even at one frame per second.
            const std::uint32_t deadline = t0 + SpeedInterval(speedPosition());
            while (isAfter(deadline, clock_->nowMs()) && stopRequest_ == 0) {
                if (!pump())
                    break;
                if (stopRequest_ != 0 || !sameRecording(generation))
                    break;
                clock_->yieldUntil(deadline);
            }
        }
        if (stopRequest_ != 0) {
            stopRequest_ = 0;
            break;
        }
    }

    if (resumeReverse_ == 0) {
        shell().enableClose();
        reenableAfterReverse();
    }
    playingReverse_ = 0;
    return 1;
}

void CKorvexDoc::reenableAfterReverse() {
    enableControls({ctl::play, ctl::next, ctl::previous, ctl::reverse}, true);
    if (soundPresent_)
        enableControls({ctl::sound, ctl::channel1, ctl::channel2, ctl::volume}, true);
}

// ---- Panel intents ----

void CKorvexDoc::OnPlayPressed() {
    if (shuttingDown_)
        return;
    if (playingForward_ != 0) {
        // The loop this press replaces is still unwinding (a resume that arrived inside its
        // message pump): press again once it has returned, rather than nest a second loop.
        panel().postToPanel(ctl::play);
        return;
    }
    enableControls({ctl::stop, ctl::reverse}, true);
    enableControls({ctl::play, ctl::previous, ctl::next, ctl::sound, ctl::channel1, ctl::channel2},
                   false);
    if (playingReverse_ != 0) {
        StopAction();
        panel().postToPanel(UM_RESTART_PLAY);
    } else {
        resumeForward_ = 0;
        stopRequest_ = 0;
        if (PlayForward() == 0) {
            // Nothing to play: give the panel back at once.
            reenableAfterForward();
        }
        stopRequest_ = 1;
    }
    panel().setControlEnabled(ctl::stop, false);
    shell().updateCommandUi();
}

void CKorvexDoc::OnReversePressed() {
    if (shuttingDown_)
        return;
    if (playingReverse_ != 0) {
        panel().postToPanel(ctl::reverse);
        return;
    }
    enableControls({ctl::stop, ctl::play}, true);
    enableControls({ctl::reverse, ctl::previous, ctl::next, ctl::sound, ctl::channel1,
                    ctl::channel2, ctl::volume},
                   false);
    if (playingForward_ != 0) {
        StopAction();
        panel().postToPanel(UM_RESTART_REVERSE);
    } else {
        resumeReverse_ = 0;
        stopRequest_ = 0;
        if (PlayReverse() == 0)
            reenableAfterReverse();
        stopRequest_ = 1;
    }
    panel().setControlEnabled(ctl::stop, false);
    shell().updateCommandUi();
}

void CKorvexDoc::StopAction() {
    stopRequest_ = 1;
    panel().setControlEnabled(ctl::stop, false);
    enableControls({ctl::play, ctl::next, ctl::previous, ctl::reverse}, true);
    if (kindJp2Mp3_ && soundPresent_)
        enableControls({ctl::channel1, ctl::channel2}, true);
}

// ---- Channel changes ----

void CKorvexDoc::SuspendForChannelChange() {
    resumeForward_ = 0;
    if (playingForward_ != 0) {
        stopRequest_ = 1;
        resumeForward_ = 1;
    }
    resumeReverse_ = 0;
    if (playingReverse_ != 0) {
        stopRequest_ = 1;
        resumeReverse_ = 1;
    }
}

void CKorvexDoc::ResumeAfterChannelChange() {
    if (resumeForward_ != 0)
        panel().postToPanel(ctl::play);
    if (resumeReverse_ != 0)
        panel().postToPanel(ctl::reverse);
}

int CKorvexDoc::SelectChannels(int channel, int paneCount, int* paneChannelRow) {
    if (!source_)
        return 0;
    SuspendForChannelChange();
    const int k = source_->infoIndexOf(-1);
    if (source_->selectChannels(channel, paneCount, paneChannelRow) == 0) {
        // Playback stays suspended, but as a Stop leaves it: a loop that ended for a resume
        // that never comes would keep Close and Play disabled.
        resumeForward_ = 0;
        resumeReverse_ = 0;
        return 0;
    }
    source_->firstFrameOf(channel);
    panel().setPositionRange(source_->count());
    First(false);
    Last(false);

    int target = k;
    if (paneCount != 1) {
        int e = -9;
        if (paneChannelRow != nullptr) {
            for (int i = 0; i < 16; ++i) {
                if (paneChannelRow[i] != -9) {
                    e = paneChannelRow[i];
                    break;
                }
            }
        }
        const int g = playingReverse_ != 0 ? source_->nearestOfChannelBackward(e, k)
                                           : source_->nearestOfChannelForward(e, k);
        target = source_->indexOfInfoIndex(g);
    } else if (channel != -1) {
        target = source_->indexOfInfoIndex(source_->nearestOfChannelForward(channel, k));
    }
    SetPosition(target);
    panel().setPosition(target);
    view().redrawView();
    panel().refreshDisplays();
    ResumeAfterChannelChange();
    shell().updateCommandUi();
    return 1;
}

}  // namespace korvex
