// Forward play at speed 5 (one frame every 20 ms) in one pane of the real main window, offscreen:
// a 704 x 480 JPEG recording and a 720 x 248 JPEG 2000 recording, made here with a fixed seed.
//   Play/...:      achieved frames per second and the 99th percentile of the intervals between
//                  shown frames, against the 50 frames per second the speed promises
//                  (ratio = achieved / 50).
//   FrameWork/...: what one shown frame costs without pacing, on the same files: decoding alone,
//                  then decoding plus drawing the view's picture, as the largest frame rate
//                  that work allows (ratio = that rate / 50): what limits play when it falls short.
// Each play runs a few hundred frames once; run the program alone on a quiet machine.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QSlider>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "recording/ImageDecoder.h"
#include "tools/recgen/RecordingWriter.h"
#include "viewer/playback/CKorvexDoc.h"
#include "viewer/playback/FramePainter.h"
#include "viewer/resources/ResourceIds.h"
#include "viewer/resources/Resources.h"
#include "viewer/shell/CMainFrame.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 300;
constexpr double kPromisedFps = 50.0;  // speed 5: SpeedInterval 20 ms, step 1

struct Recordings {
    fs::path dir;
    std::string jpeg;
    std::string j2k;
    std::vector<std::string> jpegFiles;
    std::vector<std::string> j2kFiles;
    std::string error;

    Recordings() {
        dir = fs::temp_directory_path() / ("korvex-viewerplay-" + std::to_string(::getpid()));
        jpeg = make("jpeg704", korvex::PictureFormat::Jpeg, 704, 480, jpegFiles);
        j2k = make("j2k720", korvex::PictureFormat::Jpeg2000, 720, 248, j2kFiles);
    }
    ~Recordings() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string make(const char* name, korvex::PictureFormat format, int width, int height,
                     std::vector<std::string>& files) {
        korvex::gen::RecordingSpec spec;
        spec.pictures = format;
        spec.sound = korvex::SoundFormat::None;
        spec.layout = korvex::gen::FrameLayout::Flat;
        spec.frames = kFrames;
        spec.width = width;
        spec.height = height;
        spec.intervalMs = 20;
        spec.seed = 7;
        const std::string folder = (dir / name).string();
        const auto result = korvex::gen::writeRecording(folder, spec);
        if (!result.ok) {
            error += std::string(name) + ": " + result.error + "; ";
            return {};
        }
        for (const auto& f : result.frames)
            files.push_back(f.path);
        return folder;
    }
};

Recordings& recordings() {
    static Recordings r;
    return r;
}

struct Summary {
    double fps = 0;
    double p99Ms = 0;
    double maxMs = 0;
    double meanMs = 0;
    int shown = 0;
    double perFrameMs = 0;  // FrameWork rows
};
std::map<std::string, Summary>& summaries() {
    static std::map<std::string, Summary> s;
    return s;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
    return v[std::min(v.size(), std::max<std::size_t>(rank, 1)) - 1];
}

// Notes the moment each new frame reaches the view's paint.
class ShownFrames : public QObject {
public:
    explicit ShownFrames(const korvex::CKorvexDoc& doc) : doc_(doc) {}
    std::vector<Clock::time_point> times;
    void start() {
        times.clear();
        last_ = currentIndex();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const int index = currentIndex();
            if (index != last_) {
                last_ = index;
                times.push_back(Clock::now());
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    int currentIndex() const {
        return doc_.source() != nullptr ? doc_.source()->currentIndex() : -1;
    }
    const korvex::CKorvexDoc& doc_;
    int last_ = -1;
};

void Play(benchmark::State& state, bool j2k) {
    const std::string& folder = j2k ? recordings().j2k : recordings().jpeg;
    if (folder.empty()) {
        state.SkipWithError(recordings().error.c_str());
        return;
    }
    Summary summary;
    for (auto _ : state) {
        korvex::CMainFrame frame;
        frame.show();
        QApplication::processEvents();
        korvex::CKorvexDoc& doc = frame.document();
        if (!doc.OpenRecordingFolder(folder) || doc.source() == nullptr ||
            doc.source()->count() != kFrames) {
            state.SkipWithError("the recording did not open");
            return;
        }
        auto* speed = frame.findChild<QSlider*>(QStringLiteral("ctl%1").arg(korvex::ctl::speed));
        if (speed == nullptr) {
            state.SkipWithError("no speed slider");
            return;
        }
        speed->setValue(5);
        QApplication::processEvents();

        ShownFrames shown(doc);
        frame.imageView()->installEventFilter(&shown);
        shown.start();
        const auto begin = Clock::now();
        doc.OnPlayPressed();  // returns when play reached the last frame
        frame.imageView()->removeEventFilter(&shown);

        std::vector<double> intervals;
        auto previous = begin;
        for (const auto t : shown.times) {
            intervals.push_back(std::chrono::duration<double, std::milli>(t - previous).count());
            previous = t;
        }
        // The first interval runs from the press of Play; the rate from the first shown frame.
        summary.shown = static_cast<int>(shown.times.size());
        if (summary.shown >= 2) {
            const double spanS =
                std::chrono::duration<double>(shown.times.back() - shown.times.front()).count();
            summary.fps = (summary.shown - 1) / spanS;
        }
        summary.p99Ms = percentile(intervals, 0.99);
        summary.maxMs =
            intervals.empty() ? 0 : *std::max_element(intervals.begin(), intervals.end());
        double sum = 0;
        for (double i : intervals)
            sum += i;
        summary.meanMs = intervals.empty() ? 0 : sum / static_cast<double>(intervals.size());
        if (doc.source()->currentIndex() != kFrames - 1)
            state.SkipWithError("play did not reach the last frame");
    }
    state.counters["fps"] = summary.fps;
    state.counters["p99_ms"] = summary.p99Ms;
    state.counters["ratio"] = summary.fps / kPromisedFps;
    summaries()[std::string("Play ") + (j2k ? "J2K 720x248" : "JPEG 704x480")] = summary;
}

// The view's picture area of the main window at its starting size, as the play above shows it.
QSize viewSize() {
    korvex::CMainFrame frame;
    frame.show();
    QApplication::processEvents();
    return frame.imageView()->size();
}

void FrameWork(benchmark::State& state, bool j2k, bool draw) {
    const auto& files = j2k ? recordings().j2kFiles : recordings().jpegFiles;
    if (files.empty()) {
        state.SkipWithError(recordings().error.c_str());
        return;
    }
    const QSize page = viewSize();
    korvex::OverlaySettings settings;
    std::size_t i = 0;
    std::vector<double> times;
    for (auto _ : state) {
        const auto start = Clock::now();
        const std::string& path = files[i++ % files.size()];
        korvex::DibBlock block = j2k ? korvex::decodeJ2kFile(path) : korvex::decodeJpegFile(path);
        if (!block) {
            state.SkipWithError("decode failed");
            return;
        }
        if (draw) {
            korvex::FrameContent frame;
            frame.picture = &block;
            frame.time = 1236261429;
            frame.flags = 0;
            const QImage image = korvex::renderSinglePane(page, frame, settings, false);
            benchmark::DoNotOptimize(image.constBits());
        }
        benchmark::DoNotOptimize(block.data());
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    if (times.empty())
        return;
    Summary summary;
    std::sort(times.begin(), times.end());
    summary.perFrameMs = times[times.size() / 2];
    summary.fps = 1000.0 / summary.perFrameMs;
    state.counters["ms_per_frame"] = summary.perFrameMs;
    state.counters["ratio"] = summary.fps / kPromisedFps;
    summaries()[std::string("FrameWork ") + (j2k ? "J2K 720x248 " : "JPEG 704x480 ") +
                (draw ? "decode+draw" : "decode")] = summary;
}

BENCHMARK_CAPTURE(Play, jpeg704x480, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Play, j2k720x248, true)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(FrameWork, jpeg704x480_decode, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FrameWork, jpeg704x480_decode_draw, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FrameWork, j2k720x248_decode, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FrameWork, j2k720x248_decode_draw, true, true)->Unit(benchmark::kMillisecond);

// A home of our own, so that the main window reads and writes no real user's settings.
struct ScratchHome {
    fs::path path;
    ScratchHome() {
        path = fs::temp_directory_path() / ("korvex-viewerplay-home-" + std::to_string(::getpid()));
        fs::create_directories(path / "config");
        ::setenv("HOME", path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path / "config").c_str(), 1);
    }
    ~ScratchHome() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    ScratchHome home;
    QApplication app(argc, argv);
    korvex::initResources();
    korvex::setUiLanguage(korvex::Language::English);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    recordings();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nSpeed 5 promises %.0f frames per second (one every %.0f ms).\n", kPromisedFps,
                1000.0 / kPromisedFps);
    for (const auto& [name, s] : summaries()) {
        if (name.rfind("Play", 0) == 0)
            std::printf(
                "%-34s %6.1f fps (ratio %.2f), interval mean %.1f ms, p99 %.1f ms, "
                "max %.1f ms, %d frames shown\n",
                name.c_str(), s.fps, s.fps / kPromisedFps, s.meanMs, s.p99Ms, s.maxMs, s.shown);
        else
            std::printf("%-34s %6.2f ms per frame, at most %6.1f fps (ratio %.2f)\n", name.c_str(),
                        s.perFrameMs, s.fps, s.fps / kPromisedFps);
    }
    return 0;
}
