#include "tools/dvrsim/SimContent.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <string_view>

#include "platform/FileSystem.h"
#include "recording/AuthenticityCheck.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/InfoFile.h"
#include "tools/recgen/SoundWriter.h"
#include "tools/recgen/Trailer.h"

namespace korvex::sim {

namespace {

constexpr long long kMaxServedFileBytes = 256ll * 1024 * 1024;
constexpr const char* kCameraTitle = "DVRSIM";

void putLe(Bytes& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putTag(Bytes& out, std::string_view tag) {
    for (char c : tag)
        out.push_back(static_cast<std::uint8_t>(c));
}

std::optional<Bytes> readFile(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    Bytes bytes;
    if (!platform::readWholeFile(path, bytes, kMaxServedFileBytes))
        return std::nullopt;
    return bytes;
}

std::vector<std::string> sortedFiles(const std::string& folder, const char* extension) {
    std::vector<std::string> files;
    platform::forEachFileWithExtension(folder, extension, [&files](const std::string& path) {
        files.push_back(path);
        return true;
    });
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return platform::compareNoCase(a, b) < 0;
    });
    return files;
}

}  // namespace

bool SoundFormat::valid() const {
    return sampleRate >= kMinRate && sampleRate <= kMaxRate && channels >= 1 &&
           channels <= kMaxChannels &&
           (bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24 ||
            bitsPerSample == 32);
}

std::optional<SoundFormat> parseSoundFormat(std::string_view text) {
    int fields[3] = {0, 0, 0};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t digits = 0;
        long long value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 7) {
            value = value * 10 + (text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0)
            return std::nullopt;
        fields[i] = static_cast<int>(value);
        if (i < 2) {
            if (at >= text.size() || text[at] != ':')
                return std::nullopt;
            ++at;
        }
    }
    if (at != text.size())
        return std::nullopt;
    const SoundFormat format{fields[0], fields[1], fields[2]};
    if (!format.valid())
        return std::nullopt;
    return format;
}

Bytes makeWav(const Bytes& pcm, const SoundFormat& format) {
    const auto dataBytes = static_cast<std::uint32_t>(pcm.size());
    const std::uint32_t pad = dataBytes % 2;
    const auto blockAlign = static_cast<std::uint32_t>(format.blockAlign());
    Bytes out;
    out.reserve(44 + dataBytes + pad);
    putTag(out, "RIFF");
    putLe(out, 36 + dataBytes + pad, 4);
    putTag(out, "WAVEfmt ");
    putLe(out, 16, 4);
    putLe(out, 1, 2);  // PCM
    putLe(out, static_cast<std::uint32_t>(format.channels), 2);
    putLe(out, static_cast<std::uint32_t>(format.sampleRate), 4);
    putLe(out, static_cast<std::uint32_t>(format.sampleRate) * blockAlign, 4);
    putLe(out, blockAlign, 2);
    putLe(out, static_cast<std::uint32_t>(format.bitsPerSample), 2);
    putTag(out, "data");
    putLe(out, dataBytes, 4);
    out.insert(out.end(), pcm.begin(), pcm.end());
    if (pad)
        out.push_back(0);
    return out;
}

Bytes makeWav(const std::vector<std::int16_t>& samples, int sampleRate, int channels) {
    Bytes pcm;
    pcm.reserve(samples.size() * 2);
    for (std::int16_t s : samples)
        putLe(pcm, static_cast<std::uint16_t>(s), 2);
    return makeWav(pcm, SoundFormat{sampleRate, channels, 16});
}

std::uint32_t dvrSecondsNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const long long wallClock = static_cast<long long>(timegm(&local)) - 946684800ll;
    return wallClock < 0 ? 0u : static_cast<std::uint32_t>(wallClock);
}

Bytes restampFrame(const Bytes& frame, std::uint32_t dvrSeconds, std::uint32_t offsetMs) {
    const std::optional<J2kLayout> layout = locateJ2k(frame);
    if (!layout)
        return frame;
    Bytes stamped(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(layout->end));
    if (!gen::appendJ2kTrailer(stamped, gen::TrailerFields{dvrSeconds, offsetMs, true})) {
        return frame;
    }
    return stamped;
}

bool SimContent::open(const ContentOptions& options, std::string* error) {
    options_ = options;
    options_.width = std::clamp(options_.width, 16, 4096);
    options_.height = std::clamp(options_.height, 16, 4096);
    options_.frameIntervalMs = std::clamp(options_.frameIntervalMs, 1, 60000);
    options_.recordedFrames = std::clamp(options_.recordedFrames, 0, 100000);
    format_.sampleRate =
        std::clamp(options_.sampleRate, SoundFormat::kMinRate, SoundFormat::kMaxRate);
    format_.channels = std::clamp(options_.channels, 1, SoundFormat::kMaxChannels);
    format_.bitsPerSample = options_.bitsPerSample;
    if (!format_.valid())
        format_.bitsPerSample = 16;
    if (!options_.recordingFolder.empty()) {
        const std::string& folder = options_.recordingFolder;
        if (!platform::isDirectory(folder)) {
            if (error)
                *error = "not a folder: " + folder;
            return false;
        }
        std::vector<std::string> subfolders = platform::listSubdirectories(folder);
        std::sort(subfolders.begin(), subfolders.end(),
                  [](const std::string& a, const std::string& b) {
                      return platform::compareNoCase(a, b) < 0;
                  });
        for (const std::string& sub : subfolders) {
            for (std::string& path : sortedFiles(sub, "jp2"))
                framePaths_.push_back(std::move(path));
        }
        for (std::string& path : sortedFiles(folder, "jp2"))
            framePaths_.push_back(std::move(path));
        if (framePaths_.empty()) {
            if (error)
                *error = "no JPEG 2000 frames in " + folder;
            return false;
        }
        soundPath_ = platform::findFileNoCase(folder, "sound.wav");
        if (soundPath_.empty())
            soundPath_ = platform::findFileNoCase(folder, "SOUND/sound.wav");
        if (const std::string info = platform::findEntryNoCase(folder, "INFO", true);
            !info.empty()) {
            const std::vector<std::string> infs = sortedFiles(info, "INF");
            if (!infs.empty())
                infoPath_ = infs.front();
        }
        std::vector<float> mono;
        int rate = 0;
        if (!soundPath_.empty() && gen::readSoundMono(soundPath_, mono, rate) &&
            rate >= SoundFormat::kMinRate && rate <= SoundFormat::kMaxRate) {
            format_.sampleRate = rate;
            recordingRate_ = rate;
            recordingSamples_.reserve(mono.size());
            for (float v : mono) {
                recordingSamples_.push_back(
                    static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f)));
            }
        }
    } else {
        recordedFrames_.assign(static_cast<std::size_t>(options_.recordedFrames), Bytes());
    }
    const auto stretchSeconds = static_cast<std::uint32_t>(
        static_cast<long long>(recordedFrameCount()) * options_.frameIntervalMs / 1000);
    const std::uint32_t now = dvrSecondsNow();
    recordStartDvrSeconds_ = now > stretchSeconds + 60 ? now - stretchSeconds - 60 : 0;
    return true;
}

std::int16_t SimContent::sampleAt(std::uint64_t frame, int rate) const {
    const auto perSecond = static_cast<std::uint64_t>(rate);
    if (!recordingSamples_.empty()) {
        // Another rate than the recording's picks the nearest earlier sample.
        const std::uint64_t at = frame * static_cast<std::uint64_t>(recordingRate_) / perSecond;
        return recordingSamples_[at % recordingSamples_.size()];
    }
    if (options_.clockSound) {
        const std::uint64_t ms = frame * 1000u / perSecond;
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(ms & 0xFFFFu));
    }
    // A quiet 440 Hz tone with a 1 kHz beep over the first 40 ms of every second, so that the
    // sound's continuity and its clock can be heard.
    const std::uint64_t inSecond = frame % perSecond;
    const double t = static_cast<double>(inSecond) / rate;
    double v = 0.05 * std::sin(2.0 * M_PI * 440.0 * t);
    if (inSecond < perSecond / 25)
        v += 0.3 * std::sin(2.0 * M_PI * 1000.0 * t);
    return static_cast<std::int16_t>(std::lround(v * 32767.0));
}

std::vector<std::int16_t> SimContent::liveSamples(std::uint64_t first, std::size_t count) const {
    std::vector<std::int16_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = sampleAt(first + i, format_.sampleRate);
    return out;
}

Bytes SimContent::liveSound(std::uint64_t first, std::size_t count,
                            const SoundFormat& format) const {
    const bool ramp = recordingSamples_.empty() && options_.clockSound;
    const auto perSecond = static_cast<std::uint64_t>(format.sampleRate);
    Bytes out;
    out.reserve(count * static_cast<std::size_t>(format.blockAlign()));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t frame = first + i;
        const auto value = static_cast<std::uint16_t>(sampleAt(frame, format.sampleRate));
        std::uint8_t sample[4] = {0, 0, 0, 0};
        switch (format.bitsPerSample) {
            case 8:
                sample[0] = ramp ? static_cast<std::uint8_t>(frame * 1000u / perSecond)
                                 : static_cast<std::uint8_t>((value >> 8) ^ 0x80u);
                break;
            default:
                // The 16-bit value in the top two bytes; wider samples get zero low bytes.
                sample[format.bitsPerSample / 8 - 2] = static_cast<std::uint8_t>(value);
                sample[format.bitsPerSample / 8 - 1] = static_cast<std::uint8_t>(value >> 8);
                break;
        }
        for (int c = 0; c < format.channels; ++c)
            out.insert(out.end(), sample, sample + format.bitsPerSample / 8);
    }
    return out;
}

Bytes SimContent::encodeCaptioned(int frameNumber, std::uint32_t dvrSeconds) {
    gen::FrameCaption caption;
    caption.channel = 0;
    caption.title = kCameraTitle;
    caption.frameNumber = frameNumber;
    caption.dvrSeconds = dvrSeconds;
    const gen::RawPicture picture = gen::renderFrame(options_.width, options_.height, caption, 1);
    return gen::encodeJ2k(picture, gen::J2kContainer::Jp2, 20.0f);
}

Bytes SimContent::livePicture(std::uint64_t liveIndex, std::uint32_t dvrSeconds) {
    std::lock_guard<std::mutex> guard(lock_);
    if (options_.still && !livePicture_.empty())
        return livePicture_;
    if (liveIndex == liveIndex_ && !livePicture_.empty())
        return livePicture_;
    if (!framePaths_.empty()) {
        const std::string& path = framePaths_[liveIndex % framePaths_.size()];
        livePicture_ = readFile(path).value_or(Bytes());
    } else {
        livePicture_ = encodeCaptioned(static_cast<int>(liveIndex % 1000000) + 1, dvrSeconds);
    }
    liveIndex_ = liveIndex;
    return livePicture_;
}

int SimContent::recordedFrameCount() const {
    if (!framePaths_.empty())
        return static_cast<int>(framePaths_.size());
    return static_cast<int>(recordedFrames_.size());
}

std::optional<Bytes> SimContent::recordedFrame(int n) {
    if (n < 1 || n > recordedFrameCount())
        return std::nullopt;
    if (!framePaths_.empty())
        return readFile(framePaths_[static_cast<std::size_t>(n - 1)]);
    std::lock_guard<std::mutex> guard(lock_);
    Bytes& frame = recordedFrames_[static_cast<std::size_t>(n - 1)];
    if (frame.empty()) {
        const auto offsetMs =
            static_cast<std::uint32_t>(static_cast<long long>(n - 1) * options_.frameIntervalMs);
        const std::uint32_t seconds = recordStartDvrSeconds_ + offsetMs / 1000;
        frame = encodeCaptioned(n, seconds);
        if (frame.empty())
            return std::nullopt;
        gen::appendJ2kTrailer(frame, gen::TrailerFields{seconds, offsetMs, true});
    }
    return frame;
}

std::optional<Bytes> SimContent::recordedSound() {
    if (!framePaths_.empty())
        return readFile(soundPath_);
    const auto frames =
        static_cast<std::size_t>(static_cast<long long>(recordedFrameCount()) *
                                 options_.frameIntervalMs * format_.sampleRate / 1000);
    return makeWav(liveSound(0, frames, format_), format_);
}

std::optional<Bytes> SimContent::recordedInfo() {
    if (!framePaths_.empty())
        return readFile(infoPath_);
    std::vector<gen::InfoRecord> records;
    for (int i = 0; i < recordedFrameCount(); ++i) {
        const auto offsetMs =
            static_cast<std::uint32_t>(static_cast<long long>(i) * options_.frameIntervalMs);
        records.push_back(gen::InfoRecord{recordStartDvrSeconds_ + offsetMs / 1000, offsetMs, 0});
    }
    std::array<std::string, 16> titles;
    titles[0] = kCameraTitle;
    return gen::buildInfoFile(records, titles);
}

}  // namespace korvex::sim
