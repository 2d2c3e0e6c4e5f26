#include "platform/audio/AlsaMessages.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "AudioTestSupport.h"
#include "platform/audio/AudioStream.h"

namespace {

// Everything written to stderr (the descriptor, as ALSA writes) while the object lives.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& path) : path_(path) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        std::FILE* f = std::fopen(path.c_str(), "w");
        ::dup2(::fileno(f), 2);
        std::fclose(f);
    }
    std::string finish() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        std::FILE* f = std::fopen(path_.c_str(), "r");
        std::string text;
        for (int ch; f != nullptr && (ch = std::fgetc(f)) != EOF;)
            text += static_cast<char>(ch);
        if (f != nullptr)
            std::fclose(f);
        return text;
    }

private:
    std::string path_;
    int saved_ = -1;
};

int openPcm(const std::string& name) {
    snd_pcm_t* pcm = nullptr;
    const int r = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (r == 0)
        snd_pcm_close(pcm);
    return r;
}

// A device name ALSA does not know fails on every machine, sound card or not.
TEST(AlsaMessages, AFailedOpenPrintsNothingAndKeepsItsReasonOnItsThread) {
    audiotest::TempDir dir;
    platform::routeAlsaMessages();
    platform::routeAlsaMessages();  // once is enough; again changes nothing
    const std::string longName = "korvex_" + std::string(1000, 'x');
    struct Case {
        std::string name;
        std::string kept;  // what the kept reason starts with
    } cases[] = {
        {"korvex_no_such_pcm", "Unknown PCM korvex_no_such_pcm"},
        {longName, "Unknown PCM korvex_xxx"},  // cut to the buffer, never overrun
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        platform::clearAlsaMessage();
        StderrCapture capture((dir.path() / "stderr.txt").string());
        const int opened = openPcm(c.name);
        const std::string printed = capture.finish();
        EXPECT_LT(opened, 0);
        EXPECT_EQ(printed, "");
        const std::string kept = platform::lastAlsaMessage();
        EXPECT_EQ(kept.rfind(c.kept, 0), 0u) << kept;
        EXPECT_LT(kept.size(), 256u);
    }
    // Another thread's failure is that thread's: this one's reason stays.
    platform::clearAlsaMessage();
    openPcm("korvex_mine");
    std::string theirs;
    std::thread([&] {
        openPcm("korvex_theirs");
        theirs = platform::lastAlsaMessage();
    }).join();
    EXPECT_NE(platform::lastAlsaMessage().find("korvex_mine"), std::string::npos);
    EXPECT_NE(theirs.find("korvex_theirs"), std::string::npos);
    platform::clearAlsaMessage();
    EXPECT_EQ(platform::lastAlsaMessage(), "");
}

struct SilenceSource : platform::AudioSource {
    std::size_t pullFrames(float*, std::size_t) override { return 0; }
};

// In a fresh process (a child, where nothing has routed the messages yet): opening a sound stream
// is what keeps the sound library quiet for the rest of the process; without it the same failure
// prints, so the check can see what it guards against.
TEST(AlsaMessagesDeathTest, OpeningAStreamKeepsTheSoundLibraryOffStderr) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            openPcm("korvex_no_such_pcm");
            std::fflush(stderr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "Unknown PCM korvex_no_such_pcm");
    EXPECT_EXIT(
        {
            platform::ScopedNoSoundDevice noDevice;
            SilenceSource src;
            platform::AudioStream stream;
            const bool opened = stream.open({8000, 1}, &src);
            stream.close();
            openPcm("korvex_no_such_pcm");
            std::fflush(stderr);
            std::_Exit(opened ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
