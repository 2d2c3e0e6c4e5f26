// The document's navigation and playback loops against fake ports, a fake clock, a fake frame
// source and a scripted sound track.

#include <gtest/gtest.h>

#include <memory>

#include "DocFakes.h"
#include "viewer/playback/core/SpeedTable.h"

namespace korvex::test {
namespace {

class DocLoop : public ::testing::Test, protected FakeWindow {
protected:
    // Opens a fake recording of frames at `offsets` (sound track when `withSound`).
    void open(std::vector<std::uint32_t> offsets, bool withSound = false) {
        offsets_ = std::move(offsets);
        withSound_ = withSound;
        DocumentServices services;
        services.probe = [](const std::string&, RecordingKind& kind) {
            kind = {};
            kind.kindJpeg = true;
            return 1;
        };
        services.makeSource = [this](const RecordingKind&, const std::atomic<bool>*) {
            auto s = std::make_unique<FakeSource>(clock, offsets_);
            source = s.get();
            ++sourcesMade;
            return s;
        };
        services.makeSound = [this] {
            auto s = std::make_unique<FakeSound>(clock);
            s->present = withSound_;
            sound = s.get();
            return s;
        };
        makeDocument(std::move(services));
        ASSERT_TRUE(doc->OpenRecordingFolder("fake"));
        panel->refreshes.clear();
        start = clock.now;
    }

    // Refresh times relative to the start of play.
    std::vector<std::uint32_t> refreshTimes() const {
        std::vector<std::uint32_t> v;
        for (const auto& r : panel->refreshes)
            v.push_back(r.first - start);
        return v;
    }

    FakeSource* source = nullptr;
    FakeSound* sound = nullptr;
    int sourcesMade = 0;
    std::uint32_t start = 0;

private:
    std::vector<std::uint32_t> offsets_;
    bool withSound_ = false;
};

std::vector<int> range(int from, int to) {
    std::vector<int> v;
    for (int i = from; from <= to ? i <= to : i >= to; i += from <= to ? 1 : -1)
        v.push_back(i);
    return v;
}

// ---- Navigation ----

TEST_F(DocLoop, NavigationStopsAtBothEnds) {
    open(FakeSource::evenOffsets(3, 100));
    EXPECT_EQ(doc->Previous(true), 0);
    EXPECT_EQ(doc->Next(true), 1);
    EXPECT_EQ(doc->Next(true), 1);
    EXPECT_EQ(doc->Next(true), 0);
    EXPECT_EQ(source->current, 2);
    EXPECT_EQ(doc->First(false), 1);
    EXPECT_EQ(source->current, 0);
    EXPECT_EQ(doc->Last(false), 1);
    EXPECT_EQ(source->current, 2);
    EXPECT_TRUE(doc->currentPicture());
    // Only the redrawing calls refreshed the panel.
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{1, 2}));
}

TEST_F(DocLoop, CopyOfThePictureIsIndependent) {
    open(FakeSource::evenOffsets(2, 100));
    DibBlock copy = doc->CopyCurrentPicture();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.size(), doc->currentPictureSize());
    EXPECT_NE(copy.data(), doc->currentPicture().data());
    doc->SetPosition(5);  // past the end: no picture, nothing to copy
    EXPECT_FALSE(doc->currentPicture());
    EXPECT_FALSE(doc->CopyCurrentPicture());
}

// ---- Timer mode ----

struct TimerCase {
    int frames;
    int startIndex;
    int speed;
    std::vector<int> shown;
};

class DocTimerPlay : public DocLoop, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(DocTimerPlay, ShowsEveryStepUntilTheNextWouldPassTheEnd) {
    const TimerCase& c = GetParam();
    open(FakeSource::evenOffsets(c.frames, 100));
    doc->SetPosition(c.startIndex);
    panel->speed = c.speed;
    doc->OnPlayPressed();
    EXPECT_EQ(panel->shownIndices(), c.shown);
    EXPECT_EQ(source->current, c.shown.empty() ? c.startIndex : c.shown.back());
    // Paced by the slider: one frame per interval, measured from the frame before.
    const std::vector<std::uint32_t> times = refreshTimes();
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(times[i], (i + 1) * SpeedInterval(c.speed)) << "frame " << i;
    // Skipped frames are never decoded.
    for (int skipped = c.startIndex + 1; skipped < c.frames; ++skipped) {
        const bool shown = std::find(c.shown.begin(), c.shown.end(), skipped) != c.shown.end();
        const bool decoded = std::find(source->loaded.begin(), source->loaded.end(), skipped) !=
                             source->loaded.end();
        if (!shown && skipped != c.frames - 1) {  // the last frame was decoded at open
            EXPECT_FALSE(decoded) << skipped;
        }
    }
    EXPECT_FALSE(doc->playing());
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, DocTimerPlay,
    ::testing::Values(TimerCase{10, 0, 6, {7}},           // skip 1 from frame 1 stops at frame 8
                      TimerCase{10, 0, 5, range(1, 9)},   // every frame to the last
                      TimerCase{10, 5, 6, {}},            // the first step passes the end
                      TimerCase{10, 8, 3, {9}},           // one frame left
                      TimerCase{400, 0, 10, {197, 394}},  // skip 5
                      TimerCase{60, 2, 7, {19, 36, 53}}));

TEST_F(DocLoop, PanelAndCloseComeBackAfterForwardPlay) {
    open(FakeSource::evenOffsets(4, 100));
    panel->speed = 5;
    shell.at.emplace(start + 10, [this] {
        EXPECT_TRUE(doc->playingForward());
        EXPECT_EQ(shell.closeDisabled, 1);
        EXPECT_TRUE(panel->isEnabled(ctl::stop));
        EXPECT_FALSE(panel->isEnabled(ctl::play));
        EXPECT_FALSE(panel->isEnabled(ctl::next));
        EXPECT_FALSE(panel->isEnabled(ctl::volume));  // timer mode
        EXPECT_TRUE(panel->isEnabled(ctl::speed));
    });
    doc->OnPlayPressed();
    EXPECT_TRUE(shell.at.empty());
    EXPECT_EQ(shell.closeDisabled, 0);
    for (int id : {ctl::play, ctl::speed, ctl::previous, ctl::next, ctl::reverse})
        EXPECT_TRUE(panel->isEnabled(id)) << id;
    EXPECT_FALSE(panel->isEnabled(ctl::stop));
    EXPECT_EQ(doc->stopRequest(), 1);
}

TEST_F(DocLoop, StopEndsTheLoopWhereItIs) {
    open(FakeSource::evenOffsets(10, 100));
    panel->speed = 4;  // 100 ms
    shell.at.emplace(start + 250, [this] { doc->StopAction(); });
    doc->OnPlayPressed();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{1, 2}));
    EXPECT_FALSE(doc->playing());
    EXPECT_TRUE(panel->isEnabled(ctl::play));
}

// A press that arrives inside a loop's message pump (a resume posted by an earlier channel
// change, say) must not start a second loop on top of the first: it is posted again and runs
// once the first has returned.
TEST_F(DocLoop, APressInsideItsOwnLoopWaitsForTheLoopToEnd) {
    open(FakeSource::evenOffsets(10, 100));
    panel->speed = 4;  // 100 ms
    int depth = 0;
    shell.at.emplace(start + 150, [&] {
        ++depth;
        doc->OnPlayPressed();
        --depth;
        EXPECT_EQ(panel->posted, (std::deque<int>{ctl::play}));
        doc->StopAction();
    });
    doc->OnPlayPressed();
    EXPECT_EQ(depth, 0);
    EXPECT_FALSE(doc->playing());
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{1}));
    // Delivered now, the press plays from where the first loop stopped.
    panel->deliverPosted();
    EXPECT_EQ(panel->shownIndices().back(), 9);
    EXPECT_FALSE(doc->playing());
    EXPECT_EQ(shell.closeDisabled, 0);
}

TEST_F(DocLoop, PlayWithoutARecordingLeavesThePanelUsable) {
    DocumentServices services;
    services.clock = &clock;
    CKorvexDoc empty(services);
    FakePanel emptyPanel(empty, clock);
    empty.setPanelPort(&emptyPanel);
    empty.OnPlayPressed();
    empty.OnReversePressed();
    for (int id : {ctl::play, ctl::reverse, ctl::next, ctl::previous})
        EXPECT_TRUE(emptyPanel.isEnabled(id)) << id;
    EXPECT_FALSE(empty.playing());
}

TEST_F(DocLoop, EndOfTheProgramEndsTheLoop) {
    open(FakeSource::evenOffsets(100, 100));
    panel->speed = 4;
    shell.at.emplace(start + 250, [this] { shell.ending = true; });
    doc->OnPlayPressed();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{1, 2}));
    doc->OnPlayPressed();  // refused from now on
    doc->OnReversePressed();
    EXPECT_EQ(panel->shownIndices().size(), 2u);
}

TEST_F(DocLoop, AnOpenFromInsideTheLoopEndsIt) {
    open(FakeSource::evenOffsets(50, 100));
    panel->speed = 4;
    shell.at.emplace(start + 250, [this] { doc->OpenRecordingFolder("other"); });
    doc->OnPlayPressed();
    EXPECT_EQ(sourcesMade, 2);
    EXPECT_EQ(source->current, 0);
    EXPECT_FALSE(doc->playing());
    EXPECT_EQ(shell.closeDisabled, 0);
}

// ---- Reverse ----

struct ReverseCase {
    int startIndex;
    int speed;
    std::vector<int> shown;
};

class DocReversePlay : public DocLoop, public ::testing::WithParamInterface<ReverseCase> {};

TEST_P(DocReversePlay, StepsBackUntilTheNextStepWouldPassTheStart) {
    const ReverseCase& c = GetParam();
    open(FakeSource::evenOffsets(10, 100));
    doc->SetPosition(c.startIndex);
    panel->speed = c.speed;
    doc->OnReversePressed();
    EXPECT_EQ(panel->shownIndices(), c.shown);
    EXPECT_EQ(source->current, c.shown.empty() ? c.startIndex : c.shown.back());
    // The first step is taken at once, then one per interval.
    const std::vector<std::uint32_t> times = refreshTimes();
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(times[i], i * SpeedInterval(c.speed)) << "frame " << i;
    for (int id : {ctl::play, ctl::next, ctl::previous, ctl::reverse})
        EXPECT_TRUE(panel->isEnabled(id)) << id;
    EXPECT_EQ(shell.closeDisabled, 0);
}

INSTANTIATE_TEST_SUITE_P(Speeds, DocReversePlay,
                         ::testing::Values(ReverseCase{2, 6, {}},      // 3 - 7 < 0: ends at once
                                           ReverseCase{2, 5, {1, 0}},  // frame 3 to frame 1
                                           ReverseCase{9, 6, {2}}, ReverseCase{9, 3, range(8, 0)}));

TEST_F(DocLoop, StopDuringAReverseWaitEndsItWithoutWaitingOut) {
    open(FakeSource::evenOffsets(10, 100));
    doc->SetPosition(8);
    panel->speed = 1;  // a second between frames
    shell.at.emplace(start + 300, [this] { doc->StopAction(); });
    doc->OnReversePressed();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{7}));
    EXPECT_LT(clock.now - start, 1000u);  // ended inside the wait, not after it
    EXPECT_FALSE(doc->playing());
    EXPECT_TRUE(panel->isEnabled(ctl::reverse));
}

TEST_F(DocLoop, ReverseNeverUsesTheSound) {
    open(FakeSource::evenOffsets(5, 100), true);
    doc->SetPosition(4);
    panel->speed = 5;
    doc->OnReversePressed();
    EXPECT_TRUE(sound->plays.empty());
    EXPECT_EQ(source->current, 0);
}

TEST_F(DocLoop, PlayDuringReverseTurnsAroundAtTheSameFrame) {
    open(FakeSource::evenOffsets(10, 100));
    doc->SetPosition(9);
    panel->speed = 4;
    shell.at.emplace(start + 150, [this] { doc->OnPlayPressed(); });
    doc->OnReversePressed();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{8, 7}));
    ASSERT_EQ(panel->posted, (std::deque<int>{UM_RESTART_PLAY}));
    panel->deliverPosted();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{8, 7, 8, 9}));
    EXPECT_FALSE(doc->playing());
}

TEST_F(DocLoop, ReverseDuringPlayTurnsAround) {
    open(FakeSource::evenOffsets(10, 100));
    doc->SetPosition(3);
    panel->speed = 4;
    shell.at.emplace(start + 150, [this] { doc->OnReversePressed(); });
    doc->OnPlayPressed();
    ASSERT_EQ(panel->posted, (std::deque<int>{UM_RESTART_REVERSE}));
    panel->deliverPosted();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{4, 3, 2, 1, 0}));
}

// ---- Dragging the position slider during play ----

TEST_F(DocLoop, DraggingThePositionSliderResumesPlayFromTheNewFrame) {
    open(FakeSource::evenOffsets(20, 100));
    panel->speed = 4;
    shell.at.emplace(start + 250, [this] { doc->OnPositionPressed(); });
    shell.at.emplace(start + 251, [this] {
        // The loop below has ended: the slider moves the frame while the button is down.
        EXPECT_FALSE(doc->playingForward());
        doc->OnPositionScrolled(15);
        doc->OnPositionScrolled(16);
        doc->OnPositionReleased();
    });
    doc->OnPlayPressed();
    // Stopped by the press; the release posted Play. Close stayed disabled meanwhile.
    EXPECT_EQ(shell.enableCloseCalls, 0);
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{1, 2}));
    // The drag goes on in the program's own event loop; here the test pumps it.
    clock.now += 1;
    shell.pumpMessages();
    ASSERT_EQ(panel->posted, (std::deque<int>{ctl::play}));
    panel->deliverPosted();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{1, 2, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(shell.enableCloseCalls, 1);
}

// ---- Sound mode ----

TEST_F(DocLoop, SoundModeShowsEachFrameAtItsOffsetOnTheSoundClock) {
    open({0, 100, 250, 300, 420, 500}, true);
    doc->OnPlayPressed();
    ASSERT_EQ(sound->plays.size(), 1u);
    EXPECT_EQ(sound->plays[0], (std::pair<std::uint32_t, int>{0, 1}));
    EXPECT_EQ(panel->shownIndices(), range(1, 5));
    EXPECT_EQ(refreshTimes(), (std::vector<std::uint32_t>{100, 250, 300, 420, 500}));
    // Run to the end: the sound is rewound, not paused.
    EXPECT_EQ(sound->stops, 1);
    EXPECT_EQ(sound->pauses, 0);
}

TEST_F(DocLoop, SoundModeStartsTheTrackAtTheCurrentFrame) {
    open(FakeSource::evenOffsets(10, 100), true);
    doc->SetPosition(4);
    panel->twoChannel = 3;
    doc->OnPlayPressed();
    ASSERT_EQ(sound->plays.size(), 1u);
    EXPECT_EQ(sound->plays[0], (std::pair<std::uint32_t, int>{400, 3}));
    EXPECT_EQ(refreshTimes(), (std::vector<std::uint32_t>{100, 200, 300, 400, 500}));
}

TEST_F(DocLoop, SoundPastItsEndIsNotStarted) {
    open(FakeSource::evenOffsets(10, 100), true);
    sound->lengthMs = 300;
    doc->SetPosition(4);
    doc->OnPlayPressed();
    EXPECT_TRUE(sound->plays.empty());
}

TEST_F(DocLoop, ALaggingSoundHoldsThePictureClockBack) {
    open(FakeSource::evenOffsets(10, 100), true);
    // The track stalls at 250 ms for 400 ms, then goes on.
    sound->advance = [](std::uint32_t since) -> std::uint32_t {
        return since < 250 ? since : since < 650 ? 250 : since - 400;
    };
    doc->OnPlayPressed();
    // Frames keep their own offsets while the position stands still; each time it moves and
    // is behind, the following deadlines move by the lag.
    EXPECT_EQ(refreshTimes(),
              (std::vector<std::uint32_t>{100, 200, 300, 450, 550, 650, 750, 1200, 1300}));
}

TEST_F(DocLoop, FramesWhoseTimeHasPassedAreSkipped) {
    open(FakeSource::evenOffsets(10, 100), true);
    source->loadCostMs[2] = 350;  // a slow decode
    doc->OnPlayPressed();
    EXPECT_EQ(panel->shownIndices(), (std::vector<int>{1, 2, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(std::count(source->loaded.begin(), source->loaded.end(), 3), 0);
}

TEST_F(DocLoop, StopInSoundModePausesTheTrack) {
    open(FakeSource::evenOffsets(10, 100), true);
    shell.at.emplace(start + 350, [this] { doc->StopAction(); });
    doc->OnPlayPressed();
    EXPECT_EQ(sound->pauses, 1);
    EXPECT_EQ(sound->stops, 0);
    EXPECT_EQ(sound->soundPosition(), 350u);
}

TEST_F(DocLoop, SoundModeNeedsOnePaneAndTheUsersWish) {
    for (int variant = 0; variant < 2; ++variant) {
        open(FakeSource::evenOffsets(4, 100), true);
        view.multi = variant == 0;
        panel->wantSound = variant != 0 ? false : true;
        panel->speed = 5;
        doc->OnPlayPressed();
        EXPECT_TRUE(sound->plays.empty()) << variant;
        EXPECT_EQ(refreshTimes(), (std::vector<std::uint32_t>{20, 40, 60})) << variant;
        view.multi = false;
    }
}

TEST_F(DocLoop, SoundModeDisablesTheSpeedSlider) {
    open(FakeSource::evenOffsets(4, 100), true);
    shell.at.emplace(start + 50, [this] {
        EXPECT_FALSE(panel->isEnabled(ctl::speed));
        EXPECT_TRUE(panel->isEnabled(ctl::volume));
    });
    doc->OnPlayPressed();
    EXPECT_TRUE(shell.at.empty());
    EXPECT_TRUE(panel->isEnabled(ctl::speed));
}

}  // namespace
}  // namespace korvex::test
