// How closely the sound track's position follows what the device really wrote, and what playing
// costs in CPU time. Runs on SDL's disk driver, which writes what is played in real time: the
// play cases take a minute each.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "../../tests/audio/AudioTestSupport.h"
#include "platform/audio/AudioStream.h"
#include "viewer/audio/SoundDecoder.h"
#include "viewer/audio/SoundTrack.h"

using namespace audiotest;

namespace {

constexpr int kRate = 44100;
constexpr double kPlaySeconds = 60.0;

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

long long fileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// One generated 62-second stereo track per format, kept for the whole run.
struct Tracks {
    TempDir dir;
    std::string wavFolder, mp3Folder;
    Tracks() {
        const auto tone = makeTone(kRate, 2, kPlaySeconds + 2);
        wavFolder = (dir.path() / "wav").string();
        mp3Folder = (dir.path() / "mp3").string();
        std::filesystem::create_directories(wavFolder);
        std::filesystem::create_directories(mp3Folder);
        writeTrack(wavFolder + "/sound.wav", TrackFormat::wav16, kRate, 2, tone);
        writeTrack(mp3Folder + "/sound.mp3", TrackFormat::mp3, kRate, 2, tone);
    }
};

Tracks& tracks() {
    static Tracks t;
    return t;
}

// Baselines measured earlier in the same run (registration order runs them first).
double decodeCpuMsPerS[2] = {0, 0};
double silentCpuMsPerS = 0;

const std::string& folderFor(int mp3) {
    return mp3 ? tracks().mp3Folder : tracks().wavFolder;
}

// Baseline: decoding the track as fast as it goes, without a device.
void BM_DecodeOnly(benchmark::State& state) {
    const std::string path = folderFor(static_cast<int>(state.range(0))) +
                             (state.range(0) ? "/sound.mp3" : "/sound.wav");
    double cpu = 0, audioSeconds = 0;
    for (auto _ : state) {
        korvex::SoundDecoder dec;
        if (!dec.open(path)) {
            state.SkipWithError("cannot open the track");
            return;
        }
        std::vector<float> buf(2048 * 2);
        const double c0 = processCpuSeconds();
        std::uint64_t frames = 0;
        while (std::size_t got = dec.read(buf.data(), 2048))
            frames += got;
        cpu += processCpuSeconds() - c0;
        audioSeconds += static_cast<double>(frames) / kRate;
    }
    decodeCpuMsPerS[state.range(0) ? 1 : 0] = 1000.0 * cpu / audioSeconds;
    state.counters["cpu_ms_per_s"] = 1000.0 * cpu / audioSeconds;
}
BENCHMARK(BM_DecodeOnly)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("mp3")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Baseline: the device alone, playing silence, for ten seconds.
void BM_SilentDevice(benchmark::State& state) {
    struct Silence : platform::AudioSource {
        std::size_t pullFrames(float* out, std::size_t frames) override {
            std::fill(out, out + frames * 2, 0.0f);
            return frames;
        }
    } silence;
    TempDir dir;
    useDiskOutput(dir, "silence.raw");
    for (auto _ : state) {
        platform::AudioStream stream;
        if (!stream.open({kRate, 2}, &silence)) {
            state.SkipWithError(stream.lastError().c_str());
            return;
        }
        const double c0 = processCpuSeconds();
        stream.resume();
        // Polled as often as the play cases poll, so that the polling costs the same in both.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (stream.framesHanded() < 10u * kRate && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const double cpu = processCpuSeconds() - c0;
        silentCpuMsPerS = 1000.0 * cpu / (stream.framesHanded() / double(kRate));
        state.counters["cpu_ms_per_s"] = silentCpuMsPerS;
    }
}
BENCHMARK(BM_SilentDevice)->Iterations(1)->Unit(benchmark::kMillisecond);

// A minute of playing: soundPosition against the frames the disk driver has written, sampled
// every 50 ms, and the process's CPU time per second played.
void BM_PlayMinute(benchmark::State& state) {
    const int mp3 = static_cast<int>(state.range(0));
    TempDir dir;
    const std::string out = useDiskOutput(dir, "play.raw");
    for (auto _ : state) {
        korvex::SoundTrack track;
        if (track.openSound(folderFor(mp3)) != 1) {
            state.SkipWithError("cannot open the track");
            return;
        }
        struct Sample {
            double positionMs;
            long long bytes;
        };
        std::vector<Sample> samples;
        samples.reserve(2000);
        const double c0 = processCpuSeconds();
        track.playFrom(0, 3);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        while (track.soundPosition() < kPlaySeconds * 1000 &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const double pos = track.soundPosition();
            samples.push_back({pos, fileBytes(out)});
        }
        const double cpu = processCpuSeconds() - c0;
        track.pauseSound();
        const double playedSeconds = track.soundPosition() / 1000.0;
        const double blockMs = 1000.0 * track.deviceBufferFrames() / kRate;
        track.closeSound();

        // The output starts with the silence written while the track stood paused; the track's
        // first frame carries a click, so the first sound marks where playing began.
        const auto written = readDiskOutput(out);
        const double lead = static_cast<double>(firstSoundFrame(written));
        double maxAbs = 0, sum = 0, sumAbs = 0;
        for (const auto& s : samples) {
            const double writtenMs = (s.bytes / 8.0 - lead) * 1000.0 / kRate;
            if (writtenMs < 0)
                continue;
            const double stray = s.positionMs - writtenMs;
            maxAbs = std::max(maxAbs, std::fabs(stray));
            sum += stray;
            sumAbs += std::fabs(stray);
        }
        const double n = std::max<double>(1, static_cast<double>(samples.size()));
        state.counters["stray_max_ms"] = maxAbs;
        state.counters["stray_mean_ms"] = sum / n;
        state.counters["stray_mean_abs_ms"] = sumAbs / n;
        state.counters["device_block_ms"] = blockMs;
        const double cpuPerS = 1000.0 * cpu / std::max(playedSeconds, 1e-3);
        state.counters["cpu_ms_per_s"] = cpuPerS;
        state.counters["samples"] = n;
        const double decode = decodeCpuMsPerS[mp3];
        if (decode > 0)
            state.counters["ratio_vs_decode_only"] = cpuPerS / decode;
        if (silentCpuMsPerS > 0)
            state.counters["ratio_vs_silent_device"] = cpuPerS / silentCpuMsPerS;
        std::printf(
            "%s: position vs written max %.2f ms, mean %.2f ms (mean |x| %.2f ms, one "
            "device block %.2f ms); CPU %.2f ms per second played (decoding alone %.2f, silent "
            "device %.2f)\n",
            mp3 ? "MP3" : "WAV", maxAbs, sum / n, sumAbs / n, blockMs, cpuPerS, decode,
            silentCpuMsPerS);
    }
}
BENCHMARK(BM_PlayMinute)->Arg(0)->Arg(1)->ArgName("mp3")->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
