// The manifest's lines as sha256sum writes and reads them, the reader's bounds against a hostile
// file, and the appender's promise: every line it wrote is true, whatever came after.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "recording/manifest/Manifest.h"
#include "tests/tools/ToolsTestSupport.h"

namespace {

namespace mf = korvex::manifest;
using toolstest::TempDir;

korvex::Sha256Digest digestOf(const std::string& s) {
    return korvex::Sha256::of({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ManifestLine, FormatAndParseRoundTrip) {
    const std::string names[] = {"IMG00001/000001.jp2",
                                 "sound.wav",
                                 "with space.jpg",
                                 "back\\slash",
                                 "line\nfeed",
                                 "carriage\rreturn",
                                 "\xE6\x97\xA5\xE6\x9C\xAC.INF"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto d = digestOf(name);
        const std::string line = mf::formatLine(d, name);
        ASSERT_EQ(line.back(), '\n');
        EXPECT_EQ(line.front() == '\\', name.find_first_of("\\\n\r") != std::string::npos);
        // One line, whatever the name holds.
        EXPECT_EQ(line.find('\n'), line.size() - 1);
        mf::Entry e;
        ASSERT_EQ(mf::parseLine(std::string_view(line).substr(0, line.size() - 1), e),
                  mf::LineKind::Entry);
        EXPECT_EQ(e.path, name);
        EXPECT_EQ(e.digest, d);
    }
}

TEST(ManifestLine, WhatOtherToolsWriteAndWhatIsRefused) {
    const std::string hex = korvex::toHex(digestOf("x"));
    const struct {
        std::string line;
        mf::LineKind kind;
        std::string path;
    } rows[] = {
        {hex + "  a/b.jp2", mf::LineKind::Entry, "a/b.jp2"},
        {hex + " *binary.jp2", mf::LineKind::Entry, "binary.jp2"},
        {hex + "  ./IMG00001//000001.jp2", mf::LineKind::Entry, "IMG00001/000001.jp2"},
        {hex + "  dos.jp2\r", mf::LineKind::Entry, "dos.jp2"},
        {"   \t", mf::LineKind::Blank, ""},
        {hex + "  /etc/passwd", mf::LineKind::Outside, ""},
        {hex + "  ../outside", mf::LineKind::Outside, ""},
        {hex + "  a/../../b", mf::LineKind::Outside, ""},
        {hex + "  .", mf::LineKind::Outside, ""},
        {hex + "  ", mf::LineKind::Malformed, ""},
        {hex + " x", mf::LineKind::Malformed, ""},
        {hex.substr(1) + "  short", mf::LineKind::Malformed, ""},
        {"SHA256 (a) = " + hex, mf::LineKind::Malformed, ""},
        {"\\" + hex + "  bad\\escape", mf::LineKind::Malformed, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        mf::Entry e;
        EXPECT_EQ(mf::parseLine(r.line, e), r.kind);
        if (r.kind == mf::LineKind::Entry) {
            EXPECT_EQ(e.path, r.path);
        }
    }
}

TEST(ManifestReader, CountsWhatIsNoEntryAndBoundsLongLines) {
    TempDir tmp;
    const std::string hex = korvex::toHex(digestOf("x"));
    std::string text = hex + "  one\n" + "garbage\n\n" + std::string(100000, 'y') + "\n" + hex +
                       "  ../up\n" + hex + "  two\n" + hex + "  thr";  // last line cut short
    writeFile(tmp / "m", text);
    mf::Reader r;
    ASSERT_EQ(r.open(tmp / "m"), 0);
    std::vector<std::string> paths;
    mf::Entry e;
    while (r.next(e))
        paths.push_back(e.path);
    // A last line without its line feed is still an entry when it is one.
    EXPECT_EQ(paths, (std::vector<std::string>{"one", "two", "thr"}));
    EXPECT_EQ(r.malformed(), 2u);
    EXPECT_EQ(r.outside(), 1u);
    EXPECT_FALSE(r.cutShort());

    writeFile(tmp / "cut", hex + "  one\n" + hex.substr(0, 20));
    ASSERT_EQ(r.open(tmp / "cut"), 0);
    paths.clear();
    while (r.next(e))
        paths.push_back(e.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"one"}));
    EXPECT_TRUE(r.cutShort());
    EXPECT_EQ(r.malformed(), 0u);
}

// The appender against the real sha256sum: names that need its escapes, files in subfolders,
// and the manifest made only with its first line.
TEST(ManifestAppender, LinesPassSha256sumAndTheFileComesWithTheFirstLine) {
    TempDir tmp;
    const std::string folder = tmp / "rec";
    std::filesystem::create_directories(folder + "/IMG00001");
    mf::Appender appender(folder);
    EXPECT_FALSE(std::filesystem::exists(folder + "/SHA256SUMS"));
    const std::vector<std::string> names = {"IMG00001/000001.jp2", "sound.wav", "odd\\name",
                                            "new\nline"};
    for (const std::string& n : names) {
        writeFile(folder + "/" + n, "bytes of " + n);
        EXPECT_EQ(appender.add(n, mf::Appender::FileSync::Needed), 0) << n;
    }
    EXPECT_EQ(appender.add("missing.jp2", mf::Appender::FileSync::Done), ENOENT);
    EXPECT_EQ(appender.add("../escape", mf::Appender::FileSync::Done), EINVAL);
    EXPECT_EQ(appender.lines(), 4);

    const auto check = toolstest::runProgram(
        "/bin/sh", {"-c", "cd \"$0\" && sha256sum -c SHA256SUMS", folder}, tmp.path());
    EXPECT_EQ(check.status, 0) << check.out << check.err;

    mf::Reader r;
    ASSERT_EQ(r.open(folder + "/SHA256SUMS"), 0);
    mf::Entry e;
    std::vector<std::string> read;
    while (r.next(e)) {
        EXPECT_EQ(e.digest, digestOf("bytes of " + e.path));
        read.push_back(e.path);
    }
    EXPECT_EQ(read, names);

    // A file changed afterwards is what sha256sum finds, not a line of ours gone wrong.
    writeFile(folder + "/sound.wav", "changed");
    EXPECT_NE(toolstest::runProgram(
                  "/bin/sh", {"-c", "cd \"$0\" && sha256sum -c SHA256SUMS", folder}, tmp.path())
                  .status,
              0);
}

}  // namespace
