#pragma once

// The run engine end to end against the simulated recorder on loopback: a fake control (texts,
// SaveComplete, messages, the picture queue), a scratch folder, and a rig that starts the
// recorder and the engine in each mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "control/buffers/PicvoxLog.h"
#include "control/buffers/WavFile.h"
#include "control/download/DiskOps.h"
#include "control/download/J2kFrameCheck.h"
#include "control/run/RunEngine.h"
#include "control/run/WaitAnimation.h"
#include "tests/support/TempDir.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/verify/RecordingVerifier.h"

namespace runrig {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using picvox::RunText;
using Clock = std::chrono::steady_clock;

// Time bounds hold only where the build runs at full speed; sanitizer builds check that Stop
// ends at all.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCheckTimeBounds = false;
#else
constexpr bool kCheckTimeBounds = true;
#endif

// Polls `done` until it holds or `timeout` passes (a hang guard, not a timing assertion).
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A scratch folder of one case, removed at its end.
using korvex::test::TempDir;

// The control as the run sees it: texts, SaveComplete, the messages shown, the picture queue.
class FakeControl final : public picvox::RunControl,
                          public picvox::run::PagePort,
                          public picvox::RepaintTarget {
public:
    std::string text(RunText which) const override {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = texts_.find(which);
        return it == texts_.end() ? std::string() : it->second;
    }
    void setText(RunText which, const std::string& value) override {
        std::lock_guard<std::mutex> guard(lock_);
        texts_[which] = value;
    }
    void setSaveComplete(std::int32_t value) override { saveComplete = value; }
    picvox::run::PagePort& page() override { return *this; }
    picvox::run::PageCounter& pageCounter() override { return counter_; }
    std::mutex& controlLock() override { return controlLock_; }
    picvox::RepaintTarget* repaintTarget() override { return this; }
    void setFrameQueue(std::shared_ptr<picvox::FrameQueue> queue) override {
        std::lock_guard<std::mutex> guard(lock_);
        queue_ = std::move(queue);
    }
    bool startAnimation(platform::Worker& worker, int maskHeight) override {
        return picvox::run::StartAnimationThread(worker, *this, maskHeight);
    }
    void invalidateWindow() override { ++repaints; }
    void messageBox(std::string_view, std::string_view text, picvox::run::MessageIcon) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.emplace_back(text);
    }
    void statusText(std::string_view text) override {
        std::lock_guard<std::mutex> guard(lock_);
        statuses_.emplace_back(text);
    }
    std::vector<std::string> statuses() const {
        std::lock_guard<std::mutex> guard(lock_);
        return statuses_;
    }
    // The access questions: answered by `loginAnswer` (asked on the download thread) and counted.
    std::optional<picvox::Login> credentials(const std::string&, const std::string&,
                                             int attempt) override {
        std::lock_guard<std::mutex> guard(lock_);
        loginAttempts_.push_back(attempt);
        return loginAnswer;
    }
    std::vector<int> loginAttempts() const {
        std::lock_guard<std::mutex> guard(lock_);
        return loginAttempts_;
    }
    std::optional<picvox::Login> loginAnswer;  // set before the run starts

    std::vector<std::string> messages() const {
        std::lock_guard<std::mutex> guard(lock_);
        return messages_;
    }
    // True when the run's queue has a picture to paint now.
    bool pictureShown() const {
        std::shared_ptr<picvox::FrameQueue> queue;
        {
            std::lock_guard<std::mutex> guard(lock_);
            queue = queue_;
        }
        return queue && queue->withCurrentPicture([](auto&&...) {});
    }

    std::atomic<int> saveComplete{0};
    std::atomic<int> repaints{0};

private:
    mutable std::mutex lock_;
    std::map<RunText, std::string> texts_;
    std::vector<std::string> messages_;
    std::vector<std::string> statuses_;
    std::vector<int> loginAttempts_;
    std::shared_ptr<picvox::FrameQueue> queue_;
    picvox::run::PageCounter counter_;
    std::mutex controlLock_;
};

// A disk that fills up after `allowed` bytes of frame data.
class FillingDisk final : public picvox::DiskOps {
public:
    explicit FillingDisk(long long allowed) : left_(allowed) {}
    ssize_t write(int fd, const void* data, std::size_t size) override {
        if (left_.fetch_sub(static_cast<long long>(size)) < static_cast<long long>(size)) {
            errno = ENOSPC;
            return -1;
        }
        return DiskOps::write(fd, data, size);
    }

private:
    std::atomic<long long> left_;
};

enum class Mode { Live, SaveWithSound, PictureOnly, Download };

struct Rig {
    explicit Rig(const std::string& name, korvex::sim::DvrSimOptions options = {})
        : dir(name), sim(withPreroll(std::move(options))) {
        // PICVOX_TEST_LOG=<folder holding Picvox.ini> keeps the control's log of the run.
        if (const char* logFolder = std::getenv("PICVOX_TEST_LOG"))
            picvox::ConfigureLog(logFolder);
        std::string error;
        started = sim.start(&error);
        EXPECT_TRUE(started) << error;
        cache = (dir.path() / "cache").string();
        destination = (dir.path() / "save").string();
        engine.tempFolderSource = [this] { return std::optional<std::string>(cache); };
        control.setText(RunText::LocationBase, sim.baseUrl());
        control.setText(RunText::ImageFileUrl, "dvr/live.jp2");
        control.setText(RunText::WaveFileUrl, "dvr/live.wav");
        control.setText(RunText::InitWaveFileUrl, "dvr/live_init.wav");
        control.setText(RunText::Destination, destination);
        control.setText(RunText::Model, "TRM");
        control.setText(RunText::CompleteMsg, "complete");
        control.setText(RunText::DiskFullMsg, "disk full");
        control.setText(RunText::ErrorMsg, "error");
    }
    ~Rig() {
        engine.stop();
        sim.stop();
    }

    // A recorder that has been running for a while, as a page finds it.
    static korvex::sim::DvrSimOptions withPreroll(korvex::sim::DvrSimOptions options) {
        options.prerollMs = 3000;
        return options;
    }

    void start(Mode mode, int saveTime = 3, int pictureIntervalMs = 500) {
        picvox::RunSettings s;
        s.cacheTimeMs = cacheTimeMs;
        s.waveRequestIntervalMs = requestIntervalMs;
        s.saveTime = saveTime;
        switch (mode) {
            case Mode::Live:
                break;
            case Mode::SaveWithSound:
                s.hddSave = 1;
                break;
            case Mode::PictureOnly:
                s.hddSave = 1;
                s.pictureInterval = pictureIntervalMs;
                break;
            case Mode::Download:
                s.hddSave = 2;
                s.pictureInterval = pictureIntervalMs;
                control.setText(RunText::ImageFileUrl, "dvr/record.jp2");
                control.setText(RunText::WaveFileUrl, "dvr/record.wav");
                control.setText(RunText::InfFileUrl, "dvr/record.inf");
                break;
        }
        ASSERT_TRUE(engine.start(s));
    }
    bool waitReported(std::chrono::milliseconds timeout = 30s) {
        return waitFor([&] { return control.saveComplete.load() == 1; }, timeout);
    }
    // Milliseconds Stop took.
    long long timedStop() {
        const auto t0 = Clock::now();
        engine.stop();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    }
    std::string runFolder() const { return control.text(RunText::Destination); }

    int cacheTimeMs = 2000;
    int requestIntervalMs = 1000;
    TempDir dir;
    korvex::sim::DvrSim sim;
    bool started = false;
    std::string cache;
    std::string destination;
    FakeControl control;
    picvox::RunEngine engine{control};
};

inline int framesIn(const fs::path& folder) {
    int n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".jp2")
            ++n;
    }
    return n;
}

}  // namespace runrig
