#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "control/buffers/WaveSaveQueue.h"
#include "platform/Event.h"
#include "platform/Worker.h"

namespace picvox {

// How a save run's sound writer ended; the main process thread turns it into the run's result.
enum class WaveWriteResult : std::int32_t {
    None = 0,
    SaveTimeReached = 1,
    DiskFull = 2,
    OtherError = 3,
    EndedOnOrder = 4,
};

// What the writer needs of the control's window. The run engine connects it to the page
// counter's timers, which run on the page's thread; calls come from the writer thread.
class CounterTimers {
public:
    virtual ~CounterTimers() = default;
    virtual bool hasWindow() = 0;
    // Once the cached sound is written, the counter of written seconds (timer 101) gives way to
    // the counter of real seconds (timer 102). False when the counter was no longer 101's (Stop
    // or the end-of-run report killed it meanwhile): nothing is set then.
    virtual bool switchToSecondsTimer() = 0;
};

// The writer's file operations; each returns 0 or the system error number. The real one works
// on one descriptor; tests put a failing one in its place.
class WaveOutputFile {
public:
    virtual ~WaveOutputFile();
    // Removes whatever is at `path` and creates an empty file there.
    virtual int create(const std::string& path);
    // Opens the existing file for writing.
    virtual int open(const std::string& path);
    virtual int seek(std::uint64_t offset);
    virtual int seekEnd(std::uint64_t& size);
    // All `n` bytes or an error.
    virtual int write(const std::uint8_t* bytes, std::size_t n);
    virtual int truncate(std::uint64_t size);
    // Data and size on disk before the call returns.
    virtual int sync();
    virtual int close();

private:
    int fd_ = -1;
};

// The system errors that mean "disk full".
bool IsDiskFullError(int osError);

// What the main process thread hands the writer at the start of a pass. The pointers belong to
// the parameter block and must outlive the writer.
struct WaveWriterParams {
    std::string waveUrl;      // WaveFileURL; only checked for a usable file name
    std::string destination;  // the save-run folder
    std::int32_t saveTime = 0;
    std::int32_t cacheTimeMs = 0;
    std::atomic<std::int32_t>* counterValue = nullptr;
    std::atomic<std::int32_t>* timerId = nullptr;
    std::atomic<std::int32_t>* writerDone = nullptr;
    platform::Event* countDone = nullptr;
    CounterTimers* timers = nullptr;  // null: no window, the counter is only counted
    WaveOutputFile* file = nullptr;   // null: the real file
};

// Clips a queue of a long cache time holds at most; more only wastes memory, the writer keeps
// pace by polling.
constexpr std::size_t kMaxWaveQueueSlots = 300000;

// The writer's state for one pass; the main process thread owns it. The worker is the last
// member, so it is stopped and joined before anything it uses goes away.
struct WaveWriterContext {
    std::atomic<std::int32_t>* counterValue = nullptr;
    std::atomic<std::int32_t>* timerId = nullptr;
    std::atomic<std::int32_t>* writerDone = nullptr;
    platform::Event* countDone = nullptr;
    CounterTimers* timers = nullptr;
    std::int32_t saveTime = 0;
    std::int32_t cacheTimeMs = 0;
    std::string outputPath;
    std::atomic<WaveWriteResult> result{WaveWriteResult::None};
    std::unique_ptr<WaveSaveQueue> queue;
    WaveOutputFile* file = nullptr;
    std::unique_ptr<WaveOutputFile> ownFile;
    platform::Worker worker;

    // The end notice the main process thread waits for together with its end order.
    platform::Event& writerEnded() { return worker.endNotice(); }
};

// Creates the clip queue (cacheTimeMs x 5 slots), fills the context and starts the writer thread.
// False, with nothing left running, when any of it fails or a writer of this context still runs.
bool StartWaveWriter(WaveWriterContext& context, const WaveWriterParams& params);
// The thread body: appends the queued clips to sound.wav until the save time is reached, an
// error occurs or `stop` is set, keeping the file a complete WAV file after every clip.
int WaveWriteThread(WaveWriterContext& context, platform::Event& stop);
// Ends the writer if it still runs, frees the clips still queued and deletes the queue.
void CleanupWaveSaveQueue(WaveWriterContext& context);

// Seconds the page counter gains for `bytes` of sound: whole seconds, one more when the
// remainder is more than half a second; 0 without a rate.
std::int32_t CounterSeconds(std::uint32_t bytes, std::uint32_t avgBytesPerSec);

}  // namespace picvox
