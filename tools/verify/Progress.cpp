#include "tools/verify/Progress.h"

#include <unistd.h>

#include <cmath>

namespace korvex::verify {

namespace {

constexpr std::chrono::milliseconds kFirstAfter{1000};
constexpr std::chrono::milliseconds kTerminalEvery{200};
constexpr std::chrono::milliseconds kPlainEvery{5000};

std::string duration(double seconds) {
    const long s = static_cast<long>(std::lround(seconds));
    char out[32];
    if (s >= 3600)
        std::snprintf(out, sizeof out, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else if (s >= 60)
        std::snprintf(out, sizeof out, "%ld:%02ld", s / 60, s % 60);
    else
        std::snprintf(out, sizeof out, "%ld s", s);
    return out;
}

}  // namespace

Progress::Progress(std::FILE* out, bool quiet, bool terminal, std::string what)
    : out_(out), quiet_(quiet), terminal_(terminal), what_(std::move(what)), start_(Clock::now()) {}

bool Progress::stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string Progress::line(std::size_t done, std::size_t total, double seconds, bool bar,
                           const std::string& what) {
    const double rate = seconds > 0 ? done / seconds : 0;
    const double fraction = total > 0 ? static_cast<double>(done) / total : 1.0;
    std::string out;
    if (bar) {
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(fraction * kWidth);
        out += "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] ";
    }
    char text[160];
    std::snprintf(text, sizeof text, "%zu/%zu %s (%d%%), %.0f/s", done, total, what.c_str(),
                  static_cast<int>(fraction * 100), rate);
    out += text;
    if (rate > 0 && done < total)
        out += ", " + duration((total - done) / rate) + " left";
    return out;
}

void Progress::update(std::size_t done, std::size_t total, Clock::time_point now) {
    done_ = done;
    total_ = total;
    if (quiet_ || now - start_ < kFirstAfter)
        return;
    if (shown_ && now - lastShown_ < (terminal_ ? kTerminalEvery : kPlainEvery))
        return;
    lastShown_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string text = line(done, total, seconds, terminal_, what_);
    if (terminal_)
        std::fprintf(out_, "\r%s\033[K", text.c_str());
    else
        std::fprintf(out_, "korvex-verify: %s\n", text.c_str());
    std::fflush(out_);
}

void Progress::finish(Clock::time_point now) {
    if (quiet_ || !shown_)
        return;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (terminal_) {
        std::fputs("\r\033[K", out_);
    } else {
        std::fprintf(out_, "korvex-verify: %zu %s in %s\n", done_, what_.c_str(),
                     duration(seconds).c_str());
    }
    std::fflush(out_);
}

}  // namespace korvex::verify
