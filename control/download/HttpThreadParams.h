#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "control/buffers/StopOrder.h"

namespace platform {
class Event;
}

namespace picvox {

class AudioRing;
class FrameQueue;
class WaveSaveQueue;
class DiskOps;

// What the fetchers call on from the rest of the download engine: the sound ring, the save
// start and the sound cache. The download thread supplies the real implementation.
class FetchHooks {
public:
    virtual ~FetchHooks() = default;
    // Milliseconds of sound the AudioRing holds (bytes held / bytes per millisecond).
    virtual int audioRingBufferedMs() = 0;
    // The save set-up, run once the sound cache is full; may rewrite the caller's play slot.
    virtual void saveSetup(int pictureSlot, int soundSlot, int* playSlot) = 0;
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

// The outcome of a save run, as the main thread reports it.
// The page's hdd_save values: 0 plays only, 1 saves what plays (or pictures only, with a picture
// interval), 2 downloads a recorded stretch frame by frame, then its sound and INF files.
enum HddSave : int {
    kHddSaveNone = 0,
    kHddSaveRun = 1,
    kHddSaveDownload = 2,
};

enum SaveResult : int {
    kSaveNone = 0,
    kSaveComplete = 1,
    kSaveDiskFull = 2,
    kSaveDiskError = 3,
    kSaveDownloadFailure = 5,
};

// How the cache orders its slot files. Slots are ordered by creation time; where the file system
// keeps no birth time, the modification time stands in (every in-place rewrite of a slot file
// puts it back). ModificationTime forces the stand-in.
enum class SlotClock { BirthTime, ModificationTime };

// The download thread's record. The main process thread fills it before the thread starts and
// reads `result`, `extraCode`, `firstSoundTime` and `detailText` after the thread has ended.
struct HttpThreadParams {
    std::string locationBase;  // directory part of the page's Location, ending in "/"
    std::string waveUrl;       // WaveFileURL
    std::string firstWaveUrl;  // InitWaveFileURL or WaveFileURL, as Start chose
    std::string imageUrl;      // ImageFileURL
    std::string infUrl;        // DL_InfFileURL
    int cacheTimeMs = 0;
    int waveRequestIntervalMs = 0;
    int hddSave = 0;  // 0 play only, 1 play and save, 2 save only with download
    int pictureIntervalMs = 0;
    int saveSetupDone = 0;
    bool saveWithSound = false;       // hddSave non-zero and pictureIntervalMs 0
    int downloadCount = 0;            // frames handled in this run
    std::int64_t firstSoundTime = 0;  // calendar time of the first sound answer
    int* extraCode = nullptr;         // receives an HTTP status of 400 or above
    int result = kSaveNone;           // a SaveResult
    const StopOrder* stopOrder = nullptr;
    std::string tempFolder;
    // Without hooks, the ring counts as full and a received sound segment stays in its
    // temporary file for the caller.
    FetchHooks* hooks = nullptr;

    // Page properties the saver uses.
    std::string delimiter;  // first character separates the date fields of frame times
    int timestampOrder = 0;
    int saveTime = 0;         // seconds a picture-only save may last
    std::string destination;  // the run folder (or the destination itself without one)
    int runNumber = 0;
    std::string model = "TRM";

    // Save-start state, reset per run.
    int firstAddMs = 0;  // milliseconds the run's first AddImageData took
    int catchUpDone = 0;
    int blackTimeSet = 1;  // 0: the black picture in slot 0 still waits for its timing
    int droppedSlot = 0;
    int saveSeqIndex = 0;  // next picture slot to copy into the recording
    int waveSaveIndex = 0;

    int j2kErrorCount = 0;
    int beginLogged = 0;
    std::string detailText;  // date text of the last frame read for saving

    // Shared with the other threads of the run; each locks itself or is atomic.
    FrameQueue* frameQueue = nullptr;
    AudioRing* audioRing = nullptr;          // none in picture-only saving
    WaveSaveQueue* waveSaveQueue = nullptr;  // only with saveWithSound
    PlayerSlot* player = nullptr;
    std::array<std::uint8_t, 18> waveFormat{};  // the last sound format met
    platform::Event* playerReady = nullptr;     // set once the player exists
    platform::Event* soundQueued = nullptr;     // set when the save set-up has queued its sound
    platform::Event* receiving = nullptr;
    platform::Event* endOrder = nullptr;
    platform::Event* endNotice = nullptr;
    const std::atomic<int>* writerDone = nullptr;  // non-zero once the WAV writer has ended
    std::atomic<int>* stopBeforePlay = nullptr;
    const std::atomic<int>* soundPlaying = nullptr;

    // How slot files are ordered, and the disk the recording is written through (null: the
    // real one). Tests choose both.
    SlotClock slotClock = SlotClock::BirthTime;
    DiskOps* disk = nullptr;
};

}  // namespace picvox
