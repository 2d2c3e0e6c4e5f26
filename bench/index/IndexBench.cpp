// Building the frame index of a 100,000-frame recording, flat and in subfolders of 200 frames, as
// recorders write them, against the floor: a bare directory listing plus a sort of the same names
// in the same run. Prints the ratios at the end.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "recording/FolderImageSource.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 100000;
constexpr int kPerFolder = 200;

fs::path gRoot;

fs::path flatFolder() {
    return gRoot / "flat";
}
fs::path subFolder() {
    return gRoot / "sub";
}

void touch(const fs::path& p) {
    std::ofstream(p, std::ios::binary);
}

void createRecordings() {
    gRoot = fs::temp_directory_path() / ("korvex-index-bench-" + std::to_string(::getpid()));
    fs::remove_all(gRoot);
    fs::create_directories(flatFolder());
    char name[32];
    for (int i = 1; i <= kFrames; ++i) {
        std::snprintf(name, sizeof name, "%06d.jp2", i);
        touch(flatFolder() / name);
    }
    for (int i = 1; i <= kFrames; ++i) {
        const int folder = (i - 1) / kPerFolder + 1;
        char sub[16];
        std::snprintf(sub, sizeof sub, "IMG%05d", folder);
        if ((i - 1) % kPerFolder == 0)
            fs::create_directories(subFolder() / sub);
        std::snprintf(name, sizeof name, "%06d.jp2", i);
        touch(subFolder() / sub / name);
    }
}

// The floor: names of one folder's entries, nothing else.
void listNames(const std::string& folder, std::vector<std::string>& out, bool directories) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        if ((e->d_type == DT_DIR) == directories)
            out.emplace_back(e->d_name);
    }
    ::closedir(dir);
}

void BM_ListFlat(benchmark::State& state) {
    const std::string folder = flatFolder().string();
    for (auto _ : state) {
        std::vector<std::string> names;
        listNames(folder, names, false);
        std::sort(names.begin(), names.end());
        if (names.size() != kFrames)
            state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(names.data());
    }
}

void BM_IndexFlat(benchmark::State& state) {
    const std::string folder = flatFolder().string();
    for (auto _ : state) {
        korvex::FolderImageSource source(korvex::RecordingKind{.kindJp2Mp3 = true});
        if (source.openFolder(folder, 0) != 1 || source.count() != kFrames) {
            state.SkipWithError("open failed");
        }
        benchmark::DoNotOptimize(source.count());
    }
}

void BM_ListSubfolders(benchmark::State& state) {
    const std::string root = subFolder().string();
    for (auto _ : state) {
        std::vector<std::string> folders;
        listNames(root, folders, true);
        std::sort(folders.begin(), folders.end());
        std::vector<std::string> names;
        for (const std::string& f : folders)
            listNames(root + "/" + f, names, false);
        std::sort(names.begin(), names.end());
        if (names.size() != kFrames)
            state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(names.data());
    }
}

void BM_IndexSubfolders(benchmark::State& state) {
    const std::string root = subFolder().string();
    for (auto _ : state) {
        korvex::FolderImageSource source(korvex::RecordingKind{.kindJp2Wav = true});
        if (source.openFolder(root, 1) != 1 || source.count() != kFrames) {
            state.SkipWithError("open failed");
        }
        benchmark::DoNotOptimize(source.count());
    }
}

BENCHMARK(BM_ListFlat)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_IndexFlat)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ListSubfolders)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_IndexSubfolders)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps the console output and remembers each benchmark's real time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            // One figure per benchmark: the median when repetitions were asked for.
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
            if ((median || single) && r.iterations > 0) {
                realMs[r.run_name.function_name] = r.GetAdjustedRealTime();
                cpuMs[r.run_name.function_name] = r.GetAdjustedCPUTime();
            }
        }
    }
    std::map<std::string, double> realMs;
    std::map<std::string, double> cpuMs;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    createRecordings();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Other work on the machine stretches wall-clock times; CPU time is the steadier figure.
    const auto ratio = [&](const char* index, const char* floor) {
        const auto& real = reporter.realMs;
        const auto& cpu = reporter.cpuMs;
        if (!real.count(index) || !real.count(floor) || real.at(floor) <= 0 || cpu.at(floor) <= 0) {
            return;
        }
        std::printf(
            "%s / %s: real %.2fx (%.1f / %.1f ms), cpu %.2fx (%.1f / %.1f ms); "
            "target <= 1.5x\n",
            index, floor, real.at(index) / real.at(floor), real.at(index), real.at(floor),
            cpu.at(index) / cpu.at(floor), cpu.at(index), cpu.at(floor));
    };
    ratio("BM_IndexFlat", "BM_ListFlat");
    ratio("BM_IndexSubfolders", "BM_ListSubfolders");
    benchmark::Shutdown();
    fs::remove_all(gRoot);
    return 0;
}
