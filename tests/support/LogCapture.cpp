#include "tests/support/LogCapture.h"

#include <algorithm>

#include "control/buffers/PicvoxLog.h"
#include "tests/support/Files.h"

namespace korvex::test {

namespace {

// "YYYY/MM/DD hh:mm:ss " before the tag.
constexpr std::size_t kStampLength = 20;

// A tag is written padded to 12 characters, a longer one followed by two spaces.
std::string paddedTag(std::string_view tag) {
    std::string padded(tag);
    padded.resize(std::max<std::size_t>(12, tag.size() + 2), ' ');
    return padded;
}

}  // namespace

LogCapture::LogCapture() {
    writeText(dir_.path() / "Picvox.ini", "");
    picvox::ConfigureLog(dir_.str());
}

LogCapture::~LogCapture() {
    picvox::ResetLog();
}

std::vector<std::string> LogCapture::lines() const {
    std::vector<std::string> out;
    const std::string all = readText(file());
    std::size_t pos = 0;
    while (pos < all.size()) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string::npos)
            end = all.size();
        const std::string_view line(all.data() + pos, end - pos);
        out.emplace_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
        pos = end + 1;
    }
    return out;
}

std::vector<std::string> LogCapture::texts(std::string_view tag) const {
    const std::string prefix = paddedTag(tag);
    std::vector<std::string> out;
    for (const std::string& line : lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line.substr(prefix.size()));
    }
    return out;
}

int LogCapture::count(std::string_view text, std::string_view tag) const {
    const auto all = texts(tag);
    return static_cast<int>(std::count(all.begin(), all.end(), text));
}

int LogCapture::countStartingWith(std::string_view prefix, std::string_view tag) const {
    int n = 0;
    for (const std::string& t : texts(tag))
        n += t.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
}

void LogCapture::clear() const {
    std::error_code ec;
    std::filesystem::remove(file(), ec);
}

}  // namespace korvex::test
