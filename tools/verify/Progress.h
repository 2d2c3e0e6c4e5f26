#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace korvex::verify {

// Progress of a long run on stderr: on a terminal one line redrawn in place (a bar, frames a
// second, time left), otherwise a plain line every few seconds. Nothing for runs that end within
// a second, and nothing at all when quiet.
class Progress {
public:
    using Clock = std::chrono::steady_clock;
    Progress(std::FILE* out, bool quiet, bool terminal, std::string what = "frames");
    // Whether stderr is a terminal.
    static bool stderrIsTerminal();

    void update(std::size_t done, std::size_t total, Clock::time_point now = Clock::now());
    // Clears the terminal line; a plain line says how long it took when lines were printed.
    void finish(Clock::time_point now = Clock::now());

    // The line as shown (without the carriage return or line end), for tests.
    static std::string line(std::size_t done, std::size_t total, double seconds, bool bar,
                            const std::string& what = "frames");

private:
    std::FILE* out_;
    bool quiet_;
    bool terminal_;
    std::string what_;
    Clock::time_point start_;
    Clock::time_point lastShown_{};
    bool shown_ = false;
    std::size_t done_ = 0, total_ = 0;
};

}  // namespace korvex::verify
