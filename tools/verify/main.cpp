// korvex-verify: checks every frame of a recording the way the viewer does and reports the result.

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/jpxcodec/jpxcodec.h"
#include "tools/progress/ProgressLine.h"
#include "tools/verify/ReportOutput.h"
#include "tools/verify/Verification.h"

namespace {

using namespace korvex::verify;

constexpr int kExitUnusable = 2;

const char* const kUsage =
    R"(usage: korvex-verify [--json] [--report OUT.html|OUT.pdf] [--threads N] [--progress|--quiet]
                     FOLDER
       korvex-verify --manifest [--threads N] [--progress|--quiet] FOLDER

Opens the recording in FOLDER as the viewer does, decodes every frame once and checks its
authenticity trailer, and checks the folder's SHA256SUMS when it has one. Prints one line per
frame and a summary, or with --json the report as JSON:
  {"folder": F, "kind": "jpeg"|"jp2mp3"|"jp2wav",
   "frames": [{"index": i, "path": P, "channel": c, "flags": f,
               "time": "YYYY-MM-DD HH:MM:SS"|null, "offsetMs": n}, ...],
   "unreadable": [{"path": P, "reason": R}, ...],
   "summary": {"frames": N, "intact": a, "pictureAltered": b, "timeAltered": c,
               "noTime": d, "notChecked": e, "unreadable": u, "placeholder": p},
   "manifest": {"present": true|false, "file": M|null, "matched": m, "changed": c,
                "missing": s, "added": a, "unreadable": u, "unparsed": l,
                "incomplete": true|false, "changedFiles": [P, ...], "missingFiles": [...],
                "addedFiles": [...], "unreadableFiles": [...]}}
flags: bit 0 picture altered, bit 1 time altered, bit 2 no valid time (7 no complete trailer;
3 a changed picture, which fails both checksums), -1 not checked (text mode says why). A frame
that is the black picture the streaming client writes at a save's start carries
"placeholder": true (it is no recorded picture). Times are the recorder's clock (UTC+09:00),
whatever the machine's time zone. Manifest paths are inside FOLDER; a manifest that lists frames
but not the sound says the saving run did not complete.

Runs over a second show their progress on standard error: on a terminal a bar with frames a
second and the time left, otherwise a line every few seconds; --progress writes a line at every
tenth from the start instead, --quiet nothing.

  --json          the report as JSON on stdout instead of text
  --report FILE   also write a report for a person to read, self-contained: HTML for a name
                  ending in .html or .htm, PDF for .pdf
  --manifest      write FOLDER/SHA256SUMS (sha256sum's format) for a recording that has none,
                  listing every file; `sha256sum -c SHA256SUMS` checks it without this program
  --threads N     frames checked at once (default: one per processor); the output is the same
  --quiet         no progress on stderr (shown for runs over a second)

Exit status: 0 every frame checked and none altered, and the manifest (if any) matches; 1 some
frame altered; 3 some frame could not be checked and none is altered; 4 the frames are intact
but the folder does not match its manifest (a file changed, missing or added, or the saving run
did not complete); 2 not a recording, no frames, unreadable (also when only a part of it could
not be read: each such folder or file is named on stderr), or bad arguments, or the report or
manifest could not be written.
)";

int usageError(const std::string& message) {
    std::fprintf(stderr, "korvex-verify: %s\nTry 'korvex-verify --help'.\n", message.c_str());
    return kExitUnusable;
}

// Streams the text or JSON report to stdout as the frames come, and drives the progress line.
class StdoutWriter final : public VerifyObserver {
public:
    StdoutWriter(bool json, korvex::tools::ProgressLine& progress)
        : json_(json), progress_(progress) {}

    void started(const VerifyReport& report, std::size_t frames) override {
        total_ = frames;
        put(json_ ? jsonHead(report) : textHeader(report));
    }
    void frame(FrameOutcome& o) override {
        if (json_)
            put(done_ == 0 ? "\n" : ",\n");
        put(o.line);
        ++done_;
        progress_.update(static_cast<long long>(done_), static_cast<long long>(total_));
    }
    void finished(const VerifyReport& report) override {
        progress_.update(static_cast<long long>(done_), static_cast<long long>(total_));
        progress_.finish();
        // Every part that could not be read is named, whatever the output format.
        for (const auto& part : report.unreadable)
            std::fprintf(stderr, "korvex-verify: %s\n", textUnreadable(part).c_str());
        if (json_) {
            put(jsonTail(report, done_ > 0));
            return;
        }
        for (const auto& part : report.unreadable)
            put("  " + textUnreadable(part) + "\n");
        put(textSummary(report.summary));
        put(textManifest(report.manifest));
    }
    bool ok() const { return ok_; }

private:
    void put(const std::string& text) {
        ok_ = ok_ && std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    }
    bool json_;
    korvex::tools::ProgressLine& progress_;
    std::size_t done_ = 0, total_ = 0;
    bool ok_ = true;
};

// Hands each call to both observers: the output first, then the report, which may take the
// frame's thumbnail.
class Both final : public VerifyObserver {
public:
    Both(VerifyObserver& a, VerifyObserver& b) : a_(a), b_(b) {}
    void started(const VerifyReport& r, std::size_t n) override {
        a_.started(r, n);
        b_.started(r, n);
    }
    void frame(FrameOutcome& o) override {
        a_.frame(o);
        b_.frame(o);
    }
    void finished(const VerifyReport& r) override {
        a_.finished(r);
        b_.finished(r);
    }

private:
    VerifyObserver& a_;
    VerifyObserver& b_;
};

bool endsWithNoCase(std::string_view s, std::string_view end) {
    if (s.size() < end.size())
        return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
        char c = s[s.size() - end.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != end[i])
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false, quiet = false, showProgress = false, writeManifestMode = false;
    int threads = 0;
    std::string folder, reportPath;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!endOfOptions && arg == "--json") {
            json = true;
        } else if (!endOfOptions && arg == "--quiet") {
            quiet = true;
        } else if (!endOfOptions && arg == "--manifest") {
            writeManifestMode = true;
        } else if (!endOfOptions && arg == "--report") {
            if (i + 1 >= argc)
                return usageError("--report needs a file name");
            reportPath = argv[++i];
            if (!endsWithNoCase(reportPath, ".html") && !endsWithNoCase(reportPath, ".htm") &&
                !endsWithNoCase(reportPath, ".pdf")) {
                return usageError("the report's name must end in .html, .htm or .pdf: " +
                                  terminalText(reportPath));
            }
        } else if (!endOfOptions && arg == "--threads") {
            const std::string_view value = i + 1 < argc ? std::string_view(argv[++i]) : "";
            const auto [end, ec] =
                std::from_chars(value.data(), value.data() + value.size(), threads);
            if (ec != std::errc() || end != value.data() + value.size() || threads < 1 ||
                threads > 64) {
                return usageError("--threads needs a number from 1 to 64");
            }
        } else if (!endOfOptions && arg == "--progress") {
            showProgress = true;
        } else if (!endOfOptions && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!endOfOptions && arg == "--") {
            endOfOptions = true;
        } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
            return usageError("unknown option " + terminalText(arg));
        } else if (!folder.empty()) {
            return usageError("more than one FOLDER given");
        } else {
            folder = arg;
        }
    }
    if (folder.empty())
        return usageError("no FOLDER given");
    if (writeManifestMode && (json || !reportPath.empty()))
        return usageError("--manifest writes the manifest only; check it in a second run");

    // The frames are shared among the workers; one decode each keeps every core busy without the
    // codec's own helper thread competing for them.
    platform::setJpxDecodeThreads(1);
    using korvex::tools::ProgressLine;
    ProgressLine progress("korvex-verify", writeManifestMode ? "files" : "frames",
                          quiet          ? ProgressLine::Mode::Never
                          : showProgress ? ProgressLine::Mode::Always
                                         : ProgressLine::Mode::Lines);
    std::string error;

    if (writeManifestMode) {
        std::size_t files = 0;
        const bool ok =
            writeManifest(folder, threads, error, &files, [&](std::size_t done, std::size_t total) {
                progress.update(static_cast<long long>(done), static_cast<long long>(total));
            });
        progress.finish();
        if (!ok) {
            std::fprintf(stderr, "korvex-verify: %s\n", error.c_str());
            return kExitUnusable;
        }
        std::printf("wrote %s/SHA256SUMS: %zu files\n", terminalText(folder).c_str(), files);
        return 0;
    }

    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 20);
    VerifyOptions options;
    options.threads = threads;
    options.line = json ? EngineOptions::Line::Json : EngineOptions::Line::Text;
    StdoutWriter writer(json, progress);
    ReportModel model;
    ReportBuilder builder(model);
    Both both(writer, builder);
    if (!reportPath.empty())
        options.thumbnails = ReportModel::kMaxListed;
    VerifyReport report;
    if (!runVerification(folder, options,
                         reportPath.empty() ? static_cast<VerifyObserver&>(writer) : both, report,
                         error)) {
        std::fprintf(stderr, "korvex-verify: %s\n", error.c_str());
        return kExitUnusable;
    }
    if (std::fflush(stdout) != 0 || !writer.ok()) {
        std::fprintf(stderr, "korvex-verify: cannot write the report\n");
        return kExitUnusable;
    }
    if (!reportPath.empty()) {
        stampReport(model, std::vector<std::string>(argv, argv + argc));
        const bool written = isPdfReportName(reportPath)
                                 ? writePdfReportWithHelper(model, reportPath, error)
                                 : writeHtmlReport(model, reportPath, error);
        if (!written) {
            std::fprintf(stderr, "korvex-verify: %s\n", error.c_str());
            return kExitUnusable;
        }
    }
    return exitStatusOf(report);
}
