#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "control/run/MainProcess.h"
#include "platform/Worker.h"

namespace picvox {

// One control's run: Start prepares the cache and starts the main process thread, Stop orders
// its end and waits for it. The control object owns one and forwards its methods; the engine
// reaches the control only through RunControl.
class RunEngine {
public:
    explicit RunEngine(RunControl& control);
    ~RunEngine();
    RunEngine(const RunEngine&) = delete;
    RunEngine& operator=(const RunEngine&) = delete;

    // The part of Start between the properties and the page: the cache folder, the initial
    // sound URL, the cache preparation in Live mode and the main process thread. False when no
    // thread was started (one already runs, or the cache could not be prepared).
    bool start(const RunSettings& settings);
    // Orders the end of a running main process thread and waits for it; forgets the cache
    // folder.
    void stop();

    bool running() const { return running_.load(); }
    // True while the sound loop of the run plays.
    bool soundPlaying() const { return params_.soundPlaying.load() != 0; }
    // The cache folder Start chose (empty after Stop).
    std::string tempFolder() const;

    // Test switches, applied at the next start.
    std::function<std::optional<std::string>()> tempFolderSource;  // default GetInetTempFolder
    SlotClock slotClock = SlotClock::BirthTime;
    DiskOps* disk = nullptr;
    WaveOutputFile* waveFile = nullptr;
    std::string trustStorePath;  // default: the per-user store

private:
    RunControl& control_;
    MainThreadParams params_;
    std::atomic<std::int32_t> writerDone_{0};
    std::atomic<std::int32_t> stopBeforePlay_{0};
    std::atomic<bool> running_{false};
    // Its stop event is the run's end order; its end notice the main process thread's.
    platform::Worker main_;
};

// One trailing "/" or "\" removed ("C:\" becomes "C:", "/" the empty text).
std::string TrimDestination(std::string destination);

}  // namespace picvox
