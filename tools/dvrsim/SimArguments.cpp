#include "tools/dvrsim/SimArguments.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace korvex::sim {

namespace {

const char* kUsage =
    "usage: dvrsim [options]\n"
    "Serves what a recorder's web server serves to the streaming control, on 127.0.0.1:\n"
    "  /dvr/live.jp2             the newest JPEG 2000 frame, trailer stamped now\n"
    "  /dvr/live.wav             the next live sound segment (continuous, follows the clock)\n"
    "  /dvr/live_init.wav        the newest complete segment; live.wav continues after it\n"
    "  /dvr/record.jp2?dlimg=N   frame N of a recorded stretch, 404 after the last one\n"
    "  /dvr/record.wav           the whole sound file of that stretch\n"
    "  /dvr/record.inf           its INF file\n"
    "  /login.html               a login page, where redirects point (never faulted)\n"
    "  /                         this list, with the page properties to use\n"
    "\n"
    "Options (a later option overrides an earlier one):\n"
    "  --port N              listen on port N (default: any free port)\n"
    "  --tls CERT KEY        serve HTTPS with this certificate and private key (PEM files)\n"
    "  --auth basic|digest USER:PASS\n"
    "                        every request must carry this login (HTTP Basic or Digest, realm\n"
    "                        \"dvrsim\"), or is answered 401 with the challenge\n"
    "  --recording DIR       serve a recording folder (korvex-mkrec, JPEG 2000 with WAV)\n"
    "                        instead of generated pictures and sound\n"
    "  --size WxH            generated picture size (default 720x248)\n"
    "  --frame-interval MS   time between frames of the recorded stretch (default 200)\n"
    "  --frames N            frames of the generated recorded stretch (default 30)\n"
    "  --segment-ms MS       length of one live sound segment (default 1000)\n"
    "  --rate HZ             sample rate of the sound, 1000 to 192000 (default 8000)\n"
    "  --sound-format RATE:CHANNELS:BITS\n"
    "                        the sound's format (default 8000:1:16): CHANNELS 1 to 8, BITS 8\n"
    "                        (unsigned), 16, 24 or 32; e.g. 8000:1:8, 16000:2:16, 44100:2:16\n"
    "  --switch-format-after N:RATE:CHANNELS:BITS\n"
    "                        the first N live sound segments answered (initial and live) come\n"
    "                        in the sound's format, every later one in this one; no answer\n"
    "                        holds both\n"
    "  --clock-sound         the sound is a ramp of the sound clock: each 16-bit sample holds\n"
    "                        its position in ms modulo 65536 (in every channel; 8-bit samples\n"
    "                        ms modulo 256; 24/32-bit samples the ramp in their top 16 bits)\n"
    "  --preroll MS          the recorder has been recording this long at start\n"
    "  --still               the live picture never changes (benchmarks)\n"
    "  --clock-percent P     the sound clock runs P per cent fast (negative: slow)\n"
    "  --live-segments N     the live stream ends (404) after N sound segments\n"
    "Faults (for every path, or only for --fault-path; COUNT is a number or \"all\"):\n"
    "  --latency MS          wait MS before each answer\n"
    "  --error STATUS[:N]    answer STATUS instead, to the next N requests (default: all)\n"
    "  --redirect STATUS[:N] answer STATUS (300 to 399) with a Location header and a short\n"
    "                        HTML body instead, to the next N requests (default: all)\n"
    "  --redirect-to URL     the Location of --redirect (default: this server's /login.html)\n"
    "  --not-wav COUNT       sound answers (live, initial, recorded) are 200 with an HTML page\n"
    "  --partial-block COUNT live and initial sound answers end with half a sample block more\n"
    "                        than their whole blocks (16-bit stereo: 4n+2 data bytes)\n"
    "  --pad BYTES[:N]       bodies followed by zero bytes up to BYTES (at most 4 GiB), the\n"
    "                        next N (default: all); WAV sizes and frame trailers unchanged\n"
    "  --not-found-storm N   answer 404 to the next N requests\n"
    "  --empty N             answer 200 with an empty body to the next N requests\n"
    "  --cut BYTES           announce the whole body, send BYTES of it and hang up\n"
    "  --stall BYTES[:MS]    send BYTES, fall silent for MS (default: until stopped), go on\n"
    "  --drip MS             send bodies one byte at a time, MS apart\n"
    "  --fault-path PATH     apply the faults only to PATH, e.g. /dvr/live.wav\n"
    "  --help                this text\n"
    "Stops cleanly on SIGINT or SIGTERM.\n";

bool parseInt(const std::string& text, long long& value) {
    if (text.empty() || text.front() == ' ' || text.front() == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool parseIntIn(const std::string& text, long long low, long long high, int& out) {
    long long value = 0;
    if (!parseInt(text, value) || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

// "A[:B]" with B optional.
bool parsePair(const std::string& text, long long& first, long long& second, bool& hasSecond) {
    const auto colon = text.find(':');
    hasSecond = colon != std::string::npos;
    if (!parseInt(text.substr(0, colon), first))
        return false;
    return !hasSecond || parseInt(text.substr(colon + 1), second);
}

// A count of requests: N, or "all" (-1).
bool parseCount(const std::string& text, int& out) {
    if (text == "all") {
        out = -1;
        return true;
    }
    return parseIntIn(text, 0, 1000000000, out);
}

}  // namespace

const char* simUsage() {
    return kUsage;
}

SimArguments parseSimArguments(const std::vector<std::string>& args) {
    SimArguments parsed;
    DvrSimOptions& options = parsed.options;
    Faults& faults = options.faults;
    auto fail = [&](std::string message) {
        parsed.error = std::move(message);
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            return parsed;
        }
        if (arg == "--still") {
            options.content.still = true;
            continue;
        }
        if (arg == "--clock-sound") {
            options.content.clockSound = true;
            continue;
        }
        if (i + 1 >= args.size())
            return fail("unknown option or missing value: " + arg);
        const std::string& value = args[++i];
        if (arg == "--tls" || arg == "--auth") {
            if (i + 1 >= args.size())
                return fail(arg + " needs two values");
            const std::string& second = args[++i];
            if (arg == "--tls") {
                if (value.empty() || second.empty())
                    return fail("--tls needs a certificate file and a key file");
                options.tls = SimTls{value, second};
                continue;
            }
            const auto colon = second.find(':');
            if ((value != "basic" && value != "digest") || colon == std::string::npos || colon == 0)
                return fail("bad login (basic|digest USER:PASS): " + value + " " + second);
            options.login.kind = value == "basic" ? SimLoginKind::Basic : SimLoginKind::Digest;
            options.login.user = second.substr(0, colon);
            options.login.password = second.substr(colon + 1);
            continue;
        }
        if (arg == "--port") {
            if (!parseIntIn(value, 1, 65535, options.port))
                return fail("bad port: " + value);
        } else if (arg == "--recording") {
            options.content.recordingFolder = value;
        } else if (arg == "--size") {
            const auto x = value.find('x');
            if (x == std::string::npos ||
                !parseIntIn(value.substr(0, x), 16, 4096, options.content.width) ||
                !parseIntIn(value.substr(x + 1), 16, 4096, options.content.height)) {
                return fail("bad size (16x16 to 4096x4096): " + value);
            }
        } else if (arg == "--frame-interval") {
            if (!parseIntIn(value, 1, 60000, options.content.frameIntervalMs))
                return fail("bad frame interval: " + value);
        } else if (arg == "--frames") {
            if (!parseIntIn(value, 0, 100000, options.content.recordedFrames))
                return fail("bad frame count: " + value);
        } else if (arg == "--segment-ms") {
            if (!parseIntIn(value, 10, 60000, options.segmentMs))
                return fail("bad segment length: " + value);
        } else if (arg == "--rate") {
            if (!parseIntIn(value, SoundFormat::kMinRate, SoundFormat::kMaxRate,
                            options.content.sampleRate)) {
                return fail("bad sample rate: " + value);
            }
        } else if (arg == "--sound-format") {
            const std::optional<SoundFormat> format = parseSoundFormat(value);
            if (!format)
                return fail("bad sound format (RATE:CHANNELS:BITS): " + value);
            options.content.sampleRate = format->sampleRate;
            options.content.channels = format->channels;
            options.content.bitsPerSample = format->bitsPerSample;
        } else if (arg == "--switch-format-after") {
            const auto colon = value.find(':');
            FormatSwitch change;
            const std::optional<SoundFormat> format =
                colon == std::string::npos ? std::nullopt
                                           : parseSoundFormat(value.substr(colon + 1));
            if (!format || !parseIntIn(value.substr(0, colon), 0, 100000000, change.afterSegments))
                return fail("bad format switch (N:RATE:CHANNELS:BITS): " + value);
            change.format = *format;
            options.formatSwitch = change;
        } else if (arg == "--preroll") {
            if (!parseIntIn(value, 0, 3600000, options.prerollMs))
                return fail("bad preroll: " + value);
        } else if (arg == "--clock-percent") {
            char* end = nullptr;
            const double percent = std::strtod(value.c_str(), &end);
            if (value.empty() || !end || *end != '\0' || !(percent >= -50.0 && percent <= 100.0))
                return fail("bad clock percentage (-50 to 100): " + value);
            options.soundClockPercent = percent;
        } else if (arg == "--live-segments") {
            if (!parseIntIn(value, 0, 100000000, options.liveSegmentLimit))
                return fail("bad segment count: " + value);
        } else if (arg == "--latency") {
            if (!parseIntIn(value, 0, 600000, faults.latencyMs))
                return fail("bad latency: " + value);
        } else if (arg == "--error" || arg == "--redirect") {
            long long status = 0, count = -1;
            bool hasCount = false;
            const bool redirect = arg == "--redirect";
            if (!parsePair(value, status, count, hasCount) || status < (redirect ? 300 : 100) ||
                status > (redirect ? 399 : 599) ||
                (hasCount && (count < 0 || count > 1000000000))) {
                return fail("bad " + std::string(redirect ? "redirect" : "error") +
                            " status: " + value);
            }
            (redirect ? faults.redirectStatus : faults.errorStatus) = static_cast<int>(status);
            (redirect ? faults.redirectCount : faults.errorCount) =
                hasCount ? static_cast<int>(count) : -1;
        } else if (arg == "--redirect-to") {
            if (value.empty() || value.find_first_of("\r\n") != std::string::npos)
                return fail("bad redirect location: " + value);
            faults.redirectLocation = value;
        } else if (arg == "--not-wav") {
            if (!parseCount(value, faults.notWaveAnswers))
                return fail("bad count of answers that are not WAV: " + value);
        } else if (arg == "--partial-block") {
            if (!parseCount(value, faults.partialBlockAnswers))
                return fail("bad count of partial-block answers: " + value);
        } else if (arg == "--pad") {
            long long bytes = 0, count = -1;
            bool hasCount = false;
            if (!parsePair(value, bytes, count, hasCount) || bytes < 0 ||
                bytes > Faults::kMaxPadBytes || (hasCount && (count < 0 || count > 1000000000))) {
                return fail("bad padding (BYTES[:N], at most 4 GiB): " + value);
            }
            faults.padToBytes = bytes;
            faults.padCount = hasCount ? static_cast<int>(count) : -1;
        } else if (arg == "--not-found-storm") {
            if (!parseIntIn(value, 0, 1000000000, faults.notFoundStorm))
                return fail("bad storm length: " + value);
        } else if (arg == "--empty") {
            if (!parseIntIn(value, 0, 1000000000, faults.emptyAnswers))
                return fail("bad count of empty answers: " + value);
        } else if (arg == "--cut") {
            long long bytes = 0;
            if (!parseInt(value, bytes) || bytes < 0)
                return fail("bad cut length: " + value);
            faults.cutAfterBytes = bytes;
        } else if (arg == "--stall") {
            long long bytes = 0, ms = 0;
            bool hasMs = false;
            if (!parsePair(value, bytes, ms, hasMs) || bytes < 0 || ms < 0 || ms > 3600000)
                return fail("bad stall: " + value);
            faults.stallAfterBytes = bytes;
            faults.stallMs = hasMs ? static_cast<int>(ms) : 0;
        } else if (arg == "--drip") {
            if (!parseIntIn(value, 1, 600000, faults.dripMs))
                return fail("bad drip interval: " + value);
        } else if (arg == "--fault-path") {
            faults.path = value;
        } else {
            return fail("unknown option: " + arg);
        }
    }
    return parsed;
}

}  // namespace korvex::sim
