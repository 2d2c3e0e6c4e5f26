#include "control/download/CacheStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "control/buffers/AudioRing.h"
#include "control/buffers/DecodeJ2KFile.h"
#include "control/buffers/FrameQueue.h"
#include "control/buffers/PicvoxLog.h"
#include "control/buffers/WaveSaveQueue.h"
#include "control/download/DiskOps.h"
#include "control/download/HttpFetch.h"
#include "control/download/J2kFrameCheck.h"
#include "control/download/OutputFile.h"
#include "control/download/RecordingSaver.h"
#include "platform/Event.h"

namespace picvox {

namespace {

constexpr int kImageAttempts = 5;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

std::uint32_t playTimeOf(const WavClip& clip) {
    return PlayTimeMs(clip.dataBytes, clip.avgBytesPerSec());
}

bool samePcm(const platform::WaveFormat& a, const platform::WaveFormat& b) {
    return a.formatTag == b.formatTag && a.channels == b.channels &&
           a.samplesPerSec == b.samplesPerSec && a.avgBytesPerSec == b.avgBytesPerSec &&
           a.blockAlign == b.blockAlign && a.bitsPerSample == b.bitsPerSample;
}

std::string describe(const platform::WaveFormat& f) {
    return std::to_string(f.samplesPerSec) + " Hz " + std::to_string(f.channels) + " ch " +
           std::to_string(f.bitsPerSample) + "-bit";
}

}  // namespace

int RewriteRelTime(const std::string& path, std::uint32_t relTimeMs) {
    KeepFileTimes keep(path);
    return WriteRelTime(path, relTimeMs);
}

int RewriteSetTime(const std::string& path, std::uint32_t dvrSeconds) {
    KeepFileTimes keep(path);
    return WriteSetTime(path, dvrSeconds);
}

CacheStore::CacheStore(HttpThreadParams& params)
    : p_(params),
      fetch_(GetImgFile),
      tempName_([this](int seqNo) { return MakeTempName(p_.fetch.imageUrl, seqNo, p_.tempTag); }) {}

bool CacheStore::stopped() const {
    return p_.stopped();
}

std::uint64_t CacheStore::slotTime(int slot, SlotKind kind) const {
    return SlotTime(SlotPath(p_.cache.folder, slot, kind), p_.cache.clock);
}

bool CacheStore::soundLaterThan(int a, int b) const {
    // Slot numbers wrap, so the files' times decide; equal times go by the shorter way round.
    const std::uint64_t ta = slotTime(a, SlotKind::Sound);
    const std::uint64_t tb = slotTime(b, SlotKind::Sound);
    if (ta != tb)
        return ta > tb;
    return a != b && RingDistance(b, a) < RingDistance(a, b);
}

int CacheStore::audioRingBufferedMs() const {
    if (!p_.shared.audioRing)
        return p_.fetch.cacheTimeMs;
    const std::size_t held = p_.shared.audioRing->DataSize();
    const std::uint32_t bytesPerMs = le32(waveFormat_.data() + 8) / 1000;
    const std::size_t ms = bytesPerMs == 0 ? held : held / bytesPerMs;
    return static_cast<int>(std::min<std::size_t>(ms, 0x7FFFFFFF));
}

int CacheStore::soundBufferedMs(int shortfallMs) {
    // Until a save has queued its cached sound, the ring is empty while the cache fills: the
    // cache's own span is what is held then.
    if (p_.fetch.pictureIntervalMs != 0 || s_.setupDone)
        return audioRingBufferedMs();
    return p_.fetch.cacheTimeMs - shortfallMs;
}

bool CacheStore::saveSetupDue() const {
    return p_.fetch.mode.savesSound() && !s_.setupDone;
}

int CacheStore::GetCacheReadIndex(int currentSlot, SlotKind kind, int soundReadSlot) {
    std::string reference;
    std::string folder;
    std::uint64_t windowMs = 0;
    if (kind == SlotKind::Picture) {
        reference = PictureSlotPath(p_.cache.folder, currentSlot);
        folder = PictureFolder(p_.cache.folder);
        windowMs = static_cast<std::uint64_t>(std::max(0, p_.fetch.cacheTimeMs)) +
                   static_cast<std::uint64_t>(std::max(0, s_.firstAddMs));
        WriteLog(LogTag::HttpThread, "GetCacheReadIndex : キャッシュ時間=%d, 追加待ち時間=%d",
                 p_.fetch.cacheTimeMs, s_.firstAddMs);
    } else {
        reference = SoundSlotPath(p_.cache.folder, currentSlot == 0 ? 1 : currentSlot);
        folder = SoundFolder(p_.cache.folder);
        windowMs = static_cast<std::uint64_t>(std::max(0, p_.fetch.cacheTimeMs));
    }
    const std::uint64_t r = SlotTime(reference, p_.cache.clock);
    const std::uint64_t window = windowMs * 10000u;
    std::uint64_t best = r;
    int result = 0;
    ScanSlotFolder(folder, p_.cache.clock, [&](int number, std::uint64_t t) {
        if (t > best || r - t >= window)
            return;
        best = t;
        if (number >= 0)
            result = number;
    });
    if (kind == SlotKind::Sound) {
        if (result == 0)
            result = 1;
        WriteLog(LogTag::HttpThread, "%sReadIndex : %d", "音声", result);
        return result;
    }
    const std::uint64_t soundTime = slotTime(soundReadSlot, SlotKind::Sound);
    const std::uint64_t pictureTime = slotTime(result, SlotKind::Picture);
    WriteLog(LogTag::HttpThread, "画像ReadIndex 時間比較　音声%02d : %lld　画像%02d : %lld",
             soundReadSlot, static_cast<long long>(soundTime), result,
             static_cast<long long>(pictureTime));
    if (pictureTime > soundTime) {
        if (StepSlotBack(p_.cache, result, pictureTime, SlotKind::Picture) == 0)
            result = 0;
    }
    WriteLog(LogTag::HttpThread, "%sReadIndex : %d", "画像", result);
    return result;
}

bool CacheStore::sameFormat(const WavClip& clip) {
    const platform::WaveFormat format = clip.record();
    if (!runFormat_) {
        runFormat_ = format;
        return true;
    }
    if (samePcm(*runFormat_, format))
        return true;
    // One run plays and saves one format: sound in another would be noise under the first
    // one's header, and the player plays only the format it was made for.
    if (!p_.progress.formatChanged) {
        WriteLog(LogTag::HttpThread, "WAVEフォーマット変更 %s -> %s", describe(*runFormat_).c_str(),
                 describe(format).c_str());
        p_.progress.formatChanged = true;
        p_.progress.failure = "the recorder's sound format changed from " + describe(*runFormat_) +
                              " to " + describe(format);
    }
    return false;
}

bool CacheStore::admitToCache(const std::string& slotPath, std::uint64_t bytes) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!cacheBytes_) {
        std::uint64_t total = 0;
        for (const std::string& folder :
             {PictureFolder(p_.cache.folder), SoundFolder(p_.cache.folder)}) {
            for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
                const auto size = it->file_size(ec);
                if (!ec)
                    total += size;
                ec.clear();
            }
            ec.clear();
        }
        cacheBytes_ = total;
    }
    const auto old = fs::file_size(slotPath, ec);
    const std::uint64_t rest = *cacheBytes_ - std::min<std::uint64_t>(*cacheBytes_, ec ? 0 : old);
    if (rest + bytes > cacheLimit_) {
        WriteLog(LogTag::HttpThread, "キャッシュ容量超過 %llu bytes",
                 static_cast<unsigned long long>(rest + bytes));
        if (p_.progress.failure.empty())
            p_.progress.failure = "the recorder's answers fill more than " +
                                  std::to_string(cacheLimit_ >> 20) + " MB of cache";
        return false;
    }
    cacheBytes_ = rest + bytes;
    return true;
}

bool CacheStore::ensureRing(const WavClip& clip) {
    AudioRing* ring = p_.shared.audioRing;
    if (!ring)
        return false;
    if (ring->allocated())
        return true;
    const std::size_t bytes = AudioRing::sizeFor(clip.avgBytesPerSec(), p_.fetch.cacheTimeMs);
    if (!ring->Allocate(bytes)) {
        WriteLog(LogTag::HttpThread, "WAVEリングバッファ確保失敗 size=%d", static_cast<int>(bytes));
        return false;
    }
    return true;
}

bool CacheStore::putSound(const WavClip& clip, const char* successLine) {
    AudioRing* ring = p_.shared.audioRing;
    if (!ring || !sameFormat(clip) || !ensureRing(clip))
        return false;
    if (!ring->Put(clip.data.data(), clip.dataBytes)) {
        // Never silently: the ring was sized for twice the cache time, so an overflow means the
        // player has stalled or the recorder sends far faster than it plays.
        p_.progress.droppedSoundMs += playTimeOf(clip);
        WriteLog(LogTag::HttpThread, "WAVEデータキュー失敗 リングバッファオーバーフロー (%u ms)",
                 static_cast<unsigned>(playTimeOf(clip)));
        return false;
    }
    WriteLog(LogTag::HttpThread, "%s", successLine);
    waveFormat_.fill(0);
    std::copy_n(clip.format.begin(), std::min(clip.format.size(), waveFormat_.size()),
                waveFormat_.begin());
    if (p_.shared.player && !p_.shared.player->hasPlayer()) {
        if (p_.shared.player->createPlayer(waveFormat_)) {
            if (p_.shared.playerReady)
                p_.shared.playerReady->set();
        } else {
            WriteLog(LogTag::HttpThread, "DirectSound初期化失敗");
        }
    }
    return true;
}

bool CacheStore::pushForSaving(WavClip&& clip, const std::string& path) {
    if (!p_.shared.waveSaveQueue || !sameFormat(clip))
        return false;
    const std::uint32_t bytes = clip.dataBytes;
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::max(0, p_.save.saveTime)) * clip.avgBytesPerSec();
    if (!p_.shared.waveSaveQueue->Push(std::move(clip))) {
        // The writer fell behind by a whole queue: the saved sound has a gap from here.
        WriteLog(LogTag::HttpThread, "wave保存バッファリング失敗 %s", path.c_str());
        return false;
    }
    WriteLog(LogTag::HttpThread, "wave保存バッファリング完了 %s", path.c_str());
    queuedSoundBytes_ += bytes;
    if (savedSoundEndTime_ == 0 && limit != 0 && queuedSoundBytes_ >= limit)
        savedSoundEndTime_ = SlotTime(path, p_.cache.clock);
    return true;
}

int CacheStore::StoreWaveSegment(const std::string& tempName, int soundSlot) {
    WavClip clip;
    if (!ReadWavFile(clip, tempName)) {
        removeFile(tempName);
        if (p_.progress.failure.empty())
            p_.progress.failure = "the recorder's answer for the sound is not a PCM WAV file";
        return 0;
    }
    WriteLog(LogTag::HttpThread, "WAVEデータ受信 サイズ=%d 周波数=%d\n",
             static_cast<int>(clip.dataBytes), static_cast<int>(clip.avgBytesPerSec()));
    if (!sameFormat(clip)) {
        // Not cached either: the cache of a run holds one format.
        removeFile(tempName);
        return 0;
    }
    ensureRing(clip);
    const std::string slotPath = SoundSlotPath(p_.cache.folder, soundSlot);
    if (!admitToCache(slotPath, WavHeaderBytes(clip) + clip.dataBytes)) {
        removeFile(tempName);
        return 0;
    }
    const int copyError = CopyFileReplace(tempName, slotPath, RealDisk());
    if (copyError == 0) {
        WriteLog(LogTag::HttpThread, "キャッシュファイル作成：%s", slotPath.c_str());
    } else {
        WriteLog(LogTag::HttpThread, "キャッシュファイル作成失敗：%s (%d)", slotPath.c_str(),
                 copyError);
    }
    int result = 1;
    if (stopped()) {
        result = 2;
    } else if (!p_.fetch.mode.savesSound() || s_.setupDone) {
        // Before the save set-up a segment of a save run is only cached; the set-up queues it.
        putSound(clip, "waveデータ　再生用バッファ書き込み成功");
        if (p_.fetch.mode.savesSound()) {
            if (p_.shared.player && p_.shared.player->hasPlayer())
                pushForSaving(std::move(clip), slotPath);
        } else {
            WriteLog(LogTag::HttpThread, "wave一時バッファ破棄完了");
        }
        result = stopped() ? 2 : 1;
    }
    removeFile(tempName);
    return result;
}

void CacheStore::saveSetup(int pictureSlot, int soundSlot, int* playSlot) {
    if (!saveSetupDue())
        return;
    s_.setupDone = true;
    // The segment of `soundSlot` is still on its way; the newest cached one is the slot before
    // it on the ring (slot 1 follows slot 99).
    const int s = GetCacheReadIndex(PrevSlot(soundSlot), SlotKind::Sound);
    int play = s;
    const int p = GetCacheReadIndex(pictureSlot, SlotKind::Picture, s);
    if (!savePositionsFound_)
        GetSaveIndex(pictureSlot, p, soundSlot, s);
    learnSavedStart();
    // Playing starts at the read slot itself: before the set-up a save run only cached its
    // sound, so nothing of slot s has been heard. Without it the player would start one segment
    // short of the cache time (at the shortest cache time with one segment per request, a
    // single segment, which runs dry before the next arrives), and the saved sound would begin
    // five seconds plus that segment before what is heard.
    if (!stopped()) {
        const std::string path = SoundSlotPath(p_.cache.folder, play);
        WavClip clip;
        if (play != soundSlot && ReadWavFile(clip, path)) {
            WriteLog(LogTag::HttpThread, "MakeWaveQueueFirst : キャッシュファイルバッファ設定：%s",
                     path.c_str());
            putSound(clip, "waveデータ　バッファ書き込み成功");
        }
    }
    MakeWaveQueueFirst(play, soundSlot);
    if (playSlot)
        *playSlot = play;
    if (p_.shared.soundQueued)
        p_.shared.soundQueued->set();
}

int CacheStore::MakeWaveQueueFirst(int& playSlot, int soundSlot) {
    const int b = playSlot;
    const int c = soundSlot;
    const int count = c > b ? c - b - 1 : c - b + 98;
    // The saved sound runs from waveSaveIndex through b, then on with each slot queued below.
    // Slot b goes too when the save starts at it, and all of them when no slot lies between b
    // and c: either way they are the sound the saved pictures were timed against.
    if (s_.waveSaveIndex != 0) {
        int n = b - s_.waveSaveIndex + 1;
        if (n <= 0)
            n += kLastSlot;
        for (int i = 0; i < n && i < kLastSlot; ++i) {
            const std::string path = SoundSlotPath(p_.cache.folder, s_.waveSaveIndex);
            WavClip saved;
            if (ReadWavFile(saved, path))
                pushForSaving(std::move(saved), path);
            s_.waveSaveIndex = NextSlot(s_.waveSaveIndex);
        }
    }
    for (int i = 0; i < count && !stopped(); ++i) {
        playSlot = NextSlot(playSlot);
        const std::string path = SoundSlotPath(p_.cache.folder, playSlot);
        WavClip clip;
        if (!ReadWavFile(clip, path))
            break;
        WriteLog(LogTag::HttpThread, "MakeWaveQueueFirst : キャッシュファイルバッファ設定：%s",
                 path.c_str());
        putSound(clip, "waveデータ　バッファ書き込み成功");
        pushForSaving(std::move(clip), path);
    }
    return stopped() ? 0 : 1;
}

std::uint32_t CacheStore::PlayTimeOfSlots(int last, int first) {
    WriteLog(LogTag::HttpThread, "演奏時間取得　%d-%d", last, first);
    WavClip clip;
    std::uint32_t total =
        ReadWavFile(clip, SoundSlotPath(p_.cache.folder, last)) ? playTimeOf(clip) : 0;
    std::uint64_t reference = slotTime(last, SlotKind::Sound);
    // Back from `last` to `first` along the ring (slot 1 follows 99), never past it. Sound slot
    // 0 is read as slot 1.
    for (int steps = RingDistance(first == 0 ? 1 : first, last); steps > 0; --steps) {
        const std::uint64_t t = StepSlotBack(p_.cache, last, reference, SlotKind::Sound);
        if (t == 0)
            break;
        reference = t;
        if (ReadWavFile(clip, SoundSlotPath(p_.cache.folder, last)))
            total += playTimeOf(clip);
    }
    return total;
}

int CacheStore::RewriteFileData(const WavClip& clip, const std::string& path, std::uint32_t bytes) {
    bytes = std::min(bytes, clip.dataBytes);
    KeepFileTimes keep(path);
    // Rewritten in place, not replaced: the slot keeps its creation time.
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        WriteLog(LogTag::HttpThread, "出力ファイル再オープン失敗。name=%s Error=%d", path.c_str(),
                 errno);
        return 0;
    }
    const std::vector<std::uint8_t> header = MakeWavHeader(clip, bytes);
    bool ok = !header.empty() &&
              ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size());
    if (ok) {
        const std::uint8_t* tail = clip.data.data() + (clip.dataBytes - bytes);
        ok = ::write(fd, tail, bytes) == static_cast<ssize_t>(bytes);
        if (!ok) {
            WriteLog(LogTag::HttpThread,
                     "RewriteFileData : waveファイルデータ書き込み失敗。size=%d",
                     static_cast<int>(bytes));
        }
    }
    ok = ::close(fd) == 0 && ok;
    if (ok)
        WriteLog(LogTag::HttpThread, "WAVEデータ書換え：%s", path.c_str());
    return ok ? 1 : 0;
}

void CacheStore::GetSaveIndex(int pictureSlot, int pictureReadSlot, int soundSlot,
                              int soundReadSlot) {
    (void)pictureSlot;
    (void)pictureReadSlot;
    (void)soundSlot;
    savePositionsFound_ = true;
    // Sound: five seconds before the read slot; the slot where they begin keeps only its part.
    int slot = soundReadSlot;
    std::uint64_t reference = slotTime(slot, SlotKind::Sound);
    std::uint64_t soundStart = 0;
    bool stepped = false;
    std::uint32_t budget = 0;
    for (int steps = 0; steps < kLastSlot; ++steps) {
        const std::uint64_t t = StepSlotBack(p_.cache, slot, reference, SlotKind::Sound);
        if (t == 0) {
            soundStart = stepped ? reference : 0;
            break;
        }
        soundStart = t;
        WavClip clip;
        if (!ReadWavFile(clip, SoundSlotPath(p_.cache.folder, slot)))
            break;
        if (!stepped)
            budget = 5 * clip.avgBytesPerSec();
        stepped = true;
        if (clip.dataBytes < budget) {
            budget -= clip.dataBytes;
            reference = t;
            continue;
        }
        RewriteFileData(clip, SoundSlotPath(p_.cache.folder, slot), budget);
        break;
    }
    s_.waveSaveIndex = slot;
    firstSavedSound_ = slot;
    soundStartTime_ = soundStart;

    // Pictures: the newest one before the sound starts, else the black picture, followed by the
    // oldest picture cached after the start (wherever the ring has it).
    int first = NewestSlotBefore(p_.cache, SlotKind::Picture, soundStart);
    if (first == 0) {
        WriteBlackPicture(PictureSlotPath(p_.cache.folder, 0));
        s_.blackTimeSet = false;
        WriteLog(LogTag::HttpThread, "黒画像設定：GetSaveSeqIndex");
        std::uint64_t oldest = 0;
        ScanSlotFolder(PictureFolder(p_.cache.folder), p_.cache.clock,
                       [&](int number, std::uint64_t t) {
                           if (number < 1 || number > kLastSlot || t == 0 || t < soundStart ||
                               (oldest != 0 && t >= oldest))
                               return;
                           // The start-time records share the folder; only pictures count.
                           if (slotTime(number, SlotKind::Picture) != t)
                               return;
                           oldest = t;
                           saved_.afterBlack = number;
                       });
    }
    s_.saveSeqIndex = first;
    WriteLog(LogTag::HttpThread, "保存開始インデックス 画像=%d, 音声=%d", first, s_.waveSaveIndex);

    // Timing: the first saved picture takes the relative time of the picture after it, less
    // the saved sound up to where that one came, so that it stands at the sound's start. The
    // pictures after it keep their own relative times: those are the recorder's clock, which the
    // saved sound follows (a save continues only a cache that is continuous with the recorder).
    // Rewriting each from its successor, one sound slot apart, shifted them all by the error of
    // the newest one's place (a second and more after a Live playback).
    firstSavedPicture_ = first;
    firstPending_ = true;
    const std::uint64_t pictureReference = s_.blackTimeSet ? slotTime(first, SlotKind::Picture) : 0;
    int n = first;
    // The black picture's successor is the oldest picture after the sound's start, not whatever
    // slot 1 holds.
    const bool found = first == 0
                           ? (n = saved_.afterBlack) != 0
                           : StepSlotForward(p_.cache, n, pictureReference, SlotKind::Picture) != 0;
    if (found)
        timeFirstSavedPicture(n);
}

void CacheStore::timeFirstSavedPicture(int successor) {
    const std::string next = PictureSlotPath(p_.cache.folder, successor);
    std::uint32_t relN = 0;
    if (ReadRelTime(next, relN) == 0)
        return;  // the next picture tries again
    int l = NewestSlotBefore(p_.cache, SlotKind::Sound, slotTime(successor, SlotKind::Picture));
    const int m = firstSavedSound_;
    if (l == 0 || !soundLaterThan(l, m))
        l = m;
    const std::uint32_t w = PlayTimeOfSlots(l, m);
    const int first = firstSavedPicture_;
    const std::string path = PictureSlotPath(p_.cache.folder, first);
    std::uint32_t setTime = 0;
    if (first == 0) {
        // The black picture gets a capture time too, with its time checksum.
        std::uint32_t setN = 0;
        if (ReadSetTime(next, setN) == 0)
            return;
        setTime = setN > w / 1000 ? setN - w / 1000 : 0;
        RewriteSetTime(path, setTime);
        s_.blackTimeSet = true;
    }
    RewriteRelTime(path, relN > w ? relN - w : 0);
    firstPending_ = false;
    WriteLog(LogTag::HttpThread,
             "JPEG2000時間書換え GetSaveIndex：%s　設定時間=%d　J2K相対時間=%d　WAVE演奏時間=%d",
             path.c_str(), static_cast<int>(setTime), static_cast<int>(relN), static_cast<int>(w));
    // No cached picture came after the black one: this one follows it.
    if (first == 0 && saved_.afterBlack == 0)
        saved_.afterBlack = successor;
    learnSavedStart();
}

void CacheStore::dropNewestPicture(int& pictureSlot, int soundSlot) {
    // Slot 0 here means an empty picture cache: nothing to drop, the first picture takes slot 1.
    if (pictureSlot == 0)
        return;
    const int p = pictureSlot;
    const int s = soundSlot == 0 ? 1 : soundSlot;
    if (slotTime(p, SlotKind::Picture) < slotTime(s, SlotKind::Sound)) {
        pictureSlot = NextSlot(p);
        return;
    }
    const std::string path = PictureSlotPath(p_.cache.folder, p);
    removeFile(path);
    s_.droppedSlot = p;
    pictureSlot = p;
    WriteLog(LogTag::HttpThread, "保存機能開始時　キャッシュ最新JPEG2000ファイル削除 = %s",
             path.c_str());
}

void CacheStore::learnSavedStart() {
    if (saved_.ready || !savePositionsFound_ || firstPending_)
        return;
    saved_.ready = true;
    std::uint32_t rel = 0;
    saved_.startKnown = ReadRelTime(PictureSlotPath(p_.cache.folder, firstSavedPicture_), rel) != 0;
    saved_.startRelMs = rel;
    WriteLog(LogTag::HttpThread, "保存開始画像 %02d 相対時間=%u", firstSavedPicture_,
             static_cast<unsigned>(rel));
}

bool CacheStore::saveCachedPicture(int slot, const std::string& saveFolder, int& savedCount) {
    const std::string path = PictureSlotPath(p_.cache.folder, slot);
    const std::uint64_t cached = slotTime(slot, SlotKind::Picture);
    if (cached == 0)
        return true;  // no picture in this slot
    // A slot cached before the last saved picture belongs to an earlier lap of the ring. The
    // black picture is written at the set-up, after the pictures that follow it in the saved
    // recording, so its own cache time says nothing.
    if (slot != 0 && cached < saved_.lastSlotTime) {
        WriteLog(LogTag::HttpThread, "保存対象外（古い周回）：%s", path.c_str());
        return true;
    }
    std::int64_t pos = saved_.lastPosMs;
    if (saved_.startKnown) {
        std::uint32_t rel = 0;
        if (ReadRelTime(path, rel) != 0) {
            pos = static_cast<std::int64_t>(rel) - saved_.startRelMs;
            if (pos < 0 || pos < saved_.lastPosMs) {
                WriteLog(LogTag::HttpThread, "保存対象外（保存区間前）：%s pos=%lld", path.c_str(),
                         static_cast<long long>(pos));
                return true;
            }
            if (pos >= static_cast<std::int64_t>(p_.save.saveTime) * 1000) {
                WriteLog(LogTag::HttpThread, "保存対象外（保存区間後）：%s pos=%lld", path.c_str(),
                         static_cast<long long>(pos));
                saved_.ended = true;
                return true;
            }
        }
    } else if (savedSoundEndTime_ != 0 && slot != 0 && cached > savedSoundEndTime_) {
        // Without a relative time to place it, the cache time says it came after the saved
        // sound's end.
        saved_.ended = true;
        return true;
    }
    const int before = savedCount;
    int cursor = slot;
    if (SaveFrame(p_, 1, saveFolder, false, savedCount, cursor, std::string()) == 0)
        return false;
    if (savedCount != before) {
        saved_.lastPosMs = pos;
        if (slot != 0)
            saved_.lastSlotTime = cached;
    }
    return true;
}

void CacheStore::SavePendingPictures(int pictureSlot, const std::string& saveFolder,
                                     int& savedCount) {
    if (!savePositionsFound_ || saved_.ended)
        return;
    if (!saved_.ready) {
        // No picture came after the first saved one: its timing cannot be found. It is saved
        // as it is, the only picture of the recording's start.
        WriteLog(LogTag::HttpThread, "保存開始画像 時間書換えなし %02d", firstSavedPicture_);
        saved_.ready = true;
        saved_.startKnown = false;
    }
    savePicturesThrough(PrevSlot(pictureSlot == 0 ? 1 : pictureSlot), saveFolder, savedCount);
}

bool CacheStore::savePicturesThrough(int slot, const std::string& saveFolder, int& savedCount) {
    if (!saved_.ready)
        return true;
    // The cursor stands just after `slot` once the walk has been there: nothing to do. Else the
    // walk ends at `slot`, after at most one lap.
    for (int steps = 0; steps <= kLastSlot && !saved_.ended; ++steps) {
        const int at = s_.saveSeqIndex;
        if (at != 0 && at == NextSlot(slot))
            break;
        if (!saveCachedPicture(at, saveFolder, savedCount))
            return false;
        s_.saveSeqIndex =
            at == 0 ? (saved_.afterBlack != 0 ? saved_.afterBlack : NextSlot(at)) : NextSlot(at);
        if (at == slot)
            break;
    }
    return true;
}

int CacheStore::catchUp(int& seqNo, int pictureSlot, int& savedCount, const std::string& saveFolder,
                        int soundSlot) {
    // What is shown: the pictures of the cache time before the current sound, from the slot
    // whose time the sound has reached.
    const int u = GetCacheReadIndex(soundSlot, SlotKind::Sound);
    const int v = GetCacheReadIndex(pictureSlot, SlotKind::Picture, u);
    int count = pictureSlot - v;
    if (count < 0)
        count += kLastSlot;
    int slot = v;
    for (int i = 0; i < count; ++i) {
        const std::int64_t start = GetImgStartTime(p_.cache.folder, slot);
        if ((start != 0 && slot != 0) || (start == 0 && slot == 0)) {
            const std::string path = PictureSlotPath(p_.cache.folder, slot);
            if (p_.shared.frameQueue)
                p_.shared.frameQueue->Push(DecodeJ2KFile(path), seqNo, start);
            ++seqNo;
            WriteLog(LogTag::HttpThread, "キャッシュデータ(保存分)バッファセット：%s",
                     path.c_str());
        }
        slot = NextSlot(slot);
    }
    s_.catchUpDone = true;
    // What is saved: every picture from the first saved one up to the newest, whatever is
    // shown; the current picture follows in the step after. The saver never trails the sound.
    return savePicturesThrough(PrevSlot(pictureSlot), saveFolder, savedCount) ? 1 : 0;
}

int CacheStore::storePicture(int& seqNo, int& pictureSlot, int& savedCount, bool firstImage,
                             const std::string* saveFolder, int soundSlot,
                             const std::string& tempName, std::int64_t downloadTime) {
    if (firstImage && p_.fetch.mode.savesSound())
        dropNewestPicture(pictureSlot, soundSlot);
    if (pictureSlot == 0)
        pictureSlot = 1;
    if (stopped())
        return 0;
    const std::string path = PictureSlotPath(p_.cache.folder, pictureSlot);
    std::error_code sizeError;
    const auto bytes = std::filesystem::file_size(tempName, sizeError);
    if (!admitToCache(path, sizeError ? 0 : bytes)) {
        if (p_.fetch.mode.saves())
            NoteFailure(p_.progress.result, SaveResult::DownloadFailure);
        return 0;
    }
    if (const int error = CopyFileReplace(tempName, path, RealDisk()); error != 0) {
        WriteLog(LogTag::HttpThread, "キャッシュファイル作成失敗：%s (%d)", path.c_str(), error);
        return 0;
    }
    WriteStartTime(p_.cache.folder, pictureSlot, downloadTime);
    WriteLog(LogTag::HttpThread, "キャッシュファイル作成：%s", path.c_str());

    // A first saved picture with no picture after it at the set-up takes its timing from this
    // one.
    if (savePositionsFound_ && firstPending_ && pictureSlot != firstSavedPicture_)
        timeFirstSavedPicture(pictureSlot);
    // The catch-up waits for the save set-up, which finds where the save begins, and for the
    // black picture's timing, which places the pictures after it.
    int result = 1;
    if (saveFolder && !s_.catchUpDone && s_.setupDone && saved_.ready)
        result = catchUp(seqNo, pictureSlot, savedCount, *saveFolder, soundSlot);

    if (stopped() || result == 0) {
        result = 0;
    } else if (!saveFolder || s_.catchUpDone) {
        if (!p_.shared.frameQueue ||
            !p_.shared.frameQueue->Push(DecodeJ2KFile(path), seqNo, downloadTime)) {
            result = 0;
        } else {
            ++seqNo;
            WriteLog(LogTag::HttpThread, "キャッシュデータバッファセット：%s", path.c_str());
            if (saveFolder && !savePicturesThrough(pictureSlot, *saveFolder, savedCount))
                result = 0;
        }
    }
    pictureSlot = NextSlot(pictureSlot);
    return result;
}

int CacheStore::showAndSave(int& seqNo, int& savedCount, const std::string* saveFolder,
                            const std::string& tempName, std::int64_t downloadTime) {
    if (stopped())
        return 0;
    int result = 1;
    platform::GlobalBlock picture;
    try {
        picture = DecodeJ2KFile(tempName);
    } catch (...) {
        WriteLog(LogTag::HttpThread, "JPXCODEC デコード失敗 FileName='%s'", tempName.c_str());
    }
    if (!picture.empty()) {
        if (!stopped() && p_.shared.frameQueue) {
            p_.shared.frameQueue->Replace(std::move(picture), seqNo, downloadTime);
            ++seqNo;
            p_.shared.frameQueue->ShowFirst();
        }
        int unusedSlot = 0;
        if (saveFolder &&
            SaveFrame(p_, 1, *saveFolder, true, savedCount, unusedSlot, tempName) == 0) {
            result = 0;
        }
    } else {
        ++p_.progress.j2kErrorCount;
        WriteJ2kErrLog("J2KERR DwnldImgNo=%d, SaveImgNo=%d, about Date %s",
                       p_.progress.downloadCount + 1, savedCount + 1,
                       p_.progress.detailText.c_str());
        WriteLog(LogTag::HttpThread,
                 "DecodeImg error skip nDwnldImgNo=%d nSeqNo=%d nImgNo=%d, J2kDecodeErrCount=%d",
                 p_.progress.downloadCount, seqNo, savedCount, p_.progress.j2kErrorCount);
        WriteLog(LogTag::HttpThread, "DecodeImg error about AbsTime=%s\n",
                 p_.progress.detailText.c_str());
    }
    ++p_.progress.downloadCount;
    return result;
}

int CacheStore::AddImageData(int& seqNo, int& pictureSlot, int& savedCount, bool firstImage,
                             const std::string* saveFolder, bool direct, int* status,
                             int shortfallMs, int soundSlot) {
    const std::string tempName = tempName_(seqNo);
    std::int64_t downloadTime = 0;
    ImageFetch got = ImageFetch::Failed;
    for (int attempt = 0; attempt < kImageAttempts; ++attempt) {
        if (attempt >= 1)
            WriteLog(LogTag::HttpThread, "AddImageData Retry(%d)", attempt);
        got = fetch_(tempName, p_, firstImage, &downloadTime, status, shortfallMs);
        if (got == ImageFetch::GivenUp) {
            // Sound has priority: this picture is skipped and the run goes on.
            removeFile(tempName);
            return 1;
        }
        if (got != ImageFetch::Failed)
            break;
        if (p_.fetch.mode.downloadsRecording() && status && *status == 404) {
            p_.progress.result = SaveResult::None;  // the end of the recorded stretch
            removeFile(tempName);
            return 0;
        }
        if (p_.stopOrder && p_.stopOrder->waitMs(1))
            break;
    }
    if (got != ImageFetch::Whole) {
        removeFile(tempName);
        // Whether a failed picture fails the run is decided here, after the last attempt: an
        // attempt that failed before one that worked leaves nothing behind.
        if (saveFolder) {
            if (got == ImageFetch::Failed && !stopped()) {
                NoteFailure(p_.progress.result, SaveResult::DownloadFailure);
                if (p_.progress.failure.empty())
                    p_.progress.failure = p_.progress.pictureFailure;
            }
            return 0;
        }
        if (!stopped())
            return 1;  // a lost picture does not end playback
        return 0;
    }
    const int result = direct ? showAndSave(seqNo, savedCount, saveFolder, tempName, downloadTime)
                              : storePicture(seqNo, pictureSlot, savedCount, firstImage, saveFolder,
                                             soundSlot, tempName, downloadTime);
    removeFile(tempName);
    return result;
}

}  // namespace picvox
