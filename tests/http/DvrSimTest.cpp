// The simulated recorder: what it serves and the faults it puts in.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/HttpConnection.h"
#include "platform/net/HttpFile.h"
#include "platform/net/InternetSession.h"
#include "recording/AuthenticityCheck.h"
#include "tests/support/Files.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/dvrsim/SimArguments.h"
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

// One GET over a plain socket, for what the control's client does not hand out: the response's
// headers (names in lower case) and its exact bytes.
struct RawAnswer {
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
};

RawAnswer rawGet(int port, const std::string& target) {
    RawAnswer answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return answer;
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string all;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            char buffer[65536];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                all.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    const std::size_t headEnd = all.find("\r\n\r\n");
    if (all.rfind("HTTP/1.", 0) != 0 || headEnd == std::string::npos)
        return answer;
    answer.status = std::atoi(all.c_str() + 9);
    std::size_t line = all.find("\r\n") + 2;
    while (line < headEnd) {
        const std::size_t end = all.find("\r\n", line);
        const std::size_t colon = all.find(':', line);
        if (colon < end) {
            std::string name = all.substr(line, colon - line);
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            answer.headers[name] = all.substr(colon + 2, end - colon - 2);
        }
        line = end + 2;
    }
    answer.body = all.substr(headEnd + 4);
    return answer;
}

std::string header(const RawAnswer& answer, const std::string& name) {
    const auto it = answer.headers.find(name);
    return it == answer.headers.end() ? std::string() : it->second;
}

std::uint32_t le(const std::string& bytes, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

// The format and data chunk of a canonical 44-byte-header WAV answer.
struct WavAnswer {
    korvex::sim::SoundFormat format;
    std::uint32_t riffSize = 0;
    std::uint32_t byteRate = 0;
    std::uint32_t blockAlign = 0;
    std::string data;
};

std::optional<WavAnswer> parseWav(const std::string& wav) {
    if (wav.size() < 44 || wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 8, "WAVEfmt ") != 0 ||
        wav.compare(36, 4, "data") != 0)
        return std::nullopt;
    WavAnswer out;
    out.riffSize = le(wav, 4, 4);
    out.format.channels = static_cast<int>(le(wav, 22, 2));
    out.format.sampleRate = static_cast<int>(le(wav, 24, 4));
    out.byteRate = le(wav, 28, 4);
    out.blockAlign = le(wav, 32, 2);
    out.format.bitsPerSample = static_cast<int>(le(wav, 34, 2));
    const std::uint32_t size = le(wav, 40, 4);
    if (44u + size > wav.size())
        return std::nullopt;
    out.data = wav.substr(44, size);
    return out;
}

// The sound-clock ramp of each whole sample frame, read from its first channel; empty when the
// channels of a frame differ.
std::vector<std::uint32_t> rampOf(const WavAnswer& wav) {
    const auto bytes = static_cast<std::size_t>(wav.format.bitsPerSample / 8);
    const std::size_t block = bytes * static_cast<std::size_t>(wav.format.channels);
    std::vector<std::uint32_t> ramp;
    for (std::size_t at = 0; at + block <= wav.data.size(); at += block) {
        for (std::size_t c = 1; c < static_cast<std::size_t>(wav.format.channels); ++c) {
            if (wav.data.compare(at, bytes, wav.data, at + c * bytes, bytes) != 0)
                return {};
        }
        // 8-bit: the ramp's low byte; wider: the ramp in the top 16 bits.
        ramp.push_back(bytes == 1 ? le(wav.data, at, 1) : le(wav.data, at + bytes - 2, 2));
    }
    return ramp;
}

// What the ramp holds for sample frame `frame` at `rate`.
std::uint32_t rampAt(std::uint64_t frame, int rate, int bits) {
    const std::uint64_t ms = frame * 1000 / static_cast<std::uint64_t>(rate);
    return static_cast<std::uint32_t>(bits == 8 ? ms % 256 : ms % 65536);
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

// Started again, the simulator is a recorder started afresh: its live sound begins at its new
// clock, not after the segments the old one had answered (it would keep a client waiting for
// them).
TEST(DvrSimPace, ARestartedRecorderStartsItsSoundAfresh) {
    korvex::sim::DvrSimOptions options;
    options.segmentMs = 100;
    options.content.clockSound = true;
    DvrSim sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    fetch(sim, DvrSim::kInitSoundPath);
    for (int i = 0; i < 10; ++i)
        fetch(sim, DvrSim::kLiveSoundPath);
    sim.stop();
    ASSERT_TRUE(sim.start(&error)) << error;
    const Answer next = fetch(sim, DvrSim::kLiveSoundPath);
    ASSERT_GT(next.body.size(), 44u);
    // The first segment of the new clock: its first millisecond is 0.
    EXPECT_EQ(samplesOf(next.body).front(), 0);
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

// ---- The faults a recorder shows in the field ----

korvex::sim::SoundFormat format(int rate, int channels, int bits) {
    return korvex::sim::SoundFormat{rate, channels, bits};
}

TEST_F(DvrSimTest, ARedirectCarriesItsLocationAndIsNotFollowed) {
    korvex::sim::Faults faults;
    faults.path = DvrSim::kLiveImagePath;
    faults.redirectStatus = 302;
    faults.redirectCount = 2;
    sim_->setFaults(faults);
    const RawAnswer first = rawGet(sim_->port(), DvrSim::kLiveImagePath);
    EXPECT_EQ(first.status, 302);
    EXPECT_EQ(header(first, "location"), sim_->baseUrl() + "login.html");
    EXPECT_EQ(header(first, "content-type"), "text/html");
    EXPECT_LT(first.body.size(), 100u);
    // The control's client reports the status and does not go where it points.
    EXPECT_EQ(fetch(*sim_, DvrSim::kLiveImagePath).status, 302u);
    EXPECT_EQ(sim_->requestCount(DvrSim::kLoginPath), 0);
    EXPECT_EQ(rawGet(sim_->port(), DvrSim::kLiveImagePath).status, 200);

    // Elsewhere, for every request: the login page itself still answers.
    faults.path.clear();
    faults.redirectStatus = 307;
    faults.redirectCount = -1;
    faults.redirectLocation = "http://elsewhere.invalid/dvr/live.jp2";
    sim_->setFaults(faults);
    for (const char* path : {DvrSim::kLiveSoundPath, DvrSim::kRecordInfoPath, "/anything"}) {
        const RawAnswer moved = rawGet(sim_->port(), path);
        EXPECT_EQ(moved.status, 307) << path;
        EXPECT_EQ(header(moved, "location"), faults.redirectLocation) << path;
    }
    const RawAnswer login = rawGet(sim_->port(), DvrSim::kLoginPath);
    EXPECT_EQ(login.status, 200);
    EXPECT_NE(login.body.find("<form"), std::string::npos);

    // A bare error status in the 3xx range says nowhere to go.
    faults = {};
    faults.errorStatus = 302;
    sim_->setFaults(faults);
    const RawAnswer bare = rawGet(sim_->port(), DvrSim::kLiveImagePath);
    EXPECT_EQ(bare.status, 302);
    EXPECT_EQ(header(bare, "location"), "");
}

TEST_F(DvrSimTest, SoundAnswersThatAreNotWavAreHtmlPages) {
    korvex::sim::Faults faults;
    faults.notWaveAnswers = 2;
    sim_->setFaults(faults);
    // Pictures are not sound: they neither change nor use the fault up.
    EXPECT_EQ(fetch(*sim_, DvrSim::kLiveImagePath).body.substr(4, 8),
              std::string("jP  \r\n\x87\n", 8));
    for (const char* path : {DvrSim::kInitSoundPath, DvrSim::kRecordSoundPath}) {
        const RawAnswer page = rawGet(sim_->port(), path);
        EXPECT_EQ(page.status, 200) << path;
        EXPECT_EQ(header(page, "content-type"), "text/html") << path;
        EXPECT_EQ(page.body.rfind("<!DOCTYPE html>", 0), 0u) << path;
    }
    EXPECT_TRUE(parseWav(rawGet(sim_->port(), DvrSim::kLiveSoundPath).body));

    faults.notWaveAnswers = -1;
    faults.path = DvrSim::kLiveSoundPath;
    sim_->setFaults(faults);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(parseWav(rawGet(sim_->port(), DvrSim::kLiveSoundPath).body));
    EXPECT_TRUE(parseWav(rawGet(sim_->port(), DvrSim::kInitSoundPath).body));
}

// The live sound changes format after N segments; the sound clock runs on across the change and
// in every format the ramp says where each frame lies.
TEST(DvrSimSound, TheLiveSoundSwitchesFormatAndItsClockRunsOn) {
    struct Case {
        korvex::sim::SoundFormat start;
        korvex::sim::SoundFormat after;
    };
    const Case cases[] = {
        {format(8000, 1, 16), format(8000, 1, 8)},    {format(8000, 1, 8), format(16000, 2, 16)},
        {format(16000, 2, 16), format(44100, 2, 16)}, {format(44100, 2, 16), format(48000, 2, 16)},
        {format(48000, 1, 16), format(22050, 1, 24)}, {format(22050, 1, 24), format(11025, 2, 32)},
    };
    constexpr int kSegmentMs = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start.sampleRate) + ":" + std::to_string(c.start.channels) +
                     ":" + std::to_string(c.start.bitsPerSample) + " -> " +
                     std::to_string(c.after.sampleRate) + ":" + std::to_string(c.after.channels) +
                     ":" + std::to_string(c.after.bitsPerSample));
        korvex::sim::DvrSimOptions options;
        options.segmentMs = kSegmentMs;
        options.soundSinceLastRequest = false;
        options.content.clockSound = true;
        options.content.sampleRate = c.start.sampleRate;
        options.content.channels = c.start.channels;
        options.content.bitsPerSample = c.start.bitsPerSample;
        options.formatSwitch = korvex::sim::FormatSwitch{2, c.after};
        DvrSim sim(options);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        // A fresh recorder's live sound starts with segment 0.
        for (std::uint64_t segment = 0; segment < 4; ++segment) {
            const std::optional<WavAnswer> wav =
                parseWav(rawGet(sim.port(), DvrSim::kLiveSoundPath).body);
            ASSERT_TRUE(wav) << segment;
            const korvex::sim::SoundFormat& want = segment < 2 ? c.start : c.after;
            EXPECT_EQ(wav->format, want) << segment;
            EXPECT_EQ(wav->blockAlign, static_cast<std::uint32_t>(want.blockAlign()));
            EXPECT_EQ(wav->byteRate,
                      static_cast<std::uint32_t>(want.sampleRate * want.blockAlign()));
            const auto rate = static_cast<std::uint64_t>(want.sampleRate);
            const std::uint64_t first = segment * kSegmentMs * rate / 1000;
            const std::uint64_t end = (segment + 1) * kSegmentMs * rate / 1000;
            EXPECT_EQ(wav->data.size(),
                      (end - first) * static_cast<std::uint64_t>(want.blockAlign()));
            const std::vector<std::uint32_t> ramp = rampOf(*wav);
            ASSERT_EQ(ramp.size(), end - first) << "channels differ";
            for (std::size_t i = 0; i < ramp.size(); ++i) {
                ASSERT_EQ(ramp[i], rampAt(first + i, want.sampleRate, want.bitsPerSample))
                    << "segment " << segment << " frame " << i;
            }
        }
        // The newest segment, too, comes in the new format.
        const std::optional<WavAnswer> initial =
            parseWav(rawGet(sim.port(), DvrSim::kInitSoundPath).body);
        ASSERT_TRUE(initial);
        EXPECT_EQ(initial->format, c.after);
    }
}

// An answer that would hold segments of both formats ends at the switch.
TEST(DvrSimSound, AnAnswerEndsAtTheFormatSwitch) {
    korvex::sim::DvrSimOptions options;
    options.segmentMs = 50;
    options.prerollMs = 1000;  // twenty segments are there at once
    options.content.clockSound = true;
    options.formatSwitch = korvex::sim::FormatSwitch{3, format(16000, 2, 16)};
    DvrSim sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    const std::optional<WavAnswer> before =
        parseWav(rawGet(sim.port(), DvrSim::kLiveSoundPath).body);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->format, format(8000, 1, 16));
    EXPECT_EQ(before->data.size(), 3u * 400u * 2u);
    const std::optional<WavAnswer> after =
        parseWav(rawGet(sim.port(), DvrSim::kLiveSoundPath).body);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->format, format(16000, 2, 16));
    const std::vector<std::uint32_t> a = rampOf(*before);
    const std::vector<std::uint32_t> b = rampOf(*after);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.front(), a.back() + 1);
}

// Rates that do not divide a segment into whole frames still give a stream without a jump or a
// drift: n answers hold exactly the frames of n segments.
TEST(DvrSimSound, AnySampleRateRunsOnWithoutDrift) {
    struct Case {
        int rate;
        int segmentMs;
    };
    const Case cases[] = {{48000, 100}, {11025, 10}, {44100, 30}, {96000, 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.segmentMs) + " ms");
        korvex::sim::DvrSimOptions options;
        options.segmentMs = c.segmentMs;
        options.soundSinceLastRequest = false;
        options.content.clockSound = true;
        options.content.sampleRate = c.rate;
        DvrSim sim(options);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        std::vector<std::uint32_t> ramp;
        constexpr int kAnswers = 7;
        for (int i = 0; i < kAnswers; ++i) {
            const std::optional<WavAnswer> wav =
                parseWav(rawGet(sim.port(), DvrSim::kLiveSoundPath).body);
            ASSERT_TRUE(wav);
            EXPECT_EQ(wav->format, format(c.rate, 1, 16));
            const std::vector<std::uint32_t> part = rampOf(*wav);
            ramp.insert(ramp.end(), part.begin(), part.end());
        }
        const auto frames = static_cast<std::size_t>(std::uint64_t{kAnswers} * c.segmentMs *
                                                     static_cast<std::uint64_t>(c.rate) / 1000);
        ASSERT_EQ(ramp.size(), frames);
        for (std::size_t i = 0; i < ramp.size(); ++i)
            ASSERT_EQ(ramp[i], rampAt(i, c.rate, 16)) << i;
    }
}

TEST(DvrSimSound, APartialBlockEndsTheDataAndTheNextAnswerStartsWhole) {
    struct Case {
        korvex::sim::SoundFormat format;
        std::size_t extraBytes;  // beyond the whole blocks
    };
    const Case cases[] = {
        {format(16000, 2, 16), 2},  // 4n + 2
        {format(8000, 1, 16), 1},   // odd: RIFF's pad byte follows
        {format(48000, 2, 24), 3},
        {format(8000, 1, 8), 0},  // a block is one byte: nothing to split
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format.sampleRate);
        korvex::sim::DvrSimOptions options;
        options.segmentMs = 100;
        options.soundSinceLastRequest = false;
        options.content.clockSound = true;
        options.content.sampleRate = c.format.sampleRate;
        options.content.channels = c.format.channels;
        options.content.bitsPerSample = c.format.bitsPerSample;
        options.faults.partialBlockAnswers = 1;
        DvrSim sim(options);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        const RawAnswer cutRaw = rawGet(sim.port(), DvrSim::kLiveSoundPath);
        const std::optional<WavAnswer> cut = parseWav(cutRaw.body);
        ASSERT_TRUE(cut);
        const auto block = static_cast<std::size_t>(c.format.blockAlign());
        const std::size_t whole = static_cast<std::size_t>(c.format.sampleRate) / 10;
        EXPECT_EQ(cut->data.size(), whole * block + c.extraBytes);
        EXPECT_EQ(cutRaw.body.size() % 2, 0u);
        EXPECT_EQ(cut->riffSize + 8, cutRaw.body.size());
        const std::optional<WavAnswer> next =
            parseWav(rawGet(sim.port(), DvrSim::kLiveSoundPath).body);
        ASSERT_TRUE(next);
        EXPECT_EQ(next->data.size(), whole * block);
        const std::vector<std::uint32_t> ramp = rampOf(*next);
        ASSERT_FALSE(ramp.empty());
        EXPECT_EQ(ramp.front(), rampAt(whole, c.format.sampleRate, c.format.bitsPerSample));
    }
}

TEST_F(DvrSimTest, PaddedBodiesHaveTheGivenSize) {
    constexpr long long kPad = 20ll * 1024 * 1024;
    const std::string frame =
        rawGet(sim_->port(), DvrSim::kRecordImagePath + std::string("?dlimg=1")).body;
    korvex::sim::Faults faults;
    faults.padToBytes = kPad;
    faults.padCount = 2;
    sim_->setFaults(faults);
    const RawAnswer padded =
        rawGet(sim_->port(), DvrSim::kRecordImagePath + std::string("?dlimg=1"));
    EXPECT_EQ(padded.status, 200);
    EXPECT_EQ(header(padded, "content-length"), std::to_string(kPad));
    ASSERT_EQ(padded.body.size(), static_cast<std::size_t>(kPad));
    EXPECT_EQ(padded.body.compare(0, frame.size(), frame), 0);
    EXPECT_EQ(padded.body.find_first_not_of('\0', frame.size()), std::string::npos);
    // A sound answer keeps its WAV header; the zeros follow its data chunk.
    const RawAnswer sound = rawGet(sim_->port(), DvrSim::kLiveSoundPath);
    ASSERT_EQ(sound.body.size(), static_cast<std::size_t>(kPad));
    const std::optional<WavAnswer> wav = parseWav(sound.body);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->data.size(), 1600u);
    // The two are used up; a body larger than the padding is left as it is.
    EXPECT_EQ(rawGet(sim_->port(), DvrSim::kRecordImagePath + std::string("?dlimg=1")).body, frame);
    faults.padToBytes = 10;
    faults.padCount = -1;
    sim_->setFaults(faults);
    EXPECT_EQ(rawGet(sim_->port(), DvrSim::kRecordImagePath + std::string("?dlimg=1")).body, frame);
}

// The command line as the end-to-end tests write it.
TEST(DvrSimArguments, EachFaultAndFormatOption) {
    using korvex::sim::DvrSimOptions;
    struct Case {
        std::vector<std::string> args;
        bool ok;
        std::function<bool(const DvrSimOptions&)> check;
    };
    const auto fmt = [](const DvrSimOptions& o) {
        return format(o.content.sampleRate, o.content.channels, o.content.bitsPerSample);
    };
    const Case cases[] = {
        {{"--redirect", "302"},
         true,
         [](auto& o) { return o.faults.redirectStatus == 302 && o.faults.redirectCount == -1; }},
        {{"--redirect", "301:3"},
         true,
         [](auto& o) { return o.faults.redirectStatus == 301 && o.faults.redirectCount == 3; }},
        {{"--redirect", "200"}, false, nullptr},
        {{"--redirect", "302:x"}, false, nullptr},
        {{"--redirect-to", "http://dvr.local/login.cgi"},
         true,
         [](auto& o) { return o.faults.redirectLocation == "http://dvr.local/login.cgi"; }},
        {{"--error", "302:2"},
         true,
         [](auto& o) { return o.faults.errorStatus == 302 && o.faults.errorCount == 2; }},
        {{"--not-wav", "all"}, true, [](auto& o) { return o.faults.notWaveAnswers == -1; }},
        {{"--not-wav", "4"}, true, [](auto& o) { return o.faults.notWaveAnswers == 4; }},
        {{"--not-wav", "some"}, false, nullptr},
        {{"--partial-block", "all"},
         true,
         [](auto& o) { return o.faults.partialBlockAnswers == -1; }},
        {{"--partial-block", "2"}, true, [](auto& o) { return o.faults.partialBlockAnswers == 2; }},
        {{"--pad", "20971520"},
         true,
         [](auto& o) { return o.faults.padToBytes == 20971520 && o.faults.padCount == -1; }},
        {{"--pad", "20971520:1"},
         true,
         [](auto& o) { return o.faults.padToBytes == 20971520 && o.faults.padCount == 1; }},
        {{"--pad", "5000000000"}, false, nullptr},
        {{"--sound-format", "8000:1:8"},
         true,
         [&](auto& o) { return fmt(o) == format(8000, 1, 8); }},
        {{"--sound-format", "44100:2:16"},
         true,
         [&](auto& o) { return fmt(o) == format(44100, 2, 16); }},
        {{"--sound-format", "44100:2:12"}, false, nullptr},
        {{"--sound-format", "44100:9:16"}, false, nullptr},
        {{"--sound-format", "44100:2"}, false, nullptr},
        {{"--sound-format", "44100:2:16:1"}, false, nullptr},
        {{"--switch-format-after", "5:48000:2:16"},
         true,
         [](auto& o) {
             return o.formatSwitch && o.formatSwitch->afterSegments == 5 &&
                    o.formatSwitch->format == format(48000, 2, 16);
         }},
        {{"--switch-format-after", "5"}, false, nullptr},
        {{"--switch-format-after", "-1:8000:1:8"}, false, nullptr},
        {{"--rate", "48000"}, true, [&](auto& o) { return fmt(o) == format(48000, 1, 16); }},
        {{"--rate", "192000"}, true, [](auto& o) { return o.content.sampleRate == 192000; }},
        {{"--rate", "192001"}, false, nullptr},
        // A later option overrides an earlier one.
        {{"--sound-format", "16000:2:16", "--rate", "44100"},
         true,
         [&](auto& o) { return fmt(o) == format(44100, 2, 16); }},
        {{"--clock-sound", "--preroll", "5000"},
         true,
         [](auto& o) { return o.content.clockSound && o.prerollMs == 5000; }},
        {{"--fault-path", "/dvr/live.wav", "--not-wav", "1"},
         true,
         [](auto& o) { return o.faults.path == "/dvr/live.wav"; }},
        {{"--pad"}, false, nullptr},
        {{"--tls", "a.crt", "a.key"},
         true,
         [](auto& o) {
             return o.tls && o.tls->certificateFile == "a.crt" && o.tls->keyFile == "a.key";
         }},
        {{"--tls", "a.crt"}, false, nullptr},
        {{"--auth", "digest", "admin:pa:ss"},
         true,
         [](auto& o) {
             return o.login.kind == korvex::sim::SimLoginKind::Digest && o.login.user == "admin" &&
                    o.login.password == "pa:ss";
         }},
        {{"--auth", "basic", "admin:"},
         true,
         [](auto& o) {
             return o.login.kind == korvex::sim::SimLoginKind::Basic && o.login.password.empty();
         }},
        {{"--auth", "ntlm", "admin:x"}, false, nullptr},
        {{"--auth", "basic", "nocolon"}, false, nullptr},
        {{"--auth", "basic"}, false, nullptr},
    };
    const std::string usage = korvex::sim::simUsage();
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const korvex::sim::SimArguments parsed = korvex::sim::parseSimArguments(c.args);
        EXPECT_EQ(parsed.error.empty(), c.ok) << parsed.error;
        if (c.ok) {
            EXPECT_TRUE(c.check(parsed.options));
        }
        // Every option is in --help.
        EXPECT_NE(usage.find(c.args.front() + " "), std::string::npos);
    }
}

TEST(DvrSimRecording, ServesARecordingFolder) {
    korvex::test::TempDir dir("simrec");
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
        EXPECT_EQ(answer.body, korvex::test::readText(written.frames[n - 1].path)) << n;
    }
    EXPECT_EQ(fetch(sim, std::string(DvrSim::kRecordImagePath) + "?dlimg=5").status, 404u);
    EXPECT_EQ(fetch(sim, DvrSim::kRecordSoundPath).body, korvex::test::readText(written.soundPath));
    EXPECT_EQ(fetch(sim, DvrSim::kRecordInfoPath).body, korvex::test::readText(written.infoPath));

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
    korvex::test::TempDir dir("simempty");
    korvex::sim::DvrSimOptions options;
    options.content.recordingFolder = dir.str();
    DvrSim sim(options);
    std::string error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_NE(error.find("no JPEG 2000 frames"), std::string::npos);
}

}  // namespace
