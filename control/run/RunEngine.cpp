#include "control/run/RunEngine.h"

#include "control/buffers/PicvoxLog.h"
#include "control/download/TempFolder.h"
#include "control/run/HttpThread.h"
#include "platform/net/HttpChallenge.h"

#include <algorithm>

namespace picvox {

std::string TrimDestination(std::string destination) {
    if (!destination.empty() && (destination.back() == '/' || destination.back() == '\\'))
        destination.pop_back();
    return destination;
}

RunEngine::RunEngine(RunControl& control) : control_(control) {}

RunEngine::~RunEngine() {
    stop();
}

std::string RunEngine::tempFolder() const {
    // Written by start and stop on the page's thread only.
    return params_.tempFolder;
}

namespace {

// How much older than one request period the newest cached sound may be for a save to continue
// the cache: what the recorder sends next then joins on to it.
constexpr int kContinuousCacheSlackMs = 1000;

}  // namespace

bool RunEngine::start(const RunSettings& s) {
    if (running_.load()) {
        // A second Start leaves the running thread and its cache alone.
        WriteLog(LogTag::CPicvoxer, "Startメソッド MAINスレッド起動済み");
        return false;
    }
    main_.stop();  // joins a thread that ended by itself

    MainThreadParams& p = params_;
    static_cast<RunSettings&>(p) = s;
    p.mode = RunMode::of(s.hddSave, s.pictureInterval, s.destinationSW);
    p.soundPlaying = 0;
    // A writer that ended in an earlier run must not keep this run's frames from being saved.
    writerDone_ = 0;
    stopBeforePlay_ = 0;
    p.control = &control_;
    p.endOrder = &main_.stopEvent();
    p.writerDone = &writerDone_;
    p.stopBeforePlay = &stopBeforePlay_;
    p.running = &running_;
    p.slotClock = slotClock;
    p.disk = disk;
    p.waveFile = waveFile;
    p.trustStorePath = trustStorePath;

    std::optional<std::string> folder = tempFolderSource ? tempFolderSource() : GetInetTempFolder();
    if (folder) {
        p.tempFolder = *folder;
    } else {
        p.tempFolder = FallbackCacheFolder();
        WriteLog(LogTag::CPicvoxer, "Start GetInetTempFolder ERROR");
    }

    const bool live = p.mode.emptiesCache;
    // A save continues the cache of the playback just before it, when what the recorder sends
    // next joins on to it: the same recorder, its newest sound no older than a request period
    // and a second. Any other cache holds another stretch of the recorder's time (or another
    // recorder's): saved, it would open the recording with material that does not belong there,
    // so it is emptied as in Live mode.
    // A login in the Location names no other recorder, and never lands on the disk.
    const std::string source = platform::withoutUserInfo(control_.text(RunText::LocationBase)) +
                               "\n" + control_.text(RunText::WaveFileUrl);
    const bool continuous = CacheContinues(
        p.tempFolder, source, std::max(s.waveRequestIntervalMs, 0) + kContinuousCacheSlackMs);
    const bool staleCache = !live && !continuous && HasCachedWave(p.tempFolder);
    if (staleCache)
        WriteLog(LogTag::CPicvoxer, "Start：古いキャッシュ破棄");
    p.firstWaveIsInit = !(p.mode.savesSound() && continuous);
    const std::string firstUrl =
        control_.text(p.firstWaveIsInit ? RunText::InitWaveFileUrl : RunText::WaveFileUrl);
    WriteLog(LogTag::CPicvoxer, "初期音声ファイルパラメータ値：%s",
             platform::withoutUserInfo(firstUrl).c_str());

    bool ok = true;
    if (live || staleCache) {
        WriteLog(LogTag::CPicvoxer, "Start：キャッシュ開始");
        ok = PrepareCacheFolders(p.tempFolder);
        if (!ok)
            ReportSaveResult(SaveResult::DownloadFailure, std::string(), p);
    } else if (!EnsureCacheFolders(p.tempFolder)) {
        // The save modes keep what an earlier run cached, but need the folders to cache into.
        ok = false;
        ReportSaveResult(SaveResult::DownloadFailure, std::string(), p);
    }
    if (ok)
        WriteCacheSource(p.tempFolder, source);
    if (!ok)
        return false;

    WriteLog(LogTag::CPicvoxer, "Startメソッド MAINスレッド起動");
    running_ = true;
    MainThreadParams* block = &params_;
    if (!main_.start([block](platform::Event&) { MainProcessThread(*block); })) {
        running_ = false;
        WriteLog(LogTag::CPicvoxer, "Startメソッド MAINスレッド起動失敗");
        return false;
    }
    return true;
}

void RunEngine::stop() {
    if (running_.load()) {
        main_.orderStop();
        WriteLog(LogTag::CPicvoxer, "Stopメソッド 終了イベントセット");
        main_.stop();
        WriteLog(LogTag::CPicvoxer, "Stopメソッド メインスレッド終了");
        running_ = false;
        control_.setText(RunText::AbsoluteTime, "00:00:00");
    } else {
        main_.stop();  // a thread that ended by itself is only joined
    }
    params_.tempFolder.clear();
    CleanInetTempFolder();
}

}  // namespace picvox
