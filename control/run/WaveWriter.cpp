#include "control/run/WaveWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>
#include <vector>

#include "control/buffers/PicvoxLog.h"
#include "control/download/HttpFetch.h"
#include "control/run/PageCounter.h"

#include "platform/FileSystem.h"

namespace picvox {

WaveOutputFile::~WaveOutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

int WaveOutputFile::create(const std::string& path) {
    close();
    // Unlink first: a link planted at the name is removed, never followed.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return errno;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd_ < 0 ? errno : 0;
}

int WaveOutputFile::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    return fd_ < 0 ? errno : 0;
}

int WaveOutputFile::seek(std::uint64_t offset) {
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

int WaveOutputFile::seekEnd(std::uint64_t& size) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0)
        return errno;
    size = static_cast<std::uint64_t>(end);
    return 0;
}

int WaveOutputFile::write(const std::uint8_t* bytes, std::size_t n) {
    return platform::writeAll(fd_, bytes, n);
}

int WaveOutputFile::truncate(std::uint64_t size) {
    return ::ftruncate(fd_, static_cast<off_t>(size)) != 0 ? errno : 0;
}

int WaveOutputFile::sync() {
    return ::fdatasync(fd_) != 0 ? errno : 0;
}

int WaveOutputFile::close() {
    if (fd_ < 0)
        return 0;
    const int result = ::close(fd_) != 0 ? errno : 0;
    fd_ = -1;
    return result;
}

bool IsDiskFullError(int osError) {
    return osError == ENOSPC || osError == EDQUOT;
}

std::int32_t CounterSeconds(std::uint32_t bytes, std::uint32_t avgBytesPerSec) {
    if (avgBytesPerSec == 0)
        return 0;
    const std::uint32_t rest = bytes % avgBytesPerSec;
    return static_cast<std::int32_t>(bytes / avgBytesPerSec + (rest > avgBytesPerSec / 2 ? 1 : 0));
}

namespace {

constexpr int kPollMs = 10;
constexpr auto kSecondsTimerId = static_cast<std::int32_t>(run::kSaveSecondsTimerId);

void log(const char* text) {
    WriteLog(LogTag::WaveWriteThread, "%s", text);
}

// One pass of writing: the first clip's header and what has gone into the file so far.
class SoundFile {
public:
    SoundFile(WaveOutputFile& file, const std::string& path) : file_(file), path_(path) {}

    int osError() const { return osError_; }

    // Creates the file with the header of `first` and an empty data chunk.
    bool create(const WavClip& first) {
        format_.format = first.format;
        format_.fmtBytes = first.fmtBytes;
        header_ = MakeWavHeader(format_, 0);
        if (header_.empty()) {
            osError_ = EINVAL;
            WriteLog(LogTag::WaveWriteThread, "出力ファイル作成失敗。name=%s dwlOsError=%d",
                     path_.c_str(), osError_);
            return false;
        }
        if (const int e = file_.create(path_)) {
            osError_ = e;
            WriteLog(LogTag::WaveWriteThread, "出力ファイル作成失敗。name=%s dwlOsError=%d",
                     path_.c_str(), e);
            return false;
        }
        const std::size_t ext = header_.size() - kWavPlainHeaderBytes;
        bool ok = put(header_.data(), kStandardBytes, "waveファイル標準ヘッダー書き込み失敗。");
        if (ok) {
            WriteLog(LogTag::WaveWriteThread, "waveファイル拡張ヘッダー書き込み size=%d",
                     ext > 0 ? header_[36] | header_[37] << 8 : 0);
        }
        if (ok && ext > 0)
            ok =
                put(header_.data() + kStandardBytes, ext, "waveファイル拡張ヘッダー書き込み失敗。");
        if (ok) {
            ok = put(header_.data() + kStandardBytes + ext, 8,
                     "waveファイルデータチャンクヘッダー書き込み失敗。");
        }
        if (ok)
            ok = flush();
        file_.close();
        if (!ok)
            ::unlink(path_.c_str());  // a header cut short is no WAV file; leave nothing
        return ok;
    }

    bool reopen() {
        if (const int e = file_.open(path_)) {
            osError_ = e;
            WriteLog(LogTag::WaveWriteThread, "出力ファイル再オープン失敗。name=%s dwlOsError=%d",
                     path_.c_str(), e);
            return false;
        }
        return true;
    }

    // Appends `n` bytes at the end; on failure the file is cut back to where it ended, so its
    // header still tells the truth.
    bool append(const std::uint8_t* bytes, std::uint32_t n) {
        std::uint64_t end = 0;
        if (const int e = file_.seekEnd(end)) {
            osError_ = e;
            WriteLog(LogTag::WaveWriteThread, "出力ファイル末尾移動失敗。dwlOsError=%d", e);
            file_.close();
            return false;
        }
        bool ok = n == 0 || put(bytes, n, nullptr);
        if (ok)
            ok = flush();
        if (!ok) {
            WriteLog(LogTag::WaveWriteThread, "waveファイルデータ書き込み失敗。size=%d",
                     static_cast<int>(n));
            file_.truncate(end);
            file_.close();
        }
        return ok;
    }

    // Counts `n` more data bytes and rewrites the sizes in place, then flushes and closes.
    bool rewriteHeader(std::uint32_t n) {
        dataBytes_ += n;
        const std::vector<std::uint8_t> fresh = MakeWavHeader(format_, dataBytes_);
        const std::size_t ext = header_.size() - kWavPlainHeaderBytes;
        bool ok = true;
        if (const int e = file_.seek(0)) {
            osError_ = e;
            WriteLog(LogTag::WaveWriteThread, "出力ファイル先頭移動失敗。dwlOsError=%d", e);
            ok = false;
        }
        if (ok)
            ok = put(fresh.data(), kStandardBytes, "waveファイルヘッダー再書き込み失敗。");
        if (ok && ext > 0) {
            if (const int e = file_.seek(kStandardBytes + ext)) {
                osError_ = e;
                WriteLog(LogTag::WaveWriteThread, "出力ファイルポインタ移動失敗。dwlOsError=%d", e);
                ok = false;
            }
        }
        if (ok) {
            ok = put(fresh.data() + kStandardBytes + ext, 8,
                     "waveファイルデータチャンク再書き込み失敗。");
        }
        if (ok)
            ok = flush();
        file_.close();
        return ok;
    }

    std::uint64_t dataBytes() const { return dataBytes_; }
    // Data bytes the header's 32-bit RIFF size can still describe.
    std::uint64_t roomLeft() const {
        const std::uint64_t most = std::numeric_limits<std::uint32_t>::max() - (header_.size() - 8);
        return most > dataBytes_ ? most - dataBytes_ : 0;
    }

private:
    static constexpr std::size_t kStandardBytes = 36;

    bool put(const std::uint8_t* bytes, std::size_t n, const char* failure) {
        if (const int e = file_.write(bytes, n)) {
            osError_ = e;
            WriteLog(LogTag::WaveWriteThread, "waveファイル書き込み失敗。dwlOsError=%d", e);
            if (failure)
                log(failure);
            return false;
        }
        return true;
    }

    bool flush() {
        if (const int e = file_.sync()) {
            osError_ = e;
            WriteLog(LogTag::WaveWriteThread, "waveファイル書き込み失敗。dwlOsError=%d", e);
            return false;
        }
        return true;
    }

    WaveOutputFile& file_;
    const std::string& path_;
    std::vector<std::uint8_t> header_;
    WavClip format_;  // the first clip's format, which the header keeps
    std::uint64_t dataBytes_ = 0;
    int osError_ = 0;
};

// Waits for the control's window, polling; false when the end is ordered first.
bool waitForWindow(CounterTimers& timers, platform::Event& stop) {
    while (!timers.hasWindow()) {
        if (stop.wait(kPollMs))
            return false;
    }
    return true;
}

}  // namespace

bool StartWaveWriter(WaveWriterContext& context, const WaveWriterParams& params) {
    if (context.worker.running())
        return false;
    context.worker.stop();  // joins a writer of an earlier pass that ended by itself
    context.result = WaveWriteResult::None;
    context.queue.reset();

    if (params.cacheTimeMs > 0) {
        const std::size_t slots = std::min<std::size_t>(
            static_cast<std::size_t>(params.cacheTimeMs) * 5, kMaxWaveQueueSlots);
        context.queue.reset(new (std::nothrow) WaveSaveQueue(slots));
    }
    if (!context.queue) {
        log("wave保存スレッド用リングバッファ生成失敗");
        return false;
    }
    const bool named = MakeLocalName(params.waveUrl).has_value();
    if (named && !params.destination.empty() && params.counterValue && params.timerId &&
        params.writerDone && params.countDone) {
        context.outputPath = params.destination + "/sound.wav";
        context.counterValue = params.counterValue;
        context.timerId = params.timerId;
        context.writerDone = params.writerDone;
        context.countDone = params.countDone;
        context.timers = params.timers;
        context.saveTime = params.saveTime;
        context.cacheTimeMs = params.cacheTimeMs;
        if (params.file) {
            context.file = params.file;
        } else {
            context.ownFile = std::make_unique<WaveOutputFile>();
            context.file = context.ownFile.get();
        }
        if (context.worker.start(
                [&context](platform::Event& stop) { WaveWriteThread(context, stop); })) {
            return true;
        }
    }
    context.queue.reset();
    return false;
}

int WaveWriteThread(WaveWriterContext& context, platform::Event& stop) {
    log("WaveWriteThread Start!!");
    SoundFile sound(*context.file, context.outputPath);
    bool first = true;
    bool switched = false;
    WaveWriteResult result = WaveWriteResult::None;
    const std::int32_t switchAt = context.cacheTimeMs / 1000;

    while (result == WaveWriteResult::None) {
        WavClip clip;
        if (context.queue->Pop(clip)) {
            bool ok = true;
            bool stopped = false;
            if (first) {
                ok = sound.create(clip);
                first = false;
            }
            ok = ok && sound.reopen();
            std::uint32_t n = 0;
            bool cut = false;
            if (ok) {
                const std::uint32_t avg = clip.avgBytesPerSec();
                const std::uint64_t allowed =
                    static_cast<std::uint64_t>(std::max(context.saveTime, 0)) * avg;
                const std::uint64_t left =
                    std::min(allowed > sound.dataBytes() ? allowed - sound.dataBytes() : 0,
                             sound.roomLeft());
                n = static_cast<std::uint32_t>(std::min<std::uint64_t>(clip.dataBytes, left));
                cut = n != clip.dataBytes;
                ok = sound.append(clip.data.data(), n);
                if (ok && !switched) {
                    const std::int32_t secs = CounterSeconds(n, avg);
                    const std::int32_t counter = context.counterValue->fetch_add(secs) + secs;
                    WriteLog(LogTag::WaveWriteThread,
                             "********************* 書込みサイズ少ない件の検証ログ "
                             "lInclNum=[%ld] dwWriteSize=[%ld]",
                             static_cast<long>(secs), static_cast<long>(n));
                    if (context.timers) {
                        stopped = !waitForWindow(*context.timers, stop);
                        if (!stopped && counter >= switchAt && context.timers->hasWindow()) {
                            // Switched or gone: either way this writer counts no more.
                            switched = true;
                            if (context.timers->switchToSecondsTimer())
                                log("保存時キャッシュ後タイマー設定");
                        }
                    }
                }
                // Even when the end is ordered the clip is in the file: its header must say so.
                ok = ok && sound.rewriteHeader(n);
            }
            if (!ok) {
                result = IsDiskFullError(sound.osError()) ? WaveWriteResult::DiskFull
                                                          : WaveWriteResult::OtherError;
            } else if (cut) {
                result = WaveWriteResult::SaveTimeReached;
            } else if (stopped) {
                result = WaveWriteResult::EndedOnOrder;
            }
            if (result != WaveWriteResult::None)
                break;
        }
        if (stop.wait(kPollMs))
            result = WaveWriteResult::EndedOnOrder;
    }
    context.result = result;
    context.writerDone->store(1);
    log("WAVE書込み処理終了");

    // Let the page counter show the full save time, unless Stop has killed its timer or ordered
    // the end. The event is only looked at, so the end-of-run report still finds it set.
    if (result == WaveWriteResult::SaveTimeReached && context.timerId->load() == kSecondsTimerId) {
        while (!context.countDone->isSet() && context.timerId->load() == kSecondsTimerId &&
               !stop.wait(kPollMs)) {
        }
    }
    log("WaveWriteThread End!!");
    return 0;
}

void CleanupWaveSaveQueue(WaveWriterContext& context) {
    context.worker.stop();
    if (!context.queue)
        return;
    WavClip clip;
    while (context.queue->Pop(clip)) {
    }
    context.queue.reset();
    log("MainProcessThread wave保存リングバッファ破棄");
}

}  // namespace picvox
