#include "viewer/audio/SoundDecoder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <iterator>

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

// Overwrites the frame count of the VBR header ("Xing" or "Info", flags then the count, big
// endian) in the file's first frame.
static bool patchDeclaredFrames(const std::string& path, std::uint32_t frames) {
    std::fstream io(path, std::ios::binary | std::ios::in | std::ios::out);
    std::string head(256, '\0');
    io.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::size_t at = head.find("Xing");
    if (at == std::string::npos)
        at = head.find("Info");
    if (at == std::string::npos || !(static_cast<unsigned char>(head[at + 7]) & 1))
        return false;
    const char count[4] = {static_cast<char>(frames >> 24), static_cast<char>(frames >> 16),
                           static_cast<char>(frames >> 8), static_cast<char>(frames)};
    io.seekp(static_cast<std::streamoff>(at + 8));
    io.write(count, 4);
    return static_cast<bool>(io);
}

// A header's frame count is believed only when the file is large enough to hold that many;
// otherwise the length is what decoding gives, and the track can still be played to its end.
TEST(SoundDecoder, Mp3LengthIsBoundedByWhatTheFileCanHold) {
    struct Case {
        const char* name;
        int rate;
        int channels;
        std::uint32_t declared;  // 0: the header as written
    } cases[] = {
        {"as-written.mp3", 8000, 1, 0},
        {"all-ones.mp3", 8000, 1, 0xFFFFFFFFu},
        {"stereo-all-ones.mp3", 44100, 2, 0xFFFFFFFFu},
        {"thousandfold.mp3", 22050, 1, 40000},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = (dir.path() / c.name).string();
        ASSERT_TRUE(writeTrack(file, TrackFormat::mp3, c.rate, c.channels,
                               makeTone(c.rate, c.channels, 2.0)));
        if (c.declared != 0) {
            ASSERT_TRUE(patchDeclaredFrames(file, c.declared));
        }
        std::vector<float> all;
        int rate = 0, channels = 0;
        ASSERT_TRUE(readTrack(file, all, rate, channels));
        const std::uint64_t decoded = all.size() / static_cast<std::size_t>(channels);

        korvex::SoundDecoder dec;
        ASSERT_TRUE(dec.open(file));
        EXPECT_EQ(dec.lengthFrames(), decoded);
        const std::uint64_t n = dec.lengthFrames();
        ASSERT_TRUE(dec.seek(n / 2));
        std::vector<float> got(100 * static_cast<std::size_t>(channels));
        ASSERT_EQ(dec.read(got.data(), 100), 100u);
        EXPECT_NEAR(got[0], all[n / 2 * channels], 1e-5);
        EXPECT_TRUE(dec.seek(n));
        EXPECT_EQ(dec.read(got.data(), 1), 0u);
        EXPECT_FALSE(dec.seek(n + 1));
    }
}

TEST(SoundDecoder, OpensOnlyRegularFiles) {
    TempDir dir;
    const std::string fifo = (dir.path() / "fifo.mp3").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = (dir.path() / "folder.wav").string();
    std::filesystem::create_directory(folder);
    for (const std::string& path : {fifo, folder}) {
        SCOPED_TRACE(path);
        korvex::SoundDecoder dec;
        EXPECT_FALSE(dec.open(path));  // at once: nobody ever writes to the FIFO
        EXPECT_FALSE(dec.isOpen());
    }
}
