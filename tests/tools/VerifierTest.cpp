// The verifier's report: JSON strings from arbitrary bytes, and folders with awkward names.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/tools/ReportJson.h"
#include "tools/recgen/RecordingWriter.h"
#include "tools/verify/RecordingVerifier.h"

namespace {

using korvex::test::TempDir;
using korvex::verify::jsonString;
using toolstest::Json;

TEST(JsonString, AlwaysValidAndFaithfulForUtf8) {
    const struct {
        std::string in;
        std::string literal;  // expected output
        std::string back;     // what a JSON reader makes of it
    } rows[] = {
        {"plain/path.jp2", "\"plain/path.jp2\"", "plain/path.jp2"},
        // A backslash reads doubled, so that it cannot start an escape of the value's own.
        {"say \"hi\" \\ there", R"("say \"hi\" \\\\ there")", "say \"hi\" \\\\ there"},
        {"tab\tnl\ncr\r\x01\x1f\x7f", R"("tab\tnl\ncr\r\u0001\u001f\u007f")",
         "tab\tnl\ncr\r\x01\x1f\x7f"},
        {"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7",
         "\"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7\"",
         "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7"},
        // A C1 control as UTF-8 is text: escaped so that a terminal showing the JSON ignores it.
        {"csi\xC2\x9B", R"("csi\u009b")", "csi\xC2\x9B"},
        // Not UTF-8: a stray byte, a lone C1 byte, a cut sequence, an overlong form, a surrogate,
        // beyond U+10FFFF. Each byte reads \xNN in the value.
        {"a\xFF"
         "b",
         R"("a\\xffb")", R"(a\xffb)"},
        {"csi\x9B", R"("csi\\x9b")", R"(csi\x9b)"},
        {"cut\xE6\x97", R"("cut\\xe6\\x97")", R"(cut\xe6\x97)"},
        {"\xC0\x80", R"("\\xc0\\x80")", R"(\xc0\x80)"},
        {"\xED\xA0\x80", R"("\\xed\\xa0\\x80")", R"(\xed\xa0\x80)"},
        {"\xF4\x90\x80\x80", R"("\\xf4\\x90\\x80\\x80")", R"(\xf4\x90\x80\x80)"},
        {std::string("nul\0here", 8), R"("nul\u0000here")", std::string("nul\0here", 8)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.literal);
        const std::string out = jsonString(r.in);
        EXPECT_EQ(out, r.literal);
        Json v;
        ASSERT_NO_THROW(v = Json::parse(out));
        EXPECT_EQ(v.get<std::string>(), r.back);
    }
}

// Names that differ only in bytes that are not text, or in a backslash imitating an escape, never
// print as one name, in JSON or on a terminal; and a terminal gets no control (C0, DEL, C1 as a
// byte or as UTF-8) raw.
TEST(NameOutput, DifferentNamesStayDifferentAndTerminalsSeeNoControls) {
    const struct {
        std::string in;
        std::string shown;
    } rows[] = {
        {"a\xFF", R"(a\xff)"},
        {"a\xFE", R"(a\xfe)"},
        {"a\\xff", R"(a\\xff)"},
        {"a\xEF\xBF\xBD", "a\xEF\xBF\xBD"},
        {"esc\x1B[2J\x7F", R"(esc\x1b[2J\x7f)"},
        {"csi\x9B", R"(csi\x9b)"},
        {"c1 \xC2\x9B", R"(c1 \xc2\x9b)"},
        {"\xE6\x97\xA5.jp2", "\xE6\x97\xA5.jp2"},
        {"cut\xE6\x97", R"(cut\xe6\x97)"},
    };
    std::set<std::string> jsonValues;
    for (const auto& r : rows) {
        EXPECT_EQ(korvex::verify::terminalText(r.in), r.shown);
        jsonValues.insert(Json::parse(jsonString(r.in)).get<std::string>());
    }
    EXPECT_EQ(jsonValues.size(), std::size(rows));
}

TEST(VerifyReport, FolderNamesWithQuotesAndNewlinesStayValidJson) {
    TempDir tmp;
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
    const Json doc = Json::parse(korvex::verify::toJson(report));
    // The value names the folder with its backslash doubled.
    std::string value = folder;
    value.replace(value.find('\\'), 1, "\\\\");
    EXPECT_EQ(doc.at("folder").get<std::string>(), value);
    EXPECT_EQ(doc.at("frames").at(2).at("path").get<std::string>(), value + "/IMG00001/000003.jpg");
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
    EXPECT_NE(text.find("[ESC\\x1b[31m]"), std::string::npos) << text;
}

TEST(VerifyReport, RelativeFoldersAreReportedInFull) {
    TempDir tmp;
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
