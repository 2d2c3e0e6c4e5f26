#include "control/run/HttpThread.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <new>

#include "control/buffers/PicvoxLog.h"
#include "control/download/CacheSlots.h"
#include "control/download/HttpFetch.h"
#include "control/download/RecordingSaver.h"
#include "platform/audio/AudioStream.h"

namespace picvox {

namespace {

using Clock = std::chrono::steady_clock;

// Pictures per IMG folder of a run.
constexpr int kFramesPerFolder = 200;
// The play loop fetches a picture only while more than this share of the cache time is held:
// below it sound has priority.
constexpr double kPictureFillShare = 0.7;
// How often the player wait of a save with sound looks at its events.
constexpr int kPlayerPollMs = 10;

int msSince(Clock::time_point t0) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// The rest of a period that began at `t0`.
int restOfPeriod(int periodMs, Clock::time_point t0) {
    const int spent = msSince(t0);
    return spent >= periodMs ? 0 : periodMs - spent;
}

// Waits out the rest of a period; true when the thread is to end: the stop order, or the order to
// finish after the pass just made.
bool waitOrFinish(HttpThreadContext& c, int ms) {
    constexpr int kSliceMs = 50;
    for (;;) {
        if (c.finishOrder.load())
            return true;
        const int slice = std::min(ms, kSliceMs);
        if (c.stopOrder.waitMs(slice))
            return true;
        ms -= slice;
        if (ms <= 0)
            return c.finishOrder.load();
    }
}

void removeEmptyFolder(const std::string& path) {
    if (!path.empty())
        ::rmdir(path.c_str());  // only an empty folder goes
}

void playLoop(HttpThreadContext& c) {
    HttpThreadParams& p = c.params;
    CacheStore& store = *c.store;
    int shortfall = CacheShortfall(p.fetch.cacheTimeMs, p.cache.folder, p.cache.clock);
    const bool saves = p.fetch.mode.saves();
    int folderNumber = 0;
    std::string imageFolder;
    if (saves) {
        folderNumber = 1;
        p.progress.result = CreateImageFolder(imageFolder, p, folderNumber);
    }
    const std::string* saveFolder = saves ? &imageFolder : nullptr;
    int pictureSlot = LatestSlot(p.cache, SlotKind::Picture);
    int soundSlot = LatestSlot(p.cache, SlotKind::Sound);
    int seqNo = 0;
    int savedCount = 0;
    int requestCount = 0;
    int folderAttempts = 0;
    int folderOpenedAt = 0;  // seqNo at which the current IMG folder was opened
    bool firstSound = true;
    if (p.progress.result != SaveResult::None)
        return;

    RefreshUrls(c);
    const Clock::time_point first = Clock::now();
    int last = store.AddImageData(seqNo, pictureSlot, savedCount, true, saveFolder, false, nullptr,
                                  shortfall, soundSlot);
    store.saveState().firstAddMs = msSince(first);
    if (last == 0 || c.stopOrder.isSet())
        return;

    for (;;) {
        ++requestCount;
        soundSlot = NextSlot(soundSlot);
        const Clock::time_point t0 = Clock::now();  // the period starts here

        RefreshUrls(c);
        const std::string tempName = MakeTempName(p.fetch.waveUrl, requestCount, p.tempTag);
        int playSlot = requestCount;
        last = GetWaveFile(tempName, soundSlot, &playSlot, pictureSlot, p, &firstSound, shortfall);
        if (last == 0)
            WriteLog(LogTag::HttpThread, "HttpThreadProc 音声ファイル取得失敗");
        shortfall = CacheShortfall(p.fetch.cacheTimeMs, p.cache.folder, p.cache.clock);
        if (shortfall == 0)
            c.receiving.set();

        if (last != 0) {
            const int buffered = store.soundBufferedMs(shortfall);
            // Once the saved sound is all queued, its last picture is fetched whatever the ring
            // holds: it closes the recording, and no more sound is needed for it.
            if (buffered > p.fetch.cacheTimeMs * kPictureFillShare ||
                (saveFolder && store.savedSoundQueued())) {
                // A folder is opened once per 200 pictures, not again while seqNo stays on the
                // boundary (a picture that was not counted).
                if (saveFolder && seqNo != 0 && seqNo % kFramesPerFolder == 0 &&
                    seqNo != folderOpenedAt) {
                    ++folderNumber;
                    p.progress.result = CreateImageFolder(imageFolder, p, folderNumber);
                    folderAttempts = 0;
                    folderOpenedAt = seqNo;
                    if (p.progress.result != SaveResult::None)
                        break;
                }
                RefreshUrls(c);
                last = store.AddImageData(seqNo, pictureSlot, savedCount, false, saveFolder, false,
                                          nullptr, shortfall, soundSlot);
                if (last == 0 && folderAttempts == 0 && saveFolder)
                    removeEmptyFolder(imageFolder);
                ++folderAttempts;
            }
        }

        const int wait = restOfPeriod(p.fetch.waveRequestIntervalMs, t0);
        if (last == 0)
            break;
        // Once the saved sound is complete the pass that brought its end (with its picture) is
        // the last one.
        if (waitOrFinish(c, wait))
            break;
        if (p.shared.soundPlaying && p.shared.soundPlaying->load() == 0 && p.shared.endOrder &&
            p.shared.endOrder->isSet()) {
            if (p.shared.stopBeforePlay)
                p.shared.stopBeforePlay->store(1);
            break;
        }
    }
    // A first saved picture that no picture followed still belongs to the recording.
    if (saveFolder && !c.stopOrder.isSet())
        store.SavePendingPictures(pictureSlot, *saveFolder, savedCount);
}

void saveOnlyLoop(HttpThreadContext& c) {
    HttpThreadParams& p = c.params;
    CacheStore& store = *c.store;
    const std::int64_t start = std::time(nullptr);
    int folderNumber = 1;
    std::string imageFolder;
    p.progress.result = CreateImageFolder(imageFolder, p, folderNumber);
    bool go = p.progress.result == SaveResult::None;
    const std::string soundPath = p.save.folder + "/sound.wav";
    int seqNo = 1;
    int savedCount = 0;
    int inFolder = 0;
    int folderAttempts = 0;
    int pictureSlot = 0;
    int status = 0;
    const bool download = p.fetch.mode.downloadsRecording();

    while (go) {
        const Clock::time_point t0 = Clock::now();
        if (++inFolder > kFramesPerFolder) {
            ++folderNumber;
            inFolder = 1;
            folderAttempts = 0;
            p.progress.result = CreateImageFolder(imageFolder, p, folderNumber);
            if (p.progress.result != SaveResult::None)
                break;
        }
        RefreshUrls(c);
        const int got = store.AddImageData(seqNo, pictureSlot, savedCount, true, &imageFolder, true,
                                           download ? &status : nullptr, 0, 0);
        if (got == 0 && folderAttempts == 0)
            removeEmptyFolder(imageFolder);
        ++folderAttempts;
        go = got == 1;
        const int wait = restOfPeriod(p.fetch.pictureIntervalMs, t0);
        if (!go)
            break;
        if (c.stopOrder.waitMs(wait)) {
            go = false;
        } else if (!download && std::time(nullptr) - start > p.save.saveTime) {
            go = false;
            p.progress.result = SaveResult::Complete;
        }
    }

    WriteJ2kErrLog("----- download end Date %s",
                   p.progress.detailText.empty() ? "not found" : p.progress.detailText.c_str());
    WriteJ2kErrLog("J2KERR Total Count=%d\n", p.progress.j2kErrorCount);
    WriteLog(LogTag::HttpThread, "DecodeImg error Total Count=%d\n", p.progress.j2kErrorCount);

    const bool stopBeforePlay = p.shared.stopBeforePlay && p.shared.stopBeforePlay->load() != 0;
    if (download && p.progress.result == SaveResult::None && status == 404 && !stopBeforePlay &&
        !c.stopOrder.isSet()) {
        RefreshUrls(c);
        if (DownloadFile(DownloadKind::Sound, soundPath, p) != 0) {
            std::string infPath;
            if (MakeInfName(infPath, p) != 0)
                DownloadFile(DownloadKind::Index, infPath, p);
        }
    }
}

}  // namespace

SaveResult HttpThreadContext::resultCode() const {
    if (params.progress.result != SaveResult::None)
        return params.progress.result;
    return soundLoopResult.load();
}

void RefreshUrls(HttpThreadContext& c) {
    if (!c.control)
        return;
    FetchSettings& f = c.params.fetch;
    f.waveUrl = c.control->text(RunText::WaveFileUrl);
    f.firstWaveUrl = c.firstWaveIsInit ? c.control->text(RunText::InitWaveFileUrl) : f.waveUrl;
    f.imageUrl = c.control->text(RunText::ImageFileUrl);
    f.infUrl = c.control->text(RunText::InfFileUrl);
    f.locationBase = c.control->text(RunText::LocationBase);
}

int HttpThreadProc(HttpThreadContext& c) {
    HttpThreadParams& p = c.params;
    struct FlushOnEnd {
        HttpThreadParams& p;
        ~FlushOnEnd() { p.progress.folderSync.flush(p.save.disk ? *p.save.disk : RealDisk()); }
    } flush{p};
    WriteLog(LogTag::HttpThread, "HttpThreadProc Start!!");
    if (p.shared.stopBeforePlay)
        p.shared.stopBeforePlay->store(0);
    p.progress.result = SaveResult::None;
    const RunMode mode = p.fetch.mode;
    if (mode.downloadsRecording()) {
        WriteLog(LogTag::HttpThread, "画像保存動作のみ＋ダウンロード");
        saveOnlyLoop(c);
    } else if (mode.pictureOnly()) {
        WriteLog(LogTag::HttpThread, "画像保存動作のみ");
        saveOnlyLoop(c);
    } else {
        WriteLog(LogTag::HttpThread, "通常動作%s", mode.saves() ? "＋音声・画像保存" : "のみ");
        playLoop(c);
    }
    WriteLog(LogTag::HttpThread, "HttpThreadProc End!!");
    return 0;
}

FetchSettings FetchSettingsOf(const MainThreadParams& mp) {
    FetchSettings f;
    f.cacheTimeMs = mp.cacheTimeMs;
    f.waveRequestIntervalMs = mp.waveRequestIntervalMs;
    f.pictureIntervalMs = mp.pictureInterval;
    f.mode = mp.mode;
    return f;
}

std::unique_ptr<HttpThreadContext> StartHttpThread(const HttpThreadInput& in,
                                                   MainThreadParams& mp) {
    std::unique_ptr<HttpThreadContext> c(new (std::nothrow) HttpThreadContext);
    if (!c) {
        WriteLog(LogTag::MainProcess, "StartHttpThread エラー");
        return nullptr;
    }
    HttpThreadParams& p = c->params;
    c->control = mp.control;
    c->firstWaveIsInit = mp.firstWaveIsInit;
    p.fetch = FetchSettingsOf(mp);
    RefreshUrls(*c);
    p.cache = CacheLocation{mp.tempFolder, mp.slotClock};
    p.save = in.save;
    p.shared = in.shared;
    p.shared.playerReady = &c->playerReady;
    p.shared.soundQueued = &c->soundQueued;
    p.shared.receiving = &c->receiving;
    p.stopOrder = &c->stopOrder;
    p.access = in.access;
    p.tempTag = NewTempTag();
    c->store = std::make_unique<CacheStore>(p);
    p.hooks = c->store.get();

    HttpThreadContext* raw = c.get();
    const auto body = [raw](platform::Event&) {
        HttpThreadProc(*raw);
        // The player may have been made on this thread.
        platform::releaseAudioThreadState();
    };
    if (!c->worker.start(body)) {
        WriteLog(LogTag::MainProcess, "StartHttpThread エラー");
        return nullptr;
    }

    if (mp.mode.savesSound()) {
        // The player comes with the save set-up, which runs in the request after the cache has
        // filled: CacheTime of sound by the files' times, then one more segment, the first of
        // which may only just miss the span. Two request periods on top of 2 x CacheTime keep a
        // healthy recorder at the shortest cache time from failing on the clock's phase.
        const int limitMs = 2 * mp.cacheTimeMs + 2 * std::max(mp.waveRequestIntervalMs, 0);
        int waitedMs = 0;
        for (;;) {
            // A download thread that ended makes no player; its result tells why.
            const int which = platform::Event::waitAny(
                {&c->playerReady, mp.endOrder, &c->worker.endNotice()}, kPlayerPollMs);
            if (which >= 0)
                break;
            if (!c->receiving.wait(0))
                waitedMs += kPlayerPollMs;
            if (waitedMs > limitMs) {
                WriteLog(LogTag::MainProcess,
                         "StartHttpThread：セカンダリバッファ作成タイムアウト");
                StopHttpThread(*c);
                return nullptr;
            }
        }
    }
    WriteLog(LogTag::MainProcess, "MainProcessThread HTTPスレッド生成成功");
    return c;
}

void StopHttpThread(HttpThreadContext& c) {
    c.stopOrder.set();
    StopWorkerThread(c.worker, "HTTP");
}

}  // namespace picvox
