// The main process thread's rules on their own: the mode a run's settings give, the settings
// check, the result a pass reports, where a save puts its folder; and the set-up against a fake
// control, without a recorder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "control/run/MainProcess.h"
#include "tests/picvox_run/RunRig.h"
#include "tests/picvox_run/RunTestSupport.h"

namespace {

using namespace runrig;
using picvox::PassOutcome;
using picvox::RunKind;
using picvox::RunMode;
using picvox::SaveResult;
using picvox::WaveWriteResult;

// hdd_save, jpeg2000_interval and destinationSW decide the mode once; hdd_save 1 with a negative
// picture interval is a picture save (refused by the check), never a save without its writer.
TEST(RunSteps, OneModeFromTheThreeSettings) {
    const struct {
        int hddSave, interval, destinationSW;
        RunKind kind;
        bool emptiesCache, playsSound, savesSound, pictureOnly;
    } cases[] = {
        {0, 0, 0, RunKind::Live, true, true, false, false},
        {0, 500, 0, RunKind::Live, false, true, false, false},
        {0, 0, 1, RunKind::FolderChoice, false, true, false, false},
        {1, 0, 0, RunKind::SaveWithSound, false, true, true, false},
        {1, 0, 1, RunKind::SaveWithSound, false, true, true, false},
        {1, 500, 0, RunKind::PictureSave, false, false, false, true},
        {1, -1, 0, RunKind::PictureSave, false, false, false, true},
        {2, 0, 0, RunKind::Download, false, false, false, true},
        {2, 100, 1, RunKind::Download, false, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.hddSave << "/" << c.interval << "/" << c.destinationSW);
        const RunMode mode = RunMode::of(c.hddSave, c.interval, c.destinationSW);
        EXPECT_EQ(mode.kind, c.kind);
        EXPECT_EQ(mode.emptiesCache, c.emptiesCache);
        EXPECT_EQ(mode.playsSound(), c.playsSound);
        EXPECT_EQ(mode.savesSound(), c.savesSound);
        EXPECT_EQ(mode.pictureOnly(), c.pictureOnly);
        EXPECT_EQ(mode.saves(), c.hddSave != 0);
    }
}

// The first setting out of range gives the error, and the reason names it.
TEST(RunSteps, SettingsCheckNamesTheSettingOutOfRange) {
    struct Case {
        const char* what;
        int hddSave = 1, interval = 0, destinationSW = 0, cacheTimeMs = 2000, requestMs = 1000,
            saveTime = 30, order = 0;
        const char* model = "TRM";
        std::size_t locationBytes = 30;
        const char* named = nullptr;  // null: accepted
    };
    const Case cases[] = {
        {"a save as the page sets it"},
        {"hdd_save 3", 3, 0, 0, 2000, 1000, 30, 0, "TRM", 30, "hdd_save 3 is outside 0..2"},
        {"save_time 0", 1, 0, 0, 2000, 1000, 0, 0, "TRM", 30, "save_time 0 is outside"},
        {"CacheTime 30001", 1, 0, 0, 30001, 1000, 30, 0, "TRM", 30, "CacheTime 30001"},
        {"CacheTime 0 in Live", 0, 0, 0, 0, 1000, 30, 0, "TRM", 30, "CacheTime 0"},
        {"CacheTime 0 in a folder choice", 0, 0, 1, 0, 1000, 30, 0, "TRM", 30, "CacheTime 0"},
        {"CacheTime 0 in a picture save", 1, 500, 0, 0, 1000, 30},
        {"request interval 2^31-1", 0, 0, 0, 2000, 2147483647, 30, 0, "TRM", 30,
         "wave_request_interval 2147483647"},
        {"request interval 0", 0, 0, 0, 2000, 0, 30, 0, "TRM", 30, "wave_request_interval 0"},
        {"negative picture interval", 1, -1, 0, 2000, 1000, 30, 0, "TRM", 30,
         "jpeg2000_interval -1"},
        {"TimestampOrder 3 in a save", 1, 0, 0, 2000, 1000, 30, 3, "TRM", 30, "TimestampOrder 3"},
        {"TimestampOrder 3 in Live", 0, 0, 0, 2000, 1000, 30, 3},
        {"model leaving the destination", 1, 0, 0, 2000, 1000, 30, 0, "../../ESCAPED", 30,
         "model \"../../ESCAPED\""},
        {"model with a control character", 1, 0, 0, 2000, 1000, 30, 0, "A\x01", 30, "model \"A?\""},
        {"a 100 KB Location", 0, 0, 0, 2000, 1000, 30, 0, "TRM", 100000, "Location is 100000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeControl control;
        control.setText(picvox::RunText::Model, c.model);
        control.setText(picvox::RunText::LocationBase, std::string(c.locationBytes, 'h'));
        picvox::RunSettings s;
        s.hddSave = c.hddSave;
        s.pictureInterval = c.interval;
        s.destinationSW = c.destinationSW;
        s.cacheTimeMs = c.cacheTimeMs;
        s.waveRequestIntervalMs = c.requestMs;
        s.saveTime = c.saveTime;
        s.timestampOrder = c.order;
        const picvox::SettingsVerdict verdict = picvox::CheckRunSettings(
            s, RunMode::of(c.hddSave, c.interval, c.destinationSW), control);
        if (c.named == nullptr) {
            EXPECT_TRUE(verdict.ok()) << verdict.reason;
            continue;
        }
        EXPECT_EQ(verdict.result, SaveResult::Error);
        EXPECT_NE(verdict.reason.find(c.named), std::string::npos) << verdict.reason;
    }
}

// The result a pass that ended by itself reports.
TEST(RunSteps, PassResultPutsTheDownloadFailureFirst) {
    const RunMode withSound = RunMode::of(1, 0, 0);
    const RunMode pictures = RunMode::of(1, 500, 0);
    auto pass = [](bool started, SaveResult download, WaveWriteResult writer, int frames) {
        PassOutcome p;
        p.downloadStarted = started;
        p.downloadResult = download;
        p.writerResult = writer;
        p.savedFrames = frames;
        return p;
    };
    const struct {
        const char* what;
        PassOutcome pass;
        RunMode mode;
        SaveResult result;
    } cases[] = {
        {"sound saved", pass(true, SaveResult::None, WaveWriteResult::SaveTimeReached, 5),
         withSound, SaveResult::Complete},
        {"download failed, writer done",
         pass(true, SaveResult::DownloadFailure, WaveWriteResult::SaveTimeReached, 5), withSound,
         SaveResult::DownloadFailure},
        {"writer's disk full", pass(true, SaveResult::None, WaveWriteResult::DiskFull, 5),
         withSound, SaveResult::DiskFull},
        {"no frame saved", pass(true, SaveResult::None, WaveWriteResult::SaveTimeReached, 0),
         withSound, SaveResult::DownloadFailure},
        {"picture save", pass(true, SaveResult::None, WaveWriteResult::None, 3), pictures,
         SaveResult::Complete},
        {"picture save without a frame", pass(true, SaveResult::None, WaveWriteResult::None, 0),
         pictures, SaveResult::DownloadFailure},
        {"nothing started", pass(false, SaveResult::None, WaveWriteResult::None, 0), pictures,
         SaveResult::DownloadFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(picvox::PassResult(c.pass, c.mode), c.result);
    }
}

// The Windows default "C:\" (trimmed by Start to "C:") and an empty destination save into the
// home folder, never into the folder the host happens to run in.
TEST(RunSteps, TheDefaultDestinationIsTheHomeFolder) {
    runtest::ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(picvox::SaveDestination("C:"), "/home/someone");
    EXPECT_EQ(picvox::SaveDestination("c:\\"), "/home/someone");
    EXPECT_EQ(picvox::SaveDestination(picvox::TrimDestination("/")), "/home/someone");
    EXPECT_EQ(picvox::SaveDestination(""), "/home/someone");
    EXPECT_EQ(picvox::SaveDestination("Videos/dvr"), "/home/someone/Videos/dvr");
    EXPECT_EQ(picvox::SaveDestination("/media/usb"), "/media/usb");
}

// Set-up failures, against a fake control and no recorder: one message, SaveComplete set,
// nothing written, nothing running.
TEST(RunSteps, SetUpFailuresReportOnceAndStartNothing) {
    TempDir dir("run-steps");
    const struct {
        const char* what;
        const char* model;
        bool fileAsDestination;
        const char* message;
    } cases[] = {
        {"escaping model", "../x", false, "error\nmodel \"../x\""},
        {"destination that is a file", "TRM", true, "error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeControl control;
        const fs::path destination = dir.path() / "dest";
        fs::remove_all(destination);
        if (c.fileAsDestination)
            std::ofstream(destination) << "not a folder";
        control.setText(picvox::RunText::Destination, destination.string());
        control.setText(picvox::RunText::Model, c.model);
        control.setText(picvox::RunText::ErrorMsg, "error");
        control.setText(picvox::RunText::DiskFullMsg, "disk full");
        picvox::MainThreadParams p;
        p.hddSave = 1;
        p.mode = RunMode::of(1, 0, 0);
        p.cacheTimeMs = 2000;
        p.waveRequestIntervalMs = 1000;
        p.saveTime = 3;
        p.tempFolder = (dir.path() / "cache").string();
        p.control = &control;
        platform::Event endOrder(platform::Event::Reset::Manual);
        std::atomic<std::int32_t> writerDone{0}, stopBeforePlay{0};
        std::atomic<bool> running{true};
        p.endOrder = &endOrder;
        p.writerDone = &writerDone;
        p.stopBeforePlay = &stopBeforePlay;
        p.running = &running;
        picvox::MainProcessThread(p);
        const std::vector<std::string> messages = control.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind(c.message, 0), 0u) << messages[0];
        EXPECT_EQ(control.saveComplete.load(), 1);
        EXPECT_FALSE(running.load());
        EXPECT_FALSE(fs::exists(dir.path() / "x"));
    }
}

}  // namespace
