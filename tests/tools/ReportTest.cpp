// The verification report a person reads: its verdict and frame list for each kind of damage,
// the HTML page free of any reference outside itself with its data's digest true, and the PDF
// read back as text with its data attached.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "recording/manifest/Sha256.h"
#include "tests/tools/ReportJson.h"
#include "tests/tools/ToolsTestSupport.h"

namespace {

using namespace toolstest;

std::string sha256Hex(const std::string& s) {
    return korvex::toHex(
        korvex::Sha256::of({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}));
}

struct Page {
    std::string html;
    std::string data;  // the embedded JSON's bytes
    Json doc;
};

Page readPage(const std::string& path) {
    Page p;
    p.html = readText(path);
    const std::string open = "<script type=\"application/json\" id=\"report-data\">";
    const std::size_t a = p.html.find(open);
    const std::size_t b = p.html.find("</script>", a);
    EXPECT_NE(a, std::string::npos);
    if (a == std::string::npos || b == std::string::npos)
        return p;
    p.data = p.html.substr(a + open.size(), b - a - open.size());
    p.doc = Json::parse(p.data);
    return p;
}

// Nothing in the page reaches outside it: no URL, no link, no stylesheet or script from
// elsewhere, every picture inline.
void expectSelfContained(const std::string& html) {
    for (const std::regex& outside :
         {std::regex("https?:", std::regex::icase), std::regex("href\\s*=", std::regex::icase),
          std::regex("url\\s*\\(", std::regex::icase), std::regex("@import", std::regex::icase),
          std::regex("src\\s*=\\s*\"(?!data:)", std::regex::icase),
          std::regex("<(link|iframe|object|embed)", std::regex::icase)}) {
        EXPECT_FALSE(std::regex_search(html, outside));
    }
}

struct DamageCase {
    const char* damage;  // korvex-mkrec --damage KIND, or "" for none
    int status;
    int flags;  // of the damaged frame
    const char* headline;
};

class ReportPerDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ReportPerDamage, VerdictAndFrameList) {
    const DamageCase& c = GetParam();
    TempDir tmp;
    const std::string folder = tmp / "rec";
    std::vector<std::string> args = {"--quiet", "--kind",   "jp2wav",    "--frames",
                                     "8",       "--size",   "64x48",     "--channels",
                                     "2",       "--titles", "GATE,YARD", folder};
    if (*c.damage)
        args.insert(args.begin(), {"--damage", std::string("3:") + c.damage});
    ASSERT_EQ(runProgram(programFromEnv("KORVEX_MKREC"), args, tmp.path()).status, 0);
    const std::string out = tmp / "report.html";
    const RunResult run =
        runProgram(programFromEnv("KORVEX_VERIFY"), {"--report", out, folder}, tmp.path());
    EXPECT_EQ(run.status, c.status) << run.err;
    const Page page = readPage(out);
    expectSelfContained(page.html);
    const Json& verdict = page.doc.at("verdict");
    EXPECT_EQ(verdict.at("status").get<long long>(), c.status);
    EXPECT_EQ(verdict.at("headline").get<std::string>().rfind(c.headline, 0), 0u)
        << verdict.at("headline").get<std::string>();
    // The verdict comes first on the page, before the recording's facts.
    EXPECT_LT(page.html.find("class=\"verdict"), page.html.find("<h2>Recording"));

    const Json& altered = page.doc.at("altered");
    if (c.status == 0) {
        EXPECT_EQ(altered.at("total").get<long long>(), 0);
        EXPECT_NE(page.html.find("None."), std::string::npos);
    } else {
        ASSERT_EQ(altered.at("listed").size(), 1u);
        const Json& f = altered.at("listed").at(0);
        EXPECT_EQ(f.at("index").get<long long>(), 3);
        EXPECT_EQ(f.at("file").get<std::string>(), "IMG00001/000004.jp2");
        EXPECT_EQ(f.at("channel").get<long long>(), 1);
        EXPECT_EQ(f.at("flags").get<long long>(), c.flags);
        // The thumbnail with its banner.
        EXPECT_FALSE(f.at("thumbnail").is_null());
        EXPECT_NE(page.html.find("data:image/jpeg;base64,"), std::string::npos);
        EXPECT_NE(page.html.find(c.flags & 1 ? "IMAGE ALTERED" : "TIME ALTERED"),
                  std::string::npos);
    }
    // The recording's facts: both channels with their titles and frames, the sound's length.
    ASSERT_EQ(page.doc.at("channels").size(), 2u);
    EXPECT_EQ(page.doc.at("channels").at(1).at("title").get<std::string>(), "YARD");
    EXPECT_EQ(page.doc.at("channels").at(1).at("frames").get<long long>(), 4);
    EXPECT_GT(page.doc.at("recording").at("soundSeconds").get<double>(), 0.5);
    // About the report: what made it, when, and in which zone its times are read.
    EXPECT_EQ(page.doc.at("timeZone").get<std::string>(), "UTC+09:00");
    EXPECT_EQ(page.doc.at("commandLine").size(), 4u);
    EXPECT_NE(page.html.find(sha256Hex(page.data)), std::string::npos)
        << "the page shows the digest of its embedded data";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReportPerDamage,
                         ::testing::Values(DamageCase{"", 0, 0, "Intact"},
                                           DamageCase{"coded", 1, 3, "Altered"},
                                           DamageCase{"time", 1, 2, "Altered"},
                                           DamageCase{"cut", 1, 7, "Altered"},
                                           DamageCase{"none", 1, 7, "Altered"}),
                         [](const auto& info) {
                             return std::string(*info.param.damage ? info.param.damage : "intact");
                         });

// A folder that no longer matches its manifest, named in words first, with the changed file.
TEST(Report, ManifestMismatchIsTheVerdict) {
    TempDir tmp;
    const std::string folder = tmp / "rec";
    ASSERT_EQ(runProgram(programFromEnv("KORVEX_MKREC"),
                         {"--quiet", "--kind", "jpeg", "--frames", "4", "--size", "32x24", folder},
                         tmp.path())
                  .status,
              0);
    ASSERT_EQ(
        runProgram(programFromEnv("KORVEX_VERIFY"), {"--manifest", folder}, tmp.path()).status, 0);
    std::ofstream(folder + "/IMG00001/added.txt") << "x";
    const std::string out = tmp / "r.html";
    EXPECT_EQ(
        runProgram(programFromEnv("KORVEX_VERIFY"), {"--report", out, folder}, tmp.path()).status,
        4);
    const Page page = readPage(out);
    EXPECT_EQ(
        page.doc.at("verdict").at("headline").get<std::string>().rfind("Manifest mismatches", 0),
        0u);
    EXPECT_EQ(page.doc.at("manifest").at("addedFiles").at(0).get<std::string>(),
              "IMG00001/added.txt");
    EXPECT_NE(page.html.find("IMG00001/added.txt"), std::string::npos);
}

// The PDF, read back as text, tells the verdict and the counts; its attachment is the report's
// data, whose digest the PDF prints.
TEST(Report, PdfReadsBackWithItsVerdictCountsAndData) {
    TempDir tmp;
    const std::string folder = tmp / "rec";
    ASSERT_EQ(runProgram(programFromEnv("KORVEX_MKREC"),
                         {"--quiet", "--kind", "jp2mp3", "--frames", "6", "--size", "64x48",
                          "--damage", "1:coded,4:time", folder},
                         tmp.path())
                  .status,
              0);
    const std::string pdf = tmp / "report.pdf";
    const RunResult run = runProgram(programFromEnv("KORVEX_VERIFY"),
                                     {"--quiet", "--report", pdf, folder}, tmp.path());
    ASSERT_EQ(run.status, 1) << run.err;
    const RunResult text = runProgram("/usr/bin/pdftotext", {pdf, "-"}, tmp.path());
    ASSERT_EQ(text.status, 0) << text.err;
    // Words may wrap anywhere in the layout: compare without line breaks.
    std::string flat;
    for (const char ch : text.out)
        flat += ch == '\n' ? ' ' : ch;
    EXPECT_NE(flat.find("Altered: 2 frames altered"), std::string::npos) << flat;
    EXPECT_NE(flat.find("of 6 frames"), std::string::npos) << flat;
    EXPECT_NE(flat.find("IMG00001/000002.jp2"), std::string::npos);
    EXPECT_NE(flat.find("IMAGE ALTERED"), std::string::npos);
    EXPECT_NE(flat.find("UTC+09:00"), std::string::npos);

    const RunResult detach =
        runProgram("/usr/bin/pdfdetach", {"-save", "1", "-o", tmp / "data.json", pdf}, tmp.path());
    ASSERT_EQ(detach.status, 0) << detach.err;
    const std::string data = readText(tmp.path() / "data.json");
    EXPECT_EQ(Json::parse(data).at("summary").at("pictureAltered").get<long long>(), 1);
    EXPECT_NE(flat.find(sha256Hex(data)), std::string::npos) << "the PDF prints its data's digest";
}

TEST(Report, RefusesANameThatIsNeitherHtmlNorPdf) {
    TempDir tmp;
    const RunResult run = runProgram(programFromEnv("KORVEX_VERIFY"),
                                     {"--report", tmp / "report.txt", tmp / "rec"}, tmp.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(".html"), std::string::npos);
}

}  // namespace
