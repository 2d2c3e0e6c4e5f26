#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/TempDir.h"

namespace korvex::test {

// Switches the control's log on into a scratch folder of its own for the life of the object (the
// switch is process-wide, so one at a time) and reads back what was written.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::filesystem::path& folder() const { return dir_.path(); }
    std::filesystem::path file() const { return dir_.path() / "Picvox_log.log"; }

    // Every line without its time stamp: the tag, its padding and the text.
    std::vector<std::string> lines() const;
    // The texts of the lines of one tag ("HttpThread", "J2KCHK", ...), without stamp and tag.
    std::vector<std::string> texts(std::string_view tag = "HttpThread") const;
    int count(std::string_view text, std::string_view tag = "HttpThread") const;
    int countStartingWith(std::string_view prefix, std::string_view tag = "HttpThread") const;
    // Removes what was written so far; the log goes on into a new file.
    void clear() const;

private:
    TempDir dir_{"log"};
};

}  // namespace korvex::test
