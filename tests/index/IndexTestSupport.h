#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/recgen/InfoFile.h"

namespace korvex::test {

namespace fs = std::filesystem;

// A scratch folder per test, removed afterwards.
class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "korvex-index-" + std::to_string(::getpid()) + "-" +
                           info->test_suite_name() + "-" + info->name();
        // Parameterised test names contain '/'.
        for (char& c : name) {
            if (c == '/')
                c = '_';
        }
        root_ = fs::temp_directory_path() / name;
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string root() const { return root_.string(); }

    // Writes `bytes` at `relative` under the scratch folder, creating folders on the way.
    void write(const std::string& relative, const std::vector<std::uint8_t>& bytes) {
        const fs::path p = root_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    void write(const std::string& relative, const std::string& text = "x") {
        write(relative, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    // A frame file for index-only tests: nothing is read from it except, where asked, its last
    // four bytes (the millisecond offset).
    void frame(const std::string& relative, std::uint32_t offsetMs = 0) {
        write(relative,
              std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xD9, static_cast<std::uint8_t>(offsetMs),
                                        static_cast<std::uint8_t>(offsetMs >> 8),
                                        static_cast<std::uint8_t>(offsetMs >> 16),
                                        static_cast<std::uint8_t>(offsetMs >> 24)});
    }
    void info(const std::vector<gen::InfoRecord>& records,
              const std::array<std::string, 16>& titles = {},
              const std::int32_t* countOverride = nullptr) {
        write("INFO/REC.INF", gen::buildInfoFile(records, titles, countOverride));
    }

    fs::path root_;
};

}  // namespace korvex::test
