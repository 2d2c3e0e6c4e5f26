#include "tools/progress/ProgressLine.h"

#include <unistd.h>

#include <utility>

namespace korvex::tools {

namespace {

constexpr auto kQuiet = std::chrono::seconds(1);  // runs shorter than this show nothing
constexpr auto kRedraw = std::chrono::milliseconds(250);
constexpr auto kLineEvery = std::chrono::seconds(5);
constexpr int kBarWidth = 20;

std::string duration(double seconds) {
    const long long s = static_cast<long long>(seconds + 0.5);
    if (s < 120)
        return std::to_string(s) + " s";
    if (s < 7200)
        return std::to_string((s + 30) / 60) + " min";
    return std::to_string(s / 3600) + " h " + std::to_string((s % 3600 + 30) / 60) + " min";
}

}  // namespace

ProgressLine::ProgressLine(std::string program, std::string unit, Mode mode, std::FILE* out)
    : ProgressLine(std::move(program), std::move(unit), mode, out,
                   out != nullptr && ::isatty(::fileno(out)) == 1, [] { return Clock::now(); }) {}

ProgressLine::ProgressLine(std::string program, std::string unit, Mode mode, std::FILE* out,
                           bool terminal, std::function<Clock::time_point()> now)
    : program_(std::move(program)),
      unit_(std::move(unit)),
      out_(out),
      mode_(mode),
      terminal_(terminal),
      now_(std::move(now)) {
    shown_ = out_ != nullptr && mode != Mode::Never && (terminal_ || mode != Mode::Auto);
    start_ = now_();
}

ProgressLine::~ProgressLine() {
    finish();
}

std::string ProgressLine::text(long long done, long long total, double seconds, bool bar,
                               const std::string& unit) {
    const long long percent = total > 0 ? done * 100 / total : 0;
    std::string s;
    if (bar) {
        const long long filled = total > 0 ? done * kBarWidth / total : 0;
        s = "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] ";
    }
    s += std::to_string(done) + " / " + std::to_string(total) + " " + unit + " (" +
         std::to_string(percent) + " %)";
    if (seconds > 0 && done > 0) {
        const double rate = static_cast<double>(done) / seconds;
        s += ", " + std::to_string(static_cast<long long>(rate + 0.5)) + "/s";
        if (done < total)
            s += ", " + duration(static_cast<double>(total - done) / rate) + " left";
    }
    return s;
}

void ProgressLine::update(long long done, long long total) {
    if (!shown_ || total <= 0)
        return;
    if (done < 0)
        done = 0;
    if (done > total)
        done = total;
    if (!terminal_ && mode_ == Mode::Always) {
        // Each tenth once, from the start: the same lines however fast the machine is.
        const long long step = done * 10 / total;
        if (step == lastStep_)
            return;
        lastStep_ = step;
        std::fprintf(out_, "%s: %s\n", program_.c_str(),
                     text(done, total, 0, false, unit_).c_str());
        std::fflush(out_);
        return;
    }
    if (done == lastShownDone_)
        return;  // the end, handed in twice, is shown once
    const Clock::time_point now = now_();
    if (now - start_ < kQuiet)
        return;
    const auto every = terminal_ ? kRedraw : kLineEvery;
    if (lastShown_ != Clock::time_point{} && now - lastShown_ < every && done != total)
        return;
    show(done, total, now);
}

void ProgressLine::show(long long done, long long total, Clock::time_point now) {
    lastShown_ = now;
    lastShownDone_ = done;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string line = program_ + ": " + text(done, total, seconds, terminal_, unit_);
    if (terminal_) {
        // Spaces over what is left of a longer line before.
        const std::size_t pad = width_ > line.size() ? width_ - line.size() : 0;
        std::fprintf(out_, "\r%s%s", line.c_str(), std::string(pad, ' ').c_str());
        width_ = line.size();
        open_ = true;
    } else {
        std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
}

void ProgressLine::finish() {
    if (open_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        open_ = false;
    }
}

}  // namespace korvex::tools
