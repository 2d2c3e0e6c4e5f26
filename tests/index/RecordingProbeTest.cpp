#include "recording/RecordingProbe.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "IndexTestSupport.h"

namespace korvex {
namespace {

struct ProbeCase {
    const char* name;
    std::vector<std::string> files;  // relative paths; a trailing '/' makes a folder
    int result;
    const char* kind;       // "jpeg", "mp3", "wav" or "" for no flag
    const char* soundPath;  // relative path of the sound file found, "" for none
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

const ProbeCase kCases[] = {
    {"Empty", {}, 0, "", ""},
    {"WavWithoutPicturesIsNoRecording", {"sound.wav"}, 1, "", "sound.wav"},
    {"Mp3DecidesWhateverThePictures", {"sound.mp3", "IMG00001/000001.jpg"}, 1, "mp3", "sound.mp3"},
    {"FlatJpegWithoutSound", {"a.jpg"}, 1, "jpeg", ""},
    {"FlatJp2WithoutSound", {"a.jp2"}, 1, "mp3", ""},
    {"Jp2AndWavInSoundFolder",
     {"SOUND/Sound.WAV", "img00001/000001.JP2"},
     1,
     "wav",
     "SOUND/Sound.WAV"},
    {"JpegAndWav", {"sound.wav", "IMG00001/x.JPG"}, 1, "jpeg", "sound.wav"},
    {"WavWinsOverMp3",
     {"SOUND/sound.mp3", "SOUND/sound.wav", "a.jp2"},
     1,
     "wav",
     "SOUND/sound.wav"},
    {"FlatWavBeforeSoundFolder", {"sound.wav", "sound/sound.wav", "a.jp2"}, 1, "wav", "sound.wav"},
    {"FirstSubfolderBeforeFlatPictures", {"IMG00001/1.jp2", "2.jpg"}, 1, "mp3", ""},
    {"JpegBeforeJp2InFirstSubfolder", {"IMG00001/1.jp2", "IMG00001/2.jpg"}, 1, "jpeg", ""},
    {"OnlyTheFirstSubfolderIsProbed", {"IMG00002/000201.jp2"}, 0, "", ""},
    {"FolderNamedLikeAPicture", {"x.jpg/"}, 0, "", ""},
    {"SoundFolderHoldsAFolder", {"sound.wav/", "a.jp2"}, 1, "mp3", ""},
};

class RecordingProbeTest : public test::ScratchFolder,
                           public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(RecordingProbeTest, DecidesKindAndSound) {
    const ProbeCase& c = GetParam();
    for (const std::string& f : c.files) {
        if (f.back() == '/') {
            test::fs::create_directories(root_ / f);
        } else {
            write(f);
        }
    }
    RecordingProbe probe;
    EXPECT_EQ(probe.probe(root()), c.result);
    const std::string kind(c.kind);
    EXPECT_EQ(probe.kind().kindJpeg, kind == "jpeg");
    EXPECT_EQ(probe.kind().kindJp2Mp3, kind == "mp3");
    EXPECT_EQ(probe.kind().kindJp2Wav, kind == "wav");
    const std::string sound(c.soundPath);
    EXPECT_EQ(probe.soundPath(), sound.empty() ? "" : (root_ / sound).string());
    EXPECT_EQ(probe.sound() != SoundFormat::None, !sound.empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, RecordingProbeTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordingProbe, ProbingAgainForgetsThePreviousFolder) {
    RecordingProbe probe;
    EXPECT_EQ(probe.probe("/nonexistent/korvex/folder"), 0);
    EXPECT_FALSE(probe.kind().any());
    EXPECT_EQ(frameExtensionFor(probe.kind()), nullptr);
    EXPECT_STREQ(frameExtensionFor(RecordingKind{.kindJpeg = true}), "jpg");
    EXPECT_STREQ(frameExtensionFor(RecordingKind{.kindJp2Wav = true}), "jp2");
}

}  // namespace
}  // namespace korvex
