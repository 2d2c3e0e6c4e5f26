// The host's command line, its reading of the control's page elements, its numbers, and what it
// says a Start lacks.
#include <gtest/gtest.h>

#include <functional>

#include "control/run/PageInput.h"
#include "tools/host/ControlHandle.h"
#include "tools/host/HostOptions.h"
#include "tools/host/PageText.h"
#include "tools/host/StartCheck.h"

using namespace picvoxhost;

namespace {

struct BadArguments {
    std::vector<std::string> args;
    std::string named;  // what the error must name
};

class HostArgumentErrors : public ::testing::TestWithParam<BadArguments> {};

TEST_P(HostArgumentErrors, NameWhatIsWrong) {
    const ParsedArguments parsed = parseHostArguments(GetParam().args);
    ASSERT_FALSE(parsed.error.empty());
    EXPECT_NE(parsed.error.find(GetParam().named), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostArgumentErrors,
    ::testing::Values(
        BadArguments{{"--bogus"}, "--bogus"}, BadArguments{{"--set", "CacheTime"}, "CacheTime"},
        BadArguments{{"--set", "=5"}, "=5"}, BadArguments{{"--set"}, "--set"},
        BadArguments{{"--size", "720"}, "720"}, BadArguments{{"--size", "10x480"}, "10x480"},
        BadArguments{{"--size", "720x480x3"}, "720x480x3"},
        BadArguments{{"--run-seconds", "0"}, "--run-seconds"},
        BadArguments{{"--run-seconds", "5s"}, "5s"}, BadArguments{{"--run-seconds", "-1"}, "-1"},
        BadArguments{{"--demo=film"}, "film"}, BadArguments{{"--screenshot"}, "--screenshot"},
        BadArguments{{"--register", "--unregister"}, "--unregister"},
        BadArguments{{"--user"}, "--user"}, BadArguments{{"--password-file", "pw"}, "--user"},
        BadArguments{{"--trust-certificate", "abcd"}, "abcd"},
        BadArguments{{"--trust-certificate", std::string(64, 'g')}, "--trust-certificate"},
        BadArguments{{"--forget-certificate", "dvr.local"}, "HOST:PORT"}));

TEST(HostArguments, LoginAndCertificateOptions) {
    std::string colons;
    for (int i = 0; i < 32; ++i)
        colons += std::string(i ? ":" : "") + "A" + std::to_string(i % 10);
    std::string plain;
    for (int i = 0; i < 32; ++i)
        plain += "a" + std::to_string(i % 10);
    const ParsedArguments parsed =
        parseHostArguments({"--user", "admin", "--password-file", "/run/pw",
                            "--trust-certificate=" + colons, "--forget-certificate", "[::1]:443"});
    ASSERT_TRUE(parsed.error.empty()) << parsed.error;
    EXPECT_EQ(parsed.options.user, "admin");
    EXPECT_EQ(parsed.options.passwordFile, "/run/pw");
    // Kept as sha256sum prints it, whatever the spelling given.
    EXPECT_EQ(parsed.options.trustCertificate, plain);
    EXPECT_EQ(parsed.options.forgetCertificate, "[::1]:443");
    const std::string usage = hostUsage();
    for (const char* option : {"--user", "--password-file", "--trust-certificate",
                               "--forget-certificate", "PICVOX_PASSWORD"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(HostArguments, SettingsKeepTheirOrderAndValuesMayHoldEquals) {
    const ParsedArguments parsed = parseHostArguments(
        {"--set", "Location=http://h/a?b=c", "--set=hdd_save=1", "--set", "model="});
    ASSERT_TRUE(parsed.error.empty()) << parsed.error;
    const auto& s = parsed.options.settings;
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].name, "Location");
    EXPECT_EQ(s[0].value, "http://h/a?b=c");
    EXPECT_EQ(s[1].name, "hdd_save");
    EXPECT_EQ(s[1].value, "1");
    EXPECT_EQ(s[2].value, "");
}

TEST(HostArguments, DemoModeIsOptionalAndOnlyTakesModeNames) {
    struct Case {
        std::vector<std::string> args;
        DemoMode mode;
        bool headless;
    };
    for (const Case& c : {Case{{"--demo"}, DemoMode::Save, false},
                          Case{{"--demo", "download"}, DemoMode::Download, false},
                          Case{{"--demo", "--headless"}, DemoMode::Save, true},
                          Case{{"--demo=live", "--headless"}, DemoMode::Live, true},
                          Case{{"--headless", "--demo", "pictures"}, DemoMode::Pictures, true}}) {
        const ParsedArguments parsed = parseHostArguments(c.args);
        ASSERT_TRUE(parsed.error.empty()) << parsed.error;
        EXPECT_EQ(parsed.options.demo, c.mode) << c.args[0];
        EXPECT_EQ(parsed.options.headless, c.headless) << c.args[0];
    }
    const ParsedArguments sized = parseHostArguments({"--size", "320x200"});
    EXPECT_EQ(sized.options.width, 320);
    EXPECT_EQ(sized.options.height, 200);
}

// What the control writes into its page comes back as the name and value it meant, whatever
// the value holds.
TEST(PageElements, TheControlsElementsReadBack) {
    using picvox::run::FormatInputElement;
    using picvox::run::InputTemplate;
    const std::pair<std::string, std::string> cases[] = {
        {"save_timer_counter", "00:00:05"},
        {"save_folder", "/home/a \"b\" <c> & d/TRM00001"},
        {"save_folder", ""},
        {"名前", "ビデオ/録画"},
    };
    for (const auto& [name, value] : cases) {
        for (InputTemplate kind : {InputTemplate::Counter, InputTemplate::Folder}) {
            const auto html = FormatInputElement(kind, name, value);
            ASSERT_TRUE(html);
            const auto element = parseInputElement(*html);
            ASSERT_TRUE(element) << *html;
            EXPECT_EQ(element->name, name);
            EXPECT_EQ(element->value, value);
        }
    }
}

TEST(PageElements, OtherSpellingsAndBrokenElements) {
    struct Case {
        const char* html;
        bool ok;
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"<input name='a' value=b>", true, "a", "b"},
        {"  <INPUT\tVALUE=\"x&#65;&#x42;\" Name=\"n\" READONLY>", true, "n", "xAB"},
        {"<INPUT NAME=\"n\">", true, "n", ""},
        {"<INPUT NAME=\"n\" VALUE=\"a&unknown;b&\">", true, "n", "a&unknown;b&"},
        {"<INPUT NAME=\"n\" VALUE=\"&#0;&#x110000;\">", true, "n", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"<INPUTX NAME=\"n\">", false, "", ""},
        {"<DIV NAME=\"n\">", false, "", ""},
        {"<INPUT VALUE=\"v\">", false, "", ""},
        {"<INPUT NAME=\"n\" VALUE=\"cut", false, "", ""},
        {"INPUT NAME=n", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        const auto element = parseInputElement(c.html);
        ASSERT_EQ(element.has_value(), c.ok) << c.html;
        if (c.ok) {
            EXPECT_EQ(element->name, c.name) << c.html;
            EXPECT_EQ(element->value, c.value) << c.html;
        }
    }
}

TEST(PageElements, OneLinePerElementAndMessage) {
    EXPECT_EQ(messageLine("Tessaly", "done.\n2024/01/02 03:04:05"),
              "message Tessaly: done.\\n2024/01/02 03:04:05");
    EXPECT_EQ(messageLine("a\r\nb", "x\ry"), "message a\\nb: x\\ny");
    EXPECT_EQ(elementLine({"save_folder", "/x\ny"}), "element save_folder /x\\ny");
    EXPECT_EQ(statusLine("no sound device\r\nretrying"), "status no sound device\\nretrying");
    // A cleared status is the word alone.
    EXPECT_EQ(statusLine(""), "status");
}

// What the window says before refusing Start, for the mode the properties choose.
TEST(StartCheck, NamesWhatARunLacks) {
    const StartSettings live{"http://dvr/index.html", "live.jp2", "live.wav", 5000, 0, 0, 0, 0};
    struct Case {
        const char* what;
        std::function<void(StartSettings&)> change;
        std::vector<std::string> named;  // empty: it starts
    };
    const Case cases[] = {
        {"live", [](StartSettings&) {}, {}},
        {"nothing set",
         [](StartSettings& s) { s = StartSettings{}; },
         {"no Location", "no ImageFileURL", "no WaveFileURL", "CacheTime 0"}},
        {"no sound URL", [](StartSettings& s) { s.waveUrl.clear(); }, {"no WaveFileURL"}},
        {"cache too short", [](StartSettings& s) { s.cacheTimeMs = 1999; }, {"CacheTime 1999"}},
        {"cache at its ends", [](StartSettings& s) { s.cacheTimeMs = 30000; }, {}},
        {"cache too long", [](StartSettings& s) { s.cacheTimeMs = 30001; }, {"CacheTime 30001"}},
        {"save without a time", [](StartSettings& s) { s.hddSave = 1; }, {"save_time 0"}},
        // Saving pictures only plays no sound: no sound URL, no cache time.
        {"pictures only",
         [](StartSettings& s) {
             s.hddSave = 1;
             s.pictureIntervalMs = 500;
             s.saveTimeSeconds = 10;
             s.waveUrl.clear();
             s.cacheTimeMs = 0;
         },
         {}},
        // The recorded-stretch download fetches its sound file, and plays nothing.
        {"download",
         [](StartSettings& s) {
             s.hddSave = 2;
             s.saveTimeSeconds = 10;
             s.waveUrl.clear();
             s.cacheTimeMs = 0;
         },
         {"no WaveFileURL"}},
        {"folder choice without a cache time",
         [](StartSettings& s) {
             s.destinationSW = 1;
             s.cacheTimeMs = 0;
         },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartSettings s = live;
        c.change(s);
        const std::vector<std::string> problems = startProblems(s);
        ASSERT_EQ(problems.size(), c.named.size());
        for (std::size_t i = 0; i < problems.size(); ++i)
            EXPECT_EQ(problems[i].rfind(c.named[i], 0), 0u) << problems[i];
        const std::string refusal = startRefusal(problems);
        EXPECT_EQ(refusal.empty(), c.named.empty());
        EXPECT_EQ(startHint(problems).empty(), c.named.empty());
        if (!refusal.empty()) {
            EXPECT_EQ(refusal.rfind("Not started: ", 0), 0u);
            EXPECT_EQ(startHint(problems).rfind("Cannot start yet: ", 0), 0u);
        }
    }
}

TEST(PropertyNumbers, Int32Range) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"-1", -1},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"0xFF00FF", 0xFF00FF},
        {"0xFFFFFFFF", -1},
        {"0x100000000", std::nullopt},
        {"-0x1", std::nullopt},
        {"12abc", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"+1", std::nullopt},
        {"1.5", std::nullopt},
        {"0x", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseInt32(c.text), c.value) << c.text;
}

}  // namespace
