#include "control/run/WaitAnimation.h"

#include <thread>
#include <utility>

#include "control/run/AnimationBitmaps.h"

namespace picvox::run {

void WaitAnimation::place(int w, int h) {
    barX = (w - (kStripWidth - 1)) / 2;
    barY = (h - (kStripHeight - 1)) / 2;
    figX = (w - (kSpeakerWidth - 1)) / 2;
    figY = 74;
}

void AnimationBoard::setState(int state) {
    if (state < kAnimationNone || state > kAnimationEnded)
        return;
    state_.store(state);
}

bool AnimationBoard::active() const {
    std::lock_guard<std::mutex> guard(lock_);
    return active_;
}

bool AnimationBoard::draw(const Surface& surface) {
    std::lock_guard<std::mutex> guard(lock_);
    const int state = state_.load();
    if (!active_ || !record_ || state == kAnimationNone || !surface.valid())
        return false;
    WaitAnimation& a = *record_;
    fillRect(surface, Rect{0, 0, surface.width, surface.height}, kBlack);
    if (state == kAnimationCaching) {
        if (a.tick != a.tickDrawn) {
            a.strip.rotateRight(kChevronStepPx);
            a.tickDrawn = a.tick;
        }
        drawBitmap(surface, a.strip, a.barX, a.barY);
    } else if (state == kAnimationWaitingForPicture) {
        if (a.tick != a.tickDrawn) {
            if (++a.subCount >= kSpeakerTicksPerFrame) {
                a.subCount = 0;
                a.pulseFrame = !a.pulseFrame;
            }
            a.tickDrawn = a.tick;
        }
        drawBitmap(surface, a.pulseFrame ? a.speakerPulse : a.speakerRest, a.figX, a.figY);
    }
    return true;
}

std::uint64_t AnimationBoard::publish(std::unique_ptr<WaitAnimation> record) {
    std::lock_guard<std::mutex> guard(lock_);
    record_ = std::move(record);
    active_ = record_ != nullptr;
    return ++token_;
}

void AnimationBoard::withdraw(std::uint64_t token) {
    std::unique_ptr<WaitAnimation> gone;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (token != token_)
            return;
        active_ = false;
        gone = std::move(record_);
    }
}

void AnimationBoard::tick() {
    std::lock_guard<std::mutex> guard(lock_);
    if (record_)
        ++record_->tick;
}

std::optional<WaitAnimation> AnimationBoard::snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    if (!record_)
        return std::nullopt;
    return *record_;
}

AnimationBoard& moduleAnimation() {
    // Module-wide by design: the player and the main process thread set the state without
    // knowing which control they serve. Built on first use, never destroyed before the threads
    // that use it have ended (they belong to control objects, which end them).
    static AnimationBoard board;
    return board;
}

void SetAnimationState(int state) {
    moduleAnimation().setState(state);
}

bool StartAnimationThread(platform::Worker& worker, PagePort& page, int maskHeight,
                          AnimationBoard& board, AnimationBitmapLoader loader) {
    if (!loader)
        loader = makeAnimationBitmap;
    return worker.start(
        [&page, &board, maskHeight, loader = std::move(loader)](platform::Event& stop) {
            if (stop.wait(5))
                return;
            // The first paint names the window; until then there is nowhere to draw.
            while (page.window() == 0) {
                std::this_thread::yield();
                if (stop.wait(5))
                    return;
            }
            auto record = std::make_unique<WaitAnimation>();
            record->strip = loader(kBitmapChevronStrip);
            record->speakerRest = loader(kBitmapSpeakerRest);
            record->speakerPulse = loader(kBitmapSpeakerPulse);
            // Without the strip there is no animation; the page stays black until a picture comes.
            if (record->strip.empty())
                return;
            const Rect client = page.clientRect();
            record->place(client.width, client.height);
            record->window = page.window();
            const Rect repaint{client.x, client.y + maskHeight, client.width,
                               client.height - maskHeight};

            const std::uint64_t token = board.publish(std::move(record));
            while (!stop.wait(kAnimationTickMs)) {
                if (board.state() != kAnimationNone) {
                    board.tick();
                    page.invalidateRect(repaint);
                }
            }
            board.setState(kAnimationNone);
            // The record leaves under the board's lock, so no paint can still be using it; no
            // pause is needed before it goes.
            board.withdraw(token);
            page.invalidateRect(repaint);
        });
}

}  // namespace picvox::run
