// Output files written over whatever a name held before: the result holds exactly what was
// written, and nothing planted under the name is written through or blocks the open.
#include "control/download/OutputFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

enum class Before { Nothing, LongerFile, ShorterFile, Symlink, HardLink, Fifo };

struct Case {
    const char* what;
    Before before;
    std::string written;
};

class OutputFileOverTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("korvex-outfile-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path dir_;
};

TEST_P(OutputFileOverTest, HoldsExactlyWhatWasWritten) {
    const Case& c = GetParam();
    const fs::path name = dir_ / "live1.jp2";
    const fs::path victim = dir_ / "precious.txt";
    writeText(victim, "keep me, all of me");
    switch (c.before) {
        case Before::Nothing:
            break;
        case Before::LongerFile:
            writeText(name, std::string(5000, 'o'));
            break;
        case Before::ShorterFile:
            writeText(name, "o");
            break;
        case Before::Symlink:
            fs::create_symlink(victim, name);
            break;
        case Before::HardLink:
            fs::create_hard_link(victim, name);
            break;
        case Before::Fifo:
            ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
            break;
    }

    auto out = picvox::OutputFile::create(name.string());
    ASSERT_NE(out, nullptr);
    for (std::size_t at = 0; at < c.written.size(); at += 256) {
        ASSERT_TRUE(
            out->write(c.written.data() + at, std::min<std::size_t>(256, c.written.size() - at)));
    }
    ASSERT_TRUE(out->close());

    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
    EXPECT_EQ(fs::hard_link_count(name), 1u);
    EXPECT_EQ(readText(name), c.written);
    EXPECT_EQ(readText(victim), "keep me, all of me");
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputFileOverTest,
    ::testing::Values(Case{"new", Before::Nothing, "fresh"},
                      Case{"longer", Before::LongerFile, std::string(700, 'n')},
                      Case{"emptied", Before::LongerFile, ""},
                      Case{"shorter", Before::ShorterFile, std::string(300, 'n')},
                      Case{"symlink", Before::Symlink, "new picture"},
                      Case{"hardlink", Before::HardLink, "new picture"},
                      Case{"fifo", Before::Fifo, "new picture"}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.what; });

}  // namespace
