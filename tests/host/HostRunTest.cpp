// picvox-host as a user runs it: usage errors, registration, and headless runs against the
// built-in recorder in each mode, their saved runs checked by the verifier and drawn by the
// viewer.
#include <gtest/gtest.h>

#include <QImage>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/http/TestCertificate.h"
#include "tests/tools/ToolsTestSupport.h"
#include "tools/dvrsim/DvrSim.h"

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

// ---- a recorder behind a login and HTTPS with a certificate of its own ----

constexpr const char* kPassword = "Qz8-hunter-Wk3";

class HostAccess : public ::testing::Test {
protected:
    void SetUp() override {
        certificate_.write((keys_.path() / "recorder").string());
        korvex::sim::DvrSimOptions options;
        options.prerollMs = 3000;
        options.tls = korvex::sim::SimTls{(keys_.path() / "recorder.crt").string(),
                                          (keys_.path() / "recorder.key").string()};
        options.login = {korvex::sim::SimLoginKind::Digest, "admin", kPassword, "dvrsim"};
        sim_ = std::make_unique<korvex::sim::DvrSim>(options);
        std::string error;
        ASSERT_TRUE(sim_->start(&error)) << error;
        std::ofstream(keys_.path() / "password") << kPassword << "\nsecond line\n";
    }
    std::vector<std::string> liveArgs(int seconds) const {
        return {"--headless",
                "--set",
                "Location=" + sim_->baseUrl() + "index.html",
                "--set",
                "ImageFileURL=dvr/live.jp2",
                "--set",
                "WaveFileURL=dvr/live.wav",
                "--set",
                "InitWaveFileURL=dvr/live_init.wav",
                "--set",
                "CacheTime=3000",
                "--run-seconds",
                std::to_string(seconds)};
    }
    RunResult run(std::vector<std::string> extra, std::vector<std::string> env = {},
                  int seconds = 20) {
        std::vector<std::string> args = liveArgs(seconds);
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<std::string> all = user_.env();
        all.insert(all.end(), env.begin(), env.end());
        RunResult r = toolstest::runProgram(program("PICVOX_HOST"), args, user_.dir().path(), all);
        outputs_ += r.out + r.err;
        return r;
    }
    std::string passwordFile() const { return (keys_.path() / "password").string(); }

    korvex::test::TestCertificate certificate_{{}};
    TempDir keys_;  // the certificate, its key and the password file: the user's, not the run's
    HostUser user_;
    std::unique_ptr<korvex::sim::DvrSim> sim_;
    std::string outputs_;
};

TEST_F(HostAccess, EachRefusalEndsTheRunWithItsMessageAndTheLoginLeavesNoTrace) {
    const std::string fp = certificate_.sha256();
    std::string colons;
    for (std::size_t i = 0; i < fp.size(); i += 2)
        colons += (i ? ":" : "") + fp.substr(i, 2);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> env;
        int status;
        std::string message;  // "" none
    };
    const Case cases[] = {
        {"untrusted",
         {},
         {},
         1,
         "message Tessaly: the recorder's certificate is not trusted (SHA-256 " + fp + ")"},
        {"no login",
         {"--trust-certificate", colons},
         {},
         1,
         "message Tessaly: the recorder asks for a login"},
        {"wrong password",
         {"--trust-certificate", fp, "--user", "admin"},
         {"PICVOX_PASSWORD=not-" + std::string(kPassword)},
         1,
         "message Tessaly: the recorder refused the login"},
        {"right password",
         {"--trust-certificate", fp, "--user", "admin", "--password-file", passwordFile()},
         {},
         0,
         ""},
        // The page's own Location may carry the login.
        {"login in the Location",
         {"--trust-certificate", fp, "--set",
          "Location=https://admin:" + std::string(kPassword) +
              "@127.0.0.1:" + std::to_string(sim_->port()) + "/index.html"},
         {},
         0,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RunResult r = run(c.args, c.env, c.status == 0 ? 6 : 60);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (c.message.empty()) {
            EXPECT_EQ(r.out.find("message "), std::string::npos) << r.out;
        } else {
            // Said once.
            const std::size_t at = r.out.find(c.message);
            ASSERT_NE(at, std::string::npos) << r.out;
            EXPECT_EQ(r.out.find("message ", at + 1), std::string::npos) << r.out;
        }
    }
    // The good run played the recorder's sound.
    const std::string log = toolstest::readText(user_.dir().path() / "docs/Picvox_log.log");
    EXPECT_NE(log.find("SoundPlayLoop 開始"), std::string::npos);
    // Nothing any run wrote, printed or logged holds the password: every file under the user's
    // home (log, cache, settings, the captured outputs) and the outputs themselves.
    EXPECT_EQ(outputs_.find(kPassword), std::string::npos);
    std::error_code ec;
    int files = 0;
    for (fs::recursive_directory_iterator it(user_.dir().path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (!it->is_regular_file())
            continue;
        ++files;
        const std::string path = it->path().string();
        EXPECT_EQ(path.find(kPassword), std::string::npos) << path;
        EXPECT_EQ(toolstest::readText(it->path()).find(kPassword), std::string::npos) << path;
    }
    EXPECT_GT(files, 5);
}

TEST_F(HostAccess, ACertificateThatChangedIsRefusedNamingBoth) {
    const korvex::test::TestCertificate earlier({});
    const fs::path store = user_.dir().path() / "cfg/korvex/registry.ini";
    fs::create_directories(store.parent_path());
    std::ofstream(store) << "[Software\\Kalmo\\Tessaly\\TrustedCertificates]\n\"127.0.0.1:"
                         << sim_->port() << "\"=\"" << earlier.sha256() << "\"\n";
    const RunResult r = run({"--user", "admin", "--password-file", passwordFile()});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("message Tessaly: the recorder's certificate changed (SHA-256 " +
                         certificate_.sha256() + ", trusted " + earlier.sha256() + ")"),
              std::string::npos)
        << r.out;
    // Forgotten, it is asked about again (and refused, headless, without --trust-certificate).
    const std::string hostPort = "127.0.0.1:" + std::to_string(sim_->port());
    EXPECT_EQ(user_.run({"--forget-certificate", hostPort}).status, 0);
    EXPECT_EQ(user_.run({"--forget-certificate", hostPort}).status, 1);
    const RunResult again = run({"--user", "admin", "--password-file", passwordFile()});
    EXPECT_NE(again.out.find("the recorder's certificate is not trusted"), std::string::npos)
        << again.out;
}

TEST_F(HostAccess, LoginOptionsThatCannotWorkAreUsageErrors) {
    const std::string host = program("PICVOX_HOST");
    struct Case {
        std::vector<std::string> args;
        std::string named;
    };
    const Case cases[] = {
        {{"--headless", "--trust-certificate", "abc"}, "--trust-certificate"},
        {{"--headless", "--password-file", passwordFile()}, "--user"},
        {{"--headless", "--user", "admin", "--password-file", "/nonexistent/pw"}, "password file"},
        // No file, no variable and no terminal to type on.
        {{"--headless", "--user", "admin"}, "--user needs a password"},
    };
    for (const Case& c : cases) {
        std::string command = "exec \"$0\"";
        for (std::size_t i = 0; i < c.args.size(); ++i)
            command += " \"$" + std::to_string(i + 1) + "\"";
        command += " </dev/null";
        std::vector<std::string> args = {"-c", command, host};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<std::string> env = user_.env();
        env.push_back("PICVOX_PASSWORD");  // unset
        const RunResult r = toolstest::runProgram("/bin/sh", args, user_.dir().path(), env);
        EXPECT_EQ(r.status, 2) << c.named << ": " << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
}

}  // namespace
