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
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/http/TestSupport.h"

extern char** environ;

namespace picvox {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::TempDir;

constexpr std::uint32_t kRate = 8000;  // bytes per second: 8 kHz, mono, 8 bits
constexpr const char* kChildEnv = "PICVOX_WAVE_WRITER_CHILD";

std::uint8_t sampleAt(std::uint64_t i) {
    return static_cast<std::uint8_t>(i * 31 + 7);
}

// A clip of `bytes` samples continuing the pattern at `offset`; `fmtBytes` 16 or 18.
WavClip makeClip(std::uint32_t bytes, std::uint64_t offset = 0, std::uint32_t fmtBytes = 16) {
    WavClip clip;
    clip.format = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 0, 0};
    clip.fmtBytes = fmtBytes;
    clip.data.resize(bytes);
    for (std::uint32_t i = 0; i < bytes; ++i)
        clip.data[i] = sampleAt(offset + i);
    clip.dataBytes = bytes;
    clip.durationMs = PlayTimeMs(bytes, kRate);
    return clip;
}

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// What a finished sound.wav says of itself, checked against its bytes and against libsndfile.
struct WavOnDisk {
    std::size_t headerBytes = 0;
    std::uint32_t dataBytes = 0;
    std::size_t fileBytes = 0;
};

WavOnDisk inspect(const std::string& path) {
    WavOnDisk w;
    const Bytes file = readAll(path);
    w.fileBytes = file.size();
    EXPECT_GE(file.size(), 44u);
    if (file.size() < 44)
        return w;
    w.headerBytes = 20 + le32(file, 16) + 8;
    EXPECT_EQ(std::memcmp(file.data() + w.headerBytes - 8, "data", 4), 0);
    w.dataBytes = le32(file, w.headerBytes - 4);
    EXPECT_EQ(le32(file, 4), w.headerBytes - 8 + w.dataBytes);
    EXPECT_LE(w.headerBytes + w.dataBytes, file.size());
    for (std::uint32_t i = 0; i < w.dataBytes && i + w.headerBytes < file.size(); ++i) {
        if (file[w.headerBytes + i] != sampleAt(i)) {
            ADD_FAILURE() << "sample " << i << " differs";
            break;
        }
    }
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(sf, nullptr) << sf_strerror(nullptr);
    if (sf) {
        EXPECT_EQ(info.frames, static_cast<sf_count_t>(w.dataBytes));
        EXPECT_EQ(info.samplerate, 8000);
        sf_close(sf);
    }
    return w;
}

class FakeTimers : public CounterTimers {
public:
    bool hasWindow() override { return window; }
    void killTimer(int id) override {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(-id);
    }
    void setTimer(int id, int ms) override {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(id * 10000 + ms);
    }
    std::vector<int> calls() {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    std::atomic<bool> window{true};

private:
    std::mutex lock_;
    std::vector<int> calls_;  // -id for a kill, id * 10000 + ms for a set
};

// Writes through to the real file until `budget` bytes have gone out, then writes what is left
// of the budget and fails with `error`, as a filling disk does.
class FillingFile : public WaveOutputFile {
public:
    FillingFile(std::size_t budget, int error) : budget_(budget), error_(error) {}
    int write(const std::uint8_t* bytes, std::size_t n) override {
        if (n <= budget_) {
            budget_ -= n;
            return WaveOutputFile::write(bytes, n);
        }
        WaveOutputFile::write(bytes, budget_);
        budget_ = 0;
        return error_;
    }

private:
    std::size_t budget_;
    int error_;
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

class WaveWriterTest : public ::testing::Test {
protected:
    WaveWriterParams params(std::int32_t saveTime, std::int32_t cacheTimeMs) {
        WaveWriterParams p;
        p.waveUrl = "http://127.0.0.1/cgi/get.wav";
        p.destination = dir.path();
        p.saveTime = saveTime;
        p.cacheTimeMs = cacheTimeMs;
        p.counterValue = &counterValue;
        p.timerId = &timerId;
        p.writerDone = &writerDone;
        p.countDone = &countDone;
        p.timers = &timers;
        return p;
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
    std::size_t leftInQueue() {
        std::size_t n = 0;
        WavClip clip;
        while (context.queue->Pop(clip))
            ++n;
        return n;
    }
    std::string soundPath() const { return dir.file("sound.wav"); }

    TempDir dir{"wavewriter"};
    std::atomic<std::int32_t> counterValue{0};
    std::atomic<std::int32_t> timerId{kSoundCounterTimerId};
    std::atomic<std::int32_t> writerDone{0};
    platform::Event countDone{platform::Event::Reset::Auto};
    FakeTimers timers;
    std::uint64_t pushed = 0;
    WaveWriterContext context;  // last: its writer ends before the rest goes
};

struct SaveTimeCase {
    std::uint32_t clipBytes;
    std::uint32_t fmtBytes;
    std::size_t headerBytes;
    std::size_t clipsTaken;
};

// 30 s at 8000 B/s is 240,000 bytes: 17,000-byte clips reach it inside the fifteenth (cut to
// 2,000 bytes); 16,000-byte clips fill it exactly with the fifteenth, which is not short, so the
// sixteenth is written with 0 bytes and ends the run.
TEST_F(WaveWriterTest, SaveTimeCutsTheClipThatReachesIt) {
    const SaveTimeCase cases[] = {{17000, 16, 44, 15}, {16000, 18, 46, 16}};
    for (const SaveTimeCase& c : cases) {
        SCOPED_TRACE(c.clipBytes);
        pushed = 0;
        counterValue = 0;
        timerId = kSoundCounterTimerId;
        writerDone = 0;
        ASSERT_TRUE(StartWaveWriter(context, params(30, 2000)));
        push(c.clipBytes, 20, c.fmtBytes);
        ASSERT_TRUE(eventually([&] { return writerDone.load() == 1; }));
        EXPECT_EQ(context.result.load(), WaveWriteResult::SaveTimeReached);
        // Timer 102 runs, so the writer waits until the counter has shown the full time.
        EXPECT_FALSE(context.writerEnded().isSet());
        countDone.set();
        ASSERT_TRUE(ended());
        EXPECT_TRUE(countDone.isSet());  // looked at, left for the end-of-run report
        const WavOnDisk w = inspect(soundPath());
        EXPECT_EQ(w.headerBytes, c.headerBytes);
        EXPECT_EQ(w.dataBytes, 240000u);
        EXPECT_EQ(w.fileBytes, c.headerBytes + 240000);
        EXPECT_EQ(leftInQueue(), 20 - c.clipsTaken);
        CleanupWaveSaveQueue(context);
        countDone.reset();
    }
}

TEST(WaveWriterCounterTest, SecondsRoundUpOnlyPastHalf) {
    struct Case {
        std::uint32_t bytes, avg;
        std::int32_t secs;
    } const cases[] = {{12000, 8000, 1}, {12001, 8000, 2}, {8000, 8000, 1}, {4000, 8000, 0},
                       {4001, 8000, 1},  {0, 8000, 0},     {5000, 0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(CounterSeconds(c.bytes, c.avg), c.secs) << c.bytes;
}

// The counter counts written seconds until it reaches CacheTime / 1000, then timer 102 takes
// over once; the writer stops counting.
TEST_F(WaveWriterTest, CounterSwitchesToSecondsTimerOnce) {
    ASSERT_TRUE(StartWaveWriter(context, params(100, 5000)));
    push(kRate, 7);
    ASSERT_TRUE(eventually([&] { return context.queue->held() == 0; }));
    ASSERT_TRUE(eventually([&] { return timerId.load() == kSecondsCounterTimerId; }));
    context.worker.stop();
    EXPECT_EQ(context.result.load(), WaveWriteResult::EndedOnOrder);
    EXPECT_EQ(counterValue.load(), 5);
    EXPECT_EQ(timers.calls(), (std::vector<int>{-kSoundCounterTimerId, 102 * 10000 + 1000}));
    EXPECT_EQ(inspect(soundPath()).dataBytes, 7 * kRate);
}

TEST_F(WaveWriterTest, StopWhileWaitingForTheWindowKeepsTheClip) {
    timers.window = false;
    ASSERT_TRUE(StartWaveWriter(context, params(30, 2000)));
    push(kRate, 1);
    ASSERT_TRUE(eventually([&] { return counterValue.load() == 1; }));
    context.worker.orderStop();
    ASSERT_TRUE(ended());
    EXPECT_EQ(context.result.load(), WaveWriteResult::EndedOnOrder);
    EXPECT_EQ(writerDone.load(), 1);
    EXPECT_TRUE(timers.calls().empty());
    EXPECT_EQ(inspect(soundPath()).dataBytes, kRate);
}

TEST_F(WaveWriterTest, StopBeforeAnyClipLeavesNoFile) {
    ASSERT_TRUE(StartWaveWriter(context, params(30, 2000)));
    context.worker.stop();
    EXPECT_EQ(context.result.load(), WaveWriteResult::EndedOnOrder);
    EXPECT_FALSE(std::filesystem::exists(soundPath()));
    CleanupWaveSaveQueue(context);
    EXPECT_EQ(context.queue, nullptr);
}

// After the save time the writer waits for the counter; that wait also ends on the end order and
// when Stop has killed the counter timer.
TEST_F(WaveWriterTest, FinalCounterWaitEndsEveryWay) {
    enum class Release { CountDone, StopOrder, TimerKilled };
    for (Release how : {Release::CountDone, Release::StopOrder, Release::TimerKilled}) {
        SCOPED_TRACE(static_cast<int>(how));
        timerId = kSoundCounterTimerId;
        writerDone = 0;
        countDone.reset();
        ASSERT_TRUE(StartWaveWriter(context, params(1, 1000)));
        push(kRate, 2);
        ASSERT_TRUE(eventually([&] { return writerDone.load() == 1; }));
        EXPECT_FALSE(context.writerEnded().isSet());
        if (how == Release::CountDone)
            countDone.set();
        else if (how == Release::StopOrder)
            context.worker.orderStop();
        else
            timerId = 0;
        ASSERT_TRUE(ended());
        EXPECT_EQ(context.result.load(), WaveWriteResult::SaveTimeReached);
        CleanupWaveSaveQueue(context);
    }
}

struct FailureCase {
    const char* name;
    int error;
    std::size_t budget;  // bytes written before the failure
    WaveWriteResult result;
    bool fileLeft;
    std::uint32_t dataBytes;
};

// A failing disk ends the run with the right code and leaves either no file or a complete WAV
// file of the clips written before the failure.
TEST_F(WaveWriterTest, WriteFailuresReportDiskFullOrErrorAndKeepTheFileValid) {
    const FailureCase cases[] = {
        {"disk full in the third clip", ENOSPC, 44 + 2 * (kRate + 44) + 100,
         WaveWriteResult::DiskFull, true, 2 * kRate},
        {"quota in the second clip", EDQUOT, 44 + (kRate + 44) + 10, WaveWriteResult::DiskFull,
         true, kRate},
        {"I/O error in the third clip", EIO, 44 + 2 * (kRate + 44) + 100,
         WaveWriteResult::OtherError, true, 2 * kRate},
        {"disk full in the header", ENOSPC, 20, WaveWriteResult::DiskFull, false, 0},
    };
    for (const FailureCase& c : cases) {
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

TEST_F(WaveWriterTest, ExistingSoundFileIsReplaced) {
    std::ofstream(soundPath(), std::ios::binary) << std::string(100000, 'x');
    ASSERT_TRUE(StartWaveWriter(context, params(30, 60000)));
    push(kRate, 1);
    ASSERT_TRUE(eventually([&] { return context.queue->held() == 0; }));
    context.worker.stop();
    const WavOnDisk w = inspect(soundPath());
    EXPECT_EQ(w.dataBytes, kRate);
    EXPECT_EQ(w.fileBytes, 44 + kRate);
}

TEST_F(WaveWriterTest, StartRefusesWhatCannotRun) {
    WaveWriterParams noCache = params(30, 0);
    EXPECT_FALSE(StartWaveWriter(context, noCache));
    WaveWriterParams noFolder = params(30, 2000);
    noFolder.destination.clear();
    EXPECT_FALSE(StartWaveWriter(context, noFolder));
    EXPECT_EQ(context.queue, nullptr);
    ASSERT_TRUE(StartWaveWriter(context, params(30, 2000)));
    EXPECT_EQ(context.queue->slots(), 10000u);
    EXPECT_FALSE(StartWaveWriter(context, params(30, 2000)));  // one writer per context
}

// Child mode: write clips for ever (until the parent kills the process). Runs before the test
// framework when the parent starts this program with the variable set.
[[maybe_unused]] const int childMode = [] {
    const char* folder = std::getenv(kChildEnv);
    if (!folder)
        return 0;
    static std::atomic<std::int32_t> counter{0}, timer{0}, done{0};
    static platform::Event countDone;
    static WaveWriterContext context;
    WaveWriterParams p;
    p.waveUrl = "get.wav";
    p.destination = folder;
    p.saveTime = 1000000;
    p.cacheTimeMs = 1000;
    p.counterValue = &counter;
    p.timerId = &timer;
    p.writerDone = &done;
    p.countDone = &countDone;
    if (!StartWaveWriter(context, p))
        std::_Exit(2);
    for (std::uint64_t offset = 0;;) {
        if (context.queue->Push(makeClip(kRate, offset)))
            offset += kRate;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}();

TEST_F(WaveWriterTest, KilledWriterLeavesACompleteFile) {
    const std::string variable = std::string(kChildEnv) + "=" + dir.path();
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(const_cast<char*>(variable.c_str()));
    env.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, self, nullptr, nullptr, argv, env.data()), 0);
    // Kill it somewhere after its third clip.
    const bool grew = eventually([&] {
        const Bytes head = readAll(soundPath());
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
