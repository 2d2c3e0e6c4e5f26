#include "control/run/MainProcess.h"

#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>

#include "control/buffers/PicvoxLog.h"
#include "control/download/CacheSlots.h"
#include "control/download/DiskOps.h"
#include "control/download/RecordingSaver.h"
#include "control/run/HttpThread.h"
#include "control/run/SoundPlayLoop.h"
#include "control/run/WaitAnimation.h"

namespace picvox {

namespace {

namespace fs = std::filesystem;

constexpr int kMinCacheMs = 2000;
constexpr int kMaxCacheMs = 30000;
constexpr int kCountDonePollMs = 10;
constexpr const char* kMessageCaption = "Tessaly";

// The writer's result as a save result: its codes 1-3 are the same outcomes; an end on order
// has nothing to report.
int writerSaveResult(WaveWriteResult result) {
    switch (result) {
        case WaveWriteResult::SaveTimeReached:
            return kSaveComplete;
        case WaveWriteResult::DiskFull:
            return kSaveDiskFull;
        case WaveWriteResult::OtherError:
            return kSaveDiskError;
        default:
            return kSaveNone;
    }
}

bool japaneseUser() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return std::string_view(value).substr(0, 2) == "ja";
    }
    return false;
}

std::string resourcesShortText() {
    return japaneseUser() ? "メモリー不足の為、Tessalyを実行できません。"
                          : "There is not enough memory to run Tessaly.";
}

// The writer's timers are the page counter's, on the control's window.
class PageCounterTimers final : public CounterTimers {
public:
    explicit PageCounterTimers(run::PagePort& page) : page_(page) {}
    bool hasWindow() override { return page_.window() != 0; }
    void killTimer(int id) override { page_.killTimer(static_cast<std::uint32_t>(id)); }
    void setTimer(int id, int ms) override {
        page_.setTimer(static_cast<std::uint32_t>(id), static_cast<std::uint32_t>(ms));
    }

private:
    run::PagePort& page_;
};

// Deletes the six-character entries of a cache folder, then the folder if that left it empty.
void emptyCacheFolder(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().size() == 6) {
            std::error_code removeError;
            fs::remove(it->path(), removeError);
        }
    }
    fs::remove(folder, ec);  // only an empty folder goes
}

}  // namespace

// ---- The player slot ----

bool RunPlayerSlot::hasPlayer() const {
    std::lock_guard<std::mutex> guard(lock_);
    return player_ != nullptr;
}

bool RunPlayerSlot::createPlayer(const std::array<std::uint8_t, 18>& format) {
    const std::optional<platform::WaveFormat> parsed =
        platform::WaveFormat::fromBytes(format.data(), format.size());
    if (!parsed || !parsed->playable())
        return false;
    std::unique_ptr<DxsPlayer> made = DXSInit(*parsed, window_);
    if (!made)
        return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (player_)
        return true;
    player_ = std::move(made);
    format_ = *parsed;
    return true;
}

DxsPlayer* RunPlayerSlot::player(platform::WaveFormat* format) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (format)
        *format = format_;
    return player_.get();
}

void RunPlayerSlot::release() {
    std::unique_ptr<DxsPlayer> player;
    {
        std::lock_guard<std::mutex> guard(lock_);
        player = std::move(player_);
    }
    ReleaseDxsPlayer(player);
}

// ---- Helpers of the main process thread ----

void ReportSaveResult(int code, const std::string& detail, MainThreadParams& p) {
    std::string text;
    if (p.control) {
        switch (code) {
            case kSaveComplete:
                text = p.control->text(RunText::CompleteMsg);
                break;
            case kSaveDiskFull:
                text = p.control->text(RunText::DiskFullMsg);
                break;
            case kSaveDiskError:
            case kSaveDownloadFailure:
                text = p.control->text(RunText::ErrorMsg);
                break;
            default:
                break;
        }
    }
    if (!text.empty() && !detail.empty())
        text += "\n" + detail;
    if (!p.control)
        return;
    run::PagePort& page = p.control->page();
    run::PageCounter& counter = p.control->pageCounter();
    if (page.window() != 0 && code != 0) {
        // The counter shows the whole save time before the message; the wait ends with the
        // end order or once Stop has taken the timer away.
        if (counter.timerId.load() == static_cast<std::int32_t>(run::kSaveSecondsTimerId) &&
            code == kSaveComplete) {
            while (!counter.countDone.wait(kCountDonePollMs)) {
                if ((p.endOrder && p.endOrder->isSet()) ||
                    counter.timerId.load() != static_cast<std::int32_t>(run::kSaveSecondsTimerId)) {
                    break;
                }
            }
        }
        run::KillPageCounter(counter, page);
    }
    if (!text.empty())
        page.messageBox(kMessageCaption, text, run::MessageIcon::Warning);
    p.control->setSaveComplete(1);
}

bool StopWorkerThread(platform::Worker& worker, const char* name) {
    worker.orderStop();
    WriteLog(LogTag::MainProcess, "MainProcessThread %sスレッド停止通知", name);
    worker.stop();
    WriteLog(LogTag::MainProcess, "MainProcessThread %sスレッド停止", name);
    return true;
}

bool WaitOrStop(int ms, const MainThreadParams& p, platform::Event* writerEnded,
                platform::Event* downloadEnded) {
    return platform::Event::waitAny({p.endOrder, writerEnded, downloadEnded}, ms < 0 ? 0 : ms) < 0;
}

int CacheShortfall(int cacheMs, const std::string& baseFolder, SlotClock clock) {
    bool any = false;
    std::uint64_t oldest = 0;
    std::uint64_t newest = 0;
    ScanSlotFolder(SoundFolder(baseFolder), clock, [&](int, std::uint64_t t) {
        if (!any) {
            oldest = newest = t;
            any = true;
            return;
        }
        oldest = std::min(oldest, t);
        newest = std::max(newest, t);
    });
    if (!any)
        return cacheMs;
    const std::uint64_t spanMs = (newest - oldest) / 10000;
    return spanMs >= static_cast<std::uint64_t>(std::max(cacheMs, 0))
               ? 0
               : cacheMs - static_cast<int>(spanMs);
}

bool HasCachedWave(const std::string& baseFolder) {
    bool any = false;
    ScanSlotFolder(SoundFolder(baseFolder), SlotClock::ModificationTime,
                   [&](int, std::uint64_t) { any = true; });
    return any;
}

bool SoundCacheIsStale(const std::string& baseFolder, int maxAgeMs) {
    std::uint64_t newest = 0;
    ScanSlotFolder(SoundFolder(baseFolder), SlotClock::ModificationTime,
                   [&](int, std::uint64_t t) { newest = std::max(newest, t); });
    if (newest == 0)
        return false;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::uint64_t nowTicks = static_cast<std::uint64_t>(now.tv_sec) * 10000000u +
                                   static_cast<std::uint64_t>(now.tv_nsec) / 100u;
    return nowTicks > newest &&
           (nowTicks - newest) / 10000u > static_cast<std::uint64_t>(std::max(maxAgeMs, 0));
}

bool PrepareCacheFolders(const std::string& baseFolder) {
    std::error_code ec;
    if (baseFolder.empty() ||
        (!fs::is_directory(baseFolder, ec) && !fs::create_directories(baseFolder, ec))) {
        // Without its base folder the cache cannot be made; give up rather than retry.
        WriteLog(LogTag::CPicvoxer, "キャッシュ用フォルダ作成エラー");
        return false;
    }
    const fs::path pictures = PictureFolder(baseFolder);
    const fs::path sound = SoundFolder(baseFolder);
    emptyCacheFolder(pictures);
    emptyCacheFolder(sound);
    std::error_code picturesError;
    std::error_code soundError;
    const bool made =
        fs::create_directory(pictures, picturesError) && fs::create_directory(sound, soundError);
    if (!made) {
        WriteLog(LogTag::CPicvoxer, "キャッシュ用フォルダ作成エラー");
        return false;
    }
    return true;
}

bool EnsureCacheFolders(const std::string& baseFolder) {
    std::error_code ec;
    bool ok = !baseFolder.empty();
    for (const fs::path& folder :
         {fs::path(PictureFolder(baseFolder)), fs::path(SoundFolder(baseFolder))}) {
        if (ok && !fs::is_directory(folder, ec))
            ok = fs::create_directories(folder, ec);
    }
    if (!ok)
        WriteLog(LogTag::CPicvoxer, "キャッシュ用フォルダ作成エラー");
    return ok;
}

bool CheckSystemResources() {
    // No resource library exists here; the check passes as it does without one.
    WriteLog(LogTag::MainProcess, "MainProcessThread リソースチェック DLLなし\n");
    WriteLog(LogTag::MainProcess, "MainProcessThread リソースチェックＯＫ");
    return true;
}

// ---- The main process thread ----

void MainProcessThread(MainThreadParams& p) {
    RunControl& control = *p.control;
    run::PagePort& page = control.page();
    run::PageCounter& counter = control.pageCounter();
    const bool pictureOnly = IsPictureOnly(p.hddSave, p.pictureInterval);
    const bool saveWithSound = IsSaveWithSound(p.hddSave, p.pictureInterval);
    const bool folderChoice = p.hddSave == 0 && p.destinationSW != 0;
    WriteLog(LogTag::MainProcess, "MainProcessThread START!!");
    p.chosenFolder.reset();
    RunPlayerSlot player(page.window());

    // Set-up: the first failed check gives the code.
    int code = kSaveNone;
    std::unique_ptr<AudioRing> ring;
    if (p.hddSave != 0 && p.saveTime <= 0) {
        code = kSaveDiskError;
    } else if (!pictureOnly && !folderChoice &&
               (p.cacheTimeMs < kMinCacheMs || p.cacheTimeMs > kMaxCacheMs)) {
        code = kSaveDiskError;
    } else if (!CheckSystemResources()) {
        page.messageBox("", resourcesShortText(), run::MessageIcon::None);
        code = kSaveResourcesShort;
    } else if (!pictureOnly) {
        ring.reset(new (std::nothrow) AudioRing);
        if (ring) {
            WriteLog(LogTag::MainProcess, "MainProcessThread リングバッファ生成成功");
        } else {
            WriteLog(LogTag::MainProcess, "MainProcessThread リングバッファ生成失敗");
            code = kSaveDiskError;
        }
    }

    platform::Worker animation;
    bool animationStarted = false;
    std::string runFolder;
    int runNumber = 0;
    bool again = true;
    if (code != kSaveNone) {
        ReportSaveResult(code, std::string(), p);
        again = false;
    } else {
        animationStarted = control.startAnimation(animation, p.maskHeight);
        runFolder = control.text(RunText::Destination);
        if (p.hddSave != 0 && p.destinationSW == 0) {
            code = CreateSaveRunFolder(runFolder, runNumber, control.text(RunText::Model),
                                       p.disk ? *p.disk : RealDisk());
            if (code == kSaveNone)
                control.setText(RunText::Destination, runFolder);  // the page sees the run folder
            if (!pictureOnly && !ring->allocated())
                ring->Allocate(AudioRing::kControlSize);
            if (code != kSaveNone) {
                ReportSaveResult(code, std::string(), p);
                runFolder.clear();
                again = false;
            }
        }
    }

    PageCounterTimers timers(page);
    WaveWriterContext writer;
    while (again) {
        std::string detail;
        bool writerStarted = false;
        int writerResult = kSaveNone;
        if (saveWithSound) {
            p.writerDone->store(0);
            WaveWriterParams wp;
            wp.waveUrl = control.text(RunText::WaveFileUrl);
            wp.destination = runFolder;
            wp.saveTime = p.saveTime;
            wp.cacheTimeMs = p.cacheTimeMs;
            wp.counterValue = &counter.counterValue;
            wp.timerId = &counter.timerId;
            wp.writerDone = p.writerDone;
            wp.countDone = &counter.countDone;
            // Without a window there are no timers to switch, and nothing to wait for.
            wp.timers = page.window() != 0 ? &timers : nullptr;
            wp.file = p.waveFile;
            writerStarted = StartWaveWriter(writer, wp);
            if (!writerStarted) {
                // Without its writer a save with sound cannot run: the run ends with an error
                // (or quietly, when the end was ordered meanwhile).
                WriteLog(LogTag::MainProcess, "MainProcessThread wave保存スレッド起動失敗");
                if (!p.endOrder->isSet())
                    ReportSaveResult(kSaveDiskError, std::string(), p);
                break;
            }
        }
        platform::Event* writerEnded = writerStarted ? &writer.writerEnded() : nullptr;

        run::SetAnimationState(run::kAnimationCaching);
        if (!pictureOnly && CacheShortfall(p.cacheTimeMs, p.tempFolder, p.slotClock) == 0) {
            run::SetAnimationState(run::kAnimationNone);
            WriteLog(LogTag::MainProcess, "キャッシュ完了 アニメストップ");
        }

        std::shared_ptr<FrameQueue> queue;
        try {
            queue = std::make_shared<FrameQueue>(FrameQueue::capacityFor(p.cacheTimeMs),
                                                 control.repaintTarget(), control.controlLock());
            control.setFrameQueue(queue);
            WriteLog(LogTag::MainProcess, "MainProcessThread 画像バッファ生成成功");
        } catch (const std::bad_alloc&) {
            queue.reset();
            WriteLog(LogTag::MainProcess, "MainProcessThread 画像バッファ生成失敗");
        }

        bool hadDownload = false;
        int extraCode = 0;
        int downloadCode = kSaveNone;
        if (queue) {
            HttpThreadInput in;
            in.ring = ring.get();
            in.frameQueue = queue.get();
            in.waveSaveQueue = writerStarted ? writer.queue.get() : nullptr;
            in.player = &player;
            in.runNumber = runNumber;
            in.destination = runFolder;
            in.writerEnded = writerEnded;
            std::unique_ptr<HttpThreadContext> http = StartHttpThread(in, &extraCode, p);
            if (http) {
                hadDownload = true;
                bool ok = true;
                if (!pictureOnly) {
                    int n = CacheShortfall(p.cacheTimeMs, p.tempFolder, p.slotClock);
                    WriteLog(LogTag::MainProcess, "キャッシュ不足時間：%d", n);
                    // A download thread that has ended will cache nothing more.
                    platform::Event* downloadEnded = &http->worker.endNotice();
                    if (n != 0) {
                        ok = WaitOrStop(n, p, writerEnded, downloadEnded);
                        n = CacheShortfall(p.cacheTimeMs, p.tempFolder, p.slotClock);
                        if (ok && n != 0)
                            ok = WaitOrStop(n, p, writerEnded, downloadEnded);
                    }
                    WriteLog(LogTag::MainProcess, "キャッシュ待ち終了");
                }
                if (ok) {
                    if (p.hddSave == 0) {
                        run::SetAnimationState(queue->ShowAt(0) ? run::kAnimationNone
                                                                : run::kAnimationWaitingForPicture);
                    } else {
                        run::SetAnimationState(run::kAnimationNone);
                    }
                    if (pictureOnly) {
                        platform::Event::waitAny({p.endOrder, &http->worker.endNotice()}, -1);
                        // No writer in this mode: a run that ended by itself is complete unless
                        // the download thread says otherwise.
                        writerResult = kSaveComplete;
                    } else if (p.stopBeforePlay->load() == 0 && ring->allocated()) {
                        platform::WaveFormat format;
                        if (DxsPlayer* dxs = player.player(&format)) {
                            WriteLog(LogTag::MainProcess, "MainProcessThread SoundPlayLoop 開始");
                            SoundLoopInput loop;
                            loop.ring = ring.get();
                            loop.format = format;
                            loop.cacheTimeMs = p.cacheTimeMs;
                            loop.hddSave = p.hddSave;
                            loop.saveWithSound = saveWithSound;
                            loop.player = dxs;
                            loop.frameQueue = queue.get();
                            loop.endOrder = p.endOrder;
                            loop.writerEnded = writerEnded;
                            loop.soundQueued = saveWithSound ? &http->soundQueued : nullptr;
                            loop.soundPlaying = &p.soundPlaying;
                            loop.downloadResult = &http->soundLoopResult;
                            loop.setAnimationState = [](int state) {
                                run::SetAnimationState(state);
                            };
                            SoundPlayLoop(loop);
                            WriteLog(LogTag::MainProcess, "MainProcessThread PlayLoop 終了");
                            run::SetAnimationState(run::kAnimationEnded);
                        }
                    }
                }
                StopHttpThread(*http);
                downloadCode = http->resultCode();
                detail = http->params.detailText;
                http.reset();
            }
        }

        again = !p.endOrder->isSet();
        if (p.hddSave != 0 && again) {
            if (saveWithSound && writerStarted)
                writerResult = writerSaveResult(writer.result.load());
            int result = extraCode != 0 ? extraCode : downloadCode;
            if (result == kSaveNone)
                result = writerResult;
            if (!hadDownload && result == kSaveNone)
                result = kSaveDownloadFailure;
            ReportSaveResult(result, detail, p);
            again = false;
        }

        if (queue) {
            queue->Clear();
            control.setFrameQueue(nullptr);
            queue.reset();
            WriteLog(LogTag::MainProcess, "MainProcessThread 画像バッファ破棄");
        }
        if (ring) {
            ring->Release();
            WriteLog(LogTag::MainProcess, "MainProcessThread 音声バッファ破棄");
        }
        if (writerStarted) {
            if (writer.result.load() == WaveWriteResult::None)
                StopWorkerThread(writer.worker, "wave保存");
            CleanupWaveSaveQueue(writer);
        }

        run::SetAnimationState(run::kAnimationNone);
        if (again && !PrepareCacheFolders(p.tempFolder)) {
            // A cache that cannot be made again would only restart the pass without end.
            again = false;
        }
    }

    if (animationStarted)
        StopWorkerThread(animation, "アニメ");
    ring.reset();
    if (p.hddSave != 0 && !runFolder.empty())
        CheckEmpFolder(runFolder);
    p.chosenFolder.reset();
    player.release();
    if (p.running)
        p.running->store(false);
    WriteLog(LogTag::MainProcess, "MainProcessThread END!!");
}

}  // namespace picvox
