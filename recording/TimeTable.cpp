#include "recording/TimeTable.h"

#include <limits>

#include "platform/FileSystem.h"

namespace korvex {

std::int32_t TimeTable::parseLine(std::string_view line) {
    if (line.size() > kMaxLineChars)
        line = line.substr(0, kMaxLineChars);
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
        negative = line[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the int32 range.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        if (value <= kLimit)
            value = value * 10 + (line[i] - '0');
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

void TimeTable::parse(std::string_view text) {
    entries_.clear();
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    if (!text.empty() && text.back() != '\n')
        ++lines;
    entries_.reserve(lines < kMaxEntries ? lines : kMaxEntries);
    while (!text.empty() && entries_.size() < kMaxEntries) {
        const auto end = text.find('\n');
        entries_.push_back(parseLine(text.substr(0, end)));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

bool TimeTable::load(const std::string& path) {
    entries_.clear();
    std::vector<unsigned char> bytes;
    if (!platform::readWholeFile(path, bytes, kMaxFileBytes))
        return false;
    parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return true;
}

std::int32_t TimeTable::at(long long i) const {
    if (i < 0 || static_cast<unsigned long long>(i) >= entries_.size())
        return 0;
    return entries_[static_cast<std::size_t>(i)];
}

}  // namespace korvex
