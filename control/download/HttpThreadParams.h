#pragma once

#include <cstdint>
#include <string>

#include "control/buffers/StopOrder.h"

namespace picvox {

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

// The download thread's record, as far as the fetchers use it. The main process thread fills
// it before the thread starts and reads `result`, `extraCode` and `firstSoundTime` after the
// thread has ended.
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
    int result =
        0;  // SaveResult: 0 none, 1 complete, 2 disk full, 3 disk error, 5 download failure
    const StopOrder* stopOrder = nullptr;
    std::string tempFolder;
    // Without hooks, the ring counts as full and a received sound segment stays in its
    // temporary file for the caller.
    FetchHooks* hooks = nullptr;
};

}  // namespace picvox
