#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class FileSystemTest : public ::testing::Test {
protected:
    void touch(const fs::path& p, const std::string& body = "x") {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << body;
    }
    korvex::test::TempDir dir_{"korvex-fs"};
    const fs::path root_ = dir_.path();
};

TEST_F(FileSystemTest, FindsNamesWhateverTheirCase) {
    touch(root_ / "Sound" / "SOUND.WAV");
    EXPECT_EQ(platform::findFileNoCase(root_.string(), "SOUND/sound.wav"),
              (root_ / "Sound" / "SOUND.WAV").string());
    EXPECT_EQ(platform::findFileNoCase(root_.string(), "sound.wav"), "");
    // A directory never answers a file look-up.
    EXPECT_EQ(platform::findFileNoCase(root_.string(), "sound"), "");
}

TEST_F(FileSystemTest, ExtensionMatchIgnoresCaseAndSkipsDirectories) {
    touch(root_ / "a.JPG");
    touch(root_ / "b.jpg");
    touch(root_ / "c.jpgx");
    touch(root_ / "noext");
    fs::create_directories(root_ / "d.jpg");
    std::vector<std::string> got;
    ASSERT_TRUE(platform::forEachFileWithExtension(root_.string(), "jpg", [&](std::string p) {
        got.push_back(fs::path(p).filename().string());
        return true;
    }));
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"a.JPG", "b.jpg"}));
    EXPECT_FALSE(platform::forEachFileWithExtension((root_ / "missing").string(), "jpg",
                                                    [](std::string) { return true; }));
}

TEST_F(FileSystemTest, CaseInsensitiveOrderAndPaths) {
    EXPECT_LT(platform::compareNoCase("img00001", "IMG00002"), 0);
    EXPECT_EQ(platform::compareNoCase("ABC", "abc"), 0);
    EXPECT_LT(platform::compareNoCase("ab", "abc"), 0);
    EXPECT_EQ(platform::joinPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(platform::joinPath("/a", "b"), "/a/b");
}

TEST_F(FileSystemTest, ReadWholeFileHonoursItsBound) {
    touch(root_ / "f", std::string(100, 'z'));
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(platform::readWholeFile((root_ / "f").string(), bytes, 100));
    EXPECT_EQ(bytes.size(), 100u);
    EXPECT_FALSE(platform::readWholeFile((root_ / "f").string(), bytes, 99));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(platform::readWholeFile((root_ / "none").string(), bytes));
    EXPECT_EQ(platform::fileSize((root_ / "f").string()), 100);
    EXPECT_EQ(platform::fileSize(root_.string()), -1);
}

// Whatever a hostile folder holds where a file is expected, the open returns at once (a plain
// open of a FIFO without a writer blocks for ever) and takes only a regular file.
TEST_F(FileSystemTest, OutsideFilesOpenWithoutBlockingAndOnlyWhenRegular) {
    touch(root_ / "regular", "abc");
    ASSERT_EQ(::mkfifo((root_ / "fifo").c_str(), 0600), 0);
    fs::create_symlink(root_ / "fifo", root_ / "link-to-fifo");
    const struct {
        std::string path;
        int error;  // 0: opens
    } cases[] = {
        {(root_ / "regular").string(), 0},
        {(root_ / "fifo").string(), platform::kNotRegularFile},
        {(root_ / "link-to-fifo").string(), platform::kNotRegularFile},
        {"/dev/null", platform::kNotRegularFile},
        {root_.string(), EISDIR},
        {(root_ / "missing").string(), ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        long long size = -2;
        const int fd = platform::openRegularFile(c.path, &size);
        EXPECT_EQ(fd >= 0 ? 0 : errno, c.error);
        EXPECT_EQ(size, c.error == 0 ? 3 : -1);
        if (fd >= 0) {
            // Reads block as usual, and the descriptor does not leak into child programs.
            EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
            EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
            ::close(fd);
        }
        std::vector<unsigned char> bytes{1};
        EXPECT_EQ(platform::readWholeFile(c.path, bytes) ? 0 : errno, c.error);
        EXPECT_EQ(bytes.size(), c.error == 0 ? 3u : 0u);
    }
}

}  // namespace
