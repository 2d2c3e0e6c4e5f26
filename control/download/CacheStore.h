#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "control/buffers/WavFile.h"
#include "control/download/CacheSlots.h"
#include "control/download/HttpFetch.h"
#include "control/download/HttpThreadParams.h"
#include "platform/audio/WaveFormat.h"

namespace picvox {

// Where a save with sound begins in the cache, found once per run by the save set-up.
struct SaveStartState {
    bool setupDone = false;
    bool catchUpDone = false;
    bool blackTimeSet = true;  // false: the black picture in slot 0 still waits for its timing
    int droppedSlot = 0;       // picture slot deleted at the run's first picture, 0 none
    int saveSeqIndex = 0;      // next picture slot to copy into the recording
    int waveSaveIndex = 0;     // first sound slot still to be handed to the WAV writer
    int firstAddMs = 0;        // milliseconds the run's first AddImageData took
};

// The download thread's cache: received pictures and sound segments enter the slot ring here
// and go on to the picture queue, the sound ring, the player and the saver; a save with sound
// starts from what the cache holds. Works on the thread's record, on the download thread only.
class CacheStore final : public FetchHooks {
public:
    // What the cache's slot files may hold in all: far above what a recorder's 99 pictures and
    // 99 segments take, so that only hostile answers meet it.
    static constexpr std::uint64_t kMaxCacheBytes = 256ull << 20;

    // How a picture is fetched into a temporary file (GetImgFile's contract). `timeOut`
    // receives the calendar time the answer arrived.
    using ImageFetcher = std::function<ImageFetch(
        const std::string& tempName, HttpThreadParams& params, bool firstImage,
        std::int64_t* timeOut, int* statusOut, int shortfallMs)>;

    explicit CacheStore(HttpThreadParams& params);
    // Replaces the HTTP fetch (tests and benchmarks fetch from local files).
    void setImageFetch(ImageFetcher fetch) { fetch_ = std::move(fetch); }
    // Replaces kMaxCacheBytes (tests).
    void setCacheLimit(std::uint64_t bytes) { cacheLimit_ = bytes; }
    // Replaces the temporary name of a picture (MakeTempName of ImageFileURL by default).
    void setTempName(std::function<std::string(int seqNo)> name) { tempName_ = std::move(name); }

    // FetchHooks.
    int soundBufferedMs(int shortfallMs) override;
    void saveSetup(int pictureSlot, int soundSlot, int* playSlot) override;
    bool saveSetupDue() const override;
    int storeWaveSegment(const std::string& tempName, int soundSlot) override {
        return StoreWaveSegment(tempName, soundSlot);
    }

    // The first slot to read so that cacheTimeMs of material lies ahead of `currentSlot`.
    // Pictures are kept from starting later than the sound read slot `soundReadSlot`.
    int GetCacheReadIndex(int currentSlot, SlotKind kind, int soundReadSlot = 0);
    // A received WAV segment into its slot, the sound ring, the player and the WAV writer's
    // queue. 1 stored, 2 stop seen, 0 failure. The temporary file is deleted.
    int StoreWaveSegment(const std::string& tempName, int soundSlot);
    // One picture: fetched (up to five attempts), cached in `pictureSlot` and queued for showing
    // (the play loop), or shown and saved at once (`direct`, the save-only loop). `saveFolder`
    // null when nothing is saved. 1 continue, 0 stop or failure.
    int AddImageData(int& seqNo, int& pictureSlot, int& savedCount, bool firstImage,
                     const std::string* saveFolder, bool direct, int* status, int shortfallMs,
                     int soundSlot);

    // Milliseconds of sound the AudioRing holds (bytes held / bytes per millisecond).
    int audioRingBufferedMs() const;
    // Whether the sound queued for the writer has reached save_time.
    bool savedSoundQueued() const { return savedSoundEndTime_ != 0; }
    // The last sound format met (18 bytes).
    const std::array<std::uint8_t, 18>& waveFormat() const { return waveFormat_; }
    SaveStartState& saveState() { return s_; }
    const SaveStartState& saveState() const { return s_; }

    // At the end of a save: the pictures not saved yet up to the one before `pictureSlot` (the
    // next slot to fill), also when the first saved picture never got a successor to time it
    // (then it stands at the start as it is, and no place is checked).
    void SavePendingPictures(int pictureSlot, const std::string& saveFolder, int& savedCount);

    // The save start.
    void GetSaveIndex(int pictureSlot, int pictureReadSlot, int soundSlot, int soundReadSlot);
    // Milliseconds of sound in the slots from `first` to `last` along the ring, walking back from
    // `last` while the slots' times keep their order.
    std::uint32_t PlayTimeOfSlots(int last, int first);
    // Rewrites a sound slot in place with only the last `bytes` bytes of `clip`'s samples. The
    // file keeps its times, so its place in the ring's time order. 1 success, 0 failure.
    int RewriteFileData(const WavClip& clip, const std::string& path, std::uint32_t bytes);
    // Queues the cached sound after `playSlot` up to `soundSlot` for playing, and the saved
    // sound before it for the WAV writer. 1 while no stop is ordered.
    int MakeWaveQueueFirst(int& playSlot, int soundSlot);

private:
    bool stopped() const;
    bool putSound(const WavClip& clip, const char* successLine);
    bool pushForSaving(WavClip&& clip, const std::string& path);
    void dropNewestPicture(int& pictureSlot, int soundSlot);
    // Puts the first saved picture at the start of the saved sound, from the relative time of
    // the picture `successor` that came after it and the saved sound up to that one's arrival.
    void timeFirstSavedPicture(int successor);
    int catchUp(int& seqNo, int pictureSlot, int& savedCount, const std::string& saveFolder,
                int soundSlot);
    // Saves the cached pictures from saveSeqIndex along the ring through `slot`, in order and
    // only those inside the saved stretch. False when a copy failed (the run ends).
    bool savePicturesThrough(int slot, const std::string& saveFolder, int& savedCount);
    bool saveCachedPicture(int slot, const std::string& saveFolder, int& savedCount);
    // Where the saved stretch starts on the recorder's clock, once the first saved picture has
    // its timing.
    void learnSavedStart();
    bool sameFormat(const WavClip& clip);
    // Whether a file of `bytes` may take the place of `slotPath` without the cache's files
    // growing past kMaxCacheBytes; counts it when it may.
    bool admitToCache(const std::string& slotPath, std::uint64_t bytes);
    bool ensureRing(const WavClip& clip);
    int storePicture(int& seqNo, int& pictureSlot, int& savedCount, bool firstImage,
                     const std::string* saveFolder, int soundSlot, const std::string& tempName,
                     std::int64_t downloadTime);
    int showAndSave(int& seqNo, int& savedCount, const std::string* saveFolder,
                    const std::string& tempName, std::int64_t downloadTime);
    std::uint64_t slotTime(int slot, SlotKind kind) const;
    // Whether sound slot `a` was cached after sound slot `b`.
    bool soundLaterThan(int a, int b) const;

    HttpThreadParams& p_;
    SaveStartState s_;
    std::array<std::uint8_t, 18> waveFormat_{};
    ImageFetcher fetch_;
    std::function<std::string(int)> tempName_;
    // Set by GetSaveIndex; slot 0 (the black picture) is a valid start, so the indices alone
    // cannot tell.
    bool savePositionsFound_ = false;
    // The first saved sound slot as GetSaveIndex found it; waveSaveIndex moves on from there as
    // the cached sound is queued for the writer.
    int firstSavedSound_ = 0;
    // Sound bytes queued for the writer, and the cache time of the sound slot that brought them
    // to save_time (0 until then): a picture cached after it was taken after the saved sound
    // ends.
    std::uint64_t queuedSoundBytes_ = 0;
    std::uint64_t savedSoundEndTime_ = 0;
    // The cache time at which the saved sound starts (GetSaveIndex).
    std::uint64_t soundStartTime_ = 0;
    // The first saved picture (0: the black one), and whether it still waits for its timing.
    int firstSavedPicture_ = 0;
    bool firstPending_ = false;

    // The saver's walk over the cached pictures. A picture's place in the saved recording is its
    // relative time less the first saved picture's (as a viewer paces it): only pictures whose
    // place lies inside the saved sound are saved, each later than the one before.
    struct SavedPictures {
        bool ready = false;       // the first saved picture has its timing
        bool startKnown = false;  // its relative time could be read
        std::uint32_t startRelMs = 0;
        std::int64_t lastPosMs = -1;
        std::uint64_t lastSlotTime = 0;  // cache time of the last picture saved (not the black one)
        bool ended = false;              // a picture past the saved sound's end was met
        int afterBlack = 0;  // the oldest cached picture after the sound's start, 0 none
    } saved_;
    std::optional<std::uint64_t> cacheBytes_;  // the cache folders' bytes, counted at first use
    std::uint64_t cacheLimit_ = kMaxCacheBytes;
    // The sound format of the run: the first one met. Sound in another format is never played
    // or saved with it.
    std::optional<platform::WaveFormat> runFormat_;
};

// The trailer rewrites of a cached picture, keeping the file's times (its place in the ring).
int RewriteRelTime(const std::string& path, std::uint32_t relTimeMs);
int RewriteSetTime(const std::string& path, std::uint32_t dvrSeconds);

}  // namespace picvox
