// korvex-mkrec writes recordings, korvex-verify reads them back: both programs end to end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnreachableFolder.h"
#include "tests/tools/ReportJson.h"
#include "tools/recgen/FrameRenderer.h"

namespace {

namespace fs = std::filesystem;
using korvex::test::programFromEnv;
using korvex::test::readText;
using korvex::test::runProgram;
using korvex::test::RunResult;
using korvex::test::TempDir;
using toolstest::Json;
using toolstest::keysOf;

std::string mkrec() {
    return programFromEnv("KORVEX_MKREC");
}
std::string verifier() {
    return programFromEnv("KORVEX_VERIFY");
}

enum class Spoil { Coded, Time, Cut, NoTrailer };

struct RecordingCase {
    const char* name;
    std::vector<std::string> args;  // korvex-mkrec options besides the folder
    const char* kind;
    const char* extension;
    int frames;
    int channels;  // channels in the INFO file; 0 = no INFO (channel -1)
    std::uint32_t intervalMs;
    std::string start;  // first capture time as korvex-mkrec was told
    int perFolder;      // 0 = flat
    bool timeTxt;
    bool shortTrailers;
    std::map<int, Spoil> damage;
    int exitStatus;
    int undamagedFlags = -2;  // -2: 0, or 4 with short trailers
};

void PrintTo(const RecordingCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<RecordingCase>& cases() {
    static const std::vector<RecordingCase> all = {
        {"jpeg_flat_info_all_damage",
         {"--kind", "jpeg", "--layout", "flat", "--channels", "2", "--titles", "GATE,YARD",
          "--damage", "1:coded,3:time,5:cut", "--damage", "7:none"},
         "jpeg",
         "jpg",
         9,
         2,
         100,
         "2024-01-01 00:00:00",
         0,
         false,
         false,
         {{1, Spoil::Coded}, {3, Spoil::Time}, {5, Spoil::Cut}, {7, Spoil::NoTrailer}},
         1},
        {"jpeg_wav_no_info_time_txt_over_midnight",
         {"--kind", "jpeg", "--sound", "wav", "--no-info", "--time-txt", "--interval-ms", "700",
          "--start", "2024-02-28 23:59:59"},
         "jpeg",
         "jpg",
         7,
         0,
         700,
         "2024-02-28 23:59:59",
         200,
         true,
         false,
         {},
         0},
        {"jp2wav_sound_folder_small_subfolders",
         {"--kind", "jp2wav", "--sound-dir", "SOUND", "--channels", "3", "--per-folder", "4",
          "--damage", "2:coded,6:time,9:none"},
         "jp2wav",
         "jp2",
         11,
         3,
         100,
         "2024-01-01 00:00:00",
         4,
         false,
         false,
         {{2, Spoil::Coded}, {6, Spoil::Time}, {9, Spoil::NoTrailer}},
         1},
        {"jp2mp3_no_info_damage",
         {"--kind", "jp2mp3", "--no-info", "--damage", "1:cut,2:none,3:coded,4:time"},
         "jp2mp3",
         "jp2",
         6,
         0,
         100,
         "2024-01-01 00:00:00",
         200,
         false,
         false,
         {{1, Spoil::Cut}, {2, Spoil::NoTrailer}, {3, Spoil::Coded}, {4, Spoil::Time}},
         1},
        {"jp2_flat_without_sound_16_channels",
         {"--kind", "jp2mp3", "--sound", "none", "--layout", "flat", "--time-txt", "--channels",
          "16", "--size", "32x32", "--interval-ms", "40"},
         "jp2mp3",
         "jp2",
         20,
         16,
         40,
         "2024-01-01 00:00:00",
         0,
         true,
         false,
         {},
         0},
        {"jp2wav_704x480",
         {"--kind", "jp2wav", "--size", "704x480", "--start", "2029-12-23 23:59:58",
          "--interval-ms", "1000"},
         "jp2wav",
         "jp2",
         2,
         1,
         1000,
         "2029-12-23 23:59:58",
         200,
         false,
         false,
         {},
         0},
        {"jpeg_720x248_stereo_sound",
         {"--kind", "jpeg", "--sound", "wav", "--stereo", "--size", "720x248"},
         "jpeg",
         "jpg",
         2,
         1,
         100,
         "2024-01-01 00:00:00",
         200,
         false,
         false,
         {},
         0},
        {"short_trailers_have_no_time",
         {"--kind", "jpeg", "--layout", "flat", "--short-trailers", "--damage", "2:coded"},
         "jpeg",
         "jpg",
         4,
         1,
         100,
         "2024-01-01 00:00:00",
         0,
         false,
         true,
         {{2, Spoil::Coded}},
         1},
    };
    return all;
}

int expectedFlags(const RecordingCase& c, int index) {
    const auto it = c.damage.find(index);
    const int intact = c.shortTrailers ? 4 : 0;
    if (it == c.damage.end())
        return intact;
    switch (it->second) {
        // The time checksum covers the picture sum, so a changed picture spoils it as well.
        case Spoil::Coded:
            return c.shortTrailers ? 5 : 3;
        case Spoil::Time:
            return 2;
        case Spoil::Cut:
            return 7;
        case Spoil::NoTrailer:
            return 7;
    }
    return -1;
}

std::string expectedPath(const std::string& folder, const RecordingCase& c, int index) {
    char name[64];
    if (c.perFolder == 0) {
        std::snprintf(name, sizeof name, "/%06d.%s", index + 1, c.extension);
    } else {
        std::snprintf(name, sizeof name, "/IMG%05d/%06d.%s", index / c.perFolder + 1, index + 1,
                      c.extension);
    }
    return folder + name;
}

class RecordingRoundTrip : public ::testing::TestWithParam<RecordingCase> {};

TEST_P(RecordingRoundTrip, VerifierReportsWhatWasWritten) {
    const RecordingCase& c = GetParam();
    TempDir tmp;
    const std::string folder = tmp / "rec";
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--quiet", "--frames", std::to_string(c.frames), folder});
    if (std::find(args.begin(), args.end(), "--size") == args.end()) {
        args.insert(args.begin(), {"--size", "64x48"});
    }
    const RunResult made = runProgram(mkrec(), args, tmp.path());
    ASSERT_EQ(made.status, 0) << made.err;

    const RunResult run = runProgram(verifier(), {"--json", folder}, tmp.path());
    EXPECT_EQ(run.status, c.exitStatus) << run.err;
    Json doc;
    ASSERT_NO_THROW(doc = Json::parse(run.out)) << run.out;
    EXPECT_EQ(keysOf(doc),
              (std::vector<std::string>{"folder", "kind", "frames", "unreadable", "summary"}));
    EXPECT_EQ(doc.at("folder").get<std::string>(), folder);
    EXPECT_EQ(doc.at("kind").get<std::string>(), c.kind);

    std::uint32_t start = 0;
    ASSERT_TRUE(korvex::gen::parseDvrTime(c.start, start));
    const Json& frames = doc.at("frames");
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(c.frames));
    int intact = 0, picture = 0, time = 0, noTime = 0;
    for (int i = 0; i < c.frames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const Json& f = frames[static_cast<std::size_t>(i)];
        EXPECT_EQ(keysOf(f), (std::vector<std::string>{"index", "path", "channel", "flags", "time",
                                                       "offsetMs"}));
        const int flags = static_cast<int>(f.at("flags").get<long long>());
        EXPECT_EQ(f.at("index").get<long long>(), i);
        EXPECT_EQ(f.at("path").get<std::string>(), expectedPath(folder, c, i));
        EXPECT_EQ(f.at("channel").get<long long>(), c.channels == 0 ? -1 : i % c.channels);
        EXPECT_EQ(flags, expectedFlags(c, i));

        const std::uint32_t seconds = start + static_cast<std::uint32_t>(i) * c.intervalMs / 1000;
        const auto spoil = c.damage.find(i);
        if (flags & 4) {
            EXPECT_TRUE(f.at("time").is_null());
        } else if (c.channels == 0 && spoil != c.damage.end() && spoil->second == Spoil::Time) {
            // Without INFO the time comes from the trailer, spoiled as it is.
            EXPECT_NE(f.at("time").get<std::string>(), korvex::gen::formatDvrTime(seconds));
        } else {
            EXPECT_EQ(f.at("time").get<std::string>(), korvex::gen::formatDvrTime(seconds));
        }
        // Without INFO and time.txt a frame without trailer offers no offset of its own (its
        // last four bytes are picture data), so only the others are compared.
        const bool offsetKnown = c.channels != 0 || c.timeTxt || flags != 7;
        if (offsetKnown) {
            EXPECT_EQ(f.at("offsetMs").get<long long>(), i * static_cast<long long>(c.intervalMs));
        }

        if ((flags & 3) == 0)
            ++intact;
        if (flags & 1)
            ++picture;
        if (flags & 2)
            ++time;
        if (flags & 4)
            ++noTime;
    }
    const Json& s = doc.at("summary");
    EXPECT_EQ(keysOf(s),
              (std::vector<std::string>{"frames", "intact", "pictureAltered", "timeAltered",
                                        "noTime", "notChecked", "unreadable"}));
    EXPECT_EQ(s.at("unreadable").get<long long>(), 0);
    EXPECT_TRUE(doc.at("unreadable").empty());
    EXPECT_EQ(s.at("frames").get<long long>(), c.frames);
    EXPECT_EQ(s.at("intact").get<long long>(), intact);
    EXPECT_EQ(s.at("pictureAltered").get<long long>(), picture);
    EXPECT_EQ(s.at("timeAltered").get<long long>(), time);
    EXPECT_EQ(s.at("noTime").get<long long>(), noTime);
    EXPECT_EQ(s.at("notChecked").get<long long>(), 0);

    // Text mode tells the same story: a header, one line per frame, the summary.
    const RunResult text = runProgram(verifier(), {folder}, tmp.path());
    EXPECT_EQ(text.status, c.exitStatus);
    const auto lines = std::count(text.out.begin(), text.out.end(), '\n');
    EXPECT_EQ(lines, 4 + c.frames);
    EXPECT_NE(text.out.find("Summary: " + std::to_string(c.frames) +
                            " frames: " + std::to_string(intact) + " intact"),
              std::string::npos)
        << text.out;
}

INSTANTIATE_TEST_SUITE_P(Kinds, RecordingRoundTrip, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Each kind of korvex-mkrec --damage reads in korvex-verify as its help and the README say, in
// both check variants. The check reads the file's bytes whether or not the picture decodes: a
// JPEG cut in half is still checked (its coded data runs off the end: 7), a JPEG 2000 file cut in
// half is not, and the verifier says why.
TEST(Verify, EveryDamageKindReadsAsDocumented) {
    struct Row {
        const char* damage;
        long long jpegFlags;
        long long jp2Flags;
        const char* textMark;  // in the frame's text line, both variants
        bool decodes;
    };
    const Row rows[] = {
        {"coded", 3, 3, "IMAGE ALTERED, TIME ALTERED  ", true},
        {"time", 2, 2, "TIME ALTERED  ", true},
        {"cut", 7, 7, "no valid time (no complete trailer)", true},
        {"none", 7, 7, "no valid time (no complete trailer)", true},
        {"half", 7, -1, "", false},
    };
    for (const char* kind : {"jpeg", "jp2wav"}) {
        SCOPED_TRACE(kind);
        const bool jpeg = std::string(kind) == "jpeg";
        TempDir tmp;
        const std::string folder = tmp / "rec";
        std::string damage;
        for (std::size_t i = 0; i < std::size(rows); ++i)
            damage += (i ? "," : "") + std::to_string(i + 1) + ":" + rows[i].damage;
        const RunResult made = runProgram(mkrec(),
                                          {"--quiet", "--kind", kind, "--frames", "6", "--size",
                                           "64x48", "--damage", damage, folder},
                                          tmp.path());
        ASSERT_EQ(made.status, 0) << made.err;
        const RunResult json = runProgram(verifier(), {"--json", folder}, tmp.path());
        EXPECT_EQ(json.status, 1);  // some frame altered
        const Json doc = Json::parse(json.out);
        const RunResult text = runProgram(verifier(), {folder}, tmp.path());
        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = text.out.find('\n', at)) != std::string::npos;
             at = end + 1) {
            lines.push_back(text.out.substr(at, end - at));
        }
        ASSERT_EQ(lines.size(), 4u + 6u) << text.out;
        EXPECT_EQ(doc.at("frames").at(0).at("flags").get<long long>(), 0);
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            const Row& r = rows[i];
            SCOPED_TRACE(r.damage);
            const long long flags = jpeg ? r.jpegFlags : r.jp2Flags;
            EXPECT_EQ(doc.at("frames").at(i + 1).at("flags").get<long long>(), flags);
            const std::string& line = lines[3 + i + 1];
            EXPECT_NE(line.find(r.textMark), std::string::npos) << line;
            EXPECT_EQ(line.find("picture does not decode") != std::string::npos, !r.decodes)
                << line;
            if (flags < 0) {
                EXPECT_NE(line.find("NOT CHECKED (no end marker FF D9: the file is cut short)"),
                          std::string::npos)
                    << line;
            }
        }
    }
}

// Cases where the verifier reports what the viewer would do with frames that cannot be checked,
// or with capture times out of range.
TEST(Verify, UncheckableFramesGiveStatusThree) {
    // A raw code-stream has no JP2 signature for the check, so it stays unchecked. A JPEG 2000
    // picture of 720x480 does not fit the decoder's block, but its trailer is checked all the same.
    struct Row {
        std::vector<std::string> args;
        int status;
        long long flags;
        const char* textMark;
    };
    const Row rows[] = {
        {{"--codestream", "--size", "32x32", "--frames", "3"}, 3, -1, "NOT CHECKED"},
        {{"--size", "720x480", "--frames", "1"}, 0, 0, "ok, picture does not decode"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.front());
        TempDir tmp;
        const std::string folder = tmp / "rec";
        std::vector<std::string> args = {"--quiet", "--kind", "jp2mp3", "--sound", "none", folder};
        args.insert(args.begin(), row.args.begin(), row.args.end());
        ASSERT_EQ(runProgram(mkrec(), args, tmp.path()).status, 0);
        const RunResult run = runProgram(verifier(), {"--json", folder}, tmp.path());
        EXPECT_EQ(run.status, row.status);
        const Json doc = Json::parse(run.out);
        for (const Json& f : doc.at("frames")) {
            EXPECT_EQ(f.at("flags").get<long long>(), row.flags);
            // The index still gives the time and offset of a frame the check could not read.
            EXPECT_EQ(f.at("time").get<std::string>(), "2024-01-01 00:00:00");
            EXPECT_EQ(f.at("offsetMs").get<long long>(), f.at("index").get<long long>() * 100);
        }
        const auto frames = static_cast<long long>(doc.at("frames").size());
        EXPECT_EQ(doc.at("summary").at("notChecked").get<long long>(), row.flags < 0 ? frames : 0);
        EXPECT_EQ(doc.at("summary").at("intact").get<long long>(), row.flags < 0 ? 0 : frames);
        EXPECT_NE(runProgram(verifier(), {folder}, tmp.path()).out.find(row.textMark),
                  std::string::npos);
    }
}

TEST(Verify, CaptureTimesOutOfRange) {
    // With an INFO file the index marks such frames 3 before the check could look at them (the
    // viewer shows them as altered); without one the check reports bit 2.
    const struct {
        bool info;
        int flags;
        int status;
    } rows[] = {{true, 3, 1}, {false, 4, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.info ? "with INFO" : "without INFO");
        TempDir tmp;
        const std::string folder = tmp / "rec";
        std::vector<std::string> args = {"--quiet",   "--kind", "jpeg",  "--frames",
                                         "2",         "--size", "32x32", "--start-seconds",
                                         "946080000", folder};
        if (!row.info)
            args.insert(args.begin(), "--no-info");
        ASSERT_EQ(runProgram(mkrec(), args, tmp.path()).status, 0);
        const RunResult run = runProgram(verifier(), {"--json", folder}, tmp.path());
        EXPECT_EQ(run.status, row.status);
        const Json doc = Json::parse(run.out);
        for (const Json& f : doc.at("frames")) {
            EXPECT_EQ(f.at("flags").get<long long>(), row.flags);
            EXPECT_TRUE(f.at("time").is_null());
        }
    }
}

TEST(Verify, OutputDoesNotDependOnTheMachinesTimeZone) {
    TempDir tmp;
    const std::string folder = tmp / "rec";
    ASSERT_EQ(
        runProgram(mkrec(),
                   {"--quiet", "--kind", "jpeg", "--no-info", "--frames", "3", "--size", "32x32",
                    "--start", "2024-03-31 01:59:59", "--interval-ms", "1000", folder},
                   tmp.path())
            .status,
        0);
    std::vector<std::string> outputs;
    for (const char* tz : {"TZ=UTC", "TZ=America/New_York", "TZ=Europe/London", "TZ=Asia/Tokyo",
                           "TZ=Pacific/Kiritimati"}) {
        const RunResult run = runProgram(verifier(), {"--json", folder}, tmp.path(), {tz});
        ASSERT_EQ(run.status, 0) << tz;
        outputs.push_back(run.out);
    }
    for (const auto& out : outputs)
        EXPECT_EQ(out, outputs.front());
    EXPECT_NE(outputs.front().find("\"2024-03-31 02:00:01\""), std::string::npos);
}

// A subfolder that cannot be read must not leave a report of "all intact": it is named on stderr
// and in the report, counted, and the run ends as for an unreadable recording, in both formats.
// When even the first subfolder cannot be read there is nothing to report but why.
TEST(Verify, UnreadableSubfoldersAreNamedAndFailTheRun) {
    TempDir tmp;
    const std::string rec =
        korvex::test::makeDeepFolder(tmp.path() / "deep", korvex::test::kDeepRecordingLength);
    fs::remove(rec);  // mkrec creates the recording folder itself
    ASSERT_EQ(runProgram(mkrec(),
                         {"--quiet", "--kind", "jp2mp3", "--sound", "none", "--frames", "3",
                          "--size", "32x32", rec},
                         tmp.path())
                  .status,
              0);
    const std::string later = "IMG00002" + std::string(40, 'x');
    const std::string first = "IMG00000" + std::string(40, 'x');
    ASSERT_TRUE(korvex::test::unreachableFolder(rec, later));

    const RunResult json = runProgram(verifier(), {"--json", rec}, tmp.path());
    EXPECT_EQ(json.status, 2);
    EXPECT_NE(json.err.find("cannot read " + rec + "/" + later), std::string::npos) << json.err;
    const Json doc = Json::parse(json.out);
    EXPECT_EQ(doc.at("summary").at("intact").get<long long>(), 3);
    EXPECT_EQ(doc.at("summary").at("unreadable").get<long long>(), 1);
    ASSERT_EQ(doc.at("unreadable").size(), 1u);
    EXPECT_EQ(doc.at("unreadable").at(0).at("path").get<std::string>(), rec + "/" + later);
    EXPECT_FALSE(doc.at("unreadable").at(0).at("reason").get<std::string>().empty());

    const RunResult text = runProgram(verifier(), {rec}, tmp.path());
    EXPECT_EQ(text.status, 2);
    EXPECT_NE(text.out.find("1 part of the recording unreadable"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find(later), std::string::npos);

    ASSERT_TRUE(korvex::test::unreachableFolder(rec, first));
    const RunResult none = runProgram(verifier(), {"--json", rec}, tmp.path());
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.out.empty());
    EXPECT_NE(none.err.find("cannot read " + rec + "/" + first), std::string::npos) << none.err;

    korvex::test::unreachableFolder(rec, later, true);
    korvex::test::unreachableFolder(rec, first, true);
}

TEST(Verify, RefusesWhatIsNotARecording) {
    TempDir tmp;
    fs::create_directories(tmp.path() / "empty");
    fs::create_directories(tmp.path() / "soundonly");
    std::ofstream(tmp.path() / "soundonly" / "sound.wav") << "RIFF";
    std::ofstream(tmp.path() / "plainfile") << "x";
    // JPEG 2000 pictures beside sound.wav but not in subfolders: the viewer finds no frames.
    ASSERT_EQ(runProgram(mkrec(),
                         {"--quiet", "--kind", "jp2wav", "--layout", "flat", "--frames", "2",
                          "--size", "32x32", tmp / "flatwithsound"},
                         tmp.path())
                  .status,
              0);

    const std::vector<std::vector<std::string>> argLists = {
        {tmp / "missing"},
        {tmp / "plainfile"},
        {tmp / "empty"},
        {tmp / "soundonly"},
        {tmp / "flatwithsound"},
        {"--json", tmp / "empty"},
        {},
        {"--frobnicate", tmp / "empty"},
        {tmp / "empty", tmp / "soundonly"},
    };
    for (const auto& args : argLists) {
        SCOPED_TRACE(args.empty() ? std::string("(no arguments)") : args.back());
        const RunResult run = runProgram(verifier(), args, tmp.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_NE(run.err.find("korvex-verify: "), std::string::npos) << run.err;
    }
}

TEST(Mkrec, RejectsBadArguments) {
    TempDir tmp;
    const std::string folder = tmp / "rec";
    const std::vector<std::vector<std::string>> argLists = {
        {},
        {"--frames", "0", folder},
        {"--frames", "ten", folder},
        {"--size", "704", folder},
        {"--size", "4x4", folder},
        {"--kind", "mpeg", folder},
        {"--kind", "jp2wav", "--sound", "mp3", folder},
        {"--kind", "jpeg", "--sound", "mp3", folder},
        {"--channels", "17", folder},
        {"--channel-numbers", "1,1", folder},
        {"--titles", "A,B", folder},
        {"--titles", "SEVENTEEN-LETTERS", folder},
        {"--damage", "3", folder},
        {"--damage", "3:burnt", folder},
        {"--frames", "5", "--damage", "5:coded", folder},
        {"--start", "2024-02-30 00:00:00", folder},
        {"--start", "1999-12-31 23:59:59", folder},
        {"--interval-ms", "0", folder},
        {"--frames", "1000000", "--interval-ms", "3600000", folder},
        {"--layout", "tree", folder},
        {"--frames"},
        {"--bogus", folder},
        {folder, tmp / "second"},
    };
    for (const auto& args : argLists) {
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        const RunResult run = runProgram(mkrec(), args, tmp.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("korvex-mkrec: "), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(folder));
    }
}

TEST(Mkrec, NeverWritesIntoAFolderThatHoldsFiles) {
    TempDir tmp;
    fs::create_directories(tmp.path() / "rec");
    std::ofstream(tmp.path() / "rec" / "000001.jpg") << "old";
    const RunResult run = runProgram(mkrec(), {"--frames", "2", tmp / "rec"}, tmp.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not empty"), std::string::npos) << run.err;
    EXPECT_EQ(readText(tmp.path() / "rec" / "000001.jpg"), "old");
}

// Same arguments, same bytes: tests and benchmarks depend on it.
TEST(Mkrec, SameSeedWritesIdenticalFiles) {
    TempDir tmp;
    auto make = [&](const std::string& name, const char* seed, const char* kind) {
        const RunResult r =
            runProgram(mkrec(),
                       {"--quiet", "--kind", kind, "--frames", "6", "--size", "64x48", "--channels",
                        "2", "--time-txt", "--seed", seed, "--damage", "4:coded", tmp / name},
                       tmp.path());
        EXPECT_EQ(r.status, 0) << r.err;
    };
    auto files = [&](const std::string& name) {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(tmp.path() / name)) {
            if (e.is_regular_file()) {
                out[fs::relative(e.path(), tmp.path() / name).string()] = readText(e.path());
            }
        }
        return out;
    };
    for (const char* kind : {"jpeg", "jp2wav", "jp2mp3"}) {
        SCOPED_TRACE(kind);
        const std::string k = kind;
        make(k + "a", "7", kind);
        make(k + "b", "7", kind);
        make(k + "c", "8", kind);
        const auto a = files(k + "a");
        EXPECT_EQ(a, files(k + "b"));
        const auto c = files(k + "c");
        ASSERT_EQ(a.size(), c.size());
        const std::string first = std::string("IMG00001/000001.") + (k == "jpeg" ? "jpg" : "jp2");
        EXPECT_NE(a.at(first), c.at(first)) << "the seed changes the pictures";
    }
}

}  // namespace

namespace {

// Long runs say how far they are on stderr: on a terminal by themselves, into a file or a pipe
// when asked, a line at every tenth; the report on stdout stays as it is.
TEST(Progress, BothToolsCountTheirFramesOnStandardError) {
    TempDir tmp;
    const std::string folder = tmp / "rec";
    const RunResult quiet =
        runProgram(mkrec(), {"--quiet", "--frames", "20", "--size", "32x32", folder}, tmp.path());
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");  // not a terminal, not asked

    // Frame 1 of 20 is 5 %, the first tenth; then each tenth once, at frames 2, 4, ... 20.
    std::string expected = "korvex-verify: 1 / 20 frames (5 %)\n";
    for (int tenth = 1; tenth <= 10; ++tenth) {
        expected += "korvex-verify: " + std::to_string(2 * tenth) + " / 20 frames (" +
                    std::to_string(10 * tenth) + " %)\n";
    }
    const RunResult plain = runProgram(verifier(), {"--json", folder}, tmp.path());
    const RunResult shown = runProgram(verifier(), {"--json", "--progress", folder}, tmp.path());
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(shown.out, plain.out);
    EXPECT_EQ(shown.err, expected);

    const std::string again = tmp / "again";
    const RunResult made =
        runProgram(mkrec(), {"--progress", "--frames", "20", "--size", "32x32", again}, tmp.path());
    ASSERT_EQ(made.status, 0);
    EXPECT_NE(made.err.find("korvex-mkrec: 20 / 20 frames (100 %)\n"), std::string::npos)
        << made.err;
    const auto lines = std::count(made.err.begin(), made.err.end(), '\n');
    EXPECT_EQ(lines, 11) << made.err;
    EXPECT_EQ(runProgram(mkrec(),
                         {"--quiet", "--progress", "--frames", "2", "--size", "32x32", tmp / "q"},
                         tmp.path())
                  .err,
              "");
}

}  // namespace
