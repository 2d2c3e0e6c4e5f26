#include "AudioTestSupport.h"

#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

namespace audiotest {

std::vector<float> makeTone(int sampleRate, int channels, double seconds) {
    const auto frames = static_cast<std::size_t>(sampleRate * seconds);
    std::vector<float> out(frames * static_cast<std::size_t>(channels));
    const double kPi = 3.14159265358979323846;
    const std::size_t clickEvery = static_cast<std::size_t>(sampleRate) / 4;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        for (int c = 0; c < channels; ++c) {
            const double freq = 440.0 + 220.0 * c;
            double v = (0.4 - 0.1 * c) * std::sin(2 * kPi * freq * t + 0.3 + 0.8 * c);
            if (c == 0 && i % clickEvery == 0)
                v = 0.9;
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<float>(v);
        }
    }
    return out;
}

bool writeTrack(const std::string& path, TrackFormat format, int sampleRate, int channels,
                const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format == TrackFormat::wav16 ? (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
                                               : (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr)
        return false;
    const auto frames =
        static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels));
    const bool ok = sf_writef_float(f, samples.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

bool readTrack(const std::string& path, std::vector<float>& samples, int& sampleRate,
               int& channels) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr)
        return false;
    // Up to the end of the data, whatever the header claims.
    samples.clear();
    std::vector<float> block(4096 * static_cast<std::size_t>(info.channels));
    sf_count_t got = 0;
    while ((got = sf_readf_float(f, block.data(), 4096)) > 0)
        samples.insert(samples.end(), block.begin(),
                       block.begin() + got * static_cast<std::ptrdiff_t>(info.channels));
    sf_close(f);
    sampleRate = info.samplerate;
    channels = info.channels;
    return !samples.empty();
}

std::vector<float> readDiskOutput(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t frames = bytes.size() / (2 * sizeof(float));
    std::vector<float> out(frames * 2);
    if (frames > 0)
        std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
    return out;
}

std::size_t firstSoundFrame(const std::vector<float>& stereo) {
    const std::size_t frames = stereo.size() / 2;
    for (std::size_t i = 0; i < frames; ++i) {
        if (stereo[2 * i] != 0.0f || stereo[2 * i + 1] != 0.0f)
            return i;
    }
    return frames;
}

std::string useDiskOutput(const TempDir& dir, const std::string& name) {
    const std::string path = (dir.path() / name).string();
    ::setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    return path;
}

}  // namespace audiotest
