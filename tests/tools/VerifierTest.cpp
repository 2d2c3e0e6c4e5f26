// The verifier's report: JSON strings from arbitrary bytes, and folders with awkward names.

#include <gtest/gtest.h>

#include "tests/tools/ToolsTestSupport.h"
#include "tools/recgen/RecordingWriter.h"
#include "tools/verify/RecordingVerifier.h"

namespace {

using korvex::verify::jsonString;
using toolstest::parseJson;

TEST(JsonString, AlwaysValidAndFaithfulForUtf8) {
    const struct {
        std::string in;
        std::string literal;  // expected output
        std::string back;     // what a JSON reader makes of it
    } rows[] = {
        {"plain/path.jp2", "\"plain/path.jp2\"", "plain/path.jp2"},
        {"say \"hi\" \\ there", R"("say \"hi\" \\ there")", "say \"hi\" \\ there"},
        {"tab\tnl\ncr\r\x01\x1f\x7f",
         R"("tab\tnl\ncr\r\u0001\u001f)"
         "\x7f\"",
         "tab\tnl\ncr\r\x01\x1f\x7f"},
        {"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7",
         "\"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7\"",
         "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7"},
        // Not UTF-8: a stray byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
        {"a\xFF"
         "b",
         R"("a\ufffdb")",
         "a\xEF\xBF\xBD"
         "b"},
        {"cut\xE6\x97", R"("cut\ufffd\ufffd")", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xC0\x80", R"("\ufffd\ufffd")", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::string("nul\0here", 8), R"("nul\u0000here")", std::string("nul\0here", 8)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.literal);
        const std::string out = jsonString(r.in);
        EXPECT_EQ(out, r.literal);
        toolstest::Json v;
        ASSERT_NO_THROW(v = parseJson(out));
        EXPECT_EQ(v.string, r.back);
    }
}

TEST(VerifyReport, FolderNamesWithQuotesAndNewlinesStayValidJson) {
    toolstest::TempDir tmp;
    const std::string folder = tmp / "odd \"name\" \\ with\nnewline \xE6\x97\xA5";
    korvex::gen::RecordingSpec spec;
    spec.pictures = korvex::PictureFormat::Jpeg;
    spec.sound = korvex::SoundFormat::None;
    spec.frames = 3;
    spec.width = 16;
    spec.height = 16;
    spec.titles = {"ESC\x1b[31m"};
    ASSERT_TRUE(korvex::gen::writeRecording(folder, spec).ok);

    korvex::verify::VerifyReport report;
    std::string error;
    ASSERT_TRUE(korvex::verify::verifyRecording(folder, report, error)) << error;
    const toolstest::Json doc = parseJson(korvex::verify::toJson(report));
    EXPECT_EQ(doc["folder"].string, folder);
    EXPECT_EQ(doc["frames"][2]["path"].string, folder + "/IMG00001/000003.jpg");
    EXPECT_EQ(korvex::verify::exitStatusOf(report.summary), 0);

    // Text mode goes to terminals: no control character from a name or title gets through.
    std::string text = korvex::verify::textHeader(report);
    for (const auto& f : report.frames)
        text += korvex::verify::textLine(f);
    for (char c : text) {
        if (c != '\n') {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20u);
        }
    }
    EXPECT_NE(text.find("[ESC?[31m]"), std::string::npos) << text;
}

TEST(VerifyReport, RelativeFoldersAreReportedInFull) {
    toolstest::TempDir tmp;
    korvex::gen::RecordingSpec spec;
    spec.pictures = korvex::PictureFormat::Jpeg;
    spec.sound = korvex::SoundFormat::None;
    spec.frames = 1;
    spec.width = 16;
    spec.height = 16;
    ASSERT_TRUE(korvex::gen::writeRecording(tmp / "rec", spec).ok);
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
    korvex::verify::VerifyReport report;
    std::string error;
    const bool ok = korvex::verify::verifyRecording("./rec/", report, error);
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(report.folder, tmp / "rec");
    EXPECT_EQ(report.frames.at(0).path, tmp / "rec/IMG00001/000001.jpg");
}

}  // namespace
