// korvex-verify: checks every frame of a recording the way the viewer does and reports the result.

#include <cstdio>
#include <string>
#include <string_view>

#include "tools/progress/ProgressLine.h"
#include "tools/verify/RecordingVerifier.h"

namespace {

constexpr int kExitUnusable = 2;

const char* const kUsage = R"(usage: korvex-verify [--json] [--progress] FOLDER

Opens the recording in FOLDER as the viewer does, decodes every frame once and checks its
authenticity trailer. Prints one line per frame and a summary, or with --json the report as JSON:
  {"folder": F, "kind": "jpeg"|"jp2mp3"|"jp2wav",
   "frames": [{"index": i, "path": P, "channel": c, "flags": f,
               "time": "YYYY-MM-DD HH:MM:SS"|null, "offsetMs": n}, ...],
   "unreadable": [{"path": P, "reason": R}, ...],
   "summary": {"frames": N, "intact": a, "pictureAltered": b, "timeAltered": c,
               "noTime": d, "notChecked": e, "unreadable": u}}
flags: bit 0 picture altered, bit 1 time altered, bit 2 no valid time (7 no complete trailer;
3 a changed picture, which fails both checksums), -1 not checked (text mode says why). Times are
the recorder's clock, whatever the machine's time zone.

On a terminal, standard error shows how many frames are checked; --progress shows it also when
standard error is a file or a pipe.

Exit status: 0 every frame checked and none altered; 1 some frame altered; 3 some frame could not
be checked and none is altered; 2 not a recording, no frames, unreadable (also when only a part of
it could not be read: each such folder or file is named on stderr), or bad arguments.
)";

int usageError(const std::string& message) {
    std::fprintf(stderr, "korvex-verify: %s\nTry 'korvex-verify --help'.\n", message.c_str());
    return kExitUnusable;
}

bool writeAll(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    bool showProgress = false;
    std::string folder;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!endOfOptions && arg == "--json") {
            json = true;
        } else if (!endOfOptions && arg == "--progress") {
            showProgress = true;
        } else if (!endOfOptions && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!endOfOptions && arg == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + korvex::verify::terminalText(arg));
        } else if (!folder.empty()) {
            return usageError("more than one FOLDER given");
        } else {
            folder = arg;
        }
    }
    if (folder.empty())
        return usageError("no FOLDER given");

    korvex::verify::VerifyReport report;
    std::string error;
    using korvex::tools::ProgressLine;
    ProgressLine progress("korvex-verify", "frames",
                          showProgress ? ProgressLine::Mode::Always : ProgressLine::Mode::Auto);
    const bool opened = korvex::verify::verifyRecording(
        folder, report, error, [&progress](int done, int total) { progress.update(done, total); });
    progress.finish();
    if (!opened) {
        std::fprintf(stderr, "korvex-verify: %s\n", error.c_str());
        return kExitUnusable;
    }

    // Every part that could not be read is named, whatever the output format.
    for (const auto& part : report.unreadable)
        std::fprintf(stderr, "korvex-verify: %s\n", korvex::verify::textUnreadable(part).c_str());

    bool written = true;
    if (json) {
        written = writeAll(korvex::verify::toJson(report));
    } else {
        written = writeAll(korvex::verify::textHeader(report));
        for (const auto& f : report.frames) {
            if (!written)
                break;
            written = writeAll(korvex::verify::textLine(f));
        }
        for (const auto& part : report.unreadable)
            written = written && writeAll("  " + korvex::verify::textUnreadable(part) + "\n");
        written = written && writeAll(korvex::verify::textSummary(report.summary));
    }
    if (std::fflush(stdout) != 0 || !written) {
        std::fprintf(stderr, "korvex-verify: cannot write the report\n");
        return kExitUnusable;
    }
    return korvex::verify::exitStatusOf(report.summary);
}
