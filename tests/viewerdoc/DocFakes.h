#pragma once

// Fakes of the document's ports and services: a clock that tests move, a frame source with
// chosen offsets, a sound track whose position follows a script, and a panel, view and shell
// that record what the document asked of them.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "viewer/playback/CKorvexDoc.h"
#include "viewer/resources/ResourceIds.h"

namespace korvex::test {

class FakeClock : public PlaybackClock {
public:
    std::uint32_t now = 100000;
    std::uint32_t nowMs() override { return now; }
    // Each deadline check costs one millisecond.
    void yieldUntil(std::uint32_t) override { ++now; }
};

// Frames with chosen offsets; loading one may take time on the fake clock.
class FakeSource : public ImageSource {
public:
    FakeSource(FakeClock& clock, std::vector<std::uint32_t> offsets)
        : clock_(clock), offsets_(std::move(offsets)) {}

    static std::vector<std::uint32_t> evenOffsets(int n, std::uint32_t intervalMs) {
        std::vector<std::uint32_t> v;
        for (int i = 0; i < n; ++i)
            v.push_back(static_cast<std::uint32_t>(i) * intervalMs);
        return v;
    }

    std::map<int, std::uint32_t> loadCostMs;  // frame index -> decode time
    std::vector<int> loaded;                  // every index decoded, in order
    int current = 0;

    int openFolder(const std::string&, int) override { return 1; }
    DibBlock loadCurrent(std::size_t* outSize, int orderCheck) override {
        loaded.push_back(current);
        if (auto it = loadCostMs.find(current); it != loadCostMs.end())
            clock_.now += it->second;
        if (orderCheck && current > 0 && offsetAt(current) < offsetAt(current - 1))
            return {};
        if (current < 0 || current >= count())
            return {};
        DibBlock block = DibBlock::allocate(64);
        if (outSize)
            *outSize = 64;
        return block;
    }
    int forward(int n) override {
        current += n;
        return 1;
    }
    int back(int n) override {
        current -= n;
        return 1;
    }
    int first() override {
        current = 0;
        return 1;
    }
    int last() override {
        current = count() - 1;
        return 1;
    }
    int next() override { return forward(1); }
    int previous() override { return back(1); }
    int setCurrent(int i) override {
        current = i;
        return 1;
    }
    int findByOffset(std::uint32_t ms) override {
        for (int k = 0; k < count(); ++k) {
            if (offsets_[static_cast<std::size_t>(k)] > ms)
                return k;
        }
        return 0;
    }
    int currentIndex() const override { return current; }
    int count() const override { return static_cast<int>(offsets_.size()); }
    std::int32_t flagsAt(int) const override { return 0; }
    std::int32_t currentFlags() const override { return 0; }
    std::int64_t timeAt(int i) const override { return 1700000000 + i; }
    std::int64_t currentTime() const override { return timeAt(current); }
    std::uint32_t offsetAt(int i) override {
        return i >= 0 && i < count() ? offsets_[static_cast<std::size_t>(i)] : 0;
    }
    int currentChannel() const override { return 0; }
    bool hasChannel(int c) const override { return c == -1 || c == 0; }
    int selectChannels(int, int, int*) override { return 1; }
    int firstFrameOf(int) const override { return 0; }
    int infoIndexOf(int i) const override { return i == -1 ? current : i; }
    int nearestOfChannelBackward(int, int i) const override { return i; }
    int nearestOfChannelForward(int, int i) const override { return i; }
    int indexOfInfoIndex(int k) const override { return k; }
    std::string cameraTitle(int) const override { return {}; }
    int defaultChannel() const override { return 0; }
    std::string pathAt(int i) const override { return "frame" + std::to_string(i); }

private:
    FakeClock& clock_;
    std::vector<std::uint32_t> offsets_;
};

// A sound track whose position is `position(now)` while it plays.
class FakeSound : public SoundPlayer {
public:
    explicit FakeSound(FakeClock& clock) : clock_(clock) {}

    std::uint32_t lengthMs = 60000;
    // Position while playing, given the milliseconds since playFrom; default: real time.
    std::function<std::uint32_t(std::uint32_t sinceStartMs)> advance = [](std::uint32_t since) {
        return since;
    };
    std::vector<std::pair<std::uint32_t, int>> plays;  // (from ms, channel)
    int pauses = 0;
    int stops = 0;
    bool playing = false;
    bool present = true;  // the folder has a track

    int openSound(const std::string&) override { return present ? 1 : 0; }
    int playFrom(std::uint32_t ms, int channel) override {
        plays.emplace_back(ms, channel);
        from_ = ms;
        startedAt_ = clock_.now;
        playing = true;
        return 1;
    }
    int pauseSound() override {
        held_ = soundPosition();
        playing = false;
        ++pauses;
        return 1;
    }
    int stopSound() override {
        playing = false;
        held_ = 0;
        ++stops;
        return 1;
    }
    int seekSoundStart() override { return 1; }
    int seekSoundEnd() override { return 1; }
    std::uint32_t soundLength() override { return lengthMs; }
    std::uint32_t soundPosition() override {
        if (!playing)
            return held_;
        return std::min(lengthMs, from_ + advance(clock_.now - startedAt_));
    }

private:
    FakeClock& clock_;
    std::uint32_t from_ = 0;
    std::uint32_t startedAt_ = 0;
    std::uint32_t held_ = 0;
};

class FakeView : public ViewPort {
public:
    int redraws = 0;
    int resets = 0;
    bool multi = false;
    // Set by a test to the document's busy flag: a redraw while busy paints nothing.
    std::function<bool()> busy;
    bool redrawnWhileBusy = false;
    void redrawView() override {
        ++redraws;
        redrawnWhileBusy = busy && busy();
    }
    void resetView() override { ++resets; }
    bool isMultiPane() const override { return multi; }
    int paneCount() const override { return multi ? 4 : 1; }
};

// Records what the panel was told; posted messages wait in a queue that the test (standing in
// for the event loop) delivers.
class FakePanel : public PanelPort {
public:
    explicit FakePanel(CKorvexDoc& doc, FakeClock& clock) : doc_(doc), clock_(clock) {}

    int speed = 3;
    bool wantSound = true;
    int twoChannel = 1;
    std::map<int, bool> enabled;
    std::deque<int> posted;
    int blanks = 0;
    int positionRange = -1;
    int sliderPosition = -1;
    // (clock, current index) at every refresh; runs `onRefresh` afterwards.
    std::vector<std::pair<std::uint32_t, int>> refreshes;
    std::function<void()> onRefresh;

    void refreshDisplays() override {
        const int index = doc_.source() ? doc_.source()->currentIndex() : -1;
        refreshes.emplace_back(clock_.now, index);
        if (onRefresh)
            onRefresh();
    }
    void blankDisplays() override { ++blanks; }
    void setPositionRange(int count) override { positionRange = count; }
    void setPosition(int index) override { sliderPosition = index + 1; }
    int speedPosition() const override { return speed; }
    bool soundWanted(int) const override { return wantSound; }
    int soundTwoChannel(int) const override { return twoChannel; }
    void setControlEnabled(int id, bool on) override { enabled[id] = on; }
    void postToPanel(int message) override { posted.push_back(message); }

    bool isEnabled(int id) const {
        auto it = enabled.find(id);
        return it == enabled.end() || it->second;
    }
    // Delivers posted messages as the panel would, until none is left (bounded).
    void deliverPosted() {
        for (int guard = 0; guard < 100 && !posted.empty(); ++guard) {
            const int m = posted.front();
            posted.pop_front();
            if (m == UM_RESTART_PLAY || m == ctl::play)
                doc_.OnPlayPressed();
            else if (m == UM_RESTART_REVERSE || m == ctl::reverse)
                doc_.OnReversePressed();
        }
    }
    std::vector<int> shownIndices() const {
        std::vector<int> v;
        for (const auto& r : refreshes)
            v.push_back(r.second);
        return v;
    }

private:
    CKorvexDoc& doc_;
    FakeClock& clock_;
};

// The message pump runs scripted actions when the clock reaches their time.
class FakeShell : public ShellPort {
public:
    explicit FakeShell(FakeClock& clock) : clock_(clock) {}

    int pumps = 0;
    bool ending = false;
    int closeDisabled = 0;
    int enableCloseCalls = 0;
    std::multimap<std::uint32_t, std::function<void()>> at;  // clock time -> action
    std::function<void(ScanSession&)> searching = [](ScanSession& scan) {
        // Let the scan start and wait for its end, like the dialog (bounded).
        scan.attachReceiver({});
        for (int i = 0; i < 20000 && !scan.finished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::string openDialogFolder;
    std::vector<RecordingKind> kinds;
    std::vector<std::pair<std::string, OpenOutcome>> opens;  // every open's end, in order
    std::function<void()> onOpenFinished;                    // called at each open's end

    bool pumpMessages() override {
        ++pumps;
        while (!at.empty() && at.begin()->first <= clock_.now) {
            auto action = at.begin()->second;
            at.erase(at.begin());
            action();
        }
        return !ending;
    }
    void disableClose() override { closeDisabled = 1; }
    void enableClose() override {
        closeDisabled = 0;
        ++enableCloseCalls;
    }
    bool runOpenDialog(const std::string&, std::string& folder) override {
        folder = openDialogFolder;
        return !folder.empty();
    }
    void runSearchingDialog(ScanSession& scan) override { searching(scan); }
    void recordingKindChanged(const RecordingKind& kind) override { kinds.push_back(kind); }
    void openFinished(const std::string& folder, OpenOutcome outcome) override {
        opens.emplace_back(folder, outcome);
        if (onOpenFinished)
            onOpenFinished();
    }

private:
    FakeClock& clock_;
};

// A document wired to fakes of the whole window and a fake clock.
struct FakeWindow {
    FakeClock clock;
    FakeView view;
    FakeShell shell{clock};
    std::unique_ptr<CKorvexDoc> doc;
    std::unique_ptr<FakePanel> panel;

    // A new document on `services` (their clock is set to ours), wired to the fakes.
    void makeDocument(DocumentServices services) {
        services.clock = &clock;
        doc = std::make_unique<CKorvexDoc>(std::move(services));
        panel = std::make_unique<FakePanel>(*doc, clock);
        doc->setViewPort(&view);
        doc->setPanelPort(panel.get());
        doc->setShellPort(&shell);
    }
};

}  // namespace korvex::test
