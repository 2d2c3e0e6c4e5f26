#include "tools/recgen/RecordingWriter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "recording/AuthenticityCheck.h"
#include "recording/DibBlock.h"
#include "recording/ImageDecoder.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/InfoFile.h"

namespace korvex::gen {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxFrames = 1'000'000;
constexpr std::uint32_t kMaxIntervalMs = 3'600'000;
constexpr int kMinSide = 8;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};

bool writeFile(const std::string& path, const void* data, std::size_t size) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f)
        return false;
    if (size != 0 && std::fwrite(data, 1, size, f.get()) != size)
        return false;
    return std::fclose(f.release()) == 0;
}

const char* extensionOf(PictureFormat pictures) {
    return pictures == PictureFormat::Jpeg ? "jpg" : "jp2";
}

std::string framePath(const std::string& folder, const RecordingSpec& spec, int index) {
    char name[48];
    if (spec.layout == FrameLayout::Flat) {
        std::snprintf(name, sizeof name, "%06d.%s", index + 1, extensionOf(spec.pictures));
    } else {
        std::snprintf(name, sizeof name, "IMG%05d/%06d.%s", index / spec.framesPerFolder + 1,
                      index + 1, extensionOf(spec.pictures));
    }
    return (fs::path(folder) / name).string();
}

// The trailer's fields count from the JP2 signature the check requires, so a raw code-stream
// (which the check never accepts) is written without one.
bool rawCodestream(const RecordingSpec& spec) {
    return spec.pictures == PictureFormat::Jpeg2000 &&
           spec.j2kContainer == J2kContainer::Codestream;
}

// Renders, encodes, seals and (on request) spoils one frame; false with a reason on failure.
bool makeFrame(const RecordingSpec& spec, int index, const std::string& title, WrittenFrame& frame,
               std::string& error) {
    FrameCaption caption;
    caption.channel = frame.channel;
    caption.title = title;
    caption.frameNumber = index + 1;
    caption.dvrSeconds = frame.dvrSeconds;
    const RawPicture picture = renderFrame(spec.width, spec.height, caption, spec.seed);

    const bool jpeg = spec.pictures == PictureFormat::Jpeg;
    std::vector<std::uint8_t> bytes = jpeg ? encodeJpeg(picture, spec.jpegQuality)
                                           : encodeJ2k(picture, spec.j2kContainer, spec.j2kRate);
    if (bytes.empty()) {
        error = "cannot encode frame " + std::to_string(index);
        return false;
    }
    if (spec.trailers && !rawCodestream(spec)) {
        TrailerFields fields;
        fields.dvrSeconds = frame.dvrSeconds;
        fields.offsetMs = frame.offsetMs;
        fields.withTime = spec.trailerTime;
        const bool sealed =
            jpeg ? appendJpegTrailer(bytes, fields) : appendJ2kTrailer(bytes, fields);
        if (!sealed) {
            error = "cannot append the trailer to frame " + std::to_string(index);
            return false;
        }
    }
    if (frame.damage != Damage::None) {
        frame.damageApplied =
            jpeg ? applyJpegDamage(bytes, frame.damage) : applyJ2kDamage(bytes, frame.damage);
    }
    if (!writeFile(frame.path, bytes.data(), bytes.size())) {
        error = "cannot write " + frame.path;
        return false;
    }
    return true;
}

std::string titleOf(const RecordingSpec& spec, int channel) {
    if (channel < 0 || static_cast<std::size_t>(channel) >= spec.titles.size())
        return {};
    return spec.titles[static_cast<std::size_t>(channel)];
}

bool writeInfo(const std::string& folder, const RecordingSpec& spec,
               const std::vector<WrittenFrame>& frames, std::string& path, std::string& error) {
    std::vector<InfoRecord> records;
    records.reserve(frames.size());
    for (const auto& f : frames) {
        InfoRecord r;
        r.dvrSeconds = f.dvrSeconds;
        r.offsetMs = f.offsetMs;
        r.channel = static_cast<std::uint8_t>(f.channel);
        records.push_back(r);
    }
    std::array<std::string, 16> titles;
    for (int c = 0; c < 16; ++c)
        titles[static_cast<std::size_t>(c)] = titleOf(spec, c);
    const std::vector<std::uint8_t> bytes = buildInfoFile(records, titles);
    std::error_code ec;
    fs::create_directories(fs::path(folder) / "INFO", ec);
    // The control names its index after the run: M + run number.
    path = (fs::path(folder) / "INFO" / "M00001.INF").string();
    if (ec || bytes.empty() || !writeFile(path, bytes.data(), bytes.size())) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool writeTimeTxt(const std::string& folder, const std::vector<WrittenFrame>& frames,
                  std::string& path, std::string& error) {
    std::string text;
    text.reserve(frames.size() * 10);
    for (const auto& f : frames) {
        text += std::to_string(f.offsetMs);
        text += "\r\n";  // written on the recorders' platform
    }
    path = (fs::path(folder) / "time.txt").string();
    if (!writeFile(path, text.data(), text.size())) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

std::uint32_t frameOffsetMs(const RecordingSpec& spec, int index) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(index) * spec.intervalMs);
}

std::uint32_t frameDvrSeconds(const RecordingSpec& spec, int index) {
    return spec.startDvrSeconds + frameOffsetMs(spec, index) / 1000;
}

int frameChannel(const RecordingSpec& spec, int index) {
    if (spec.channels.empty())
        return 0;
    return spec.channels[static_cast<std::size_t>(index) % spec.channels.size()];
}

std::uint32_t recordingLengthMs(const RecordingSpec& spec) {
    return spec.frames <= 0 ? 0 : frameOffsetMs(spec, spec.frames - 1) + spec.intervalMs;
}

bool validateSpec(const RecordingSpec& spec, std::string& error,
                  std::vector<std::string>* warnings) {
    auto warn = [&](std::string text) {
        if (warnings)
            warnings->push_back(std::move(text));
    };
    if (spec.pictures == PictureFormat::None) {
        error = "no picture format chosen";
        return false;
    }
    if (spec.frames < 1 || spec.frames > kMaxFrames) {
        error = "frame count must be 1 to " + std::to_string(kMaxFrames);
        return false;
    }
    if (spec.width < kMinSide || spec.height < kMinSide || spec.width > kMaxFrameWidth ||
        spec.height > kMaxFrameHeight) {
        error = "picture size must be " + std::to_string(kMinSide) + " to " +
                std::to_string(kMaxFrameWidth) + " pixels each way";
        return false;
    }
    if (spec.channels.size() > 16) {
        error = "at most 16 channels";
        return false;
    }
    std::array<bool, 16> seen{};
    for (int c : spec.channels) {
        if (c < 0 || c > 15) {
            error = "channel numbers must be 0 to 15";
            return false;
        }
        if (seen[static_cast<std::size_t>(c)]) {
            error = "channel " + std::to_string(c) + " given twice";
            return false;
        }
        seen[static_cast<std::size_t>(c)] = true;
    }
    if (spec.titles.size() > 16) {
        error = "at most 16 titles";
        return false;
    }
    for (const auto& t : spec.titles) {
        if (t.size() > 16) {
            error = "camera title \"" + t + "\" is longer than 16 characters";
            return false;
        }
    }
    if (spec.intervalMs < 1 || spec.intervalMs > kMaxIntervalMs) {
        error = "frame interval must be 1 to " + std::to_string(kMaxIntervalMs) + " ms";
        return false;
    }
    if (static_cast<std::uint64_t>(spec.frames) * spec.intervalMs > 0xFFFFFFFFull) {
        error = "the recording is longer than a 32-bit millisecond offset can count";
        return false;
    }
    const std::uint64_t lastSeconds =
        spec.startDvrSeconds + static_cast<std::uint64_t>(spec.frames) * spec.intervalMs / 1000;
    if (lastSeconds > 0xFFFFFFFFull) {
        error = "capture times run past a 32-bit second count";
        return false;
    }
    if (spec.layout == FrameLayout::Subfolders &&
        (spec.framesPerFolder < 1 || (spec.frames - 1) / spec.framesPerFolder + 1 > 99999)) {
        error = "frames per subfolder must be at least 1 and need at most 99999 subfolders";
        return false;
    }
    for (const auto& [index, damage] : spec.damage) {
        if (index < 0 || index >= spec.frames) {
            error = "damaged frame " + std::to_string(index) + " is not in the recording";
            return false;
        }
    }
    if (spec.sound != SoundFormat::None) {
        SoundSpec s;
        s.format = spec.sound;
        s.sampleRate = spec.soundRate;
        s.channels = spec.soundChannels;
        s.durationMs = recordingLengthMs(spec);
        if (!soundSpecValid(s, &error))
            return false;
    }
    if (spec.jpegQuality < 1 || spec.jpegQuality > 100) {
        error = "JPEG quality must be 1 to 100";
        return false;
    }
    if (!(spec.j2kRate >= 1.0f && spec.j2kRate <= 1000.0f)) {
        error = "JPEG 2000 compression ratio must be 1 to 1000";
        return false;
    }

    if (spec.sound != SoundFormat::None && spec.layout == FrameLayout::Flat) {
        warn(
            "with a sound file the viewer looks for pictures in subfolders only; flat pictures "
            "will not be found");
    }
    if (spec.sound == SoundFormat::Mp3 && spec.pictures == PictureFormat::Jpeg) {
        warn("a folder with sound.mp3 is read as JPEG 2000; its JPEG pictures will not be listed");
    }
    if (rawCodestream(spec) && spec.trailers) {
        warn("raw code-streams are written without trailers; the check cannot run on them");
    }
    if (spec.pictures == PictureFormat::Jpeg2000 &&
        54 + static_cast<std::uint64_t>(dibStride(static_cast<std::uint32_t>(spec.width), 3)) *
                    static_cast<std::uint64_t>(spec.height) >
            kJ2kBlockCapacity) {
        warn("JPEG 2000 pictures of " + std::to_string(spec.width) + "x" +
             std::to_string(spec.height) + " do not fit the decoder's block and will not decode");
    }
    if (lastSeconds >= kMaxDvrSeconds) {
        warn("some capture times lie at or beyond 946080000 seconds and count as invalid");
    }
    return true;
}

RecordingResult writeRecording(const std::string& folder, const RecordingSpec& spec,
                               const WriteProgress& progress) {
    RecordingResult result;
    if (!validateSpec(spec, result.error, &result.warnings))
        return result;

    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        result.error = "cannot create folder " + folder;
        return result;
    }
    // Never mix a new recording into old files: the viewer would index both.
    if (fs::directory_iterator(folder, ec) != fs::directory_iterator() || ec) {
        result.error = "folder " + folder + " is not empty";
        return result;
    }

    result.frames.resize(static_cast<std::size_t>(spec.frames));
    for (int i = 0; i < spec.frames; ++i) {
        WrittenFrame& f = result.frames[static_cast<std::size_t>(i)];
        f.path = framePath(folder, spec, i);
        f.channel = frameChannel(spec, i);
        f.dvrSeconds = frameDvrSeconds(spec, i);
        f.offsetMs = frameOffsetMs(spec, i);
        if (auto it = spec.damage.find(i); it != spec.damage.end())
            f.damage = it->second;
    }
    if (spec.layout == FrameLayout::Subfolders) {
        for (int i = 0; i < spec.frames; i += spec.framesPerFolder) {
            fs::create_directories(
                fs::path(result.frames[static_cast<std::size_t>(i)].path).parent_path(), ec);
            if (ec) {
                result.error = "cannot create the frame subfolders";
                return result;
            }
        }
    }

    // The frames are independent, so a few threads encode them; each frame's bytes depend only on
    // the recording description and its index, whichever thread makes it.
    int threads = spec.threads > 0
                      ? spec.threads
                      : static_cast<int>(std::min(2u, std::thread::hardware_concurrency()));
    threads = std::clamp(threads, 1, std::min(8, spec.frames));
    std::atomic<int> nextIndex{0};
    std::atomic<bool> failed{false};
    std::mutex errorLock;
    std::mutex progressLock;
    int framesDone = 0;
    auto work = [&] {
        for (;;) {
            const int i = nextIndex.fetch_add(1);
            if (i >= spec.frames || failed.load())
                return;
            WrittenFrame& f = result.frames[static_cast<std::size_t>(i)];
            std::string error;
            if (!makeFrame(spec, i, titleOf(spec, f.channel), f, error)) {
                std::lock_guard lock(errorLock);
                if (!failed.exchange(true))
                    result.error = error;
                return;
            }
            if (progress) {
                std::lock_guard lock(progressLock);
                progress(++framesDone, spec.frames);
            }
        }
    };
    {
        std::vector<std::jthread> pool;
        for (int t = 1; t < threads; ++t)
            pool.emplace_back(work);
        work();
    }  // joined here
    if (failed)
        return result;

    if (spec.writeInfo && !writeInfo(folder, spec, result.frames, result.infoPath, result.error)) {
        return result;
    }
    if (spec.writeTimeTxt &&
        !writeTimeTxt(folder, result.frames, result.timeTxtPath, result.error)) {
        return result;
    }
    if (spec.sound != SoundFormat::None) {
        SoundSpec s;
        s.format = spec.sound;
        s.sampleRate = spec.soundRate;
        s.channels = spec.soundChannels;
        s.tone = spec.soundTone;
        s.durationMs = recordingLengthMs(spec);
        s.clickOffsetsMs.reserve(result.frames.size());
        for (const auto& f : result.frames)
            s.clickOffsetsMs.push_back(f.offsetMs);
        fs::path dir(folder);
        if (spec.soundPlace == SoundPlace::SoundFolder) {
            dir /= "SOUND";
            fs::create_directories(dir, ec);
        }
        result.soundPath =
            (dir / (spec.sound == SoundFormat::Wav ? "sound.wav" : "sound.mp3")).string();
        if (!writeSound(result.soundPath, s, &result.error))
            return result;
    }
    result.ok = true;
    return result;
}

RecordingSpec demoSpec() {
    RecordingSpec spec;
    spec.pictures = PictureFormat::Jpeg2000;
    spec.sound = SoundFormat::Wav;
    spec.layout = FrameLayout::Subfolders;
    spec.frames = 240;
    spec.width = 704;
    spec.height = 480;
    spec.channels = {0, 1, 2, 3};
    spec.titles = {"ENTRANCE", "PARKING", "LOBBY", "STOCKROOM"};
    spec.writeInfo = true;
    spec.intervalMs = 250;
    parseDvrTime("2024-05-17 09:30:00", spec.startDvrSeconds);
    spec.seed = 2024;
    spec.damage = {{200, Damage::CodedByte},
                   {210, Damage::StoredTime},
                   {220, Damage::TrailerCut},
                   {230, Damage::NoTrailer},
                   {235, Damage::HalfFile}};
    return spec;
}

}  // namespace korvex::gen
