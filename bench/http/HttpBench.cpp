// Frames per second GetImgFile fetches from the simulated recorder over loopback (a 720x248
// JPEG 2000 frame, a new session and connection per frame as the control makes them), against
// the curl command fetching the same URL as often in one process with a new connection each
// time. Prints the ratio at the end; the target is at least 0.9.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "control/buffers/PicvoxLog.h"
#include "control/download/HttpFetch.h"
#include "tools/dvrsim/DvrSim.h"

extern char** environ;

namespace {

constexpr int kFramesPerRound = 100;
constexpr const char* kCurl = "/usr/bin/curl";

using Clock = std::chrono::steady_clock;

std::unique_ptr<korvex::sim::DvrSim> gSim;
std::filesystem::path gScratch;
std::vector<double> gOursSeconds;  // per round of kFramesPerRound frames
std::vector<double> gCurlSeconds;

std::string frameUrl() {
    return gSim->baseUrl() + (korvex::sim::DvrSim::kLiveImagePath + 1);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One round of the control's fetches; false when one failed.
bool fetchRound(double& seconds) {
    picvox::HttpThreadParams params;
    params.locationBase = gSim->baseUrl();
    params.imageUrl = korvex::sim::DvrSim::kLiveImagePath + 1;
    params.cacheTimeMs = 10000;
    params.waveRequestIntervalMs = 1000;
    const std::string name = (gScratch / "live1.jp2").string();
    const auto start = Clock::now();
    for (int i = 0; i < kFramesPerRound; ++i) {
        if (picvox::GetImgFile(name, params, true, nullptr, nullptr, 0) != 1)
            return false;
    }
    seconds = secondsSince(start);
    return true;
}

// One run of: curl -s -o /dev/null -H 'Connection: close' URL URL ... (kFramesPerRound URLs;
// the bodies after the first go to stdout, which is /dev/null too).
bool curlRound(double& seconds) {
    std::vector<std::string> args = {"curl", "-s", "-o", "/dev/null", "-H", "Connection: close"};
    for (int i = 0; i < kFramesPerRound; ++i)
        args.push_back(frameUrl());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, kCurl, &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    seconds = secondsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The two are measured in alternating rounds, so that a busy machine slows both alike.
void BM_GetImgFileAgainstCurl(benchmark::State& state) {
    if (access(kCurl, X_OK) != 0) {
        state.SkipWithError("no curl command");
        return;
    }
    bool curlFirst = true;
    for (auto _ : state) {
        double ours = 0;
        double curl = 0;
        const bool ok = curlFirst ? (curlRound(curl) && fetchRound(ours))
                                  : (fetchRound(ours) && curlRound(curl));
        if (!ok) {
            state.SkipWithError("a fetch failed");
            return;
        }
        gOursSeconds.push_back(ours);
        gCurlSeconds.push_back(curl);
        curlFirst = !curlFirst;
    }
    double ours = 0;
    double curl = 0;
    for (double s : gOursSeconds)
        ours += s;
    for (double s : gCurlSeconds)
        curl += s;
    const double frames = static_cast<double>(gOursSeconds.size()) * kFramesPerRound;
    state.counters["GetImgFile_fps"] = frames / ours;
    state.counters["curl_fps"] = frames / curl;
    state.counters["ratio"] = curl / ours;
}

BENCHMARK(BM_GetImgFileAgainstCurl)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    // Loopback only: no proxy from the environment may take part.
    setenv("NO_PROXY", "*", 1);
    setenv("no_proxy", "*", 1);
    picvox::ResetLog();
    gScratch =
        std::filesystem::temp_directory_path() / ("korvex-http-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(gScratch);
    korvex::sim::DvrSimOptions options;
    options.content.width = 720;
    options.content.height = 248;
    options.content.still = true;  // the same frame every time: no encoding during the run
    gSim = std::make_unique<korvex::sim::DvrSim>(options);
    std::string error;
    if (!gSim->start(&error)) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", error.c_str());
        return 1;
    }
    {
        // Encode the frame before timing anything.
        picvox::HttpThreadParams params;
        params.locationBase = gSim->baseUrl();
        params.imageUrl = korvex::sim::DvrSim::kLiveImagePath + 1;
        params.cacheTimeMs = 10000;
        const std::string name = (gScratch / "warm.jp2").string();
        picvox::GetImgFile(name, params, true, nullptr, nullptr, 0);
        std::printf("frame: %s, %lld bytes\n", frameUrl().c_str(),
                    static_cast<long long>(std::filesystem::file_size(name)));
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gSim->stop();
    std::filesystem::remove_all(gScratch);
    if (!gOursSeconds.empty()) {
        const double ours = kFramesPerRound / median(gOursSeconds);
        const double curl = kFramesPerRound / median(gCurlSeconds);
        std::printf(
            "median round: GetImgFile %.0f frames/s, curl %.0f frames/s, ratio %.2f (target >= "
            "0.90)\n",
            ours, curl, ours / curl);
    }
    return 0;
}
