#include "control/download/HttpFetch.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <thread>

#include "control/buffers/PicvoxLog.h"
#include "control/download/J2kFrameCheck.h"
#include "control/download/TempFolder.h"
#include "platform/net/InternetException.h"
#include "platform/net/InternetUrl.h"

namespace picvox {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kRequestFlags =
    platform::kInternetFlagReload | platform::kInternetFlagDontCache;
constexpr const char* kRequestHeaders = "Accept: */*\r\nUser-Agent: Picvox\r\n";

enum class BodyEnd { Whole, ReadFailed, WriteFailed, TooLarge, Abandoned };

struct BodyOutcome {
    BodyEnd end = BodyEnd::Whole;
    long long bytes = 0;
};

// Copies a body to the local file through one 256-byte buffer; the first read that gives fewer
// than 256 bytes is the end. `afterFullChunk` runs after every full chunk and may abandon the
// body. A body over `maxBytes` is refused before any byte beyond the bound is written.
template <class AfterChunk>
BodyOutcome readBody(platform::HttpFile& file, OutputFile& out, long long maxBytes,
                     AfterChunk afterFullChunk) {
    BodyOutcome outcome;
    if (file.contentLength() > maxBytes) {
        outcome.end = BodyEnd::TooLarge;
        return outcome;
    }
    char buffer[256];
    for (;;) {
        std::size_t n = 0;
        try {
            n = file.read(buffer, sizeof buffer);
        } catch (const platform::InternetException&) {
            outcome.end = BodyEnd::ReadFailed;
            return outcome;
        }
        if (n > 0) {
            if (outcome.bytes + static_cast<long long>(n) > maxBytes) {
                outcome.end = BodyEnd::TooLarge;
                return outcome;
            }
            if (!out.write(buffer, n)) {
                outcome.end = BodyEnd::WriteFailed;
                return outcome;
            }
            outcome.bytes += static_cast<long long>(n);
        }
        if (n < sizeof buffer)
            return outcome;
        if (!afterFullChunk()) {
            outcome.end = BodyEnd::Abandoned;
            return outcome;
        }
    }
}

bool stopSet(const HttpThreadParams& params) {
    return params.stopped();
}

// A stop order also ends a transfer under way, so that Stop never waits out a time-out.
void watchStopOrder(platform::InternetSession& session, const HttpThreadParams& params) {
    if (const StopOrder* order = params.stopOrder) {
        session.setAbortCheck([order] { return order->isSet(); });
    }
}

// Waits out the rest of kMinAttemptMs since `attemptStart`, with or without a stop order to end
// the wait; true when the stop order is set.
bool pauseBeforeRetry(const HttpThreadParams& params, Clock::time_point attemptStart,
                      int attemptMs = kMinAttemptMs) {
    const auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - attemptStart).count();
    const int restMs = static_cast<int>(attemptMs - std::min<long long>(elapsedMs, attemptMs));
    if (params.stopOrder)
        return params.stopOrder->waitMs(restMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(restMs));
    return false;
}

// A request may take this many of its time-outs in all, however steadily its bytes come (each
// byte restarts the time-out): a frame or sound segment later than that has lost its use, and a
// whole file of an hour of sound needs about 100 KB/s to arrive within ten.
constexpr int kPieceDeadlineTimeouts = 2;
constexpr int kWholeFileDeadlineTimeouts = 10;

void applyTimeouts(platform::InternetSession& session, int timeoutMs, int deadlineTimeouts) {
    SetSessionTimeouts(session, timeoutMs);
    // A time-out of 0 or below sets no limit, and so no deadline either.
    session.setTransferLimitMs(timeoutMs > 0 ? static_cast<long>(timeoutMs) * deadlineTimeouts : 0);
}

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void closeTransfer(std::unique_ptr<platform::HttpFile>& file,
                   std::unique_ptr<platform::HttpConnection>& connection) {
    if (file)
        file->close();
    file.reset();
    if (connection)
        connection->close();
    connection.reset();
}

}  // namespace

std::string ComposeUrl(const std::string& base, const std::string& relative) {
    if (!base.empty() && base.back() == '/' && !relative.empty() && relative.front() == '/') {
        return base + relative.substr(1);
    }
    return base + relative;
}

std::optional<std::string> MakeLocalName(const std::string& url) {
    try {
        platform::ParsedUrl parsed;
        std::string path = url;
        bool fileUrl = false;
        if (platform::parseUrl(url, parsed)) {
            path = parsed.object;
            fileUrl = parsed.service == platform::InternetService::File;
        }
        const std::size_t slash = fileUrl ? path.find_last_of("/\\") : path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    } catch (...) {
        WriteLog(LogTag::HttpThread, "MakeLocalName ERROR");
        return std::nullopt;
    }
}

namespace {

std::string tempName(const std::string& url, const std::string& number) {
    std::string name;
    try {
        std::optional<std::string> folder = GetInetTempFolder();
        if (!folder)
            throw std::runtime_error("no cache folder");
        name = folder->empty() ? std::string(".") : *folder;
        name += '/';
        const std::string file = MakeLocalName(url).value_or(std::string());
        const std::size_t dot = file.rfind('.');
        if (dot == std::string::npos) {
            name += file + number;
        } else {
            name += file.substr(0, dot) + number + file.substr(dot);
        }
    } catch (...) {
        WriteLog(LogTag::HttpThread, "MakeTempName ERROR");
        // A name without its folder would land wherever the process happens to run.
        name.clear();
    }
    return name;
}

}  // namespace

std::string MakeTempName(const std::string& url, int n) {
    return tempName(url, std::to_string(n));
}

std::string MakeTempName(const std::string& url, int n, const std::string& tag) {
    return tempName(url, tag.empty() ? std::to_string(n) : std::to_string(n) + "-" + tag);
}

std::string NewTempTag() {
    static std::atomic<unsigned> runs{0};
    return "p" + std::to_string(::getpid()) + "r" + std::to_string(runs++);
}

void SetSessionTimeouts(platform::InternetSession& session, int timeMs) {
    using platform::InternetOption;
    const auto value = static_cast<std::uint32_t>(timeMs);
    session.setOption(InternetOption::ConnectRetries, 1);
    for (InternetOption option :
         {InternetOption::ConnectTimeout, InternetOption::SendTimeout,
          InternetOption::ReceiveTimeout, InternetOption::ListenTimeout,
          InternetOption::DataSendTimeout, InternetOption::DataReceiveTimeout,
          InternetOption::DisconnectedTimeout}) {
        session.setOption(option, value);
    }
}

std::unique_ptr<platform::HttpConnection> ConnectForUrl(platform::InternetSession& session,
                                                        const std::string& url,
                                                        std::string& objectOut) {
    platform::ParsedUrl parsed;
    if (!platform::parseUrl(url, parsed) || (parsed.service != platform::InternetService::Http &&
                                             parsed.service != platform::InternetService::Https)) {
        return nullptr;
    }
    try {
        auto connection = session.getHttpConnection(
            parsed.server, parsed.port, parsed.service == platform::InternetService::Https);
        objectOut = parsed.object;
        return connection;
    } catch (const platform::InternetException& e) {
        WriteLog(LogTag::HttpThread, "GetHttpConnection エラー url=%s dwError=%d dwErrContext=%d",
                 platform::withoutUserInfo(url).c_str(), e.errorCode(), e.context());
        return nullptr;
    }
}

namespace {

// Each retry of one request follows an answer of the user's (a certificate trusted, a login
// given), and there are few of those; the bound only guards against a loop.
constexpr int kMaxAccessRounds = 6;

std::optional<Login> loginInUrl(const std::string& url) {
    Login login;
    std::string password;
    if (!platform::userInfoOf(url, login.user, password))
        return std::nullopt;
    login.password = SecretText(std::move(password));
    ::explicit_bzero(password.data(), password.capacity());
    return login;
}

}  // namespace

std::unique_ptr<platform::HttpFile> OpenHttpFile(
    const std::string& url, std::unique_ptr<platform::HttpConnection>& connectionOut,
    int* statusOut, platform::InternetSession& session, RequestReport* report,
    RecorderAccess* access) {
    // What the log shows of the URL: never the user information.
    const std::string shown = platform::withoutUserInfo(url);
    const std::optional<Recorder> recorder = access ? Recorder::of(url) : std::nullopt;
    std::unique_ptr<platform::HttpFile> file;
    for (int round = 0;; ++round) {
        std::string object;
        connectionOut = ConnectForUrl(session, url, object);
        if (!connectionOut) {
            WriteLog(LogTag::HttpThread, "GetHttpConnection エラー[%s]", shown.c_str());
            return nullptr;
        }
        RecorderAccess::Request sent;
        if (recorder) {
            if (access->refusal()) {
                // Nothing the recorder could answer would change it: no request at all.
                WriteLog(LogTag::HttpThread, "接続中止 [%s] %s", shown.c_str(),
                         access->refusalText().c_str());
                if (report)
                    report->accessDenied = true;
                closeTransfer(file, connectionOut);
                return nullptr;
            }
            sent = access->prepare(*recorder);
        }
        bool ok = false;
        std::optional<platform::PeerCertificate> refusedCertificate;
        std::optional<std::vector<platform::HttpChallenge>> loginChallenges;
        try {
            file = connectionOut->openRequest("GET", object, kRequestFlags);
            file->setPinnedCertificate(sent.pinned);
            if (sent.scheme != platform::HttpLoginScheme::None)
                file->setLogin(sent.scheme, sent.user, sent.password.reveal());
            if (!file->addRequestHeaders(kRequestHeaders, platform::kHttpAddReqFlagAddIfNew)) {
                WriteLog(LogTag::HttpThread, "AddRequestHeaders failed.[%s] getLastError()=%d",
                         shown.c_str(), file->lastError());
            } else {
                WriteLog(LogTag::HttpThread, "SendRequest　開始");
                if (!file->sendRequest()) {
                    WriteLog(LogTag::HttpThread, "SendRequest failed.[%s]", shown.c_str());
                }
                WriteLog(LogTag::HttpThread, "SendRequest　終了");
                std::uint32_t status = 0;
                if (!file->queryInfoStatusCode(status))
                    status = 400;
                if (report)
                    report->status = static_cast<int>(status);
                if (status < 200 || status >= 300) {
                    // Redirects are not followed: a 3xx carries no resource of ours, and neither
                    // does any other answer that is not a success.
                    if (statusOut)
                        *statusOut = static_cast<int>(status);
                    if (statusOut && status == 404) {
                        WriteLog(LogTag::HttpThread,
                                 "[404 FileNotFound]Received. Transfer Next Stage.");
                    } else {
                        WriteLog(LogTag::HttpThread, "QueryInfoStatusCode failed. %03d [%s]",
                                 static_cast<int>(status), shown.c_str());
                    }
                    if (status == 401 && recorder) {
                        loginChallenges =
                            platform::parseChallenges(file->responseHeaders("WWW-Authenticate"));
                    }
                } else {
                    ok = true;
                }
            }
        } catch (const platform::InternetException& e) {
            WriteLog(LogTag::HttpThread, "SendRequestエラー dwError=%d dwErrContext=%d msg=%s",
                     e.errorCode(), e.context(), e.message().c_str());
            if (recorder && file && file->certificateRefused() && file->peerCertificate())
                refusedCertificate = file->peerCertificate();
        }
        if (ok)
            return file;
        closeTransfer(file, connectionOut);
        // Asked with the transfer closed: the user may take a while.
        bool again = false;
        if (refusedCertificate) {
            again = round < kMaxAccessRounds &&
                    access->certificateRefused(*recorder, *refusedCertificate);
        } else if (loginChallenges) {
            again = round < kMaxAccessRounds &&
                    access->loginAsked(*recorder, *loginChallenges, sent, loginInUrl(url));
        } else {
            return nullptr;
        }
        if (!again) {
            if (report)
                report->accessDenied = true;
            return nullptr;
        }
    }
}

std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path) {
    std::unique_ptr<OutputFile> file = OutputFile::create(path);
    if (!file) {
        WriteLog(LogTag::HttpThread, "OpenOutputFile 一時ファイル作成失敗 NAME='%s'", path.c_str());
    }
    return file;
}

namespace {

// What one attempt of a fetch came to.
enum class AttemptEnd {
    NoLocalFile,  // the local file could not be created; nothing was sent
    NotOpened,    // no connection, a failed send or a status of 400 or more
    Missing,      // a 404 taken as the normal end of the fetch; the local file is gone
    Whole,        // the body up to its end is in the local file
    BrokenBody,   // the body broke off or timed out
    WriteFailed,  // the local file refused a write or its close
    TooLarge,
    AccessDenied,  // the run's access to the recorder is refused: no attempt can help
    Abandoned,     // given up between two chunks
    NotFound,      // the status asked again after the body was 404
    Failed,        // anything else that went wrong
};

struct Attempt {
    AttemptEnd end = AttemptEnd::Failed;
    long long bytes = 0;
    int status = 0;       // the recorder's answer, 0 when none came
    std::string refusal;  // AccessDenied: the refusal in words for the user
};

// A fetcher as its log lines name it, and what its attempts check.
struct Fetcher {
    const char* name;      // "GetImgFile", "GetWaveFile", "DownloadFile"
    const char* fileWord;  // how its write-failure line calls the local file
    long long maxBytes;    // a larger body is refused
    bool requeryNotFound;  // the status is asked again after the body; 404 fails the fetch
    int deadlineTimeouts;  // time-outs one request may take in all
};

constexpr Fetcher kImageFetch{"GetImgFile", "一時ファイル", kMaxPictureBytes, false,
                              kPieceDeadlineTimeouts};
constexpr Fetcher kWaveFetch{"GetWaveFile", "一時ファイル", kMaxSegmentBytes, true,
                             kPieceDeadlineTimeouts};
constexpr Fetcher kFileDownload{"DownloadFile", "ファイル", kMaxDownloadBytes, true,
                                kWholeFileDeadlineTimeouts};

// How a fetch answers an attempt that brought nothing it can keep. Every retry waits out the
// rest of kMinAttemptMs; the stop order ends the wait and the fetch.
struct RetryPolicy {
    int failedOpenLimit;   // failed requests that end the fetch; 0: none, only the stop order
    bool retryBrokenBody;  // a body that broke off is asked for again, not counted
    bool retryEmptyBody;   // an empty body is asked for again, not counted
    // Attempts stop once this long has passed since the first (0: no limit), and the pause
    // between them doubles from kMinAttemptMs up to kMaxRetryPauseMs.
    int giveUpAfterMs = 0;
    bool growingPause = false;
};

// The longest pause between two attempts of a fetch that backs off.
constexpr int kMaxRetryPauseMs = 2000;

// A frame: one attempt; the caller decides on another.
constexpr RetryPolicy kSingleAttempt{1, false, false};
// A sound segment: asked for until bytes arrive, the stop order is given or the cache could no
// longer cover the gap (the time is set per fetch), less and less often: a recorder that
// refuses does not get ten requests a second for ever.
constexpr RetryPolicy kUntilData{0, true, true, 0, true};
// A whole file: four failed requests give up; a body that broke off is asked for again.
constexpr RetryPolicy kFourFailedRequests{4, true, false};

// One attempt: the local file, the request, the body into the file, the status asked again,
// then the transfer and the file closed. `missingEnds` takes a 404 answer as the normal end of
// the fetch. `onOpened` runs once the request has been answered; `afterFullChunk` after every
// full chunk of the body, and may give the body up.
template <class OnOpened, class AfterChunk>
Attempt fetchOnce(const Fetcher& fetcher, platform::InternetSession& session,
                  const std::string& url, const std::string& path, int* statusOut, bool missingEnds,
                  HttpThreadParams& params, OnOpened onOpened, AfterChunk afterFullChunk) {
    Attempt attempt;
    std::unique_ptr<OutputFile> out;
    try {
        out = OpenOutputFile(path);
    } catch (...) {
        WriteLog(LogTag::HttpThread, "%s 一時ファイル作成失敗 NAME='%s'", fetcher.name,
                 path.c_str());
    }
    if (!out) {
        attempt.end = AttemptEnd::NoLocalFile;
        return attempt;
    }
    std::unique_ptr<platform::HttpConnection> connection;
    std::unique_ptr<platform::HttpFile> file;
    try {
        int status = 0;
        RequestReport report;
        file = OpenHttpFile(url, connection, statusOut ? &status : nullptr, session, &report,
                            params.access);
        attempt.status = report.status;
        if (statusOut && status != 0)
            *statusOut = status;
        if (!file) {
            out->close();
            if (report.accessDenied) {
                removeFile(path);
                attempt.end = AttemptEnd::AccessDenied;
                attempt.refusal = params.access ? params.access->refusalText() : std::string();
            } else if (missingEnds && status == 404) {
                WriteLog(LogTag::HttpThread, "%s FileNotFownd!!! Normally End.", fetcher.name);
                removeFile(path);
                attempt.end = AttemptEnd::Missing;
            } else {
                WriteLog(LogTag::HttpThread, "%s OpenSession FAILED!!! pSrc == NULL", fetcher.name);
                attempt.end = AttemptEnd::NotOpened;
            }
            return attempt;
        }
        onOpened();
        const BodyOutcome body = readBody(*file, *out, fetcher.maxBytes, afterFullChunk);
        attempt.bytes = body.bytes;
        switch (body.end) {
            case BodyEnd::Whole:
                attempt.end = AttemptEnd::Whole;
                break;
            case BodyEnd::ReadFailed:
                WriteLog(LogTag::HttpThread, "%s ファイル取得タイムアウト", fetcher.name);
                attempt.end = AttemptEnd::BrokenBody;
                break;
            case BodyEnd::WriteFailed:
                WriteLog(LogTag::HttpThread, "%s %s書込失敗 NAME='%s'", fetcher.name,
                         fetcher.fileWord, path.c_str());
                attempt.end = AttemptEnd::WriteFailed;
                break;
            case BodyEnd::TooLarge:
                WriteLog(LogTag::HttpThread, "%s body over %lld bytes refused", fetcher.name,
                         fetcher.maxBytes);
                attempt.end = AttemptEnd::TooLarge;
                break;
            case BodyEnd::Abandoned:
                attempt.end = AttemptEnd::Abandoned;
                break;
        }
        std::uint32_t answered = 0;
        if (fetcher.requeryNotFound && file->queryInfoStatusCode(answered) && answered == 404) {
            WriteLog(LogTag::HttpThread, "%s 'File Not Found' Exception Ocuurd", fetcher.name);
            attempt.end = AttemptEnd::NotFound;
        }
        closeTransfer(file, connection);
        if (!out->close() && attempt.end == AttemptEnd::Whole) {
            WriteLog(LogTag::HttpThread, "%s %s書込失敗 NAME='%s'", fetcher.name, fetcher.fileWord,
                     path.c_str());
            attempt.end = AttemptEnd::WriteFailed;
        }
    } catch (...) {
        WriteLog(LogTag::HttpThread, "%s ダウンロード失敗", fetcher.name);
        attempt.end = AttemptEnd::Failed;
    }
    return attempt;
}

struct FetchOutcome {
    Attempt last;
    // Set when a request failed and another attempt followed, from the start of the first one.
    std::optional<Clock::time_point> firstRetryStart;
    int failures = 0;  // attempts that brought nothing
};

// Runs attempts as `policy` says, until one ends the fetch or the stop order is seen. `urlNow`
// gives each attempt's URL.
template <class UrlNow, class OnOpened, class AfterChunk>
FetchOutcome fetchWithRetries(const Fetcher& fetcher, const RetryPolicy& policy,
                              platform::InternetSession& session, UrlNow urlNow,
                              const std::string& path, int* statusOut, bool missingEnds,
                              HttpThreadParams& params, OnOpened onOpened,
                              AfterChunk afterFullChunk) {
    FetchOutcome outcome;
    int failedOpens = 0;
    const Clock::time_point first = Clock::now();
    for (;;) {
        const Clock::time_point attemptStart = Clock::now();
        outcome.last = fetchOnce(fetcher, session, urlNow(), path, statusOut, missingEnds, params,
                                 onOpened, afterFullChunk);
        bool again = false;
        switch (outcome.last.end) {
            case AttemptEnd::NotOpened:
                ++failedOpens;
                if (stopSet(params))
                    return outcome;
                again = policy.failedOpenLimit == 0 || failedOpens < policy.failedOpenLimit;
                if (again && !outcome.firstRetryStart)
                    outcome.firstRetryStart = attemptStart;
                break;
            case AttemptEnd::BrokenBody:
                again = policy.retryBrokenBody;
                break;
            case AttemptEnd::Whole:
                again = outcome.last.bytes == 0 && policy.retryEmptyBody;
                break;
            default:
                break;
        }
        if (!again)
            return outcome;
        ++outcome.failures;
        if (policy.giveUpAfterMs > 0 && millisecondsSince(first) >= policy.giveUpAfterMs) {
            WriteLog(LogTag::HttpThread, "%s リトライ打ち切り %d回", fetcher.name,
                     outcome.failures);
            return outcome;
        }
        const int pauseMs =
            policy.growingPause
                ? std::min(kMinAttemptMs << std::min(outcome.failures - 1, 8), kMaxRetryPauseMs)
                : kMinAttemptMs;
        if (pauseBeforeRetry(params, attemptStart, pauseMs))
            return outcome;
    }
}

// What went wrong with a fetch, in words for the user: "the recorder answers 500 for the sound".
std::string describeFailure(const char* what, const Attempt& attempt) {
    switch (attempt.end) {
        case AttemptEnd::NotOpened:
            if (attempt.status != 0) {
                return std::string("the recorder answers ") + std::to_string(attempt.status) +
                       " for the " + what;
            }
            return std::string("the recorder does not answer for the ") + what;
        case AttemptEnd::Whole:
            return std::string("the recorder answers the ") + what + " with nothing";
        case AttemptEnd::BrokenBody:
            return std::string("the recorder's answer for the ") + what + " broke off";
        case AttemptEnd::TooLarge:
            return std::string("the recorder's answer for the ") + what + " is too large";
        case AttemptEnd::NoLocalFile:
        case AttemptEnd::WriteFailed:
            return std::string("the ") + what + " cannot be written to the cache folder";
        case AttemptEnd::AccessDenied:
            return attempt.refusal;
        default:
            return std::string("the ") + what + " cannot be fetched";
    }
}

}  // namespace

ImageFetch GetImgFile(const std::string& tempName, HttpThreadParams& params, bool firstImage,
                      std::int64_t* timeOut, int* statusOut, int shortfallMs) {
    const FetchSettings& fetch = params.fetch;
    const bool download = fetch.mode.downloadsRecording();
    std::string url = ComposeUrl(fetch.locationBase, fetch.imageUrl);
    WriteLog(LogTag::HttpThread, "J2Kデータ受信開始");
    platform::InternetSession session;
    watchStopOrder(session, params);
    // A picture may take what the cache can spare beyond one request period, but never so
    // little (or, for a request period above the cache time, nothing: no limit at all) that no
    // picture can arrive.
    const int timeoutMs =
        download ? 60000 : std::max(fetch.cacheTimeMs - fetch.waveRequestIntervalMs, 1000);
    WriteLog(LogTag::HttpThread, "タイムアウト時間=%d", timeoutMs);
    applyTimeouts(session, timeoutMs, kImageFetch.deadlineTimeouts);
    if (download)
        url += "?dlimg=" + std::to_string(params.progress.downloadCount + 1);

    const Attempt attempt =
        fetchWithRetries(
            kImageFetch, kSingleAttempt, session, [&url] { return url; }, tempName, statusOut,
            false, params,
            [timeOut] {
                if (timeOut)
                    *timeOut = static_cast<std::int64_t>(std::time(nullptr));
            },
            [&params, firstImage, shortfallMs] {
                if (firstImage)
                    return true;
                // Sound keeps priority over pictures: a picture that arrives while the sound
                // cache runs low is given up.
                const int bufferedMs = params.hooks ? params.hooks->soundBufferedMs(shortfallMs)
                                                    : params.fetch.cacheTimeMs;
                if (params.fetch.cacheTimeMs * 0.5 > static_cast<double>(bufferedMs)) {
                    WriteLog(LogTag::HttpThread,
                             "GetImageFile : 音声キャッシュファイル不足　キャッシュ時間：%d",
                             bufferedMs);
                    return false;
                }
                return true;
            })
            .last;

    const bool stop = stopSet(params);
    const bool whole = attempt.end == AttemptEnd::Whole;
    if (!whole)
        removeFile(tempName);
    if (attempt.end == AttemptEnd::Abandoned && !stop) {
        // Given up so that the sound keeps flowing: a picture less, not a failed download. A
        // save run that ended on it would lose its whole recording to one late picture.
        WriteLog(LogTag::HttpThread, "J2Kデータ受信終了 chk=%d", 0);
        return ImageFetch::GivenUp;
    }
    // What a failure means for the run is the caller's to decide: it may try again. What went
    // wrong is kept for the message, should the caller give up.
    if (!whole && !stop)
        params.progress.pictureFailure = describeFailure("picture", attempt);
    switch (attempt.end) {
        case AttemptEnd::NoLocalFile:
            // Nothing was sent.
            WriteLog(LogTag::HttpThread, "J2Kデータ受信終了 chk=%d", 0);
            return ImageFetch::Failed;
        case AttemptEnd::NotOpened:
            // A request ended by the stop order is a stop, not a download failure.
            return stop ? ImageFetch::Stopped : ImageFetch::Failed;
        default:
            break;
    }
    bool picture = whole;
    if (whole && !stop) {
        // An answer that is not a JPEG 2000 frame (an error page sent with 200, an empty body) is
        // a failed attempt like a refused request, not a picture.
        korvex::CheckResult check;
        picture = CheckJ2kFile(tempName, check);
        if (!picture) {
            WriteLog(LogTag::HttpThread, "J2Kデータ不正 %lld bytes", attempt.bytes);
            params.progress.pictureFailure =
                "the recorder's answer for the picture is not a JPEG 2000 picture";
            removeFile(tempName);
        }
    }
    WriteLog(LogTag::HttpThread, "J2Kデータ受信終了 chk=%d", picture ? 1 : 0);
    if (stop)
        return ImageFetch::Stopped;
    return picture ? ImageFetch::Whole : ImageFetch::Failed;
}

int GetWaveFile(const std::string& tempName, int soundSlot, int* playSlot, int pictureSlot,
                HttpThreadParams& params, bool* firstFlag, int shortfallMs) {
    const std::string waveUrl = ComposeUrl(params.fetch.locationBase, params.fetch.waveUrl);
    const std::string firstUrl = ComposeUrl(params.fetch.locationBase, params.fetch.firstWaveUrl);
    const int timeoutMs = (params.fetch.cacheTimeMs / 5) * 3;
    const bool setupDue = params.hooks && params.hooks->saveSetupDue();
    WriteLog(LogTag::HttpThread, "WAVEデータ受信開始");
    platform::InternetSession session;
    watchStopOrder(session, params);
    applyTimeouts(session, timeoutMs, kWaveFetch.deadlineTimeouts);

    // Retried until what the cache holds could no longer cover the gap.
    RetryPolicy policy = kUntilData;
    policy.giveUpAfterMs =
        std::max(params.fetch.cacheTimeMs, 2 * std::max(params.fetch.waveRequestIntervalMs, 0));
    const FetchOutcome outcome = fetchWithRetries(
        kWaveFetch, policy, session, [&] { return firstFlag && *firstFlag ? firstUrl : waveUrl; },
        tempName, nullptr, false, params,
        [&params, firstFlag] {
            if (firstFlag && *firstFlag) {
                params.progress.firstSoundTime = static_cast<std::int64_t>(std::time(nullptr));
                *firstFlag = false;
            }
        },
        [] { return true; });
    if (outcome.last.end == AttemptEnd::NoLocalFile) {
        removeFile(tempName);
        params.progress.result = SaveResult::DownloadFailure;
        return 0;
    }

    // A stop before any byte arrived leaves nothing to cache.
    bool good = outcome.last.end == AttemptEnd::Whole && outcome.last.bytes > 0;
    if (good) {
        if (outcome.firstRetryStart) {
            WriteLog(LogTag::HttpThread, "GetWaveFile リトライ完了　time=%d\n",
                     static_cast<int>(millisecondsSince(*outcome.firstRetryStart)));
        }
        // The save starts only once the sound cache is full.
        if (setupDue && shortfallMs <= 0) {
            params.hooks->saveSetup(pictureSlot, soundSlot, playSlot);
        }
        if (params.hooks)
            good = params.hooks->storeWaveSegment(tempName, soundSlot) != 0;
    }
    const bool stop = stopSet(params);
    if (!good) {
        removeFile(tempName);
        if (!stop) {
            params.progress.result = SaveResult::DownloadFailure;
            if (params.progress.failure.empty() &&
                !(outcome.last.end == AttemptEnd::Whole && outcome.last.bytes > 0))
                params.progress.failure = describeFailure("sound", outcome.last);
        }
    }
    WriteLog(LogTag::HttpThread, "WAVEデータ受信終了 chk=%d", good ? 1 : 0);
    return good && !stop ? 1 : 0;
}

int DownloadFile(DownloadKind kind, const std::string& localPath, HttpThreadParams& params) {
    WriteLog(LogTag::HttpThread, "ダウンロード開始");
    platform::InternetSession session;
    watchStopOrder(session, params);
    applyTimeouts(session, 60000, kFileDownload.deadlineTimeouts);
    const std::string url =
        ComposeUrl(params.fetch.locationBase,
                   kind == DownloadKind::Index ? params.fetch.infUrl : params.fetch.waveUrl);

    int status = 0;
    // In a save-only download the recorder may have no such file for the stretch: a normal end.
    const FetchOutcome outcome = fetchWithRetries(
        kFileDownload, kFourFailedRequests, session, [&url] { return url; }, localPath, &status,
        params.fetch.mode.downloadsRecording(), params, [] {}, [] { return true; });
    if (outcome.last.end == AttemptEnd::NoLocalFile) {
        removeFile(localPath);
        params.progress.result = SaveResult::DownloadFailure;
        return 0;
    }

    // A body read to its end finishes the download, even an empty one: asking again would bring
    // the same answer.
    const bool success =
        outcome.last.end == AttemptEnd::Whole || outcome.last.end == AttemptEnd::Missing;
    const bool stop = stopSet(params);
    if (!success) {
        // A sound file cut by a stop stays as received: players play what exists of it. An
        // index that does not match its frames is worse than none, so a cut INF file goes.
        if (!(stop && kind == DownloadKind::Sound))
            removeFile(localPath);
        if (!stop)
            params.progress.result = SaveResult::DownloadFailure;
    }
    WriteLog(LogTag::HttpThread, "DownloadFile終了 chk=%d", success ? 1 : 0);
    return success && !stop ? 1 : 0;
}

}  // namespace picvox
