#include "platform/Event.h"

#include <algorithm>
#include <chrono>

namespace platform {

Event::Event(Reset reset, bool initiallySet) : reset_(reset), set_(initiallySet) {}

Event::~Event() = default;

void Event::set() {
    std::lock_guard<std::mutex> guard(lock_);
    set_ = true;
    // Waiters are registered for the whole of their wait, so none can miss this.
    for (Waiter* waiter : waiters_) {
        std::lock_guard<std::mutex> waiterGuard(waiter->lock);
        waiter->woken = true;
        waiter->wake.notify_all();
    }
}

void Event::reset() {
    std::lock_guard<std::mutex> guard(lock_);
    set_ = false;
}

bool Event::isSet() const {
    std::lock_guard<std::mutex> guard(lock_);
    return set_;
}

bool Event::wait(int timeoutMs) {
    return waitAny({this}, timeoutMs) == 0;
}

bool Event::tryConsume() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!set_)
        return false;
    if (reset_ == Reset::Auto)
        set_ = false;
    return true;
}

void Event::addWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> guard(lock_);
    waiters_.push_back(waiter);
}

void Event::removeWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> guard(lock_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

int Event::waitAny(std::initializer_list<Event*> events, int timeoutMs) {
    return waitAny(std::vector<Event*>(events), timeoutMs);
}

int Event::waitAny(const std::vector<Event*>& events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    Waiter waiter;
    for (Event* event : events)
        if (event)
            event->addWaiter(&waiter);
    int found = -1;
    for (;;) {
        for (std::size_t i = 0; i < events.size() && found < 0; ++i)
            if (events[i] && events[i]->tryConsume())
                found = static_cast<int>(i);
        if (found >= 0)
            break;
        std::unique_lock<std::mutex> guard(waiter.lock);
        if (timeoutMs < 0) {
            waiter.wake.wait(guard, [&] { return waiter.woken; });
        } else if (!waiter.wake.wait_until(guard, deadline, [&] { return waiter.woken; })) {
            break;
        }
        waiter.woken = false;
    }
    for (Event* event : events)
        if (event)
            event->removeWaiter(&waiter);
    return found;
}

}  // namespace platform
