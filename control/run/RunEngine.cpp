#include "control/run/RunEngine.h"

#include "control/buffers/PicvoxLog.h"
#include "control/download/TempFolder.h"
#include "control/run/HttpThread.h"

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

// How much older than its cache time the newest cached sound may be for a save to continue it:
// the time a user takes between stopping the playback and starting the save.
constexpr int kStaleCacheSlackMs = 30000;

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

    std::optional<std::string> folder = tempFolderSource ? tempFolderSource() : GetInetTempFolder();
    if (folder) {
        p.tempFolder = *folder;
    } else {
        p.tempFolder = FallbackCacheFolder();
        WriteLog(LogTag::CPicvoxer, "Start GetInetTempFolder ERROR");
    }

    const bool live = p.mode.emptiesCache;
    // A save continues the cache of the playback just before it. A cache left from long ago
    // holds another stretch of the recorder's time: saved, its sound and pictures would open the
    // recording with material that does not belong there, so it is emptied as in Live mode.
    const bool staleCache =
        !live && SoundCacheIsStale(p.tempFolder, s.cacheTimeMs + kStaleCacheSlackMs);
    if (staleCache)
        WriteLog(LogTag::CPicvoxer, "Start：古いキャッシュ破棄");
    p.firstWaveIsInit = !(p.mode.savesSound() && !staleCache && HasCachedWave(p.tempFolder));
    const std::string firstUrl =
        control_.text(p.firstWaveIsInit ? RunText::InitWaveFileUrl : RunText::WaveFileUrl);
    WriteLog(LogTag::CPicvoxer, "初期音声ファイルパラメータ値：%s", firstUrl.c_str());

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
