#include "tools/verify/VerifyEngine.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <memory>
#include <span>
#include <thread>

#include "platform/FileSystem.h"
#include "recording/AuthenticityCheck.h"
#include "recording/ClientPlaceholder.h"
#include "recording/ImageDecoder.h"
#include "tools/verify/Thumbnail.h"
#include "tools/verify/TimeText.h"

namespace korvex::verify {

namespace {

// The largest frame file the viewer's check reads.
constexpr long long kMaxCheckedFileBytes = 256ll * 1024 * 1024;
// Frames each worker may be ahead of the consumer.
constexpr std::uint32_t kWindowPerThread = 16;

// A counter that only grows, which threads wait on: a short spin, then the futex. The publisher
// wakes only when someone sleeps, so a pass over a million frames costs no system call per frame
// while everyone keeps up.
class Sequence {
public:
    std::uint32_t load() const { return value_.load(std::memory_order_acquire); }
    void publish(std::uint32_t v) {
        value_.store(v, std::memory_order_seq_cst);
        if (sleepers_.load(std::memory_order_seq_cst) != 0)
            value_.notify_all();
    }
    // Returns once the value is at least `target`, or `stop` is set and publish was called.
    void waitAtLeast(std::uint32_t target, const std::atomic<bool>& stop) {
        for (int spin = 0; spin < 64; ++spin) {
            if (value_.load(std::memory_order_acquire) >= target)
                return;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        for (;;) {
            sleepers_.fetch_add(1, std::memory_order_seq_cst);
            const std::uint32_t now = value_.load(std::memory_order_seq_cst);
            if (now >= target || stop.load(std::memory_order_relaxed)) {
                sleepers_.fetch_sub(1, std::memory_order_seq_cst);
                return;
            }
            value_.wait(now, std::memory_order_seq_cst);
            sleepers_.fetch_sub(1, std::memory_order_seq_cst);
        }
    }

private:
    std::atomic<std::uint32_t> value_{0};
    std::atomic<std::uint32_t> sleepers_{0};
};

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The last four bytes of a file the check could not read whole, as the viewer's offsetAt reads
// them; 0 when even that fails.
std::uint32_t trailingOffset(const std::string& path) {
    long long size = 0;
    const int fd = platform::openRegularFile(path, &size);
    if (fd < 0)
        return 0;
    std::uint8_t b[4];
    std::uint32_t value = 0;
    if (size >= 4 && ::pread(fd, b, 4, static_cast<off_t>(size - 4)) == 4)
        value = le32(b);
    ::close(fd);
    return value;
}

// Reads a whole regular file into `out` (bounded); 0 or the errno value. `dirFd`, when not -1,
// is the frame's folder, which saves looking its path up again for every frame.
int readFrameFile(int dirFd, const char* name, const std::string& path,
                  std::vector<std::uint8_t>& out) {
    const bool read = dirFd >= 0 ? platform::readWholeFileAt(dirFd, name, out, kMaxCheckedFileBytes)
                                 : platform::readWholeFile(path, out, kMaxCheckedFileBytes);
    return read ? 0 : errno;
}

std::string_view extensionOf(std::string_view name) {
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

class Pass {
public:
    Pass(const RecordingIndex& index, const EngineOptions& options, FrameConsumer& consumer)
        : index_(index),
          options_(options),
          consumer_(consumer),
          count_(static_cast<std::uint32_t>(index.count())) {
        threads_ = options.threads > 0 ? options.threads : defaultThreads();
        threads_ = std::clamp(threads_, 1, 64);
        window_ = static_cast<std::uint32_t>(threads_) * kWindowPerThread;
        slots_ = std::make_unique<Slot[]>(window_);
        variant_ = index.kind().kindJpeg ? CheckVariant::Jpeg : CheckVariant::Jpeg2000;
        if (index.info().loaded()) {
            for (int c = 0; c < InfoTable::kChannels; ++c)
                titles_[static_cast<std::size_t>(c)] = index.info().titleOf(c);
        }
    }

    bool run() {
        if (count_ == 0)
            return true;
        if (threads_ == 1)
            return runHere();
        std::vector<std::thread> workers;
        try {
            for (int t = 0; t < threads_; ++t)
                workers.emplace_back([this] { work(); });
        } catch (...) {
            stopAll();
            for (std::thread& w : workers)
                w.join();
            throw;
        }
        bool cancelled = false;
        for (std::uint32_t k = 0; k < count_; ++k) {
            if (options_.cancel && options_.cancel->load(std::memory_order_relaxed)) {
                cancelled = true;
                break;
            }
            Slot& slot = slots_[k % window_];
            if (slot.ready.load() < k + 1) {
                // Behind the workers' pace the consumer would sleep and wake for every frame;
                // it sleeps until a quarter of the window is ready instead and takes them in a
                // row. That frame's worker never waits for room the consumer has not given yet
                // (see work()), so the wait always ends.
                const std::uint32_t later = std::min(count_ - 1, k + window_ / 4);
                slots_[later % window_].ready.waitAtLeast(later + 1, stop_);
                slot.ready.waitAtLeast(k + 1, stop_);
            }
            if (slot.failure) {
                // A worker ran out of memory or met a fault of ours: the pass cannot go on.
                stopAll();
                for (std::thread& w : workers)
                    w.join();
                std::rethrow_exception(slot.failure);
            }
            consumer_.frame(slot.outcome);
            delivered_.publish(k + 1);
        }
        stopAll();
        for (std::thread& w : workers)
            w.join();
        return !cancelled;
    }

private:
    // One thread: each frame is checked and handed on by the caller itself.
    bool runHere() {
        Scratch scratch;
        FrameOutcome& outcome = slots_[0].outcome;
        for (std::uint32_t k = 0; k < count_; ++k) {
            if (options_.cancel && options_.cancel->load(std::memory_order_relaxed))
                return false;
            process(k, outcome, scratch);
            consumer_.frame(outcome);
        }
        return true;
    }

    struct Slot {
        Sequence ready;  // index + 1 of the frame the slot holds
        FrameOutcome outcome;
        std::exception_ptr failure;
    };
    struct Scratch {
        std::vector<std::uint8_t> bytes;
        Sha256 hasher;
        int dirFd = -1;  // the folder of the last frame read
        std::uint32_t dirFolder = ~0u;
        ~Scratch() {
            if (dirFd >= 0)
                ::close(dirFd);
        }
    };

    void stopAll() {
        stop_.store(true);
        // Wakes workers waiting for room; they see the stop.
        delivered_.publish(~0u);
    }

    void work() {
        Scratch scratch;
        for (;;) {
            const std::uint32_t i = next_.fetch_add(1, std::memory_order_relaxed);
            if (i >= count_ || stop_.load(std::memory_order_relaxed))
                return;
            // Frame i needs the slot of frame i - window delivered. Waiting for room, a worker
            // waits for more, but only up to i - window / 2: the consumer, waiting for at most a
            // quarter window ahead of what it delivered, gets there without this frame.
            if (i >= window_ && delivered_.load() < i - window_ + 1)
                delivered_.waitAtLeast(i - window_ / 2, stop_);
            if (stop_.load(std::memory_order_relaxed))
                return;
            Slot& slot = slots_[i % window_];
            try {
                process(i, slot.outcome, scratch);
            } catch (...) {
                slot.failure = std::current_exception();
            }
            slot.ready.publish(i + 1);
        }
    }

    void process(std::uint32_t i, FrameOutcome& o, Scratch& scratch) {
        o.readError = 0;
        o.manifest = ManifestState::None;
        o.line.clear();
        o.thumbnail.clear();
        VerifiedFrame& f = o.frame;
        f = VerifiedFrame{};
        f.index = static_cast<int>(i);
        f.path = index_.pathOf(i);

        const InfoTable& info = index_.info();
        std::uint32_t offset = 0;
        if (info.loaded()) {
            const InfoRecord& rec = info.record(static_cast<int>(i));
            f.channel = rec.channel;
            if (rec.dvrSeconds < kMaxDvrSeconds)
                f.time = dvrSecondsToTime(rec.dvrSeconds);
            else
                f.flags = kTrailerCutInTime;  // as the viewer's index marks it
            offset = rec.offsetMs;
            if (f.channel >= 0 && f.channel < InfoTable::kChannels)
                f.title = titles_[static_cast<std::size_t>(f.channel)];
        }

        std::vector<std::uint8_t>& bytes = scratch.bytes;
        if (index_.folderNumberOf(i) != scratch.dirFolder) {
            if (scratch.dirFd >= 0)
                ::close(scratch.dirFd);
            scratch.dirFolder = index_.folderNumberOf(i);
            scratch.dirFd =
                ::open(index_.folderOf(i).path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        o.readError = readFrameFile(scratch.dirFd, index_.nameOf(i).data(), f.path, bytes);
        const bool read = o.readError == 0;
        const FrameDigests* expected = options_.expected;
        const std::uint8_t listed =
            expected && i < expected->listed.size() ? expected->listed[i] : 0;
        if (read && options_.hash) {
            scratch.hasher.update(bytes.data(), bytes.size());
            o.digest = scratch.hasher.finish();
            if (expected) {
                o.manifest = listed == 0 ? ManifestState::Unlisted
                             : listed == 1 && o.digest == expected->digest[i]
                                 ? ManifestState::Matched
                                 : ManifestState::Changed;
            }
        } else if (!read && expected) {
            o.manifest = listed ? ManifestState::Unreadable : ManifestState::Unlisted;
        }
        if (options_.work == EngineOptions::Work::HashOnly)
            return;

        DibBlock picture;
        if (read) {
            const std::span<const std::uint8_t> file(bytes.data(), bytes.size());
            picture = decodeFrameBytes(extensionOf(f.path), bytes.data(), bytes.size());
            f.decoded = static_cast<bool>(picture);
            if (f.flags == -1) {
                CheckResult check;
                if (checkBytes(file, variant_, check)) {
                    f.flags = check.flags;
                    if (!info.loaded()) {
                        f.time = check.time;
                        offset = check.offsetMs;
                    }
                } else {
                    f.notCheckedReason = checkRefusalText(checkRefusal(file, variant_));
                }
            }
            f.placeholder =
                f.flags >= 0 && variant_ == CheckVariant::Jpeg2000 && isClientPlaceholder(file);
        }
        // offsetAt: time.txt first; else an offset of 0 (but frame 0's) is the file's last bytes.
        if (index_.timeTable().present()) {
            offset = static_cast<std::uint32_t>(index_.timeTable().at(i));
        } else if (offset == 0 && i != 0) {
            offset = read ? (bytes.size() >= 4 ? le32(bytes.data() + bytes.size() - 4) : 0)
                          : trailingOffset(f.path);
        }
        f.offsetMs = offset;
        const bool noValidTime = f.flags >= 0 && (f.flags & kNoValidTime) != 0;
        if (f.time != 0 && !noValidTime)
            f.timeText = timeText_.format(f.time);

        if (picture && options_.thumbnails > 0 && f.flags >= 0 &&
            (f.flags & (kPictureAltered | kTimeAltered)) != 0 &&
            thumbnailsMade_.fetch_add(1, std::memory_order_relaxed) <
                options_.thumbnails + window_) {
            o.thumbnail = makeThumbnail(picture);
        }
        switch (options_.line) {
            case EngineOptions::Line::Json:
                o.line = jsonFrame(f);
                break;
            case EngineOptions::Line::Text:
                o.line = textLine(f);
                break;
            case EngineOptions::Line::None:
                break;
        }
    }

    const RecordingIndex& index_;
    const EngineOptions& options_;
    FrameConsumer& consumer_;
    const std::uint32_t count_;
    int threads_ = 1;
    std::uint32_t window_ = 1;
    std::unique_ptr<Slot[]> slots_;
    CheckVariant variant_ = CheckVariant::Jpeg2000;
    std::array<std::string, InfoTable::kChannels> titles_;
    const TimeText timeText_;
    std::atomic<std::uint32_t> next_{0};
    Sequence delivered_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> thumbnailsMade_{0};
};

}  // namespace

int defaultThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

bool runFrames(const RecordingIndex& index, const EngineOptions& options, FrameConsumer& consumer) {
    Pass pass(index, options, consumer);
    return pass.run();
}

}  // namespace korvex::verify
