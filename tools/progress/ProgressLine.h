#pragma once

#include <cstdio>
#include <string>

namespace korvex::tools {

// The progress of a long tool on standard error, "korvex-mkrec: 5000 / 20000 frames (25 %)". On
// a terminal one line is rewritten in place whenever the whole percentage changes; written to a
// file or a pipe (when asked for) a line is added at every tenth, so a log keeps a few lines and
// no carriage returns. Nothing is written in between, so the cost does not depend on the count.
class ProgressLine {
public:
    enum class Mode {
        Auto,    // only when `out` is a terminal
        Always,  // also into a file or a pipe
        Never,
    };
    ProgressLine(std::string program, std::string unit, Mode mode, std::FILE* out = stderr);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool shown() const { return shown_; }
    // `done` of `total` items; call from one thread at a time.
    void update(long long done, long long total);
    // Ends the line on a terminal (the next output starts on a line of its own).
    void finish();

private:
    std::string program_;
    std::string unit_;
    std::FILE* out_;
    bool shown_ = false;
    bool terminal_ = false;
    bool open_ = false;  // a terminal line was written and not yet ended
    long long lastStep_ = -1;
};

}  // namespace korvex::tools
