// korvex-mkrec: writes a synthetic recording folder that the viewer and korvex-verify open.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/progress/ProgressLine.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/RecordingWriter.h"

namespace {

using namespace korvex::gen;
using korvex::PictureFormat;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage = R"(usage: korvex-mkrec [options] FOLDER
       korvex-mkrec --demo FOLDER

Writes a synthetic recording into FOLDER (created; it must be empty). Every frame shows its
channel, frame number and capture time; the sound clicks at every frame's offset.

  --kind jpeg|jp2mp3|jp2wav    recording kind (default jp2wav): JPEG pictures with WAV or no
                               sound, JPEG 2000 with MP3 or no sound, JPEG 2000 with WAV
  --frames N                   number of frames (default 50)
  --size WxH                   picture size (default 352x240; e.g. 704x480, 720x248)
  --channels C                 channels 0..C-1, 1 to 16, frames interleaved (default 1)
  --channel-numbers A,B,...    explicit channel numbers (0-15) instead of --channels
  --titles T1,T2,...           camera titles of the channels in order (16 characters at most)
  --no-info                    write no INFO index file
  --time-txt                   write time.txt with every frame's offset
  --layout flat|sub            frames in the folder or in IMG00001.. subfolders (default sub)
  --per-folder N               frames per subfolder (default 200)
  --sound wav|mp3|none         sound track (default: wav for jp2wav, mp3 for jp2mp3, none for jpeg)
  --sound-dir root|SOUND       where the sound file goes (default root)
  --sound-rate HZ              sample rate (default 8000)
  --stereo                     two sound channels instead of one
  --silent                     silence between the clicks instead of a quiet tone
  --interval-ms N              milliseconds between consecutive frames (default 100)
  --start "YYYY-MM-DD HH:MM:SS"  capture time of the first frame (default 2024-01-01 00:00:00)
  --start-seconds N            the same as raw seconds since 2000-01-01 (may be out of range)
  --seed S                     seed of the pictures (default 1)
  --damage IDX:KIND            spoil frame IDX (0-based; repeatable, or IDX:KIND,IDX:KIND);
                               korvex-verify then reports these flags:
                               coded  a coded picture byte changed: 3 (5 with --short-trailers;
                                      the time checksum covers the picture too)
                               time   the stored time changed: 2
                               cut    the trailer cut inside its time fields, under 6 bytes
                                      stay: 7, read as no trailer
                               none   no trailer: 7
                               half   the file cut in the middle of its coded data, which does
                                      not decode: JPEG 7 (no end of picture); JPEG 2000 -1, not
                                      checked (the code-stream has no end)
  --no-trailers                frames carry no authenticity trailer at all
  --short-trailers             trailers without the time fields
  --codestream                 JPEG 2000 frames as raw code-streams instead of JP2 files
  --quality Q                  JPEG quality 1-100 (default 85)
  --j2k-ratio R                JPEG 2000 compression ratio (default 20)
  --threads N                  encoding threads (default: up to 2)
  --progress                   show the frames written on stderr also when it is no terminal
                               (on a terminal it is shown anyway)
  --quiet                      print nothing but errors
  --demo FOLDER                the demo recording: 4 titled channels, 704x480 JPEG 2000, WAV
                               sound, 240 frames, one damaged frame of each kind near the end
  --help                       this text

Exit status: 0 written, 1 could not be written, 2 bad arguments.
)";

struct Options {
    RecordingSpec spec;
    std::string folder;
    bool demo = false;
    bool quiet = false;
    bool progress = false;
    bool help = false;
};

// Thrown only inside argument parsing and caught in main: a clear message, exit status 2.
struct UsageError {
    std::string message;
};

template <class T>
T parseNumber(std::string_view text, T low, T high, const char* what) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        throw UsageError{std::string(what) + ": \"" + std::string(text) + "\" is not a number"};
    }
    if (value < low || value > high) {
        throw UsageError{std::string(what) + " must be " + std::to_string(low) + " to " +
                         std::to_string(high)};
    }
    return value;
}

std::vector<std::string> splitList(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        out.emplace_back(
            text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
        if (comma == std::string_view::npos)
            return out;
        start = comma + 1;
    }
}

Damage parseDamageKind(std::string_view kind) {
    if (kind == "coded")
        return Damage::CodedByte;
    if (kind == "time")
        return Damage::StoredTime;
    if (kind == "cut")
        return Damage::TrailerCut;
    if (kind == "none")
        return Damage::NoTrailer;
    if (kind == "half")
        return Damage::HalfFile;
    throw UsageError{"--damage: unknown kind \"" + std::string(kind) +
                     "\" (coded, time, cut, none or half)"};
}

const char* damageName(Damage d) {
    switch (d) {
        case Damage::CodedByte:
            return "coded byte changed";
        case Damage::StoredTime:
            return "stored time changed";
        case Damage::TrailerCut:
            return "trailer cut";
        case Damage::NoTrailer:
            return "no trailer";
        case Damage::HalfFile:
            return "cut in half";
        case Damage::None:
            break;
    }
    return "none";
}

Options parseArguments(int argc, char** argv) {
    Options o;
    RecordingSpec& s = o.spec;
    s.frames = 50;
    s.channels = {0};
    parseDvrTime("2024-01-01 00:00:00", s.startDvrSeconds);

    std::string kind = "jp2wav", sound, titles, channelNumbers;
    int channelCount = 1;
    bool haveChannelNumbers = false;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc)
                throw UsageError{std::string(arg) + " needs a value"};
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            return o;
        } else if (arg == "--kind") {
            kind = value();
            if (kind != "jpeg" && kind != "jp2mp3" && kind != "jp2wav") {
                throw UsageError{"--kind must be jpeg, jp2mp3 or jp2wav"};
            }
        } else if (arg == "--frames") {
            s.frames = parseNumber<int>(value(), 1, 1'000'000, "--frames");
        } else if (arg == "--size") {
            const std::string_view v = value();
            const std::size_t x = v.find_first_of("xX");
            if (x == std::string_view::npos)
                throw UsageError{"--size must look like 704x480"};
            s.width = parseNumber<int>(v.substr(0, x), 8, 4096, "--size width");
            s.height = parseNumber<int>(v.substr(x + 1), 8, 4096, "--size height");
        } else if (arg == "--channels") {
            channelCount = parseNumber<int>(value(), 1, 16, "--channels");
        } else if (arg == "--channel-numbers") {
            channelNumbers = value();
            haveChannelNumbers = true;
        } else if (arg == "--titles") {
            titles = value();
        } else if (arg == "--no-info") {
            s.writeInfo = false;
        } else if (arg == "--time-txt") {
            s.writeTimeTxt = true;
        } else if (arg == "--layout") {
            const std::string_view v = value();
            if (v == "flat") {
                s.layout = FrameLayout::Flat;
            } else if (v == "sub") {
                s.layout = FrameLayout::Subfolders;
            } else {
                throw UsageError{"--layout must be flat or sub"};
            }
        } else if (arg == "--per-folder") {
            s.framesPerFolder = parseNumber<int>(value(), 1, 1'000'000, "--per-folder");
        } else if (arg == "--sound") {
            sound = value();
            if (sound != "wav" && sound != "mp3" && sound != "none") {
                throw UsageError{"--sound must be wav, mp3 or none"};
            }
        } else if (arg == "--sound-dir") {
            const std::string_view v = value();
            if (v == "root") {
                s.soundPlace = SoundPlace::Root;
            } else if (v == "SOUND" || v == "sound") {
                s.soundPlace = SoundPlace::SoundFolder;
            } else {
                throw UsageError{"--sound-dir must be root or SOUND"};
            }
        } else if (arg == "--sound-rate") {
            s.soundRate = parseNumber<int>(value(), 1000, 48000, "--sound-rate");
        } else if (arg == "--stereo") {
            s.soundChannels = 2;
        } else if (arg == "--silent") {
            s.soundTone = false;
        } else if (arg == "--interval-ms") {
            s.intervalMs = parseNumber<std::uint32_t>(value(), 1, 3'600'000, "--interval-ms");
        } else if (arg == "--start") {
            const std::string_view v = value();
            if (!parseDvrTime(v, s.startDvrSeconds)) {
                throw UsageError{
                    "--start must be a date and time \"YYYY-MM-DD HH:MM:SS\" from "
                    "2000-01-01 on"};
            }
        } else if (arg == "--start-seconds") {
            s.startDvrSeconds =
                parseNumber<std::uint32_t>(value(), 0, 0xFFFFFFFFu, "--start-seconds");
        } else if (arg == "--seed") {
            s.seed = parseNumber<std::uint64_t>(value(), 0, ~0ull, "--seed");
        } else if (arg == "--damage") {
            for (const std::string& item : splitList(value())) {
                const std::size_t colon = item.find(':');
                if (colon == std::string::npos) {
                    throw UsageError{"--damage must look like IDX:coded|time|cut|none|half"};
                }
                const int index = parseNumber<int>(std::string_view(item).substr(0, colon), 0,
                                                   999'999, "--damage frame index");
                s.damage[index] = parseDamageKind(std::string_view(item).substr(colon + 1));
            }
        } else if (arg == "--no-trailers") {
            s.trailers = false;
        } else if (arg == "--short-trailers") {
            s.trailerTime = false;
        } else if (arg == "--codestream") {
            s.j2kContainer = J2kContainer::Codestream;
        } else if (arg == "--quality") {
            s.jpegQuality = parseNumber<int>(value(), 1, 100, "--quality");
        } else if (arg == "--j2k-ratio") {
            s.j2kRate = static_cast<float>(parseNumber<int>(value(), 1, 1000, "--j2k-ratio"));
        } else if (arg == "--threads") {
            s.threads = parseNumber<int>(value(), 1, 8, "--threads");
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--progress") {
            o.progress = true;
        } else if (arg == "--demo") {
            o.demo = true;
            o.folder = value();
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + std::string(arg)};
        } else {
            if (!o.folder.empty())
                throw UsageError{"more than one FOLDER given"};
            o.folder = arg;
        }
    }
    if (o.folder.empty())
        throw UsageError{"no FOLDER given"};
    if (o.demo) {
        const bool quiet = o.quiet;
        const bool progress = o.progress;
        const std::string folder = o.folder;
        o = Options{};
        o.spec = demoSpec();
        o.folder = folder;
        o.demo = true;
        o.quiet = quiet;
        o.progress = progress;
        return o;
    }

    if (haveChannelNumbers) {
        s.channels.clear();
        for (const std::string& c : splitList(channelNumbers)) {
            s.channels.push_back(parseNumber<int>(c, 0, 15, "--channel-numbers"));
        }
        if (s.channels.size() > 16)
            throw UsageError{"--channel-numbers: at most 16 channels"};
    } else {
        s.channels.clear();
        for (int c = 0; c < channelCount; ++c)
            s.channels.push_back(c);
    }
    if (!titles.empty()) {
        const std::vector<std::string> list = splitList(titles);
        if (list.size() > s.channels.size()) {
            throw UsageError{"--titles: more titles than channels"};
        }
        s.titles.assign(16, std::string());
        for (std::size_t k = 0; k < list.size(); ++k) {
            if (list[k].size() > 16) {
                throw UsageError{"--titles: \"" + list[k] + "\" is longer than 16 characters"};
            }
            s.titles[static_cast<std::size_t>(s.channels[k])] = list[k];
        }
    }

    // The kind fixes the picture format and which sound files belong to it.
    s.pictures = kind == "jpeg" ? PictureFormat::Jpeg : PictureFormat::Jpeg2000;
    if (sound.empty())
        sound = kind == "jpeg" ? "none" : kind == "jp2mp3" ? "mp3" : "wav";
    const bool fits = (kind == "jpeg" && sound != "mp3") || (kind == "jp2mp3" && sound != "wav") ||
                      (kind == "jp2wav" && sound == "wav");
    if (!fits) {
        throw UsageError{"--kind " + kind + " does not go with --sound " + sound +
                         " (jpeg: wav or none; jp2mp3: mp3 or none; jp2wav: wav)"};
    }
    s.sound = sound == "wav"   ? korvex::SoundFormat::Wav
              : sound == "mp3" ? korvex::SoundFormat::Mp3
                               : korvex::SoundFormat::None;
    if (s.pictures == PictureFormat::Jpeg && s.j2kContainer == J2kContainer::Codestream) {
        throw UsageError{"--codestream applies to JPEG 2000 kinds only"};
    }
    return o;
}

const char* kindName(const RecordingSpec& s) {
    if (s.pictures == PictureFormat::Jpeg)
        return "jpeg";
    return s.sound == korvex::SoundFormat::Wav ? "jp2wav" : "jp2mp3";
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        o = parseArguments(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "korvex-mkrec: %s\nTry 'korvex-mkrec --help'.\n", e.message.c_str());
        return kExitUsage;
    }
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    std::string error;
    std::vector<std::string> warnings;
    if (!validateSpec(o.spec, error, &warnings)) {
        std::fprintf(stderr, "korvex-mkrec: %s\n", error.c_str());
        return kExitUsage;
    }

    // Thousands of JPEG 2000 frames take minutes: say how far the writing is.
    using korvex::tools::ProgressLine;
    ProgressLine progress("korvex-mkrec", "frames",
                          o.quiet      ? ProgressLine::Mode::Never
                          : o.progress ? ProgressLine::Mode::Always
                                       : ProgressLine::Mode::Auto);
    const RecordingResult r = writeRecording(
        o.folder, o.spec, [&progress](int done, int total) { progress.update(done, total); });
    progress.finish();
    for (const auto& w : r.warnings)
        std::fprintf(stderr, "korvex-mkrec: warning: %s\n", w.c_str());
    if (!r.ok) {
        std::fprintf(stderr, "korvex-mkrec: %s\n", r.error.c_str());
        return kExitFailed;
    }
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        const WrittenFrame& f = r.frames[i];
        if (f.damage != Damage::None && !f.damageApplied) {
            std::fprintf(stderr, "korvex-mkrec: warning: frame %zu has nothing to spoil (%s)\n", i,
                         damageName(f.damage));
        }
    }
    if (o.quiet)
        return kExitOk;

    const RecordingSpec& s = o.spec;
    std::printf("Wrote %d frames (%s, %dx%d, %zu channel%s, %s) to %s\n", s.frames, kindName(s),
                s.width, s.height, s.channels.size(), s.channels.size() == 1 ? "" : "s",
                s.layout == FrameLayout::Flat ? "flat" : "in subfolders", o.folder.c_str());
    std::printf("  first frame %s, last frame %s, every %u ms\n",
                formatDvrTime(frameDvrSeconds(s, 0)).c_str(),
                formatDvrTime(frameDvrSeconds(s, s.frames - 1)).c_str(), s.intervalMs);
    if (!r.soundPath.empty())
        std::printf("  sound: %s\n", r.soundPath.c_str());
    if (!r.infoPath.empty())
        std::printf("  index: %s\n", r.infoPath.c_str());
    if (!r.timeTxtPath.empty())
        std::printf("  offsets: %s\n", r.timeTxtPath.c_str());
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        const WrittenFrame& f = r.frames[i];
        if (f.damage != Damage::None && f.damageApplied) {
            std::printf("  damaged frame %zu (%s): %s\n", i, damageName(f.damage), f.path.c_str());
        }
    }
    return kExitOk;
}
