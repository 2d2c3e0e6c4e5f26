// The run engine end to end against the simulated recorder on loopback: each mode, Stop from
// every state, and the faults a save run must survive.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "control/buffers/PicvoxLog.h"
#include "control/buffers/WavFile.h"
#include "control/download/DiskOps.h"
#include "control/download/J2kFrameCheck.h"
#include "control/run/RunEngine.h"
#include "control/run/WaitAnimation.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/verify/RecordingVerifier.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using picvox::RunText;
using Clock = std::chrono::steady_clock;

// Time bounds hold only where the build runs at full speed; sanitizer builds check that Stop
// ends at all.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCheckTimeBounds = false;
#else
constexpr bool kCheckTimeBounds = true;
#endif

// Polls `done` until it holds or `timeout` passes (a hang guard, not a timing assertion).
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A scratch folder of one case, removed at its end.
class TempDir {
public:
    explicit TempDir(const std::string& name) {
        const char* base = std::getenv("KORVEX_TEST_TMP");
        path_ = fs::path(base ? base : "/tmp") / (name + "-" + std::to_string(::getpid()));
        std::error_code ec;
        fs::remove_all(path_, ec);
        fs::create_directories(path_, ec);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The control as the run sees it: texts, SaveComplete, the messages shown, the picture queue.
class FakeControl final : public picvox::RunControl,
                          public picvox::run::PagePort,
                          public picvox::RepaintTarget {
public:
    std::string text(RunText which) const override {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = texts_.find(which);
        return it == texts_.end() ? std::string() : it->second;
    }
    void setText(RunText which, const std::string& value) override {
        std::lock_guard<std::mutex> guard(lock_);
        texts_[which] = value;
    }
    void setSaveComplete(std::int32_t value) override { saveComplete = value; }
    picvox::run::PagePort& page() override { return *this; }
    picvox::run::PageCounter& pageCounter() override { return counter_; }
    std::mutex& controlLock() override { return controlLock_; }
    picvox::RepaintTarget* repaintTarget() override { return this; }
    void setFrameQueue(std::shared_ptr<picvox::FrameQueue> queue) override {
        std::lock_guard<std::mutex> guard(lock_);
        queue_ = std::move(queue);
    }
    bool startAnimation(platform::Worker& worker, int maskHeight) override {
        return picvox::run::StartAnimationThread(worker, *this, maskHeight);
    }
    void invalidateWindow() override { ++repaints; }
    void messageBox(std::string_view, std::string_view text, picvox::run::MessageIcon) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.emplace_back(text);
    }

    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    // True when the run's queue has a picture to paint now.
    bool pictureShown() const {
        std::shared_ptr<picvox::FrameQueue> queue;
        {
            std::lock_guard<std::mutex> guard(lock_);
            queue = queue_;
        }
        return queue && queue->withCurrentPicture([](auto&&...) {});
    }

    std::atomic<int> saveComplete{0};
    std::atomic<int> repaints{0};

private:
    mutable std::mutex lock_;
    std::map<RunText, std::string> texts_;
    std::vector<std::string> messages_;
    std::shared_ptr<picvox::FrameQueue> queue_;
    picvox::run::PageCounter counter_;
    std::mutex controlLock_;
};

// A disk that fills up after `allowed` bytes of frame data.
class FillingDisk final : public picvox::DiskOps {
public:
    explicit FillingDisk(long long allowed) : left_(allowed) {}
    ssize_t write(int fd, const void* data, std::size_t size) override {
        if (left_.fetch_sub(static_cast<long long>(size)) < static_cast<long long>(size)) {
            errno = ENOSPC;
            return -1;
        }
        return DiskOps::write(fd, data, size);
    }

private:
    std::atomic<long long> left_;
};

enum class Mode { Live, SaveWithSound, PictureOnly, Download };

struct Rig {
    explicit Rig(const std::string& name, korvex::sim::DvrSimOptions options = {})
        : dir(name), sim(withPreroll(std::move(options))) {
        // PICVOX_TEST_LOG=<folder holding Picvox.ini> keeps the control's log of the run.
        if (const char* logFolder = std::getenv("PICVOX_TEST_LOG"))
            picvox::ConfigureLog(logFolder);
        std::string error;
        started = sim.start(&error);
        EXPECT_TRUE(started) << error;
        cache = (dir.path() / "cache").string();
        destination = (dir.path() / "save").string();
        engine.tempFolderSource = [this] { return std::optional<std::string>(cache); };
        control.setText(RunText::LocationBase, sim.baseUrl());
        control.setText(RunText::ImageFileUrl, "dvr/live.jp2");
        control.setText(RunText::WaveFileUrl, "dvr/live.wav");
        control.setText(RunText::InitWaveFileUrl, "dvr/live_init.wav");
        control.setText(RunText::Destination, destination);
        control.setText(RunText::Model, "TRM");
        control.setText(RunText::CompleteMsg, "complete");
        control.setText(RunText::DiskFullMsg, "disk full");
        control.setText(RunText::ErrorMsg, "error");
    }
    ~Rig() {
        engine.stop();
        sim.stop();
    }

    // A recorder that has been running for a while, as a page finds it.
    static korvex::sim::DvrSimOptions withPreroll(korvex::sim::DvrSimOptions options) {
        options.prerollMs = 3000;
        return options;
    }

    void start(Mode mode, int saveTime = 3, int pictureIntervalMs = 500) {
        picvox::RunSettings s;
        s.cacheTimeMs = cacheTimeMs;
        s.waveRequestIntervalMs = requestIntervalMs;
        s.saveTime = saveTime;
        switch (mode) {
            case Mode::Live:
                break;
            case Mode::SaveWithSound:
                s.hddSave = 1;
                break;
            case Mode::PictureOnly:
                s.hddSave = 1;
                s.pictureInterval = pictureIntervalMs;
                break;
            case Mode::Download:
                s.hddSave = 2;
                s.pictureInterval = pictureIntervalMs;
                control.setText(RunText::ImageFileUrl, "dvr/record.jp2");
                control.setText(RunText::WaveFileUrl, "dvr/record.wav");
                control.setText(RunText::InfFileUrl, "dvr/record.inf");
                break;
        }
        ASSERT_TRUE(engine.start(s));
    }
    bool waitReported(std::chrono::milliseconds timeout = 30s) {
        return waitFor([&] { return control.saveComplete.load() == 1; }, timeout);
    }
    // Milliseconds Stop took.
    long long timedStop() {
        const auto t0 = Clock::now();
        engine.stop();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    }
    std::string runFolder() const { return control.text(RunText::Destination); }

    int cacheTimeMs = 2000;
    int requestIntervalMs = 1000;
    TempDir dir;
    korvex::sim::DvrSim sim;
    bool started = false;
    std::string cache;
    std::string destination;
    FakeControl control;
    picvox::RunEngine engine{control};
};

int framesIn(const fs::path& folder) {
    int n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".jp2")
            ++n;
    }
    return n;
}

// ---- Each mode ----

TEST(RunModes, LivePlaysSoundAndShowsPictures) {
    Rig rig("run-live");
    rig.start(Mode::Live);
    EXPECT_TRUE(waitFor([&] { return rig.engine.soundPlaying(); }, 20s));
    EXPECT_TRUE(waitFor([&] { return rig.control.pictureShown(); }, 10s));
    EXPECT_GT(rig.control.repaints.load(), 0);
    rig.engine.stop();
    EXPECT_FALSE(rig.engine.running());
    EXPECT_EQ(rig.control.text(RunText::AbsoluteTime), "00:00:00");
    EXPECT_TRUE(rig.control.messages().empty());  // Live reports nothing
}

TEST(RunModes, SaveWithSoundWritesARecordingOfSaveTime) {
    Rig rig("run-save");
    rig.start(Mode::SaveWithSound, 3);
    ASSERT_TRUE(rig.waitReported(40s));
    const std::string folder = rig.runFolder();
    EXPECT_NE(folder, rig.destination);  // the page sees the run folder
    const std::vector<std::string> messages = rig.control.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("complete", 0), 0u) << messages[0];

    picvox::WavClip sound;
    ASSERT_TRUE(picvox::ReadWavFile(sound, folder + "/sound.wav"));
    EXPECT_EQ(sound.dataBytes, 3u * sound.avgBytesPerSec());

    korvex::verify::VerifyReport report;
    std::string error;
    ASSERT_TRUE(korvex::verify::verifyRecording(folder, report, error)) << error;
    EXPECT_GT(report.summary.frames, 0);
    EXPECT_EQ(korvex::verify::exitStatusOf(report.summary), 0);
    rig.engine.stop();
}

TEST(RunModes, ASaveEmptiesASoundCacheLeftFromLongAgoAndContinuesAFreshOne) {
    for (const bool stale : {true, false}) {
        SCOPED_TRACE(stale);
        Rig rig("run-stale");
        const fs::path slot = fs::path(rig.cache) / "WAVE2" / "50.wav";
        fs::create_directories(slot.parent_path());
        std::ofstream(slot) << "RIFF";
        if (stale) {
            const timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0},
                                           {::time(nullptr) - 3600, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, slot.c_str(), anHourAgo, 0), 0);
        }
        rig.start(Mode::SaveWithSound, 2);
        EXPECT_EQ(fs::exists(slot), !stale);
        rig.engine.stop();
    }
}

TEST(RunModes, PictureSaveOnlyWritesFramesAtTheInterval) {
    Rig rig("run-pictures");
    rig.start(Mode::PictureOnly, 2, 500);
    ASSERT_TRUE(rig.waitReported(20s));
    const std::vector<std::string> messages = rig.control.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("complete", 0), 0u) << messages[0];
    // More than 2 s at one frame per 500 ms: about five or six frames, never a burst.
    const int frames = framesIn(fs::path(rig.runFolder()) / "IMG00001");
    EXPECT_GE(frames, 4);
    EXPECT_LE(frames, 8);
}

TEST(RunModes, DownloadFetchesFramesToTheEndThenSoundAndIndex) {
    korvex::sim::DvrSimOptions options;
    options.content.recordedFrames = 12;
    Rig rig("run-download", options);
    rig.start(Mode::Download, 60, 100);
    ASSERT_TRUE(rig.waitReported(30s));
    const std::string folder = rig.runFolder();
    EXPECT_EQ(framesIn(fs::path(folder) / "IMG00001"), 12);
    EXPECT_TRUE(fs::exists(fs::path(folder) / "sound.wav"));
    EXPECT_TRUE(fs::exists(fs::path(folder) / "INFO" / "TRM00001.INF"));

    korvex::verify::VerifyReport report;
    std::string error;
    ASSERT_TRUE(korvex::verify::verifyRecording(folder, report, error)) << error;
    EXPECT_TRUE(report.infoLoaded);
    EXPECT_EQ(report.summary.frames, 12);
    EXPECT_EQ(korvex::verify::exitStatusOf(report.summary), 0);
    EXPECT_EQ(rig.control.messages().size(), 1u);
}

TEST(RunModes, DownloadOpensANewFolderAfterTwoHundredFrames) {
    korvex::sim::DvrSimOptions options;
    options.content.recordedFrames = 203;
    options.content.width = 64;  // small frames: the count matters here, not the pictures
    options.content.height = 48;
    Rig rig("run-download-folders", options);
    rig.start(Mode::Download, 60, 0);
    ASSERT_TRUE(rig.waitReported(60s));
    const fs::path folder = rig.runFolder();
    EXPECT_EQ(framesIn(folder / "IMG00001"), 200);
    EXPECT_EQ(framesIn(folder / "IMG00002"), 3);
    // Frame files keep counting across folders.
    EXPECT_TRUE(fs::exists(folder / "IMG00002" / "000201.jp2"));
}

TEST(RunModes, BadParametersReportAnErrorAndStartNothing) {
    struct Case {
        const char* name;
        int hddSave;
        int pictureInterval;
        int cacheTimeMs;
        int saveTime;
        bool error;
    };
    const Case cases[] = {
        {"save time zero", 1, 0, 2000, 0, true},
        {"cache below range", 0, 0, 1999, 3, true},
        {"cache above range", 1, 0, 30001, 3, true},
        {"picture-only ignores the cache time", 1, 500, 1999, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig("run-params");
        picvox::RunSettings s;
        s.hddSave = c.hddSave;
        s.pictureInterval = c.pictureInterval;
        s.cacheTimeMs = c.cacheTimeMs;
        s.saveTime = c.saveTime;
        s.waveRequestIntervalMs = 1000;
        ASSERT_TRUE(rig.engine.start(s));
        ASSERT_TRUE(rig.waitReported(15s));
        const std::vector<std::string> messages = rig.control.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind(c.error ? "error" : "complete", 0), 0u) << messages[0];
    }
}

// ---- What a saved run holds ----

// The sound clock position (ms) of each sample of a sound made by a recorder with clockSound.
std::vector<std::uint32_t> clockOf(const picvox::WavClip& sound) {
    std::vector<std::uint32_t> ms(sound.dataBytes / 2);
    for (std::size_t i = 0; i < ms.size(); ++i)
        ms[i] = sound.data[2 * i] | (sound.data[2 * i + 1] << 8);
    return ms;
}

// The first sound slot the player was given at the save set-up, from the control's log.
std::string firstPlayedSlot(const fs::path& logFolder) {
    std::ifstream log(logFolder / "Picvox_log.log");
    const std::string mark = "MakeWaveQueueFirst : キャッシュファイルバッファ設定：";
    for (std::string line; std::getline(log, line);) {
        const std::size_t at = line.find(mark);
        if (at != std::string::npos)
            return line.substr(at + mark.size());
    }
    return {};
}

// A save with sound against a recorder whose sound is its own clock: the saved sound runs on
// without a gap for save_time and begins five seconds before the first sound played (what the
// cache holds of them when the save starts on a fresh cache), and the first saved frame's
// relative time lies at that start, so that a viewer pacing frames by their offsets on the sound
// clock shows them in step. Frames come one per request period.
TEST(SavedRun, SoundAndFramesLineUpOnTheRecorderClock) {
    const struct {
        const char* name;
        bool afterLive;  // the save follows a Live playback whose cache it continues
    } cases[] = {{"fresh cache", false}, {"after live playback", true}};
    constexpr int kCacheTimeMs = 2000;
    constexpr int kPeriodMs = 2000;
    constexpr int kSaveTime = 6;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        korvex::sim::DvrSimOptions options;
        options.content.clockSound = true;
        options.content.width = 64;
        options.content.height = 48;
        Rig rig(std::string("run-saved-") + (c.afterLive ? "live" : "fresh"), options);
        rig.cacheTimeMs = kCacheTimeMs;
        rig.requestIntervalMs = kPeriodMs;
        if (c.afterLive) {
            rig.start(Mode::Live);
            // Enough cached for the save's read slot and five seconds before it.
            EXPECT_TRUE(waitFor(
                [&] { return picvox::CacheShortfall(5000 + kCacheTimeMs, rig.cache) == 0; }, 20s));
            rig.engine.stop();
        }
        const fs::path logFolder = rig.dir.path() / "log";
        fs::create_directories(logFolder);
        std::ofstream(logFolder / "Picvox.ini").put('\n');
        picvox::ConfigureLog(logFolder.string());
        rig.start(Mode::SaveWithSound, kSaveTime);
        const bool reported = rig.waitReported(40s);
        rig.engine.stop();
        picvox::ResetLog();
        if (const char* keep = std::getenv("PICVOX_TEST_LOG"))
            picvox::ConfigureLog(keep);
        ASSERT_TRUE(reported);
        const std::vector<std::string> messages = rig.control.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("complete", 0), 0u) << messages[0];
        const fs::path folder = rig.runFolder();

        // The sound: save_time of it, every sample one step on from the last.
        picvox::WavClip sound;
        ASSERT_TRUE(picvox::ReadWavFile(sound, (folder / "sound.wav").string()));
        const std::uint32_t rate = sound.avgBytesPerSec() / 2;
        ASSERT_EQ(rate, 8000u);
        EXPECT_EQ(sound.dataBytes, kSaveTime * 2 * rate);
        const std::vector<std::uint32_t> clock = clockOf(sound);
        ASSERT_FALSE(clock.empty());
        const std::uint32_t soundStartMs = clock.front();
        std::size_t firstStep = 1;
        while (firstStep < clock.size() && clock[firstStep] == soundStartMs)
            ++firstStep;
        const std::uint64_t startSample = (soundStartMs + 1ull) * rate / 1000 - firstStep;
        std::size_t gaps = 0;
        for (std::size_t i = 0; i < clock.size(); ++i)
            gaps += clock[i] != (((startSample + i) * 1000 / rate) & 0xFFFF);
        EXPECT_EQ(gaps, 0u) << "saved sound starts at " << soundStartMs << " ms";

        // Five seconds before the first sound heard.
        picvox::WavClip played;
        const std::string playedSlot = firstPlayedSlot(logFolder);
        ASSERT_TRUE(picvox::ReadWavFile(played, playedSlot)) << playedSlot;
        const std::uint32_t playStartMs = clockOf(played).front();
        const int preRollMs = static_cast<int>(playStartMs) - static_cast<int>(soundStartMs);
        if (c.afterLive) {
            EXPECT_EQ(preRollMs, 5000);
        } else {
            EXPECT_GE(preRollMs, 0);
            EXPECT_LE(preRollMs, 5000);
        }

        // The frames: the first at the sound's start, every one inside the sound, in order.
        std::vector<fs::path> frames;
        for (const auto& entry : fs::directory_iterator(folder / "IMG00001"))
            frames.push_back(entry.path());
        std::sort(frames.begin(), frames.end());
        ASSERT_FALSE(frames.empty());
        std::uint32_t firstRel = 0;
        ASSERT_EQ(picvox::ReadRelTime(frames.front().string(), firstRel), 1);
        const int alignmentErrorMs = static_cast<int>(firstRel) - static_cast<int>(soundStartMs);
        EXPECT_LE(std::abs(alignmentErrorMs), 250);
        std::uint32_t previous = firstRel;
        for (const fs::path& frame : frames) {
            std::uint32_t rel = 0;
            ASSERT_EQ(picvox::ReadRelTime(frame.string(), rel), 1) << frame;
            EXPECT_GE(rel, previous) << frame;
            EXPECT_LT(rel - firstRel, kSaveTime * 1000u) << frame;
            previous = rel;
        }
        const int periods = kSaveTime * 1000 / kPeriodMs;
        EXPECT_GE(static_cast<int>(frames.size()), periods - 1);
        EXPECT_LE(static_cast<int>(frames.size()), periods + 1);
        std::printf(
            "[ figures  ] %s: %zu frames in %d s, sound %u bytes from %u ms, played from "
            "%u ms, first frame at %u ms (error %d ms)\n",
            c.name, frames.size(), kSaveTime, sound.dataBytes, soundStartMs, playStartMs, firstRel,
            alignmentErrorMs);
    }
}

// ---- Stop from every state ----

TEST(RunStop, EndsWithinTwoSecondsFromEveryState) {
    struct Case {
        const char* name;
        Mode mode;
        korvex::sim::Faults faults;
        bool refused;  // the recorder is gone before the run starts
        bool killMidRun;
        std::function<bool(Rig&)> reached;  // the state to stop in
    };
    auto requests = [](const char* path, int n) {
        return [path, n](Rig& rig) { return rig.sim.waitForRequests(path, n, 15000); };
    };
    auto playing = [](Rig& rig) { return waitFor([&] { return rig.engine.soundPlaying(); }, 20s); };
    korvex::sim::Faults stalled;
    stalled.stallAfterBytes = 64;
    stalled.path = korvex::sim::DvrSim::kLiveImagePath;
    const Case cases[] = {
        {"caching", Mode::Live, {}, false, false, requests("/dvr/live.wav", 1)},
        {"waiting for the player",
         Mode::SaveWithSound,
         {},
         false,
         false,
         requests("/dvr/live_init.wav", 1)},
        {"playing", Mode::Live, {}, false, false, playing},
        {"saving", Mode::SaveWithSound, {}, false, false, playing},
        {"picture-only", Mode::PictureOnly, {}, false, false, requests("/dvr/live.jp2", 2)},
        {"downloading", Mode::Download, {}, false, false, requests("/dvr/record.jp2", 3)},
        {"stalled body", Mode::Live, stalled, false, false, requests("/dvr/live.jp2", 1)},
        {"refused connection",
         Mode::Live,
         {},
         true,
         false,
         [](Rig&) {
             std::this_thread::sleep_for(700ms);
             return true;
         }},
        {"recorder killed", Mode::Live, {}, false, true, playing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        korvex::sim::DvrSimOptions options;
        options.faults = c.faults;
        options.content.recordedFrames = 400;
        Rig rig("run-stop", options);
        if (c.refused)
            rig.sim.stop();
        rig.start(c.mode, 30);
        ASSERT_TRUE(c.reached(rig));
        if (c.killMidRun) {
            rig.sim.stop();
            std::this_thread::sleep_for(300ms);
        }
        const long long ms = rig.timedStop();
        EXPECT_FALSE(rig.engine.running());
        if (kCheckTimeBounds) {
            EXPECT_LT(ms, 2000);
        }
        // A stopped run reports nothing.
        EXPECT_TRUE(rig.control.messages().empty());
    }
}

TEST(RunStop, SecondStopAndSecondStartAreHarmless) {
    Rig rig("run-twice");
    rig.start(Mode::Live);
    picvox::RunSettings s;
    s.cacheTimeMs = 2000;
    EXPECT_FALSE(rig.engine.start(s));  // one thread per control
    rig.engine.stop();
    rig.engine.stop();
    EXPECT_FALSE(rig.engine.running());
    EXPECT_TRUE(rig.engine.tempFolder().empty());
}

// ---- Faults of a save run ----

TEST(RunFaults, RecorderDyingMidSaveLeavesARecordingThatOpens) {
    korvex::sim::DvrSimOptions options;
    options.liveSegmentLimit = 8;
    Rig rig("run-dies", options);
    rig.start(Mode::SaveWithSound, 60);
    ASSERT_TRUE(rig.waitReported(40s));
    const std::vector<std::string> messages = rig.control.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error", 0), 0u) << messages[0];

    const std::string folder = rig.runFolder();
    picvox::WavClip sound;
    ASSERT_TRUE(picvox::ReadWavFile(sound, folder + "/sound.wav"));
    EXPECT_GT(sound.dataBytes, 0u);
    korvex::verify::VerifyReport report;
    std::string error;
    ASSERT_TRUE(korvex::verify::verifyRecording(folder, report, error)) << error;
    EXPECT_GT(report.summary.frames, 0);
}

TEST(RunFaults, FullDiskEndsTheSaveWithTheDiskFullMessage) {
    Rig rig("run-full");
    FillingDisk disk(60000);
    rig.engine.disk = &disk;
    rig.start(Mode::PictureOnly, 30, 200);
    ASSERT_TRUE(rig.waitReported(30s));
    const std::vector<std::string> messages = rig.control.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("disk full", 0), 0u) << messages[0];
}

}  // namespace

// ---- Rate correction (long; run by the picvox_run_long test of the plain build) ----

namespace rate {

struct Correction {
    int fillPercent = 0;
    int frequency = 0;
};

// The frequency corrections of the control's log, in order.
std::vector<Correction> readCorrections(const fs::path& log) {
    std::vector<Correction> out;
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t fill = line.find("バッファ残=");
        if (line.find("周波数補正") == std::string::npos || fill == std::string::npos)
            continue;
        Correction c;
        c.fillPercent = std::atoi(line.c_str() + fill + std::string("バッファ残=").size());
        for (const char* key : {"補正周波数=", "現周波数="}) {
            const std::size_t at = line.find(key);
            if (at != std::string::npos)
                c.frequency = std::atoi(line.c_str() + at + std::string(key).size());
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace rate

TEST(RunRate, FrequencyFollowsARecorderClockOffByTwoPerCent) {
    if (!std::getenv("PICVOX_LONG_TESTS"))
        GTEST_SKIP() << "long case: set PICVOX_LONG_TESTS=1";
    for (const double percent : {2.0, -2.0}) {
        SCOPED_TRACE(percent);
        korvex::sim::DvrSimOptions options;
        options.soundClockPercent = percent;
        Rig rig("run-rate", options);
        // Requests of half a second against four seconds of cache: the fill moves in steps of
        // 12.5 points, fine enough to read the band, and a correction comes every 4 s.
        rig.cacheTimeMs = 4000;
        rig.requestIntervalMs = 500;
        const fs::path logFolder = rig.dir.path() / "log";
        fs::create_directories(logFolder);
        std::ofstream(logFolder / "Picvox.ini").put('\n');
        picvox::ConfigureLog(logFolder.string());
        rig.start(Mode::Live);

        // The frequency has moved the recorder's way, and the fill has been back in 70..130 %
        // for the last five corrections.
        bool followed = false;
        bool settled = false;
        const auto end = Clock::now() + 240s;
        while (Clock::now() < end && !(followed && settled)) {
            std::this_thread::sleep_for(2s);
            const auto corrections = rate::readCorrections(logFolder / "Picvox_log.log");
            for (const auto& c : corrections) {
                if (percent > 0 ? c.frequency > 8000 : (c.frequency > 0 && c.frequency < 8000))
                    followed = true;
            }
            settled = corrections.size() >= 10;
            for (std::size_t i = corrections.size() >= 5 ? corrections.size() - 5 : 0;
                 i < corrections.size(); ++i) {
                settled = settled && corrections[i].fillPercent >= 70 &&
                          corrections[i].fillPercent <= 130;
            }
        }
        rig.engine.stop();
        picvox::ResetLog();
        EXPECT_TRUE(followed);
        EXPECT_TRUE(settled);
    }
}
