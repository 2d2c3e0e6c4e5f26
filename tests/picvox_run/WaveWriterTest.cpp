// The save run's sound writer on real files in scratch folders.
#include "control/run/WaveWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "control/run/PageCounter.h"
#include "tests/support/Files.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace picvox {
namespace {

using korvex::test::TempDir;

constexpr auto kSoundTimer = static_cast<std::int32_t>(run::kSoundWriteTimerId);
constexpr auto kSecondsTimer = static_cast<std::int32_t>(run::kSaveSecondsTimerId);

constexpr std::uint32_t kRate = 8000;  // bytes per second: 8 kHz, mono, 8 bits
constexpr const char* kChildEnv = "PICVOX_WAVE_WRITER_CHILD";

std::uint8_t sampleAt(std::uint64_t i) {
    return static_cast<std::uint8_t>(i * 31 + 7);
}

// A clip of `bytes` samples continuing the pattern at `offset`; `fmtBytes` 16 or 18.
WavClip makeClip(std::uint32_t bytes, std::uint64_t offset = 0, std::uint32_t fmtBytes = 16) {
    WavClip clip{{1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 0, 0},
                 {},
                 bytes,
                 PlayTimeMs(bytes, kRate),
                 fmtBytes};
    for (std::uint32_t i = 0; i < bytes; ++i)
        clip.data.push_back(sampleAt(offset + i));
    return clip;
}

std::uint32_t le32(const std::string& b, std::size_t at) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(b.data() + at);
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// What a finished sound.wav says of itself, checked against its bytes and against libsndfile.
struct WavOnDisk {
    std::size_t headerBytes = 0;
    std::uint32_t dataBytes = 0;
    std::size_t fileBytes = 0;
};

WavOnDisk inspect(const std::string& path) {
    const std::string file = korvex::test::readText(path);
    WavOnDisk w{0, 0, file.size()};
    if (file.size() < 44) {
        ADD_FAILURE() << "no header";
        return w;
    }
    w.headerBytes = 20 + le32(file, 16) + 8;
    w.dataBytes = le32(file, w.headerBytes - 4);
    EXPECT_EQ(file.compare(w.headerBytes - 8, 4, "data"), 0);
    EXPECT_EQ(le32(file, 4), w.headerBytes - 8 + w.dataBytes);
    EXPECT_LE(w.headerBytes + w.dataBytes, file.size());
    for (std::uint32_t i = 0; i < w.dataBytes && w.headerBytes + i < file.size(); ++i) {
        if (static_cast<std::uint8_t>(file[w.headerBytes + i]) != sampleAt(i)) {
            ADD_FAILURE() << "sample " << i << " differs";
            break;
        }
    }
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(w.dataBytes));
    sf_close(sf);
    return w;
}

// Records -id for a kill and id * 10000 + ms for a set.
// The page counter's switch: 101 gives way to 102 only while 101 is set. Records 1 for a switch
// made, 0 for one refused.
struct FakeTimers : CounterTimers {
    bool hasWindow() override { return window; }
    bool switchToSecondsTimer() override {
        std::int32_t expected = kSoundTimer;
        const bool made = timerId && timerId->compare_exchange_strong(expected, kSecondsTimer);
        record(made ? 1 : 0);
        return made;
    }
    void record(int call) {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(call);
    }
    std::atomic<bool> window{true};
    std::atomic<std::int32_t>* timerId = nullptr;
    std::mutex lock;
    std::vector<int> calls;
};

// Writes through until `budget` bytes have gone out, then what is left of it, and fails with
// `error`, as a filling disk does.
struct FillingFile : WaveOutputFile {
    FillingFile(std::size_t budget, int error) : budget(budget), error(error) {}
    int write(const std::uint8_t* bytes, std::size_t n) override {
        const std::size_t now = std::min(n, budget);
        budget -= now;
        const int e = WaveOutputFile::write(bytes, now);
        return e ? e : now < n ? error : 0;
    }
    std::size_t budget;
    int error;
};

template <class Pred>
bool eventually(Pred pred) {
    // A bound against a hung test only; nothing here measures time.
    for (int i = 0; i < 2000; ++i) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

// What the parameter block lends the writer.
struct Block {
    WaveWriterParams params(const std::string& folder, std::int32_t saveTime, std::int32_t cacheMs,
                            CounterTimers* timers) {
        return {"http://127.0.0.1/cgi/get.wav",
                folder,
                saveTime,
                cacheMs,
                &counterValue,
                &timerId,
                &writerDone,
                &countDone,
                timers,
                nullptr};
    }
    std::atomic<std::int32_t> counterValue{0};
    std::atomic<std::int32_t> timerId{kSoundTimer};
    std::atomic<std::int32_t> writerDone{0};
    platform::Event countDone{platform::Event::Reset::Auto};
};

class WaveWriterTest : public ::testing::Test, protected Block {
protected:
    WaveWriterParams params(std::int32_t saveTime, std::int32_t cacheTimeMs) {
        timers.timerId = &timerId;
        return Block::params(dir.str(), saveTime, cacheTimeMs, &timers);
    }
    void push(std::uint32_t bytes, int count, std::uint32_t fmtBytes = 16) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(context.queue->Push(makeClip(bytes, pushed, fmtBytes)));
            pushed += bytes;
        }
    }
    bool ended() {
        return eventually([&] { return context.writerEnded().isSet(); });
    }
    std::string soundPath() const { return dir.file("sound.wav"); }

    TempDir dir{"wavewriter"};
    FakeTimers timers;
    std::uint64_t pushed = 0;
    WaveWriterContext context;  // last: its writer ends before the rest goes
};

// 30 s at 8000 B/s is 240,000 bytes: 17,000-byte clips reach it inside the fifteenth (cut to
// 2,000 bytes); 16,000-byte clips fill it exactly with the fifteenth, which is not short, so the
// sixteenth is written with 0 bytes and ends the run. Timer 102 runs by then, so the writer waits
// for the counter to show the full time; that wait also ends on the end order and when Stop has
// killed the timer.
TEST_F(WaveWriterTest, SaveTimeCutsTheClipThatReachesIt) {
    enum Release { CountDone, StopOrder, TimerKilled };
    const struct {
        std::uint32_t clipBytes, fmtBytes;
        std::size_t headerBytes, clipsTaken;
        Release release;
    } cases[] = {{17000, 16, 44, 15, CountDone},
                 {16000, 18, 46, 16, StopOrder},
                 {17000, 16, 44, 15, TimerKilled}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        pushed = 0;
        counterValue = 0;
        timerId = kSoundTimer;
        writerDone = 0;
        ASSERT_TRUE(StartWaveWriter(context, params(30, 2000)));
        push(c.clipBytes, 20, c.fmtBytes);
        ASSERT_TRUE(eventually([&] { return writerDone.load() == 1; }));
        EXPECT_EQ(context.result.load(), WaveWriteResult::SaveTimeReached);
        EXPECT_FALSE(context.writerEnded().isSet());
        if (c.release == CountDone)
            countDone.set();
        if (c.release == StopOrder)
            context.worker.orderStop();
        if (c.release == TimerKilled)
            timerId = 0;
        ASSERT_TRUE(ended());
        EXPECT_EQ(countDone.isSet(), c.release == CountDone);  // looked at, left for the report
        const WavOnDisk w = inspect(soundPath());
        EXPECT_EQ(w.headerBytes, c.headerBytes);
        EXPECT_EQ(w.dataBytes, 240000u);
        EXPECT_EQ(w.fileBytes, c.headerBytes + 240000);
        EXPECT_EQ(context.queue->held(), 20 - c.clipsTaken);
        CleanupWaveSaveQueue(context);
        countDone.reset();
    }
}

TEST(WaveWriterCounterTest, SecondsRoundUpOnlyPastHalf) {
    const struct {
        std::uint32_t bytes, avg;
        std::int32_t secs;
    } cases[] = {
        {12000, 8000, 1}, {12001, 8000, 2}, {4000, 8000, 0}, {4001, 8000, 1}, {5000, 0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(CounterSeconds(c.bytes, c.avg), c.secs) << c.bytes;
}

// The counter counts written seconds until it reaches CacheTime / 1000, then timer 102 takes
// over once; the writer stops counting. A sound.wav of an earlier run is replaced.
TEST_F(WaveWriterTest, CounterSwitchesToSecondsTimerOnce) {
    std::ofstream(soundPath(), std::ios::binary) << std::string(100000, 'x');
    ASSERT_TRUE(StartWaveWriter(context, params(100, 5000)));
    push(kRate, 7);
    ASSERT_TRUE(eventually([&] { return context.queue->held() == 0; }));
    ASSERT_TRUE(eventually([&] { return timerId.load() == kSecondsTimer; }));
    context.worker.stop();
    EXPECT_EQ(context.result.load(), WaveWriteResult::EndedOnOrder);
    EXPECT_EQ(counterValue.load(), 5);
    EXPECT_EQ(timers.calls, std::vector<int>{1});
    const WavOnDisk w = inspect(soundPath());
    EXPECT_EQ(w.dataBytes, 7 * kRate);
    EXPECT_EQ(w.fileBytes, 44 + 7 * kRate);
}

// The end order ends the writer while it idles (no file is made) and while it waits for the
// control's window (the clip already appended stays, counted in the header).
TEST_F(WaveWriterTest, StopOrderEndsEveryWait) {
    EXPECT_FALSE(StartWaveWriter(context, params(30, 0)));
    for (int clips : {0, 1}) {
        timers.window = false;
        counterValue = 0;
        ASSERT_TRUE(StartWaveWriter(context, params(30, 2000)));
        EXPECT_FALSE(StartWaveWriter(context, params(30, 2000)));  // one writer per context
        push(kRate, clips);
        ASSERT_TRUE(eventually([&] { return counterValue.load() == clips; }));
        context.worker.orderStop();
        ASSERT_TRUE(ended());
        EXPECT_EQ(context.result.load(), WaveWriteResult::EndedOnOrder);
        EXPECT_EQ(writerDone.load(), 1);
        EXPECT_TRUE(timers.calls.empty());
        ASSERT_EQ(std::filesystem::exists(soundPath()), clips > 0);
        if (clips) {
            EXPECT_EQ(inspect(soundPath()).dataBytes, kRate);
        }
        CleanupWaveSaveQueue(context);
        EXPECT_EQ(context.queue, nullptr);
    }
}

// A failing disk ends the run with the right code and leaves either no file or a complete WAV
// file of the clips written before the failure.
TEST_F(WaveWriterTest, WriteFailuresReportDiskFullOrErrorAndKeepTheFileValid) {
    const struct {
        const char* name;
        int error;
        std::size_t budget;  // bytes written before the failure
        WaveWriteResult result;
        bool fileLeft;
        std::uint32_t dataBytes;
    } cases[] = {
        {"disk full in the third clip", ENOSPC, 44 + 2 * (kRate + 44) + 100,
         WaveWriteResult::DiskFull, true, 2 * kRate},
        {"quota in the second clip", EDQUOT, 44 + (kRate + 44) + 10, WaveWriteResult::DiskFull,
         true, kRate},
        {"I/O error in the third clip", EIO, 44 + 2 * (kRate + 44) + 100,
         WaveWriteResult::OtherError, true, 2 * kRate},
        {"disk full in the header", ENOSPC, 20, WaveWriteResult::DiskFull, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FillingFile file(c.budget, c.error);
        WaveWriterParams p = params(100, 60000);
        p.file = &file;
        pushed = 0;
        ASSERT_TRUE(StartWaveWriter(context, p));
        push(kRate, 5);
        ASSERT_TRUE(ended());
        EXPECT_EQ(context.result.load(), c.result);
        EXPECT_EQ(writerDone.load(), 1);
        ASSERT_EQ(std::filesystem::exists(soundPath()), c.fileLeft);
        if (c.fileLeft) {
            const WavOnDisk w = inspect(soundPath());
            EXPECT_EQ(w.dataBytes, c.dataBytes);
            EXPECT_EQ(w.fileBytes, 44 + c.dataBytes);  // the cut clip was taken back out
        }
        CleanupWaveSaveQueue(context);
        std::filesystem::remove(soundPath());
    }
}

// Child mode: write clips for ever (until the parent kills the process). Runs before the test
// framework when the parent starts this program with the variable set.
[[maybe_unused]] const int childMode = [] {
    const char* folder = std::getenv(kChildEnv);
    if (!folder)
        return 0;
    static Block block;
    static WaveWriterContext context;
    if (!StartWaveWriter(context, block.params(folder, 1000000, 1000, nullptr)))
        std::_Exit(2);
    for (std::uint64_t offset = 0;;) {
        if (context.queue->Push(makeClip(kRate, offset)))
            offset += kRate;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}();

TEST_F(WaveWriterTest, KilledWriterLeavesACompleteFile) {
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_t child = 0;
    {
        korvex::test::ScopedEnv childMode(kChildEnv, dir.str());
        ASSERT_EQ(::posix_spawn(&child, self, nullptr, nullptr, argv, environ), 0);
    }
    // Kill it somewhere after its third clip.
    const bool grew = eventually([&] {
        const std::string head = korvex::test::readText(soundPath());
        return head.size() >= 44 && le32(head, 40) >= 3 * kRate;
    });
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(grew);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const WavOnDisk w = inspect(soundPath());
    EXPECT_EQ(w.dataBytes % kRate, 0u);  // whole clips only
    // A clip appended but not yet counted may follow; never a header that claims missing bytes.
    EXPECT_LE(w.fileBytes - 44 - w.dataBytes, kRate);
}

}  // namespace
}  // namespace picvox
