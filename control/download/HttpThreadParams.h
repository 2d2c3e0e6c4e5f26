#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "control/buffers/StopOrder.h"
#include "control/download/DiskOps.h"
#include "control/download/RunMode.h"
#include "control/download/SaveResult.h"

namespace platform {
class Event;
}

namespace picvox {

class AudioRing;
class FrameQueue;
class RecorderAccess;
class WaveSaveQueue;

// What the fetchers call on from the rest of the download engine: the sound ring, the save
// start and the sound cache. The download thread's cache store is the real implementation.
class FetchHooks {
public:
    virtual ~FetchHooks() = default;
    // Milliseconds of sound held for playing, by the measure that counts now: the sound cache's
    // span less `shortfallMs` until sound plays from the ring, then the ring itself.
    virtual int soundBufferedMs(int shortfallMs) = 0;
    // The save set-up, run once the sound cache is full; may rewrite the caller's play slot.
    virtual void saveSetup(int pictureSlot, int soundSlot, int* playSlot) = 0;
    // Whether the save set-up is still to come (a save with sound whose cache is not full yet).
    virtual bool saveSetupDue() const = 0;
    // StoreWaveSegment: 1 stored and queued, 2 stop seen, 0 failure. Deletes the temporary file.
    virtual int storeWaveSegment(const std::string& tempName, int soundSlot) = 0;
};

// The slot that holds the run's sound player. The run engine creates the player in the control's
// window; the download thread asks for it once the first sound format is known and tells the
// main thread through `playerReady`.
class PlayerSlot {
public:
    virtual ~PlayerSlot() = default;
    virtual bool hasPlayer() const = 0;
    // Creates the player for this format (the 18-byte sound format) and keeps it in the slot.
    virtual bool createPlayer(const std::array<std::uint8_t, 18>& format) = 0;
};

// How the cache orders its slot files. Slots are ordered by creation time; where the file system
// keeps no birth time, the modification time stands in (every in-place rewrite of a slot file
// puts it back). ModificationTime forces the stand-in.
enum class SlotClock { BirthTime, ModificationTime };

// Where the cache lives: "<folder>/J2K2" and "<folder>/WAVE2".
struct CacheLocation {
    std::string folder;
    SlotClock clock = SlotClock::BirthTime;
};

// What the fetchers need: the recorder's URLs (read from the page before each fetch), the timing
// settings and the run's mode.
struct FetchSettings {
    std::string locationBase;  // directory part of the page's Location, ending in "/"
    std::string waveUrl;       // WaveFileURL
    std::string firstWaveUrl;  // InitWaveFileURL or WaveFileURL, as Start chose
    std::string imageUrl;      // ImageFileURL
    std::string infUrl;        // DL_InfFileURL
    int cacheTimeMs = 0;
    int waveRequestIntervalMs = 0;
    int pictureIntervalMs = 0;  // jpeg2000_interval: the save-only loop's period
    RunMode mode;
};

// Where and how a save writes its recording.
struct SaveTarget {
    std::string folder;  // the run folder
    int runNumber = 0;
    std::string model = "TRM";
    std::string delimiter;  // first character separates the date fields of frame times
    int timestampOrder = 0;
    int saveTime = 0;  // seconds a save lasts
    // The disk the recording is written through; null: the real one. Tests choose it.
    DiskOps* disk = nullptr;
    // The run's SHA256SUMS, which every frame joins once it is whole on the disk; null: none.
    korvex::manifest::Appender* manifest = nullptr;
};

// The buffers, events and flags the download thread shares with the other threads of the run;
// each locks itself or is atomic.
struct RunShared {
    FrameQueue* frameQueue = nullptr;
    AudioRing* audioRing = nullptr;          // none in picture-only saving
    WaveSaveQueue* waveSaveQueue = nullptr;  // only when saving sound
    PlayerSlot* player = nullptr;
    platform::Event* playerReady = nullptr;        // set once the player exists
    platform::Event* soundQueued = nullptr;        // set when the save set-up has queued its sound
    platform::Event* receiving = nullptr;          // set whenever the sound cache is full
    platform::Event* endOrder = nullptr;           // the run's end order (manual reset)
    const std::atomic<int>* writerDone = nullptr;  // non-zero once the WAV writer has ended
    std::atomic<int>* stopBeforePlay = nullptr;
    const std::atomic<int>* soundPlaying = nullptr;
};

// What the download thread leaves for the main process thread, which reads it after the thread
// has ended.
struct DownloadProgress {
    SaveResult result = SaveResult::None;
    std::string detailText;  // date text of the last frame read for saving
    int downloadCount = 0;   // frames handled in this run
    int j2kErrorCount = 0;
    int savedFrames = 0;
    std::uint64_t droppedSoundMs = 0;  // sound the ring had no room for
    bool formatChanged = false;        // the recorder's sound format changed during the run
    // Why the run failed, in words for the end-of-run message (empty: nothing to add), and what
    // went wrong with the last picture that could not be fetched.
    std::string failure;
    std::string pictureFailure;
    bool beginLogged = false;
    std::int64_t firstSoundTime = 0;  // calendar time of the first sound answer
    FolderSync folderSync;            // the saved frames' folder entries
};

// The download thread's record: one part for each of its users.
struct HttpThreadParams {
    FetchSettings fetch;
    CacheLocation cache;
    SaveTarget save;
    RunShared shared;
    DownloadProgress progress;
    const StopOrder* stopOrder = nullptr;
    std::string tempTag;  // makes the thread's temporary file names its own (NewTempTag)
    // Without hooks, the ring counts as full and a received sound segment stays in its
    // temporary file for the caller.
    FetchHooks* hooks = nullptr;
    // The run's logins and trusted certificates; null: a recorder that asks for either fails.
    RecorderAccess* access = nullptr;

    bool stopped() const { return stopOrder && stopOrder->isSet(); }
};

}  // namespace picvox
