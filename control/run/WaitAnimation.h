#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "control/run/PagePort.h"
#include "control/run/Surface.h"
#include "platform/Worker.h"

namespace picvox::run {

// 0 none, 1 moving chevrons (caching), 2 pulsing loudspeaker (sound plays, no picture yet),
// 3 ended (nothing drawn). The numbers are the ones the run's threads pass.
enum AnimationState : int {
    kAnimationNone = 0,
    kAnimationCaching = 1,
    kAnimationWaitingForPicture = 2,
    kAnimationEnded = 3,
};

inline constexpr int kAnimationTickMs = 200;
inline constexpr int kChevronStepPx = 15;
// Ticks per loudspeaker frame: it changes every 600 ms.
inline constexpr int kSpeakerTicksPerFrame = 3;

// One animation thread's record: its pictures, counters and where it draws.
struct WaitAnimation {
    Bitmap strip;
    Bitmap speakerRest;
    Bitmap speakerPulse;
    int tick = 0;
    int tickDrawn = 0;
    int barX = 0;
    int barY = 0;
    int figX = 0;
    int figY = 0;
    int subCount = 0;
    bool pulseFrame = false;
    std::uint64_t window = 0;

    // Places the pictures in an area of w x h pixels.
    void place(int w, int h);
};

// The animation shared by the module: the active record, the active flag and the state. The
// page thread draws from it, the animation thread counts ticks into it and the run's threads set
// the state. One instance per module (moduleAnimation) by design; its lock guards the record and
// the flag and is never held while taking another lock.
class AnimationBoard {
public:
    AnimationBoard() = default;
    AnimationBoard(const AnimationBoard&) = delete;
    AnimationBoard& operator=(const AnimationBoard&) = delete;

    // Values outside 0-3 are ignored; setting the state it has changes nothing.
    void setState(int state);
    int state() const { return state_.load(); }
    bool active() const;

    // Draws the animation over the whole surface (black first). False, drawing nothing, when no
    // animation is active or the state is 0.
    bool draw(const Surface& surface);

    // The animation thread's side. publish makes `record` the active one and returns a token;
    // withdraw ends it only while it is still the one published under that token, so a second
    // control's animation is never cut short by the first one ending.
    std::uint64_t publish(std::unique_ptr<WaitAnimation> record);
    void withdraw(std::uint64_t token);
    void tick();
    // A copy of the active record's counters, for tests and diagnostics.
    std::optional<WaitAnimation> snapshot() const;

private:
    mutable std::mutex lock_;
    std::unique_ptr<WaitAnimation> record_;
    std::uint64_t token_ = 0;
    bool active_ = false;
    std::atomic<int> state_{kAnimationNone};
};

AnimationBoard& moduleAnimation();

// Sets the module's animation state (what the main process thread and the player call).
void SetAnimationState(int state);

// Where the animation's pictures come from; an empty bitmap counts as missing.
using AnimationBitmapLoader = std::function<Bitmap(int id)>;

// Starts the animation thread on `worker`; its owner ends it with worker.stop(). The thread
// waits for the control's window (the first paint), places its pictures in the area the page
// reports, then ticks every 200 ms and asks the page to repaint the area below `maskHeight`.
// False when the thread cannot be started.
bool StartAnimationThread(platform::Worker& worker, PagePort& page, int maskHeight,
                          AnimationBoard& board = moduleAnimation(),
                          AnimationBitmapLoader loader = {});

}  // namespace picvox::run
