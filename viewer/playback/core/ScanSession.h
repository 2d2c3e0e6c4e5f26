#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace korvex {

// An event that lets one waiter through per signal and then closes again.
class AutoResetEvent {
public:
    void set();
    // True when signalled within `timeout` (the signal is consumed), false on time-out.
    bool wait(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// One folder scan of an open: the worker thread, its start handshake with the Searching dialog,
// its completion notice and its cancel flag. The document owns the session and ends the worker
// (join) before it touches the scanned source again.
class ScanSession {
public:
    // How long the worker waits for the Searching dialog before it scans anyway.
    static constexpr std::chrono::milliseconds kOpenWait{5000};

    // `cancelFlag` is the document's; the session clears it when it starts a worker.
    explicit ScanSession(std::atomic<bool>& cancelFlag,
                         std::chrono::milliseconds openWait = kOpenWait)
        : cancelFlag_(cancelFlag), openWait_(openWait) {}
    ~ScanSession();  // joins a worker still running
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    // Starts the worker on `scan` (it returns the scan's result). `filesFound`, when given, reads
    // the scan's progress from any thread.
    void start(std::function<int()> scan, std::function<long long()> filesFound = {});

    // The Searching dialog, once its window exists: `onFinished` runs (on the worker thread, or
    // at once on the caller's when the scan has already ended) when the scan is over; it must
    // only post to the dialog. Signals the open event.
    void attachReceiver(std::function<void()> onFinished);
    // Detaches the receiver (the dialog is closing); a later completion goes nowhere.
    void detachReceiver();

    // Raised by the dialog's Cancel; the scan polls the flag, and a worker still waiting for the
    // dialog stops waiting (and scans nothing).
    void cancel() {
        cancelFlag_.store(true);
        openEvent_.set();
    }
    bool cancelled() const { return cancelFlag_.load(); }

    bool finished() const { return finished_.load(); }
    long long filesFound() const { return filesFound_ ? filesFound_() : 0; }

    // Waits for the worker to end, without a time limit (the scan polls the cancel flag); then
    // the scan's result (0 when none ran). The destructor raises the cancel flag and joins.
    int join();

private:
    void run(const std::function<int()>& scan);

    AutoResetEvent openEvent_;
    std::atomic<bool>& cancelFlag_;
    std::chrono::milliseconds openWait_;
    std::atomic<bool> finished_{false};
    std::function<long long()> filesFound_;
    std::mutex receiverMutex_;
    std::function<void()> receiver_;
    int result_ = 0;
    std::thread worker_;
};

}  // namespace korvex
