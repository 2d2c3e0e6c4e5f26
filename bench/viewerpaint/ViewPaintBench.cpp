// One paint of the image view's single pane (the main window's 766 x 575 picture area in an
// 810 x 575 view): a 704 x 480 and a 720 x 248 picture with the time text and its darkened
// background, offscreen, against the floor measured in the same run: the smooth scale of the
// same picture alone, the one step no paint can skip. Prints the ratios at the end.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "recording/DibBlock.h"
#include "viewer/playback/FramePainter.h"
#include "viewer/resources/Resources.h"

namespace {

const QSize kView(810, 575);

// A picture with some structure (scaling a flat picture costs the same, but looks nothing like
// a camera's).
korvex::DibBlock makePicture(int w, int h) {
    const std::uint32_t stride = korvex::dibStride(static_cast<std::uint32_t>(w), 3);
    korvex::DibBlock block =
        korvex::DibBlock::allocate(korvex::kDibPixelOffset + stride * static_cast<std::size_t>(h));
    korvex::writeBitmapInfoHeader(block.data(), w, h, 24);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* p =
            block.data() + korvex::kDibPixelOffset + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < w; ++x, p += 3) {
            p[0] = static_cast<std::uint8_t>(x * 3 + y);
            p[1] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
            p[2] = static_cast<std::uint8_t>(y * 2);
        }
    }
    return block;
}

void BM_Floor(benchmark::State& state, int w, int h) {
    const korvex::DibBlock dib = makePicture(w, h);
    korvex::DibInfo info;
    korvex::readDibInfo(dib, info);
    const QImage rows(dib.data() + korvex::kDibPixelOffset, w, h,
                      static_cast<qsizetype>(info.stride), QImage::Format_BGR888);
    for (auto _ : state) {
        QImage scaled = rows.scaled(766, 575, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(scaled.constBits());
    }
}

void BM_Paint(benchmark::State& state, int w, int h) {
    const korvex::DibBlock dib = makePicture(w, h);
    korvex::FrameContent frame;
    frame.picture = &dib;
    frame.time = 1236229629;
    frame.title = "Gate";
    frame.flags = 0;
    korvex::OverlaySettings settings;
    settings.hasChannelInfo = true;
    for (auto _ : state) {
        QImage page = korvex::renderSinglePane(kView, frame, settings, false);
        benchmark::DoNotOptimize(page.constBits());
    }
}

// Google Benchmark's own times (real time: Qt scales on several threads) are the figures; the
// summary divides them pairwise.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* size : {"704x480", "720x248"}) {
            const double floor = times_[std::string("Floor/") + size];
            const double paint = times_[std::string("Paint/") + size];
            if (floor > 0) {
                std::printf("%s: paint %.3f ms, smooth scale alone %.3f ms, ratio %.2f\n", size,
                            paint, floor, paint / floor);
            }
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    korvex::initResources();
    benchmark::RegisterBenchmark("Floor/704x480", BM_Floor, 704, 480)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Paint/704x480", BM_Paint, 704, 480)
        ->Unit(benchmark::kMillisecond);
    // The 248-row field shows 232 rows: the floor scales exactly those.
    benchmark::RegisterBenchmark("Floor/720x248", BM_Floor, 720, 232)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Paint/720x248", BM_Paint, 720, 248)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
