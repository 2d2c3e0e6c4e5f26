// The MP4 writer alone: pictures at their own times, the sound in step, the index in front, and
// refusals that leave the caller a clear reason.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/export/MediaReader.h"
#include "tests/tools/ToolsTestSupport.h"
#include "viewer/export/Mp4Writer.h"

namespace {

using korvex::Mp4Writer;

// A picture whose colour changes with `n`, so the coder has something to code.
std::vector<std::uint8_t> picture(int width, int height, int n) {
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(x + n * 8);
            p[1] = static_cast<std::uint8_t>(y * 2);
            p[2] = static_cast<std::uint8_t>(n * 20);
        }
    }
    return bgr;
}

// The first bytes of an MP4 file whose index (moov) comes before the data (mdat).
bool indexInFront(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    const auto moov = head.find("moov");
    const auto mdat = head.find("mdat");
    return moov != std::string::npos && (mdat == std::string::npos || moov < mdat);
}

TEST(Mp4Writer, PicturesKeepTheirTimesAndTheSoundFollows) {
    toolstest::TempDir dir;
    const std::string path = dir / "out.mp4";
    constexpr int kW = 160, kH = 120, kRate = 8000;
    const korvex::SoundInput sound{kRate, 1};
    Mp4Writer writer;
    ASSERT_TRUE(writer.open(path, kW, kH, &sound, {})) << writer.error();
    // Uneven steps, as a recorder's sound clock gives them.
    const std::vector<std::int64_t> times = {0, 100, 250, 300, 700, 1000, 1100, 1500, 2600, 2700};
    std::vector<float> tone(static_cast<std::size_t>(kRate) / 10);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.3f * static_cast<float>(std::sin(i * 0.2));
    std::int64_t soundMs = 0;
    for (std::size_t n = 0; n < times.size(); ++n) {
        for (; soundMs < times[n] + 100; soundMs += 100)
            ASSERT_TRUE(writer.addSound(tone.data(), tone.size())) << writer.error();
        const auto bgr = picture(kW, kH, static_cast<int>(n));
        ASSERT_TRUE(writer.addPicture(bgr.data(), kW * 3, times[n])) << writer.error();
    }
    for (; soundMs < 3000; soundMs += 100)
        ASSERT_TRUE(writer.addSound(tone.data(), tone.size()));
    ASSERT_TRUE(writer.finish(3000)) << writer.error();
    EXPECT_EQ(writer.picturesWritten(), static_cast<std::int64_t>(times.size()));
    EXPECT_TRUE(indexInFront(path));

    korvex::test::VideoStreamInfo video;
    std::string error;
    ASSERT_TRUE(korvex::test::readVideo(path, video, error)) << error;
    EXPECT_EQ(video.width, kW);
    EXPECT_EQ(video.height, kH);
    EXPECT_EQ(video.ptsMs, times);
    std::vector<float> mono;
    int rate = 0;
    ASSERT_TRUE(korvex::test::readSound(path, mono, rate, error)) << error;
    EXPECT_EQ(rate, korvex::aacSampleRateFor(kRate));
    EXPECT_NEAR(static_cast<double>(mono.size()) / rate, 3.0, 0.03);
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Pictures converted apart and sound coded apart (as the export does on other threads) make the
// very file the writer makes when it converts and codes them itself.
TEST(Mp4Writer, PicturesConvertedAndSoundCodedApartMakeTheSameFile) {
    toolstest::TempDir dir;
    constexpr int kW = 176, kH = 144, kRate = 8000;
    const korvex::SoundInput sound{kRate, 2};
    const std::vector<std::int64_t> times = {0, 90, 200, 210, 500, 640, 1300};
    std::vector<float> tone(static_cast<std::size_t>(kRate) / 10 * 2);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.2f * static_cast<float>(std::sin(i * 0.05));
    auto write = [&](const std::string& path, bool apart) {
        Mp4Writer writer;
        EXPECT_TRUE(writer.open(path, kW, kH, &sound, {})) << writer.error();
        korvex::PictureConverter converter;
        EXPECT_TRUE(converter.open(kW, kH));
        auto addSound = [&](std::size_t frames) {
            if (!apart)
                return writer.addSound(tone.data(), frames);
            korvex::CodedPackets packets;
            return writer.soundCoder().code(tone.data(), frames, packets) &&
                   writer.addSoundPackets(std::move(packets));
        };
        for (std::size_t n = 0; n < times.size(); ++n) {
            EXPECT_TRUE(addSound(static_cast<std::size_t>(kRate) / 10 - n * 7));
            const auto bgr = picture(kW, kH, static_cast<int>(n));
            EXPECT_TRUE(apart ? writer.addPicture(converter.convert(bgr.data(), kW * 3), times[n])
                              : writer.addPicture(bgr.data(), kW * 3, times[n]))
                << writer.error();
        }
        EXPECT_TRUE(writer.finish(1400)) << writer.error();
    };
    write(dir / "together.mp4", false);
    write(dir / "apart.mp4", true);
    const std::string together = fileBytes(dir / "together.mp4");
    EXPECT_GT(together.size(), 1000u);
    EXPECT_TRUE(together == fileBytes(dir / "apart.mp4"));

    // A converter takes only the sizes the writer takes, and a picture of another size is refused.
    korvex::PictureConverter odd;
    EXPECT_FALSE(odd.open(kW + 1, kH));
    EXPECT_FALSE(odd.convert(nullptr, 0));
    Mp4Writer writer;
    ASSERT_TRUE(writer.open(dir / "sizes.mp4", kW, kH, nullptr, {})) << writer.error();
    korvex::PictureConverter larger;
    ASSERT_TRUE(larger.open(kW + 2, kH));
    const auto bgr = picture(kW + 2, kH, 0);
    EXPECT_FALSE(writer.addPicture(larger.convert(bgr.data(), (kW + 2) * 3), 0));
    EXPECT_FALSE(writer.addPicture(korvex::YuvPicture{}, 0));
}

TEST(Mp4Writer, RefusesWhatItCannotWrite) {
    toolstest::TempDir dir;
    Mp4Writer writer;
    EXPECT_FALSE(writer.open(dir / "odd.mp4", 161, 120, nullptr, {}));
    EXPECT_NE(writer.error().find("even"), std::string::npos);
    EXPECT_FALSE(writer.open(dir / "no/such/folder/out.mp4", 160, 120, nullptr, {}));
    EXPECT_NE(writer.error().find("cannot create"), std::string::npos);
    const korvex::SoundInput fiveChannels{8000, 5};
    EXPECT_FALSE(writer.open(dir / "sound.mp4", 160, 120, &fiveChannels, {}));

    ASSERT_TRUE(writer.open(dir / "out.mp4", 160, 120, nullptr, {})) << writer.error();
    const auto bgr = picture(160, 120, 0);
    ASSERT_TRUE(writer.addPicture(bgr.data(), 160 * 3, 100));
    // Times must go forward: MP4 has no place for a picture at or before the one before it.
    EXPECT_FALSE(writer.addPicture(bgr.data(), 160 * 3, 100));
    EXPECT_FALSE(writer.addSound(nullptr, 0));  // no sound stream was asked for
    writer.abort();
    EXPECT_FALSE(writer.isOpen());
}

TEST(Mp4Writer, SoundRates) {
    const std::pair<int, int> cases[] = {{8000, 16000},  {11025, 22050}, {12000, 24000},
                                         {16000, 16000}, {44100, 44100}, {48000, 48000},
                                         {96000, 48000}, {7000, 48000}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(korvex::aacSampleRateFor(in), out) << in;
}

}  // namespace
