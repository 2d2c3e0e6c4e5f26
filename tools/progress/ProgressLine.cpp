#include "tools/progress/ProgressLine.h"

#include <unistd.h>

#include <utility>

namespace korvex::tools {

ProgressLine::ProgressLine(std::string program, std::string unit, Mode mode, std::FILE* out)
    : program_(std::move(program)), unit_(std::move(unit)), out_(out) {
    terminal_ = out_ != nullptr && ::isatty(::fileno(out_)) == 1;
    shown_ = out_ != nullptr && (mode == Mode::Always || (mode == Mode::Auto && terminal_));
}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::update(long long done, long long total) {
    if (!shown_ || total <= 0)
        return;
    if (done < 0)
        done = 0;
    if (done > total)
        done = total;
    const long long percent = done * 100 / total;
    const long long step = terminal_ ? percent : percent / 10;
    if (step == lastStep_)
        return;
    lastStep_ = step;
    if (terminal_) {
        std::fprintf(out_, "\r%s: %lld / %lld %s (%lld %%)", program_.c_str(), done, total,
                     unit_.c_str(), percent);
        open_ = true;
    } else {
        std::fprintf(out_, "%s: %lld / %lld %s (%lld %%)\n", program_.c_str(), done, total,
                     unit_.c_str(), percent);
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
