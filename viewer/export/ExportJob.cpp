#include "viewer/export/ExportJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Worker.h"
#include "recording/AuthenticityCheck.h"
#include "recording/FolderImageSource.h"
#include "recording/RecordingProbe.h"
#include "viewer/audio/SoundDecoder.h"
#include "viewer/audio/SoundTrack.h"
#include "viewer/export/ExportTimeline.h"
#include "viewer/export/Mp4Writer.h"
#include "viewer/export/Sha256.h"
#include "viewer/playback/FramePainter.h"
#include "viewer/playback/core/FrameTimeText.h"
#include "viewer/playback/core/PaneLayout.h"
#include "viewer/resources/ResourceIds.h"

namespace korvex {

namespace {

using Result = ExportOutcome::Result;

// Frames a second may hold before its times count as saying nothing.
constexpr int kMaxFramesPerSecond = 1000;
// Sound is read and handed to the coder in pieces of at most this many milliseconds, at most
// this many waiting.
constexpr std::int64_t kSoundPieceMs = 500;
constexpr int kQueuedSoundPieces = 8;
// Frames tried for a picture that gives the video its size when none is asked for.
constexpr int kSizeProbeFrames = 25;

// ---- The coder's thread ----

// The painted pictures, converted to the coder's colours, and the coded sound go to the MP4
// writer on a thread of its own, so that the next frame is drawn while the one before is coded.
// At most kQueuedPictures pictures wait.
class CoderThread {
public:
    explicit CoderThread(Mp4Writer& writer) : writer_(writer) {}
    ~CoderThread() { abort(); }
    CoderThread(const CoderThread&) = delete;
    CoderThread& operator=(const CoderThread&) = delete;

    bool start() {
        return worker_.start([this](platform::Event& /*stop*/) { body(); });
    }

    // Waits while the queue is full; false once the coder has failed or was stopped.
    bool pushPicture(YuvPicture picture, std::int64_t ptsMs) {
        std::unique_lock<std::mutex> lock(lock_);
        wake_.wait(lock, [this] { return stopped() || pictures_ < kQueuedPictures; });
        if (stopped())
            return false;
        Item item;
        item.kind = Item::Kind::Picture;
        item.picture = std::move(picture);
        item.ptsMs = ptsMs;
        items_.push_back(std::move(item));
        ++pictures_;
        wake_.notify_all();
        return true;
    }

    // Coded sound, made by soundCoder() of the writer. Waits while the queue holds
    // kQueuedSoundPieces pieces (a long gap between two pictures brings a long run of sound);
    // false once the coder has failed or was stopped.
    bool pushSound(CodedPackets packets) {
        std::unique_lock<std::mutex> lock(lock_);
        wake_.wait(lock, [this] { return stopped() || soundPieces_ < kQueuedSoundPieces; });
        if (stopped())
            return false;
        ++soundPieces_;
        Item item;
        item.kind = Item::Kind::Sound;
        item.sound = std::move(packets);
        items_.push_back(std::move(item));
        wake_.notify_all();
        return true;
    }

    // Hands over the end and waits until the file is finished; false with `error`.
    bool finish(std::int64_t endMs, std::string& error) {
        {
            std::unique_lock<std::mutex> lock(lock_);
            if (!stopped()) {
                Item item;
                item.kind = Item::Kind::Finish;
                item.ptsMs = endMs;
                items_.push_back(std::move(item));
                wake_.notify_all();
            }
            wake_.wait(lock, [this] { return stopped(); });
            error = error_;
        }
        worker_.stop();
        return finished_ && error.empty();
    }

    // Drops what waits and ends the thread; the writer is left for the owner to abort.
    void abort() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            aborted_ = true;
            items_.clear();
            pictures_ = 0;
            soundPieces_ = 0;
            wake_.notify_all();
        }
        worker_.stop();
    }

    std::string error() const {
        std::lock_guard<std::mutex> lock(lock_);
        return error_;
    }

private:
    struct Item {
        enum class Kind { Picture, Sound, Finish };
        Kind kind = Kind::Picture;
        YuvPicture picture;
        std::int64_t ptsMs = 0;
        CodedPackets sound;
    };

    bool stopped() const { return aborted_ || finished_ || !error_.empty(); }

    void body() {
        for (;;) {
            Item item;
            {
                std::unique_lock<std::mutex> lock(lock_);
                wake_.wait(lock, [this] { return aborted_ || !items_.empty(); });
                if (aborted_)
                    return;
                item = std::move(items_.front());
                items_.pop_front();
                if (item.kind == Item::Kind::Picture)
                    --pictures_;
                else if (item.kind == Item::Kind::Sound)
                    --soundPieces_;
                wake_.notify_all();
            }
            bool ok = true;
            switch (item.kind) {
                case Item::Kind::Picture:
                    ok = writer_.addPicture(std::move(item.picture), item.ptsMs);
                    break;
                case Item::Kind::Sound:
                    ok = writer_.addSoundPackets(std::move(item.sound));
                    break;
                case Item::Kind::Finish:
                    ok = writer_.finish(item.ptsMs);
                    break;
            }
            std::lock_guard<std::mutex> lock(lock_);
            if (!ok) {
                error_ = writer_.error();
                wake_.notify_all();
                return;
            }
            if (item.kind == Item::Kind::Finish) {
                finished_ = true;
                wake_.notify_all();
                return;
            }
        }
    }

    Mp4Writer& writer_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Item> items_;
    int pictures_ = 0;
    int soundPieces_ = 0;
    bool aborted_ = false;
    bool finished_ = false;
    std::string error_;
    // Last member: the thread ends before the queue it reads goes.
    platform::Worker worker_;
};

// ---- Reading ahead ----

// The frame files of the stretch are read, decoded and checked on a thread of their own while
// the painter draws the frame before, in the order they are asked for. The caller asks for at
// most kFramesAhead frames it has not taken yet, so that is all the reader ever holds.
class FrameReader {
public:
    FrameReader(const FolderImageSource& source, JpegPixels pixels)
        : source_(source), pixels_(pixels) {}
    ~FrameReader() { stop(); }
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    bool start() {
        return worker_.start([this](platform::Event& /*stop*/) { body(); });
    }

    void request(int index) {
        std::lock_guard<std::mutex> lock(lock_);
        asked_.push_back(index);
        wake_.notify_all();
    }

    // The read of the oldest frame asked for and not taken, once the reader has it. False once
    // the reader was stopped.
    bool take(FrameRead& out) {
        std::unique_lock<std::mutex> lock(lock_);
        wake_.wait(lock, [this] { return stopped_ || !ready_.empty(); });
        if (ready_.empty())
            return false;
        out = std::move(ready_.front());
        ready_.pop_front();
        return true;
    }

    // Drops what was asked for and read, and ends the thread (after the read under way).
    void stop() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            stopped_ = true;
            asked_.clear();
            ready_.clear();
            wake_.notify_all();
        }
        worker_.stop();
    }

private:
    void body() {
        for (;;) {
            int index = 0;
            {
                std::unique_lock<std::mutex> lock(lock_);
                wake_.wait(lock, [this] { return stopped_ || !asked_.empty(); });
                if (stopped_)
                    return;
                index = asked_.front();
                asked_.pop_front();
            }
            FrameRead read;
            try {
                // The check goes along always: the painter's thread fills the frame's record
                // from it only when it has none, as a load of the frame would.
                read = source_.readFrame(index, true, pixels_);
            } catch (const std::bad_alloc&) {
                read = FrameRead{};  // out of memory: the frame shows as one that did not decode
            }
            std::lock_guard<std::mutex> lock(lock_);
            if (stopped_)
                return;
            ready_.push_back(std::move(read));
            wake_.notify_all();
        }
    }

    const FolderImageSource& source_;
    const JpegPixels pixels_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<int> asked_;
    std::deque<FrameRead> ready_;
    bool stopped_ = false;
    // Last member: the thread ends before what it reads and fills goes.
    platform::Worker worker_;
};

// ---- The sound ----

// The recording's sound from a position on, in pieces that follow the pictures; silence past its
// end.
class SoundFeed {
public:
    bool open(const std::string& path, std::int64_t startMs) {
        if (!decoder_.open(path))
            return false;
        const std::int64_t rate = decoder_.sampleRate();
        const std::uint64_t start =
            static_cast<std::uint64_t>(std::max<std::int64_t>(0, (startMs * rate + 500) / 1000));
        if (start < decoder_.lengthFrames()) {
            if (!decoder_.seek(start))
                return false;
            remaining_ = decoder_.lengthFrames() - start;
        }
        return true;
    }
    int sampleRate() const { return decoder_.sampleRate(); }
    int channels() const { return decoder_.channels(); }

    // The samples from what was handed over up to `untilMs` of the video, at most one piece.
    // Empty when that much has been handed over.
    std::vector<float> next(std::int64_t untilMs) {
        const std::int64_t rate = decoder_.sampleRate();
        const std::int64_t want = (std::max<std::int64_t>(0, untilMs) * rate + 500) / 1000;
        const std::int64_t piece = std::max<std::int64_t>(1, kSoundPieceMs * rate / 1000);
        const std::int64_t n = std::min(want - handed_, piece);
        if (n <= 0)
            return {};
        const auto ch = static_cast<std::size_t>(decoder_.channels());
        std::vector<float> samples(static_cast<std::size_t>(n) * ch, 0.0f);
        const std::uint64_t fromFile =
            std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(n));
        if (fromFile > 0) {
            const std::size_t got = decoder_.read(samples.data(), fromFile);
            remaining_ = got < fromFile ? 0 : remaining_ - got;
        }
        handed_ += n;
        return samples;
    }

private:
    SoundDecoder decoder_;
    std::uint64_t remaining_ = 0;  // sample frames left in the file
    std::int64_t handed_ = 0;
};

// ---- The sound's own thread ----

// The sound is read and coded on a thread of its own, up to each picture's time as the painter's
// thread plans the pictures ahead, in the pieces SoundFeed gives; at most kQueuedSoundPieces
// coded pieces wait for the painter's thread, which hands them to the coder's before the picture
// they lead up to, where the coder's thread used to code them itself.
class SoundAhead {
public:
    SoundAhead(SoundFeed& feed, SoundCoder& coder) : feed_(feed), coder_(coder) {}
    ~SoundAhead() { stop(); }
    SoundAhead(const SoundAhead&) = delete;
    SoundAhead& operator=(const SoundAhead&) = delete;

    bool start() {
        return worker_.start([this](platform::Event& /*stop*/) { body(); });
    }

    // The sound up to `untilMs` of the video; the times ascend.
    void request(std::int64_t untilMs) {
        std::lock_guard<std::mutex> lock(lock_);
        asked_.push_back(untilMs);
        wake_.notify_all();
    }

    // The next coded piece of the oldest request not done yet; `last` once the request is done
    // (that piece may be empty). False once stopped or failed (error()).
    bool take(CodedPackets& piece, bool& last) {
        std::unique_lock<std::mutex> lock(lock_);
        wake_.wait(lock, [this] { return stopped_ || !error_.empty() || !ready_.empty(); });
        if (ready_.empty())
            return false;
        piece = std::move(ready_.front().packets);
        last = ready_.front().last;
        ready_.pop_front();
        wake_.notify_all();
        return true;
    }

    // Drops what waits and ends the thread (after the piece under way).
    void stop() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            stopped_ = true;
            asked_.clear();
            ready_.clear();
            wake_.notify_all();
        }
        worker_.stop();
    }

    std::string error() const {
        std::lock_guard<std::mutex> lock(lock_);
        return error_;
    }

private:
    struct Piece {
        CodedPackets packets;
        bool last = false;
    };

    // Waits for room; false once stopped.
    bool put(Piece piece) {
        std::unique_lock<std::mutex> lock(lock_);
        wake_.wait(lock, [this] {
            return stopped_ || static_cast<int>(ready_.size()) < kQueuedSoundPieces;
        });
        if (stopped_)
            return false;
        ready_.push_back(std::move(piece));
        wake_.notify_all();
        return true;
    }

    void body() {
        const auto channels = static_cast<std::size_t>(std::max(1, feed_.channels()));
        for (;;) {
            std::int64_t untilMs = 0;
            {
                std::unique_lock<std::mutex> lock(lock_);
                wake_.wait(lock, [this] { return stopped_ || !asked_.empty(); });
                if (stopped_)
                    return;
                untilMs = asked_.front();
                asked_.pop_front();
            }
            for (;;) {
                Piece piece;
                try {
                    const std::vector<float> samples = feed_.next(untilMs);
                    piece.last = samples.empty();
                    if (!piece.last &&
                        !coder_.code(samples.data(), samples.size() / channels, piece.packets)) {
                        std::lock_guard<std::mutex> lock(lock_);
                        error_ = coder_.error();
                        wake_.notify_all();
                        return;
                    }
                } catch (const std::bad_alloc&) {
                    std::lock_guard<std::mutex> lock(lock_);
                    error_ = "out of memory";
                    wake_.notify_all();
                    return;
                }
                const bool last = piece.last;
                if (!put(std::move(piece)))
                    return;
                if (last)
                    break;
            }
        }
    }

    SoundFeed& feed_;
    SoundCoder& coder_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::int64_t> asked_;
    std::deque<Piece> ready_;
    bool stopped_ = false;
    std::string error_;
    // Last member: the thread ends before what it reads and fills goes.
    platform::Worker worker_;
};

// ---- Files ----

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string out(real);
    std::free(real);
    return out;
}

// The data reaches the disk before the file takes its name.
int syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int rc = ::fdatasync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return rc;
}

int writeText(const std::string& path, const std::string& text) {
    return platform::writeFileWhole(
        path, [&text](int fd) { return platform::writeAll(fd, text.data(), text.size()); },
        [](int fd) { return ::fdatasync(fd) == 0 ? 0 : errno; });
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string kindName(const RecordingKind& kind) {
    return kind.kindJpeg ? "jpeg" : kind.kindJp2Mp3 ? "jp2mp3" : "jp2wav";
}

// "YYYY-MM-DD HH:MM:SS" in the recorders' zone (fixed for the process); empty for none.
std::string recorderTimeText(std::int64_t time) {
    return time > 0 ? FormatFrameTime(time, 2, 1) : std::string();
}

int layoutCommandFor(int panes) {
    return panes == 4   ? cmd::channelImage1 + 1
           : panes == 9 ? cmd::channelImage1 + 2
                        : cmd::channelImage1 + 3;
}

// ---- The run ----

class Run {
public:
    Run(const ExportRequest& request, const std::string& version, const std::atomic<bool>& cancel,
        const ExportJob::Progress& progress)
        : r_(request), version_(version), cancel_(cancel), progress_(progress) {}

    ExportOutcome go();

private:
    ExportOutcome unusable(std::string text) {
        ExportOutcome o;
        o.result = Result::Unusable;
        o.error = std::move(text);
        return o;
    }
    ExportOutcome failed(std::string text) {
        ExportOutcome o;
        o.result = Result::Failed;
        o.error = std::move(text);
        return o;
    }
    void report(ExportProgress::Stage stage, long long done, long long total) {
        if (progress_)
            progress_({stage, done, total});
    }
    bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }

    std::optional<ExportOutcome> openRecording();
    std::optional<ExportOutcome> chooseFrames();
    std::optional<ExportOutcome> resolveRange();
    std::optional<std::int64_t> validTime(int index);
    int firstAtOrAfter(std::int64_t time, int from);
    int lastAtOrBefore(std::int64_t time, int from);
    void prefillPanes();
    void pickSize();
    QImage render(DibBlock picture, int index);
    ExportOutcome encode(const std::string& temp);
    ExportOutcome putInPlace(const std::string& temp);

    const ExportRequest& r_;
    const std::string& version_;
    const std::atomic<bool>& cancel_;
    const ExportJob::Progress& progress_;

    RecordingKind kind_;
    std::unique_ptr<FolderImageSource> source_;
    std::string soundPath_;
    bool soundOpened_ = false;
    std::uint32_t soundBaseMs_ = 0;
    PaneLayout panes_;
    int channel_ = kAllChannels;
    OverlaySettings settings_;
    int first_ = 0;
    int last_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool soundClock_ = false;
    DibBlock firstPicture_;
    bool firstPictureLoaded_ = false;
    SideCar sideCar_;
};

std::optional<ExportOutcome> Run::openRecording() {
    report(ExportProgress::Stage::Indexing, 0, 0);
    RecordingProbe probe;
    if (probe.probe(r_.folder) != 1 || !probe.kind().any())
        return unusable(r_.folder + " is not a recording (no frames of a recorder in it)");
    kind_ = probe.kind();
    SoundKind soundKind = soundNone;
    soundPath_ = SoundTrack::findTrack(r_.folder, soundKind);
    // The viewer lists pictures in subfolders only when it has a sound track to play.
    if (!soundPath_.empty()) {
        SoundDecoder check;
        soundOpened_ = check.open(soundPath_);
    }
    source_ = std::make_unique<FolderImageSource>(kind_, &cancel_);
    const int opened = source_->openFolder(r_.folder, soundOpened_ ? 1 : 0);
    if (cancelled()) {
        ExportOutcome o;
        o.result = Result::Cancelled;
        return o;
    }
    if (opened != 1 || source_->count() <= 0)
        return unusable("no frames in " + r_.folder);
    return std::nullopt;
}

std::optional<ExportOutcome> Run::chooseFrames() {
    ImageSource& s = *source_;
    const bool channels = s.hasChannel(-1);
    // The sound's clock starts with the recording's first frame, whatever the channel shown.
    if (channels) {
        int all[16];
        std::fill(std::begin(all), std::end(all), kEmptyPane);
        s.selectChannels(kAllChannels, 1, all);
    }
    s.setCurrent(0);
    // Showing it fills its offset from its trailer, as the viewer's first frame does.
    s.loadCurrent(nullptr, 0);
    soundBaseMs_ = s.offsetAt(0);

    settings_.dateFormat = r_.dateFormat;
    settings_.dateDelimiter = r_.dateDelimiter;
    settings_.timePosition = r_.timePosition;
    settings_.showCameraTitle = r_.showCameraTitle;
    settings_.hasChannelInfo = channels;
    settings_.checkMode = r_.marks;
    settings_.showText = r_.overlay;

    std::string available;
    if (channels) {
        for (int c = 0; c < 16; ++c) {
            if (s.hasChannel(c))
                available += (available.empty() ? "" : ", ") + channelName(c);
        }
    }
    panes_.reset(channels ? s.defaultChannel() : kAllChannels);
    if (r_.panes == 1) {
        channel_ = r_.channel == kDefaultChannel ? (channels ? s.defaultChannel() : kAllChannels)
                                                 : r_.channel;
        if (channel_ >= 0 && !channels) {
            return unusable(
                "the recording names no channels (it has no INFO index): it shows "
                "every frame in one pane");
        }
        if (channel_ >= 0 && !s.hasChannel(channel_))
            return unusable("the recording has no channel " + channelName(channel_) + " (it has " +
                            available + ")");
        if (channels) {
            std::int32_t* row = panes_.channelRow(0);
            row[0] = channel_;
            s.selectChannels(channel_, 1, row);
        }
        return std::nullopt;
    }
    if (!channels) {
        return unusable(
            "the recording names no channels (it has no INFO index), so it shows in "
            "one pane only");
    }
    const ChannelSelection selection = panes_.runChannelCommand(layoutCommandFor(r_.panes));
    if (std::any_of(r_.paneChannels.begin(), r_.paneChannels.end(),
                    [](std::int32_t c) { return c != kEmptyPane; })) {
        std::copy(r_.paneChannels.begin(), r_.paneChannels.end(), selection.row);
    }
    if (s.selectChannels(kAllChannels, selection.paneCount, selection.row) == 0 || s.count() <= 0)
        return unusable("the recording has no frames for " + std::to_string(r_.panes) + " panes");
    return std::nullopt;
}

std::optional<std::int64_t> Run::validTime(int index) {
    FolderImageSource& s = *source_;
    const std::int32_t flags = s.flagsAt(index);
    if (flags >= 0) {
        if ((flags & kFlagNoValidTime) != 0)
            return std::nullopt;
        const std::int64_t t = s.timeAt(index);
        return t > 0 ? std::optional<std::int64_t>(t) : std::nullopt;
    }
    if (s.infoTable().loaded()) {
        // The index's time, which the frame's own check does not replace.
        const std::int64_t t = s.timeAt(index);
        return t > 0 ? std::optional<std::int64_t>(t) : std::nullopt;
    }
    // Without an index the time lives in the frame's trailer: read it as the check reads it.
    CheckResult result;
    const CheckVariant variant = kind_.kindJpeg ? CheckVariant::Jpeg : CheckVariant::Jpeg2000;
    if (checkFile(s.pathAt(index), variant, result) && (result.flags & kNoValidTime) == 0 &&
        result.time > 0) {
        return result.time;
    }
    return std::nullopt;
}

int Run::firstAtOrAfter(std::int64_t time, int from) {
    for (int i = from; i < source_->count() && !cancelled(); ++i) {
        const std::optional<std::int64_t> t = validTime(i);
        if (t && *t >= time)
            return i;
    }
    return -1;
}

int Run::lastAtOrBefore(std::int64_t time, int from) {
    int found = -1;
    for (int i = from; i < source_->count() && !cancelled(); ++i) {
        const std::optional<std::int64_t> t = validTime(i);
        if (t && *t > time)
            break;
        if (t)
            found = i;
    }
    return found;
}

std::optional<ExportOutcome> Run::resolveRange() {
    const int count = source_->count();
    const std::string shown =
        r_.panes == 1 && channel_ >= 0 ? "channel " + channelName(channel_) + " has "
        : r_.panes > 1                 ? "the " + std::to_string(r_.panes) + "-pane layout has "
                                       : "the recording has ";
    first_ = 0;
    last_ = count - 1;
    if (r_.from.kind == FrameBound::Kind::Number) {
        if (r_.from.number > count)
            return unusable("--from " + r_.from.text + ": " + shown + std::to_string(count) +
                            " frames");
        first_ = r_.from.number - 1;
    } else if (r_.from.kind == FrameBound::Kind::Time) {
        first_ = firstAtOrAfter(r_.from.time, 0);
        if (first_ < 0)
            return unusable("--from " + r_.from.text + ": no frame at or after that time");
    }
    if (r_.to.kind == FrameBound::Kind::Number) {
        if (r_.to.number > count)
            return unusable("--to " + r_.to.text + ": " + shown + std::to_string(count) +
                            " frames");
        last_ = r_.to.number - 1;
    } else if (r_.to.kind == FrameBound::Kind::Time) {
        last_ = lastAtOrBefore(r_.to.time, first_);
        if (last_ < 0)
            return unusable("--to " + r_.to.text + ": no frame from --from up to that time");
    }
    if (cancelled()) {
        ExportOutcome o;
        o.result = Result::Cancelled;
        return o;
    }
    if (last_ < first_)
        return unusable("the stretch is empty: --to lies before --from");
    return std::nullopt;
}

void Run::prefillPanes() {
    if (r_.panes == 1)
        return;
    // Each pane shows the last frame of its channel; the frames before the first fill them as
    // playing up to it would have.
    ImageSource& s = *source_;
    for (int i = std::max(0, first_ - 2 * panes_.paneCount()); i < first_; ++i) {
        s.setCurrent(i);
        DibBlock picture = s.loadCurrent(nullptr, 0);
        panes_.storeCurrentFrame(s.currentChannel(), std::move(picture), i, s.currentTime(),
                                 s.cameraTitle(i), s.currentFlags());
    }
}

void Run::pickSize() {
    if (r_.width > 0 && r_.height > 0) {
        width_ = r_.width;
        height_ = r_.height;
        return;
    }
    ImageSource& s = *source_;
    int pictureWidth = 0;
    for (int i = first_; i <= last_ && i < first_ + kSizeProbeFrames && pictureWidth == 0; ++i) {
        s.setCurrent(i);
        DibBlock picture = s.loadCurrent(nullptr, 0);
        DibInfo info;
        if (picture && readDibInfo(picture, info))
            pictureWidth = info.width;
        if (i == first_) {
            firstPicture_ = std::move(picture);
            firstPictureLoaded_ = true;
        }
    }
    defaultExportSize(pictureWidth, r_.panes, width_, height_);
}

QImage Run::render(DibBlock picture, int index) {
    ImageSource& s = *source_;
    if (r_.panes == 1) {
        FrameContent frame;
        DibInfo info;
        frame.picture = picture && readDibInfo(picture, info) ? &picture : nullptr;
        frame.index = index;
        frame.time = s.currentTime();
        frame.title = s.cameraTitle(index);
        frame.flags = s.currentFlags();
        return renderSinglePane(QSize(width_, height_), frame, settings_, false);
    }
    panes_.storeCurrentFrame(s.currentChannel(), std::move(picture), index, s.currentTime(),
                             s.cameraTitle(index), s.currentFlags());
    return renderPaneGrid(QSize(width_, height_), panes_, settings_);
}

ExportOutcome Run::encode(const std::string& temp) {
    ImageSource& s = *source_;
    SoundFeed sound;
    if (soundOpened_) {
        // The sound plays from the first frame's place on its clock, as the viewer plays it.
        const std::int64_t startMs =
            static_cast<std::int64_t>(s.offsetAt(first_)) - static_cast<std::int64_t>(soundBaseMs_);
        if (!sound.open(soundPath_, startMs))
            soundOpened_ = false;
    }
    // With a sound track the frames keep their places on its clock, when they have them.
    soundClock_ = soundOpened_ && (first_ == last_ || s.offsetAt(last_) > s.offsetAt(first_));
    if (!soundClock_)
        soundOpened_ = false;
    const SoundClockTimes soundTimes{static_cast<std::int64_t>(s.offsetAt(first_))};
    RecorderTimePacer pacer(
        s.count(), first_, [this](int i) { return validTime(i); }, kMaxFramesPerSecond);

    EncoderSettings coder;
    // The usual pace of the recording, a hint for the coder's rate control.
    if (soundClock_ && last_ > first_) {
        const std::int64_t span = s.offsetAt(last_) - s.offsetAt(first_);
        coder.nominalFps = static_cast<int>(
            std::clamp<std::int64_t>((static_cast<std::int64_t>(last_ - first_) * 1000 + span / 2) /
                                         std::max<std::int64_t>(1, span),
                                     1, 60));
    } else {
        coder.nominalFps = 1000 / kNormalFrameMs;
    }
    coder.keyFrameInterval = std::clamp(coder.nominalFps * 10, 10, 250);

    Mp4Writer writer;
    SoundInput soundInput{sound.sampleRate(), sound.channels()};
    if (!writer.open(temp, width_, height_, soundOpened_ ? &soundInput : nullptr, coder))
        return failed(r_.output + ": " + writer.error());
    // The painter's thread converts each picture to the coder's colours.
    PictureConverter converter;
    if (!converter.open(width_, height_))
        return failed(r_.output + ": cannot set up the colour conversion");
    CoderThread coderThread(writer);
    if (!coderThread.start())
        return failed("cannot start the coder's thread");
    SoundAhead soundAhead(sound, writer.soundCoder());
    if (soundOpened_ && !soundAhead.start()) {
        coderThread.abort();
        writer.abort();
        return failed("cannot start the sound's thread");
    }
    // JPEG frames come with four bytes a pixel, which the painter scales without a conversion.
    FrameReader reader(*source_, kind_.kindJpeg ? JpegPixels::Bgrx32 : JpegPixels::Bgr24);
    if (!reader.start()) {
        soundAhead.stop();
        coderThread.abort();
        writer.abort();
        return failed("cannot start the reader's thread");
    }
    auto stopAll = [&]() {
        reader.stop();
        soundAhead.stop();
        coderThread.abort();
        writer.abort();
    };

    // The sound the sound's thread coded up to the next request's time, to the coder.
    std::string soundError;
    auto feedSound = [&]() {
        if (!soundOpened_)
            return true;
        for (;;) {
            CodedPackets piece;
            bool last = false;
            if (!soundAhead.take(piece, last)) {
                soundError = soundAhead.error();
                return false;
            }
            if (!piece.empty() && !coderThread.pushSound(std::move(piece)))
                return false;
            if (last)
                return true;
        }
    };
    auto coderFailure = [&]() {
        const std::string error = !soundError.empty()            ? soundError
                                  : !coderThread.error().empty() ? coderThread.error()
                                                                 : std::string("the coder stopped");
        stopAll();
        return failed(r_.output + ": " + error);
    };

    // Each frame's time is worked out before it is read, in frame order, as far ahead as the
    // reader reads. A frame whose time runs backwards shows nothing new, as in the viewer: it is
    // neither read nor drawn.
    struct Planned {
        int index;
        std::int64_t pts;
        bool read;  // asked of the reader (the first frame may have been read already)
    };
    std::deque<Planned> planned;
    const long long total = last_ - first_ + 1;
    int nextToPlan = first_;
    std::int64_t plannedPts = -1;
    auto planAhead = [&]() {
        while (static_cast<int>(planned.size()) < kFramesAhead && nextToPlan <= last_ &&
               !cancelled()) {
            const int i = nextToPlan++;
            std::int64_t pts = soundClock_ ? soundTimes.positionMs(s.offsetAt(i))
                                           : (pacer.positionUs(i) + 500) / 1000;
            if (i == first_)
                pts = 0;
            if (pts <= plannedPts) {
                ++sideCar_.skipped;
                if (planned.empty())
                    report(ExportProgress::Stage::Frames, i - first_ + 1, total);
                continue;
            }
            plannedPts = pts;
            const bool read = !(i == first_ && firstPictureLoaded_);
            if (read)
                reader.request(i);
            if (soundOpened_)
                soundAhead.request(pts);
            planned.push_back({i, pts, read});
        }
    };

    std::int64_t lastPts = -1;
    std::int64_t previousPts = -1;
    planAhead();
    while (!planned.empty() || (nextToPlan <= last_ && !cancelled())) {
        if (cancelled()) {
            stopAll();
            ExportOutcome o;
            o.result = Result::Cancelled;
            return o;
        }
        if (planned.empty()) {
            planAhead();
            continue;
        }
        const Planned frameToDraw = planned.front();
        planned.pop_front();
        const int i = frameToDraw.index;
        const std::int64_t pts = frameToDraw.pts;
        FrameRead read;
        if (frameToDraw.read && !reader.take(read)) {
            stopAll();
            return failed("the reader's thread stopped");
        }
        // The reader goes on with the next frames while this one is drawn.
        planAhead();
        s.setCurrent(i);
        DibBlock picture = frameToDraw.read ? source_->acceptFrame(std::move(read), nullptr, 0)
                                            : std::move(firstPicture_);
        if (!picture)
            ++sideCar_.undecodable;
        QImage page = render(std::move(picture), i);
        if (page.isNull() || page.width() != width_ || page.height() != height_) {
            stopAll();
            return failed("the picture could not be drawn");
        }
        YuvPicture yuv = converter.convert(page.constBits(), page.bytesPerLine());
        page = QImage();
        if (!yuv) {
            stopAll();
            return failed("out of memory");
        }
        if (!feedSound() || !coderThread.pushPicture(std::move(yuv), pts))
            return coderFailure();

        SideCarFrame frame;
        frame.number = i + 1;
        frame.path = absolutePath(s.pathAt(i));
        const bool noTime = s.currentFlags() >= 0 && (s.currentFlags() & kFlagNoValidTime) != 0;
        frame.timeText = noTime ? std::string() : recorderTimeText(s.currentTime());
        frame.channel = s.currentChannel();
        frame.flags = s.currentFlags();
        if (lastPts < 0)
            sideCar_.first = frame;
        sideCar_.last = frame;
        ++sideCar_.pictures;
        previousPts = lastPts;
        lastPts = pts;
        report(ExportProgress::Stage::Frames, i - first_ + 1, total);
    }
    if (cancelled()) {
        stopAll();
        ExportOutcome o;
        o.result = Result::Cancelled;
        return o;
    }
    reader.stop();

    // The last picture lasts as long as the one before it, or its share of its second.
    std::int64_t lastDuration = kNormalFrameMs;
    if (soundClock_) {
        if (previousPts >= 0)
            lastDuration = lastPts - previousPts;
        else if (last_ + 1 < s.count() && s.offsetAt(last_ + 1) > s.offsetAt(last_))
            lastDuration = s.offsetAt(last_ + 1) - s.offsetAt(last_);
    } else {
        lastDuration = std::max<std::int64_t>(1, (pacer.lastDurationUs() + 500) / 1000);
    }
    const std::int64_t endMs = lastPts + std::max<std::int64_t>(1, lastDuration);
    report(ExportProgress::Stage::Finishing, total, total);
    if (soundOpened_)
        soundAhead.request(endMs);
    if (!feedSound())
        return coderFailure();
    // The writer's finish flushes the sound's coder: its thread is done with it.
    soundAhead.stop();
    std::string error;
    if (!coderThread.finish(endMs, error)) {
        writer.abort();
        return failed(r_.output + ": " +
                      (error.empty() ? std::string("the coder stopped") : error));
    }
    sideCar_.durationMs = endMs;
    sideCar_.stretchFrames = total;
    sideCar_.timing = soundClock_ ? "sound-clock" : "recorder-times";
    sideCar_.video = videoCoderText(coder);
    if (soundOpened_) {
        sideCar_.audio = "AAC " + std::to_string(aacSampleRateFor(sound.sampleRate())) + " Hz, " +
                         std::to_string(sound.channels()) +
                         (sound.channels() == 1 ? " channel, " : " channels, ") +
                         std::to_string(coder.audioBitRatePerChannel * sound.channels() / 1000) +
                         " kb/s";
        sideCar_.soundFile = absolutePath(soundPath_);
    }
    ExportOutcome o;
    o.result = Result::Written;
    return o;
}

ExportOutcome Run::putInPlace(const std::string& temp) {
    const std::string& out = r_.output;
    std::string hex;
    int error = 0;
    if (!sha256OfFile(temp, hex, error))
        return failed("cannot read back " + temp + ": " + platform::fileErrorText(error));
    sideCar_.version = version_;
    sideCar_.created = utcNow();
    sideCar_.sourceFolder = absolutePath(r_.folder);
    sideCar_.kind = kindName(kind_);
    sideCar_.output = nameOf(out);
    sideCar_.outputSha256 = hex;
    sideCar_.outputBytes = platform::fileSize(temp);
    sideCar_.from = r_.from.text;
    sideCar_.to = r_.to.text;
    sideCar_.channel = r_.panes == 1 ? channelName(channel_) : "default";
    sideCar_.panes = r_.panes;
    sideCar_.overlay = r_.overlay;
    sideCar_.marks = r_.marks;
    sideCar_.width = width_;
    sideCar_.height = height_;
    const std::string manifest = platform::findFileNoCase(r_.folder, "SHA256SUMS");
    if (!manifest.empty()) {
        std::string manifestHex;
        if (!sha256OfFile(manifest, manifestHex, error))
            return failed("cannot read " + manifest + ": " + platform::fileErrorText(error));
        sideCar_.manifestPath = absolutePath(manifest);
        sideCar_.manifestSha256 = manifestHex;
    }

    const std::string sideCarPath = out + ".json";
    const std::string checksumPath = out + ".sha256";
    if ((error = syncFile(temp)) != 0)
        return failed("cannot write " + out + ": " + platform::fileErrorText(error));
    // The video takes its name last: a file of that name always has its side files.
    if ((error = writeText(sideCarPath, sideCarJson(sideCar_))) != 0)
        return failed("cannot write " + sideCarPath + ": " + platform::fileErrorText(error));
    if ((error = writeText(checksumPath, sha256SumLine(hex, nameOf(out)))) != 0) {
        ::unlink(sideCarPath.c_str());
        return failed("cannot write " + checksumPath + ": " + platform::fileErrorText(error));
    }
    if (::rename(temp.c_str(), out.c_str()) != 0) {
        error = errno;
        ::unlink(sideCarPath.c_str());
        ::unlink(checksumPath.c_str());
        return failed("cannot write " + out + ": " + platform::fileErrorText(error));
    }
    ExportOutcome o;
    o.result = Result::Written;
    o.output = out;
    o.checksumFile = checksumPath;
    o.sideCarFile = sideCarPath;
    o.sideCar = sideCar_;
    return o;
}

ExportOutcome Run::go() {
    const std::string& out = r_.output;
    if (out.empty())
        return unusable("no output file named");
    for (const std::string& path : {out, out + ".json", out + ".sha256"}) {
        if (!r_.overwrite && exists(path))
            return unusable(path + " exists (--force replaces it)");
    }
    if (std::optional<ExportOutcome> stop = openRecording())
        return *stop;
    if (std::optional<ExportOutcome> stop = chooseFrames())
        return *stop;
    if (std::optional<ExportOutcome> stop = resolveRange())
        return *stop;
    prefillPanes();
    pickSize();

    // Written under a hidden name of its own in the same folder, renamed when complete.
    static std::atomic<unsigned> counter{0};
    const std::string folder = folderOf(out);
    const std::string temp = (folder == "/" ? std::string() : folder) + "/." + nameOf(out) + "." +
                             std::to_string(::getpid()) + "." + std::to_string(counter++) + ".part";
    ExportOutcome coded = encode(temp);
    if (coded.result != Result::Written) {
        ::unlink(temp.c_str());
        return coded;
    }
    if (cancelled()) {
        ::unlink(temp.c_str());
        ExportOutcome o;
        o.result = Result::Cancelled;
        return o;
    }
    ExportOutcome placed = putInPlace(temp);
    if (placed.result != Result::Written)
        ::unlink(temp.c_str());
    return placed;
}

}  // namespace

ExportJob::ExportJob(ExportRequest request, std::string version)
    : request_(std::move(request)), version_(std::move(version)) {}

ExportOutcome ExportJob::run(const std::atomic<bool>& cancel, const Progress& progress) {
    Run run(request_, version_, cancel, progress);
    return run.go();
}

}  // namespace korvex
