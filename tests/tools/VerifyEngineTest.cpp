// The streaming verifier against the viewer's own index: every frame as FolderImageSource and
// loadCurrent see it, whatever the layout, the number of threads or the damage; the manifest
// check finding each kind of change; the client's placeholder picture told apart.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "control/download/J2kFrameCheck.h"
#include "platform/TimeZone.h"
#include "recording/ClientPlaceholder.h"
#include "recording/FolderImageSource.h"
#include "tests/tools/ReportJson.h"
#include "tests/tools/ToolsTestSupport.h"
#include "tools/recgen/RecordingWriter.h"
#include "tools/verify/RecordingIndex.h"
#include "tools/verify/TimeText.h"
#include "tools/verify/Verification.h"

namespace {

using namespace toolstest;
namespace gen = korvex::gen;
namespace v = korvex::verify;

// The frames as the viewer shows them, each once: the verifier's behaviour before it streamed.
std::vector<v::VerifiedFrame> viewerFrames(const std::string& folder) {
    korvex::RecordingProbe probe;
    EXPECT_EQ(probe.probe(folder), 1);
    korvex::FolderImageSource source(probe.kind());
    EXPECT_EQ(source.openFolder(folder, probe.sound() != korvex::SoundFormat::None ? 1 : 0), 1);
    if (source.infoTable().loaded()) {
        std::array<int, 16> slots;
        slots.fill(-9);
        source.selectChannels(-1, 1, slots.data());
    }
    std::vector<v::VerifiedFrame> out;
    for (int i = 0; i < source.count(); ++i) {
        source.setCurrent(i);
        std::size_t size = 0;
        v::VerifiedFrame f;
        f.index = i;
        f.decoded = static_cast<bool>(source.loadCurrent(&size, 0));
        f.path = source.pathAt(i);
        f.channel = source.currentChannel();
        f.flags = source.flagsAt(i);
        f.time = source.timeAt(i);
        f.offsetMs = source.offsetAt(i);
        f.title = source.cameraTitle(i);
        out.push_back(f);
    }
    return out;
}

struct LayoutCase {
    const char* name;
    gen::RecordingSpec spec;
    // Done to the written folder before it is checked.
    void (*touch)(const std::string& folder) = nullptr;
};

gen::RecordingSpec base(korvex::PictureFormat pictures, korvex::SoundFormat sound, int frames) {
    gen::RecordingSpec s;
    s.pictures = pictures;
    s.sound = sound;
    s.frames = frames;
    s.width = 32;
    s.height = 24;
    return s;
}

std::vector<LayoutCase> layouts() {
    using korvex::PictureFormat;
    using korvex::SoundFormat;
    std::vector<LayoutCase> all;
    {
        auto s = base(PictureFormat::Jpeg, SoundFormat::None, 9);
        s.layout = gen::FrameLayout::Flat;
        s.channels = {0, 1};
        s.titles = {"GATE", "YARD"};
        s.damage = {{1, gen::Damage::CodedByte},
                    {3, gen::Damage::StoredTime},
                    {5, gen::Damage::TrailerCut},
                    {7, gen::Damage::NoTrailer}};
        all.push_back({"jpeg flat, two channels, every damage", s});
    }
    {
        auto s = base(PictureFormat::Jpeg2000, SoundFormat::Wav, 23);
        s.framesPerFolder = 5;
        s.writeInfo = false;
        s.writeTimeTxt = true;
        s.damage = {{0, gen::Damage::NoTrailer}, {6, gen::Damage::CodedByte}};
        all.push_back({"jp2 in small subfolders, time.txt, no INFO", s});
    }
    {
        auto s = base(PictureFormat::Jpeg2000, SoundFormat::Mp3, 12);
        s.soundPlace = gen::SoundPlace::SoundFolder;
        s.writeInfo = false;
        s.damage = {{4, gen::Damage::NoTrailer}, {11, gen::Damage::TrailerCut}};
        all.push_back({"jp2 with mp3 in SOUND, offsets from the files", s});
    }
    {
        auto s = base(PictureFormat::Jpeg2000, SoundFormat::Wav, 14);
        s.framesPerFolder = 4;
        s.channels = {3, 7, 1};
        // Folders in mixed case sort ignoring case for the scan, by bytes for the order; a
        // stray file and a folder without frames are no frames.
        all.push_back({"mixed-case folders and strays", s, [](const std::string& folder) {
                           fs::rename(folder + "/IMG00002", folder + "/img00002");
                           std::ofstream(folder + "/IMG00001/notes.txt") << "x";
                           fs::create_directories(folder + "/zextra/deeper");
                           std::ofstream(folder + "/zextra/deeper/000099.jp2") << "x";
                       }});
    }
    {
        auto s = base(PictureFormat::Jpeg, SoundFormat::None, 4);
        s.writeInfo = true;
        s.startDvrSeconds = korvex::kMaxDvrSeconds;  // INFO times out of range: flags 3
        all.push_back({"INFO times out of range", s});
    }
    return all;
}

// The JSON frames of one run at `threads`.
std::string streamedJson(const std::string& folder, int threads) {
    struct Lines final : v::VerifyObserver {
        std::string text;
        void frame(v::FrameOutcome& o) override { text += o.line + "\n"; }
    } lines;
    v::VerifyOptions options;
    options.threads = threads;
    options.line = v::EngineOptions::Line::Json;
    v::VerifyReport report;
    std::string error;
    EXPECT_TRUE(v::runVerification(folder, options, lines, report, error)) << error;
    return lines.text;
}

TEST(StreamingVerifier, EveryFrameAsTheViewerSeesItAtAnyThreadCount) {
    for (const LayoutCase& c : layouts()) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const std::string folder = tmp / "rec";
        const gen::RecordingResult written = gen::writeRecording(folder, c.spec);
        ASSERT_TRUE(written.ok) << written.error;
        if (c.touch)
            c.touch(folder);

        v::VerifyReport report;
        std::string error;
        ASSERT_TRUE(v::verifyRecording(folder, report, error)) << error;
        platform::fixProcessTimeZone();
        const std::vector<v::VerifiedFrame> expected = viewerFrames(folder);
        ASSERT_EQ(report.frames.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(expected[i].path);
            const v::VerifiedFrame& got = report.frames[i];
            EXPECT_EQ(got.path, expected[i].path);
            EXPECT_EQ(got.channel, expected[i].channel);
            EXPECT_EQ(got.flags, expected[i].flags);
            EXPECT_EQ(got.time, expected[i].time);
            EXPECT_EQ(got.offsetMs, expected[i].offsetMs);
            EXPECT_EQ(got.decoded, expected[i].decoded);
            EXPECT_EQ(got.title, expected[i].title);
        }
        const std::string one = streamedJson(folder, 1);
        EXPECT_EQ(streamedJson(folder, 3), one);
        EXPECT_EQ(streamedJson(folder, 8), one);
    }
}

// Many more frames than the workers' window, with a consumer that now and then falls behind or
// rushes ahead: every frame arrives once, in order, at any thread count, and a cancel ends the
// pass early.
TEST(StreamingVerifier, OrderAndCancelOverManyWindows) {
    TempDir tmp;
    const std::string folder = tmp / "rec";
    auto s = base(korvex::PictureFormat::Jpeg, korvex::SoundFormat::None, 1500);
    s.width = 16;
    s.height = 16;
    s.writeInfo = false;
    ASSERT_TRUE(gen::writeRecording(folder, s).ok);
    korvex::RecordingProbe probe;
    ASSERT_EQ(probe.probe(folder), 1);
    v::RecordingIndex index;
    ASSERT_TRUE(index.open(folder, probe.kind(), false, false));
    for (const int threads : {2, 3, 7, 64}) {
        SCOPED_TRACE(threads);
        struct Order final : v::FrameConsumer {
            int expected = 0;
            bool inOrder = true;
            std::atomic<bool>* cancel = nullptr;
            int cancelAt = -1;
            void frame(v::FrameOutcome& o) override {
                inOrder = inOrder && o.frame.index == expected;
                ++expected;
                // Slow for a while (the workers fill their window and wait for room), then
                // fast (the consumer catches up and waits for them), again and again.
                if ((expected / 20) % 2 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                if (expected == cancelAt)
                    cancel->store(true);
            }
        } order;
        std::atomic<bool> cancel{false};
        v::EngineOptions options;
        options.threads = threads;
        options.hash = true;
        options.cancel = &cancel;
        ASSERT_TRUE(v::runFrames(index, options, order));
        EXPECT_TRUE(order.inOrder);
        EXPECT_EQ(order.expected, 1500);

        Order cut;
        cut.cancel = &cancel;
        cut.cancelAt = 400;
        EXPECT_FALSE(v::runFrames(index, options, cut));
        EXPECT_TRUE(cut.inOrder);
        EXPECT_EQ(cut.expected, 400);
    }
}

// The fixed-offset time text is what the C library gives in the recorders' zone.
TEST(TimeText, MatchesTheLibraryInTheRecordersZone) {
    platform::fixProcessTimeZone();
    const v::TimeText text;
    EXPECT_EQ(text.zoneName(), "UTC+09:00");
    for (std::int64_t t :
         {0ll, 946684800ll, 951782399ll, 1709251199ll, 1893455999ll, 4102444800ll, -86401ll}) {
        const auto tt = static_cast<std::time_t>(t);
        std::tm tm{};
        ASSERT_NE(::localtime_r(&tt, &tm), nullptr);
        char want[64];
        std::snprintf(want, sizeof want, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        EXPECT_EQ(text.format(t), want) << t;
    }
}

// ---- the manifest ----

struct Recording {
    TempDir tmp;
    std::string folder = tmp / "rec";
    explicit Recording(int frames = 6) {
        auto s = base(korvex::PictureFormat::Jpeg2000, korvex::SoundFormat::Wav, frames);
        s.framesPerFolder = 4;
        EXPECT_TRUE(gen::writeRecording(folder, s).ok);
    }
    RunResult verify(const std::vector<std::string>& args) const {
        std::vector<std::string> all = args;
        all.push_back(folder);
        return runProgram(programFromEnv("KORVEX_VERIFY"), all, tmp.path());
    }
};

void flipByte(const std::string& path, std::size_t at) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(at));
    const char c = static_cast<char>(f.get());
    f.seekp(static_cast<std::streamoff>(at));
    f.put(static_cast<char>(c ^ 0x01));
}

TEST(Manifest, WrittenForAnExportThenPassesSha256sumAndTheVerifier) {
    Recording rec;
    const RunResult made = rec.verify({"--manifest"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("SHA256SUMS: 8 files"), std::string::npos) << made.out;  // 6 + INF, WAV
    const RunResult sums =
        runProgram("/bin/sh", {"-c", "cd \"$0\" && sha256sum --strict -c SHA256SUMS", rec.folder},
                   rec.tmp.path());
    EXPECT_EQ(sums.status, 0) << sums.out << sums.err;
    // Frames first, in the index's order, then the other files.
    const std::string text = readText(rec.folder + "/SHA256SUMS");
    EXPECT_LT(text.find("IMG00002/000005.jp2"), text.find("INFO/"));
    EXPECT_LT(text.find("INFO/"), text.find("sound.wav"));

    const RunResult run = rec.verify({"--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    const Json m = Json::parse(run.out).at("manifest");
    EXPECT_TRUE(m.at("present").get<bool>());
    EXPECT_EQ(m.at("matched").get<long long>(), 8);
    EXPECT_EQ(m.at("changed").get<long long>() + m.at("missing").get<long long>() +
                  m.at("added").get<long long>(),
              0);
    EXPECT_FALSE(m.at("incomplete").get<bool>());
    // Once there, a manifest is checked, never replaced.
    EXPECT_EQ(rec.verify({"--manifest"}).status, 2);
}

// Each kind of change is found, named and counted, and fails the run with status 4 while every
// frame is still intact by its trailer (a byte outside the coded data, the sound, which no
// trailer covers, a file added, a file removed, a run that never listed its sound).
TEST(Manifest, EachKindOfChangeIsFoundAndNamed) {
    const struct {
        const char* what;
        void (*change)(const std::string& folder);
        const char* key;
        const char* file;
    } cases[] = {
        {"a frame byte outside the coded data",
         [](const std::string& f) { flipByte(f + "/IMG00001/000002.jp2", 24); }, "changedFiles",
         "IMG00001/000002.jp2"},
        {"a byte of the sound", [](const std::string& f) { flipByte(f + "/sound.wav", 500); },
         "changedFiles", "sound.wav"},
        {"a file added",
         [](const std::string& f) { std::ofstream(f + "/IMG00002/extra.txt") << "x"; },
         "addedFiles", "IMG00002/extra.txt"},
        {"a frame removed", [](const std::string& f) { fs::remove(f + "/IMG00002/000006.jp2"); },
         "missingFiles", "IMG00002/000006.jp2"},
        {"the sound removed", [](const std::string& f) { fs::remove(f + "/sound.wav"); },
         "missingFiles", "sound.wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recording rec;
        ASSERT_EQ(rec.verify({"--manifest"}).status, 0);
        c.change(rec.folder);
        const RunResult run = rec.verify({"--json"});
        const Json doc = Json::parse(run.out);
        EXPECT_EQ(doc.at("summary").at("pictureAltered").get<long long>(), 0);
        EXPECT_EQ(run.status, 4) << run.out << run.err;
        const Json& list = doc.at("manifest").at(c.key);
        ASSERT_EQ(list.size(), 1u) << run.out;
        EXPECT_EQ(list.at(0).get<std::string>(), c.file);
        // Text mode names it as well.
        const RunResult text = rec.verify({});
        EXPECT_EQ(text.status, 4);
        EXPECT_NE(text.out.find(c.file), std::string::npos) << text.out;
    }
}

TEST(Manifest, ASavingRunWithoutItsSoundLineIsIncomplete) {
    Recording rec;
    ASSERT_EQ(rec.verify({"--manifest"}).status, 0);
    std::string text = readText(rec.folder + "/SHA256SUMS");
    const std::size_t sound = text.rfind('\n', text.find("  sound.wav"));
    text.erase(sound + 1, text.find('\n', sound + 1) - sound);
    std::ofstream(rec.folder + "/SHA256SUMS", std::ios::trunc) << text;
    const RunResult run = rec.verify({"--json"});
    EXPECT_EQ(run.status, 4);
    const Json m = Json::parse(run.out).at("manifest");
    EXPECT_TRUE(m.at("incomplete").get<bool>());
    EXPECT_EQ(m.at("addedFiles").size(), 1u);
    EXPECT_NE(rec.verify({}).out.find("the saving run did not complete"), std::string::npos);
}

// The black picture the client writes at a save's start, with the capture time it later gets,
// passes the check but is reported as the client's, not as a recorded frame.
TEST(Placeholder, TheClientsBlackPictureIsToldApart) {
    Recording rec(3);
    const std::string first = rec.folder + "/IMG00001/000001.jp2";
    {
        const auto black = korvex::clientPlaceholderPicture();
        std::ofstream(first, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(black.data()),
                   static_cast<std::streamsize>(black.size()));
    }
    ASSERT_EQ(picvox::WriteSetTime(first, 757382400), 1);
    const RunResult run = rec.verify({"--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    const Json doc = Json::parse(run.out);
    EXPECT_TRUE(doc.at("frames").at(0).at("placeholder").get<bool>());
    EXPECT_EQ(doc.at("frames").at(0).at("flags").get<long long>(), 0);
    EXPECT_EQ(keysOf(doc.at("frames").at(1)).size(), 6u) << "other frames read as they always did";
    EXPECT_EQ(doc.at("summary").at("placeholder").get<long long>(), 1);
    EXPECT_NE(rec.verify({}).out.find("placeholder written by the client"), std::string::npos);
}

}  // namespace
