// What an export writes beside the video, and how it reports progress.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/tools/ReportJson.h"
#include "tests/tools/ToolsTestSupport.h"
#include "viewer/export/ProgressPrinter.h"
#include "viewer/export/Sha256.h"
#include "viewer/export/SideCar.h"

namespace {

using toolstest::Json;

Json parsed(const std::string& text) {
    Json j;
    EXPECT_NO_THROW(j = toolstest::Json::parse(text)) << text;
    return j;
}

TEST(SideCar, IsJsonNamingTheSourceAndItsManifest) {
    korvex::SideCar s;
    s.version = "2.1.5";
    s.created = "2026-01-01T00:00:00Z";
    s.sourceFolder = "/rec/odd \"name\"\\\x01\xff";
    s.kind = "jp2wav";
    s.manifestPath = "/rec/SHA256SUMS";
    s.manifestSha256 = std::string(64, 'a');
    s.output = "out.mp4";
    s.outputSha256 = std::string(64, 'b');
    s.first = {1, "/rec/IMG00001/000001.jp2", "2024-01-01 00:00:00", 0, 0};
    s.last = {50, "/rec/IMG00001/000050.jp2", "", 0, 7};
    s.pictures = 50;
    s.durationMs = 5000;
    s.from = "1";
    const Json j = parsed(korvex::sideCarJson(s));
    EXPECT_EQ(j.at("source").at("folder").get<std::string>(), "/rec/odd \"name\"\\\\\x01\\xff");
    EXPECT_EQ(j.at("source").at("manifest").at("sha256").get<std::string>(), s.manifestSha256);
    EXPECT_EQ(j.at("first").at("number").get<long long>(), 1);
    EXPECT_EQ(j.at("first").at("time").get<std::string>(), "2024-01-01 00:00:00");
    EXPECT_TRUE(j.at("last").at("time").is_null());
    EXPECT_EQ(j.at("last").at("flags").get<long long>(), 7);
    EXPECT_TRUE(j.at("options").at("to").is_null());
    EXPECT_EQ(j.at("video").at("sha256").get<std::string>(), s.outputSha256);
    EXPECT_TRUE(j.at("video").at("sound").is_null());

    s.manifestPath.clear();
    EXPECT_TRUE(parsed(korvex::sideCarJson(s)).at("source").at("manifest").is_null());
}

TEST(SideCar, ChecksumLineAsSha256sumWritesIt) {
    const std::string hex(64, 'c');
    EXPECT_EQ(korvex::sha256SumLine(hex, "out.mp4"), hex + "  out.mp4\n");
    // sha256sum marks a line whose name needs escapes with a leading backslash.
    EXPECT_EQ(korvex::sha256SumLine(hex, "a\\b\nc.mp4"), "\\" + hex + "  a\\\\b\\nc.mp4\n");
}

TEST(Sha256, KnownDigestsInPieces) {
    korvex::Sha256 sha;
    sha.update("a", 1);
    sha.update("bc", 2);
    EXPECT_EQ(sha.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // It starts again after a digest.
    EXPECT_EQ(sha.hexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    toolstest::TempDir dir;
    std::string big(3 << 20, 'x');
    {
        std::FILE* f = std::fopen((dir / "big").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(big.data(), 1, big.size(), f);
        std::fclose(f);
    }
    korvex::Sha256 whole;
    whole.update(big.data(), big.size());
    std::string hex;
    int error = 0;
    ASSERT_TRUE(korvex::sha256OfFile(dir / "big", hex, error));
    EXPECT_EQ(hex, whole.hexDigest());
    EXPECT_FALSE(korvex::sha256OfFile(dir / "missing", hex, error));
    EXPECT_EQ(error, ENOENT);
}

// What a printer writes when the test moves its clock.
std::string run(bool terminal, bool quiet,
                const std::function<void(korvex::ProgressPrinter&, std::int64_t&)>& steps) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    std::int64_t now = 0;
    {
        korvex::ProgressPrinter p(out, terminal, quiet, "korvex-export", [&now] { return now; });
        steps(p, now);
    }
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(ProgressPrinter, LinesForALogBarForATerminalNothingWhenQuiet) {
    auto steps = [](korvex::ProgressPrinter& p, std::int64_t& now) {
        p.step("indexing rec");
        for (int i = 1; i <= 100; ++i) {
            now += 100;  // ten seconds in all
            p.frames(i, 100);
        }
    };
    const std::string lines = run(false, false, steps);
    // The first frame, one line each five seconds, and the last.
    EXPECT_EQ(lines,
              "korvex-export: indexing rec\n"
              "korvex-export: 1/100 frames (1%)\n"
              "korvex-export: 51/100 frames (51%)\n"
              "korvex-export: 100/100 frames (100%)\n");

    const std::string bar = run(true, false, steps);
    EXPECT_EQ(bar.find('\n'), std::string("korvex-export: indexing rec").size());
    EXPECT_NE(bar.find("\rkorvex-export: [########################] 100%  100/100 frames"),
              std::string::npos);
    EXPECT_NE(bar.find("fps"), std::string::npos);
    EXPECT_EQ(bar.back(), '\n');  // the bar's line is ended

    EXPECT_EQ(run(true, true, steps), "");
}

TEST(ProgressPrinter, BarText) {
    EXPECT_EQ(korvex::ProgressPrinter::barText(0, 10, 0),
              "[........................]   0%  0/10 frames");
    EXPECT_EQ(korvex::ProgressPrinter::barText(5, 10, 1000),
              "[############............]  50%  5/10 frames  5 fps  0:01 left");
    EXPECT_TRUE(korvex::ProgressPrinter::barText(1, 7201, 1000).ends_with("  1 fps  2:00:00 left"));
}

}  // namespace
