#pragma once

#include <functional>
#include <thread>

#include "platform/Event.h"

namespace platform {

// The one shape every worker thread of the control has: its owner starts it, orders the end by
// setting the stop event, and waits for the end notice the thread sets as its last act. The body
// receives the stop event and must return soon after it is set (every wait of the body includes
// it). The destructor orders the end and joins, so no thread outlives its owner.
class Worker {
public:
    using Body = std::function<void(Event& stop)>;

    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { stop(); }

    // False when a thread of this worker is still running or cannot be started.
    bool start(Body body);
    // Sets the stop event without waiting.
    void orderStop() { stop_.set(); }
    // Waits up to `timeoutMs` (negative: no limit) for the end notice.
    bool waitEnded(int timeoutMs) { return ended_.wait(timeoutMs); }
    // Orders the end, waits for the end notice and joins. Safe to call more than once.
    void stop();

    bool running() const { return thread_.joinable() && !ended_.isSet(); }
    Event& stopEvent() { return stop_; }
    Event& endNotice() { return ended_; }

private:
    Event stop_{Event::Reset::Manual};
    Event ended_{Event::Reset::Manual};
    std::thread thread_;
};

}  // namespace platform
