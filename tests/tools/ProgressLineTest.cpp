// The long tools' progress line under a clock the test moves: silent for short runs, a bar with
// the rate and time left on a terminal, the fixed tenths for logs, a line now and then otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/progress/ProgressLine.h"

namespace {

using korvex::tools::ProgressLine;
using Clock = ProgressLine::Clock;
using std::chrono::milliseconds;

struct Captured {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    ~Captured() { std::free(buffer); }
    std::string text() {
        std::fflush(out);
        return std::string(buffer, size);
    }
};

// Runs 0..total updates, one every `stepMs` of the fake clock; returns what was written.
std::string run(ProgressLine::Mode mode, bool terminal, long long total, int stepMs) {
    Captured c;
    Clock::time_point now{};
    {
        ProgressLine p("tool", "frames", mode, c.out, terminal, [&now] { return now; });
        for (long long i = 1; i <= total; ++i) {
            now += milliseconds(stepMs);
            p.update(i, total);
        }
        p.update(total, total);  // as a caller that reports the end once more
        p.finish();
    }
    std::string s = c.text();
    std::fclose(c.out);
    return s;
}

TEST(ProgressLine, TextSaysHowFarHowFastAndHowLong) {
    EXPECT_EQ(ProgressLine::text(250, 1000, 5.0, false, "frames"),
              "250 / 1000 frames (25 %), 50/s, 15 s left");
    EXPECT_EQ(ProgressLine::text(1000, 1000, 4.0, false, "frames"),
              "1000 / 1000 frames (100 %), 250/s");
    EXPECT_EQ(ProgressLine::text(10, 10000, 1.0, false, "files"),
              "10 / 10000 files (0 %), 10/s, 17 min left");
    const std::string bar = ProgressLine::text(500, 1000, 1.0, true, "frames");
    EXPECT_EQ(bar.substr(0, 23), "[" + std::string(10, '#') + std::string(10, ' ') + "] ");
    EXPECT_EQ(ProgressLine::text(0, 0, 0, false, "frames"), "0 / 0 frames (0 %)");
}

TEST(ProgressLine, EachModeWritesWhatItsReaderNeeds) {
    // A run within a second shows nothing, on a terminal or in Lines mode.
    EXPECT_EQ(run(ProgressLine::Mode::Auto, true, 20, 40), "");
    EXPECT_EQ(run(ProgressLine::Mode::Lines, false, 20, 40), "");
    // Nothing into a file unless asked; nothing ever when quiet.
    EXPECT_EQ(run(ProgressLine::Mode::Auto, false, 100, 100), "");
    EXPECT_EQ(run(ProgressLine::Mode::Never, true, 100, 100), "");

    // Always into a file: each tenth once from the start, whatever the speed.
    std::string tenths = run(ProgressLine::Mode::Always, false, 20, 1);
    EXPECT_EQ(tenths.rfind("tool: 1 / 20 frames (5 %)\ntool: 2 / 20 frames (10 %)\n", 0), 0u)
        << tenths;
    EXPECT_EQ(std::count(tenths.begin(), tenths.end(), '\n'), 11);
    EXPECT_EQ(tenths.find('\r'), std::string::npos);

    // A terminal: one line redrawn in place, ended once, the last state complete.
    const std::string term = run(ProgressLine::Mode::Auto, true, 400, 10);
    EXPECT_EQ(std::count(term.begin(), term.end(), '\n'), 1);
    EXPECT_GE(std::count(term.begin(), term.end(), '\r'), 4);
    EXPECT_LE(std::count(term.begin(), term.end(), '\r'), 14);  // about four a second, not 400
    const std::string last = term.substr(term.rfind('\r') + 1);
    EXPECT_EQ(last.rfind("tool: [####################] 400 / 400 frames (100 %), 100/s", 0), 0u)
        << last;

    // Lines into a file: after the first second, a line every five, then the end.
    const std::string lines = run(ProgressLine::Mode::Lines, false, 1200, 10);  // 12 s
    EXPECT_EQ(lines.find('\r'), std::string::npos);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;
    EXPECT_EQ(lines.rfind("tool: 1200 / 1200 frames (100 %), 100/s\n"),
              lines.size() - std::string("tool: 1200 / 1200 frames (100 %), 100/s\n").size());
    EXPECT_NE(lines.find("s left"), std::string::npos);
}

}  // namespace
