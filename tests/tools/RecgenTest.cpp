// The recording generator's parts: font, captions, sound clicks, the writer's rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tools/recgen/BitmapFont.h"
#include "tools/recgen/FrameRenderer.h"
#include "tools/recgen/RecordingWriter.h"
#include "tools/recgen/SoundWriter.h"

namespace {

using namespace korvex::gen;
namespace fs = std::filesystem;
using korvex::test::readText;
using korvex::test::TempDir;

TEST(BitmapFont, EveryCaptionCharacterHasItsOwnGlyph) {
    std::string needed = "0123456789:-/ ";
    for (char c = 'A'; c <= 'Z'; ++c)
        needed += c;
    for (char c = 'a'; c <= 'z'; ++c)
        needed += c;
    std::set<GlyphRows> seen;
    for (char c : needed) {
        SCOPED_TRACE(std::string(1, c));
        EXPECT_TRUE(hasGlyph(c));
        // A glyph copied by mistake onto a second character would make captions ambiguous.
        EXPECT_TRUE(seen.insert(glyphFor(c)).second);
    }
    EXPECT_FALSE(hasGlyph('\x01'));
    EXPECT_FALSE(hasGlyph('\xC3'));
    EXPECT_EQ(glyphFor('\x01'), glyphFor('\xC3'));  // the same hollow box for both
}

TEST(DvrTime, FormatsAndParsesTheRecordersCalendar) {
    const struct {
        std::uint32_t seconds;
        const char* text;
    } rows[] = {
        {0, "2000-01-01 00:00:00"},
        {59 * 86400, "2000-02-29 00:00:00"},  // 2000 is a leap year
        {86399, "2000-01-01 23:59:59"},
        {758'505'600, "2024-01-14 00:00:00"},
        {762'566'399, "2024-02-29 23:59:59"},
        {946'079'999, "2029-12-23 23:59:59"},  // the last valid capture time
        {0xFFFFFFFFu, "2136-02-07 06:28:15"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(formatDvrTime(r.seconds), r.text);
        std::uint32_t back = 1;
        EXPECT_TRUE(parseDvrTime(r.text, back));
        EXPECT_EQ(back, r.seconds);
    }
    for (const char* bad :
         {"1999-12-31 23:59:59", "2023-02-29 00:00:00", "2024-13-01 00:00:00",
          "2024-01-01 24:00:00", "2024-01-01 00:60:00", "2024-1-01 00:00:00", "2024-01-01T00:00:00",
          "2024-01-01 00:00:00 ", "2136-02-07 06:28:16", ""}) {
        std::uint32_t s = 0;
        EXPECT_FALSE(parseDvrTime(bad, s)) << bad;
    }
}

TEST(FrameRenderer, SamePictureForTheSameCaptionAndSeed) {
    FrameCaption a;
    a.channel = 3;
    a.title = "Lobby";
    a.frameNumber = 41;
    a.dvrSeconds = 1000;
    const RawPicture p = renderFrame(176, 120, a, 9);
    ASSERT_EQ(p.pixels.size(), 176u * 120u * 3u);
    EXPECT_EQ(p.pixels, renderFrame(176, 120, a, 9).pixels);

    // Each thing shown on the picture changes it.
    FrameCaption b = a;
    b.frameNumber = 42;
    EXPECT_NE(p.pixels, renderFrame(176, 120, b, 9).pixels);
    b = a;
    b.dvrSeconds = 1001;
    EXPECT_NE(p.pixels, renderFrame(176, 120, b, 9).pixels);
    b = a;
    b.channel = 4;
    EXPECT_NE(p.pixels, renderFrame(176, 120, b, 9).pixels);
    EXPECT_NE(p.pixels, renderFrame(176, 120, a, 10).pixels);
}

TEST(FrameRenderer, AnySizeIsDrawnInsideThePicture) {
    FrameCaption c;
    c.title = "SIXTEEN CHARS!!!";
    c.frameNumber = 999999;
    c.dvrSeconds = 0xFFFFFFFFu;
    // Tiny, thin and very wide pictures clip their captions (the sanitizers watch the writes).
    for (auto [w, h] : {std::pair{1, 1}, {8, 8}, {4096, 8}, {8, 4096}, {704, 480}, {720, 248}}) {
        const RawPicture p = renderFrame(w, h, c, 1);
        EXPECT_EQ(p.pixels.size(), static_cast<std::size_t>(w) * h * 3) << w << "x" << h;
    }
    EXPECT_TRUE(renderFrame(0, 10, c, 1).pixels.empty());
    EXPECT_TRUE(renderFrame(10, -1, c, 1).pixels.empty());
}

TEST(FrameRenderer, ChannelColoursDiffer) {
    std::set<std::tuple<int, int, int>> colours;
    for (int ch = 0; ch < 16; ++ch) {
        const Rgb c = channelColour(ch);
        colours.insert({c.r, c.g, c.b});
    }
    EXPECT_EQ(colours.size(), 16u);
}

struct SoundCase {
    SoundFormat format;
    int rate;
    int channels;
    std::uint32_t intervalMs;
    bool tone;
    int toleranceMs;  // MP3 may smear a click's onset a little
};

class SoundClicks : public ::testing::TestWithParam<SoundCase> {};

TEST_P(SoundClicks, OneClickAtEveryFrameOffset) {
    const SoundCase& c = GetParam();
    TempDir tmp;
    SoundSpec spec;
    spec.format = c.format;
    spec.sampleRate = c.rate;
    spec.channels = c.channels;
    spec.tone = c.tone;
    const int frames = 25;
    for (int i = 0; i < frames; ++i)
        spec.clickOffsetsMs.push_back(i * c.intervalMs);
    std::reverse(spec.clickOffsetsMs.begin(), spec.clickOffsetsMs.end());  // any order
    spec.durationMs = frames * c.intervalMs;
    const std::string path = tmp / (c.format == SoundFormat::Wav ? "sound.wav" : "sound.mp3");
    std::string error;
    ASSERT_TRUE(writeSound(path, spec, &error)) << error;

    std::vector<float> samples;
    int rate = 0;
    ASSERT_TRUE(readSoundMono(path, samples, rate));
    EXPECT_EQ(rate, c.rate);
    const std::size_t expectedLength = static_cast<std::size_t>(spec.durationMs) * c.rate / 1000;
    if (c.format == SoundFormat::Wav) {
        EXPECT_EQ(samples.size(), expectedLength);
    } else {
        EXPECT_NEAR(static_cast<double>(samples.size()), static_cast<double>(expectedLength),
                    c.rate * 0.1);
    }
    const auto clicks = findClicks(samples.data(), samples.size(), rate);
    ASSERT_EQ(clicks.size(), static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double expected = static_cast<double>(clickOnsetSample(i * c.intervalMs, c.rate));
        EXPECT_NEAR(static_cast<double>(clicks[static_cast<std::size_t>(i)]), expected,
                    c.toleranceMs * c.rate / 1000.0)
            << "click " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SoundClicks,
                         ::testing::Values(SoundCase{SoundFormat::Wav, 8000, 1, 100, true, 0},
                                           SoundCase{SoundFormat::Wav, 16000, 2, 37, true, 0},
                                           SoundCase{SoundFormat::Wav, 11025, 1, 33, false, 0},
                                           SoundCase{SoundFormat::Mp3, 8000, 1, 100, true, 2},
                                           SoundCase{SoundFormat::Mp3, 16000, 2, 250, false, 2}));

TEST(SoundWriter, WavClicksMatchTheRecordingsFrames) {
    TempDir tmp;
    RecordingSpec spec;
    spec.pictures = korvex::PictureFormat::Jpeg;
    spec.sound = SoundFormat::Wav;
    spec.frames = 9;
    spec.width = 16;
    spec.height = 16;
    spec.channels = {0, 5, 9};
    spec.intervalMs = 120;
    const RecordingResult r = writeRecording(tmp / "rec", spec);
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<float> samples;
    int rate = 0;
    ASSERT_TRUE(readSoundMono(r.soundPath, samples, rate));
    EXPECT_EQ(samples.size(), static_cast<std::size_t>(recordingLengthMs(spec)) * 8);
    const auto clicks = findClicks(samples.data(), samples.size(), rate);
    ASSERT_EQ(clicks.size(), r.frames.size());
    for (std::size_t i = 0; i < clicks.size(); ++i) {
        EXPECT_EQ(clicks[i], clickOnsetSample(r.frames[i].offsetMs, rate));
    }
}

TEST(RecordingWriter, OutputDoesNotDependOnTheThreadCount) {
    TempDir tmp;
    RecordingSpec spec;
    spec.frames = 7;
    spec.width = 40;
    spec.height = 24;
    spec.channels = {2, 7};
    spec.sound = SoundFormat::None;
    spec.damage = {{3, Damage::StoredTime}};
    spec.threads = 1;
    const RecordingResult one = writeRecording(tmp / "one", spec);
    spec.threads = 4;
    const RecordingResult four = writeRecording(tmp / "four", spec);
    ASSERT_TRUE(one.ok && four.ok);
    ASSERT_EQ(one.frames.size(), four.frames.size());
    for (std::size_t i = 0; i < one.frames.size(); ++i) {
        EXPECT_EQ(readText(one.frames[i].path), readText(four.frames[i].path));
        EXPECT_EQ(one.frames[i].channel, i % 2 == 0 ? 2 : 7);
        EXPECT_EQ(one.frames[i].damageApplied, i == 3);
    }
    EXPECT_EQ(readText(one.infoPath), readText(four.infoPath));
}

TEST(RecordingWriter, ValidatesTheSpec) {
    const auto base = [] {
        RecordingSpec s;
        s.frames = 10;
        s.channels = {0};
        return s;
    };
    const struct {
        const char* what;
        void (*change)(RecordingSpec&);
    } errors[] = {
        {"no frames", [](RecordingSpec& s) { s.frames = 0; }},
        {"too small", [](RecordingSpec& s) { s.width = 7; }},
        {"too large", [](RecordingSpec& s) { s.height = 4097; }},
        {"channel 16", [](RecordingSpec& s) { s.channels = {16}; }},
        {"channel twice",
         [](RecordingSpec& s) {
             s.channels = {3, 3};
         }},
        {"17 channels", [](RecordingSpec& s) { s.channels.assign(17, 0); }},
        {"long title", [](RecordingSpec& s) { s.titles = {"12345678901234567"}; }},
        {"interval 0", [](RecordingSpec& s) { s.intervalMs = 0; }},
        {"offsets overflow",
         [](RecordingSpec& s) {
             s.frames = 1'000'000;
             s.intervalMs = 5000;
         }},
        {"seconds overflow",
         [](RecordingSpec& s) {
             s.startDvrSeconds = 0xFFFFFFFFu;
             s.intervalMs = 1000;
         }},
        {"damage past the end",
         [](RecordingSpec& s) {
             s.damage = {{10, Damage::CodedByte}};
         }},
        {"negative damage index",
         [](RecordingSpec& s) {
             s.damage = {{-1, Damage::CodedByte}};
         }},
        {"sound rate", [](RecordingSpec& s) { s.soundRate = 500; }},
        {"sound channels", [](RecordingSpec& s) { s.soundChannels = 3; }},
        {"no pictures", [](RecordingSpec& s) { s.pictures = korvex::PictureFormat::None; }},
        {"per folder 0", [](RecordingSpec& s) { s.framesPerFolder = 0; }},
    };
    for (const auto& e : errors) {
        RecordingSpec s = base();
        e.change(s);
        std::string error;
        EXPECT_FALSE(validateSpec(s, error)) << e.what;
        EXPECT_FALSE(error.empty()) << e.what;
    }

    // Allowed, but the viewer will not read the folder as one might expect: said in a warning.
    const struct {
        const char* what;
        void (*change)(RecordingSpec&);
    } warnings[] = {
        {"flat beside sound", [](RecordingSpec& s) { s.layout = FrameLayout::Flat; }},
        {"JPEG beside MP3",
         [](RecordingSpec& s) {
             s.pictures = korvex::PictureFormat::Jpeg;
             s.sound = SoundFormat::Mp3;
         }},
        {"J2K larger than the block", [](RecordingSpec& s) { s.width = 720, s.height = 480; }},
        {"times out of range", [](RecordingSpec& s) { s.startDvrSeconds = 946'079'999; }},
        {"code-stream", [](RecordingSpec& s) { s.j2kContainer = J2kContainer::Codestream; }},
    };
    for (const auto& w : warnings) {
        RecordingSpec s = base();
        w.change(s);
        std::string error;
        std::vector<std::string> list;
        EXPECT_TRUE(validateSpec(s, error, &list)) << w.what << ": " << error;
        EXPECT_EQ(list.size(), 1u) << w.what;
    }
    std::vector<std::string> none;
    std::string error;
    EXPECT_TRUE(validateSpec(base(), error, &none));
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(validateSpec(demoSpec(), error, &none)) << error;
    EXPECT_TRUE(none.empty());
}

TEST(RecordingWriter, SubfoldersOfTwoHundredNumberFilesOnAcrossThem) {
    TempDir tmp;
    RecordingSpec spec;
    spec.pictures = korvex::PictureFormat::Jpeg;
    spec.sound = SoundFormat::None;
    spec.frames = 401;
    spec.width = 8;
    spec.height = 8;
    spec.writeInfo = false;
    const RecordingResult r = writeRecording(tmp / "rec", spec);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.frames[0].path, tmp / "rec/IMG00001/000001.jpg");
    EXPECT_EQ(r.frames[199].path, tmp / "rec/IMG00001/000200.jpg");
    EXPECT_EQ(r.frames[200].path, tmp / "rec/IMG00002/000201.jpg");
    EXPECT_EQ(r.frames[400].path, tmp / "rec/IMG00003/000401.jpg");
    for (const auto& f : r.frames)
        EXPECT_TRUE(fs::is_regular_file(f.path)) << f.path;
    EXPECT_FALSE(fs::exists(tmp.path() / "rec" / "INFO"));
}

}  // namespace
