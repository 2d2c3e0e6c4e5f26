// What a saved run holds in the flows users meet: a save on a fresh cache, right after watching
// live, twice in a row, with the ring's newest slot at 99, against a recorder that answers oddly.
// Every saved run is read the way the viewer plays it and checked by the verifier.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "control/download/CacheSlots.h"
#include "platform/audio/AudioStream.h"
#include "recording/manifest/Manifest.h"
#include "tests/picvox_run/RunRig.h"
#include "tests/support/RunProgram.h"

namespace {

using namespace runrig;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using picvox::RunText;

// The sound clock position (ms) of each sample of a sound made by a recorder with clockSound
// (16-bit mono: each sample holds its position modulo 65536).
std::vector<std::uint32_t> clockOf(const picvox::WavClip& sound) {
    std::vector<std::uint32_t> ms(sound.dataBytes / 2);
    for (std::size_t i = 0; i < ms.size(); ++i)
        ms[i] = sound.data[2 * i] | (sound.data[2 * i + 1] << 8);
    return ms;
}

std::vector<fs::path> frameFiles(const fs::path& folder) {
    std::vector<fs::path> frames;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".jp2")
            frames.push_back(it->path());
    }
    // IMG00001/000001.jp2 ... sort as the recording numbers them.
    std::sort(frames.begin(), frames.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    return frames;
}

// A saved run as a viewer plays it: each frame at its relative time less the first frame's,
// against the saved sound. With a recorder whose sound is its own clock, also where the sound
// starts on the recorder's clock and whether it runs on without a gap.
struct SavedRun {
    fs::path folder;
    std::uint32_t soundMs = 0;
    std::uint32_t soundStartMs = 0;  // recorder clock at the first saved sample (clock sound)
    std::size_t soundGaps = 0;       // samples that do not follow on from the one before
    std::vector<std::uint32_t> rel;  // each frame's relative time, in file order
    std::vector<std::int64_t> positionMs;
    korvex::verify::VerifyReport report;
    int verifyStatus = -1;
    std::vector<std::string> listed;  // the SHA256SUMS paths, in their order
};

// The manifest's entries; every one is checked against the file it names.
std::vector<std::string> trueManifestLines(const fs::path& folder) {
    korvex::manifest::Reader reader;
    EXPECT_EQ(reader.open((folder / "SHA256SUMS").string()), 0) << folder;
    std::vector<std::string> paths;
    korvex::manifest::Entry e;
    korvex::Sha256 hasher;
    std::vector<std::uint8_t> buffer;
    while (reader.next(e)) {
        korvex::Sha256Digest actual{};
        EXPECT_EQ(korvex::sha256File((folder / e.path).string(), actual, buffer, hasher), 0)
            << e.path;
        EXPECT_EQ(actual, e.digest) << "the manifest's line for " << e.path << " is not true";
        paths.push_back(e.path);
    }
    EXPECT_EQ(reader.malformed() + reader.outside(), 0u);
    EXPECT_FALSE(reader.cutShort());
    return paths;
}

// What an investigator runs without our programs.
int sha256sumCheck(const fs::path& folder) {
    const std::string command =
        "cd '" + folder.string() + "' && sha256sum --quiet --strict -c SHA256SUMS";
    return std::system(command.c_str());
}

SavedRun readSavedRun(const fs::path& folder, bool clockSound) {
    SavedRun run;
    run.folder = folder;
    picvox::WavClip sound;
    EXPECT_TRUE(picvox::ReadWavFile(sound, (folder / "sound.wav").string())) << folder;
    run.soundMs = picvox::PlayTimeMs(sound.dataBytes, sound.avgBytesPerSec());
    if (clockSound && sound.bitsPerSample() == 16 && sound.channels() == 1 && sound.dataBytes) {
        const std::vector<std::uint32_t> clock = clockOf(sound);
        const std::uint32_t rate = sound.samplesPerSec();
        // The ramp holds whole milliseconds: the first sample of a new value starts that ms.
        std::size_t firstStep = 1;
        while (firstStep < clock.size() && clock[firstStep] == clock.front())
            ++firstStep;
        const std::uint64_t startSample = (clock.front() + 1ull) * rate / 1000 - firstStep;
        run.soundStartMs = static_cast<std::uint32_t>(startSample * 1000 / rate);
        for (std::size_t i = 0; i < clock.size(); ++i)
            run.soundGaps += clock[i] != (((startSample + i) * 1000 / rate) & 0xFFFF);
    }
    for (const fs::path& frame : frameFiles(folder)) {
        std::uint32_t rel = 0;
        EXPECT_EQ(picvox::ReadRelTime(frame.string(), rel), 1) << frame;
        run.rel.push_back(rel);
    }
    for (const std::uint32_t rel : run.rel)
        run.positionMs.push_back(static_cast<std::int64_t>(rel) - run.rel.front());
    std::string error;
    if (korvex::verify::verifyRecording(folder.string(), run.report, error))
        run.verifyStatus = korvex::verify::exitStatusOf(run.report.summary);
    else
        ADD_FAILURE() << "korvex-verify: " << error;
    run.listed = trueManifestLines(folder);
    EXPECT_EQ(sha256sumCheck(folder), 0) << folder;
    return run;
}

// The manifest of a complete save lists every frame in the order saved, then the sound.
void expectCompleteManifest(const SavedRun& run) {
    std::vector<std::string> expected;
    for (const fs::path& frame : frameFiles(run.folder))
        expected.push_back(fs::relative(frame, run.folder).string());
    expected.push_back("sound.wav");
    EXPECT_EQ(run.listed, expected);
}

struct InStep {
    int saveTime = 0;           // seconds of sound the run must hold
    int requestIntervalMs = 0;  // a picture per request period
    bool clockSound = false;    // the recorder's sound is its clock: check the stretch too
    // The longest stretch without a picture: two request periods, or on a fresh cache the time
    // it takes to fill (sound has priority then, no picture is fetched).
    int maxGapMs = 0;
};

// The promises of a complete save with sound: exactly save_time of sound, one forward stretch of
// the recorder's; frames in order, the first at the sound's start, every one inside the sound,
// none from before its first second, the last within about one request period of its end, none
// more than two periods after the one before; the verifier passes the run, frames ordered by
// time and every offset inside the sound.
void expectInStep(const SavedRun& run, const InStep& s) {
    SCOPED_TRACE(run.folder.string());
    EXPECT_EQ(run.soundMs, static_cast<std::uint32_t>(s.saveTime) * 1000u);
    ASSERT_FALSE(run.rel.empty());
    const std::int64_t length = run.soundMs;
    for (std::size_t i = 0; i < run.positionMs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(run.positionMs[i], 0);
        EXPECT_LT(run.positionMs[i], length);
        if (i > 0) {
            EXPECT_GE(run.positionMs[i], run.positionMs[i - 1]);
            const int maxGap = s.maxGapMs != 0 ? s.maxGapMs : 2 * s.requestIntervalMs + 500;
            EXPECT_LE(run.positionMs[i] - run.positionMs[i - 1], maxGap);
        }
    }
    const std::int64_t lastGapMs = length - run.positionMs.back();
    EXPECT_LE(lastGapMs, s.requestIntervalMs + 700) << "the pictures stop before the sound";
    if (s.clockSound) {
        EXPECT_EQ(run.soundGaps, 0u) << "the saved sound is not one stretch";
        // On the recorder's clock: the first frame at the sound's start, none taken before it.
        const std::int64_t alignment =
            static_cast<std::int64_t>(run.rel.front()) - run.soundStartMs;
        EXPECT_LE(std::abs(alignment), 300)
            << "first frame " << run.rel.front() << " ms, sound from " << run.soundStartMs << " ms";
    }
    EXPECT_EQ(run.verifyStatus, 0);
    expectCompleteManifest(run);
    const auto& frames = run.report.frames;
    EXPECT_EQ(frames.size(), run.rel.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NE(frames[i].time, 0) << frames[i].path;
        if (i > 0) {
            EXPECT_GE(frames[i].time, frames[i - 1].time) << frames[i].path;
        }
        EXPECT_LT(frames[i].offsetMs - frames.front().offsetMs, run.soundMs) << frames[i].path;
    }
    std::printf(
        "[ figures  ] %s: %zu frames over %lld ms of %lld ms of sound (last %lld ms "
        "before the end)\n",
        run.folder.filename().c_str(), run.rel.size(),
        static_cast<long long>(run.positionMs.back()), static_cast<long long>(length),
        static_cast<long long>(lastGapMs));
}

// The cache time of the in-step flows. Pictures are fetched only while the ring holds more than
// 70 % of it, and the ring drops a second at a time: below about 3.4 s of cache a healthy stream
// skips pictures at some phases of the feeder against the recorder, so the last one could miss
// the sound's end by two request periods.
constexpr int kInStepCacheMs = 4000;

korvex::sim::DvrSimOptions clockRecorder() {
    korvex::sim::DvrSimOptions options;
    options.content.clockSound = true;
    options.content.width = 64;
    options.content.height = 48;
    return options;
}

::testing::AssertionResult completeReported(Rig& rig) {
    const std::vector<std::string> messages = rig.control.messages();
    if (messages.size() == 1 && messages[0].rfind("complete", 0) == 0)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << messages.size() << " messages:";
    for (const std::string& m : messages)
        failure << " [" << m << "]";
    return failure;
}

// Runs one save with sound and waits for its result; the message list is checked by the caller.
void saveOnce(Rig& rig, int saveTime) {
    rig.control.saveComplete = 0;
    rig.start(Mode::SaveWithSound, saveTime);
    EXPECT_TRUE(rig.waitReported(60s));
    rig.engine.stop();
}

// ---- The flows ----

TEST(SavedRun, FreshCacheSavesTheStretchInStep) {
    Rig rig("saved-fresh", clockRecorder());
    rig.cacheTimeMs = kInStepCacheMs;
    saveOnce(rig, 6);
    ASSERT_TRUE(completeReported(rig));
    expectInStep(readSavedRun(rig.runFolder(), true),
                 {6, rig.requestIntervalMs, true, rig.cacheTimeMs + 2 * rig.requestIntervalMs});
}

// Watching live, then saving at once: the save continues the cache, its sound begins five
// seconds before what was heard, and its pictures span the whole sound instead of trailing it.
TEST(SavedRun, SaveRightAfterWatchingLive) {
    Rig rig("saved-after-live", clockRecorder());
    rig.cacheTimeMs = kInStepCacheMs;
    rig.start(Mode::Live);
    // The cache holds the pre-roll and the cache time, and the ring's pictures.
    ASSERT_TRUE(waitFor(
        [&] { return picvox::CacheShortfall(5000 + kInStepCacheMs, rig.cache) == 0; }, 30s));
    std::this_thread::sleep_for(3s);
    rig.engine.stop();
    saveOnce(rig, 8);
    ASSERT_TRUE(completeReported(rig));
    const SavedRun run = readSavedRun(rig.runFolder(), true);
    expectInStep(run, {8, rig.requestIntervalMs, true});
    // Pre-roll from the cache: pictures from the first second on.
    EXPECT_LE(run.positionMs.size() > 1 ? run.positionMs[1] : 0, rig.requestIntervalMs + 500);
}

// Two saves in a row against one recorder each hold their own stretch in step; against a
// recorder started afresh (another process, another port), the old cache is not spliced in.
TEST(SavedRun, SaveTwiceInARow) {
    for (const bool newRecorder : {false, true}) {
        SCOPED_TRACE(newRecorder ? "new recorder" : "same recorder");
        Rig rig(newRecorder ? "saved-twice-new" : "saved-twice", clockRecorder());
        rig.cacheTimeMs = kInStepCacheMs;
        saveOnce(rig, 5);
        ASSERT_TRUE(completeReported(rig));
        const std::string first = rig.runFolder();
        if (newRecorder) {
            rig.sim.stop();
            std::string error;
            ASSERT_TRUE(rig.sim.start(&error)) << error;
            rig.control.setText(RunText::LocationBase, rig.sim.baseUrl());
        }
        rig.control.setText(RunText::Destination, rig.destination);
        saveOnce(rig, 5);
        ASSERT_EQ(rig.control.messages().size(), 2u);
        EXPECT_EQ(rig.control.messages()[1].rfind("complete", 0), 0u) << rig.control.messages()[1];
        const std::string second = rig.runFolder();
        EXPECT_NE(first, second);
        const int fillGapMs = rig.cacheTimeMs + 2 * rig.requestIntervalMs;
        expectInStep(readSavedRun(first, true), {5, rig.requestIntervalMs, true, fillGapMs});
        expectInStep(readSavedRun(second, true), {5, rig.requestIntervalMs, true, fillGapMs});
    }
}

// Renames the slot files of a cache folder so that its newest slot is 99, keeping every file's
// times (so its place in the ring's order) and the ring's order itself.
void moveNewestTo99(const fs::path& folder) {
    std::vector<std::pair<fs::file_time_type, int>> slots;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 6 && name.substr(2) == (folder.filename() == "WAVE2" ? ".wav" : ".jp2"))
            slots.emplace_back(fs::last_write_time(entry.path()), std::stoi(name.substr(0, 2)));
    }
    ASSERT_FALSE(slots.empty());
    const int newest = std::max_element(slots.begin(), slots.end())->second;
    const int shift = 99 - newest;
    const fs::path staging = folder.parent_path() / (folder.filename().string() + ".moving");
    fs::rename(folder, staging);
    fs::create_directory(folder);
    for (const auto& entry : fs::directory_iterator(staging)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 6)
            continue;
        const int slot = (std::stoi(name.substr(0, 2)) - 1 + shift + 99) % 99 + 1;
        char moved[8];
        std::snprintf(moved, sizeof moved, "%02d%s", slot, name.substr(2).c_str());
        fs::rename(entry.path(), folder / moved);
    }
    fs::remove_all(staging);
}

// The newest cached sound and picture sit in slot 99 when the save starts: the save goes on at
// slot 1 after them, not from the oldest slot of the ring.
TEST(SavedRun, SaveWithTheNewestSlotAt99) {
    Rig rig("saved-slot99", clockRecorder());
    rig.cacheTimeMs = kInStepCacheMs;
    rig.start(Mode::Live);
    ASSERT_TRUE(waitFor(
        [&] { return picvox::CacheShortfall(5000 + kInStepCacheMs, rig.cache) == 0; }, 30s));
    std::this_thread::sleep_for(2s);
    rig.engine.stop();
    moveNewestTo99(fs::path(rig.cache) / "WAVE2");
    moveNewestTo99(fs::path(rig.cache) / "J2K2");
    ASSERT_EQ(picvox::LatestSlot({rig.cache, picvox::SlotClock::ModificationTime},
                                 picvox::SlotKind::Sound),
              99);
    saveOnce(rig, 6);
    ASSERT_TRUE(completeReported(rig));
    expectInStep(readSavedRun(rig.runFolder(), true), {6, rig.requestIntervalMs, true});
}

// Without a sound device the sound plays unheard at its real pace: the save is complete and in
// step, and the page was told once why nothing is heard.
TEST(SavedRun, SaveWithoutASoundDevice) {
    platform::ScopedNoSoundDevice noDevice;
    Rig rig("saved-no-device", clockRecorder());
    rig.cacheTimeMs = kInStepCacheMs;
    saveOnce(rig, 5);
    ASSERT_TRUE(completeReported(rig));
    expectInStep(readSavedRun(rig.runFolder(), true),
                 {5, rig.requestIntervalMs, true, rig.cacheTimeMs + 2 * rig.requestIntervalMs});
    const std::vector<std::string> told = rig.control.statuses();
    ASSERT_FALSE(told.empty());
    EXPECT_NE(told.front().find("No sound device"), std::string::npos) << told.front();
}

// ---- A recorder that answers oddly ----

// One failed picture that a retry fetches is no failure: the run is complete.
TEST(SavedRun, APictureThatWorksOnRetryLeavesTheRunComplete) {
    korvex::sim::DvrSimOptions options = clockRecorder();
    options.faults.errorStatus = 500;
    options.faults.errorCount = 1;
    options.faults.path = korvex::sim::DvrSim::kLiveImagePath;
    Rig rig("saved-retry", options);
    rig.cacheTimeMs = kInStepCacheMs;
    saveOnce(rig, 5);
    ASSERT_TRUE(completeReported(rig));
    expectInStep(readSavedRun(rig.runFolder(), true),
                 {5, rig.requestIntervalMs, true, rig.cacheTimeMs + 2 * rig.requestIntervalMs});
}

// Pictures answered with a redirect are no pictures: a save whose every picture redirects ends
// with the error message, saying why, and saves no frame counted as one.
TEST(SavedRun, PicturesAnsweredWithARedirectFailTheSave) {
    korvex::sim::DvrSimOptions options = clockRecorder();
    options.faults.redirectStatus = 302;
    options.faults.path = korvex::sim::DvrSim::kLiveImagePath;
    Rig rig("saved-redirect", options);
    saveOnce(rig, 4);
    const std::vector<std::string> messages = rig.control.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error", 0), 0u) << messages[0];
    EXPECT_EQ(framesIn(rig.runFolder()), 0);
}

// The recorder switches its sound format during the save: the save ends there with the error
// message naming the change, and its sound.wav is a valid file of what came before, in the first
// format only.
TEST(SavedRun, ASoundFormatSwitchEndsTheSaveWithAValidFile) {
    korvex::sim::DvrSimOptions options = clockRecorder();
    korvex::sim::FormatSwitch change;
    change.afterSegments = 9;
    change.format.sampleRate = 16000;
    change.format.channels = 2;
    change.format.bitsPerSample = 16;
    options.formatSwitch = change;
    Rig rig("saved-format", options);
    saveOnce(rig, 20);
    const std::vector<std::string> messages = rig.control.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("sound format changed"), std::string::npos) << messages[0];
    picvox::WavClip sound;
    ASSERT_TRUE(picvox::ReadWavFile(sound, rig.runFolder() + "/sound.wav"));
    EXPECT_EQ(sound.samplesPerSec(), 8000u);
    EXPECT_EQ(sound.channels(), 1u);
    EXPECT_GT(sound.dataBytes, 0u);
    EXPECT_LT(sound.dataBytes, 20u * sound.avgBytesPerSec());
    const SavedRun run = readSavedRun(rig.runFolder(), true);
    EXPECT_EQ(run.soundGaps, 0u);
    // A save that failed lists its whole frames and no sound: it did not complete.
    EXPECT_FALSE(run.listed.empty());
    EXPECT_EQ(std::count(run.listed.begin(), run.listed.end(), "sound.wav"), 0);
}

// ---- A save cut off ----

// A child process of picvox-host, killed (never asked to stop) by the test.
class HostProcess {
public:
    HostProcess(const std::string& program, const std::vector<std::string>& args,
                const fs::path& home) {
        // A scratch user: nothing of the real one's home, settings or folders is touched.
        const std::string h = home.string();
        std::vector<std::string> env = {"HOME=" + h,
                                        "XDG_CONFIG_HOME=" + h + "/cfg",
                                        "XDG_DOCUMENTS_DIR=" + h + "/docs",
                                        "XDG_CACHE_HOME=" + h + "/cache",
                                        "TMPDIR=" + h,
                                        "DISPLAY=",
                                        "WAYLAND_DISPLAY=",
                                        "QT_QPA_PLATFORM=",
                                        "SDL_AUDIODRIVER=dummy"};
        const std::string log = (home / "host.log").string();
        pid_ = korvex::test::startProgram(program, args, env, log, log);
    }
    ~HostProcess() { kill(); }
    bool running() const { return pid_ > 0; }
    void kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

std::string readLog(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int linesOf(const fs::path& file) {
    std::ifstream in(file);
    return static_cast<int>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

// A save with sound cut off by a kill: its manifest, watched while the save runs and read again
// after the kill, holds only true lines, the frames in the order saved; the sound, which the run
// never finished, is not listed, and a viewer would open the run all the same.
TEST(SavedRunKilled, EveryManifestLineIsTrueDuringTheSaveAndAfterAKill) {
    const char* host = std::getenv("PICVOX_HOST");
    if (host == nullptr || *host == '\0')
        GTEST_SKIP() << "picvox-host is not built";
    TempDir dir("saved-killed");
    fs::create_directories(dir.path() / "docs");
    HostProcess child(
        host,
        {"--headless", "--demo", "save", "--set", "save_time=120", "--set",
         "wave_request_interval=300", "--set", "CacheTime=2000", "--run-seconds", "200"},
        dir.path());
    ASSERT_TRUE(child.running());
    fs::path run;
    int seen = 0;
    const bool grew = waitFor(
        [&] {
            std::error_code ec;
            if (run.empty()) {
                // The demo saves under the home folder when it has no Videos folder.
                for (fs::directory_iterator it(dir.path() / "Picvox", ec), end; !ec && it != end;
                     it.increment(ec)) {
                    if (it->is_directory())
                        run = it->path();
                }
                return false;
            }
            const int n = linesOf(run / "SHA256SUMS");
            if (n > seen) {
                // Each time the manifest grows while the frames are being saved, it is true.
                seen = n;
                trueManifestLines(run);
            }
            return n >= 6;
        },
        90s);
    ASSERT_TRUE(grew) << run << ": " << seen << " lines\n" << readLog(dir.path() / "host.log");
    child.kill();

    const std::vector<std::string> listed = trueManifestLines(run);
    EXPECT_EQ(sha256sumCheck(run), 0);
    ASSERT_TRUE(fs::exists(run / "sound.wav"));
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "sound.wav"), 0);
    // The listed frames are the first ones saved, in their order; the ones after them were still
    // waiting for their folder's sync.
    std::vector<std::string> frames;
    for (const fs::path& frame : frameFiles(run))
        frames.push_back(fs::relative(frame, run).string());
    ASSERT_LE(listed.size(), frames.size());
    EXPECT_TRUE(std::equal(listed.begin(), listed.end(), frames.begin()));
}

// The long flows of a save after watching live, as users meet them (a minute and more each): run
// with PICVOX_LONG_TESTS=1. Each prints its figures and holds the same promises.
TEST(SavedRunLong, LongLiveRunsThenSaves) {
    if (!std::getenv("PICVOX_LONG_TESTS"))
        GTEST_SKIP() << "long case: set PICVOX_LONG_TESTS=1";
    const struct {
        const char* what;
        int cacheTimeMs, liveSeconds, pauseSeconds, saveTime;
    } cases[] = {{"live 25 s, CacheTime 4 s, save 12 s", 4000, 25, 0, 12},
                 {"live 20 s, CacheTime 5 s, save 20 s", 5000, 20, 0, 20},
                 {"live 20 s, a 20 s pause, save 20 s", 5000, 20, 20, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::printf("[ figures  ] %s\n", c.what);
        Rig rig("saved-long", clockRecorder());
        rig.cacheTimeMs = c.cacheTimeMs;
        rig.start(Mode::Live);
        std::this_thread::sleep_for(std::chrono::seconds(c.liveSeconds));
        rig.engine.stop();
        std::this_thread::sleep_for(std::chrono::seconds(c.pauseSeconds));
        saveOnce(rig, c.saveTime);
        ASSERT_TRUE(completeReported(rig));
        // After a pause the cache is no longer continuous: the save starts on a fresh one.
        const int gap = c.pauseSeconds > 0 ? c.cacheTimeMs + 2 * rig.requestIntervalMs : 0;
        expectInStep(readSavedRun(rig.runFolder(), true),
                     {c.saveTime, rig.requestIntervalMs, true, gap});
    }
}

// ---- Settings that would save the wrong thing ----

// A model that names another folder, a time order the saver cannot print, a cache time out of
// range in a folder choice: refused at the start, naming the property, with nothing written.
TEST(SavedRun, SettingsOutOfRangeAreRefusedByName) {
    const struct {
        const char* what;
        const char* model;
        int hddSave;
        int destinationSW;
        int timestampOrder;
        int cacheTimeMs;
        const char* named;
    } cases[] = {
        {"escaping model", "../../ESCAPED", 1, 0, 0, 2000, "model"},
        {"model with a separator", "a/b", 1, 0, 0, 2000, "model"},
        {"time order", "TRM", 1, 0, 3, 2000, "TimestampOrder"},
        {"folder choice cache time", "TRM", 0, 1, 0, 0, "CacheTime"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig("saved-settings");
        rig.control.setText(RunText::Model, c.model);
        picvox::RunSettings s;
        s.hddSave = c.hddSave;
        s.destinationSW = c.destinationSW;
        s.timestampOrder = c.timestampOrder;
        s.cacheTimeMs = c.cacheTimeMs;
        s.waveRequestIntervalMs = 1000;
        s.saveTime = 3;
        ASSERT_TRUE(rig.engine.start(s));
        ASSERT_TRUE(rig.waitReported(15s));
        rig.engine.stop();
        const std::vector<std::string> messages = rig.control.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("error\n", 0), 0u) << messages[0];
        EXPECT_NE(messages[0].find(c.named), std::string::npos) << messages[0];
        EXPECT_FALSE(fs::exists(rig.dir.path() / "ESCAPED"));
        EXPECT_FALSE(fs::exists(rig.dir.path().parent_path() / "ESCAPED"));
        EXPECT_FALSE(fs::exists(rig.destination) && !fs::is_empty(rig.destination));
    }
}

// With destinationSW set a save still makes a run folder of its own: a second save adds one
// beside it instead of replacing the first one's frames and sound.
TEST(SavedRun, EverySaveWritesIntoAFolderOfItsOwn) {
    Rig rig("saved-own-folder");
    std::vector<std::string> folders;
    for (int i = 0; i < 2; ++i) {
        rig.control.saveComplete = 0;
        rig.control.setText(RunText::Destination, rig.destination);
        picvox::RunSettings s;
        s.hddSave = 1;
        s.pictureInterval = 300;
        s.destinationSW = 1;
        s.saveTime = 1;
        s.waveRequestIntervalMs = 1000;
        ASSERT_TRUE(rig.engine.start(s));
        ASSERT_TRUE(rig.waitReported(20s));
        rig.engine.stop();
        folders.push_back(rig.runFolder());
    }
    EXPECT_NE(folders[0], folders[1]);
    for (const std::string& folder : folders) {
        EXPECT_EQ(fs::path(folder).parent_path(), fs::path(rig.destination)) << folder;
        EXPECT_GT(framesIn(folder), 0) << folder;
    }
}

}  // namespace
