// picvox-host as a user runs it: usage errors, registration, and headless runs against the
// built-in recorder in each mode, their saved runs checked by the verifier and drawn by the
// viewer.
#include <gtest/gtest.h>

#include <QImage>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/ToolsTestSupport.h"

namespace {

using toolstest::RunResult;
using toolstest::TempDir;
namespace fs = std::filesystem;

std::string program(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A scratch user: home, settings, documents (with the log switch on, so that the control's log
// shows what ran) and cache.
class HostUser {
public:
    HostUser() {
        fs::create_directories(dir_.path() / "docs");
        std::ofstream(dir_.path() / "docs/Picvox.ini") << "";
    }
    RunResult run(const std::vector<std::string>& args) const {
        return toolstest::runProgram(program("PICVOX_HOST"), args, dir_.path(), env());
    }
    std::vector<std::string> env() const {
        const std::string home = dir_.path().string();
        return {"HOME=" + home,
                "XDG_CONFIG_HOME=" + home + "/cfg",
                "XDG_DOCUMENTS_DIR=" + home + "/docs",
                "XDG_CACHE_HOME=" + home + "/cache",
                "TMPDIR=" + home,
                "DISPLAY=",
                "WAYLAND_DISPLAY=",
                "QT_QPA_PLATFORM=",
                "SDL_AUDIODRIVER=dummy"};
    }
    // Whether Start ran the control's main process thread (a build without the run engine
    // starts nothing).
    bool engineRan() const {
        return toolstest::readText(dir_.path() / "docs/Picvox_log.log")
                   .find("MainProcessThread START!!") != std::string::npos;
    }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
};

std::string lineStartingWith(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size());
    }
    return {};
}

struct UsageCase {
    std::vector<std::string> args;
    std::vector<std::string> named;
};

class HostUsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(HostUsageErrors, ExitTwoNamingTheCulprit) {
    HostUser user;
    const RunResult r = user.run(GetParam().args);
    EXPECT_EQ(r.status, 2) << r.err;
    for (const std::string& word : GetParam().named)
        EXPECT_NE(r.err.find(word), std::string::npos) << r.err;
    // Nothing was started: a usage error leaves no run behind.
    EXPECT_FALSE(user.engineRan());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostUsageErrors,
    ::testing::Values(UsageCase{{"--bogus"}, {"--bogus"}},
                      UsageCase{{"--headless", "--set", "NoSuchThing=1"}, {"NoSuchThing"}},
                      UsageCase{{"--headless", "--set", "CACHETIME=12x"}, {"CACHETIME", "12x"}},
                      UsageCase{{"--headless", "--set", "mask_height=1.5"}, {"1.5"}},
                      // Methods are not properties.
                      UsageCase{{"--headless", "--set", "Start=1"}, {"Start"}},
                      // The settings are applied in order: the bad one stops the rest.
                      UsageCase{{"--headless", "--set", "model=ABC", "--set", "save_time=x"},
                                {"save_time"}},
                      UsageCase{{"--headless", "--demo", "--set", "hdd_save=on"}, {"hdd_save"}}));

TEST(HostRegistration, RegistersItsOwnModuleOnceAndUnregisters) {
    HostUser user;
    // Without properties a run reports the page's error at once; only the registration counts.
    const RunResult first = user.run({"--headless", "--run-seconds", "1"});
    EXPECT_NE(first.status, 2) << first.err;
    EXPECT_NE(first.err.find("registered Picvox.Picvoxer.1"), std::string::npos) << first.err;
    const std::string store = toolstest::readText(user.dir().path() / "cfg/korvex/registry.ini");
    EXPECT_NE(store.find("libpicvox.so"), std::string::npos);

    const RunResult second = user.run({"--headless", "--run-seconds", "1"});
    EXPECT_NE(second.status, 2) << second.err;
    EXPECT_EQ(second.err.find("registered"), std::string::npos) << second.err;

    EXPECT_EQ(user.run({"--unregister"}).status, 0);
    const std::string after = toolstest::readText(user.dir().path() / "cfg/korvex/registry.ini");
    EXPECT_EQ(after.find("libpicvox.so"), std::string::npos) << after;
}

TEST(HostHeadless, ScreenshotIsTheControlsAreaAtTheGivenSize) {
    HostUser user;
    const std::string shot = user.dir() / "area.png";
    const RunResult r = user.run({"--headless", "--demo", "live", "--size", "320x240",
                                  "--run-seconds", "2", "--screenshot", shot});
    EXPECT_EQ(r.status, 0) << r.err;
    const QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(320, 240));
}

// ---- end to end against the built-in recorder ----

struct ModeCase {
    const char* mode;
    std::vector<std::string> extra;
    bool saves;
};

class HostDemoModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(HostDemoModes, RunEndsCleanAndTheSavedRunOpens) {
    const ModeCase& c = GetParam();
    HostUser user;
    const std::string shot = user.dir() / "host.png";
    std::vector<std::string> args = {"--headless", "--demo", c.mode, "--screenshot", shot};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const RunResult r = user.run(args);
    EXPECT_TRUE(user.engineRan()) << r.err;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(QImage(QString::fromStdString(shot)).isNull());
    const std::string saved = lineStartingWith(r.out, "saved ");
    if (!c.saves) {
        EXPECT_EQ(saved, "") << r.out;
        EXPECT_EQ(r.out.find("message "), std::string::npos) << r.out;
        return;
    }
    // The save ends with the page's completion message, and the run folder lies under the
    // demo's destination.
    EXPECT_NE(r.out.find("message Tessaly: Preservation of a sound and images was completed."),
              std::string::npos)
        << r.out;
    ASSERT_FALSE(saved.empty()) << r.out << r.err;
    EXPECT_EQ(saved.rfind((user.dir().path() / "Picvox").string(), 0), 0u) << saved;

    const RunResult verify =
        toolstest::runProgram(program("KORVEX_VERIFY"), {saved}, user.dir().path(), user.env());
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    // The run's manifest passes sha256sum and, the run being complete, lists its last files.
    const RunResult sums = toolstest::runProgram(
        "/bin/sh", {"-c", "cd \"$0\" && sha256sum --strict -c SHA256SUMS", saved},
        user.dir().path());
    EXPECT_EQ(sums.status, 0) << sums.out << sums.err;
    if (std::string(c.mode) != "pictures") {
        EXPECT_NE(sums.out.find("sound.wav: OK"), std::string::npos) << sums.out;
    }
    if (std::string(c.mode) == "download") {
        EXPECT_NE(sums.out.find(".INF: OK"), std::string::npos) << sums.out;
    }

    // The viewer reads its brand file from the folder it starts in.
    const fs::path viewerDir = user.dir().path() / "viewer";
    fs::create_directories(viewerDir);
    ASSERT_EQ(toolstest::runProgram(program("KORVEX_BRAND"),
                                    {"--brand", "0", "--dir", viewerDir.string()}, viewerDir)
                  .status,
              0);
    const std::string viewerShot = user.dir() / "viewer.png";
    std::vector<std::string> viewerEnv = user.env();
    viewerEnv.push_back("QT_QPA_PLATFORM=offscreen");
    const std::string viewer = program("KORVEX_VIEWER");
    const std::string cmd = "cd '" + viewerDir.string() + "' && exec '" + viewer +
                            "' --screenshot '" + viewerShot + "' '" + saved + "'";
    const RunResult drawn =
        toolstest::runProgram("/bin/sh", {"-c", cmd}, user.dir().path(), viewerEnv);
    EXPECT_EQ(drawn.status, 0) << drawn.out << drawn.err;
    EXPECT_FALSE(QImage(QString::fromStdString(viewerShot)).isNull());
}

// Short runs: a few seconds of saving, each bounded by --run-seconds.
INSTANTIATE_TEST_SUITE_P(
    Modes, HostDemoModes,
    ::testing::Values(ModeCase{"live", {"--run-seconds", "5"}, false},
                      ModeCase{"save", {"--set", "save_time=4", "--run-seconds", "30"}, true},
                      ModeCase{"pictures", {"--set", "save_time=3", "--run-seconds", "30"}, true},
                      ModeCase{"download", {"--run-seconds", "30"}, true}),
    [](const auto& info) { return std::string(info.param.mode); });

// A machine without a sound card (the test switch, with no driver chosen for the sound library):
// a save with sound needs no loudspeaker. It runs to its end, and nothing of the sound
// library's complaints reaches the terminal.
TEST(HostWithoutSoundDevice, SaveRunsToItsEndAndStderrStaysClean) {
    HostUser user;
    std::vector<std::string> env = user.env();
    std::erase(env, std::string("SDL_AUDIODRIVER=dummy"));
    env.push_back("SDL_AUDIODRIVER");  // unset: the library probes its real drivers
    env.push_back("KORVEX_FAKE_NO_SOUND_DEVICE=1");
    const RunResult r = toolstest::runProgram(
        program("PICVOX_HOST"),
        {"--headless", "--demo", "save", "--set", "save_time=4", "--run-seconds", "30"},
        user.dir().path(), env);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("message Tessaly: Preservation of a sound and images was completed."),
              std::string::npos)
        << r.out;
    const std::string saved = lineStartingWith(r.out, "saved ");
    ASSERT_FALSE(saved.empty()) << r.out << r.err;
    // The page is told once that the sound is not heard.
    const std::string told = "status No sound device: the sound is not heard";
    ASSERT_NE(r.out.find(told), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(told, r.out.find(told) + 1), std::string::npos) << r.out;
    // Only the host's own lines: no "ALSA lib ..." or any other library's.
    std::istringstream err(r.err);
    for (std::string line; std::getline(err, line);)
        EXPECT_EQ(line.rfind("picvox-host: ", 0), 0u) << line;
    // The switch did its work: the player was made without a device, and said so once.
    const std::string log = toolstest::readText(user.dir().path() / "docs/Picvox_log.log");
    const std::string silent = "DXSInit サウンドデバイスなし";
    ASSERT_NE(log.find(silent), std::string::npos) << log.substr(0, 4000);
    EXPECT_EQ(log.find(silent, log.find(silent) + 1), std::string::npos);
    const RunResult verify =
        toolstest::runProgram(program("KORVEX_VERIFY"), {saved}, user.dir().path(), user.env());
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
}

}  // namespace
