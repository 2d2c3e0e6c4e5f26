#include "viewer/export/ProgressPrinter.h"

#include <algorithm>
#include <chrono>

namespace korvex {

namespace {

// A terminal is redrawn ten times a second; a log gets a line every five seconds.
constexpr std::int64_t kTerminalPeriodMs = 100;
constexpr std::int64_t kLinePeriodMs = 5000;
constexpr int kBarCells = 24;

std::string clockText(std::int64_t seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

}  // namespace

ProgressPrinter::ProgressPrinter(std::FILE* out, bool terminal, bool quiet, std::string program,
                                 Clock clock)
    : out_(out),
      terminal_(terminal),
      quiet_(quiet || out == nullptr),
      program_(std::move(program)),
      clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] {
            return static_cast<std::int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count());
        };
    }
}

ProgressPrinter::~ProgressPrinter() {
    end();
}

std::string ProgressPrinter::barText(std::int64_t done, std::int64_t total,
                                     std::int64_t elapsedMs) {
    total = std::max<std::int64_t>(total, 1);
    done = std::clamp<std::int64_t>(done, 0, total);
    const int filled = static_cast<int>(done * kBarCells / total);
    std::string text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBarCells - filled), '.') + "] ";
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%3lld%%  %lld/%lld frames",
                  static_cast<long long>(done * 100 / total), static_cast<long long>(done),
                  static_cast<long long>(total));
    text += numbers;
    if (elapsedMs > 0 && done > 0) {
        const double fps = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
        const auto left = static_cast<std::int64_t>(static_cast<double>(total - done) / fps + 0.5);
        char rate[64];
        std::snprintf(rate, sizeof rate, "  %.0f fps  %s left", fps, clockText(left).c_str());
        text += rate;
    }
    return text;
}

std::string ProgressPrinter::lineText(std::int64_t done, std::int64_t total) {
    total = std::max<std::int64_t>(total, 1);
    char text[96];
    std::snprintf(text, sizeof text, "%lld/%lld frames (%lld%%)", static_cast<long long>(done),
                  static_cast<long long>(total),
                  static_cast<long long>(std::clamp<std::int64_t>(done, 0, total) * 100 / total));
    return text;
}

void ProgressPrinter::write(const std::string& text) {
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

void ProgressPrinter::endBarLine() {
    if (barOpen_) {
        write("\n");
        barOpen_ = false;
        barWidth_ = 0;
    }
}

void ProgressPrinter::step(const std::string& text) {
    if (quiet_)
        return;
    endBarLine();
    write(program_ + ": " + text + "\n");
}

void ProgressPrinter::frames(std::int64_t done, std::int64_t total) {
    if (quiet_)
        return;
    const std::int64_t now = clock_();
    if (startMs_ < 0)
        startMs_ = now;
    const bool last = done >= total;
    const std::int64_t period = terminal_ ? kTerminalPeriodMs : kLinePeriodMs;
    if (done == lastDone_ || (!last && lastMs_ >= 0 && now - lastMs_ < period))
        return;
    lastMs_ = now;
    lastDone_ = done;
    if (!terminal_) {
        write(program_ + ": " + lineText(done, total) + "\n");
        return;
    }
    std::string text = program_ + ": " + barText(done, total, now - startMs_);
    // A shorter line than the one before must wipe its tail.
    const std::size_t width = text.size();
    if (width < barWidth_)
        text += std::string(barWidth_ - width, ' ');
    barWidth_ = std::max(barWidth_, width);
    write("\r" + text);
    barOpen_ = true;
}

void ProgressPrinter::end() {
    if (!quiet_)
        endBarLine();
}

}  // namespace korvex
