// korvex-export: writes a stretch of a recording as an MP4 video that any player opens.

#include <malloc.h>
#include <unistd.h>

#include <QGuiApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/TimeZone.h"
#include "viewer/export/ExportJob.h"
#include "viewer/export/Mp4Writer.h"
#include "viewer/export/ProgressPrinter.h"
#include "viewer/shell/core/CommandLine.h"

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUnusable = 2;

// Raised by SIGINT and SIGTERM: the export stops and leaves nothing behind.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int /*signal*/) {
    interrupted.store(true);
}

QtMessageHandler qtDefaultHandler = nullptr;

// Qt's note that a user without a login session has no runtime folder says nothing about the
// export; everything else Qt says goes through.
void filterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("QStandardPaths:")))
        return;
    if (qtDefaultHandler != nullptr)
        qtDefaultHandler(type, context, text);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "korvex-export: %s\nTry 'korvex-export --help'.\n", message.c_str());
    return kExitUnusable;
}

std::string clockText(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60), static_cast<long long>(ms % 1000));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    // Every frame allocates pictures of a megabyte or more; kept in the heap instead of mapped
    // and zeroed afresh each time, they cost no page faults.
    ::mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    // Recorder times on the command line read in the recorders' zone, as the viewer shows them.
    platform::fixProcessTimeZone();
    korvex::ExportCommandLine line;
    std::string error;
    if (!korvex::parseExportArguments(
            std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), line, error)) {
        return usageError(error);
    }
    if (line.help) {
        std::fputs(korvex::exportUsage(), stdout);
        return kExitWritten;
    }
    if (line.version) {
        std::printf("korvex-export %s\n", korvex::kViewerVersion);
        return kExitWritten;
    }

    // The painter needs Qt's GUI layer, but no window: the offscreen platform works everywhere.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qtDefaultHandler = qInstallMessageHandler(filterQtMessages);
    korvex::quietCoderMessages();
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication app(qtArgc, qtArgv);

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    korvex::ProgressPrinter progress(stderr, ::isatty(STDERR_FILENO) != 0, line.quiet,
                                     "korvex-export");
    progress.step("indexing " + line.request.folder);
    bool finishing = false;
    korvex::ExportJob job(line.request, korvex::kViewerVersion);
    const korvex::ExportOutcome outcome =
        job.run(interrupted, [&](const korvex::ExportProgress& p) {
            if (p.stage == korvex::ExportProgress::Stage::Frames) {
                progress.frames(p.done, p.total);
            } else if (p.stage == korvex::ExportProgress::Stage::Finishing && !finishing) {
                finishing = true;
                progress.frames(p.done, p.total);
                progress.step("finishing the file");
            }
        });
    progress.end();

    using Result = korvex::ExportOutcome::Result;
    switch (outcome.result) {
        case Result::Written:
            if (!line.quiet) {
                std::fprintf(stderr, "korvex-export: wrote %s (%lld pictures, %s%s)\n",
                             outcome.output.c_str(), outcome.sideCar.pictures,
                             clockText(outcome.sideCar.durationMs).c_str(),
                             outcome.sideCar.audio.empty() ? ", no sound" : ", with sound");
            }
            return kExitWritten;
        case Result::Cancelled:
            std::fprintf(stderr, "korvex-export: interrupted; nothing written\n");
            return kExitFailed;
        case Result::Unusable:
            std::fprintf(stderr, "korvex-export: %s\n", outcome.error.c_str());
            return kExitUnusable;
        case Result::Failed:
            break;
    }
    std::fprintf(stderr, "korvex-export: %s; nothing written\n", outcome.error.c_str());
    return kExitFailed;
}
