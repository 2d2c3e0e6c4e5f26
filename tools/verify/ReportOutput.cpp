#include "tools/verify/ReportOutput.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/FileSystem.h"
#include "tools/verify/TimeText.h"

extern char** environ;

namespace korvex::verify {

namespace {

std::string programFolder() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

std::string findPdfHelper() {
    if (const char* named = std::getenv("KORVEX_REPORT_PDF"); named && *named)
        return named;
    const std::string here = programFolder();
    for (const std::string& candidate :
         {here + "/korvex-report-pdf", here + "/../libexec/korvex/korvex-report-pdf"}) {
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

int writeText(const std::string& path, const std::string& text) {
    return platform::writeFileWhole(
        path, [&](int fd) { return platform::writeAll(fd, text.data(), text.size()); },
        [](int fd) { return ::fdatasync(fd) == 0 ? 0 : errno; });
}

}  // namespace

bool isPdfReportName(const std::string& path) {
    if (path.size() < 4)
        return false;
    return platform::equalsNoCase(std::string_view(path).substr(path.size() - 4), ".pdf");
}

void stampReport(ReportModel& model, const std::vector<std::string>& commandLine) {
#ifdef KORVEX_VERSION
    model.version = KORVEX_VERSION;
#endif
    model.commandLine = commandLine;
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char made[32];
    std::strftime(made, sizeof made, "%Y-%m-%dT%H:%M:%SZ", &tm);
    model.madeAt = made;
    model.timeZone = TimeText().zoneName();
}

bool writeHtmlReport(const ReportModel& model, const std::string& path, std::string& error) {
    const std::string data = reportDataJson(model);
    if (const int e = writeText(path, reportHtml(model, data))) {
        error = terminalText(path) + ": cannot be written (" + platform::fileErrorText(e) + ")";
        return false;
    }
    return true;
}

bool writePdfReportWithHelper(const ReportModel& model, const std::string& path,
                              std::string& error) {
    const std::string helper = findPdfHelper();
    if (helper.empty()) {
        error =
            "a PDF report needs korvex-report-pdf, which is not installed (write an .html "
            "report instead)";
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string dataPath = (slash == std::string::npos ? "./" : folder) + ".report-data." +
                                 std::to_string(::getpid()) + ".json";
    if (const int e = writeText(dataPath, reportDataJson(model))) {
        error = terminalText(dataPath) + ": cannot be written (" + platform::fileErrorText(e) + ")";
        return false;
    }
    std::vector<char*> argv = {const_cast<char*>(helper.c_str()),
                               const_cast<char*>(dataPath.c_str()), const_cast<char*>(path.c_str()),
                               nullptr};
    pid_t pid = 0;
    int status = -1;
    const int spawned = ::posix_spawn(&pid, helper.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawned == 0) {
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::unlink(dataPath.c_str());
    if (spawned != 0) {
        error =
            "cannot start " + terminalText(helper) + " (" + platform::fileErrorText(spawned) + ")";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = terminalText(path) + ": the PDF could not be written";
        return false;
    }
    return true;
}

}  // namespace korvex::verify
