#include "tools/recgen/SoundWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace korvex::gen {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const {
        if (f)
            sf_close(f);
    }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

constexpr std::uint32_t kMaxDurationMs = 24u * 3600u * 1000u;
constexpr double kToneHz = 440.0;

void setError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

}  // namespace

bool soundSpecValid(const SoundSpec& spec, std::string* error) {
    if (spec.format == SoundFormat::None) {
        setError(error, "no sound format chosen");
        return false;
    }
    if (spec.sampleRate < 1000 || spec.sampleRate > 48000) {
        setError(error, "sample rate must be 1000 to 48000 Hz");
        return false;
    }
    if (spec.channels != 1 && spec.channels != 2) {
        setError(error, "sound must have 1 or 2 channels");
        return false;
    }
    if (spec.durationMs > kMaxDurationMs) {
        setError(error, "sound longer than 24 hours");
        return false;
    }
    return true;
}

void synthesizeSound(const SoundSpec& spec, const std::vector<std::uint64_t>& sortedClicks,
                     std::uint64_t first, std::size_t count, float* out) {
    const double rate = spec.sampleRate;
    const double toneStep = 2.0 * std::numbers::pi * kToneHz / rate;
    for (std::size_t k = 0; k < count; ++k) {
        // The phase is taken modulo the rate so that long tracks keep full precision.
        const auto n = static_cast<double>((first + k) % static_cast<std::uint64_t>(rate * 100));
        out[k] = spec.tone ? static_cast<float>(kToneAmplitude * std::sin(toneStep * n)) : 0.0f;
    }

    // A click is a burst that starts at full height on its onset sample and dies away within
    // kClickLengthMs: audible as a tick, and its onset is exact to the sample.
    const auto clickLen = static_cast<std::uint64_t>(std::max(1.0, rate * kClickLengthMs / 1000.0));
    const double clickStep = 2.0 * std::numbers::pi * std::min(1000.0, rate / 4.0) / rate;
    const double decay = rate * (kClickLengthMs / 4.0) / 1000.0;
    const std::uint64_t end = first + count;
    auto it = std::lower_bound(sortedClicks.begin(), sortedClicks.end(),
                               first >= clickLen ? first - clickLen + 1 : 0);
    for (; it != sortedClicks.end() && *it < end; ++it) {
        const std::uint64_t from = std::max(*it, first);
        const std::uint64_t to = std::min(*it + clickLen, end);
        for (std::uint64_t s = from; s < to; ++s) {
            const auto t = static_cast<double>(s - *it);
            const double v = kClickAmplitude * std::cos(clickStep * t) * std::exp(-t / decay);
            float& o = out[s - first];
            o = std::clamp(static_cast<float>(o + v), -1.0f, 1.0f);
        }
    }
}

bool writeSound(const std::string& path, const SoundSpec& spec, std::string* error) {
    if (!soundSpecValid(spec, error))
        return false;

    SF_INFO info{};
    info.samplerate = spec.sampleRate;
    info.channels = spec.channels;
    info.format = spec.format == SoundFormat::Wav ? (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
                                                  : (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III);
    if (!sf_format_check(&info)) {
        setError(error, "this libsndfile cannot write the chosen sound format");
        return false;
    }
    SndfilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file) {
        setError(error, std::string("cannot create sound file: ") + sf_strerror(nullptr));
        return false;
    }
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    std::vector<std::uint64_t> clicks;
    clicks.reserve(spec.clickOffsetsMs.size());
    for (std::uint32_t ms : spec.clickOffsetsMs) {
        clicks.push_back(clickOnsetSample(ms, spec.sampleRate));
    }
    std::sort(clicks.begin(), clicks.end());

    const std::uint64_t total = static_cast<std::uint64_t>(spec.durationMs) *
                                static_cast<std::uint64_t>(spec.sampleRate) / 1000;
    constexpr std::size_t kBlock = 4096;
    std::vector<float> mono(kBlock);
    std::vector<float> frames(kBlock * static_cast<std::size_t>(spec.channels));
    for (std::uint64_t done = 0; done < total;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, total - done));
        synthesizeSound(spec, clicks, done, n, mono.data());
        for (std::size_t i = 0; i < n; ++i) {
            for (int c = 0; c < spec.channels; ++c) {
                frames[i * static_cast<std::size_t>(spec.channels) + static_cast<std::size_t>(c)] =
                    mono[i];
            }
        }
        if (sf_writef_float(file.get(), frames.data(), static_cast<sf_count_t>(n)) !=
            static_cast<sf_count_t>(n)) {
            setError(error, std::string("cannot write sound: ") + sf_strerror(file.get()));
            return false;
        }
        done += n;
    }
    if (sf_close(file.release()) != 0) {
        setError(error, "cannot finish the sound file");
        return false;
    }
    return true;
}

std::vector<std::size_t> findClicks(const float* samples, std::size_t count, int sampleRate,
                                    float threshold) {
    std::vector<std::size_t> onsets;
    const auto spacing =
        static_cast<std::size_t>(std::max(1, sampleRate * kMinClickSpacingMs / 1000));
    std::size_t quietRun = spacing;  // the start of the signal counts as quiet
    for (std::size_t i = 0; i < count; ++i) {
        if (std::fabs(samples[i]) >= threshold) {
            if (quietRun >= spacing)
                onsets.push_back(i);
            quietRun = 0;
        } else {
            ++quietRun;
        }
    }
    return onsets;
}

bool readSoundMono(const std::string& path, std::vector<float>& samples, int& sampleRate,
                   std::size_t maxFrames) {
    SF_INFO info{};
    SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file || info.channels < 1 || info.channels > 8 || info.samplerate < 1)
        return false;
    samples.clear();
    sampleRate = info.samplerate;
    const auto ch = static_cast<std::size_t>(info.channels);
    std::vector<float> block(4096 * ch);
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), block.data(), 4096);
        if (got <= 0)
            break;
        if (samples.size() + static_cast<std::size_t>(got) > maxFrames)
            return false;
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0;
            for (std::size_t c = 0; c < ch; ++c)
                sum += block[static_cast<std::size_t>(i) * ch + c];
            samples.push_back(sum / static_cast<float>(ch));
        }
    }
    return true;
}

}  // namespace korvex::gen
