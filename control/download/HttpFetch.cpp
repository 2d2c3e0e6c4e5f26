#include "control/download/HttpFetch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <thread>

#include "control/buffers/PicvoxLog.h"
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
    return params.stopOrder && params.stopOrder->isSet();
}

// A stop order also ends a transfer under way, so that Stop never waits out a time-out.
void watchStopOrder(platform::InternetSession& session, const HttpThreadParams& params) {
    if (const StopOrder* order = params.stopOrder) {
        session.setAbortCheck([order] { return order->isSet(); });
    }
}

// Waits out the rest of kMinAttemptMs since `attemptStart`, with or without a stop order to end
// the wait; true when the stop order is set.
bool pauseBeforeRetry(const HttpThreadParams& params, Clock::time_point attemptStart) {
    const auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - attemptStart).count();
    const int restMs =
        static_cast<int>(kMinAttemptMs - std::min<long long>(elapsedMs, kMinAttemptMs));
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

std::string MakeTempName(const std::string& url, int n) {
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
            name += file + std::to_string(n);
        } else {
            name += file.substr(0, dot) + std::to_string(n) + file.substr(dot);
        }
    } catch (...) {
        WriteLog(LogTag::HttpThread, "MakeTempName ERROR");
        // A name without its folder would land wherever the process happens to run.
        name.clear();
    }
    return name;
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
    if (!platform::parseUrl(url, parsed) || parsed.service != platform::InternetService::Http) {
        return nullptr;
    }
    try {
        auto connection = session.getHttpConnection(parsed.server, parsed.port);
        objectOut = parsed.object;
        return connection;
    } catch (const platform::InternetException& e) {
        WriteLog(LogTag::HttpThread, "GetHttpConnection エラー url=%s dwError=%d dwErrContext=%d",
                 url.c_str(), e.errorCode(), e.context());
        return nullptr;
    }
}

std::unique_ptr<platform::HttpFile> OpenHttpFile(
    const std::string& url, std::unique_ptr<platform::HttpConnection>& connectionOut,
    int* statusOut, platform::InternetSession& session) {
    std::string object;
    connectionOut = ConnectForUrl(session, url, object);
    if (!connectionOut) {
        WriteLog(LogTag::HttpThread, "GetHttpConnection エラー[%s]", url.c_str());
        return nullptr;
    }
    std::unique_ptr<platform::HttpFile> file;
    bool ok = false;
    try {
        file = connectionOut->openRequest("GET", object, kRequestFlags);
        if (!file->addRequestHeaders(kRequestHeaders, platform::kHttpAddReqFlagAddIfNew)) {
            WriteLog(LogTag::HttpThread, "AddRequestHeaders failed.[%s] getLastError()=%d",
                     url.c_str(), file->lastError());
        } else {
            WriteLog(LogTag::HttpThread, "SendRequest　開始");
            if (!file->sendRequest()) {
                WriteLog(LogTag::HttpThread, "SendRequest failed.[%s]", url.c_str());
            }
            WriteLog(LogTag::HttpThread, "SendRequest　終了");
            std::uint32_t status = 0;
            if (!file->queryInfoStatusCode(status))
                status = 400;
            if (status >= 400) {
                if (statusOut)
                    *statusOut = static_cast<int>(status);
                if (statusOut && status == 404) {
                    WriteLog(LogTag::HttpThread,
                             "[404 FileNotFound]Received. Transfer Next Stage.");
                } else {
                    WriteLog(LogTag::HttpThread, "QueryInfoStatusCode failed. %03d [%s]",
                             static_cast<int>(status), url.c_str());
                }
            } else {
                ok = true;
            }
        }
    } catch (const platform::InternetException& e) {
        WriteLog(LogTag::HttpThread, "SendRequestエラー dwError=%d dwErrContext=%d msg=%s",
                 e.errorCode(), e.context(), e.message().c_str());
    }
    if (!ok) {
        closeTransfer(file, connectionOut);
        return nullptr;
    }
    return file;
}

std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path) {
    std::unique_ptr<OutputFile> file = OutputFile::create(path);
    if (!file) {
        WriteLog(LogTag::HttpThread, "OpenOutputFile 一時ファイル作成失敗 NAME='%s'", path.c_str());
    }
    return file;
}

int GetImgFile(const std::string& tempName, HttpThreadParams& params, bool firstImage,
               std::int64_t* timeOut, int* statusOut, int shortfallMs) {
    std::string url = ComposeUrl(params.locationBase, params.imageUrl);
    WriteLog(LogTag::HttpThread, "J2Kデータ受信開始");
    platform::InternetSession session;
    watchStopOrder(session, params);
    const int timeoutMs =
        params.hddSave == 2 ? 60000 : params.cacheTimeMs - params.waveRequestIntervalMs;
    WriteLog(LogTag::HttpThread, "タイムアウト時間=%d", timeoutMs);
    applyTimeouts(session, timeoutMs, kPieceDeadlineTimeouts);

    std::unique_ptr<OutputFile> out;
    try {
        out = OpenOutputFile(tempName);
    } catch (...) {
        WriteLog(LogTag::HttpThread, "GetImgFile 一時ファイル作成失敗 NAME='%s'", tempName.c_str());
    }
    if (!out) {
        removeFile(tempName);
        params.result = 5;
        WriteLog(LogTag::HttpThread, "J2Kデータ受信終了 chk=%d", 0);
        return 0;
    }
    if (params.hddSave == 2)
        url += "?dlimg=" + std::to_string(params.downloadCount + 1);

    std::unique_ptr<platform::HttpConnection> connection;
    std::unique_ptr<platform::HttpFile> file = OpenHttpFile(url, connection, statusOut, session);
    if (!file) {
        WriteLog(LogTag::HttpThread, "GetImgFile OpenSession FAILED!!! pSrc == NULL");
        out->close();
        removeFile(tempName);
        // A request ended by the stop order is a stop, not a download failure.
        if (stopSet(params))
            return -1;
        params.result = 5;
        return 0;
    }
    if (timeOut)
        *timeOut = static_cast<std::int64_t>(std::time(nullptr));

    bool whole = false;
    try {
        const BodyOutcome outcome =
            readBody(*file, *out, kMaxFetchBytes, [&params, firstImage, shortfallMs] {
                if (firstImage)
                    return true;
                // Sound keeps priority over pictures: a picture that arrives while the sound
                // cache runs low is given up.
                int bufferedMs = params.cacheTimeMs - shortfallMs;
                if (params.pictureIntervalMs != 0 || params.saveSetupDone) {
                    bufferedMs =
                        params.hooks ? params.hooks->audioRingBufferedMs() : params.cacheTimeMs;
                }
                if (params.cacheTimeMs * 0.5 > static_cast<double>(bufferedMs)) {
                    WriteLog(LogTag::HttpThread,
                             "GetImageFile : 音声キャッシュファイル不足　キャッシュ時間：%d",
                             bufferedMs);
                    return false;
                }
                return true;
            });
        switch (outcome.end) {
            case BodyEnd::Whole:
                whole = true;
                break;
            case BodyEnd::ReadFailed:
                WriteLog(LogTag::HttpThread, "GetImgFile ファイル取得タイムアウト");
                break;
            case BodyEnd::WriteFailed:
                WriteLog(LogTag::HttpThread, "GetImgFile 一時ファイル書込失敗 NAME='%s'",
                         tempName.c_str());
                break;
            case BodyEnd::TooLarge:
                WriteLog(LogTag::HttpThread, "GetImgFile body over %lld bytes refused",
                         kMaxFetchBytes);
                break;
            case BodyEnd::Abandoned:
                break;
        }
    } catch (...) {
        WriteLog(LogTag::HttpThread, "GetImgFile ダウンロード失敗");
    }

    const bool stop = stopSet(params);
    if (!out->close() && whole) {
        WriteLog(LogTag::HttpThread, "GetImgFile 一時ファイル書込失敗 NAME='%s'", tempName.c_str());
        whole = false;
    }
    closeTransfer(file, connection);
    if (!whole) {
        removeFile(tempName);
        if (!stop)
            params.result = 5;
    }
    WriteLog(LogTag::HttpThread, "J2Kデータ受信終了 chk=%d", whole ? 1 : 0);
    if (stop)
        return -1;
    return whole ? 1 : 0;
}

int GetWaveFile(const std::string& tempName, int soundSlot, int* playSlot, int pictureSlot,
                HttpThreadParams& params, bool* firstFlag, int shortfallMs) {
    const std::string waveUrl = ComposeUrl(params.locationBase, params.waveUrl);
    const std::string firstUrl = ComposeUrl(params.locationBase, params.firstWaveUrl);
    const int timeoutMs = (params.cacheTimeMs / 5) * 3;
    const bool setupDue = params.saveSetupDone == 0 && params.saveWithSound;
    WriteLog(LogTag::HttpThread, "WAVEデータ受信開始");
    if (params.extraCode)
        *params.extraCode = 0;
    platform::InternetSession session;
    watchStopOrder(session, params);
    applyTimeouts(session, timeoutMs, kPieceDeadlineTimeouts);

    long long received = 0;
    bool good = true;
    bool stopSeen = false;
    bool retried = false;
    Clock::time_point retryStart{};
    while (received == 0 && !stopSeen && good) {
        const Clock::time_point attemptStart = Clock::now();
        std::unique_ptr<OutputFile> out = OpenOutputFile(tempName);
        if (!out) {
            removeFile(tempName);
            params.result = 5;
            return 0;
        }
        std::unique_ptr<platform::HttpConnection> connection;
        std::unique_ptr<platform::HttpFile> file;
        try {
            const bool first = firstFlag && *firstFlag;
            file = OpenHttpFile(first ? firstUrl : waveUrl, connection, nullptr, session);
            if (!file) {
                WriteLog(LogTag::HttpThread, "GetWaveFile OpenSession FAILED!!! pSrc == NULL");
                stopSeen = stopSet(params);
                if (!retried) {
                    retried = true;
                    retryStart = attemptStart;
                }
                out->close();
                if (!stopSeen)
                    stopSeen = pauseBeforeRetry(params, attemptStart);
                continue;
            }
            if (first) {
                params.firstSoundTime = static_cast<std::int64_t>(std::time(nullptr));
                *firstFlag = false;
            }
            const BodyOutcome outcome = readBody(*file, *out, kMaxFetchBytes, [] { return true; });
            switch (outcome.end) {
                case BodyEnd::Whole:
                case BodyEnd::Abandoned:
                    received = outcome.bytes;
                    break;
                case BodyEnd::ReadFailed:
                    WriteLog(LogTag::HttpThread, "GetWaveFile ファイル取得タイムアウト");
                    received = 0;
                    break;
                case BodyEnd::WriteFailed:
                    WriteLog(LogTag::HttpThread, "GetWaveFile 一時ファイル書込失敗 NAME='%s'",
                             tempName.c_str());
                    good = false;
                    break;
                case BodyEnd::TooLarge:
                    WriteLog(LogTag::HttpThread, "GetWaveFile body over %lld bytes refused",
                             kMaxFetchBytes);
                    good = false;
                    break;
            }
            std::uint32_t status = 0;
            if (file->queryInfoStatusCode(status) && status == 404) {
                good = false;
                if (params.extraCode)
                    *params.extraCode = 404;
                WriteLog(LogTag::HttpThread, "GetWaveFile 'File Not Found' Exception Ocuurd");
            }
            closeTransfer(file, connection);
            if (!out->close() && good && received > 0) {
                WriteLog(LogTag::HttpThread, "GetWaveFile 一時ファイル書込失敗 NAME='%s'",
                         tempName.c_str());
                good = false;
            }
        } catch (...) {
            WriteLog(LogTag::HttpThread, "GetWaveFile ダウンロード失敗");
            good = false;
        }
        // An empty answer or a body that broke off is asked for again, after the same pause.
        if (received == 0 && good)
            stopSeen = pauseBeforeRetry(params, attemptStart);
    }

    // A stop before any byte arrived leaves nothing to cache.
    good = good && received > 0;
    if (good) {
        if (retried) {
            WriteLog(LogTag::HttpThread, "GetWaveFile リトライ完了　time=%d\n",
                     static_cast<int>(millisecondsSince(retryStart)));
        }
        // The save starts only once the sound cache is full.
        if (setupDue && shortfallMs <= 0 && params.hooks) {
            params.hooks->saveSetup(pictureSlot, soundSlot, playSlot);
        }
        if (params.hooks)
            good = params.hooks->storeWaveSegment(tempName, soundSlot) != 0;
    }
    const bool stop = stopSet(params);
    if (!good) {
        removeFile(tempName);
        if (!stop)
            params.result = 5;
    }
    WriteLog(LogTag::HttpThread, "WAVEデータ受信終了 chk=%d", good ? 1 : 0);
    return good && !stop ? 1 : 0;
}

int DownloadFile(int kind, const std::string& localPath, HttpThreadParams& params) {
    WriteLog(LogTag::HttpThread, "ダウンロード開始");
    if (params.extraCode)
        *params.extraCode = 0;
    platform::InternetSession session;
    watchStopOrder(session, params);
    applyTimeouts(session, 60000, kWholeFileDeadlineTimeouts);
    const std::string url =
        ComposeUrl(params.locationBase, kind == 1 ? params.infUrl : params.waveUrl);

    int failedOpens = 0;
    bool success = false;
    bool done = false;
    bool stopSeen = false;
    while (failedOpens < 4 && !done && !stopSeen) {
        const Clock::time_point attemptStart = Clock::now();
        std::unique_ptr<OutputFile> out = OpenOutputFile(localPath);
        if (!out) {
            removeFile(localPath);
            params.result = 5;
            return 0;
        }
        std::unique_ptr<platform::HttpConnection> connection;
        std::unique_ptr<platform::HttpFile> file;
        try {
            int status = 0;
            file = OpenHttpFile(url, connection, &status, session);
            if (file) {
                const BodyOutcome outcome =
                    readBody(*file, *out, kMaxDownloadBytes, [] { return true; });
                switch (outcome.end) {
                    case BodyEnd::Whole:
                    case BodyEnd::Abandoned:
                        // A body read to its end finishes the download, even an empty one:
                        // asking again would bring the same answer.
                        success = true;
                        done = true;
                        break;
                    case BodyEnd::ReadFailed:
                        WriteLog(LogTag::HttpThread, "DownloadFile ファイル取得タイムアウト");
                        break;
                    case BodyEnd::WriteFailed:
                        WriteLog(LogTag::HttpThread, "DownloadFile ファイル書込失敗 NAME='%s'",
                                 localPath.c_str());
                        done = true;
                        break;
                    case BodyEnd::TooLarge:
                        WriteLog(LogTag::HttpThread, "DownloadFile body over %lld bytes refused",
                                 kMaxDownloadBytes);
                        done = true;
                        break;
                }
                std::uint32_t answered = 0;
                if (file->queryInfoStatusCode(answered) && answered == 404) {
                    success = false;
                    done = true;
                    if (params.extraCode)
                        *params.extraCode = 404;
                    WriteLog(LogTag::HttpThread, "DownloadFile 'File Not Found' Exception Ocuurd");
                }
                closeTransfer(file, connection);
                if (!out->close() && success) {
                    WriteLog(LogTag::HttpThread, "DownloadFile ファイル書込失敗 NAME='%s'",
                             localPath.c_str());
                    success = false;
                }
            } else if (params.hddSave == 2 && status == 404) {
                // The recorder has no such file for this stretch: the download ends normally.
                WriteLog(LogTag::HttpThread, "DownloadFile FileNotFownd!!! Normally End.");
                out->close();
                removeFile(localPath);
                success = true;
                done = true;
            } else {
                WriteLog(LogTag::HttpThread, "DownloadFile OpenSession FAILED!!! pSrc == NULL");
                ++failedOpens;
                out->close();
                stopSeen = stopSet(params);
            }
        } catch (...) {
            WriteLog(LogTag::HttpThread, "DownloadFile ダウンロード失敗");
            success = false;
            done = true;
        }
        if (!done && !stopSeen && failedOpens < 4) {
            stopSeen = pauseBeforeRetry(params, attemptStart);
        }
    }

    const bool stop = stopSet(params);
    if (!success) {
        removeFile(localPath);
        if (!stop)
            params.result = 5;
    }
    WriteLog(LogTag::HttpThread, "DownloadFile終了 chk=%d", success ? 1 : 0);
    return success && !stop ? 1 : 0;
}

}  // namespace picvox
