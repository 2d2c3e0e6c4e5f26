#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "control/run/PageCounter.h"
#include "control/run/PageInput.h"
#include "control/run/SaveFolderChoice.h"
#include "control/run/WaitAnimation.h"
#include "platform/com/UserStore.h"

namespace picvox::run {
namespace {

// A page that records what the control asked of it.
class FakePage : public PagePort {
public:
    std::uint64_t window() const override { return window_.load(); }
    Rect clientRect() const override { return Rect{0, 0, 320, 240}; }
    void invalidateRect(const Rect& rect) override {
        std::lock_guard<std::mutex> guard(lock_);
        repaints.push_back(rect);
        changed_.notify_all();
    }
    void setTimer(std::uint32_t id, std::uint32_t ms) override { timers[id] = ms; }
    void killTimer(std::uint32_t id) override {
        timers.erase(id);
        killed.push_back(id);
    }
    bool replaceElementByInput(std::string_view name, std::string_view html) override {
        if (!hasElements)
            return false;
        elements.emplace_back(std::string(name), std::string(html));
        return true;
    }
    std::optional<std::string> chooseFolder(const std::string& start) override {
        startFolders.push_back(start);
        return answer;
    }

    // Waits (bounded) until at least n repaints were asked for.
    bool waitRepaints(std::size_t n) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10),
                                 [&] { return repaints.size() >= n; });
    }
    std::vector<Rect> repaintsSoFar() {
        std::lock_guard<std::mutex> guard(lock_);
        return repaints;
    }

    std::atomic<std::uint64_t> window_{0};
    std::map<std::uint32_t, std::uint32_t> timers;
    std::vector<std::uint32_t> killed;
    bool hasElements = true;
    std::vector<std::pair<std::string, std::string>> elements;
    std::optional<std::string> answer;
    std::vector<std::string> startFolders;

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Rect> repaints;
};

// ---- The animation thread ----

TEST(AnimationThread, EndsOnStopWhileWaitingForTheWindow) {
    FakePage page;  // never painted: window stays 0
    AnimationBoard board;
    platform::Worker worker;
    ASSERT_TRUE(StartAnimationThread(worker, page, 0, board));
    EXPECT_FALSE(worker.waitEnded(30));
    worker.orderStop();
    EXPECT_TRUE(worker.waitEnded(5000));
    worker.stop();
    EXPECT_FALSE(board.active());
    EXPECT_TRUE(page.repaintsSoFar().empty());
}

TEST(AnimationThread, TicksRepaintBelowTheMaskAndLeavesNothingBehind) {
    FakePage page;
    AnimationBoard board;
    board.setState(kAnimationCaching);
    platform::Worker worker;
    ASSERT_TRUE(StartAnimationThread(worker, page, 40, board));
    page.window_ = 77;  // the first paint
    ASSERT_TRUE(page.waitRepaints(2));
    EXPECT_TRUE(board.active());
    auto record = board.snapshot();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->window, 77u);
    EXPECT_GE(record->tick, 2);
    EXPECT_EQ(page.repaintsSoFar().front(), (Rect{0, 40, 320, 200}));

    worker.stop();
    EXPECT_FALSE(board.active());
    EXPECT_EQ(board.state(), kAnimationNone);
    EXPECT_FALSE(board.snapshot());
}

// ---- The page counter ----

TEST(PageCounter, ShowsTimePassedOrTimeLeft) {
    struct {
        std::int32_t value, saveTime, destinationSW;
        const char* text;
    } cases[] = {{0, 30, 0, "00:00:00"},      {30, 30, 0, "00:00:30"},  {45, 30, 0, "00:00:30"},
                 {0, 30, 1, "00:00:30"},      {30, 30, 1, "00:00:00"},  {45, 30, 1, "00:00:00"},
                 {3725, 7200, 0, "01:02:05"}, {0, 7200, 5, "02:00:00"}, {-3, 30, 0, "00:00:00"}};
    for (const auto& c : cases)
        EXPECT_EQ(FormatCounterText(c.value, c.saveTime, c.destinationSW), c.text)
            << c.value << " of " << c.saveTime << " sw " << c.destinationSW;
}

struct ArmCase {
    const char* name;
    CounterSettings settings;
    std::uint64_t window;
    std::uint32_t timer;  // 0: none
    std::uint32_t periodMs;
};

class CounterArming : public ::testing::TestWithParam<ArmCase> {};

TEST_P(CounterArming, SetsTheModesTimerOncePerControl) {
    const ArmCase& c = GetParam();
    FakePage page;
    page.window_ = c.window;
    PageCounter counter;
    ArmPageCounter(counter, c.settings, page);
    EXPECT_EQ(counter.saveTime.load(), c.settings.saveTime);
    EXPECT_EQ(counter.timerId.load(), static_cast<std::int32_t>(c.timer));
    if (c.timer == 0) {
        EXPECT_TRUE(page.timers.empty());
        return;
    }
    ASSERT_EQ(page.timers.size(), 1u);
    EXPECT_EQ(page.timers.at(c.timer), c.periodMs);

    // The run ends, a second save run starts in the same control: no timer this time.
    KillPageCounter(counter, page);
    EXPECT_TRUE(page.timers.empty());
    EXPECT_EQ(counter.timerId.load(), 0);
    ArmPageCounter(counter, c.settings, page);
    EXPECT_TRUE(page.timers.empty());
    EXPECT_EQ(counter.timerId.load(), 0);
}

constexpr CounterSettings settingsOf(std::int32_t hddSave, std::int32_t destinationSW,
                                     std::int32_t pictureInterval, std::int32_t saveTime) {
    return {RunMode::of(hddSave, pictureInterval, destinationSW), destinationSW, saveTime};
}

// A download (hdd_save 2) counts seconds with timer 100 whatever its picture interval: timer 101
// is fed by the sound writer, which a download does not have.
INSTANTIATE_TEST_SUITE_P(
    Counter, CounterArming,
    ::testing::Values(ArmCase{"PictureOnly", settingsOf(1, 0, 500, 30), 9, 100, 1000},
                      ArmCase{"WithSound", settingsOf(1, 0, 0, 30), 9, 101, 100},
                      ArmCase{"Download", settingsOf(2, 0, 0, 30), 9, 100, 1000},
                      ArmCase{"NoSaving", settingsOf(0, 0, 0, 30), 9, 0, 0},
                      ArmCase{"DestinationChosen", settingsOf(1, 1, 0, 30), 9, 0, 0},
                      ArmCase{"NoWindowYet", settingsOf(1, 0, 0, 30), 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

class CounterTimers : public ::testing::Test {
protected:
    std::string shown() const {
        if (page_.elements.empty())
            return {};
        const std::string& html = page_.elements.back().second;
        auto at = html.find("VALUE=\"");
        return html.substr(at + 7, 8);
    }
    FakePage page_;
    PageCounter counter_;
};

TEST_F(CounterTimers, SecondsTimerSignalsDoneOneTickAfterShowingTheFullTime) {
    counter_.saveTime = 30;
    counter_.counterValue = 30;
    counter_.timerId = kSaveSecondsTimerId;
    OnPageCounterTimer(counter_, kSaveSecondsTimerId, "save_timer_counter", 0, page_);
    EXPECT_EQ(shown(), "00:00:30");
    EXPECT_EQ(counter_.counterValue.load(), 31);
    EXPECT_FALSE(counter_.countDone.isSet());
    OnPageCounterTimer(counter_, kSaveSecondsTimerId, "save_timer_counter", 0, page_);
    EXPECT_EQ(shown(), "00:00:30");
    EXPECT_EQ(counter_.counterValue.load(), 31);
    EXPECT_TRUE(counter_.countDone.wait(0));
    EXPECT_EQ(page_.elements.back().first, "save_timer_counter");
}

TEST_F(CounterTimers, SoundTimerShowsOnlyChangesAndPictureTimerCountsTicks) {
    counter_.saveTime = 60;
    counter_.timerId = kSoundWriteTimerId;
    OnPageCounterTimer(counter_, kSoundWriteTimerId, "c", 0, page_);
    EXPECT_TRUE(page_.elements.empty());  // 0 was shown by nobody, but counterShown starts at 0
    counter_.counterValue = 4;
    OnPageCounterTimer(counter_, kSoundWriteTimerId, "c", 1, page_);
    OnPageCounterTimer(counter_, kSoundWriteTimerId, "c", 1, page_);
    ASSERT_EQ(page_.elements.size(), 1u);
    EXPECT_EQ(shown(), "00:00:56");  // destinationSW: time left

    counter_.timerId = kPictureSaveTimerId;
    OnPageCounterTimer(counter_, kPictureSaveTimerId, "c", 0, page_);
    EXPECT_EQ(shown(), "00:00:01");
    OnPageCounterTimer(counter_, kPictureSaveTimerId, "c", 0, page_);
    EXPECT_EQ(shown(), "00:00:02");
    EXPECT_EQ(counter_.tickCount, 3);
    OnPageCounterTimer(counter_, 7, "c", 0, page_);  // not ours
    EXPECT_EQ(page_.elements.size(), 3u);
    EXPECT_TRUE(page_.killed.empty());
}

// The writer's switch to timer 102 happens only while 101 is the counter's timer; one that lands
// after Stop killed the counter (the host queues the writer's calls) finds it gone and sets
// nothing, and a stray counter timer still ticking is killed at its first tick, showing nothing.
TEST_F(CounterTimers, ASwitchAfterStopLeavesNoCounterTicking) {
    counter_.timerId = kSoundWriteTimerId;
    EXPECT_TRUE(SwitchToSecondsTimer(counter_, page_));
    EXPECT_EQ(counter_.timerId.load(), static_cast<std::int32_t>(kSaveSecondsTimerId));
    KillPageCounter(counter_, page_);
    EXPECT_FALSE(SwitchToSecondsTimer(counter_, page_));
    EXPECT_EQ(counter_.timerId.load(), 0);

    page_.killed.clear();
    OnPageCounterTimer(counter_, kSaveSecondsTimerId, "c", 0, page_);
    EXPECT_EQ(page_.killed, (std::vector<std::uint32_t>{kSaveSecondsTimerId}));
    EXPECT_TRUE(page_.elements.empty());
    EXPECT_FALSE(counter_.countDone.isSet());
}

// ---- Page elements ----

TEST(PageInput, BuildsTheElementsAndNeverOverrunsTheBuffer) {
    FakePage page;
    EXPECT_TRUE(SetPageInput(page, "save_timer_counter", "00:01:02", InputTemplate::Counter));
    EXPECT_EQ(page.elements.back().second,
              "<INPUT TYPE=\"text\" NAME=\"save_timer_counter\" VALUE=\"00:01:02\" SIZE=\"8\" "
              "READONLY>");
    EXPECT_TRUE(SetPageInput(page, "save_folder", "/media/a \"b\" <c>", InputTemplate::Folder));
    EXPECT_EQ(page.elements.back().second,
              "<INPUT TYPE=\"text\" NAME=\"save_folder\" VALUE=\"/media/a &quot;b&quot; "
              "&lt;c&gt;\" SIZE=\"40\">");
    EXPECT_EQ(page.elements.back().first, "save_folder");

    // Longest value that fits: 259 bytes of text in the 260-byte buffer.
    const std::string head = "<INPUT TYPE=\"text\" NAME=\"n\" VALUE=\"";
    const std::size_t room =
        kElementTextBytes - 1 - head.size() - std::string("\" SIZE=\"40\">").size();
    auto fits = FormatInputElement(InputTemplate::Folder, "n", std::string(room, 'a'));
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->size(), kElementTextBytes - 1);
    EXPECT_FALSE(FormatInputElement(InputTemplate::Folder, "n", std::string(room + 1, 'a')));
    // Escaping counts: quotes that grow past the buffer are refused too.
    EXPECT_FALSE(FormatInputElement(InputTemplate::Folder, "n", std::string(room / 2, '"')));
    const std::size_t before = page.elements.size();
    EXPECT_FALSE(SetPageInput(page, "n", std::string(400, 'a'), InputTemplate::Folder));
    EXPECT_EQ(page.elements.size(), before);

    page.hasElements = false;
    EXPECT_FALSE(SetPageInput(page, "gone", "x", InputTemplate::Counter));
}

// ---- The folder choice ----

class FolderChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("picvox-folderchoice-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        store_ = (dir_ / "registry.ini").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::optional<std::string> remembered() const {
        platform::com::UserStore store;
        store.load(store_);
        return store.value(kDestFolderKey, kDestFolderValue);
    }
    std::filesystem::path dir_;
    std::string store_;
    FakePage page_;
};

TEST_F(FolderChoiceTest, RemembersTheChoiceAndShowsItWithoutTrailingSeparator) {
    page_.answer = "/media/disk/";
    EXPECT_EQ(ChooseSaveFolder(page_, "save_folder", store_), "/media/disk");
    EXPECT_EQ(page_.startFolders.back(), "");
    EXPECT_EQ(remembered(), "/media/disk/");
    ASSERT_EQ(page_.elements.size(), 1u);
    EXPECT_EQ(page_.elements[0].second,
              "<INPUT TYPE=\"text\" NAME=\"save_folder\" VALUE=\"/media/disk\" SIZE=\"40\">");

    // The next choice starts at the remembered folder; a cancel changes nothing.
    page_.answer.reset();
    EXPECT_FALSE(ChooseSaveFolder(page_, "save_folder", store_));
    EXPECT_EQ(page_.startFolders.back(), "/media/disk/");
    EXPECT_EQ(remembered(), "/media/disk/");
    EXPECT_EQ(page_.elements.size(), 1u);
}

}  // namespace
}  // namespace picvox::run
