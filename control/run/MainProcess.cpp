#include "control/run/MainProcess.h"

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <vector>

#include "control/buffers/PicvoxLog.h"
#include "control/download/CacheSlots.h"
#include "control/download/DiskOps.h"
#include "control/download/J2kFrameCheck.h"
#include "control/download/RecordingSaver.h"
#include "control/run/HttpThread.h"
#include "control/run/SoundPlayLoop.h"
#include "control/run/WaitAnimation.h"
#include "platform/FileSystem.h"
#include "platform/UserFolders.h"
#include "platform/UserStore.h"
#include "recording/RecordingNames.h"
#include "recording/manifest/Manifest.h"

namespace picvox {

namespace {

namespace fs = std::filesystem;

constexpr int kMinCacheMs = 2000;
constexpr int kMaxCacheMs = 30000;
constexpr int kMinRequestIntervalMs = 100;
constexpr int kMaxRequestIntervalMs = 60000;
constexpr int kMaxPictureIntervalMs = 3600000;
constexpr int kMaxSaveTime = 7 * 24 * 3600;
constexpr std::size_t kMaxUrlBytes = 8192;
// What finishing the download thread may take beyond two request periods: a picture's fetch.
constexpr int kFinishSlackMs = 3000;
// The longest wait between two failed passes of a Live run.
constexpr int kMaxBackOffMs = 30000;
using Clock = std::chrono::steady_clock;

// A text for a message: control characters as "?" and cut at a sensible length.
std::string printable(const std::string& text) {
    std::string out;
    for (const char c : text.substr(0, 80)) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7F ? '?' : c;
    }
    if (text.size() > 80)
        out += "...";
    return out;
}
constexpr int kCountDonePollMs = 10;
constexpr const char* kMessageCaption = "Tessaly";

// The writer's result as a save result: its codes 1-3 are the same outcomes; an end on order
// has nothing to report.
SaveResult writerSaveResult(WaveWriteResult result) {
    switch (result) {
        case WaveWriteResult::SaveTimeReached:
            return SaveResult::Complete;
        case WaveWriteResult::DiskFull:
            return SaveResult::DiskFull;
        case WaveWriteResult::OtherError:
            return SaveResult::Error;
        default:
            return SaveResult::None;
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

std::string soundNotHeardText() {
    return japaneseUser()
               ? "サウンドデバイスがありません：音声は聞こえませんが、再生と保存は続きます。"
               : "No sound device: the sound is not heard; playing and saving go on.";
}

std::string statusText(const std::string& failure) {
    return (japaneseUser() ? "レコーダーから受信できません：" : "Cannot play: ") + failure +
           (japaneseUser() ? "。再試行します。" : ". Trying again.");
}

std::string resourcesShortText() {
    return japaneseUser() ? "メモリー不足の為、Tessalyを実行できません。"
                          : "There is not enough memory to run Tessaly.";
}

// The writer's timers are the page counter's, on the control's window.
class PageCounterTimers final : public CounterTimers {
public:
    PageCounterTimers(run::PageCounter& counter, run::PagePort& page)
        : counter_(counter), page_(page) {}
    bool hasWindow() override { return page_.window() != 0; }
    bool switchToSecondsTimer() override { return run::SwitchToSecondsTimer(counter_, page_); }

private:
    run::PageCounter& counter_;
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

void ReportSaveResult(SaveResult code, const std::string& detail, MainThreadParams& p) {
    if (!p.control)
        return;
    std::string text;
    run::MessageIcon icon = run::MessageIcon::Warning;
    switch (MessageFor(code)) {
        case ResultMessage::Complete:
            text = p.control->text(RunText::CompleteMsg);
            break;
        case ResultMessage::DiskFull:
            text = p.control->text(RunText::DiskFullMsg);
            break;
        case ResultMessage::Error:
            text = p.control->text(RunText::ErrorMsg);
            break;
        case ResultMessage::None:
            break;
    }
    if (!text.empty() && !detail.empty())
        text += "\n" + detail;
    run::PagePort& page = p.control->page();
    run::PageCounter& counter = p.control->pageCounter();
    if (page.window() != 0 && code != SaveResult::None) {
        // The counter shows the whole save time before the message; the wait ends with the
        // end order or once Stop has taken the timer away.
        if (counter.timerId.load() == static_cast<std::int32_t>(run::kSaveSecondsTimerId) &&
            code == SaveResult::Complete) {
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
        page.messageBox(kMessageCaption, text, icon);
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

namespace {

std::string cacheSourcePath(const std::string& baseFolder) {
    return baseFolder + "/recorder.txt";
}

// A source text longer than this is not one of ours.
constexpr long long kMaxSourceBytes = 64 * 1024;

}  // namespace

bool CacheContinues(const std::string& baseFolder, const std::string& source, int maxAgeMs) {
    if (!HasCachedWave(baseFolder) || SoundCacheIsStale(baseFolder, maxAgeMs))
        return false;
    std::vector<unsigned char> kept;
    if (!platform::readWholeFile(cacheSourcePath(baseFolder), kept, kMaxSourceBytes))
        return false;
    return std::string(kept.begin(), kept.end()) == source;
}

void WriteCacheSource(const std::string& baseFolder, const std::string& source) {
    const int error = platform::writeFileWhole(
        cacheSourcePath(baseFolder),
        [&](int fd) { return platform::writeAll(fd, source.data(), source.size()); },
        [](int) { return 0; });
    if (error != 0)
        WriteLog(LogTag::CPicvoxer, "キャッシュ元記録失敗 %d", error);
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

// ---- The settings check and the result of a pass ----

SettingsVerdict CheckRunSettings(const RunSettings& s, const RunMode& mode,
                                 const RunControl& texts) {
    auto refuse = [](std::string reason) {
        return SettingsVerdict{SaveResult::Error, std::move(reason)};
    };
    auto range = [](const char* name, std::int64_t value, std::int64_t low, std::int64_t high) {
        return std::string(name) + " " + std::to_string(value) + " is outside " +
               std::to_string(low) + ".." + std::to_string(high);
    };
    if (s.hddSave < 0 || s.hddSave > static_cast<std::int32_t>(HddSave::Download))
        return refuse(range("hdd_save", s.hddSave, 0, 2));
    if (mode.saves() && (s.saveTime < 1 || s.saveTime > kMaxSaveTime))
        return refuse(range("save_time", s.saveTime, 1, kMaxSaveTime));
    if (mode.checksCacheTime() && (s.cacheTimeMs < kMinCacheMs || s.cacheTimeMs > kMaxCacheMs))
        return refuse(range("CacheTime", s.cacheTimeMs, kMinCacheMs, kMaxCacheMs));
    if (mode.playsSound() && (s.waveRequestIntervalMs < kMinRequestIntervalMs ||
                              s.waveRequestIntervalMs > kMaxRequestIntervalMs)) {
        return refuse(range("wave_request_interval", s.waveRequestIntervalMs, kMinRequestIntervalMs,
                            kMaxRequestIntervalMs));
    }
    if (mode.kind == RunKind::PictureSave &&
        (s.pictureInterval < 1 || s.pictureInterval > kMaxPictureIntervalMs)) {
        return refuse(range("jpeg2000_interval", s.pictureInterval, 1, kMaxPictureIntervalMs));
    }
    if (mode.kind == RunKind::Download &&
        (s.pictureInterval < 0 || s.pictureInterval > kMaxPictureIntervalMs)) {
        return refuse(range("jpeg2000_interval", s.pictureInterval, 0, kMaxPictureIntervalMs));
    }
    if (mode.saves() && !IsTimestampOrder(s.timestampOrder))
        return refuse(range("TimestampOrder", s.timestampOrder, 0, 2));
    if (mode.saves()) {
        // The run folder is the model and a number inside the destination: a model that names
        // another folder would put the recording outside it.
        const std::string model = texts.text(RunText::Model);
        if (!IsFolderNamePart(model)) {
            return refuse("model \"" + printable(model) +
                          "\" may not hold a path separator, \"..\" or a control character, "
                          "and not be longer than " +
                          std::to_string(kMaxModelBytes) + " bytes");
        }
    }
    for (const auto& [which, name] : {std::pair{RunText::LocationBase, "Location"},
                                      std::pair{RunText::ImageFileUrl, "ImageFileURL"},
                                      std::pair{RunText::WaveFileUrl, "WaveFileURL"},
                                      std::pair{RunText::InitWaveFileUrl, "InitWaveFileURL"},
                                      std::pair{RunText::InfFileUrl, "DL_InfFileURL"}}) {
        const std::size_t bytes = texts.text(which).size();
        if (bytes > kMaxUrlBytes) {
            return refuse(std::string(name) + " is " + std::to_string(bytes) +
                          " bytes long, more than " + std::to_string(kMaxUrlBytes));
        }
    }
    return {};
}

std::string SaveDestination(const std::string& destination) {
    const std::string home = platform::homeFolder();
    // "C:\\" (the default, "C:" once Start has trimmed it) and an empty destination stand for the
    // home folder; a relative one lies inside it, not wherever the host happens to run.
    const bool driveRoot =
        (destination.size() == 2 || destination.size() == 3) && destination[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(destination[0])) &&
        (destination.size() == 2 || destination[2] == '\\' || destination[2] == '/');
    if (destination.empty() || driveRoot)
        return home;
    if (destination.front() != '/')
        return home + "/" + destination;
    return destination;
}

bool IsFolderNamePart(const std::string& text) {
    if (text.size() > kMaxModelBytes || text.find("..") != std::string::npos)
        return false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F)
            return false;
    }
    return true;
}

SaveResult PassResult(const PassOutcome& pass, const RunMode& mode) {
    SaveResult result = pass.downloadResult;
    if (result == SaveResult::None) {
        // A picture save has no writer: one that ended by itself is complete unless the download
        // thread says otherwise.
        result = mode.pictureOnly() ? (pass.downloadStarted ? SaveResult::Complete : result)
                                    : writerSaveResult(pass.writerResult);
    }
    if (!pass.downloadStarted && result == SaveResult::None)
        result = SaveResult::DownloadFailure;
    if (result == SaveResult::Complete && pass.savedFrames == 0)
        result = SaveResult::DownloadFailure;
    return result;
}

namespace {

// The end-of-run message's detail: the last saved frame's time, then what went wrong.
std::string resultDetail(const PassOutcome& pass, SaveResult result) {
    std::string failure = pass.failure;
    if (failure.empty() && result == SaveResult::DownloadFailure && pass.savedFrames == 0 &&
        pass.downloadStarted) {
        failure = "no picture with a capture time was saved";
    }
    if (result == SaveResult::Complete || failure.empty())
        return pass.detail;
    return pass.detail.empty() ? failure : pass.detail + "\n" + failure;
}

}  // namespace

// ---- The main process thread ----

namespace {

// One run of the main process thread: the set-up, the passes, the wrap-up. Every step is a
// method; the members are what the steps hand each other.
class MainProcess {
public:
    explicit MainProcess(MainThreadParams& p)
        : p_(p),
          control_(*p.control),
          page_(control_.page()),
          counter_(control_.pageCounter()),
          mode_(p.mode),
          player_(page_.window()),
          timers_(counter_, page_),
          access_(&page_, p.trustStorePath.empty() ? platform::UserStore::defaultPath()
                                                   : p.trustStorePath) {}

    void run() {
        WriteLog(LogTag::MainProcess, "MainProcessThread START!!");
        p_.chosenFolder.reset();
        if (setUp()) {
            bool again = true;
            while (again) {
                const Clock::time_point passStart = Clock::now();
                const PassOutcome outcome = runPass();
                again = endPass(outcome) && pauseBeforeNextPass(outcome, passStart);
            }
        }
        wrapUp();
    }

private:
    // The settings check, the resource check, the sound ring, the animation and the run folder.
    // False (with the result reported) when the run cannot go on.
    bool setUp() {
        SettingsVerdict verdict = CheckRunSettings(p_, mode_, control_);
        if (verdict.ok() && !CheckSystemResources()) {
            page_.messageBox("", resourcesShortText(), run::MessageIcon::None);
            verdict.result = SaveResult::ResourcesShort;
        }
        if (verdict.ok() && mode_.playsSound()) {
            ring_.reset(new (std::nothrow) AudioRing);
            if (ring_) {
                WriteLog(LogTag::MainProcess, "MainProcessThread リングバッファ生成成功");
            } else {
                WriteLog(LogTag::MainProcess, "MainProcessThread リングバッファ生成失敗");
                verdict.result = SaveResult::Error;
            }
        }
        if (!verdict.ok()) {
            if (!verdict.reason.empty())
                WriteLog(LogTag::MainProcess, "MainProcessThread 設定エラー %s",
                         verdict.reason.c_str());
            ReportSaveResult(verdict.result, verdict.reason, p_);
            return false;
        }
        animationStarted_ = control_.startAnimation(animation_, p_.maskHeight);
        return makeRunFolder();
    }

    // A save run gets its own folder under the destination; the page sees its path.
    // Every save gets a folder it made itself, also with destinationSW set: written straight
    // into the destination, a second save would replace the first one's files.
    bool makeRunFolder() {
        runFolder_ = control_.text(RunText::Destination);
        if (!mode_.saves())
            return true;
        runFolder_ = SaveDestination(runFolder_);
        const SaveResult made =
            CreateSaveRunFolder(runFolder_, runNumber_, control_.text(RunText::Model), disk());
        if (made == SaveResult::None)
            control_.setText(RunText::Destination, runFolder_);
        if (made != SaveResult::None) {
            ReportSaveResult(made, std::string(), p_);
            runFolder_.clear();
            return false;
        }
        manifest_ = std::make_unique<korvex::manifest::Appender>(runFolder_);
        return true;
    }

    // A complete run's last files join the manifest: the index a download brought and the
    // sound, whole only now. A run stopped or failed lists neither, which tells that it did not
    // complete. The run folder has just been synced; the INFO folder's entries are synced here.
    void listFinishedFiles() {
        if (!manifest_)
            return;
        std::vector<std::string> names;
        const std::string info = runFolder_ + "/" + korvex::kInfoFolderName;
        if (platform::isDirectory(info)) {
            (void)disk().syncDirectory(info);
            platform::forEachFileNameWithExtension(info, "INF", [&](std::string_view name) {
                names.push_back(std::string(korvex::kInfoFolderName) + "/" + std::string(name));
                return true;
            });
            std::sort(names.begin(), names.end());
        }
        if (platform::isRegularFile(runFolder_ + "/" + korvex::kSoundFileName))
            names.emplace_back(korvex::kSoundFileName);
        if (const int error = manifest_->add(names, korvex::manifest::Appender::FileSync::Needed)) {
            WriteLog(LogTag::MainProcess, "SHA256SUMS 追記失敗 %s (%d)", runFolder_.c_str(), error);
        }
    }

    DiskOps& disk() const { return p_.disk ? *p_.disk : RealDisk(); }

    bool startWriter() {
        p_.writerDone->store(0);
        WaveWriterParams wp;
        wp.waveUrl = control_.text(RunText::WaveFileUrl);
        wp.destination = runFolder_;
        wp.saveTime = p_.saveTime;
        wp.cacheTimeMs = p_.cacheTimeMs;
        wp.counterValue = &counter_.counterValue;
        wp.timerId = &counter_.timerId;
        wp.writerDone = p_.writerDone;
        wp.countDone = &counter_.countDone;
        // Without a window there are no timers to switch, and nothing to wait for.
        wp.timers = page_.window() != 0 ? &timers_ : nullptr;
        wp.file = p_.waveFile;
        return StartWaveWriter(writer_, wp);
    }

    // One pass: the writer, the picture queue, the download thread, the wait for the cache, the
    // sound loop (or the picture-only wait), then the download thread stopped.
    PassOutcome runPass() {
        PassOutcome outcome;
        writerStarted_ = false;
        if (mode_.savesSound()) {
            writerStarted_ = startWriter();
            if (!writerStarted_) {
                // Without its writer a save with sound cannot run.
                WriteLog(LogTag::MainProcess, "MainProcessThread wave保存スレッド起動失敗");
                outcome.endOrdered = p_.endOrder->isSet();
                outcome.downloadResult = SaveResult::Error;
                return outcome;
            }
        }
        outcome.writerStarted = writerStarted_;
        platform::Event* writerEnded = writerStarted_ ? &writer_.writerEnded() : nullptr;

        run::SetAnimationState(run::kAnimationCaching);
        if (mode_.playsSound() &&
            CacheShortfall(p_.cacheTimeMs, p_.tempFolder, p_.slotClock) == 0) {
            run::SetAnimationState(run::kAnimationNone);
            WriteLog(LogTag::MainProcess, "キャッシュ完了 アニメストップ");
        }

        try {
            queue_ = std::make_shared<FrameQueue>(FrameQueue::capacityFor(p_.cacheTimeMs),
                                                  control_.repaintTarget(), control_.controlLock());
            control_.setFrameQueue(queue_);
            WriteLog(LogTag::MainProcess, "MainProcessThread 画像バッファ生成成功");
        } catch (const std::bad_alloc&) {
            queue_.reset();
            WriteLog(LogTag::MainProcess, "MainProcessThread 画像バッファ生成失敗");
        }

        if (queue_) {
            HttpThreadInput in;
            in.shared.frameQueue = queue_.get();
            in.shared.audioRing = ring_.get();
            in.shared.waveSaveQueue = writerStarted_ ? writer_.queue.get() : nullptr;
            in.shared.player = &player_;
            in.shared.endOrder = p_.endOrder;
            in.shared.writerDone = p_.writerDone;
            in.shared.stopBeforePlay = p_.stopBeforePlay;
            in.shared.soundPlaying = &p_.soundPlaying;
            in.save.folder = runFolder_;
            in.save.runNumber = runNumber_;
            in.save.model = control_.text(RunText::Model);
            in.save.delimiter = p_.delimiter;
            in.save.timestampOrder = p_.timestampOrder;
            in.save.saveTime = p_.saveTime;
            in.save.disk = p_.disk;
            in.access = &access_;
            in.save.manifest = manifest_.get();
            std::unique_ptr<HttpThreadContext> http = StartHttpThread(in, p_);
            if (http) {
                outcome.downloadStarted = true;
                playWhileDownloading(*http, writerEnded);
                StopHttpThread(*http);
                const DownloadProgress& progress = http->params.progress;
                outcome.downloadResult = http->resultCode();
                outcome.detail = progress.detailText;
                outcome.failure = progress.failure;
                outcome.savedFrames = progress.savedFrames;
                outcome.formatChanged = progress.formatChanged;
                if (progress.droppedSoundMs != 0) {
                    WriteLog(LogTag::MainProcess, "MainProcessThread 音声欠落 %llu ms",
                             static_cast<unsigned long long>(progress.droppedSoundMs));
                }
                http.reset();
            }
        }
        outcome.endOrdered = p_.endOrder->isSet();
        outcome.played = played_;
        played_ = false;
        if (writerStarted_)
            outcome.writerResult = writer_.result.load();
        return outcome;
    }

    // The pass while its download thread runs: the wait for the cache, then the sound loop, or
    // in a picture save the wait for the download thread's end.
    void playWhileDownloading(HttpThreadContext& http, platform::Event* writerEnded) {
        bool ok = true;
        if (mode_.playsSound()) {
            int n = CacheShortfall(p_.cacheTimeMs, p_.tempFolder, p_.slotClock);
            WriteLog(LogTag::MainProcess, "キャッシュ不足時間：%d", n);
            // A download thread that has ended will cache nothing more.
            platform::Event* downloadEnded = &http.worker.endNotice();
            if (n != 0) {
                ok = WaitOrStop(n, p_, writerEnded, downloadEnded);
                n = CacheShortfall(p_.cacheTimeMs, p_.tempFolder, p_.slotClock);
                if (ok && n != 0)
                    ok = WaitOrStop(n, p_, writerEnded, downloadEnded);
            }
            WriteLog(LogTag::MainProcess, "キャッシュ待ち終了");
        }
        if (!ok)
            return;
        if (!mode_.saves()) {
            run::SetAnimationState(queue_->ShowAt(0) ? run::kAnimationNone
                                                     : run::kAnimationWaitingForPicture);
        } else {
            run::SetAnimationState(run::kAnimationNone);
        }
        if (mode_.pictureOnly()) {
            platform::Event::waitAny({p_.endOrder, &http.worker.endNotice()}, -1);
            return;
        }
        if (p_.stopBeforePlay->load() != 0 || !ring_->allocated())
            return;
        platform::WaveFormat format;
        DxsPlayer* dxs = player_.player(&format);
        if (!dxs)
            return;
        WriteLog(LogTag::MainProcess, "MainProcessThread SoundPlayLoop 開始");
        SoundLoopInput loop;
        loop.ring = ring_.get();
        loop.format = format;
        loop.cacheTimeMs = p_.cacheTimeMs;
        loop.saves = mode_.saves();
        loop.saveWithSound = mode_.savesSound();
        loop.player = dxs;
        loop.frameQueue = queue_.get();
        loop.endOrder = p_.endOrder;
        loop.writerEnded = writerEnded;
        loop.soundQueued = mode_.savesSound() ? &http.soundQueued : nullptr;
        loop.soundPlaying = &p_.soundPlaying;
        loop.downloadResult = &http.soundLoopResult;
        loop.setAnimationState = [](int state) { run::SetAnimationState(state); };
        if (dxs->silentOutput && !soundNotHeard_) {
            // Saving needs no loudspeaker: the run goes on, and the page says once why nothing
            // is heard.
            soundNotHeard_ = true;
            page_.statusText(soundNotHeardText());
        }
        SoundPlayLoop(loop);
        played_ = loop.playedSeconds > 0;
        WriteLog(LogTag::MainProcess, "MainProcessThread PlayLoop 終了");
        run::SetAnimationState(run::kAnimationEnded);
        if (writerStarted_ && writer_.result.load() != WaveWriteResult::None &&
            !p_.endOrder->isSet()) {
            finishDownload(http);
        }
    }

    // The saved sound is complete: the download thread ends after the pass under way, so that
    // the picture taken with the sound's last second is saved too. Bounded by two request
    // periods and a picture's time-out; the end order ends the wait at once.
    void finishDownload(HttpThreadContext& http) {
        http.finishOrder.store(true);
        const int boundMs = 2 * std::max(p_.waveRequestIntervalMs, 0) + kFinishSlackMs;
        platform::Event::waitAny({p_.endOrder, &http.worker.endNotice()}, boundMs);
    }

    // Reports a save run that ended by itself, discards the pass's buffers and, in the modes that
    // play on, prepares the cache for the next pass. True when another pass follows.
    bool endPass(const PassOutcome& outcome) {
        bool again = !outcome.endOrdered;
        if (again && access_.refusal()) {
            // Only the user can change this (a login, a certificate): the run ends and says why,
            // once, in every mode.
            reportRefusal(outcome);
            again = false;
        } else if (mode_.saves() && again) {
            // What was saved is on the disk, entries included, before the result says so.
            if (!runFolder_.empty())
                (void)disk().syncDirectory(runFolder_);
            const SaveResult result = PassResult(outcome, mode_);
            if (result == SaveResult::Complete)
                listFinishedFiles();
            ReportSaveResult(result, resultDetail(outcome, result), p_);
            again = false;
        }
        if (outcome.formatChanged) {
            // Sound in the new format needs a player made for it.
            player_.release();
        }
        if (queue_) {
            queue_->Clear();
            control_.setFrameQueue(nullptr);
            queue_.reset();
            WriteLog(LogTag::MainProcess, "MainProcessThread 画像バッファ破棄");
        }
        if (ring_) {
            ring_->Release();
            WriteLog(LogTag::MainProcess, "MainProcessThread 音声バッファ破棄");
        }
        if (writerStarted_) {
            if (writer_.result.load() == WaveWriteResult::None)
                StopWorkerThread(writer_.worker, "wave保存");
            CleanupWaveSaveQueue(writer_);
            writerStarted_ = false;
        }
        run::SetAnimationState(run::kAnimationNone);
        if (again && !PrepareCacheFolders(p_.tempFolder)) {
            // A cache that cannot be made again would only restart the pass without end; the
            // run ends, and says so (a Live run too: the page would otherwise wait for ever).
            ReportSaveResult(SaveResult::DownloadFailure,
                             "the cache folder " + p_.tempFolder + " cannot be prepared", p_);
            return false;
        }
        return again;
    }

    // Between the passes of a Live run: a pass lasts at least its request period, and passes
    // that failed one after the other wait longer each time (1, 2, 4 ... 30 s) until one plays.
    // The user is told once what is wrong, and the note goes when sound plays again. False when
    // the end was ordered meanwhile.
    bool pauseBeforeNextPass(const PassOutcome& outcome, Clock::time_point passStart) {
        const auto spentMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - passStart).count();
        int waitMs = static_cast<int>(
            std::max<long long>(0, std::max(p_.waveRequestIntervalMs, 0) - spentMs));
        if (outcome.played) {
            failedPasses_ = 0;
            if (!toldStatus_.empty()) {
                page_.statusText(soundNotHeard_ ? soundNotHeardText() : std::string());
                toldStatus_.clear();
            }
        } else {
            ++failedPasses_;
            waitMs = std::max(waitMs, backOffMs(failedPasses_));
            const std::string what = outcome.failure.empty()
                                         ? std::string("the recorder sends no sound to play")
                                         : outcome.failure;
            if (what != toldStatus_) {
                page_.statusText(statusText(what));
                toldStatus_ = what;
            }
            WriteLog(LogTag::MainProcess, "MainProcessThread 再試行まで %d ms (%d回目) %s", waitMs,
                     failedPasses_, what.c_str());
        }
        return waitMs == 0 || WaitOrStop(waitMs, p_, nullptr);
    }

    void reportRefusal(const PassOutcome& outcome) {
        const std::string text = access_.refusalText();
        WriteLog(LogTag::MainProcess, "MainProcessThread 接続拒否 %s", text.c_str());
        if (mode_.saves()) {
            if (!runFolder_.empty())
                (void)disk().syncDirectory(runFolder_);
            ReportSaveResult(SaveResult::DownloadFailure,
                             outcome.detail.empty() ? text : outcome.detail + "\n" + text, p_);
            return;
        }
        page_.messageBox(kMessageCaption, text, run::MessageIcon::Warning);
        control_.setSaveComplete(1);
    }

    static int backOffMs(int failedPasses) {
        return std::min(1000 << std::min(failedPasses - 1, 5), kMaxBackOffMs);
    }

    void wrapUp() {
        if (!toldStatus_.empty() || soundNotHeard_)
            page_.statusText(std::string());
        if (animationStarted_)
            StopWorkerThread(animation_, "アニメ");
        ring_.reset();
        if (mode_.saves() && !runFolder_.empty())
            CheckEmpFolder(runFolder_);
        p_.chosenFolder.reset();
        player_.release();
        if (p_.running)
            p_.running->store(false);
        WriteLog(LogTag::MainProcess, "MainProcessThread END!!");
    }

    MainThreadParams& p_;
    RunControl& control_;
    run::PagePort& page_;
    run::PageCounter& counter_;
    const RunMode mode_;
    RunPlayerSlot player_;
    PageCounterTimers timers_;
    std::unique_ptr<AudioRing> ring_;
    std::shared_ptr<FrameQueue> queue_;
    platform::Worker animation_;
    bool animationStarted_ = false;
    std::string runFolder_;
    int runNumber_ = 0;
    std::unique_ptr<korvex::manifest::Appender> manifest_;  // the run folder's SHA256SUMS
    bool writerStarted_ = false;
    int failedPasses_ = 0;
    bool played_ = false;     // the pass's sound loop played at least a second
    std::string toldStatus_;  // the failure the page was told of, empty: none
    bool soundNotHeard_ = false;
    // The run's logins and trusted certificates; its download threads use it pass after pass.
    RecorderAccess access_;
    // Last: a writer still running is ended before anything it uses goes.
    WaveWriterContext writer_;
};

}  // namespace

void MainProcessThread(MainThreadParams& p) {
    MainProcess(p).run();
}

}  // namespace picvox
