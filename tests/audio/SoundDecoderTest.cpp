#include "viewer/audio/SoundDecoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "AudioTestSupport.h"

using namespace audiotest;

// Seeking must give exactly what reading from the start gives, MP3 included: the playback loop
// starts the sound at any frame's position.
TEST(SoundDecoder, SeeksToTheSampleInWavAndMp3) {
    struct Case {
        const char* name;
        TrackFormat format;
        int rate;
        int channels;
    } cases[] = {
        {"a.wav", TrackFormat::wav16, 8000, 1},
        {"b.mp3", TrackFormat::mp3, 44100, 2},  // low bit rate: the bit reservoir spans frames
        {"c.mp3", TrackFormat::mp3, 8000, 1},
        {"d.mp3", TrackFormat::mp3, 22050, 2},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = (dir.path() / c.name).string();
        ASSERT_TRUE(
            writeTrack(file, c.format, c.rate, c.channels, makeTone(c.rate, c.channels, 3.0)));
        std::vector<float> all;
        int rate = 0, channels = 0;
        ASSERT_TRUE(readTrack(file, all, rate, channels));
        korvex::SoundDecoder dec;
        ASSERT_TRUE(dec.open(file));
        ASSERT_EQ(dec.lengthFrames() * static_cast<std::uint64_t>(channels), all.size());
        const std::uint64_t n = dec.lengthFrames();
        for (std::uint64_t pos :
             {n / 3, std::uint64_t{1}, n - 1000, n / 2 + 577, std::uint64_t{0}, n * 5 / 6, n / 7}) {
            SCOPED_TRACE(pos);
            ASSERT_TRUE(dec.seek(pos));
            std::vector<float> got(1000 * static_cast<std::size_t>(channels));
            ASSERT_EQ(dec.read(got.data(), 1000), 1000u);
            for (std::size_t i = 0; i < got.size(); ++i) {
                ASSERT_NEAR(got[i], all[pos * channels + i], 1e-5) << i;
            }
        }
        EXPECT_TRUE(dec.seek(n));
        float tail[2];
        EXPECT_EQ(dec.read(tail, 1), 0u);
        EXPECT_FALSE(dec.seek(n + 1));
    }
}
