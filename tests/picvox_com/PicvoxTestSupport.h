#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "control/buffers/PicvoxLog.h"

namespace picvox::test {

// A folder of its own under the temp path, removed at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& tag) {
        static std::atomic<int> counter{0};
        path_ =
            std::filesystem::temp_directory_path() /
            ("picvox-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Each test gets its own per-user store and documents folder, and logging off: the control must
// never touch the real user's files, and the log switch is process-wide.
class IsolatedUserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLog();
        ::setenv("XDG_CONFIG_HOME", config_.str().c_str(), 1);
        ::setenv("XDG_DOCUMENTS_DIR", documents_.str().c_str(), 1);
        // A Start prepares its cache here, not in the user's.
        ::setenv("XDG_CACHE_HOME", cache_.str().c_str(), 1);
    }
    void TearDown() override { ResetLog(); }

    ScratchFolder config_{"config"};
    ScratchFolder documents_{"documents"};
    ScratchFolder cache_{"cache"};
};

}  // namespace picvox::test
