// korvex-export's command line and the frame bounds it takes.

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/TimeZone.h"
#include "viewer/export/ExportRequest.h"

namespace {

using korvex::ExportCommandLine;
using korvex::FrameBound;

class CommandLineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform::fixProcessTimeZone(); }
};

struct Accepted {
    std::vector<std::string> args;
    std::function<bool(const ExportCommandLine&)> holds;
    const char* what;
};

TEST_F(CommandLineTest, AcceptedLines) {
    const Accepted cases[] = {
        {{"rec", "out.mp4"},
         [](const ExportCommandLine& c) {
             const auto& r = c.request;
             return r.folder == "rec" && r.output == "out.mp4" && r.panes == 1 &&
                    r.channel == korvex::kDefaultChannel && r.overlay && r.marks &&
                    r.from.kind == FrameBound::Kind::None && !c.quiet && !r.overwrite;
         },
         "defaults"},
        {{"--from", "12", "--to", "2024-01-01 00:00:05", "rec", "out.mp4"},
         [](const ExportCommandLine& c) {
             return c.request.from.kind == FrameBound::Kind::Number &&
                    c.request.from.number == 12 && c.request.to.kind == FrameBound::Kind::Time;
         },
         "bounds"},
        {{"--channel", "3", "rec", "out.mp4"},
         [](const ExportCommandLine& c) { return c.request.channel == 2; },
         "channel as the CHANNEL menu names it"},
        {{"--channel", "all", "rec", "out.mp4"},
         [](const ExportCommandLine& c) { return c.request.channel == -1; },
         "every channel"},
        {{"--panes", "9", "rec", "out.mp4"},
         [](const ExportCommandLine& c) { return c.request.panes == 9; },
         "panes"},
        {{"--no-overlay", "--no-marks", "--quiet", "--force", "rec", "out.mp4"},
         [](const ExportCommandLine& c) {
             return !c.request.overlay && !c.request.marks && c.quiet && c.request.overwrite;
         },
         "switches"},
        {{"--no-marks", "--marks", "rec", "out.mp4"},
         [](const ExportCommandLine& c) { return c.request.marks; },
         "the last of two wins"},
        {{"--size", "1280x960", "rec", "out.mp4"},
         [](const ExportCommandLine& c) {
             return c.request.width == 1280 && c.request.height == 960;
         },
         "size"},
        {{"--", "-rec", "out.mp4"},
         [](const ExportCommandLine& c) { return c.request.folder == "-rec"; },
         "a folder named like an option after --"},
        {{"--help"}, [](const ExportCommandLine& c) { return c.help; }, "help needs no folder"},
    };
    for (const Accepted& a : cases) {
        ExportCommandLine line;
        std::string error;
        ASSERT_TRUE(korvex::parseExportArguments(a.args, line, error)) << a.what << ": " << error;
        EXPECT_TRUE(a.holds(line)) << a.what;
    }
}

TEST_F(CommandLineTest, RefusedLinesSayWhy) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "no FOLDER"},
        {{"rec"}, "no OUT.mp4"},
        {{"rec", "a.mp4", "b.mp4"}, "more than one"},
        {{"--from", "0", "rec", "out.mp4"}, "1 or more"},
        {{"--from", "yesterday", "rec", "out.mp4"}, "neither a frame number"},
        {{"--to", "2024-02-30 00:00:00", "rec", "out.mp4"}, "neither a frame number"},
        {{"--to", "2024-01-01T00:00:00", "rec", "out.mp4"}, "neither a frame number"},
        {{"--channel", "17", "rec", "out.mp4"}, "1 to 16"},
        {{"--channel", "0", "rec", "out.mp4"}, "1 to 16"},
        {{"--panes", "5", "rec", "out.mp4"}, "1, 4, 9 or 16"},
        {{"--channel", "2", "--panes", "4", "rec", "out.mp4"}, "give one of them"},
        {{"--size", "641x480", "rec", "out.mp4"}, "even sides"},
        {{"--size", "8x8", "rec", "out.mp4"}, "even sides"},
        {{"--from"}, "needs a value"},
        {{"--fast", "rec", "out.mp4"}, "unknown option --fast"},
    };
    for (const auto& [args, why] : cases) {
        ExportCommandLine line;
        std::string error;
        EXPECT_FALSE(korvex::parseExportArguments(args, line, error)) << why;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
}

TEST_F(CommandLineTest, ATimeIsTheRecordersClock) {
    FrameBound bound;
    std::string error;
    ASSERT_TRUE(korvex::parseFrameBound("2024-01-01 09:00:05", bound, error)) << error;
    ASSERT_EQ(bound.kind, FrameBound::Kind::Time);
    // The recorders keep UTC+9: nine in the morning there is midnight UTC.
    EXPECT_EQ(bound.time, 1704067205);
    const std::time_t t = static_cast<std::time_t>(bound.time);
    std::tm tm{};
    ASSERT_NE(::localtime_r(&t, &tm), nullptr);
    EXPECT_EQ(tm.tm_hour, 9);
}

TEST(ExportSize, FourByThreeFromThePictureWidth) {
    const struct {
        int pictureWidth, panes, width, height;
    } cases[] = {{704, 1, 704, 528}, {352, 1, 352, 264},    {721, 1, 720, 540},
                 {0, 1, 640, 480},   {100, 1, 160, 120},    {9000, 1, 4096, 3072},
                 {352, 4, 704, 528}, {352, 16, 1408, 1056}, {704, 9, 1920, 1440}};
    for (const auto& c : cases) {
        int w = 0, h = 0;
        korvex::defaultExportSize(c.pictureWidth, c.panes, w, h);
        EXPECT_EQ(w, c.width) << c.pictureWidth << " in " << c.panes;
        EXPECT_EQ(h, c.height) << c.pictureWidth << " in " << c.panes;
        EXPECT_EQ(w % 2 + h % 2, 0);
    }
}

}  // namespace
