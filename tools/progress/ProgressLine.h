#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace korvex::tools {

// The progress of a long tool on standard error. Nothing is shown for a run that ends within a
// second. On a terminal one line is redrawn in place: a bar, "5000 / 20000 frames (25 %)", the
// rate and the time left. Into a file or a pipe, when asked for, either a line at every tenth
// from the start (Always: a log keeps eleven lines and no carriage returns) or a line with the
// rate every few seconds once the run has lasted a second (Lines).
class ProgressLine {
public:
    enum class Mode {
        Auto,    // only when `out` is a terminal
        Lines,   // on a terminal as Auto; otherwise a line every few seconds
        Always,  // on a terminal as Auto; otherwise a line at every tenth
        Never,
    };
    using Clock = std::chrono::steady_clock;

    ProgressLine(std::string program, std::string unit, Mode mode, std::FILE* out = stderr);
    // For tests: whether `out` counts as a terminal, and the clock.
    ProgressLine(std::string program, std::string unit, Mode mode, std::FILE* out, bool terminal,
                 std::function<Clock::time_point()> now);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Whether anything may be written at all (not Never, and a terminal unless asked for).
    bool shown() const { return shown_; }
    // `done` of `total` items; call from one thread at a time.
    void update(long long done, long long total);
    // Ends the line on a terminal (the next output starts on a line of its own).
    void finish();

    // The text after "program: ": "[#####     ] 5 / 20 frames (25 %), 3/s, 5 s left" (the bar
    // only when `bar`; rate and time left only when `seconds` > 0).
    static std::string text(long long done, long long total, double seconds, bool bar,
                            const std::string& unit);

private:
    void show(long long done, long long total, Clock::time_point now);

    std::string program_;
    std::string unit_;
    std::FILE* out_;
    Mode mode_;
    bool shown_ = false;
    bool terminal_ = false;
    bool open_ = false;      // a terminal line was written and not yet ended
    std::size_t width_ = 0;  // of the terminal line last written
    long long lastStep_ = -1;
    long long lastShownDone_ = -1;
    std::function<Clock::time_point()> now_;
    Clock::time_point start_;
    Clock::time_point lastShown_{};
};

}  // namespace korvex::tools
