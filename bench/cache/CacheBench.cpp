// Every picture the control plays passes through the cache: copied from its download into a
// slot, its start time recorded, decoded and queued. The decode is the work that must be done
// anyway, so the whole play path is measured against decoding the same file alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

#include "control/buffers/DecodeJ2KFile.h"
#include "control/buffers/FrameQueue.h"
#include "control/download/CacheStore.h"
#include "control/download/DiskOps.h"
#include "control/download/RecordingSaver.h"
#include "platform/FileSystem.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/Trailer.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
    Scratch() {
        root = fs::temp_directory_path() / ("picvox-cache-bench-" + std::to_string(::getpid()));
        fs::create_directories(root / "J2K2");
        fs::create_directories(root / "WAVE2");
        korvex::gen::FrameCaption caption;
        caption.channel = 1;
        caption.title = "GATE";
        caption.dvrSeconds = 300000000;
        auto frame = korvex::gen::encodeJ2k(korvex::gen::renderFrame(720, 248, caption, 7),
                                            korvex::gen::J2kContainer::Jp2, 10.0f);
        korvex::gen::appendJ2kTrailer(frame, {.dvrSeconds = 300000000, .offsetMs = 5000});
        source = (root / "source.jp2").string();
        std::ofstream(source, std::ios::binary)
            .write(reinterpret_cast<const char*>(frame.data()),
                   static_cast<std::streamsize>(frame.size()));
        bytes = frame.size();
    }
    ~Scratch() { fs::remove_all(root); }
    fs::path root;
    std::string source;
    std::size_t bytes = 0;
};

Scratch& scratch() {
    static Scratch s;
    return s;
}

void BM_DecodeJ2KFile(benchmark::State& state) {
    const std::string& path = scratch().source;
    for (auto _ : state) {
        platform::GlobalBlock block = picvox::DecodeJ2KFile(path);
        if (block.empty()) {
            state.SkipWithError("the frame does not decode");
            return;
        }
        benchmark::DoNotOptimize(block.data());
    }
}

void BM_AddImageDataPlay(benchmark::State& state) {
    Scratch& s = scratch();
    std::mutex lock;
    picvox::FrameQueue queue(10, nullptr, lock);
    picvox::HttpThreadParams params;
    params.cache.folder = s.root.string();
    params.fetch.cacheTimeMs = 5000;
    params.shared.frameQueue = &queue;
    picvox::CacheStore store(params);
    const std::string temp = (s.root / "download.jp2").string();
    store.setTempName([&](int) { return temp; });
    // The download itself is a copy of the local file into the temporary name.
    store.setImageFetch([&](const std::string& name, picvox::HttpThreadParams&, bool,
                            std::int64_t* time, int*, int) {
        *time = 1700000000;
        return picvox::CopyFileReplace(s.source, name, picvox::RealDisk()) == 0
                   ? picvox::ImageFetch::Whole
                   : picvox::ImageFetch::Failed;
    });
    int seqNo = 0, slot = 1, saved = 0;
    for (auto _ : state) {
        if (store.AddImageData(seqNo, slot, saved, false, nullptr, false, nullptr, 0, 1) != 1) {
            state.SkipWithError("AddImageData failed");
            return;
        }
        state.PauseTiming();
        queue.Clear();
        state.ResumeTiming();
    }
}

// Saving a frame: the whole-or-nothing copy (temporary name, fdatasync, rename) and the frame
// folder's entry made durable. Arg 0: the folder never synced (the baseline), 1: synced as the
// saver does (after a rename at most once a second, and at every folder change), 2: synced after
// every rename.
class NoFolderSync final : public picvox::DiskOps {
public:
    int syncDirectory(const std::string&) override { return 0; }
};

void BM_SaveFrame(benchmark::State& state) {
    Scratch& s = scratch();
    const fs::path run = s.root / ("run" + std::to_string(state.range(0)));
    fs::remove_all(run);
    fs::create_directories(run);
    NoFolderSync noSync;
    picvox::HttpThreadParams params;
    params.save.folder = run.string();
    params.save.timestampOrder = 2;
    params.save.disk = state.range(0) == 0 ? &noSync : &picvox::RealDisk();
    std::string folder;
    int number = 1;
    picvox::CreateImageFolder(folder, params, number);
    int saved = 0, slot = 0;
    for (auto _ : state) {
        if (saved != 0 && saved % 200 == 0)
            picvox::CreateImageFolder(folder, params, ++number);
        if (picvox::SaveFrame(params, 1, folder, true, saved, slot, s.source) != 1) {
            state.SkipWithError("SaveFrame failed");
            return;
        }
        if (state.range(0) == 2)
            platform::syncDirectory(folder);
    }
    params.progress.folderSync.flush(*params.save.disk);
    state.counters["folder_syncs"] = params.progress.folderSync.syncs();
    fs::remove_all(run);
}

BENCHMARK(BM_DecodeJ2KFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddImageDataPlay)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

class TimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            realTime[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> realTime;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("frame: 720x248 JPEG 2000, %zu bytes\n", scratch().bytes);
    const auto saveBare = reporter.realTime.find("BM_SaveFrame/0");
    for (const char* name : {"BM_SaveFrame/1", "BM_SaveFrame/2"}) {
        const auto it = reporter.realTime.find(name);
        if (it != reporter.realTime.end() && saveBare != reporter.realTime.end() &&
            saveBare->second > 0) {
            std::printf("%s / BM_SaveFrame/0 (no folder sync) time ratio: %.3f\n", name,
                        it->second / saveBare->second);
        }
    }
    const auto play = reporter.realTime.find("BM_AddImageDataPlay");
    const auto decode = reporter.realTime.find("BM_DecodeJ2KFile");
    if (play != reporter.realTime.end() && decode != reporter.realTime.end() &&
        decode->second > 0) {
        std::printf("AddImageData play path / DecodeJ2KFile time ratio: %.3f (target <= 1.30)\n",
                    play->second / decode->second);
    }
    return 0;
}
