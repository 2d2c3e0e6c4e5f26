#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

// time.txt of a recording: one decimal millisecond offset per line; line k belongs to frame k.
class TimeTable {
public:
    // Only the first 255 characters of a line are read (the rest of a longer line is ignored, so
    // a long line never shifts the lines after it).
    static constexpr std::size_t kMaxLineChars = 255;
    // Its name in the recording folder (any letter case).
    static constexpr std::string_view kFileName = "time.txt";
    // Bounds against a hostile file: a larger file is treated as absent, and lines past the
    // entry limit are ignored. A recording of a million frames needs about 10 MB and 1M entries.
    static constexpr long long kMaxFileBytes = 32ll * 1024 * 1024;
    static constexpr std::size_t kMaxEntries = 4u * 1024 * 1024;

    // Replaces the entries with those of the file; an absent, unreadable or oversized file leaves
    // the table empty. True when the file was read.
    bool load(const std::string& path);
    // Replaces the entries with those parsed from `text` (a whole file).
    void parse(std::string_view text);

    // The table counts as present when it has at least one entry.
    bool present() const { return !entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    // Entry i; an index outside the table reads as 0.
    std::int32_t at(long long i) const;
    void clear() { entries_.clear(); }

    // One line read like atol: leading white space, an optional sign, decimal digits up to the
    // first other character; no digits gives 0. Values beyond the int32 range saturate at
    // INT32_MAX / INT32_MIN instead of overflowing.
    static std::int32_t parseLine(std::string_view line);

private:
    std::vector<std::int32_t> entries_;
};

}  // namespace korvex
