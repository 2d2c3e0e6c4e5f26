// The simulated recorder: what it serves and the faults it puts in.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <cstring>
#include <string>
#include <vector>

#include "platform/net/HttpConnection.h"
#include "platform/net/HttpFile.h"
#include "platform/net/InternetSession.h"
#include "recording/AuthenticityCheck.h"
#include "tests/http/TestSupport.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/recgen/RecordingWriter.h"

namespace {

using korvex::sim::DvrSim;

struct Answer {
    std::uint32_t status = 0;
    std::string body;
};

Answer fetch(const DvrSim& sim, const std::string& target) {
    platform::InternetSession session;
    auto connection =
        session.getHttpConnection("127.0.0.1", static_cast<std::uint16_t>(sim.port()));
    auto file = connection->openRequest("GET", target, 0);
    file->sendRequest();
    Answer answer;
    file->queryInfoStatusCode(answer.status);
    char buffer[4096];
    for (;;) {
        const std::size_t n = file->read(buffer, sizeof buffer);
        answer.body.append(buffer, n);
        if (n < sizeof buffer)
            break;
    }
    return answer;
}

std::vector<std::int16_t> samplesOf(const std::string& wav) {
    std::vector<std::int16_t> samples((wav.size() - 44) / 2);
    std::memcpy(samples.data(), wav.data() + 44, samples.size() * 2);
    return samples;
}

class DvrSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        options_.content.width = 64;
        options_.content.height = 48;
        options_.content.recordedFrames = 5;
        options_.segmentMs = 100;
        options_.soundSinceLastRequest = false;  // one segment per answer
        sim_ = std::make_unique<DvrSim>(options_);
        std::string error;
        ASSERT_TRUE(sim_->start(&error)) << error;
    }
    korvex::sim::DvrSimOptions options_;
    std::unique_ptr<DvrSim> sim_;
};

TEST(DlimgNumber, FindsTheFrameNumberOfTheQuery) {
    struct Case {
        const char* target;
        int number;
    };
    const Case cases[] = {
        {"/dvr/record.jp2?dlimg=10", 10},
        {"/r.jp2?cam=1?dlimg=10", 10},
        {"/r.jp2?cam=1&dlimg=3", 3},
        {"/r.jp2?dlimg=3&cam=1", 3},
        {"/r.jp2", -1},
        {"/r.jp2?dlimg=", -1},
        {"/r.jp2?dlimg=x", -1},
        {"/r.jp2?xdlimg=5", -1},
        {"/r.jp2?dlimg=5x", -1},
        {"/dlimg=5", -1},
        {"/r.jp2?dlimg=99999999999999", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(korvex::sim::dlimgNumber(c.target), c.number) << c.target;
}

TEST_F(DvrSimTest, TheNewestFrameCarriesAValidTrailer) {
    const Answer answer = fetch(*sim_, DvrSim::kLiveImagePath);
    ASSERT_EQ(answer.status, 200u);
    const std::vector<std::uint8_t> frame(answer.body.begin(), answer.body.end());
    korvex::CheckResult result;
    ASSERT_TRUE(korvex::checkJpeg2000(frame, result));
    EXPECT_EQ(result.flags, 0);
    EXPECT_GT(result.time, 0);
}

TEST_F(DvrSimTest, TheRecordedStretchEndsWith404) {
    for (int n = 1; n <= 5; ++n) {
        const Answer answer =
            fetch(*sim_, std::string(DvrSim::kRecordImagePath) + "?dlimg=" + std::to_string(n));
        ASSERT_EQ(answer.status, 200u) << n;
        const std::vector<std::uint8_t> frame(answer.body.begin(), answer.body.end());
        korvex::CheckResult result;
        ASSERT_TRUE(korvex::checkJpeg2000(frame, result));
        EXPECT_EQ(result.flags, 0);
        EXPECT_EQ(result.offsetMs, static_cast<std::uint32_t>((n - 1) * 200));
    }
    for (const char* bad : {"?dlimg=6", "?dlimg=0", "", "?dlimg=-1"}) {
        EXPECT_EQ(fetch(*sim_, std::string(DvrSim::kRecordImagePath) + bad).status, 404u) << bad;
    }
    const Answer sound = fetch(*sim_, DvrSim::kRecordSoundPath);
    EXPECT_EQ(sound.body.size(), 44u + 5u * 200u * 16u);
    const Answer info = fetch(*sim_, DvrSim::kRecordInfoPath);
    ASSERT_EQ(info.body.size(), 1024u + 5u * 16u);
    EXPECT_EQ(static_cast<unsigned char>(info.body[0]), 5u);  // record count
}

TEST_F(DvrSimTest, SoundSegmentsFollowEachOther) {
    const Answer first = fetch(*sim_, DvrSim::kInitSoundPath);
    const Answer second = fetch(*sim_, DvrSim::kLiveSoundPath);
    const Answer third = fetch(*sim_, DvrSim::kLiveSoundPath);
    for (const Answer* a : {&first, &second, &third}) {
        ASSERT_EQ(a->status, 200u);
        ASSERT_EQ(a->body.size(), 44u + 1600u);
        EXPECT_EQ(a->body.substr(0, 4), "RIFF");
        EXPECT_EQ(a->body.substr(8, 8), "WAVEfmt ");
    }
    // The generated sound repeats every second (ten segments); find where the first segment lies
    // and expect the next two to continue from there.
    korvex::sim::SimContent content;
    ASSERT_TRUE(content.open(options_.content, nullptr));
    const auto a = samplesOf(first.body);
    int found = -1;
    for (int k = 0; k < 10 && found < 0; ++k) {
        if (content.liveSamples(static_cast<std::uint64_t>(k) * 800, 800) == a)
            found = k;
    }
    ASSERT_GE(found, 0);
    EXPECT_EQ(samplesOf(second.body), content.liveSamples((found + 1) * 800ull, 800));
    EXPECT_EQ(samplesOf(third.body), content.liveSamples((found + 2) * 800ull, 800));
}

// A client asking less often than once a segment gets all the sound recorded meanwhile, in one
// answer that continues where the last one ended.
TEST(DvrSimPace, ALiveAnswerCarriesTheSoundSinceTheLastOne) {
    korvex::sim::DvrSimOptions options;
    options.segmentMs = 100;
    options.content.clockSound = true;
    DvrSim sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    const Answer first = fetch(sim, DvrSim::kInitSoundPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    const Answer next = fetch(sim, DvrSim::kLiveSoundPath);
    ASSERT_EQ(first.body.size(), 44u + 1600u);
    ASSERT_GT(next.body.size(), 44u + 3u * 1600u);
    EXPECT_EQ((next.body.size() - 44u) % 1600u, 0u);
    const auto a = samplesOf(first.body);
    const auto b = samplesOf(next.body);
    // The clock sound holds each sample's millisecond: 8 samples a millisecond at 8 kHz.
    EXPECT_EQ(static_cast<std::uint16_t>(b.front()), static_cast<std::uint16_t>(a.back()) + 1);
    EXPECT_EQ(static_cast<std::uint16_t>(b.back()),
              static_cast<std::uint16_t>(a.back()) + b.size() / 8);
}

TEST_F(DvrSimTest, FaultsApplyInTurnAndOnlyToTheirPath) {
    sim_->addResource("/a", "alpha");
    sim_->addResource("/b", "beta");
    korvex::sim::Faults faults;
    faults.path = "/a";
    faults.notFoundStorm = 1;
    faults.errorStatus = 503;
    faults.errorCount = 2;
    faults.latencyMs = 1;
    sim_->setFaults(faults);
    EXPECT_EQ(fetch(*sim_, "/a").status, 404u);
    EXPECT_EQ(fetch(*sim_, "/a").status, 503u);
    EXPECT_EQ(fetch(*sim_, "/b").body, "beta");
    EXPECT_EQ(fetch(*sim_, "/a").status, 503u);
    const Answer ok = fetch(*sim_, "/a");
    EXPECT_EQ(ok.status, 200u);
    EXPECT_EQ(ok.body, "alpha");
    EXPECT_EQ(sim_->requestCount("/a"), 4);
    EXPECT_EQ(fetch(*sim_, "/").body, sim_->describe());
}

TEST(DvrSimRecording, ServesARecordingFolder) {
    testsupport::TempDir dir("simrec");
    korvex::gen::RecordingSpec spec;
    spec.frames = 4;
    spec.width = 64;
    spec.height = 48;
    spec.intervalMs = 250;
    spec.startDvrSeconds = 1000;
    const korvex::gen::RecordingResult written = korvex::gen::writeRecording(dir.file("rec"), spec);
    ASSERT_TRUE(written.ok) << written.error;

    korvex::sim::DvrSimOptions options;
    options.content.recordingFolder = dir.file("rec");
    options.segmentMs = 100;
    DvrSim sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;

    for (int n = 1; n <= 4; ++n) {
        const Answer answer =
            fetch(sim, std::string(DvrSim::kRecordImagePath) + "?dlimg=" + std::to_string(n));
        EXPECT_EQ(answer.body, testsupport::readText(written.frames[n - 1].path)) << n;
    }
    EXPECT_EQ(fetch(sim, std::string(DvrSim::kRecordImagePath) + "?dlimg=5").status, 404u);
    EXPECT_EQ(fetch(sim, DvrSim::kRecordSoundPath).body, testsupport::readText(written.soundPath));
    EXPECT_EQ(fetch(sim, DvrSim::kRecordInfoPath).body, testsupport::readText(written.infoPath));

    // Live frames are the recording's pictures with a fresh trailer.
    const Answer live = fetch(sim, DvrSim::kLiveImagePath);
    const std::vector<std::uint8_t> frame(live.body.begin(), live.body.end());
    korvex::CheckResult result;
    ASSERT_TRUE(korvex::checkJpeg2000(frame, result));
    EXPECT_EQ(result.flags, 0);
    const Answer sound = fetch(sim, DvrSim::kInitSoundPath);
    EXPECT_EQ(sound.body.size(), 44u + 800u * 2u);  // 100 ms at the recording's 8 kHz
}

TEST(DvrSimRecording, RefusesAFolderWithoutFrames) {
    testsupport::TempDir dir("simempty");
    korvex::sim::DvrSimOptions options;
    options.content.recordingFolder = dir.path();
    DvrSim sim(options);
    std::string error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_NE(error.find("no JPEG 2000 frames"), std::string::npos);
}

}  // namespace
