#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace korvex::test {

// Polls `done` until it holds or `timeout` passes: a guard against a hang, never a measurement.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace korvex::test
