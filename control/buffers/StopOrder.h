#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace picvox {

// A manual-reset stop order: set once by a thread's owner, tested and waited on (always with a
// time limit) by the thread it stops.
class StopOrder {
public:
    void set() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            set_ = true;
        }
        changed_.notify_all();
    }
    void reset() {
        std::lock_guard<std::mutex> guard(lock_);
        set_ = false;
    }
    bool isSet() const {
        std::lock_guard<std::mutex> guard(lock_);
        return set_;
    }
    // Waits up to `ms` milliseconds; true as soon as the order is set.
    bool waitMs(int ms) const {
        std::unique_lock<std::mutex> guard(lock_);
        if (ms > 0)
            changed_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return set_; });
        return set_;
    }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    bool set_ = false;
};

}  // namespace picvox
