// The run engine end to end against the simulated recorder on loopback: each mode, Stop from
// every state, and the faults a save run must survive.
#include "tests/picvox_run/RunRig.h"

namespace {

using namespace runrig;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using picvox::RunText;
using Clock = std::chrono::steady_clock;

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

// A save continues only a cache that the recorder's next answer joins on to: the same recorder
// and a newest sound slot at most a request period and a second old. Any other cache is emptied.
TEST(RunModes, ASaveContinuesOnlyACacheContinuousWithTheRecorder) {
    const struct {
        const char* what;
        int ageMs;
        bool sameRecorder;
        bool kept;
    } cases[] = {{"fresh, same recorder", 0, true, true},
                 {"a second too old", 2500, true, false},
                 {"an hour old", 3600 * 1000, true, false},
                 {"another recorder", 0, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig("run-stale");
        const fs::path slot = fs::path(rig.cache) / "WAVE2" / "50.wav";
        fs::create_directories(slot.parent_path());
        std::ofstream(slot) << "RIFF";
        const std::string source = (c.sameRecorder ? rig.sim.baseUrl() : std::string("http://x/")) +
                                   "\n" + rig.control.text(RunText::WaveFileUrl);
        picvox::WriteCacheSource(rig.cache, source);
        const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count() -
                                   c.ageMs;
        const timespec then[2] = {{nowMs / 1000, (nowMs % 1000) * 1000000},
                                  {nowMs / 1000, (nowMs % 1000) * 1000000}};
        ASSERT_EQ(::utimensat(AT_FDCWD, slot.c_str(), then, 0), 0);
        rig.start(Mode::SaveWithSound, 2);
        EXPECT_EQ(fs::exists(slot), c.kept);
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

// ---- A recorder that refuses ----

// A Live run against a recorder whose sound URL answers with something that is not sound, or
// with 500 every time: the passes back off instead of restarting at once, the page is told once
// what is wrong, and Stop still ends the run at once, also while it waits.
TEST(RunFaults, PassesBackOffAndTellThePageOnce) {
    korvex::sim::Faults notWave;
    notWave.notWaveAnswers = -1;
    korvex::sim::Faults refused;
    refused.errorStatus = 500;
    const struct {
        const char* what;
        korvex::sim::Faults faults;
        const char* told;
    } cases[] = {{"not WAV", notWave, "not a PCM WAV file"},
                 {"500 storm", refused, "answers 500 for the sound"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        korvex::sim::DvrSimOptions options;
        options.faults = c.faults;  // on every path: a recorder that refuses everything
        Rig rig("run-backoff", options);
        rig.start(Mode::Live);
        std::this_thread::sleep_for(8s);
        const int requests =
            rig.sim.requestCount("/dvr/live_init.wav") + rig.sim.requestCount("/dvr/live.wav");
        const long long ms = rig.timedStop();
        // Before, a pass restarted at once: hundreds of passes and thousands of requests.
        EXPECT_LE(requests, 60) << requests;
        const std::vector<std::string> told = rig.control.statuses();
        ASSERT_FALSE(told.empty());
        EXPECT_NE(told.front().find(c.told), std::string::npos) << told.front();
        // Told once, and taken back when the run ended.
        EXPECT_EQ(told.size(), 2u);
        EXPECT_TRUE(told.back().empty());
        EXPECT_TRUE(rig.control.messages().empty());
        if (kCheckTimeBounds) {
            EXPECT_LT(ms, 2000);
        }
        std::printf("[ figures  ] %s: %d sound requests in 8 s\n", c.what, requests);
    }
}

// A recorder behind a login: asked once for the run, whatever the passes; a refused login ends
// the run with one message, in every mode.
korvex::sim::DvrSimOptions behindLogin() {
    korvex::sim::DvrSimOptions options;
    options.login = {korvex::sim::SimLoginKind::Digest, "admin", "right", "dvrsim"};
    return options;
}

TEST(RunAccess, ALiveRunLogsInOnceAndPlays) {
    Rig rig("run-login", behindLogin());
    rig.engine.trustStorePath = (rig.dir.path() / "registry.ini").string();
    rig.control.loginAnswer = picvox::Login{"admin", picvox::SecretText("right")};
    rig.start(Mode::Live);
    EXPECT_TRUE(waitFor([&] { return rig.engine.soundPlaying(); }, 20s));
    EXPECT_TRUE(waitFor([&] { return rig.control.pictureShown(); }, 10s));
    rig.engine.stop();
    EXPECT_EQ(rig.control.loginAttempts(), std::vector<int>{0});
    EXPECT_TRUE(rig.control.messages().empty());
}

TEST(RunAccess, ARefusedLoginEndsTheRunWithOneMessage) {
    for (Mode mode : {Mode::Live, Mode::SaveWithSound, Mode::PictureOnly}) {
        SCOPED_TRACE(static_cast<int>(mode));
        Rig rig("run-refused", behindLogin());
        rig.engine.trustStorePath = (rig.dir.path() / "registry.ini").string();
        rig.control.loginAnswer = picvox::Login{"admin", picvox::SecretText("wrong")};
        rig.start(mode);
        ASSERT_TRUE(rig.waitReported(20s));
        EXPECT_TRUE(waitFor([&] { return !rig.engine.running(); }, 10s));
        EXPECT_EQ(rig.control.loginAttempts(), (std::vector<int>{0, 1}));
        const std::string expected = mode == Mode::Live ? "the recorder refused the login"
                                                        : "error\nthe recorder refused the login";
        EXPECT_EQ(rig.control.messages(), std::vector<std::string>{expected});
        // Nothing was saved from a recorder that never let the run in.
        EXPECT_EQ(framesIn(rig.destination), 0);
    }
}

// A Live run whose cache cannot be prepared again between passes (a file of a name the cache
// does not hold has appeared in it) ends, and says so, instead of ending silently with the page
// waiting for ever.
TEST(RunFaults, ALiveRunWhoseCacheCannotBePreparedEndsWithTheErrorMessage) {
    korvex::sim::DvrSimOptions options;
    options.liveSegmentLimit = 5;  // the recorder stops streaming: the pass ends
    Rig rig("run-cache-gone", options);
    rig.start(Mode::Live);
    ASSERT_TRUE(waitFor([&] { return rig.engine.soundPlaying(); }, 20s));
    std::ofstream(fs::path(rig.cache) / "J2K2" / "stray.file") << "x";
    ASSERT_TRUE(rig.waitReported(30s));
    EXPECT_TRUE(waitFor([&] { return !rig.engine.running(); }, 5s));
    const std::vector<std::string> messages = rig.control.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error\nthe cache folder", 0), 0u) << messages[0];
}

// ---- Faults of a save run ----

TEST(RunFaults, RecorderDyingMidSaveLeavesARecordingThatOpens) {
    korvex::sim::DvrSimOptions options;
    options.liveSegmentLimit = 12;  // long enough for pictures to be saved on a loaded machine
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
