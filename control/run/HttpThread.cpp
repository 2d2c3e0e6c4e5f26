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

void removeEmptyFolder(const std::string& path) {
    if (!path.empty())
        ::rmdir(path.c_str());  // only an empty folder goes
}

void playLoop(HttpThreadContext& c) {
    HttpThreadParams& p = c.params;
    CacheStore& store = *c.store;
    int shortfall = CacheShortfall(p.cacheTimeMs, p.tempFolder, p.slotClock);
    int folderNumber = 0;
    std::string imageFolder;
    if (p.hddSave != 0) {
        folderNumber = 1;
        p.result = CreateImageFolder(imageFolder, p, folderNumber);
    }
    const std::string* saveFolder = p.hddSave != 0 ? &imageFolder : nullptr;
    int pictureSlot = LatestSlot(p, SlotKind::Picture);
    int soundSlot = LatestSlot(p, SlotKind::Sound);
    int seqNo = 0;
    int savedCount = 0;
    int requestCount = 0;
    int folderAttempts = 0;
    int folderOpenedAt = 0;  // seqNo at which the current IMG folder was opened
    bool firstSound = true;
    if (p.result != 0)
        return;

    RefreshUrls(c);
    const Clock::time_point first = Clock::now();
    int last = store.AddImageData(seqNo, pictureSlot, savedCount, true, saveFolder, false, nullptr,
                                  shortfall, soundSlot);
    p.firstAddMs = msSince(first);
    if (last == 0 || c.stopOrder.isSet())
        return;

    for (;;) {
        ++requestCount;
        soundSlot = NextSlot(soundSlot);
        const Clock::time_point t0 = Clock::now();  // the period starts here

        RefreshUrls(c);
        const std::string tempName = MakeTempName(p.waveUrl, requestCount);
        int playSlot = requestCount;
        last = GetWaveFile(tempName, soundSlot, &playSlot, pictureSlot, p, &firstSound, shortfall);
        if (last == 0)
            WriteLog(LogTag::HttpThread, "HttpThreadProc 音声ファイル取得失敗");
        shortfall = CacheShortfall(p.cacheTimeMs, p.tempFolder, p.slotClock);
        if (shortfall == 0)
            c.receiving.set();

        if (last != 0) {
            const int buffered = p.pictureIntervalMs != 0 || p.saveSetupDone != 0
                                     ? store.audioRingBufferedMs()
                                     : p.cacheTimeMs - shortfall;
            if (buffered > p.cacheTimeMs * kPictureFillShare) {
                // A folder is opened once per 200 pictures, not again while seqNo stays on the
                // boundary (a picture that was not counted).
                if (saveFolder && seqNo != 0 && seqNo % kFramesPerFolder == 0 &&
                    seqNo != folderOpenedAt) {
                    ++folderNumber;
                    p.result = CreateImageFolder(imageFolder, p, folderNumber);
                    folderAttempts = 0;
                    folderOpenedAt = seqNo;
                    if (p.result != 0)
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

        const int wait = restOfPeriod(p.waveRequestIntervalMs, t0);
        if (last == 0)
            break;
        if (c.stopOrder.waitMs(wait))
            break;
        if (p.soundPlaying && p.soundPlaying->load() == 0 && p.endOrder && p.endOrder->isSet()) {
            if (p.stopBeforePlay)
                p.stopBeforePlay->store(1);
            break;
        }
    }
}

void saveOnlyLoop(HttpThreadContext& c) {
    HttpThreadParams& p = c.params;
    CacheStore& store = *c.store;
    const std::int64_t start = std::time(nullptr);
    int folderNumber = 1;
    std::string imageFolder;
    p.result = CreateImageFolder(imageFolder, p, folderNumber);
    bool go = p.result == 0;
    const std::string soundPath = p.destination + "/sound.wav";
    int seqNo = 1;
    int savedCount = 0;
    int inFolder = 0;
    int folderAttempts = 0;
    int pictureSlot = 0;
    int status = 0;

    while (go) {
        const Clock::time_point t0 = Clock::now();
        if (++inFolder > kFramesPerFolder) {
            ++folderNumber;
            inFolder = 1;
            folderAttempts = 0;
            p.result = CreateImageFolder(imageFolder, p, folderNumber);
            if (p.result != 0)
                break;
        }
        RefreshUrls(c);
        const int got = store.AddImageData(seqNo, pictureSlot, savedCount, true, &imageFolder, true,
                                           p.hddSave == kHddSaveDownload ? &status : nullptr, 0, 0);
        if (got == 0 && folderAttempts == 0)
            removeEmptyFolder(imageFolder);
        ++folderAttempts;
        go = got == 1;
        const int wait = restOfPeriod(p.pictureIntervalMs, t0);
        if (!go)
            break;
        if (c.stopOrder.waitMs(wait)) {
            go = false;
        } else if (p.hddSave == 1 && std::time(nullptr) - start > p.saveTime) {
            go = false;
            p.result = kSaveComplete;
        }
    }

    WriteJ2kErrLog("----- download end Date %s",
                   p.detailText.empty() ? "not found" : p.detailText.c_str());
    WriteJ2kErrLog("J2KERR Total Count=%d\n", p.j2kErrorCount);
    WriteLog(LogTag::HttpThread, "DecodeImg error Total Count=%d\n", p.j2kErrorCount);

    const bool stopBeforePlay = p.stopBeforePlay && p.stopBeforePlay->load() != 0;
    if (p.hddSave == kHddSaveDownload && p.result == 0 && status == 404 && !stopBeforePlay &&
        !c.stopOrder.isSet()) {
        RefreshUrls(c);
        if (DownloadFile(0, soundPath, p) != 0) {
            std::string infPath;
            if (MakeInfName(infPath, p) != 0)
                DownloadFile(1, infPath, p);
        }
    }
}

}  // namespace

int HttpThreadContext::resultCode() const {
    if (params.result != 0)
        return params.result;
    return soundLoopResult.load();
}

bool IsPictureOnly(int hddSave, int pictureInterval) {
    // The recorded-stretch download fetches frames by number and then the whole sound file; it
    // never plays, so it runs as picture-only whatever the picture interval.
    return hddSave == kHddSaveDownload || (hddSave != 0 && pictureInterval != 0);
}

bool IsSaveWithSound(int hddSave, int pictureInterval) {
    return hddSave != 0 && !IsPictureOnly(hddSave, pictureInterval);
}

void RefreshUrls(HttpThreadContext& c) {
    if (!c.control)
        return;
    HttpThreadParams& p = c.params;
    p.waveUrl = c.control->text(RunText::WaveFileUrl);
    p.firstWaveUrl = c.firstWaveIsInit ? c.control->text(RunText::InitWaveFileUrl) : p.waveUrl;
    p.imageUrl = c.control->text(RunText::ImageFileUrl);
    p.infUrl = c.control->text(RunText::InfFileUrl);
    p.locationBase = c.control->text(RunText::LocationBase);
}

int HttpThreadProc(HttpThreadContext& c) {
    HttpThreadParams& p = c.params;
    WriteLog(LogTag::HttpThread, "HttpThreadProc Start!!");
    if (p.stopBeforePlay)
        p.stopBeforePlay->store(0);
    p.result = 0;
    if (p.hddSave == kHddSaveDownload) {
        WriteLog(LogTag::HttpThread, "画像保存動作のみ＋ダウンロード");
        saveOnlyLoop(c);
    } else if (p.hddSave == 1 && p.pictureIntervalMs > 0) {
        WriteLog(LogTag::HttpThread, "画像保存動作のみ");
        saveOnlyLoop(c);
    } else {
        WriteLog(LogTag::HttpThread, "通常動作%s", p.hddSave == 1 ? "＋音声・画像保存" : "のみ");
        playLoop(c);
    }
    WriteLog(LogTag::HttpThread, "HttpThreadProc End!!");
    return 0;
}

std::unique_ptr<HttpThreadContext> StartHttpThread(const HttpThreadInput& in, int* extraCodeOut,
                                                   MainThreadParams& mp) {
    std::unique_ptr<HttpThreadContext> c(new (std::nothrow) HttpThreadContext);
    if (!c) {
        WriteLog(LogTag::MainProcess, "StartHttpThread エラー");
        return nullptr;
    }
    const bool saveWithSound = IsSaveWithSound(mp.hddSave, mp.pictureInterval);
    HttpThreadParams& p = c->params;
    c->control = mp.control;
    c->firstWaveIsInit = mp.firstWaveIsInit;
    RefreshUrls(*c);
    p.cacheTimeMs = mp.cacheTimeMs;
    p.waveRequestIntervalMs = mp.waveRequestIntervalMs;
    p.hddSave = mp.hddSave;
    p.pictureIntervalMs = mp.pictureInterval;
    p.saveWithSound = saveWithSound;
    p.extraCode = &c->extraCode;
    p.stopOrder = &c->stopOrder;
    p.tempFolder = mp.tempFolder;
    p.delimiter = mp.delimiter;
    p.timestampOrder = mp.timestampOrder;
    p.saveTime = mp.saveTime;
    p.destination = in.destination;
    p.runNumber = in.runNumber;
    if (mp.control)
        p.model = mp.control->text(RunText::Model);
    p.frameQueue = in.frameQueue;
    p.audioRing = in.ring;
    p.waveSaveQueue = saveWithSound ? in.waveSaveQueue : nullptr;
    p.player = in.player;
    p.playerReady = &c->playerReady;
    p.soundQueued = &c->soundQueued;
    p.receiving = &c->receiving;
    p.endOrder = mp.endOrder;
    p.endNotice = &c->worker.endNotice();
    p.writerDone = mp.writerDone;
    p.stopBeforePlay = mp.stopBeforePlay;
    p.soundPlaying = &mp.soundPlaying;
    p.slotClock = mp.slotClock;
    p.disk = mp.disk;
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
        if (extraCodeOut)
            *extraCodeOut = c->extraCode;
        return nullptr;
    }

    if (saveWithSound) {
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
                if (extraCodeOut)
                    *extraCodeOut = c->extraCode;
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
