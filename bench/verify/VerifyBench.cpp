// korvex-verify at disk speed, each figure a ratio against a baseline measured in the same run,
// the two commands taking turns so that the machine's load falls on both alike:
//   - 1,000,000 small JPEG frames with their manifest checked, against `sha256sum -c` of the
//     same files (target: at most 1.25x its time);
//   - 704x480 JPEG 2000 frames decoded and checked on every core against one thread (at least
//     1.7x the rate on 2 cores), the output byte for byte the same;
//   - memory: the peak a frame (at most 100 bytes);
//   - the HTML report against the verification alone (at most 1.2x).
// KORVEX_BENCH_VERIFY_FRAMES and KORVEX_BENCH_VERIFY_J2K change the sizes, KORVEX_BENCH_DATA
// where the recordings are kept between runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long long envNumber(const char* name, long long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoll(v) : fallback;
}

const long long kSmallFrames = envNumber("KORVEX_BENCH_VERIFY_FRAMES", 1000000);
const long long kJ2kFrames = envNumber("KORVEX_BENCH_VERIFY_J2K", 400);

fs::path dataFolder() {
    const char* v = std::getenv("KORVEX_BENCH_DATA");
    return v && *v ? fs::path(v) : fs::path(KORVEX_BENCH_DATA_DEFAULT);
}

struct Run {
    int status = -1;
    double seconds = 0;
    long maxRssKb = 0;
};

// Runs a program without a shell, stdout to `out`, in `cwd`; its time and peak memory.
Run run(const std::vector<std::string>& args, const std::string& out = "/dev/null",
        const std::string& cwd = {}) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    Run r;
    pid_t pid = 0;
    const auto t0 = Clock::now();
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        r.maxRssKb = usage.ru_maxrss;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

// A recording made once with these korvex-mkrec options; reused while they stay the same.
std::string recording(const std::string& name, const std::vector<std::string>& options,
                      bool manifest) {
    const fs::path folder = dataFolder() / name;
    std::string stamp;
    for (const std::string& o : options)
        stamp += o + " ";
    stamp += manifest ? "manifest" : "";
    const fs::path stampFile = dataFolder() / (name + ".made");
    std::ifstream in(stampFile);
    std::string existing;
    std::getline(in, existing);
    if (existing == stamp && fs::exists(folder))
        return folder.string();
    std::fprintf(stderr, "making %s (%s)...\n", folder.c_str(), stamp.c_str());
    fs::remove_all(folder);
    fs::create_directories(dataFolder());
    std::vector<std::string> args = {KORVEX_MKREC_PROGRAM, "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(folder.string());
    if (run(args).status != 0)
        return {};
    if (manifest &&
        run({KORVEX_VERIFY_PROGRAM, "--manifest", "--quiet", folder.string()}).status != 0)
        return {};
    std::ofstream(stampFile) << stamp << "\n";
    return folder.string();
}

const std::string& smallRecording() {
    static const std::string folder = recording("small-jpeg",
                                                {"--kind", "jpeg", "--sound", "none", "--size",
                                                 "32x24", "--frames", std::to_string(kSmallFrames)},
                                                true);
    return folder;
}

const std::string& tinyRecording() {
    static const std::string folder =
        recording("tiny-jpeg",
                  {"--kind", "jpeg", "--sound", "none", "--size", "32x24", "--frames", "10"}, true);
    return folder;
}

const std::string& j2kRecording() {
    static const std::string folder = recording(
        "j2k-704x480",
        {"--kind", "jp2wav", "--size", "704x480", "--frames", std::to_string(kJ2kFrames)}, false);
    return folder;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The figures the summary prints after the runs.
struct Pair {
    std::string what, baseline, candidate;
    double baselineSeconds = 0, candidateSeconds = 0;
    int rounds = 0;
};
std::map<std::string, Pair> gPairs;
std::map<std::string, double> gFigures;

// One round: the baseline, then the candidate; both times are kept.
void pairRound(benchmark::State& state, Pair& pair, const std::vector<std::string>& baseline,
               const std::vector<std::string>& candidate, const std::string& baselineCwd = {},
               long long frames = 0) {
    const Run a = run(baseline, "/dev/null", baselineCwd);
    const Run b = run(candidate);
    if (a.status != 0 || b.status != 0) {
        state.SkipWithError("a program failed");
        return;
    }
    pair.baselineSeconds += a.seconds;
    pair.candidateSeconds += b.seconds;
    ++pair.rounds;
    state.SetIterationTime(a.seconds + b.seconds);
    if (frames > 0) {
        // The peak over a ten-frame recording's is what the frames cost; the whole peak a frame
        // includes the program's own few megabytes.
        static const long tinyKb =
            run({KORVEX_VERIFY_PROGRAM, "--json", "--quiet", tinyRecording()}).maxRssKb;
        const double whole = b.maxRssKb * 1024.0 / frames;
        const double growth = (b.maxRssKb - tinyKb) * 1024.0 / frames;
        double& w = gFigures[pair.what + ": peak memory a frame, bytes"];
        double& g = gFigures[pair.what + ": memory growth a frame over 10 frames', bytes"];
        w = std::max(w, whole);
        g = std::max(g, growth);
    }
}

void BM_SmallFramesManifestAgainstSha256sum(benchmark::State& state) {
    const std::string& folder = smallRecording();
    if (folder.empty()) {
        state.SkipWithError("the recording could not be made");
        return;
    }
    // Both read from the page cache, as the measures compare work, not the disk.
    run({"/usr/bin/sha256sum", "--quiet", "-c", "SHA256SUMS"}, "/dev/null", folder);
    Pair& pair = gPairs["small"];
    pair.what = std::to_string(kSmallFrames) + " small JPEG frames";
    pair.baseline = "sha256sum -c SHA256SUMS";
    pair.candidate = "korvex-verify --json (manifest checked)";
    for (auto _ : state) {
        pairRound(state, pair, {"/usr/bin/sha256sum", "--quiet", "-c", "SHA256SUMS"},
                  {KORVEX_VERIFY_PROGRAM, "--json", "--quiet", folder}, folder, kSmallFrames);
    }
}

void BM_ReportAgainstVerification(benchmark::State& state) {
    const std::string& folder = smallRecording();
    if (folder.empty()) {
        state.SkipWithError("the recording could not be made");
        return;
    }
    const std::string report = (dataFolder() / "bench-report.html").string();
    Pair& pair = gPairs["report"];
    pair.what = std::to_string(kSmallFrames) + " small JPEG frames, report";
    pair.baseline = "korvex-verify --json";
    pair.candidate = "korvex-verify --json --report OUT.html";
    for (auto _ : state) {
        pairRound(state, pair, {KORVEX_VERIFY_PROGRAM, "--json", "--quiet", folder},
                  {KORVEX_VERIFY_PROGRAM, "--json", "--quiet", "--report", report, folder}, {},
                  kSmallFrames);
    }
}

void BM_J2kEveryCoreAgainstOneThread(benchmark::State& state) {
    const std::string& folder = j2kRecording();
    if (folder.empty()) {
        state.SkipWithError("the recording could not be made");
        return;
    }
    // The same output in the same order, whatever the number of threads.
    const std::string one = (dataFolder() / "j2k-1.json").string();
    const std::string all = (dataFolder() / "j2k-all.json").string();
    run({KORVEX_VERIFY_PROGRAM, "--json", "--quiet", "--threads", "1", folder}, one);
    run({KORVEX_VERIFY_PROGRAM, "--json", "--quiet", folder}, all);
    gFigures["JPEG 2000 output identical on one thread and on every core (1 = yes)"] =
        readFile(one) == readFile(all) && !readFile(one).empty() ? 1 : 0;
    Pair& pair = gPairs["j2k"];
    pair.what = std::to_string(kJ2kFrames) + " JPEG 2000 frames 704x480";
    pair.baseline = "korvex-verify --json --threads 1";
    pair.candidate = "korvex-verify --json (every core)";
    for (auto _ : state) {
        pairRound(state, pair,
                  {KORVEX_VERIFY_PROGRAM, "--json", "--quiet", "--threads", "1", folder},
                  {KORVEX_VERIFY_PROGRAM, "--json", "--quiet", folder});
    }
}

BENCHMARK(BM_SmallFramesManifestAgainstSha256sum)->UseManualTime()->Iterations(3);
BENCHMARK(BM_ReportAgainstVerification)->UseManualTime()->Iterations(3);
BENCHMARK(BM_J2kEveryCoreAgainstOneThread)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n");
    const auto show = [](const char* key, const char* target, bool rate) {
        const auto it = gPairs.find(key);
        if (it == gPairs.end() || it->second.rounds == 0)
            return;
        const Pair& p = it->second;
        const double a = p.baselineSeconds / p.rounds, b = p.candidateSeconds / p.rounds;
        std::printf("%s:\n  %-42s %8.3f s\n  %-42s %8.3f s\n  %s %.3f (target %s)\n",
                    p.what.c_str(), p.baseline.c_str(), a, p.candidate.c_str(), b,
                    rate ? "rate ratio (every core / one thread):" : "time ratio:",
                    rate ? a / b : b / a, target);
    };
    show("small", "<= 1.25", false);
    show("report", "<= 1.20", false);
    show("j2k", ">= 1.70 on 2 cores", true);
    for (const auto& [what, value] : gFigures)
        std::printf("%s: %.1f%s\n", what.c_str(), value,
                    what.find("memory") != std::string::npos ? " (target <= 100)" : "");
    std::printf("processors: %ld\n", ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("load average: %s", readFile("/proc/loadavg").c_str());
    benchmark::Shutdown();
    return 0;
}
