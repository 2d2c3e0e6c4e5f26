// korvex-export against the ffmpeg command line coding the same pictures with the same coder
// settings. The pictures are the recording's frames as the view's painter draws them, written
// once as raw video for ffmpeg; the sound is the recording's own track. In each round, one after
// the other: ffmpeg; korvex-export's coder (the MP4 writer with its settings) fed the same raw
// pictures and sound in this process; and the korvex-export program on the recording, which also
// indexes, decodes and draws every frame and writes the checksums. Wall-clock times, and the CPU
// time of both programs (on a machine that other work shares, the ratio drifts towards theirs).
// Prints the figures and ratios, the machine's load before and after, and the peak memory of an
// export of the stretch and of one ten times longer (it must not grow with the stretch).
//
// KORVEX_EXPORT_BENCH_FRAMES sets the timed stretch (default 500 frames, 50 s of video).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "recording/FolderImageSource.h"
#include "recording/RecordingProbe.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/RecordingWriter.h"
#include "viewer/audio/SoundDecoder.h"
#include "viewer/export/ExportRequest.h"
#include "viewer/export/Mp4Writer.h"
#include "viewer/playback/FramePainter.h"

namespace {

namespace fs = std::filesystem;
using namespace korvex;

constexpr int kPictureWidth = 704;
constexpr int kPictureHeight = 480;
constexpr std::uint32_t kIntervalMs = 100;

int timedFrames() {
    const char* v = std::getenv("KORVEX_EXPORT_BENCH_FRAMES");
    const int n = v != nullptr ? std::atoi(v) : 0;
    return n > 0 ? n : 500;
}

struct Child {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system, all threads
    double maxRssMb = 0;
    int status = -1;
};

// Runs a program with its output thrown away; wall time and peak memory.
Child run(const std::vector<std::string>& args) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    Child c;
    c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    c.maxRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    auto secondsOf = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    c.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return c;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

struct Setup {
    fs::path work;
    std::string recording;      // the timed stretch
    std::string longRecording;  // ten times as long, for the memory
    std::string raw;            // the drawn pictures, for ffmpeg
    std::string sound;
    int frames = 0;
    int width = 0;
    int height = 0;
};

Setup& setup() {
    static Setup s;
    return s;
}

bool writeRecording(const std::string& folder, int frames) {
    gen::RecordingSpec spec;
    spec.pictures = PictureFormat::Jpeg;
    spec.sound = SoundFormat::Wav;
    spec.frames = frames;
    spec.width = kPictureWidth;
    spec.height = kPictureHeight;
    spec.intervalMs = kIntervalMs;
    spec.channels = {0};
    spec.titles = {"GATE"};
    gen::parseDvrTime("2024-01-01 00:00:00", spec.startDvrSeconds);
    const gen::RecordingResult r = gen::writeRecording(folder, spec);
    if (!r.ok)
        std::fprintf(stderr, "export_bench: %s\n", r.error.c_str());
    return r.ok;
}

// Every frame as the export draws it (the painter's single pane, marks on, the view's default
// overlay), one after the other into a raw file of blue-green-red pictures.
bool drawFrames(const std::string& folder, const std::string& raw, int& width, int& height) {
    RecordingProbe probe;
    if (probe.probe(folder) != 1)
        return false;
    FolderImageSource source(probe.kind());
    if (source.openFolder(folder, 1) != 1)
        return false;
    defaultExportSize(kPictureWidth, 1, width, height);
    OverlaySettings settings;
    settings.hasChannelInfo = source.hasChannel(-1);
    settings.checkMode = true;
    std::ofstream out(raw, std::ios::binary);
    for (int i = 0; i < source.count(); ++i) {
        source.setCurrent(i);
        const DibBlock picture = source.loadCurrent(nullptr, 0);
        FrameContent frame;
        frame.picture = picture ? &picture : nullptr;
        frame.index = i;
        frame.time = source.currentTime();
        frame.title = source.cameraTitle(i);
        frame.flags = source.currentFlags();
        const QImage page = renderSinglePane(QSize(width, height), frame, settings, false);
        for (int y = 0; y < page.height(); ++y)
            out.write(reinterpret_cast<const char*>(page.constScanLine(y)), width * 3);
    }
    return static_cast<bool>(out);
}

bool prepare() {
    Setup& s = setup();
    s.frames = timedFrames();
    const char* tmp = std::getenv("TMPDIR");
    s.work = fs::path(tmp != nullptr ? tmp : "/tmp") /
             ("korvex-export-bench-" + std::to_string(::getpid()));
    fs::remove_all(s.work);
    fs::create_directories(s.work);
    s.recording = (s.work / "rec").string();
    s.longRecording = (s.work / "rec-long").string();
    s.raw = (s.work / "frames.bgr").string();
    if (!writeRecording(s.recording, s.frames) || !writeRecording(s.longRecording, 10 * s.frames))
        return false;
    s.sound = (fs::path(s.recording) / "sound.wav").string();
    return drawFrames(s.recording, s.raw, s.width, s.height);
}

// The coder settings korvex-export uses, spelled for the command line: x264 veryfast at CRF 23,
// yuv420p, a key frame at least every 10 s of the recording's 10 pictures a second, the
// colour description it writes, AAC at 64 kb/s per channel at twice the recorder's 8 kHz, and
// the index in front.
std::vector<std::string> ffmpegArgs(const std::string& out) {
    const Setup& s = setup();
    return {FFMPEG_PROGRAM,
            "-v",
            "error",
            "-y",
            "-f",
            "rawvideo",
            "-pix_fmt",
            "bgr24",
            "-s",
            std::to_string(s.width) + "x" + std::to_string(s.height),
            "-framerate",
            "10",
            "-i",
            s.raw,
            "-i",
            s.sound,
            "-map",
            "0:v",
            "-map",
            "1:a",
            "-c:v",
            "libx264",
            "-preset",
            "veryfast",
            "-crf",
            "23",
            "-pix_fmt",
            "yuv420p",
            "-g",
            "100",
            "-color_range",
            "tv",
            "-colorspace",
            "smpte170m",
            "-color_primaries",
            "smpte170m",
            "-color_trc",
            "smpte170m",
            "-c:a",
            "aac",
            "-b:a",
            "64k",
            "-ar",
            "16000",
            "-movflags",
            "+faststart",
            out};
}

std::vector<std::string> exportArgs(const std::string& folder, const std::string& out) {
    return {KORVEX_EXPORT_PROGRAM, "--quiet", "--force", folder, out};
}

// korvex-export's coder alone (the MP4 writer it feeds, with the same settings) on the same raw
// pictures and sound as ffmpeg, in this process: what the export adds to coding, without the
// decoding and drawing that ffmpeg is spared.
double encodeOnly(const std::string& out) {
    const Setup& s = setup();
    const auto start = std::chrono::steady_clock::now();
    SoundDecoder sound;
    if (!sound.open(s.sound))
        return -1;
    const SoundInput input{sound.sampleRate(), sound.channels()};
    EncoderSettings settings;
    settings.nominalFps = 10;
    settings.keyFrameInterval = 100;
    Mp4Writer writer;
    if (!writer.open(out, s.width, s.height, &input, settings))
        return -1;
    std::ifstream raw(s.raw, std::ios::binary);
    const std::size_t bytes = static_cast<std::size_t>(s.width) * s.height * 3;
    std::vector<std::uint8_t> picture(bytes);
    std::vector<float> samples;
    std::int64_t fed = 0;
    auto feed = [&](std::int64_t untilMs) {
        const std::int64_t want = untilMs * sound.sampleRate() / 1000;
        if (want <= fed)
            return true;
        samples.assign(static_cast<std::size_t>(want - fed) * sound.channels(), 0.0f);
        sound.read(samples.data(), static_cast<std::size_t>(want - fed));
        const bool ok = writer.addSound(samples.data(), static_cast<std::size_t>(want - fed));
        fed = want;
        return ok;
    };
    for (int i = 0; i < s.frames; ++i) {
        raw.read(reinterpret_cast<char*>(picture.data()), static_cast<std::streamsize>(bytes));
        const std::int64_t pts = static_cast<std::int64_t>(i) * kIntervalMs;
        if (!raw || !feed(pts) || !writer.addPicture(picture.data(), s.width * 3, pts))
            return -1;
    }
    const std::int64_t end = static_cast<std::int64_t>(s.frames) * kIntervalMs;
    if (!feed(end) || !writer.finish(end))
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One round: ffmpeg, korvex-export, and korvex-export's coder alone, on the same stretch.
void BM_Round(benchmark::State& state) {
    const Setup& s = setup();
    double ffmpeg = 0, korvex = 0, coder = 0, ffmpegRss = 0, korvexRss = 0, ffmpegCpu = 0,
           korvexCpu = 0;
    for (auto _ : state) {
        const Child a = run(ffmpegArgs((s.work / "ffmpeg.mp4").string()));
        const Child b = run(exportArgs(s.recording, (s.work / "korvex.mp4").string()));
        const double c = encodeOnly((s.work / "coder.mp4").string());
        if (a.status != 0 || b.status != 0 || c < 0) {
            state.SkipWithError("a program failed");
            return;
        }
        ffmpeg += a.seconds;
        korvex += b.seconds;
        ffmpegCpu += a.cpuSeconds;
        korvexCpu += b.cpuSeconds;
        coder += c;
        ffmpegRss = std::max(ffmpegRss, a.maxRssMb);
        korvexRss = std::max(korvexRss, b.maxRssMb);
        state.SetIterationTime(a.seconds + b.seconds + c);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ffmpeg_s"] = ffmpeg / n;
    state.counters["korvex_s"] = korvex / n;
    state.counters["coder_s"] = coder / n;
    state.counters["ratio"] = ffmpeg > 0 ? korvex / ffmpeg : 0;
    state.counters["coder_ratio"] = ffmpeg > 0 ? coder / ffmpeg : 0;
    state.counters["ffmpeg_cpu_s"] = ffmpegCpu / n;
    state.counters["korvex_cpu_s"] = korvexCpu / n;
    state.counters["ffmpeg_MB"] = ffmpegRss;
    state.counters["korvex_MB"] = korvexRss;
}

// Peak memory of an export of the stretch and of one ten times as long.
void BM_Memory(benchmark::State& state) {
    const Setup& s = setup();
    for (auto _ : state) {
        const Child shortRun = run(exportArgs(s.recording, (s.work / "short.mp4").string()));
        const Child longRun = run(exportArgs(s.longRecording, (s.work / "long.mp4").string()));
        if (shortRun.status != 0 || longRun.status != 0) {
            state.SkipWithError("an export failed");
            return;
        }
        state.SetIterationTime(shortRun.seconds + longRun.seconds);
        state.counters["short_MB"] = shortRun.maxRssMb;
        state.counters["long_MB"] = longRun.maxRssMb;
        state.counters["long_frames"] = 10.0 * s.frames;
        state.counters["long_s"] = longRun.seconds;
    }
}

class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const std::string group = name.substr(0, name.find('/'));
            for (const auto& [counter, value] : run.counters)
                values_[group + "." + counter] = value.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const Setup& s = setup();
        std::printf("\n%d frames of %dx%d JPEG with 8 kHz sound, drawn at %dx%d (mean of 3):\n",
                    s.frames, kPictureWidth, kPictureHeight, s.width, s.height);
        std::printf("  ffmpeg command line, raw pictures in:    %.2f s (CPU %.2f s), %.0f MB\n",
                    values_["Round.ffmpeg_s"], values_["Round.ffmpeg_cpu_s"],
                    values_["Round.ffmpeg_MB"]);
        std::printf("  korvex-export's coder, the same pictures: %.2f s, ratio %.2f\n",
                    values_["Round.coder_s"], values_["Round.coder_ratio"]);
        std::printf(
            "  korvex-export, decoding and drawing too:  %.2f s (CPU %.2f s), %.0f MB, ratio "
            "%.2f\n",
            values_["Round.korvex_s"], values_["Round.korvex_cpu_s"], values_["Round.korvex_MB"],
            values_["Round.ratio"]);
        std::printf("  peak memory of korvex-export: %d frames %.0f MB, %d frames %.0f MB\n",
                    s.frames, values_["Memory.short_MB"], 10 * s.frames, values_["Memory.long_MB"]);
        std::printf("  load average before %s, after %s\n", before_.c_str(), loadAverage().c_str());
    }
    std::string before_ = loadAverage();

private:
    std::map<std::string, double> values_;
};

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    Summary summary;
    if (!prepare()) {
        std::fprintf(stderr, "export_bench: cannot prepare the recordings\n");
        return 1;
    }
    benchmark::RegisterBenchmark("Round", BM_Round)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("Memory", BM_Memory)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&summary);
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(setup().work, ec);
    return 0;
}
