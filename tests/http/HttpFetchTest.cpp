// The control's fetchers against an in-process simulated recorder on a free loopback port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "control/download/HttpFetch.h"
#include "control/download/TempFolder.h"
#include "tests/support/Files.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/recgen/Encoders.h"
#include "tools/recgen/Trailer.h"

namespace {

using korvex::sim::DvrSim;
using korvex::test::LogCapture;
using korvex::test::TempDir;
using picvox::HttpThreadParams;

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// A small JPEG 2000 frame with its trailer, as the recorder serves them.
std::string jp2Frame(int seed = 1) {
    auto bytes = korvex::gen::encodeJ2k(korvex::gen::syntheticPicture(160, 120, 3, seed));
    korvex::gen::TrailerFields fields;
    fields.dvrSeconds = 1000 + static_cast<std::uint32_t>(seed);
    fields.offsetMs = 500;
    korvex::gen::appendJ2kTrailer(bytes, fields);
    return std::string(bytes.begin(), bytes.end());
}

struct FakeHooks : picvox::FetchHooks {
    // Milliseconds of sound held: the ring's when set, else CacheTime less the shortfall, as the
    // cache store measures before and after the save set-up.
    std::optional<int> ringMs;
    int cacheTimeMs = 10000;
    bool setupDue = false;
    int storeResult = 1;
    int setups = 0;
    int setupPictureSlot = -1;
    int setupSoundSlot = -1;
    std::vector<int> storedSlots;
    std::string storedBody;

    int soundBufferedMs(int shortfallMs) override {
        return ringMs ? *ringMs : cacheTimeMs - shortfallMs;
    }
    bool saveSetupDue() const override { return setupDue; }
    void saveSetup(int pictureSlot, int soundSlot, int* playSlot) override {
        ++setups;
        setupDue = false;
        setupPictureSlot = pictureSlot;
        setupSoundSlot = soundSlot;
        if (playSlot)
            *playSlot = 77;
    }
    int storeWaveSegment(const std::string& tempName, int soundSlot) override {
        storedSlots.push_back(soundSlot);
        storedBody = korvex::test::readText(tempName);
        picvox::removeFile(tempName);
        return storeResult;
    }
};

class FetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        korvex::sim::DvrSimOptions options;
        options.content.width = 64;
        options.content.height = 48;
        options.content.recordedFrames = 12;
        options.segmentMs = 100;
        options.soundSinceLastRequest = false;  // one segment per answer: bodies of known size
        sim_ = std::make_unique<DvrSim>(options);
        std::string error;
        ASSERT_TRUE(sim_->start(&error)) << error;
        params_.fetch.locationBase = sim_->baseUrl();
        params_.fetch.imageUrl = "dvr/live.jp2";
        params_.fetch.waveUrl = "dvr/live.wav";
        params_.fetch.firstWaveUrl = "dvr/live_init.wav";
        params_.fetch.infUrl = "dvr/record.inf";
        params_.fetch.cacheTimeMs = 10000;
        params_.fetch.waveRequestIntervalMs = 1000;
        params_.stopOrder = &stop_;
        params_.hooks = &hooks_;
    }

    std::string temp(const std::string& name) const { return dir_.file(name); }

    void setFaults(const std::string& path, korvex::sim::Faults faults) {
        faults.path = path;
        sim_->setFaults(faults);
    }

    LogCapture log_;
    TempDir dir_{"fetch"};
    std::unique_ptr<DvrSim> sim_;
    picvox::StopOrder stop_;
    FakeHooks hooks_;
    HttpThreadParams params_;
};

TEST(ComposeUrl, KeepsOneSlashBetweenBaseAndRelative) {
    struct Case {
        const char* base;
        const char* relative;
        const char* expected;
    };
    const Case cases[] = {
        {"http://dvr/cgi/", "/img.jp2", "http://dvr/cgi/img.jp2"},
        {"http://dvr/cgi/", "img.jp2", "http://dvr/cgi/img.jp2"},
        {"http://dvr/cgi", "img.jp2", "http://dvr/cgiimg.jp2"},
        {"http://dvr/cgi", "/img.jp2", "http://dvr/cgi/img.jp2"},
        {"http://dvr/", "//x", "http://dvr//x"},
        {"", "/a", "/a"},
        {"http://dvr/", "", "http://dvr/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(picvox::ComposeUrl(c.base, c.relative), c.expected)
            << c.base << " + " << c.relative;
    }
}

TEST(MakeTempName, BuildsNamesInTheCacheFolder) {
    TempDir cache("cache");
    korvex::test::ScopedEnv env("DOWNLOAD_TEMP", cache.str() + "/");
    picvox::CleanInetTempFolder();
    struct Case {
        const char* url;
        int n;
        const char* name;
    };
    const Case cases[] = {
        {"get.wav", 12, "get12.wav"},
        {"/cgi-bin/get.wav", 3, "get3.wav"},
        {"http://dvr:8080/snd/get.wav", 0, "get0.wav"},
        {"img.cgi?ch=1", 5, "img5.cgi?ch=1"},
        {"noext", 7, "noext7"},
        {"dir/", 9, "9"},
        {"a.b.jp2", 1, "a.b1.jp2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(picvox::MakeTempName(c.url, c.n), cache.str() + "/" + c.name) << c.url;
    }
    // Two download threads (two controls, in one process or two) never share a name.
    const std::string a = picvox::NewTempTag();
    const std::string b = picvox::NewTempTag();
    EXPECT_NE(a, b);
    EXPECT_EQ(picvox::MakeTempName("get.wav", 12, a), cache.str() + "/get12-" + a + ".wav");
    EXPECT_NE(a.find(std::to_string(::getpid())), std::string::npos);
    EXPECT_EQ(picvox::MakeLocalName("http://dvr/a/b/c.jp2?x=1").value_or(""), "c.jp2?x=1");
    picvox::CleanInetTempFolder();
}

TEST_F(FetchTest, OpenHttpFileTellsStatusesApart) {
    const std::string missing = sim_->baseUrl() + "nothing.here";
    platform::InternetSession session;
    std::unique_ptr<platform::HttpConnection> connection;

    int status = 0;
    EXPECT_EQ(picvox::OpenHttpFile(missing, connection, &status, session), nullptr);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(connection, nullptr);
    EXPECT_EQ(log_.count("[404 FileNotFound]Received. Transfer Next Stage."), 1);

    EXPECT_EQ(picvox::OpenHttpFile(missing, connection, nullptr, session), nullptr);
    EXPECT_EQ(log_.count("QueryInfoStatusCode failed. 404 [" + missing + "]"), 1);

    korvex::sim::Faults faults;
    faults.errorStatus = 500;
    setFaults("/err", faults);
    status = 0;
    EXPECT_EQ(picvox::OpenHttpFile(sim_->baseUrl() + "err", connection, &status, session), nullptr);
    EXPECT_EQ(status, 500);
    EXPECT_EQ(log_.count("QueryInfoStatusCode failed. 500 [" + sim_->baseUrl() + "err]"), 1);

    sim_->addResource("/ok", "fine");
    auto file = picvox::OpenHttpFile(sim_->baseUrl() + "ok", connection, &status, session);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(connection, nullptr);
    EXPECT_EQ(log_.count("SendRequest　開始"), 4);
    EXPECT_EQ(log_.count("SendRequest　終了"), 4);
    EXPECT_EQ(sim_->lastRequestHeader("/ok", "User-Agent"), "Picvox");
    EXPECT_EQ(sim_->lastRequestHeader("/ok", "Accept"), "*/*");
}

TEST_F(FetchTest, OpenHttpFileRefusesOtherSchemesWithOneLine) {
    platform::InternetSession session;
    std::unique_ptr<platform::HttpConnection> connection;
    const std::string url = "ftp://127.0.0.1/sound.wav";
    EXPECT_EQ(picvox::OpenHttpFile(url, connection, nullptr, session), nullptr);
    EXPECT_EQ(log_.texts(), std::vector<std::string>{"GetHttpConnection エラー[" + url + "]"});
}

TEST_F(FetchTest, OpenHttpFileLogsAFailedSend) {
    int freePort = 0;
    {
        DvrSim other;
        ASSERT_TRUE(other.start());
        freePort = other.port();
    }
    platform::InternetSession session;
    std::unique_ptr<platform::HttpConnection> connection;
    const std::string url = "http://127.0.0.1:" + std::to_string(freePort) + "/x";
    EXPECT_EQ(picvox::OpenHttpFile(url, connection, nullptr, session), nullptr);
    EXPECT_EQ(connection, nullptr);
    EXPECT_EQ(log_.countStartingWith("SendRequestエラー dwError=12029 dwErrContext=1 msg="), 1);
}

TEST_F(FetchTest, GetImgFileWritesTheWholeBody) {
    const std::string body = jp2Frame();
    ASSERT_GT(body.size(), 512u);  // more than one 256-byte read
    sim_->addResource("/frame.jp2", body);
    params_.fetch.imageUrl = "/frame.jp2";
    std::int64_t arrived = 0;
    const std::string name = temp("frame1.jp2");
    EXPECT_EQ(picvox::GetImgFile(name, params_, true, &arrived, nullptr, 0),
              picvox::ImageFetch::Whole);
    EXPECT_EQ(korvex::test::readText(name), body);
    EXPECT_GT(arrived, 0);
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
    EXPECT_EQ(log_.count("タイムアウト時間=9000"), 1);
    EXPECT_EQ(log_.count("J2Kデータ受信終了 chk=1"), 1);
}

TEST_F(FetchTest, ATemporaryNameNeverWritesThroughALink) {
    sim_->addResource("/frame.jp2", jp2Frame(2));
    params_.fetch.imageUrl = "/frame.jp2";
    const std::string victim = temp("precious.txt");
    std::ofstream(victim) << "keep me";
    const std::string name = temp("live1.jp2");
    std::filesystem::create_symlink(victim, name);
    EXPECT_EQ(picvox::GetImgFile(name, params_, true, nullptr, nullptr, 0),
              picvox::ImageFetch::Whole);
    EXPECT_EQ(korvex::test::readText(victim), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(name));
    EXPECT_EQ(korvex::test::readText(name), jp2Frame(2));
}

// A picture is a JPEG 2000 frame answered with a success: a redirect (not followed), a 500, an
// error page sent with 200 and an empty body are failed attempts, and none of them touches the
// run's result, which the caller decides after its last attempt.
TEST_F(FetchTest, AnAnswerThatIsNoPictureIsAFailedAttempt) {
    sim_->addResource("/page.jp2", "<html>camera offline</html>", "text/html");
    sim_->addResource("/empty.jp2", "");
    sim_->addResource("/frame.jp2", jp2Frame());
    korvex::sim::Faults redirect;
    redirect.errorStatus = 302;
    korvex::sim::Faults error;
    error.errorStatus = 500;
    const struct {
        const char* what;
        const char* path;
        korvex::sim::Faults faults;
    } cases[] = {{"redirect", "/frame.jp2", redirect},
                 {"server error", "/frame.jp2", error},
                 {"error page", "/page.jp2", {}},
                 {"empty body", "/empty.jp2", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setFaults(c.path, c.faults);
        params_.fetch.imageUrl = c.path;
        const std::string name = temp("not.jp2");
        EXPECT_EQ(picvox::GetImgFile(name, params_, true, nullptr, nullptr, 0),
                  picvox::ImageFetch::Failed);
        EXPECT_FALSE(exists(name));
        EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
    }
    setFaults("", {});
    params_.fetch.imageUrl = "/frame.jp2";
    EXPECT_EQ(picvox::GetImgFile(temp("yes.jp2"), params_, true, nullptr, nullptr, 0),
              picvox::ImageFetch::Whole);
}

TEST_F(FetchTest, GetImgFileAsksForNumberedFramesInSaveOnlyMode) {
    params_.fetch.mode = picvox::RunMode::of(2, 0, 0);
    params_.fetch.imageUrl = "dvr/record.jp2";
    params_.progress.downloadCount = 9;
    int status = 0;
    const std::string name = temp("rec.jp2");
    EXPECT_EQ(picvox::GetImgFile(name, params_, true, nullptr, &status, 0),
              picvox::ImageFetch::Whole);
    EXPECT_GT(std::filesystem::file_size(name), 100u);
    EXPECT_EQ(log_.count("タイムアウト時間=60000"), 1);

    // Past the last frame the recorder answers 404: a failed fetch with the status kept.
    params_.progress.downloadCount = 12;
    EXPECT_EQ(picvox::GetImgFile(name, params_, true, nullptr, &status, 0),
              picvox::ImageFetch::Failed);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);  // the caller's to decide
    EXPECT_FALSE(exists(name));

    // The number goes after a question mark even when the URL has a query already.
    params_.fetch.imageUrl = "dvr/record.jp2?cam=1";
    params_.progress.downloadCount = 9;
    picvox::GetImgFile(name, params_, true, nullptr, &status, 0);
    EXPECT_EQ(log_.countStartingWith("QueryInfoStatusCode failed. 400 [" + sim_->baseUrl() +
                                     "dvr/record.jp2?cam=1?dlimg=10]"),
              1);
}

TEST_F(FetchTest, GetImgFileFailuresDeleteTheFile) {
    struct Case {
        const char* what;
        long long bodyBytes;
        korvex::sim::Faults faults;
        int cacheTimeMs;
        const char* line;
    };
    korvex::sim::Faults stall;
    stall.stallAfterBytes = 300;
    korvex::sim::Faults cut;
    cut.cutAfterBytes = 600;
    korvex::sim::Faults drip;
    drip.dripMs = 20;  // each byte well inside the time-out; the whole body would take 40 s
    const Case cases[] = {
        {"stalled body", 2000, stall, 1300, "GetImgFile ファイル取得タイムアウト"},
        {"body cut short", 2000, cut, 10000, "GetImgFile ファイル取得タイムアウト"},
        {"dripping body", 2000, drip, 1300, "GetImgFile ファイル取得タイムアウト"},
        {"oversize body",
         picvox::kMaxPictureBytes + 1,
         {},
         10000,
         "GetImgFile body over 4194304 bytes refused"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = "/bad" + std::to_string(index++) + ".jp2";
        sim_->addResource(path, std::string(static_cast<std::size_t>(c.bodyBytes), 'j'));
        setFaults(path, c.faults);
        params_.fetch.imageUrl = path;
        params_.fetch.cacheTimeMs = c.cacheTimeMs;  // time-out = CacheTime - interval
        params_.progress.result = picvox::SaveResult::None;
        log_.clear();
        const std::string name = temp("bad.jp2");
        EXPECT_EQ(picvox::GetImgFile(name, params_, true, nullptr, nullptr, 0),
                  picvox::ImageFetch::Failed);
        EXPECT_FALSE(exists(name));
        EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
        EXPECT_EQ(log_.count(c.line), 1);
        EXPECT_EQ(log_.count("J2Kデータ受信終了 chk=0"), 1);
    }
}

TEST_F(FetchTest, GetImgFileGivesUpAPictureWhileTheSoundCacheRunsLow) {
    sim_->addResource("/big.jp2", jp2Frame());
    params_.fetch.imageUrl = "/big.jp2";
    hooks_.ringMs = 4000;  // below half of CacheTime
    const std::string name = temp("low.jp2");
    // A picture less, not a failed download: the result stays as it was.
    EXPECT_EQ(picvox::GetImgFile(name, params_, false, nullptr, nullptr, 0),
              picvox::ImageFetch::GivenUp);
    EXPECT_FALSE(exists(name));
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
    EXPECT_EQ(log_.count("GetImageFile : 音声キャッシュファイル不足　キャッシュ時間：4000"), 1);

    // Without the ring, CacheTime minus the shortfall is the buffered time.
    hooks_.ringMs.reset();
    EXPECT_EQ(picvox::GetImgFile(name, params_, false, nullptr, nullptr, 4000),
              picvox::ImageFetch::Whole);
    EXPECT_EQ(picvox::GetImgFile(name, params_, false, nullptr, nullptr, 6000),
              picvox::ImageFetch::GivenUp);
    // The run's first picture is never given up.
    EXPECT_EQ(picvox::GetImgFile(name, params_, true, nullptr, nullptr, 6000),
              picvox::ImageFetch::Whole);
}

TEST_F(FetchTest, GetImgFileStopsAndLeavesTheResultAlone) {
    stop_.set();
    EXPECT_EQ(picvox::GetImgFile(temp("s.jp2"), params_, true, nullptr, nullptr, 0),
              picvox::ImageFetch::Stopped);
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
    EXPECT_FALSE(exists(temp("s.jp2")));
}

TEST_F(FetchTest, GetImgFileSendsNothingWithoutATemporaryFile) {
    const std::string name = temp("missing-folder/x.jp2");
    EXPECT_EQ(picvox::GetImgFile(name, params_, true, nullptr, nullptr, 0),
              picvox::ImageFetch::Failed);
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
    EXPECT_EQ(sim_->requestCount(DvrSim::kLiveImagePath), 0);
    EXPECT_EQ(log_.count("OpenOutputFile 一時ファイル作成失敗 NAME='" + name + "'"), 1);
}

TEST_F(FetchTest, GetWaveFileFetchesTheInitialSegmentFirst) {
    bool first = true;
    int playSlot = 5;
    const std::string name = temp("get1.wav");
    ASSERT_EQ(picvox::GetWaveFile(name, 3, &playSlot, 2, params_, &first, 0), 1);
    EXPECT_FALSE(first);
    EXPECT_GT(params_.progress.firstSoundTime, 0);
    EXPECT_EQ(sim_->requestCount(DvrSim::kInitSoundPath), 1);
    EXPECT_EQ(hooks_.storedSlots, std::vector<int>{3});
    EXPECT_EQ(hooks_.storedBody.size(), 44u + 1600u);  // 100 ms of 8 kHz 16-bit mono
    EXPECT_EQ(hooks_.storedBody.substr(0, 4), "RIFF");

    ASSERT_EQ(picvox::GetWaveFile(name, 4, &playSlot, 2, params_, &first, 0), 1);
    EXPECT_EQ(sim_->requestCount(DvrSim::kLiveSoundPath), 1);
    EXPECT_EQ(log_.count("WAVEデータ受信終了 chk=1"), 2);
}

TEST_F(FetchTest, GetWaveFileRetriesUntilDataArrives) {
    korvex::sim::Faults storm;
    storm.notFoundStorm = 3;
    setFaults(DvrSim::kLiveSoundPath, storm);
    int playSlot = 1;
    EXPECT_EQ(picvox::GetWaveFile(temp("w.wav"), 8, &playSlot, 1, params_, nullptr, 0), 1);
    EXPECT_EQ(sim_->requestCount(DvrSim::kLiveSoundPath), 4);
    const std::string url = sim_->baseUrl() + "dvr/live.wav";
    EXPECT_EQ(log_.count("QueryInfoStatusCode failed. 404 [" + url + "]"), 3);
    EXPECT_EQ(log_.count("GetWaveFile OpenSession FAILED!!! pSrc == NULL"), 3);
    EXPECT_EQ(log_.countStartingWith("GetWaveFile リトライ完了　time="), 1);
    EXPECT_EQ(hooks_.storedSlots, std::vector<int>{8});
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);

    // Bodies that break off or stall are asked for again too.
    korvex::sim::Faults cut;
    cut.cutAfterBytes = 100;
    cut.shapeCount = 1;
    setFaults(DvrSim::kLiveSoundPath, cut);
    EXPECT_EQ(picvox::GetWaveFile(temp("w.wav"), 9, &playSlot, 1, params_, nullptr, 0), 1);
    EXPECT_EQ(hooks_.storedBody.size(), 44u + 1600u);

    korvex::sim::Faults stall;
    stall.stallAfterBytes = 100;
    stall.shapeCount = 1;
    setFaults(DvrSim::kLiveSoundPath, stall);
    params_.fetch.cacheTimeMs = 500;  // time-out 300 ms
    EXPECT_EQ(picvox::GetWaveFile(temp("w.wav"), 10, &playSlot, 1, params_, nullptr, 0), 1);
    EXPECT_EQ(hooks_.storedBody.size(), 44u + 1600u);
    EXPECT_EQ(log_.count("GetWaveFile ファイル取得タイムアウト"), 2);
}

TEST_F(FetchTest, EveryRetryPausesWithoutAStopOrder) {
    struct Case {
        const char* what;
        bool wholeFile;  // DownloadFile, else GetWaveFile
        const char* path;
        korvex::sim::Faults faults;
    };
    korvex::sim::Faults empty;
    empty.emptyAnswers = 3;  // "200, Content-Length: 0"
    korvex::sim::Faults storm;
    storm.notFoundStorm = 3;
    korvex::sim::Faults errors;
    errors.errorStatus = 503;
    errors.errorCount = 3;
    const Case cases[] = {
        {"empty answers", false, DvrSim::kLiveSoundPath, empty},
        {"404 storm", false, DvrSim::kLiveSoundPath, storm},
        {"server errors", true, DvrSim::kRecordInfoPath, errors},
    };
    params_.stopOrder = nullptr;
    params_.fetch.mode = picvox::RunMode::of(1, 0, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setFaults(c.path, c.faults);
        const int before = sim_->requestCount(c.path);
        const auto start = std::chrono::steady_clock::now();
        int playSlot = 1;
        const int got =
            c.wholeFile ? picvox::DownloadFile(picvox::DownloadKind::Index, temp("R.INF"), params_)
                        : picvox::GetWaveFile(temp("w.wav"), 1, &playSlot, 1, params_, nullptr, 0);
        const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
        EXPECT_EQ(got, 1);
        EXPECT_EQ(sim_->requestCount(c.path) - before, 4);
        // A lower bound only: three pauses of at least the shortest attempt each.
        EXPECT_GE(tookMs, 3 * picvox::kMinAttemptMs);
    }
}

TEST_F(FetchTest, TheStopOrderEndsTheRetryLoop) {
    korvex::sim::Faults notFound;
    notFound.errorStatus = 404;
    setFaults(DvrSim::kLiveSoundPath, notFound);
    std::thread stopper([this] {
        sim_->waitForRequests(DvrSim::kLiveSoundPath, 3, 60000);
        stop_.set();
    });
    int playSlot = 1;
    const std::string name = temp("w.wav");
    EXPECT_EQ(picvox::GetWaveFile(name, 2, &playSlot, 1, params_, nullptr, 0), 0);
    stopper.join();
    EXPECT_GE(sim_->requestCount(DvrSim::kLiveSoundPath), 3);
    EXPECT_FALSE(exists(name));
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);  // a stop is no download failure
    EXPECT_TRUE(hooks_.storedSlots.empty());
    EXPECT_EQ(log_.count("WAVEデータ受信終了 chk=0"), 1);
}

TEST_F(FetchTest, TheStopOrderEndsAStalledTransfer) {
    korvex::sim::Faults stall;
    stall.stallAfterBytes = 10;  // silent until the recorder stops
    setFaults(DvrSim::kLiveSoundPath, stall);
    params_.fetch.cacheTimeMs = 100000;  // a time-out of one minute
    std::thread stopper([this] {
        sim_->waitForRequests(DvrSim::kLiveSoundPath, 1, 60000);
        stop_.set();
    });
    int playSlot = 1;
    EXPECT_EQ(picvox::GetWaveFile(temp("w.wav"), 2, &playSlot, 1, params_, nullptr, 0), 0);
    stopper.join();
    EXPECT_EQ(sim_->requestCount(DvrSim::kLiveSoundPath), 1);
}

TEST_F(FetchTest, GetWaveFileRunsTheSaveSetUpOnceTheCacheIsFull) {
    hooks_.setupDue = true;
    int playSlot = 1;
    EXPECT_EQ(picvox::GetWaveFile(temp("w.wav"), 6, &playSlot, 4, params_, nullptr, 500), 1);
    EXPECT_EQ(hooks_.setups, 0);
    EXPECT_EQ(picvox::GetWaveFile(temp("w.wav"), 7, &playSlot, 4, params_, nullptr, 0), 1);
    EXPECT_EQ(hooks_.setups, 1);
    EXPECT_EQ(hooks_.setupPictureSlot, 4);
    EXPECT_EQ(hooks_.setupSoundSlot, 7);
    EXPECT_EQ(playSlot, 77);
}

TEST_F(FetchTest, GetWaveFileReportsARefusedSegment) {
    hooks_.storeResult = 0;
    int playSlot = 1;
    const std::string name = temp("w.wav");
    EXPECT_EQ(picvox::GetWaveFile(name, 2, &playSlot, 1, params_, nullptr, 0), 0);
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::DownloadFailure);
    EXPECT_FALSE(exists(name));
}

TEST_F(FetchTest, DownloadFileFetchesTheWholeFiles) {
    params_.fetch.mode = picvox::RunMode::of(2, 0, 0);
    params_.fetch.waveUrl = "dvr/record.wav";
    const std::string sound = temp("sound.wav");
    ASSERT_EQ(picvox::DownloadFile(picvox::DownloadKind::Sound, sound, params_), 1);
    const std::string wav = korvex::test::readText(sound);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    // 12 frames of 200 ms at 8 kHz, 16-bit mono.
    EXPECT_EQ(wav.size(), 44u + 12u * 200u * 16u);

    const std::string inf = temp("REC00001.INF");
    ASSERT_EQ(picvox::DownloadFile(picvox::DownloadKind::Index, inf, params_), 1);
    EXPECT_EQ(std::filesystem::file_size(inf), 1024u + 12u * 16u);
    EXPECT_EQ(log_.count("DownloadFile終了 chk=1"), 2);
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
}

TEST_F(FetchTest, DownloadFileEndsOn404) {
    params_.fetch.waveUrl = "dvr/none.wav";
    const std::string sound = temp("sound.wav");

    // Save-only download: the recorder has no sound for this stretch, a normal end.
    params_.fetch.mode = picvox::RunMode::of(2, 0, 0);
    EXPECT_EQ(picvox::DownloadFile(picvox::DownloadKind::Sound, sound, params_), 1);
    EXPECT_FALSE(exists(sound));
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
    EXPECT_EQ(log_.count("DownloadFile FileNotFownd!!! Normally End."), 1);
    EXPECT_EQ(sim_->requestCount("/dvr/none.wav"), 1);

    // Otherwise four failed attempts and a download failure.
    params_.fetch.mode = picvox::RunMode::of(1, 0, 0);
    EXPECT_EQ(picvox::DownloadFile(picvox::DownloadKind::Sound, sound, params_), 0);
    EXPECT_FALSE(exists(sound));
    EXPECT_EQ(params_.progress.result, picvox::SaveResult::DownloadFailure);
    EXPECT_EQ(sim_->requestCount("/dvr/none.wav"), 5);
    EXPECT_EQ(log_.count("DownloadFile OpenSession FAILED!!! pSrc == NULL"), 4);
    EXPECT_EQ(log_.count("DownloadFile終了 chk=0"), 1);
}

TEST_F(FetchTest, DownloadFileRetriesFailedOpensAndTakesAnEmptyFile) {
    params_.fetch.mode = picvox::RunMode::of(1, 0, 0);
    sim_->addResource("/empty.inf", "");
    params_.fetch.infUrl = "empty.inf";
    korvex::sim::Faults errors;
    errors.errorStatus = 503;
    errors.errorCount = 2;
    setFaults("/empty.inf", errors);
    const std::string inf = temp("E.INF");
    EXPECT_EQ(picvox::DownloadFile(picvox::DownloadKind::Index, inf, params_), 1);
    EXPECT_EQ(sim_->requestCount("/empty.inf"), 3);
    EXPECT_TRUE(exists(inf));
    EXPECT_EQ(std::filesystem::file_size(inf), 0u);
}

// A sound file cut by a stop keeps what arrived (players play what exists of it); a cut INF
// file goes, since an index that does not match its frames is worse than none.
TEST_F(FetchTest, DownloadFileStopsOnTheStopOrder) {
    struct Case {
        int kind;
        const char* path;
        bool kept;
    };
    const Case cases[] = {{0, DvrSim::kRecordSoundPath, true}, {1, DvrSim::kRecordInfoPath, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        stop_.reset();
        params_.progress.result = picvox::SaveResult::None;
        params_.fetch.mode = picvox::RunMode::of(1, 0, 0);
        korvex::sim::Faults stall;
        stall.stallAfterBytes = 1000;
        setFaults(c.path, stall);
        params_.fetch.waveUrl = "dvr/record.wav";
        params_.fetch.infUrl = "dvr/record.inf";
        const int before = sim_->requestCount(c.path);
        std::thread stopper([this, &c, before] {
            sim_->waitForRequests(c.path, before + 1, 60000);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            stop_.set();
        });
        const std::string file = temp(c.kind == 0 ? "sound.wav" : "cut.INF");
        EXPECT_EQ(picvox::DownloadFile(static_cast<picvox::DownloadKind>(c.kind), file, params_),
                  0);
        stopper.join();
        EXPECT_EQ(exists(file), c.kept);
        EXPECT_EQ(params_.progress.result, picvox::SaveResult::None);
    }
}

}  // namespace
