#include "viewer/audio/SoundTrack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "AudioTestSupport.h"
#include "platform/audio/AudioStream.h"

using namespace audiotest;
using korvex::SoundTrack;
namespace fs = std::filesystem;

namespace {

constexpr int kWavRate = 22050;
constexpr int kMp3Rate = 44100;

struct Track {
    std::string file;
    std::vector<float> decoded;  // the file read from its start: what playing must give
    int rate = 0;
    int channels = 0;
};

Track makeTrack(const TempDir& dir, const std::string& relPath, TrackFormat format, int rate,
                int channels, double seconds) {
    Track t;
    t.file = (dir.path() / relPath).string();
    fs::create_directories(fs::path(t.file).parent_path());
    EXPECT_TRUE(writeTrack(t.file, format, rate, channels, makeTone(rate, channels, seconds)));
    EXPECT_TRUE(readTrack(t.file, t.decoded, t.rate, t.channels));
    return t;
}

// Where `want` (stereo frames) starts in the disk output: the output begins with the silence
// played while the track stood paused, then the track. The MP3 decoder's float output differs in
// the last bits with the size of the blocks it is asked for, hence the tolerance.
long findInOutput(const std::vector<float>& out, const std::vector<float>& want) {
    const std::size_t start = firstSoundFrame(out);
    for (std::size_t s = start > 4 ? start - 4 : 0; s <= start + 4; ++s) {
        if ((s * 2 + want.size()) > out.size())
            break;
        bool same = true;
        for (std::size_t i = 0; i < want.size() && same; ++i)
            same = std::fabs(out[s * 2 + i] - want[i]) < 1e-5f;
        if (same)
            return static_cast<long>(s);
    }
    return -1;
}

// `frames` frames of a decoded track from `fromFrame`, as the device gets them (stereo, with
// a channel switched off when asked).
std::vector<float> expectedStereo(const Track& t, std::size_t fromFrame, std::size_t frames,
                                  bool left = true, bool right = true) {
    std::vector<float> out;
    for (std::size_t i = fromFrame; i < fromFrame + frames; ++i) {
        const float* in = &t.decoded[i * static_cast<std::size_t>(t.channels)];
        out.push_back(left ? in[0] : 0.0f);
        out.push_back(right ? (t.channels > 1 ? in[1] : in[0]) : 0.0f);
    }
    return out;
}

// Plays from `ms` until the position passes `untilMs`, then closes and returns the disk output.
std::vector<float> playAndCapture(SoundTrack& track, const std::string& output, std::uint32_t ms,
                                  int channel, std::uint32_t untilMs, int* result = nullptr) {
    const int r = track.playFrom(ms, channel);
    if (result != nullptr)
        *result = r;
    EXPECT_TRUE(waitUntil([&] { return track.soundPosition() >= untilMs; }))
        << "position " << track.soundPosition();
    track.pauseSound();
    track.closeSound();
    return readDiskOutput(output);
}

class SoundTrackTest : public ::testing::Test {
protected:
    ScopedEnv driver_{"SDL_AUDIODRIVER", "disk"};
    TempDir dir_;
    RecordingMessagePort port_;
};

}  // namespace

TEST_F(SoundTrackTest, PlayFromOneSecondWritesTheTrackFromThere) {
    struct Case {
        const char* name;
        TrackFormat format;
        int rate;
    } cases[] = {{"sound.wav", TrackFormat::wav16, kWavRate},
                 {"sound.mp3", TrackFormat::mp3, kMp3Rate}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Track t = makeTrack(dir, c.name, c.format, c.rate, 2, 2.0);
        const std::string out = useDiskOutput(dir, "out.raw");
        SoundTrack track(&port_);
        ASSERT_EQ(track.openSound(dir.str()), 1);
        EXPECT_EQ(track.path(), t.file);
        EXPECT_NE(track.device(), 0u);
        auto played = playAndCapture(track, out, 1000, 3, 1400);
        const std::size_t from = static_cast<std::size_t>(c.rate);  // 1,000 ms
        const std::size_t frames = static_cast<std::size_t>(c.rate) * 3 / 10;
        const long at = findInOutput(played, expectedStereo(t, from, frames));
        EXPECT_GE(at, 0) << "the track from 1,000 ms is not in the output";
    }
    EXPECT_TRUE(port_.messages.empty());
}

TEST_F(SoundTrackTest, Mp3DecoderAddsNoDelayToTheEncodedSound) {
    // libsndfile writes the encoder's delay into the file's info frame and the decoder removes
    // it, so the decoded track lines up with what was encoded.
    const auto tone = makeTone(kMp3Rate, 2, 2.0);
    Track t = makeTrack(dir_, "sound.mp3", TrackFormat::mp3, kMp3Rate, 2, 2.0);
    ASSERT_EQ(t.decoded.size(), tone.size());
    long bestLag = 0;
    double bestErr = 1e30;
    const std::size_t from = 30000, n = 4000;
    for (long lag = -2000; lag <= 2000; ++lag) {
        double err = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = t.decoded[(from + i + lag) * 2] - tone[(from + i) * 2];
            err += d * d;
        }
        if (err < bestErr) {
            bestErr = err;
            bestLag = lag;
        }
    }
    RecordProperty("mp3_decoder_delay_frames", static_cast<int>(bestLag));
    EXPECT_EQ(bestLag, 0);
}

TEST_F(SoundTrackTest, ChannelChoiceSilencesTheOtherSideOfAnMp3Only) {
    struct Case {
        const char* name;
        TrackFormat format;
        int rate;
        int fileChannels;
        int channel;
        bool left, right;
    } cases[] = {
        {"sound.mp3", TrackFormat::mp3, kMp3Rate, 2, 1, true, false},
        {"sound.mp3", TrackFormat::mp3, kMp3Rate, 2, 2, false, true},
        {"sound.mp3", TrackFormat::mp3, kMp3Rate, 2, 3, true, true},
        {"sound.mp3", TrackFormat::mp3, 8000, 1, 3, true, true},        // mono on both sides
        {"sound.wav", TrackFormat::wav16, kWavRate, 2, 1, true, true},  // WAV ignores it
        {"sound.wav", TrackFormat::wav16, 8000, 1, 2, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " channels " + std::to_string(c.fileChannels) +
                     " choice " + std::to_string(c.channel));
        TempDir dir;
        Track t = makeTrack(dir, c.name, c.format, c.rate, c.fileChannels, 1.0);
        const std::string out = useDiskOutput(dir, "out.raw");
        SoundTrack track(&port_);
        ASSERT_EQ(track.openSound(dir.str()), 1);
        int result = 0;
        auto played = playAndCapture(track, out, 200, c.channel, 450, &result);
        EXPECT_EQ(result, 1);
        const std::size_t from = static_cast<std::size_t>(c.rate) / 5;
        const auto want =
            expectedStereo(t, from, static_cast<std::size_t>(c.rate) / 5, c.left, c.right);
        EXPECT_GE(findInOutput(played, want), 0);
        // The silenced side stays silent throughout, not only in the compared stretch.
        for (std::size_t i = 0; i < played.size() / 2; ++i) {
            if (!c.left) {
                ASSERT_EQ(played[2 * i], 0.0f) << i;
            }
            if (!c.right) {
                ASSERT_EQ(played[2 * i + 1], 0.0f) << i;
            }
        }
    }
    EXPECT_TRUE(port_.messages.empty());
}

TEST_F(SoundTrackTest, PositionFollowsTheWrittenSamplesPauseHoldsItStopRewinds) {
    Track t = makeTrack(dir_, "sound.wav", TrackFormat::wav16, kWavRate, 2, 2.0);
    const std::string out = useDiskOutput(dir_, "out.raw");
    SoundTrack track(&port_);
    ASSERT_EQ(track.openSound(dir_.str()), 1);
    const double blockMs = 1000.0 * track.deviceBufferFrames() / kWavRate;
    ASSERT_EQ(track.playFrom(0, 3), 1);
    EXPECT_EQ(track.lastCommand(), korvex::SoundCommand::play);
    ASSERT_TRUE(waitUntil([&] { return track.soundPosition() >= 500; }));

    const std::uint32_t before = track.soundPosition();
    const auto written = readDiskOutput(out);
    const std::uint32_t after = track.soundPosition();
    const double writtenMs =
        1000.0 * static_cast<double>(written.size() / 2 - firstSoundFrame(written)) / kWavRate;
    // The position is taken as a block is handed over, the file grows once it is written out
    // (through a stdio buffer of 4 KiB, 512 frames here).
    const double slackMs = 1000.0 * 512 / kWavRate;
    EXPECT_LE(writtenMs, after + 1.0);
    EXPECT_GE(writtenMs, before - blockMs - slackMs - 1.0);
    RecordProperty("position_minus_written_ms", static_cast<int>(before - writtenMs));

    ASSERT_EQ(track.pauseSound(), 1);
    const std::uint32_t held = track.soundPosition();
    const auto sizeAtPause = fs::file_size(out);
    // The paused device goes on writing silence; the position must not move meanwhile.
    ASSERT_TRUE(waitUntil([&] { return fs::file_size(out) > sizeAtPause + 16384; }));
    EXPECT_EQ(track.soundPosition(), held);
    EXPECT_EQ(track.lastCommand(), korvex::SoundCommand::pause);

    ASSERT_EQ(track.stopSound(), 1);
    EXPECT_EQ(track.soundPosition(), 0u);
    EXPECT_EQ(track.lastCommand(), korvex::SoundCommand::stop);
    const auto sizeAtStop = fs::file_size(out);
    ASSERT_TRUE(waitUntil([&] { return fs::file_size(out) > sizeAtStop + 16384; }));
    EXPECT_EQ(track.soundPosition(), 0u);
}

TEST_F(SoundTrackTest, LengthSeeksAndPlayingPastTheEnd) {
    struct Case {
        const char* name;
        TrackFormat format;
        int rate;
        std::uint32_t lengthMs;  // what soundLength reports
        std::uint32_t endMs;     // where seekSoundEnd leaves the position
        int pastEndResult;       // playFrom beyond the length
    } cases[] = {
        {"sound.wav", TrackFormat::wav16, kWavRate, 1500, 1500, 0},
        // The MP3 player's stop time is kept in whole seconds.
        {"sound.mp3", TrackFormat::mp3, kMp3Rate, 1000, 1000, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        makeTrack(dir, c.name, c.format, c.rate, 2, 1.5);
        const std::string out = useDiskOutput(dir, "out.raw");
        SoundTrack track(&port_);
        ASSERT_EQ(track.openSound(dir.str()), 1);
        EXPECT_EQ(track.soundLength(), c.lengthMs);
        EXPECT_EQ(track.seekSoundEnd(), 1);
        EXPECT_EQ(track.soundPosition(), c.endMs);
        EXPECT_EQ(track.seekSoundStart(), 1);
        EXPECT_EQ(track.soundPosition(), 0u);

        EXPECT_EQ(track.playFrom(1600, 3), c.pastEndResult);
        const auto size = fs::file_size(out);
        ASSERT_TRUE(waitUntil([&] { return fs::file_size(out) > size + 32768; }));
        track.closeSound();
        const auto played = readDiskOutput(out);
        EXPECT_EQ(firstSoundFrame(played), played.size() / 2) << "something was played";
    }
    EXPECT_TRUE(port_.messages.empty());
}

TEST_F(SoundTrackTest, FindsTheTrackInOrderIgnoringCase) {
    struct Case {
        std::vector<std::string> files;
        int kind;
        std::string chosen;  // relative to the folder; empty when none
    } cases[] = {
        {{"sound.wav", "sound.mp3"}, korvex::soundWav, "sound.wav"},
        {{"SOUND/sound.mp3", "SOUND/sound.wav"}, korvex::soundWav, "SOUND/sound.wav"},
        {{"Sound/SOUND.WAV"}, korvex::soundWav, "Sound/SOUND.WAV"},
        {{"sound.mp3", "SOUND/sound.wav"}, korvex::soundWav, "SOUND/sound.wav"},
        {{"sound/Sound.Mp3"}, korvex::soundMp3, "sound/Sound.Mp3"},
        {{"sound.mp3", "SOUND/sound.mp3"}, korvex::soundMp3, "sound.mp3"},
        {{"other.wav", "SOUND/other.mp3"}, korvex::soundNone, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        SCOPED_TRACE(c.files.front());
        for (const auto& f : c.files) {
            const bool mp3 = f.size() > 4 &&
                             (f.substr(f.size() - 3) == "mp3" || f.substr(f.size() - 3) == "Mp3");
            makeTrack(dir, f, mp3 ? TrackFormat::mp3 : TrackFormat::wav16, 8000, 1, 0.2);
        }
        useDiskOutput(dir, "out.raw");
        SoundTrack track(&port_);
        const int opened = track.openSound(dir.str());
        EXPECT_EQ(static_cast<int>(track.kind()), c.kind);
        if (c.chosen.empty()) {
            EXPECT_EQ(opened, 0);
            EXPECT_EQ(track.noSound(), 1);
            EXPECT_TRUE(track.path().empty());
        } else {
            EXPECT_EQ(opened, 1);
            EXPECT_EQ(track.noSound(), 0);
            EXPECT_EQ(track.path(), (dir.path() / c.chosen).string());
        }
    }
}

TEST_F(SoundTrackTest, BadFilesFailToOpenQuietly) {
    std::mt19937 rng(7);
    std::string noise(20000, '\0');
    for (auto& ch : noise)
        ch = static_cast<char>(rng());
    TempDir src;
    Track wav = makeTrack(src, "a.wav", TrackFormat::wav16, 8000, 1, 0.5);
    Track mp3 = makeTrack(src, "a.mp3", TrackFormat::mp3, 8000, 1, 0.5);
    auto bytesOf = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string wavBytes = bytesOf(wav.file);
    const std::string mp3Bytes = bytesOf(mp3.file);
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"sound.wav", ""},
        {"sound.wav", wavBytes.substr(0, 30)},  // cut inside the header
        {"sound.wav", wavBytes.substr(0, 44)},  // header, no samples
        {"sound.wav", noise},
        {"sound.wav", std::string(5000, 'x')},
        {"sound.wav",
         std::string("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0", 20) + noise.substr(0, 100)},
        {"sound.mp3", ""},
        {"sound.mp3", mp3Bytes.substr(0, 200)},
        {"sound.mp3", noise},
        {"sound.mp3", std::string(5000, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " of " + std::to_string(c.bytes.size()) + " bytes");
        TempDir dir;
        std::ofstream(dir.path() / c.name, std::ios::binary) << c.bytes;
        useDiskOutput(dir, "out.raw");
        SoundTrack track(&port_);
        EXPECT_EQ(track.openSound(dir.str()), 0);
        EXPECT_EQ(track.device(), 0u);
        EXPECT_EQ(track.noSound(), 0);  // a file was found, it just does not play
        EXPECT_EQ(track.playFrom(0, 3), 0);
        EXPECT_EQ(track.soundPosition(), 0u);
    }
    EXPECT_TRUE(port_.messages.empty());
}

TEST_F(SoundTrackTest, WavWhoseHeaderClaimsTooMuchPlaysWhatExists) {
    Track t = makeTrack(dir_, "full.wav", TrackFormat::wav16, 8000, 1, 0.6);
    std::ifstream in(t.file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Cut the data to 0.3 s but leave the RIFF and data sizes claiming 0.6 s.
    const std::size_t dataAt = bytes.find("data");
    ASSERT_NE(dataAt, std::string::npos);
    const std::size_t keep = dataAt + 8 + 8000 * 2 * 3 / 10;
    std::ofstream(dir_.path() / "sound.wav", std::ios::binary) << bytes.substr(0, keep);

    const std::string out = useDiskOutput(dir_, "out.raw");
    SoundTrack track(&port_);
    ASSERT_EQ(track.openSound(dir_.str()), 1);
    EXPECT_EQ(track.soundLength(), 300u);
    ASSERT_EQ(track.playFrom(0, 3), 1);
    ASSERT_TRUE(waitUntil([&] { return track.soundPosition() >= 300; }));
    const auto size = fs::file_size(out);
    ASSERT_TRUE(waitUntil([&] { return fs::file_size(out) > size + 8192; }));
    EXPECT_EQ(track.soundPosition(), 300u);
    track.closeSound();
    const auto played = readDiskOutput(out);
    const long at = findInOutput(played, expectedStereo(t, 0, 2400));
    ASSERT_GE(at, 0);
    for (std::size_t i = static_cast<std::size_t>(at) + 2400; i < played.size() / 2; ++i) {
        ASSERT_EQ(played[2 * i], 0.0f) << i;
    }
}

TEST_F(SoundTrackTest, Mp3ChannelNumbersOutsideOneToThreeAreReported) {
    makeTrack(dir_, "sound.mp3", TrackFormat::mp3, 8000, 2, 0.5);
    useDiskOutput(dir_, "out.raw");
    SoundTrack track(&port_);
    ASSERT_EQ(track.openSound(dir_.str()), 1);
    EXPECT_EQ(track.setChannel(0), 0);
    EXPECT_EQ(track.setChannel(4), 0);
    EXPECT_EQ(track.setChannel(-1), 0);
    EXPECT_EQ(track.playFrom(0, 0), 0);  // plays, but the channel is refused
    EXPECT_EQ(track.lastCommand(), korvex::SoundCommand::play);
    EXPECT_EQ(track.setChannel(1), 1);
    EXPECT_EQ(track.setChannel(3), 1);
    EXPECT_EQ(port_.messages, std::vector<std::string>(4, "Not Found ChannelNo"));
}

TEST_F(SoundTrackTest, EveryOperationFailsWhileNothingIsOpen) {
    SoundTrack track(&port_);
    EXPECT_EQ(track.openSound(dir_.str()), 0);
    EXPECT_EQ(track.noSound(), 1);
    EXPECT_EQ(track.kind(), korvex::soundNone);
    EXPECT_EQ(track.playFrom(0, 3), 0);
    EXPECT_EQ(track.pauseSound(), 0);
    EXPECT_EQ(track.stopSound(), 0);
    EXPECT_EQ(track.seekSoundStart(), 0);
    EXPECT_EQ(track.seekSoundEnd(), 0);
    EXPECT_EQ(track.soundLength(), 0u);
    EXPECT_EQ(track.soundPosition(), 0u);
    EXPECT_EQ(track.setChannel(3), 0);
    track.closeSound();
    EXPECT_EQ(track.device(), 0u);

    // An open track closed again fails the same way, and a WAV track has no balance to set.
    makeTrack(dir_, "sound.wav", TrackFormat::wav16, 8000, 1, 0.2);
    useDiskOutput(dir_, "out.raw");
    ASSERT_EQ(track.openSound(dir_.str()), 1);
    EXPECT_EQ(track.setChannel(1), 0);
    track.closeSound();
    EXPECT_EQ(track.playFrom(0, 3), 0);
    EXPECT_EQ(track.soundLength(), 0u);
    EXPECT_TRUE(port_.messages.empty());
}

// No sound device, by the test switch or for want of any driver: the track opens and plays
// unheard, its position keeping the track's pace, so that pictures can follow it.
TEST_F(SoundTrackTest, WithoutASoundDeviceTheTrackPlaysSilentlyAndKeepsItsPosition) {
    struct Case {
        const char* name;
        TrackFormat format;
        int rate;
        bool byDriver;  // no driver at all rather than the switch
    } cases[] = {
        {"sound.wav", TrackFormat::wav16, kWavRate, false},
        {"sound.mp3", TrackFormat::mp3, kMp3Rate, false},
        {"sound.wav", TrackFormat::wav16, kWavRate, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.byDriver ? " (no driver)" : " (switch)"));
        TempDir dir;
        makeTrack(dir, c.name, c.format, c.rate, 2, 1.5);
        std::unique_ptr<platform::ScopedNoSoundDevice> noDevice;
        std::unique_ptr<ScopedEnv> noDriver;
        if (c.byDriver)
            noDriver = std::make_unique<ScopedEnv>("SDL_AUDIODRIVER", "no-such-driver");
        else
            noDevice = std::make_unique<platform::ScopedNoSoundDevice>();
        SoundTrack track(&port_);
        ASSERT_EQ(track.openSound(dir.str()), 1);
        EXPECT_TRUE(track.silentOutput());
        EXPECT_NE(track.device(), 0u);
        EXPECT_GE(track.soundLength(), 1000u);
        ASSERT_EQ(track.playFrom(200, 3), 1);
        ASSERT_TRUE(waitUntil([&] { return track.soundPosition() >= 600; }));
        ASSERT_EQ(track.pauseSound(), 1);
        const std::uint32_t held = track.soundPosition();
        waitUntil([] { return false; }, std::chrono::milliseconds(60));
        EXPECT_EQ(track.soundPosition(), held);
        ASSERT_EQ(track.stopSound(), 1);
        EXPECT_EQ(track.soundPosition(), 0u);
        track.closeSound();
        EXPECT_FALSE(track.silentOutput());
        EXPECT_EQ(track.device(), 0u);
    }
    EXPECT_TRUE(port_.messages.empty());
    // With a device the same track is heard.
    makeTrack(dir_, "sound.wav", TrackFormat::wav16, kWavRate, 1, 0.2);
    useDiskOutput(dir_, "out.raw");
    SoundTrack track(&port_);
    ASSERT_EQ(track.openSound(dir_.str()), 1);
    EXPECT_FALSE(track.silentOutput());
}
