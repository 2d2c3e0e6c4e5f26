#pragma once

#include <condition_variable>
#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace platform {

// A kernel-style event: manual reset (stays set until reset) or automatic reset (one successful
// wait consumes it). Waits take a time limit in milliseconds; a negative limit waits until set.
// `waitAny` waits for the first of several events in list order, the way the control's threads
// wait for "stop or work".
class Event {
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset reset = Reset::Manual, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event();

    void set();
    void reset();
    // The state without consuming it.
    bool isSet() const;
    // True when the event was (or became) set within `timeoutMs`.
    bool wait(int timeoutMs);
    // The position in `events` of the first set one (an automatic one is consumed), or -1 when
    // none was set within `timeoutMs`. Null entries are skipped.
    static int waitAny(std::initializer_list<Event*> events, int timeoutMs);
    static int waitAny(const std::vector<Event*>& events, int timeoutMs);

private:
    struct Waiter {
        std::mutex lock;
        std::condition_variable wake;
        bool woken = false;
    };

    bool tryConsume();
    void addWaiter(Waiter* waiter);
    void removeWaiter(Waiter* waiter);

    const Reset reset_;
    mutable std::mutex lock_;
    bool set_;
    std::vector<Waiter*> waiters_;
};

}  // namespace platform
