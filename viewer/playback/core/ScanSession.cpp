#include "viewer/playback/core/ScanSession.h"

#include <exception>
#include <system_error>

namespace korvex {

void AutoResetEvent::set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
}

bool AutoResetEvent::wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

ScanSession::~ScanSession() {
    if (worker_.joinable() && !finished_.load())
        cancel();
    join();
}

void ScanSession::start(std::function<int()> scan, std::function<long long()> filesFound) {
    filesFound_ = std::move(filesFound);
    cancelFlag_.store(false);
    finished_.store(false);
    try {
        worker_ = std::thread([this, scan = std::move(scan)] { run(scan); });
    } catch (const std::system_error&) {
        // No thread to be had: the open fails (result 0) and whoever waits hears of the end.
        std::lock_guard<std::mutex> lock(receiverMutex_);
        result_ = 0;
        finished_.store(true);
    }
}

void ScanSession::run(const std::function<int()>& scan) {
    // The scan begins once the Searching dialog can receive its end; a dialog that never comes
    // up delays it by the wait only.
    openEvent_.wait(openWait_);
    int result = 0;
    if (!cancelFlag_.load()) {
        try {
            result = scan();
        } catch (const std::exception&) {
            result = 0;  // out of memory on a huge folder, say: the open fails, the viewer stays
        }
    }
    result_ = result;
    // Called under the lock, so that a dialog that detaches has no notice still in flight.
    std::lock_guard<std::mutex> lock(receiverMutex_);
    finished_.store(true);
    if (receiver_)
        receiver_();
}

void ScanSession::attachReceiver(std::function<void()> onFinished) {
    bool alreadyFinished = false;
    {
        std::lock_guard<std::mutex> lock(receiverMutex_);
        receiver_ = onFinished;
        alreadyFinished = finished_.load();
    }
    openEvent_.set();
    // When the worker gave up waiting and finished before the dialog existed, its notice went
    // nowhere; the dialog hears of the end now instead of waiting for ever.
    if (alreadyFinished && onFinished)
        onFinished();
}

void ScanSession::detachReceiver() {
    std::lock_guard<std::mutex> lock(receiverMutex_);
    receiver_ = nullptr;
}

int ScanSession::join() {
    if (worker_.joinable())
        worker_.join();
    return result_;
}

}  // namespace korvex
