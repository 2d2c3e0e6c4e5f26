#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "control/buffers/PicvoxLog.h"

namespace testsupport {

// A scratch folder under the system's temp folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& tag) {
        static std::atomic<int> counter{0};
        path_ =
            std::filesystem::temp_directory_path() /
            ("korvex-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Sets (or unsets) an environment variable and restores its old state afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Switches the control's log on into a scratch folder for the life of the object and reads back
// the texts of the HttpThread lines (without stamp and tag).
class LogCapture {
public:
    LogCapture() : dir_("log") {
        std::ofstream(dir_.file("Picvox.ini")) << "";
        picvox::ConfigureLog(dir_.path());
    }
    ~LogCapture() { picvox::ResetLog(); }

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        const std::string all = readText(dir_.file("Picvox_log.log"));
        const std::string tag = " HttpThread  ";
        std::size_t pos = 0;
        while (pos < all.size()) {
            std::size_t end = all.find('\n', pos);
            if (end == std::string::npos)
                end = all.size();
            const std::string line = all.substr(pos, end - pos);
            pos = end + 1;
            const std::size_t at = line.find(tag);
            if (at == 19)
                out.push_back(line.substr(at + tag.size()));
        }
        return out;
    }
    int count(const std::string& text) const {
        int n = 0;
        for (const std::string& t : texts())
            n += t == text;
        return n;
    }
    int countStartingWith(const std::string& prefix) const {
        int n = 0;
        for (const std::string& t : texts())
            n += t.rfind(prefix, 0) == 0;
        return n;
    }
    void clear() const { std::filesystem::remove(dir_.file("Picvox_log.log")); }

private:
    TempDir dir_;
};

}  // namespace testsupport
