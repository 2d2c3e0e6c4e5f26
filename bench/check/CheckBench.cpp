// The authenticity check runs on every frame shown during playback, so it must cost no more than
// a couple of copies of the file. Each frame's check is measured against memcpy of the same bytes.
#include "recording/AuthenticityCheck.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/Trailer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

korvex::gen::RawPicture picture(int width, int height) {
    korvex::gen::FrameCaption caption;
    caption.channel = 3;
    caption.title = "ENTRANCE";
    caption.frameNumber = 1234;
    caption.dvrSeconds = 300000000;
    return korvex::gen::renderFrame(width, height, caption, 42);
}

const Bytes& jpegFrame() {
    static const Bytes frame = [] {
        Bytes f = korvex::gen::encodeJpeg(picture(704, 480), 85);
        korvex::gen::appendJpegTrailer(f, {.dvrSeconds = 300000000, .offsetMs = 5000});
        return f;
    }();
    return frame;
}

const Bytes& jp2Frame() {
    static const Bytes frame = [] {
        Bytes f = korvex::gen::encodeJ2k(picture(720, 248), korvex::gen::J2kContainer::Jp2, 10.0f);
        korvex::gen::appendJ2kTrailer(f, {.dvrSeconds = 300000000, .offsetMs = 5000});
        return f;
    }();
    return frame;
}

void runCheck(benchmark::State& state, const Bytes& frame, korvex::CheckVariant variant) {
    korvex::CheckResult result;
    if (!korvex::checkBytes({frame.data(), frame.size()}, variant, result) || result.flags != 0) {
        state.SkipWithError("the frame does not pass the check");
        return;
    }
    for (auto _ : state) {
        korvex::checkBytes({frame.data(), frame.size()}, variant, result);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}

void runMemcpy(benchmark::State& state, const Bytes& frame) {
    Bytes copy(frame.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.data(), frame.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}

void BM_CheckJpeg704x480(benchmark::State& s) {
    runCheck(s, jpegFrame(), korvex::CheckVariant::Jpeg);
}
void BM_MemcpyJpeg704x480(benchmark::State& s) {
    runMemcpy(s, jpegFrame());
}
void BM_CheckJp2_720x248(benchmark::State& s) {
    runCheck(s, jp2Frame(), korvex::CheckVariant::Jpeg2000);
}
void BM_MemcpyJp2_720x248(benchmark::State& s) {
    runMemcpy(s, jp2Frame());
}

BENCHMARK(BM_CheckJpeg704x480);
BENCHMARK(BM_MemcpyJpeg704x480);
BENCHMARK(BM_CheckJp2_720x248);
BENCHMARK(BM_MemcpyJp2_720x248);

// Keeps each run's throughput so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end())
                throughput[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> throughput;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::pair<const char*, const char*> pairs[] = {
        {"BM_CheckJpeg704x480", "BM_MemcpyJpeg704x480"},
        {"BM_CheckJp2_720x248", "BM_MemcpyJp2_720x248"},
    };
    std::printf("frame sizes: JPEG %zu bytes, JP2 %zu bytes\n", jpegFrame().size(),
                jp2Frame().size());
    for (const auto& [check, copy] : pairs) {
        const auto a = reporter.throughput.find(check);
        const auto b = reporter.throughput.find(copy);
        if (a == reporter.throughput.end() || b == reporter.throughput.end() || b->second <= 0) {
            continue;
        }
        std::printf("%s / %s throughput ratio: %.2f (target >= 0.50)\n", check, copy,
                    a->second / b->second);
    }
    benchmark::Shutdown();
    return 0;
}
