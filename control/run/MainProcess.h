#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "control/buffers/AudioRing.h"
#include "control/buffers/FrameQueue.h"
#include "control/download/HttpThreadParams.h"
#include "control/download/RunMode.h"
#include "control/download/SaveResult.h"
#include "control/run/DxsPlayer.h"
#include "control/run/PageCounter.h"
#include "control/run/PagePort.h"
#include "control/run/WaveWriter.h"
#include "platform/Event.h"
#include "platform/Worker.h"

namespace picvox {

class DiskOps;

// The control's texts the run reads when it uses them, so that a page changing a URL or a
// message while the run goes on is followed.
enum class RunText {
    WaveFileUrl,
    InitWaveFileUrl,
    ImageFileUrl,
    InfFileUrl,
    LocationBase,
    Destination,
    Model,
    DiskFullMsg,
    CompleteMsg,
    ErrorMsg,
    AbsoluteTime,
};

// What the run needs of the control object. Every call may come from any of the run's threads;
// texts are read and written under the control's property lock.
class RunControl {
public:
    virtual ~RunControl() = default;
    virtual std::string text(RunText which) const = 0;
    virtual void setText(RunText which, const std::string& value) = 0;
    virtual void setSaveComplete(std::int32_t value) = 0;
    virtual run::PagePort& page() = 0;
    virtual run::PageCounter& pageCounter() = 0;
    // The lock the FrameQueue and painting share, and where the queue asks for repaints.
    virtual std::mutex& controlLock() = 0;
    virtual RepaintTarget* repaintTarget() = 0;
    // The queue painting reads; null when none.
    virtual void setFrameQueue(std::shared_ptr<FrameQueue> queue) = 0;
    // Starts the waiting animation on `worker`; false when it cannot.
    virtual bool startAnimation(platform::Worker& worker, int maskHeight) = 0;
};

// The sound player of one run: made by the download thread once the first sound format is
// known, used by every pass, released when the run ends.
class RunPlayerSlot final : public PlayerSlot {
public:
    explicit RunPlayerSlot(std::uint64_t window) : window_(window) {}
    bool hasPlayer() const override;
    bool createPlayer(const std::array<std::uint8_t, 18>& format) override;
    // The player and the format it was made for; null before createPlayer succeeded.
    DxsPlayer* player(platform::WaveFormat* format = nullptr) const;
    void release();

private:
    mutable std::mutex lock_;
    std::uint64_t window_;
    std::unique_ptr<DxsPlayer> player_;
    platform::WaveFormat format_;
};

// The properties Start copies into the run's parameter block.
struct RunSettings {
    std::int32_t cacheTimeMs = 0;
    std::int32_t waveRequestIntervalMs = 0;
    std::int32_t maskHeight = 0;
    std::int32_t pictureInterval = 0;
    std::int32_t saveTime = 0;
    std::int32_t timestampOrder = 0;
    std::string delimiter = "-";
    std::int32_t destinationSW = 0;
    std::int32_t counterSW = 0;
    std::int32_t hddSave = 0;
};

// The parameter block of one run, filled by Start from the control's properties. Texts that the
// page may change meanwhile are read through `control` when used.
struct MainThreadParams : RunSettings {
    RunMode mode;
    // firstWaveUrl: InitWaveFileURL when set, else WaveFileURL (Start's choice).
    bool firstWaveIsInit = true;
    std::string tempFolder;

    RunControl* control = nullptr;
    platform::Event* endOrder = nullptr;  // manual reset, set by Stop
    std::atomic<std::int32_t>* writerDone = nullptr;
    std::atomic<std::int32_t>* stopBeforePlay = nullptr;
    std::atomic<std::int32_t> soundPlaying{0};
    std::atomic<bool>* running = nullptr;
    std::optional<std::string> chosenFolder;

    // Test switches: the order of cache slots, the disk the recording is written through, the
    // sound file of the writer, and the longest wait for the writer's last clip (-1 none).
    SlotClock slotClock = SlotClock::BirthTime;
    DiskOps* disk = nullptr;
    WaveOutputFile* waveFile = nullptr;
    // Where trusted certificates are kept; empty: the per-user store.
    std::string trustStorePath;
};

// The download thread of one pass with everything it owns. The worker is declared last, so it
// is stopped before anything it uses goes away.
struct HttpThreadContext;

// The settings check of a run: the first setting out of range gives the result, and the reason
// names it ("CacheTime 0 is outside 2000..30000").
struct SettingsVerdict {
    SaveResult result = SaveResult::None;
    std::string reason;
    bool ok() const { return result == SaveResult::None; }
};
SettingsVerdict CheckRunSettings(const RunSettings& settings, const RunMode& mode,
                                 const RunControl& texts);
// Whether `text` may stand in a folder name made inside the destination (the model): no path
// separator, no "..", no control character, at most kMaxModelBytes.
inline constexpr std::size_t kMaxModelBytes = 64;
bool IsFolderNamePart(const std::string& text);
// Where a save makes its run folder: the destination property, with the Windows default ("C:\",
// which Start trims to "C:") and an empty one standing for the home folder, and a relative one
// taken inside the home folder.
std::string SaveDestination(const std::string& destination);

// What one pass of the main process thread came to.
struct PassOutcome {
    bool downloadStarted = false;
    // The download thread's result, or the sound loop's when the ring ran dry in a save.
    SaveResult downloadResult = SaveResult::None;
    bool writerStarted = false;
    WaveWriteResult writerResult = WaveWriteResult::None;
    bool endOrdered = false;
    std::string detail;   // the date text of the last frame saved
    std::string failure;  // why the download thread failed, in words (empty: nothing to add)
    int savedFrames = 0;
    bool formatChanged = false;  // the recorder's sound format changed: the player must go
    bool played = false;         // sound played (a Live pass that did not failed)
};
// The result a pass that ended by itself reports in a save mode: the download thread's failure
// first, then the writer's result (a picture save, which has no writer, is complete), and a
// download failure when nothing could be started. A recording without a single frame is no
// recording a viewer opens: that save is not complete either.
SaveResult PassResult(const PassOutcome& pass, const RunMode& mode);

// The main process thread's body: set-up, the passes, the wrap-up (see the .cpp).
void MainProcessThread(MainThreadParams& params);

// Shows the message of `code` (with `detail` under it) and sets SaveComplete.
void ReportSaveResult(SaveResult code, const std::string& detail, MainThreadParams& params);
// Orders `worker` to end, waits for it without a time limit and joins it; `name` is logged.
bool StopWorkerThread(platform::Worker& worker, const char* name);
// Waits up to `ms`; true when the time ran out, false when the end was ordered (or, in a save
// with sound, the writer ended, or the download thread being waited for ended).
bool WaitOrStop(int ms, const MainThreadParams& params, platform::Event* writerEnded,
                platform::Event* downloadEnded = nullptr);
// Milliseconds of sound still missing from the cache, by the span of the sound slots' times.
int CacheShortfall(int cacheMs, const std::string& baseFolder,
                   SlotClock clock = SlotClock::BirthTime);
bool HasCachedWave(const std::string& baseFolder);
// Whether the newest cached sound slot was written more than `maxAgeMs` before now (false when
// there is none). Material that old belongs to another stretch of the recorder's time.
bool SoundCacheIsStale(const std::string& baseFolder, int maxAgeMs);
// The recorder a cache was filled from ("<location>\n<sound URL>"), kept beside the cache
// folders. A run continues a cache only when it is continuous with what the recorder sends
// next: the same source, and its newest sound slot no older than `maxAgeMs`.
bool CacheContinues(const std::string& baseFolder, const std::string& source, int maxAgeMs);
void WriteCacheSource(const std::string& baseFolder, const std::string& source);
// Empties and re-creates the cache folders; false (logged) when they cannot be made.
bool PrepareCacheFolders(const std::string& baseFolder);
// Creates the cache folders that are missing, keeping what they hold (the save modes continue
// from the cache of an earlier run). False when they cannot be made.
bool EnsureCacheFolders(const std::string& baseFolder);
// The resource check; on Linux there is no resource library, so it passes.
bool CheckSystemResources();

}  // namespace picvox
