#include "control/buffers/PicvoxLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/FileSystem.h"

namespace picvox {

namespace {

// The log switch and folder are module-wide by design: Start decides them, every thread of the
// control reads them. This record is their only owner; its lock also serialises the writes, so a
// line is formatted and appended whole before the next one starts.
struct LogState {
    std::mutex lock;
    bool enabled = false;
    std::string folder;
};

LogState& logState() {
    static LogState state;
    return state;
}

const char* tagPrefix(LogTag tag) {
    switch (tag) {
        case LogTag::CPicvoxer:
            return "%04d/%02d/%02d %02d:%02d:%02d CPicvoxer   ";
        case LogTag::MainProcess:
            return "%04d/%02d/%02d %02d:%02d:%02d MainProcess ";
        case LogTag::DXSManip:
            return "%04d/%02d/%02d %02d:%02d:%02d DXSManip    ";
        case LogTag::WaveWriteThread:
            return "%04d/%02d/%02d %02d:%02d:%02d WaveWriteThread  ";
        case LogTag::HttpThread:
            return "%04d/%02d/%02d %02d:%02d:%02d HttpThread  ";
        case LogTag::J2KCHK:
            return "%04d/%02d/%02d %02d:%02d:%02d J2KCHK      ";
    }
    return "%04d/%02d/%02d %02d:%02d:%02d ";
}

std::string formatStamp(const char* prefixFormat) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[96];
    int n = std::snprintf(buf, sizeof buf, prefixFormat, local.tm_year + 1900, local.tm_mon + 1,
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (n < 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n) < sizeof buf ? n : sizeof buf - 1);
}

// A line longer than this is cut (a hostile property or answer must not write a megabyte a
// line), and a log file that reaches kMaxLogBytes is moved aside to "<name>.1" (the one before
// goes), so the two never hold more than twice that.
constexpr std::size_t kMaxLineBytes = 4096;
constexpr off_t kMaxLogBytes = 16 * 1024 * 1024;

void appendFormatted(std::string& out, const char* format, va_list args) {
    if (!format)
        return;
    va_list probe;
    va_copy(probe, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, probe);
    va_end(probe);
    if (n < 0)
        return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.append(small, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    va_list again;
    va_copy(again, args);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    big.resize(static_cast<std::size_t>(n));
    out += big;
}

// Opens, appends and closes on every line so that a crash loses at most the line being written
// and other processes see whole lines. A file that cannot be opened drops the line silently.
void writeLine(const char* fileName, const char* prefixFormat, const char* format, va_list args) {
    LogState& state = logState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.enabled)
        return;
    std::string line = formatStamp(prefixFormat);
    appendFormatted(line, format, args);
    // A cut line says it was cut.
    if (line.size() > kMaxLineBytes) {
        std::size_t end = kMaxLineBytes;
        while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0u) == 0x80u)
            --end;  // never inside a UTF-8 character
        line.resize(end);
        line += " ...";
    }
    line += '\n';
    std::string path = state.folder + "/" + fileName;
    // Non-blocking and regular files only: a FIFO planted at the log's name must not stall
    // every thread of the control on its next line.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        platform::writeAll(fd, line.data(), line.size());
        if (st.st_size + static_cast<off_t>(line.size()) >= kMaxLogBytes)
            ::rename(path.c_str(), (path + ".1").c_str());
    }
    ::close(fd);
}

}  // namespace

void ConfigureLog(const std::string& folder) {
    // Without a documents folder the switch file would be looked for at the file-system root;
    // logging stays off instead.
    bool on = false;
    if (!folder.empty()) {
        std::string iniPath = folder + "/Picvox.ini";
        if (const int fd = platform::openRegularFile(iniPath); fd >= 0) {
            on = true;
            ::close(fd);
        }
    }
    LogState& state = logState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.enabled = on;
    state.folder = folder;
}

void ResetLog() {
    LogState& state = logState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.enabled = false;
    state.folder.clear();
}

bool LogEnabled() {
    LogState& state = logState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.enabled;
}

std::string LogFolder() {
    LogState& state = logState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.folder;
}

void WriteLog(LogTag tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine("Picvox_log.log", tagPrefix(tag), format, args);
    va_end(args);
}

void WriteJ2kErrLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine("J2KERR.log", "%04d/%02d/%02d %02d:%02d:%02d ", format, args);
    va_end(args);
}

}  // namespace picvox
