#include "control/buffers/PicvoxLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace picvox {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> readLines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The log switch is process-wide: every test starts and ends with logging off.
class PicvoxLogTest : public ::testing::Test {
protected:
    void SetUp() override { ResetLog(); }
    void TearDown() override { ResetLog(); }
    void switchOn() { std::ofstream(folder_ / "Picvox.ini") << "anything"; }

    korvex::test::TempDir dir_{"picvox-log"};
    const fs::path folder_ = dir_.path();
};

TEST_F(PicvoxLogTest, OffWithoutTheSwitchFileAndNoFileIsCreated) {
    ConfigureLog(folder_.string());
    EXPECT_FALSE(LogEnabled());
    WriteLog(LogTag::CPicvoxer, "Startメソッド開始");
    WriteJ2kErrLog("decode failed");
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(PicvoxLogTest, EmptyFolderAndResetLeaveLoggingOff) {
    switchOn();
    ConfigureLog(folder_.string());
    EXPECT_TRUE(LogEnabled());
    EXPECT_EQ(LogFolder(), folder_.string());
    ResetLog();
    EXPECT_FALSE(LogEnabled());
    EXPECT_EQ(LogFolder(), "");
    ConfigureLog("");
    EXPECT_FALSE(LogEnabled());
}

TEST_F(PicvoxLogTest, EachTagWritesItsPrefixAfterTheStamp) {
    switchOn();
    ConfigureLog(folder_.string());
    const std::pair<LogTag, const char*> tags[] = {
        {LogTag::CPicvoxer, "CPicvoxer   "},  {LogTag::MainProcess, "MainProcess "},
        {LogTag::DXSManip, "DXSManip    "},   {LogTag::WaveWriteThread, "WaveWriteThread  "},
        {LogTag::HttpThread, "HttpThread  "}, {LogTag::J2KCHK, "J2KCHK      "},
    };
    for (const auto& [tag, prefix] : tags)
        WriteLog(tag, "value=%d %s", 42, "キャッシュ");
    WriteLog(LogTag::HttpThread, "ends in a newline\n");
    WriteJ2kErrLog("J2K error %s", "01.jp2");

    auto lines = readLines(folder_ / "Picvox_log.log");
    ASSERT_EQ(lines.size(), 8u);
    const std::regex stamp(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} )");
    for (std::size_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(std::regex_search(lines[i], stamp)) << lines[i];
        EXPECT_EQ(lines[i].substr(20), std::string(tags[i].second) + "value=42 キャッシュ");
    }
    EXPECT_EQ(lines[6].substr(20), "HttpThread  ends in a newline");
    EXPECT_EQ(lines[7], "");  // the caller's newline stays as an empty line

    auto errors = readLines(folder_ / "J2KERR.log");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(std::regex_search(errors[0], stamp));
    EXPECT_EQ(errors[0].substr(20), "J2K error 01.jp2");
}

TEST_F(PicvoxLogTest, LinesOfManyThreadsNeverInterleave) {
    switchOn();
    ConfigureLog(folder_.string());
    const std::string longText(3000, 'x');  // longer than any stdio buffer chunk
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i)
                WriteLog(LogTag::MainProcess, "t%d %s", t, longText.c_str());
        });
    }
    for (auto& th : threads)
        th.join();
    auto lines = readLines(folder_ / "Picvox_log.log");
    ASSERT_EQ(lines.size(), 400u);
    int perThread[4] = {};
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), 20u + 12u + 3u + longText.size());
        int t = line[33] - '0';
        ASSERT_TRUE(t >= 0 && t < 4);
        EXPECT_EQ(line.substr(35), longText);
        ++perThread[t];
    }
    for (int n : perThread)
        EXPECT_EQ(n, 100);
}

// A hostile property (a 100 KB Location) logs a line of a few KB, not of 100 KB, and a log that
// keeps growing is moved aside at its cap: the two files never hold much more than twice it.
TEST_F(PicvoxLogTest, LongLinesAreCutAndTheLogRotatesAtItsCap) {
    switchOn();
    ConfigureLog(folder_.string());
    const std::string huge(100 * 1024, 'L');
    WriteLog(LogTag::HttpThread, "url=%s", huge.c_str());
    std::vector<std::string> lines = readLines(folder_ / "Picvox_log.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LE(lines[0].size(), 4096u + 8u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 4), " ...");

    const std::string chunk(4000, 'x');
    for (int i = 0; i < 9000; ++i)
        WriteLog(LogTag::HttpThread, "%s", chunk.c_str());
    const auto size = [&](const char* name) {
        std::error_code ec;
        const auto n = fs::file_size(folder_ / name, ec);
        return ec ? 0 : n;
    };
    EXPECT_GT(size("Picvox_log.log.1"), 0u);
    EXPECT_LE(size("Picvox_log.log") + size("Picvox_log.log.1"), 2u * 16 * 1024 * 1024 + 8192);
}

TEST_F(PicvoxLogTest, UnwritableLogFileDropsTheLineSilently) {
    switchOn();
    ConfigureLog(folder_.string());
    fs::create_directories(folder_ / "Picvox_log.log");  // a folder where the file should be
    WriteLog(LogTag::CPicvoxer, "dropped");
    EXPECT_TRUE(fs::is_directory(folder_ / "Picvox_log.log"));
    // FIFOs where the files should be: the switch reads as off, a line is dropped, nothing waits
    // for a reader that never comes.
    ASSERT_EQ(::mkfifo((folder_ / "J2KERR.log").c_str(), 0600), 0);
    WriteJ2kErrLog("dropped");
    fs::remove(folder_ / "Picvox.ini");
    ASSERT_EQ(::mkfifo((folder_ / "Picvox.ini").c_str(), 0600), 0);
    ConfigureLog(folder_.string());
    EXPECT_FALSE(LogEnabled());
}

}  // namespace
}  // namespace picvox
