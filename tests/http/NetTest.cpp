// The internet classes over libcurl, against an in-process simulated recorder.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/net/HttpConnection.h"
#include "platform/net/HttpFile.h"
#include "platform/net/InternetException.h"
#include "platform/net/InternetSession.h"
#include "platform/net/InternetUrl.h"
#include "tools/dvrsim/DvrSim.h"

namespace {

using platform::InternetService;

struct UrlCase {
    const char* url;
    bool ok;
    InternetService service;
    const char* server;
    int port;
    const char* object;
};

TEST(ParseUrl, SplitsAbsoluteUrlsAndRefusesTheRest) {
    const UrlCase cases[] = {
        {"http://dvr.local/cgi/img.jp2?ch=1", true, InternetService::Http, "dvr.local", 80,
         "/cgi/img.jp2?ch=1"},
        {"HTTP://10.0.0.5:8080", true, InternetService::Http, "10.0.0.5", 8080, "/"},
        {"http://user:pw@host:81/a", true, InternetService::Http, "host", 81, "/a"},
        {"http://[::1]:9000/x", true, InternetService::Http, "::1", 9000, "/x"},
        {"http://host?q=1", true, InternetService::Http, "host", 80, "/?q=1"},
        {"ftp://host/file.wav", true, InternetService::Ftp, "host", 21, "/file.wav"},
        {"https://host/a", true, InternetService::Https, "host", 443, "/a"},
        {"get.wav", false, InternetService::Unknown, "", 0, ""},
        {"/cgi/get.wav", false, InternetService::Unknown, "", 0, ""},
        {"http://", false, InternetService::Unknown, "", 0, ""},
        {"http://host:0/", false, InternetService::Unknown, "", 0, ""},
        {"http://host:65536/", false, InternetService::Unknown, "", 0, ""},
        {"http://host:8x/", false, InternetService::Unknown, "", 0, ""},
        {"http://ho st/", false, InternetService::Unknown, "", 0, ""},
        {"http://host/a\r\nX: y", false, InternetService::Unknown, "", 0, ""},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.url);
        platform::ParsedUrl parsed;
        ASSERT_EQ(platform::parseUrl(c.url, parsed), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(parsed.service, c.service);
        EXPECT_EQ(parsed.server, c.server);
        EXPECT_EQ(parsed.port, c.port);
        EXPECT_EQ(parsed.object, c.object);
    }
}

class HttpFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        korvex::sim::DvrSimOptions options;
        options.content.width = 64;
        options.content.height = 48;
        options.content.recordedFrames = 2;
        sim_ = std::make_unique<korvex::sim::DvrSim>(options);
        std::string error;
        ASSERT_TRUE(sim_->start(&error)) << error;
    }

    std::unique_ptr<platform::HttpFile> open(const std::string& path) {
        connection_ =
            session_.getHttpConnection("127.0.0.1", static_cast<std::uint16_t>(sim_->port()));
        auto file = connection_->openRequest("GET", path, platform::kInternetFlagReload);
        EXPECT_TRUE(file->sendRequest());
        return file;
    }

    platform::InternetSession session_;
    std::unique_ptr<platform::HttpConnection> connection_;
    std::unique_ptr<korvex::sim::DvrSim> sim_;
};

TEST_F(HttpFileTest, ReadReturnsFull256ByteChunksUntilTheEnd) {
    struct Case {
        std::size_t bodySize;
        std::vector<std::size_t> reads;
    };
    const Case cases[] = {
        {512, {256, 256, 0}}, {300, {256, 44}}, {256, {256, 0}}, {0, {0}}, {1, {1}},
        {100000, {}},  // checked by total below
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bodySize);
        const std::string path = "/body" + std::to_string(index++);
        std::string body(c.bodySize, '\0');
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>(i * 7 + 3);
        sim_->addResource(path, body);
        auto file = open(path);
        std::uint32_t status = 0;
        ASSERT_TRUE(file->queryInfoStatusCode(status));
        EXPECT_EQ(status, 200u);
        EXPECT_EQ(file->contentLength(), static_cast<long long>(c.bodySize));
        std::vector<std::size_t> reads;
        std::string received;
        char buffer[256];
        for (;;) {
            const std::size_t n = file->read(buffer, sizeof buffer);
            reads.push_back(n);
            received.append(buffer, n);
            if (n < sizeof buffer)
                break;
        }
        if (!c.reads.empty()) {
            EXPECT_EQ(reads, c.reads);
        }
        EXPECT_EQ(received, body);
    }
}

TEST_F(HttpFileTest, ReadWaitsForAWholeChunkWhenTheBodyPauses) {
    sim_->addResource("/slow", std::string(600, 'x'));
    korvex::sim::Faults faults;
    faults.path = "/slow";
    faults.stallAfterBytes = 100;
    faults.stallMs = 50;
    sim_->setFaults(faults);
    auto file = open("/slow");
    char buffer[256];
    EXPECT_EQ(file->read(buffer, sizeof buffer), 256u);
    EXPECT_EQ(file->read(buffer, sizeof buffer), 256u);
    EXPECT_EQ(file->read(buffer, sizeof buffer), 88u);
}

TEST_F(HttpFileTest, AStalledBodyTimesOut) {
    sim_->addResource("/stall", std::string(1000, 's'));
    korvex::sim::Faults faults;
    faults.path = "/stall";
    faults.stallAfterBytes = 10;  // then silent until the server stops
    sim_->setFaults(faults);
    session_.setOption(platform::InternetOption::ReceiveTimeout, 200);
    auto file = open("/stall");
    char buffer[256];
    try {
        file->read(buffer, sizeof buffer);
        FAIL() << "a stalled body must not end the read normally";
    } catch (const platform::InternetException& e) {
        EXPECT_EQ(e.errorCode(), platform::kInternetErrorTimeout);
    }
}

TEST_F(HttpFileTest, ABodyCutShortIsAnError) {
    sim_->addResource("/cut", std::string(2000, 'c'));
    korvex::sim::Faults faults;
    faults.path = "/cut";
    faults.cutAfterBytes = 700;
    sim_->setFaults(faults);
    auto file = open("/cut");
    char buffer[256];
    std::size_t total = 0;
    try {
        for (;;) {
            const std::size_t n = file->read(buffer, sizeof buffer);
            total += n;
            if (n < sizeof buffer)
                break;
        }
        FAIL() << "a body shorter than announced was taken as whole (" << total << " bytes)";
    } catch (const platform::InternetException& e) {
        EXPECT_EQ(e.errorCode(), platform::kInternetErrorConnectionAborted);
    }
}

TEST_F(HttpFileTest, TheAbortCheckEndsAStalledRead) {
    sim_->addResource("/hang", std::string(1000, 'h'));
    korvex::sim::Faults faults;
    faults.path = "/hang";
    faults.stallAfterBytes = 256;
    sim_->setFaults(faults);
    std::atomic<bool> stop{false};
    session_.setAbortCheck([&stop] { return stop.load(); });
    auto file = open("/hang");
    char buffer[256];
    ASSERT_EQ(file->read(buffer, sizeof buffer), 256u);
    stop = true;  // no time-out is set: only the abort check can end the next read
    try {
        file->read(buffer, sizeof buffer);
        FAIL() << "the read outlived the abort";
    } catch (const platform::InternetException& e) {
        EXPECT_EQ(e.errorCode(), platform::kInternetErrorOperationCancelled);
    }
}

TEST_F(HttpFileTest, RequestHeadersAreAddedOnlyWhenNewAndWellFormed) {
    sim_->addResource("/h", "x");
    connection_ = session_.getHttpConnection("127.0.0.1", static_cast<std::uint16_t>(sim_->port()));
    auto file = connection_->openRequest(
        "GET", "/h", platform::kInternetFlagReload | platform::kInternetFlagDontCache);
    EXPECT_TRUE(file->addRequestHeaders("Accept: */*\r\nUser-Agent: Picvox\r\n",
                                        platform::kHttpAddReqFlagAddIfNew));
    EXPECT_FALSE(
        file->addRequestHeaders("Accept: text/plain\r\n", platform::kHttpAddReqFlagAddIfNew));
    EXPECT_FALSE(file->addRequestHeaders("no colon here\r\n", 0));
    EXPECT_FALSE(file->addRequestHeaders("Bad Name: v\r\n", 0));
    ASSERT_TRUE(file->sendRequest());
    EXPECT_FALSE(file->sendRequest());
    EXPECT_EQ(sim_->lastRequestHeader("/h", "Accept"), "*/*");
    EXPECT_EQ(sim_->lastRequestHeader("/h", "User-Agent"), "Picvox");
    EXPECT_EQ(sim_->lastRequestHeader("/h", "Cache-Control"), "no-cache");
    EXPECT_EQ(sim_->lastRequestHeader("/h", "Pragma"), "no-cache");
    EXPECT_EQ(sim_->lastRequestHeader("/h", "Bad Name"), "");
}

TEST_F(HttpFileTest, ARefusedConnectionThrowsFromSendRequest) {
    int freePort = 0;
    {
        korvex::sim::DvrSim other;
        ASSERT_TRUE(other.start());
        freePort = other.port();
    }
    connection_ = session_.getHttpConnection("127.0.0.1", static_cast<std::uint16_t>(freePort));
    auto file = connection_->openRequest("GET", "/", 0);
    try {
        file->sendRequest();
        FAIL() << "no server listens there";
    } catch (const platform::InternetException& e) {
        EXPECT_EQ(e.errorCode(), platform::kInternetErrorCannotConnect);
        EXPECT_FALSE(e.message().empty());
    }
    std::uint32_t status = 0;
    EXPECT_FALSE(file->queryInfoStatusCode(status));
}

TEST(InternetSession, KeepsFourByteOptionsAndReadsLimits) {
    platform::InternetSession session;
    session.setOption(platform::InternetOption::ConnectTimeout, 1500);
    session.setOption(platform::InternetOption::ReceiveTimeout, static_cast<std::uint32_t>(-5));
    EXPECT_EQ(session.connectTimeoutMs(), 1500);
    EXPECT_EQ(session.receiveTimeoutMs(), 0);  // a negative time sets no limit
    EXPECT_EQ(session.option(platform::InternetOption::DisconnectedTimeout), 0u);
    EXPECT_THROW(session.getHttpConnection("", 80), platform::InternetException);
}

}  // namespace
