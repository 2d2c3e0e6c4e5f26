#include <mutex>

#include "CacheFixture.h"
#include "control/buffers/AudioRing.h"
#include "control/buffers/FrameQueue.h"
#include "control/buffers/WaveSaveQueue.h"
#include "control/download/CacheStore.h"
#include "control/download/HttpFetch.h"
#include "control/download/J2kFrameCheck.h"
#include "platform/Event.h"

namespace picvox::test {
namespace {

class FakePlayer final : public PlayerSlot {
public:
    bool hasPlayer() const override { return created > 0; }
    bool createPlayer(const std::array<std::uint8_t, 18>& format) override {
        lastFormat = format;
        ++created;
        return true;
    }
    int created = 0;
    std::array<std::uint8_t, 18> lastFormat{};
};

class SaveStartTest : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        params_.fetch.mode = RunMode::of(1, 0, 0);
        params_.shared.audioRing = &ring_;
        params_.shared.waveSaveQueue = &saveQueue_;
        params_.shared.player = &player_;
        params_.shared.playerReady = &playerReady_;
        params_.shared.soundQueued = &soundQueued_;
        params_.shared.frameQueue = &frames_;
    }
    // A fetch that "downloads" the given frame into the temporary file.
    void fetchFrame(CacheStore& store, std::vector<std::uint8_t> bytes) {
        store.setTempName([this](int n) { return (root_ / ("img" + std::to_string(n))).string(); });
        store.setImageFetch([bytes](const std::string& temp, HttpThreadParams&, bool,
                                    std::int64_t* time, int*, int) {
            writeBytes(temp, bytes);
            *time = kBase;
            return ImageFetch::Whole;
        });
    }

    void emptyCache() {
        for (const char* sub : {"J2K2", "WAVE2"}) {
            fs::remove_all(root_ / sub);
            fs::create_directories(root_ / sub);
        }
    }

    AudioRing ring_;
    WaveSaveQueue saveQueue_{200};
    FakePlayer player_;
    platform::Event playerReady_{platform::Event::Reset::Auto};
    platform::Event soundQueued_{platform::Event::Reset::Auto};
    std::mutex lock_;
    FrameQueue frames_{20, nullptr, lock_};
};

// Five seconds of sound before the read slot: all of the fifth one-second slot back, or the last
// 4000 bytes of the fourth 1.5-second slot back. The cut slot keeps its place in the ring.
TEST_F(SaveStartTest, FiveSecondBudget) {
    const struct {
        std::uint32_t slotBytes;
        int expectedSlot;
        std::size_t expectedBytes;
    } cases[] = {{8000, 5, 8000}, {12000, 6, 4000}};
    for (const auto& c : cases) {
        for (int slot = 1; slot <= 10; ++slot)
            soundSlot(slot, c.slotBytes, slot * 1500, slot);
        CacheStore store(params_);
        store.GetSaveIndex(0, 0, 11, 10);
        EXPECT_EQ(store.saveState().waveSaveIndex, c.expectedSlot) << c.slotBytes;
        const std::string cut = SoundSlotPath(params_.cache.folder, c.expectedSlot);
        WavClip clip;
        ASSERT_TRUE(ReadWavFile(clip, cut));
        ASSERT_EQ(clip.dataBytes, c.expectedBytes);
        // The kept bytes are the last ones of the slot's samples.
        EXPECT_EQ(clip.data.back(), static_cast<std::uint8_t>(c.slotBytes - 1 + c.expectedSlot));
        EXPECT_EQ(SlotTime(cut, params_.cache.clock), ticksAt(c.expectedSlot * 1500));
    }
}

// The slots strictly between the play slot and the current one go to the ring, across the wrap;
// the saved sound starts at waveSaveIndex and runs on without a gap.
TEST_F(SaveStartTest, MakeWaveQueueFirstCountsAcrossTheRing) {
    for (int slot = 1; slot <= 99; ++slot)
        soundSlot(slot, 100, slot * 10);
    const struct {
        int play, current, waveSaveIndex;
        std::size_t queuedSlots, savedClips;
        int playAfter;
    } cases[] = {{5, 10, 3, 4, 7, 9}, {10, 5, 10, 93, 94, 4}, {9, 10, 7, 0, 3, 9}};
    for (const auto& c : cases) {
        ring_.Release();
        WavClip drop;
        while (saveQueue_.Pop(drop)) {
        }
        CacheStore store(params_);
        store.saveState().waveSaveIndex = c.waveSaveIndex;
        int play = c.play;
        EXPECT_EQ(store.MakeWaveQueueFirst(play, c.current), 1);
        EXPECT_EQ(play, c.playAfter);
        EXPECT_EQ(ring_.DataSize(), c.queuedSlots * 100) << c.play << "->" << c.current;
        EXPECT_EQ(saveQueue_.held(), c.savedClips) << c.play << "->" << c.current;
    }
    EXPECT_EQ(player_.created, 1);
    EXPECT_TRUE(playerReady_.isSet());
    EXPECT_EQ(player_.lastFormat[8], 0x40);  // 8000 bytes per second
}

// No cached picture is older than the start of the saved sound: the save starts with the black
// picture, and the first real picture gives it its times.
TEST_F(SaveStartTest, BlackPictureTakesItsTimingFromTheFirstPicture) {
    soundSlot(4, 8000, 0);  // the read slot, nothing before it
    CacheStore store(params_);
    store.GetSaveIndex(2, 0, 5, 4);
    EXPECT_EQ(store.saveState().waveSaveIndex, 4);
    EXPECT_EQ(store.saveState().saveSeqIndex, 0);
    EXPECT_EQ(store.saveState().blackTimeSet, false);
    const std::string black = PictureSlotPath(params_.cache.folder, 0);
    ASSERT_EQ(readBytes(black).size(), 490u);

    soundSlot(5, 8000, 1000);
    store.saveState().setupDone = true;
    store.saveState().catchUpDone = true;
    setTimeMs(black, -500);
    const std::uint64_t blackTime = SlotTime(black, params_.cache.clock);
    fetchFrame(store, frame(86400, 9000));
    int seqNo = 0, slot = 2, saved = 0;
    ASSERT_EQ(store.AddImageData(seqNo, slot, saved, false, nullptr, false, nullptr, 0, 5), 1);
    EXPECT_EQ(store.saveState().blackTimeSet, true);
    EXPECT_EQ(slot, 3);
    EXPECT_EQ(frames_.size(), 1u);

    // Two seconds of saved sound lie before the picture: its times less two seconds.
    const auto bytes = readBytes(black);
    korvex::CheckResult check;
    ASSERT_EQ(CheckJ2kFrame(bytes.data(), bytes.size(), check), 1);
    EXPECT_EQ(check.flags, 0);
    EXPECT_EQ(check.time, 946684800 + 86400 - 2);
    EXPECT_EQ(check.offsetMs, 7000u);
    EXPECT_EQ(SlotTime(black, params_.cache.clock), blackTime);
}

// A save start must come out the same wherever its slots sit on the ring: (sound base, picture
// base), with 99 -> 1 crossed by the saved sound, by the rewritten pictures, or by neither.
constexpr struct {
    int sound, picture;
} kPlacements[] = {{40, 40}, {93, 97}, {90, 95}, {97, 93}, {1, 1}};

int slotAt(int base, int k) {
    for (; k > 0; --k)
        base = NextSlot(base);
    return base;
}

TEST_F(SaveStartTest, TimingRewriteIsTheSameAcrossTheRingWrap) {
    // Sound: 1.5-second slots, sound k cached at k * 1.5 s; the read slot is sound 10, so five
    // seconds back end inside sound 6 (its last 4000 bytes). Pictures: cache time and relative
    // time; picture 5 is the run's first, stored in the dropped slot. Picture 2 is the newest
    // before the sound starts: it takes picture 3's time less the saved sound before picture 3
    // came (the 500 ms kept of sound 6 and sound 7). The others keep their own times, which are
    // the recorder's clock.
    const std::int64_t pictureAt[] = {1000, 4000, 8000, 11000, 12500, 14000};
    const std::uint32_t relBefore[] = {30000, 30700, 31400, 32100, 32800, 33500};
    const std::uint32_t relAfter[] = {30000, 30700, 30100, 32100, 32800, 33500};
    for (const auto& at : kPlacements) {
        SCOPED_TRACE(testing::Message() << "sound " << at.sound << ", pictures " << at.picture);
        emptyCache();
        for (int k = 0; k <= 10; ++k)
            soundSlot(slotAt(at.sound, k), 12000, k * 1500, k);
        soundSlot(slotAt(at.sound, 11), 12000, -60000);  // the previous lap
        for (int j = 0; j < 6; ++j) {
            const std::string path = PictureSlotPath(params_.cache.folder, slotAt(at.picture, j));
            writeBytes(path, frame(5000 + j, relBefore[j]));
            setTimeMs(path, pictureAt[j]);
        }
        pictureSlot(slotAt(at.picture, 6), -60000);
        CacheStore store(params_);
        store.saveState().droppedSlot = slotAt(at.picture, 5);
        store.GetSaveIndex(slotAt(at.picture, 6), 0, slotAt(at.sound, 11), slotAt(at.sound, 10));

        EXPECT_EQ(store.saveState().waveSaveIndex, slotAt(at.sound, 6));
        EXPECT_EQ(store.saveState().saveSeqIndex, slotAt(at.picture, 2));
        WavClip cut;
        ASSERT_TRUE(ReadWavFile(cut, SoundSlotPath(params_.cache.folder, slotAt(at.sound, 6))));
        EXPECT_EQ(cut.dataBytes, 4000u);
        for (int j = 0; j < 6; ++j) {
            std::uint32_t rel = 0, set = 0;
            const std::string path = PictureSlotPath(params_.cache.folder, slotAt(at.picture, j));
            ASSERT_TRUE(ReadRelTime(path, rel) && ReadSetTime(path, set));
            EXPECT_EQ(rel, relAfter[j]) << "picture " << j;
            EXPECT_EQ(set, 5000u + j) << "picture " << j;
        }
    }
}

// The black picture stands at the start of the saved sound: the first real picture's times less
// all the saved sound up to the current slot, also after the set-up has queued part of it. With
// no picture cached, the first one to arrive times it.
TEST_F(SaveStartTest, BlackPictureLinesUpWithTheFirstSavedSound) {
    params_.fetch.cacheTimeMs = 3000;
    for (const auto& at : kPlacements) {
        SCOPED_TRACE(testing::Message() << "sound " << at.sound << ", pictures " << at.picture);
        emptyCache();
        WavClip drop;
        while (saveQueue_.Pop(drop)) {
        }
        ring_.Release();
        // One-second sound slots 0 to 10; the set-up reads from sound 8 and saves from sound 3.
        for (int k = 0; k <= 10; ++k)
            soundSlot(slotAt(at.sound, k), 8000, k * 1000, k);
        CacheStore store(params_);
        int play = 0;
        store.saveSetup(slotAt(at.picture, 3), slotAt(at.sound, 11), &play);
        EXPECT_EQ(store.saveState().saveSeqIndex, 0);
        EXPECT_EQ(store.saveState().blackTimeSet, false);
        EXPECT_EQ(play, slotAt(at.sound, 10));
        EXPECT_EQ(saveQueue_.held(), 8u);  // sounds 3 to 10

        soundSlot(slotAt(at.sound, 11), 8000, 11000);
        fetchFrame(store, frame(86400, 20000));
        int seqNo = 0, slot = slotAt(at.picture, 3), saved = 0;
        ASSERT_EQ(store.AddImageData(seqNo, slot, saved, false, nullptr, false, nullptr, 0,
                                     slotAt(at.sound, 11)),
                  1);
        EXPECT_EQ(store.saveState().blackTimeSet, true);
        std::uint32_t rel = 0, set = 0;
        const std::string black = PictureSlotPath(params_.cache.folder, 0);
        ASSERT_TRUE(ReadRelTime(black, rel) && ReadSetTime(black, set));
        EXPECT_EQ(rel, 20000u - 9000u);  // nine seconds saved: sounds 3 to 11
        EXPECT_EQ(set, 86400u - 9u);
    }
}

// Pictures cached only after the saved sound's start: the black picture takes its timing at the
// set-up from the oldest of them, wherever the ring holds it (slot 1 may hold a later one).
TEST_F(SaveStartTest, BlackPictureIsTimedFromTheOldestPictureAfterTheStart) {
    params_.fetch.cacheTimeMs = 3000;
    for (const auto& at : kPlacements) {
        SCOPED_TRACE(testing::Message() << "sound " << at.sound << ", pictures " << at.picture);
        emptyCache();
        ring_.Release();
        for (int k = 0; k <= 10; ++k)
            soundSlot(slotAt(at.sound, k), 8000, k * 1000, k);
        // Pictures j at 4.5 s + 2 s j, relative time 40 s + 2 s j; the sound starts at 3 s.
        for (int j = 0; j < 3; ++j) {
            const std::string path = PictureSlotPath(params_.cache.folder, slotAt(at.picture, j));
            writeBytes(path, frame(5000 + j, 40000 + 2000 * j));
            setTimeMs(path, 4500 + 2000 * j);
        }
        CacheStore store(params_);
        int play = 0;
        store.saveSetup(slotAt(at.picture, 3), slotAt(at.sound, 11), &play);
        EXPECT_EQ(store.saveState().saveSeqIndex, 0);
        EXPECT_EQ(store.saveState().blackTimeSet, true);
        // The oldest picture lies after sounds 3 and 4 (cached at 3 and 4 s): two seconds in.
        std::uint32_t rel = 0, set = 0;
        const std::string black = PictureSlotPath(params_.cache.folder, 0);
        ASSERT_TRUE(ReadRelTime(black, rel) && ReadSetTime(black, set));
        EXPECT_EQ(rel, 40000u - 2000u);
        EXPECT_EQ(set, 5000u - 2u);
    }
}

// Play time runs back from the last slot to the first along the ring, and stops where the slots'
// times leave their order (slot 10 is the oldest, 9 the newest).
TEST_F(SaveStartTest, PlayTimeOfSlotsFollowsTheRing) {
    for (int slot = 1; slot <= 99; ++slot)
        soundSlot(slot, 800, RingDistance(10, slot) * 1000);
    const struct {
        int last, first;
        std::uint32_t ms;
    } cases[] = {{45, 42, 400}, {50, 50, 100}, {2, 97, 500}, {1, 99, 200},
                 {12, 5, 300},  {9, 10, 9900}, {3, 0, 300},  {0, 5, 0}};
    CacheStore store(params_);
    for (const auto& c : cases)
        EXPECT_EQ(store.PlayTimeOfSlots(c.last, c.first), c.ms) << c.last << "-" << c.first;
    EXPECT_EQ(RingDistance(2, 97), 95);
    EXPECT_EQ(RingDistance(0, 1), 1);  // the black picture is followed by slot 1
}

TEST_F(SaveStartTest, SoundBeforeTheSetUpIsOnlyCached) {
    CacheStore store(params_);
    const std::string temp = (root_ / "seg.wav").string();
    writeBytes(temp, wavBytes(800));
    EXPECT_EQ(store.StoreWaveSegment(temp, 3), 1);
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_EQ(readBytes(SoundSlotPath(params_.cache.folder, 3)).size(), 44u + 800u);
    EXPECT_EQ(ring_.DataSize(), 0u);

    store.saveState().setupDone = true;
    writeBytes(temp, wavBytes(800));
    EXPECT_EQ(store.StoreWaveSegment(temp, 4), 1);
    EXPECT_EQ(ring_.DataSize(), 800u);
    EXPECT_EQ(saveQueue_.held(), 1u);
    EXPECT_EQ(store.audioRingBufferedMs(), 100);

    writeBytes(temp, {'R', 'I', 'F', 'F', 0, 0});
    EXPECT_EQ(store.StoreWaveSegment(temp, 5), 0);
    EXPECT_FALSE(fs::exists(temp));
}

// The catch-up saves every cached picture from the first saved one up to the newest, not as
// many as it shows: the saver never trails the saved sound. A picture of an earlier lap of the
// ring between them, and those whose place lies past the saved sound's end, are not saved.
TEST_F(SaveStartTest, CatchUpSavesFromTheFirstPictureToTheNewestInsideTheSavedSound) {
    params_.fetch.cacheTimeMs = 3000;
    params_.save.saveTime = 6;
    params_.save.timestampOrder = 2;
    for (int k = 1; k <= 10; ++k)
        soundSlot(k, 8000, k * 1000, k);
    // Pictures 40 + j, cached at 0.5 s + j s, relative time 10 s + j s; 45 is of an earlier lap.
    for (int j = 0; j <= 8; ++j) {
        const std::string path = PictureSlotPath(params_.cache.folder, 40 + j);
        writeBytes(path, frame(5000 + j, 10000 + 1000 * j));
        setTimeMs(path, j == 5 ? -60000 : 500 + 1000 * j);
    }
    const fs::path folder = root_ / "IMG00001";
    fs::create_directories(folder);
    CacheStore store(params_);
    int play = 0;
    store.saveSetup(49, 11, &play);
    // Five seconds before the read slot 8: the saved sound starts with sound 3 (at 3 s); the
    // newest picture before it is 42, placed at the start from picture 43.
    EXPECT_EQ(store.saveState().saveSeqIndex, 42);

    fetchFrame(store, frame(6000, 19000));
    int seqNo = 0, slot = 49, saved = 0;
    const std::string saveFolder = folder.string();
    ASSERT_EQ(store.AddImageData(seqNo, slot, saved, false, &saveFolder, false, nullptr, 0, 11), 1);
    std::vector<std::uint32_t> rels;
    for (int n = 1; n <= saved; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%06d.jp2", n);
        std::uint32_t rel = 0;
        ASSERT_EQ(ReadRelTime((folder / name).string(), rel), 1) << name;
        rels.push_back(rel);
    }
    // 42 at the start (13 s less the second of sound before 43 came), then 43, 44, 46, 47: 48 and
    // the new picture lie six seconds in and more.
    EXPECT_EQ(rels, (std::vector<std::uint32_t>{12000, 13000, 14000, 16000, 17000}));
    EXPECT_EQ(params_.progress.savedFrames, 5);
}

// A first saved picture that no other picture followed (pictures held back while the sound was
// short) has nothing to be timed from: the end of the save still saves it, as it is.
TEST_F(SaveStartTest, ALonelyFirstPictureIsSavedAtTheEnd) {
    params_.fetch.cacheTimeMs = 3000;
    params_.save.saveTime = 6;
    for (int k = 1; k <= 10; ++k)
        soundSlot(k, 8000, k * 1000, k);
    const std::string first = PictureSlotPath(params_.cache.folder, 7);
    writeBytes(first, frame(5000, 10000));
    setTimeMs(first, 500);
    const fs::path folder = root_ / "IMG00001";
    fs::create_directories(folder);
    CacheStore store(params_);
    int play = 0;
    store.saveSetup(8, 11, &play);
    ASSERT_EQ(store.saveState().saveSeqIndex, 7);
    int saved = 0;
    store.SavePendingPictures(8, folder.string(), saved);
    EXPECT_EQ(saved, 1);
    std::uint32_t rel = 0;
    ASSERT_EQ(ReadRelTime((folder / "000001.jp2").string(), rel), 1);
    EXPECT_EQ(rel, 10000u);
}

// Whether a picture fails the run is decided after its last attempt: one that failed before a
// retry that worked leaves the result alone; five that failed in a save fail it, saying why.
TEST_F(SaveStartTest, ARetriedPictureFailsTheSaveOnlyAfterItsLastAttempt) {
    params_.fetch.mode = RunMode::of(1, 0, 0);
    const fs::path folder = root_ / "IMG00001";
    fs::create_directories(folder);
    const std::string saveFolder = folder.string();
    for (const int failures : {1, 4, 5}) {
        SCOPED_TRACE(failures);
        params_.progress = DownloadProgress{};
        CacheStore store(params_);
        int attempts = 0;
        const auto picture = frame(100, 0);
        store.setTempName([this](int) { return (root_ / "img").string(); });
        store.setImageFetch(
            [&](const std::string& temp, HttpThreadParams& p, bool, std::int64_t* time, int*, int) {
                if (attempts++ < failures) {
                    p.progress.pictureFailure = "the recorder answers 500 for the picture";
                    return ImageFetch::Failed;
                }
                writeBytes(temp, picture);
                *time = kBase;
                return ImageFetch::Whole;
            });
        int seqNo = 0, slot = 1, saved = 0;
        const int got =
            store.AddImageData(seqNo, slot, saved, true, &saveFolder, false, nullptr, 0, 1);
        EXPECT_EQ(got, failures < 5 ? 1 : 0);
        EXPECT_EQ(params_.progress.result,
                  failures < 5 ? SaveResult::None : SaveResult::DownloadFailure);
        EXPECT_EQ(params_.progress.failure,
                  failures < 5 ? "" : "the recorder answers 500 for the picture");
    }
}

// One run, one sound format: a segment in another format is neither cached, played nor saved,
// and the run learns why.
TEST_F(SaveStartTest, ASegmentInAnotherFormatIsRefused) {
    CacheStore store(params_);
    store.saveState().setupDone = true;
    const std::string temp = (root_ / "seg.wav").string();
    writeBytes(temp, wavBytes(800));
    ASSERT_EQ(store.StoreWaveSegment(temp, 3), 1);
    EXPECT_EQ(ring_.DataSize(), 800u);

    // 16 kHz stereo 16-bit.
    WavClip other;
    other.format = {1, 0, 2, 0, 0x80, 0x3E, 0, 0, 0x00, 0xFA, 0, 0, 4, 0, 16, 0, 0, 0};
    other.fmtBytes = 16;
    std::vector<std::uint8_t> bytes = MakeWavHeader(other, 1600);
    bytes.resize(bytes.size() + 1600, 0);
    writeBytes(temp, bytes);
    EXPECT_EQ(store.StoreWaveSegment(temp, 4), 0);
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_FALSE(fs::exists(SoundSlotPath(params_.cache.folder, 4)));
    EXPECT_EQ(ring_.DataSize(), 800u);
    EXPECT_EQ(saveQueue_.held(), 1u);
    EXPECT_TRUE(params_.progress.formatChanged);
    EXPECT_EQ(params_.progress.failure,
              "the recorder's sound format changed from 8000 Hz 1 ch 8-bit to 16000 Hz 2 ch "
              "16-bit");
}

// The cache's files are bounded in all: a slot that would take them past the limit is refused,
// with the reason; one that replaces a slot of the same size fits.
TEST_F(SaveStartTest, TheCacheStaysWithinItsLimit) {
    CacheStore store(params_);
    store.setCacheLimit(3 * (44 + 8000));
    const std::string temp = (root_ / "seg.wav").string();
    for (int slot = 1; slot <= 3; ++slot) {
        writeBytes(temp, wavBytes(8000));
        ASSERT_EQ(store.StoreWaveSegment(temp, slot), 1) << slot;
    }
    writeBytes(temp, wavBytes(8000));
    EXPECT_EQ(store.StoreWaveSegment(temp, 4), 0);
    EXPECT_NE(params_.progress.failure.find("MB of cache"), std::string::npos);
    writeBytes(temp, wavBytes(8000));
    EXPECT_EQ(store.StoreWaveSegment(temp, 2), 1);  // in place of slot 2
}

// Five failed fetches end nothing while playing only; with a frame folder they end the run, and a
// full picture queue ends the play loop.
TEST_F(SaveStartTest, FailedFetchesAndAFullQueue) {
    params_.fetch.mode = RunMode::of(0, 0, 0);
    CacheStore store(params_);
    int attempts = 0;
    store.setTempName([this](int) { return (root_ / "img").string(); });
    store.setImageFetch([&](const std::string&, HttpThreadParams&, bool, std::int64_t*, int*, int) {
        ++attempts;
        return ImageFetch::Failed;
    });
    int seqNo = 0, slot = 1, saved = 0;
    const std::string folder = (root_ / "IMG00001").string();
    EXPECT_EQ(store.AddImageData(seqNo, slot, saved, false, nullptr, false, nullptr, 0, 1), 1);
    EXPECT_EQ(attempts, 5);
    EXPECT_EQ(store.AddImageData(seqNo, slot, saved, false, &folder, false, nullptr, 0, 1), 0);

    // A picture given up for the sound is skipped at once, even while saving.
    attempts = 0;
    store.setImageFetch([&](const std::string&, HttpThreadParams&, bool, std::int64_t*, int*, int) {
        ++attempts;
        return ImageFetch::GivenUp;
    });
    params_.progress.result = SaveResult::None;
    EXPECT_EQ(store.AddImageData(seqNo, slot, saved, false, &folder, false, nullptr, 0, 1), 1);
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(params_.progress.result, SaveResult::None);
    EXPECT_EQ(seqNo, 0);

    fetchFrame(store, frame(100, 0));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(store.AddImageData(seqNo, slot, saved, false, nullptr, false, nullptr, 0, 1), 1);
    EXPECT_EQ(store.AddImageData(seqNo, slot, saved, false, nullptr, false, nullptr, 0, 1), 0);
    EXPECT_EQ(slot, 22);
}

}  // namespace
}  // namespace picvox::test
