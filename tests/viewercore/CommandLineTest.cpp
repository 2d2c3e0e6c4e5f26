#include "viewer/shell/core/CommandLine.h"

#include <gtest/gtest.h>

using korvex::LaunchOptions;
using korvex::parseCommandLine;

TEST(CommandLine, CheckSwitchSpellings) {
    struct Row {
        const char* arg;
        bool check;
    };
    const Row rows[] = {
        {"/check", true}, {"-check", true},   {"/CHECK", true},  {"-ChEcK", true},
        {"check", false}, {"/checks", false}, {"-chec", false},  {"/", false},
        {"", false},      {"//check", false}, {"+check", false}, {"/ check", false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(korvex::isCheckSwitch(r.arg), r.check) << r.arg;
        EXPECT_EQ(parseCommandLine({r.arg}).checkMode, r.check || std::string(r.arg) == "--check")
            << r.arg;
    }
    EXPECT_TRUE(parseCommandLine({"--check"}).checkMode);
}

TEST(CommandLine, PlainArgumentsAndPaths) {
    // "check" alone is a document argument, not a switch.
    LaunchOptions o = parseCommandLine({"check"});
    EXPECT_FALSE(o.checkMode);
    EXPECT_EQ(o.folder, "check");

    // Absolute paths start with '/' but are not switches.
    o = parseCommandLine({"/home/user/rec", "/check", "/data"});
    EXPECT_TRUE(o.checkMode);
    EXPECT_EQ(o.folder, "/home/user/rec");
    ASSERT_EQ(o.extraArguments.size(), 1u);
    EXPECT_EQ(o.extraArguments[0], "/data");

    o = parseCommandLine({"-x", "--verbose", "rec"});
    EXPECT_EQ(o.unknownSwitches, (std::vector<std::string>{"-x", "--verbose"}));
    EXPECT_EQ(o.folder, "rec");
    EXPECT_TRUE(o.error.empty());
}

TEST(CommandLine, HelpAndVersion) {
    for (const char* arg : {"-h", "--help", "--HELP"}) {
        const LaunchOptions o = parseCommandLine({"rec", arg});
        EXPECT_TRUE(o.help) << arg;
        EXPECT_TRUE(o.unknownSwitches.empty()) << arg;
    }
    EXPECT_TRUE(parseCommandLine({"--version"}).version);
    EXPECT_FALSE(parseCommandLine({"/h"}).help);  // an absolute path, not a switch
    const std::string usage = korvex::usageText();
    for (const char* option : {"/check", "--screenshot", "--frame", "--panes", "--help"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(CommandLine, ScreenshotOptions) {
    LaunchOptions o = parseCommandLine(
        {"--screenshot", "out.png", "--frame", "12", "--panes", "9", "--check", "rec"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.screenshotPath, "out.png");
    EXPECT_EQ(o.screenshotFrame, 12);
    EXPECT_EQ(o.screenshotPanes, 9);
    EXPECT_TRUE(o.checkMode);
    EXPECT_EQ(o.folder, "rec");

    for (const auto& bad : std::vector<std::vector<std::string>>{{"--screenshot"},
                                                                 {"--frame", "0"},
                                                                 {"--frame", "x1"},
                                                                 {"--panes", "5"},
                                                                 {"--panes", ""}}) {
        EXPECT_FALSE(parseCommandLine(bad).error.empty()) << bad[0];
    }
}

TEST(CommandLine, AScreenshotWithoutADisplayGoesOffscreen) {
    const korvex::LaunchOptions shot = korvex::parseCommandLine({"--screenshot", "a.png", "rec"});
    const korvex::LaunchOptions window = korvex::parseCommandLine({"rec"});
    const struct {
        const korvex::LaunchOptions& options;
        const char* display;
        const char* wayland;
        const char* platform;
        bool offscreen;
    } rows[] = {
        {shot, nullptr, nullptr, nullptr, true},
        {shot, "", "", "", true},  // set but empty is no display either
        {shot, ":0", nullptr, nullptr, false},
        {shot, nullptr, "wayland-0", nullptr, false},
        {shot, nullptr, nullptr, "minimal", false},  // the user's choice stands
        {window, nullptr, nullptr, nullptr, false},  // a window needs a screen: Qt says so
    };
    for (const auto& r : rows) {
        EXPECT_EQ(korvex::screenshotNeedsOffscreen(r.options, r.display, r.wayland, r.platform),
                  r.offscreen)
            << (r.display ? r.display : "-") << " " << (r.wayland ? r.wayland : "-") << " "
            << (r.platform ? r.platform : "-");
    }
}
