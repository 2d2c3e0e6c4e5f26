// dvrsim: a simulated recorder's web server on loopback, for demos and tests of the control.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/dvrsim/DvrSim.h"

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
    "  /                         this list, with the page properties to use\n"
    "\n"
    "Options:\n"
    "  --port N              listen on port N (default: any free port)\n"
    "  --recording DIR       serve a recording folder (korvex-mkrec, JPEG 2000 with WAV)\n"
    "                        instead of generated pictures and sound\n"
    "  --size WxH            generated picture size (default 720x248)\n"
    "  --frame-interval MS   time between frames of the recorded stretch (default 200)\n"
    "  --frames N            frames of the generated recorded stretch (default 30)\n"
    "  --segment-ms MS       length of one live sound segment (default 1000)\n"
    "  --rate HZ             generated sound sample rate, 16-bit mono (default 8000)\n"
    "  --still               the live picture never changes (benchmarks)\n"
    "  --clock-percent P     the sound clock runs P per cent fast (negative: slow)\n"
    "  --live-segments N     the live stream ends (404) after N sound segments\n"
    "Faults (for every path, or only for --fault-path):\n"
    "  --latency MS          wait MS before each answer\n"
    "  --error STATUS[:N]    answer STATUS instead, to the next N requests (default: all)\n"
    "  --not-found-storm N   answer 404 to the next N requests\n"
    "  --empty N             answer 200 with an empty body to the next N requests\n"
    "  --cut BYTES           announce the whole body, send BYTES of it and hang up\n"
    "  --stall BYTES[:MS]    send BYTES, fall silent for MS (default: until stopped), go on\n"
    "  --drip MS             send bodies one byte at a time, MS apart\n"
    "  --fault-path PATH     apply the faults only to PATH, e.g. /dvr/live.wav\n"
    "  --help                this text\n"
    "Stops cleanly on SIGINT or SIGTERM.\n";

bool parseInt(const char* text, long long& value) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool parseIntIn(const char* text, long long low, long long high, int& out) {
    long long value = 0;
    if (!parseInt(text, value) || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

// "A[:B]" with B optional.
bool parsePair(const char* text, long long& first, long long& second, bool& hasSecond) {
    std::string s = text ? text : "";
    const auto colon = s.find(':');
    hasSecond = colon != std::string::npos;
    if (!parseInt(s.substr(0, colon).c_str(), first))
        return false;
    return !hasSecond || parseInt(s.substr(colon + 1).c_str(), second);
}

int fail(const std::string& message) {
    std::fprintf(stderr, "dvrsim: %s\n(see dvrsim --help)\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    korvex::sim::DvrSimOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needsValue = [&]() {
            if (!value)
                return false;
            ++i;
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--still") {
            options.content.still = true;
        } else if (!needsValue()) {
            return fail("unknown option or missing value: " + arg);
        } else if (arg == "--port") {
            if (!parseIntIn(value, 1, 65535, options.port))
                return fail("bad port");
        } else if (arg == "--recording") {
            options.content.recordingFolder = value;
        } else if (arg == "--size") {
            if (std::sscanf(value, "%dx%d", &options.content.width, &options.content.height) != 2 ||
                options.content.width < 16 || options.content.height < 16 ||
                options.content.width > 4096 || options.content.height > 4096) {
                return fail("bad size (16x16 to 4096x4096)");
            }
        } else if (arg == "--frame-interval") {
            if (!parseIntIn(value, 1, 60000, options.content.frameIntervalMs)) {
                return fail("bad frame interval");
            }
        } else if (arg == "--frames") {
            if (!parseIntIn(value, 0, 100000, options.content.recordedFrames)) {
                return fail("bad frame count");
            }
        } else if (arg == "--segment-ms") {
            if (!parseIntIn(value, 10, 60000, options.segmentMs))
                return fail("bad segment length");
        } else if (arg == "--clock-percent") {
            char* end = nullptr;
            const double percent = std::strtod(value, &end);
            if (!end || *end != '\0' || !(percent >= -50.0 && percent <= 100.0))
                return fail("bad clock percentage (-50 to 100)");
            options.soundClockPercent = percent;
        } else if (arg == "--live-segments") {
            if (!parseIntIn(value, 0, 100000000, options.liveSegmentLimit))
                return fail("bad segment count");
        } else if (arg == "--rate") {
            if (!parseIntIn(value, 1000, 48000, options.content.sampleRate)) {
                return fail("bad sample rate");
            }
        } else if (arg == "--latency") {
            if (!parseIntIn(value, 0, 600000, options.faults.latencyMs))
                return fail("bad latency");
        } else if (arg == "--error") {
            long long status = 0, count = -1;
            bool hasCount = false;
            if (!parsePair(value, status, count, hasCount) || status < 100 || status > 599 ||
                (hasCount && count < 0)) {
                return fail("bad error status");
            }
            options.faults.errorStatus = static_cast<int>(status);
            options.faults.errorCount = hasCount ? static_cast<int>(count) : -1;
        } else if (arg == "--not-found-storm") {
            if (!parseIntIn(value, 0, 1000000000, options.faults.notFoundStorm)) {
                return fail("bad storm length");
            }
        } else if (arg == "--empty") {
            if (!parseIntIn(value, 0, 1000000000, options.faults.emptyAnswers))
                return fail("bad count of empty answers");
        } else if (arg == "--cut") {
            long long bytes = 0;
            if (!parseInt(value, bytes) || bytes < 0)
                return fail("bad cut length");
            options.faults.cutAfterBytes = bytes;
        } else if (arg == "--stall") {
            long long bytes = 0, ms = 0;
            bool hasMs = false;
            if (!parsePair(value, bytes, ms, hasMs) || bytes < 0 || ms < 0 || ms > 3600000) {
                return fail("bad stall");
            }
            options.faults.stallAfterBytes = bytes;
            options.faults.stallMs = hasMs ? static_cast<int>(ms) : 0;
        } else if (arg == "--drip") {
            if (!parseIntIn(value, 1, 600000, options.faults.dripMs))
                return fail("bad drip interval");
        } else if (arg == "--fault-path") {
            options.faults.path = value;
        } else {
            return fail("unknown option: " + arg);
        }
    }

    // The signals are taken by this thread alone (sigwait below); every server thread inherits
    // the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    korvex::sim::DvrSim sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "dvrsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("dvrsim listening on %s\n%s", sim.baseUrl().c_str(), sim.describe().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    std::printf("dvrsim: stopping (signal %d)\n", received);
    sim.stop();
    return 0;
}
