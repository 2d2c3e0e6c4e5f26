#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace korvex {

// Progress of a long run on stderr: on a terminal one line redrawn in place (a bar, frames per
// second and the time left), otherwise a plain line now and then that a log keeps readable.
class ProgressPrinter {
public:
    // Milliseconds of a steady clock.
    using Clock = std::function<std::int64_t()>;

    // `quiet`: prints nothing at all. `terminal`: `out` is a terminal.
    ProgressPrinter(std::FILE* out, bool terminal, bool quiet, std::string program,
                    Clock clock = {});
    ~ProgressPrinter();
    ProgressPrinter(const ProgressPrinter&) = delete;
    ProgressPrinter& operator=(const ProgressPrinter&) = delete;

    // A step without a count ("indexing FOLDER", "writing the index in front").
    void step(const std::string& text);
    // `done` of `total` frames.
    void frames(std::int64_t done, std::int64_t total);
    // The run is over: the bar's line is ended.
    void end();

    // The bar's text for `done` of `total` frames after `elapsedMs` (no line end).
    static std::string barText(std::int64_t done, std::int64_t total, std::int64_t elapsedMs);
    // A plain progress line (no line end).
    static std::string lineText(std::int64_t done, std::int64_t total);

private:
    void write(const std::string& text);
    void endBarLine();

    std::FILE* out_;
    bool terminal_;
    bool quiet_;
    std::string program_;
    Clock clock_;
    std::int64_t startMs_ = -1;
    std::int64_t lastMs_ = -1;
    std::int64_t lastDone_ = -1;
    bool barOpen_ = false;
    std::size_t barWidth_ = 0;
};

}  // namespace korvex
