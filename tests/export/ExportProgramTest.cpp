// korvex-export itself: the streams ffprobe finds in what it writes, a full disk and an
// interrupt that leave nothing, and its exit statuses.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "tests/export/ExportTestSupport.h"
#include "tests/tools/ToolsTestSupport.h"

namespace korvex::test {
namespace {

std::string program() {
    return toolstest::programFromEnv("KORVEX_EXPORT");
}

struct Probed {
    std::vector<std::string> codecs;  // codec_type:codec_name per stream
    long long videoFrames = -1;
    double videoSeconds = -1;
    double fileSeconds = -1;
};

// What ffprobe reports of `path`.
Probed probe(const std::string& path, const fs::path& scratch) {
    const std::string ffprobe = toolstest::programFromEnv("FFPROBE");
    const toolstest::RunResult r =
        toolstest::runProgram(ffprobe,
                              {"-v", "error", "-show_entries",
                               "stream=codec_type,codec_name,nb_frames,duration:format=duration",
                               "-of", "default=noprint_wrappers=0", path},
                              scratch);
    EXPECT_EQ(r.status, 0) << r.err;
    Probed p;
    std::istringstream lines(r.out);
    std::string line, type, name;
    std::map<std::string, std::string> stream;
    bool inFormat = false;
    while (std::getline(lines, line)) {
        if (line == "[STREAM]") {
            stream.clear();
        } else if (line == "[/STREAM]") {
            p.codecs.push_back(stream["codec_type"] + ":" + stream["codec_name"]);
            if (stream["codec_type"] == "video") {
                p.videoFrames = std::stoll(stream["nb_frames"]);
                p.videoSeconds = std::stod(stream["duration"]);
            }
        } else if (line == "[FORMAT]") {
            inFormat = true;
        } else if (const auto eq = line.find('='); eq != std::string::npos) {
            if (inFormat && line.substr(0, eq) == "duration")
                p.fileSeconds = std::stod(line.substr(eq + 1));
            else
                stream[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return p;
}

struct StreamCase {
    const char* name;
    gen::RecordingSpec spec;
    std::vector<std::string> args;
    std::vector<std::string> codecs;
    long long frames;
    double seconds;
    double frameSeconds;  // one frame of the exported list
};

gen::RecordingSpec jpegWith(gen::RecordingSpec spec, bool sound) {
    spec.pictures = PictureFormat::Jpeg;
    spec.sound = sound ? SoundFormat::Wav : SoundFormat::None;
    if (!sound)
        spec.layout = gen::FrameLayout::Flat;
    return spec;
}

gen::RecordingSpec withChannels(gen::RecordingSpec spec, std::vector<int> channels) {
    spec.channels = std::move(channels);
    return spec;
}

gen::RecordingSpec every(gen::RecordingSpec spec, std::uint32_t ms) {
    spec.intervalMs = ms;
    return spec;
}

class ProgramStreams : public ExportFixture, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(ProgramStreams, FfprobeSeesTheRecordingsFramesAndLength) {
    const StreamCase& c = GetParam();
    const std::string rec = record("rec", c.spec);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--quiet", rec, out("out.mp4")});
    const toolstest::RunResult run = toolstest::runProgram(program(), args, work_);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // --quiet
    const Probed p = probe(out("out.mp4"), work_);
    EXPECT_EQ(p.codecs, c.codecs);
    EXPECT_NEAR(static_cast<double>(p.videoFrames), static_cast<double>(c.frames), 1.0);
    EXPECT_NEAR(p.videoSeconds, c.seconds, c.frameSeconds);
    EXPECT_NEAR(p.fileSeconds, c.seconds, c.frameSeconds);
}

const std::vector<std::string> kBoth = {"video:h264", "audio:aac"};
const std::vector<std::string> kVideoOnly = {"video:h264"};

INSTANTIATE_TEST_SUITE_P(
    Recordings, ProgramStreams,
    ::testing::Values(StreamCase{"jpeg2000WithSound", smallSpec(40), {}, kBoth, 40, 4.0, 0.1},
                      StreamCase{"jpegStretch",
                                 every(jpegWith(smallSpec(30), true), 200),
                                 {"--from", "5", "--to", "24"},
                                 kBoth,
                                 20,
                                 4.0,
                                 0.2},
                      // Without sound the recorder's times set the pace: four frames a second.
                      StreamCase{"jpegWithoutSound",
                                 every(jpegWith(smallSpec(45), false), 250),
                                 {},
                                 kVideoOnly,
                                 45,
                                 11.25,
                                 0.25},
                      StreamCase{"oneChannelOfFour",
                                 withChannels(smallSpec(48), {0, 1, 2, 3}),
                                 {"--channel", "2"},
                                 kBoth,
                                 12,
                                 4.8,
                                 0.4},
                      StreamCase{"fourPanes",
                                 withChannels(smallSpec(48), {0, 1, 2, 3}),
                                 {"--panes", "4"},
                                 kBoth,
                                 48,
                                 4.8,
                                 0.1},
                      StreamCase{"fromATime",
                                 every(smallSpec(40), 250),
                                 {"--from", "2024-01-01 00:00:03", "--to", "2024-01-01 00:00:07"},
                                 kBoth,
                                 20,
                                 5.0,
                                 0.25}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// Runs the program with the file size limited to `maxBytes`, as a disk that fills up: writes past
// it fail (the signal that would kill the program is ignored, as a full disk sends none). Its
// error output comes through a pipe, which the limit does not hold for.
int runWithFullDisk(const std::vector<std::string>& args, rlim_t maxBytes, std::string& err) {
    std::vector<std::string> all = {program()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        const rlimit limit{maxBytes, maxBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    err.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        err.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ExportFixture, AFullDiskLeavesNothing) {
    const std::string rec = record("rec", smallSpec(60));
    const toolstest::RunResult whole =
        toolstest::runProgram(program(), {"--quiet", rec, out("whole.mp4")}, work_);
    ASSERT_EQ(whole.status, 0) << whole.err;
    const auto size = static_cast<rlim_t>(fs::file_size(out("whole.mp4")));
    fs::create_directories(work_ / "out");
    // Full at once, in the middle of the pictures, and just before the end (while the index
    // moves to the front).
    for (rlim_t limit : {rlim_t{0}, size / 2, size - 64}) {
        std::string err;
        const int status =
            runWithFullDisk({"--quiet", rec, (work_ / "out" / "out.mp4").string()}, limit, err);
        EXPECT_EQ(status, 1) << limit << ": " << err;
        EXPECT_NE(err.find("nothing written"), std::string::npos) << err;
        EXPECT_TRUE(filesIn(work_ / "out").empty()) << limit;
    }
}

TEST_F(ExportFixture, AnInterruptLeavesNothing) {
    gen::RecordingSpec spec = jpegWith(smallSpec(3000), true);
    const std::string rec = record("rec", spec);
    fs::create_directories(work_ / "out");
    const std::string errPath = (work_ / "int.err").string();
    std::vector<std::string> all = {program(), rec, (work_ / "out" / "out.mp4").string()};
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    // Interrupted once it is drawing frames (its first progress line).
    for (int i = 0; i < 3000 && toolstest::readText(errPath).find("frames") == std::string::npos;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGINT);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << toolstest::readText(errPath);
    EXPECT_NE(toolstest::readText(errPath).find("interrupted; nothing written"), std::string::npos);
    EXPECT_TRUE(filesIn(work_ / "out").empty());
}

TEST_F(ExportFixture, ExitStatuses) {
    const std::string rec = record("rec", smallSpec(5));
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"--help"}, 0, "usage: korvex-export"},
        {{"--version"}, 0, "korvex-export "},
        {{"--panes", "3", rec, out("a.mp4")}, 2, "Try 'korvex-export --help'"},
        {{work_.string(), out("b.mp4")}, 2, "is not a recording"},
        {{"--from", "9", rec, out("c.mp4")}, 2, "has 5 frames"},
        {{rec, (work_ / "no" / "such" / "d.mp4").string()}, 1, "nothing written"},
    };
    for (const auto& c : cases) {
        const toolstest::RunResult r = toolstest::runProgram(program(), c.args, work_);
        EXPECT_EQ(r.status, c.status) << c.says << ": " << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    }
}

}  // namespace
}  // namespace korvex::test
