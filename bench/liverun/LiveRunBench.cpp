// A Live run of the control against a recorder (dvrsim in its own process, 720x248 JPEG 2000
// pictures at the recorder's pace, 8 kHz mono 16-bit sound, or --sound=RATE:CHANNELS:BITS) for
// --minutes=N (default 10), with CacheTime 3000 ms (--cache-ms=N). Reports from the control's log
// the times the sound ring ran dry or overflowed (sound dropped), the passes restarted and the
// ring's fill range after the first minute; the control's CPU time per streamed minute against
// decoding the same pictures alone (the baseline, measured in the same run); and resident memory at
// minute 2 and at the end.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/buffers/DecodeJ2KFile.h"
#include "control/buffers/PicvoxLog.h"
#include "control/run/RunEngine.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/Trailer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double gMinutes = 10.0;
std::string gSound = "8000:1:16";
int gCacheMs = 3000;
int gFramesDecoded = 0;  // pictures the Live run decoded, for the baseline
double gRunMinutes = 0;
double gControlCpu = 0;
double gDecodeCpu = 0;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double rssMb() {
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

class BenchControl final : public picvox::RunControl,
                           public picvox::run::PagePort,
                           public picvox::RepaintTarget {
public:
    std::string text(picvox::RunText which) const override {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = texts_.find(which);
        return it == texts_.end() ? std::string() : it->second;
    }
    void setText(picvox::RunText which, const std::string& value) override {
        std::lock_guard<std::mutex> guard(lock_);
        texts_[which] = value;
    }
    void setSaveComplete(std::int32_t) override {}
    picvox::run::PagePort& page() override { return *this; }
    picvox::run::PageCounter& pageCounter() override { return counter_; }
    std::mutex& controlLock() override { return controlLock_; }
    picvox::RepaintTarget* repaintTarget() override { return this; }
    void setFrameQueue(std::shared_ptr<picvox::FrameQueue>) override {}
    bool startAnimation(platform::Worker&, int) override { return false; }
    void invalidateWindow() override {}

private:
    mutable std::mutex lock_;
    std::map<picvox::RunText, std::string> texts_;
    picvox::run::PageCounter counter_;
    std::mutex controlLock_;
};

struct LogFigures {
    int ringDry = 0;
    int soundDropped = 0;
    int passes = 0;
    int pictures = 0;
    int fillMin = 1 << 30;
    int fillMax = -1;
};

// Minute of a log stamp "YYYY/MM/DD HH:MM:SS" as seconds of the day.
int secondsOfDay(const std::string& line) {
    int h = 0, m = 0, s = 0;
    if (line.size() < 19 || std::sscanf(line.c_str() + 11, "%d:%d:%d", &h, &m, &s) != 3)
        return -1;
    return h * 3600 + m * 60 + s;
}

LogFigures readLog(const fs::path& log, int fillFromSecond) {
    LogFigures f;
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("リングバッファデータ1不足") != std::string::npos)
            ++f.ringDry;
        if (line.find("リングバッファオーバーフロー") != std::string::npos)
            ++f.soundDropped;
        if (line.find("MainProcessThread 画像バッファ生成成功") != std::string::npos)
            ++f.passes;
        if (line.find("キャッシュデータバッファセット") != std::string::npos)
            ++f.pictures;
        const std::size_t at = line.find("バッファ残=");
        if (at != std::string::npos && line.find("周波数補正") != std::string::npos) {
            const int t = secondsOfDay(line);
            if (t >= fillFromSecond) {
                const int pct = std::atoi(line.c_str() + at + std::strlen("バッファ残="));
                f.fillMin = std::min(f.fillMin, pct);
                f.fillMax = std::max(f.fillMax, pct);
            }
        }
    }
    return f;
}

int freePort() {
    // Ports above the ephemeral range's usual start, chosen by pid so parallel runs differ.
    return 20000 + static_cast<int>(::getpid() % 20000);
}

void BM_LiveRun(benchmark::State& state) {
    const fs::path root =
        fs::temp_directory_path() / ("picvox-liverun-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "log");
    std::ofstream(root / "log" / "Picvox.ini").put('\n');
    const int port = freePort();
    const std::string portText = std::to_string(port);
    const char* argv[] = {DVRSIM_PATH, "--port",         portText.c_str(), "--size",
                          "720x248",   "--sound-format", gSound.c_str(),   nullptr};
    pid_t sim = 0;
    if (posix_spawn(&sim, DVRSIM_PATH, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        state.SkipWithError("dvrsim does not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // listening, first segment recorded

    for (auto _ : state) {
        picvox::ConfigureLog((root / "log").string());
        BenchControl control;
        const std::string base = "http://127.0.0.1:" + portText + "/";
        control.setText(picvox::RunText::LocationBase, base);
        control.setText(picvox::RunText::ImageFileUrl, "dvr/live.jp2");
        control.setText(picvox::RunText::WaveFileUrl, "dvr/live.wav");
        control.setText(picvox::RunText::InitWaveFileUrl, "dvr/live_init.wav");
        picvox::RunEngine engine(control);
        const std::string cache = (root / "cache").string();
        engine.tempFolderSource = [cache] { return std::optional<std::string>(cache); };
        picvox::RunSettings s;
        s.cacheTimeMs = gCacheMs;
        s.waveRequestIntervalMs = 1000;

        const double cpu0 = cpuSeconds();
        const auto t0 = Clock::now();
        const int startSecond = secondsOfDay([] {
            std::time_t now = std::time(nullptr);
            char text[32];
            std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", std::localtime(&now));
            return std::string(text);
        }());
        engine.start(s);
        const auto total = std::chrono::duration<double>(gMinutes * 60.0);
        double rss2 = 0;
        while (Clock::now() - t0 < total) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            if (rss2 == 0 && Clock::now() - t0 >= std::chrono::minutes(2))
                rss2 = rssMb();
        }
        const double rssEnd = rssMb();
        engine.stop();
        const double cpu = cpuSeconds() - cpu0;
        const double minutes = std::chrono::duration<double>(Clock::now() - t0).count() / 60.0;
        picvox::ResetLog();

        const LogFigures f = readLog(root / "log" / "Picvox_log.log", startSecond + 60);
        gFramesDecoded = f.pictures;
        gRunMinutes = minutes;
        gControlCpu = cpu;
        state.counters["minutes"] = minutes;
        state.counters["ring_dry"] = f.ringDry;
        state.counters["sound_dropped"] = f.soundDropped;
        state.counters["passes_restarted"] = std::max(0, f.passes - 1);
        state.counters["fill_min_pct"] = f.fillMax < 0 ? -1 : f.fillMin;
        state.counters["fill_max_pct"] = f.fillMax;
        state.counters["pictures"] = f.pictures;
        state.counters["cpu_s_per_min"] = cpu / minutes;
        state.counters["rss_min2_mb"] = rss2;
        state.counters["rss_end_mb"] = rssEnd;
        state.SetIterationTime(minutes * 60.0);
    }
    kill(sim, SIGTERM);
    int status = 0;
    waitpid(sim, &status, 0);
    fs::remove_all(root);
}

// The baseline: decoding the pictures the run showed, alone.
void BM_DecodeSameFramesAlone(benchmark::State& state) {
    const fs::path path =
        fs::temp_directory_path() / ("picvox-liverun-frame-" + std::to_string(::getpid()) + ".jp2");
    korvex::gen::FrameCaption caption;
    caption.channel = 1;
    caption.title = "GATE";
    caption.dvrSeconds = 300000000;
    auto frame = korvex::gen::encodeJ2k(korvex::gen::renderFrame(720, 248, caption, 7),
                                        korvex::gen::J2kContainer::Jp2, 10.0f);
    korvex::gen::appendJ2kTrailer(frame, {.dvrSeconds = 300000000, .offsetMs = 5000});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(frame.data()),
               static_cast<std::streamsize>(frame.size()));
    const int frames = std::max(gFramesDecoded, 1);
    for (auto _ : state) {
        const double cpu0 = cpuSeconds();
        for (int i = 0; i < frames; ++i)
            benchmark::DoNotOptimize(picvox::DecodeJ2KFile(path.string()));
        const double cpu = cpuSeconds() - cpu0;
        gDecodeCpu = cpu;
        state.counters["frames"] = frames;
        state.counters["decode_cpu_s"] = cpu;
    }
    fs::remove(path);
}

BENCHMARK(BM_LiveRun)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_DecodeSameFramesAlone)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // --minutes=N: a shorter (or longer) run than the ten minutes.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--minutes=", 10) == 0)
            gMinutes = std::max(0.5, std::atof(argv[i] + 10));
        else if (std::strncmp(argv[i], "--sound=", 8) == 0)
            gSound = argv[i] + 8;
        else if (std::strncmp(argv[i], "--cache-ms=", 11) == 0)
            gCacheMs = std::atoi(argv[i] + 11);
        else
            rest.push_back(argv[i]);
    }
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gRunMinutes > 0 && gDecodeCpu > 0) {
        std::printf(
            "control CPU %.2f s per streamed minute, decoding its pictures alone %.2f s "
            "per minute: ratio %.2f\n",
            gControlCpu / gRunMinutes, gDecodeCpu / gRunMinutes, gControlCpu / gDecodeCpu);
    }
    return 0;
}
