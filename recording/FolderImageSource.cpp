#include "recording/FolderImageSource.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <span>
#include <string_view>

#include "platform/FileSystem.h"
#include "recording/AuthenticityCheck.h"
#include "recording/ImageDecoder.h"

namespace korvex {

namespace {

// The last 4 bytes of a frame file are its millisecond offset (little-endian). Only those bytes
// are read; 0 when the file cannot be read or is shorter than 4 bytes.
std::uint32_t readTrailingOffset(const std::string& path) {
    long long size = 0;
    const int fd = platform::openRegularFile(path, &size);
    if (fd < 0)
        return 0;
    std::uint32_t value = 0;
    if (size >= 4) {
        std::uint8_t b[4];
        ssize_t n;
        do {
            n = ::pread(fd, b, sizeof b, static_cast<off_t>(size - 4));
        } while (n < 0 && errno == EINTR);
        if (n == 4) {
            value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                    (static_cast<std::uint32_t>(b[2]) << 16) |
                    (static_cast<std::uint32_t>(b[3]) << 24);
        }
    }
    ::close(fd);
    return value;
}

std::string_view extensionOf(std::string_view path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    return path.substr(dot + 1);
}

// Slots 0.. of the default pane layout: the first listed channel, then each following slot the
// next larger listed channel, wrapping round to the smallest. Slots beyond the list stay -9.
void fillDefaultChannels(const InfoTable& info, int* list) {
    const auto& channels = info.channels();
    const int m = info.channelCount();
    if (m == 0)
        return;
    const auto begin = channels.begin();
    const auto end = begin + m;
    const std::int32_t smallest = *std::min_element(begin, end);
    list[0] = channels[0];
    for (int s = 1; s < m; ++s) {
        const int previous = list[s - 1];
        bool found = false;
        std::int32_t best = 0;
        for (auto it = begin; it != end; ++it) {
            if (*it > previous && (!found || *it < best)) {
                best = *it;
                found = true;
            }
        }
        list[s] = found ? best : smallest;
    }
}

}  // namespace

FolderImageSource::FolderImageSource(RecordingKind kind, const std::atomic<bool>* cancelFlag)
    : kind_(kind), cancelFlag_(cancelFlag) {}

FolderImageSource::~FolderImageSource() = default;

void FolderImageSource::clearIndex() {
    scannedFolders_.clear();
    info_.clear();
    paths_.clear();
    records_.clear();
    subfolders_.clear();
    current_ = -1;
}

long long FolderImageSource::listFolder(const std::string& folder, const char* extension,
                                        std::vector<ScanEntry>& entries) {
    const auto folderIndex = static_cast<std::uint32_t>(scannedFolders_.size());
    scannedFolders_.push_back(folder);
    long long found = 0;
    const bool read =
        platform::forEachFileNameWithExtension(folder, extension, [&](std::string_view name) {
            if (cancelled())
                return false;
            entries.push_back({folderIndex, std::string(name)});
            ++found;
            filesFound_.fetch_add(1, std::memory_order_relaxed);
            return true;
        });
    // The scan goes on without it, as without an empty folder, but the caller must learn that
    // frames may be missing.
    if (!read)
        unreadable_.push_back({folder, errno});
    return cancelled() ? -1 : found;
}

FolderImageSource::RecordingFolderScan FolderImageSource::scanRecordingFolder(
    const std::string& folder, const char* extension, bool withFrames,
    std::vector<ScanEntry>& entries) {
    const auto folderIndex = static_cast<std::uint32_t>(scannedFolders_.size());
    scannedFolders_.push_back(folder);
    struct Ctx {
        FolderImageSource* self;
        std::string_view extension;
        bool withFrames;
        std::uint32_t folderIndex;
        std::vector<ScanEntry>* entries;
        RecordingFolderScan scan;
        platform::NoCaseMatch info{InfoTable::kFolderName};
        platform::NoCaseMatch time{TimeTable::kFileName};
    } ctx{this, extension, withFrames, folderIndex, &entries, {}};
    const bool read = platform::detail::scanFolder(
        folder,
        [](void* p, const char* name, bool isDir, bool isReg) -> bool {
            auto* c = static_cast<Ctx*>(p);
            if (c->self->cancelled())
                return false;
            const std::string_view n(name);
            if (isDir) {
                c->scan.subfolders.emplace_back(n);
                c->info.offer(n);
            } else if (isReg) {
                if (c->withFrames && platform::hasExtensionNoCase(n, c->extension)) {
                    c->entries->push_back({c->folderIndex, std::string(n)});
                    ++c->scan.frames;
                    c->self->filesFound_.fetch_add(1, std::memory_order_relaxed);
                } else {
                    c->time.offer(n);
                }
            }
            return true;
        },
        &ctx);
    if (!read)
        unreadable_.push_back({folder, errno});
    RecordingFolderScan scan = std::move(ctx.scan);
    // Full paths only now: a flat folder holds few subfolders, but building a path per entry
    // while scanning would cost as much as the scan.
    for (std::string& sub : scan.subfolders)
        sub = platform::joinPath(folder, sub);
    if (const std::string info = ctx.info.result(); !info.empty())
        scan.infoFolder = platform::joinPath(folder, info);
    if (const std::string time = ctx.time.result(); !time.empty())
        scan.timeFile = platform::joinPath(folder, time);
    if (cancelled())
        scan.frames = -1;
    return scan;
}

void FolderImageSource::buildSortedPaths(std::vector<ScanEntry>& entries) {
    // The path list is ordered by the bytes of the full paths (a prefix first). Every full path
    // is folder + '/' + name, and the folders of one scan are either the recording folder alone
    // or its direct subfolders, so no folder part is a prefix of another: ordering the folder
    // parts once and then the bare names gives the same order without comparing long paths.
    std::vector<std::string> prefixes;
    prefixes.reserve(scannedFolders_.size());
    for (const std::string& f : scannedFolders_)
        prefixes.push_back(platform::joinPath(f, ""));
    std::vector<std::uint32_t> byPrefix(prefixes.size());
    for (std::uint32_t i = 0; i < byPrefix.size(); ++i)
        byPrefix[i] = i;
    std::sort(byPrefix.begin(), byPrefix.end(),
              [&](std::uint32_t a, std::uint32_t b) { return prefixes[a] < prefixes[b]; });
    std::vector<std::uint32_t> rank(prefixes.size());
    for (std::uint32_t r = 0; r < byPrefix.size(); ++r)
        rank[byPrefix[r]] = r;
    for (ScanEntry& e : entries)
        e.folder = rank[e.folder];
    std::vector<std::uint32_t> prefixOfRank(byPrefix.begin(), byPrefix.end());

    std::sort(entries.begin(), entries.end(), [](const ScanEntry& a, const ScanEntry& b) {
        return a.folder != b.folder ? a.folder < b.folder : a.name < b.name;
    });
    paths_.clear();
    paths_.reserve(entries.size());
    for (const ScanEntry& e : entries) {
        const std::string& prefix = prefixes[prefixOfRank[e.folder]];
        std::string& path = paths_.emplace_back();
        path.reserve(prefix.size() + e.name.size());
        path.append(prefix).append(e.name);
    }
}

int FolderImageSource::openFolder(const std::string& path, int subfoldersOnly) {
    clearIndex();
    unreadable_.clear();
    filesFound_.store(0, std::memory_order_relaxed);
    const char* extension = frameExtensionFor(kind_);
    if (extension == nullptr)
        return 0;

    std::vector<ScanEntry> entries;
    RecordingFolderScan top = scanRecordingFolder(path, extension, !subfoldersOnly, entries);
    if (top.frames < 0) {
        clearIndex();
        return 0;
    }
    bool lastYielded = top.frames > 0;
    if (entries.empty()) {
        scannedFolders_.clear();
        subfolders_ = std::move(top.subfolders);
        std::sort(subfolders_.begin(), subfolders_.end(),
                  [](const std::string& a, const std::string& b) {
                      const int c = platform::compareNoCase(a, b);
                      return c != 0 ? c < 0 : a < b;  // two spellings on a case-sensitive disk
                  });
        // Recorders write about 200 frames per subfolder.
        entries.reserve(std::min<std::size_t>(subfolders_.size() * 200, 1u << 20));
        for (std::size_t i = 0; i < subfolders_.size(); ++i) {
            const long long n = listFolder(subfolders_[i], extension, entries);
            if (n < 0 || (n == 0 && i == 0)) {
                clearIndex();
                return 0;
            }
            lastYielded = n > 0;
        }
    }
    if (entries.empty() || cancelled()) {
        clearIndex();
        return 0;
    }
    buildSortedPaths(entries);
    scannedFolders_.clear();
    entries = {};

    const std::string infoFile = InfoTable::findInfoFileIn(top.infoFolder);
    if (!infoFile.empty()) {
        int error = 0;
        if (!info_.load(infoFile, &error) && error != 0)
            unreadable_.push_back({infoFile, error});
    }
    if (info_.loaded() && static_cast<std::size_t>(info_.recordCount()) == paths_.size()) {
        selectChannels(defaultChannel(), 1, nullptr);
    } else {
        // Without a table nothing is ever selected again, so the paths move into the records.
        info_.clear();
        records_.resize(paths_.size());
        for (std::size_t i = 0; i < paths_.size(); ++i) {
            records_[i].path = std::move(paths_[i]);
        }
        paths_.clear();
    }
    if (cancelled()) {
        clearIndex();
        return 0;
    }

    timeTable_ = TimeTable();
    if (!top.timeFile.empty() && !timeTable_.load(top.timeFile))
        unreadable_.push_back({top.timeFile, errno});
    current_ = lastYielded ? 0 : -1;
    return 1;
}

DibBlock FolderImageSource::loadCurrent(std::size_t* outSize, int orderCheck) {
    const bool withCheck = validIndex(current_) && flagsAt(current_) == -1;
    return acceptFrame(readFrame(current_, withCheck, JpegPixels::Bgr24), outSize, orderCheck);
}

FrameRead FolderImageSource::readFrame(int i, bool withCheck, JpegPixels pixels) const {
    FrameRead read;
    if (!validIndex(i))
        return read;
    const std::string& path = records_[static_cast<std::size_t>(i)].path;
    // One read serves the decoder and the check. A picture that does not decode is still
    // checked: its trailer gives the frame's time and marks all the same.
    std::vector<unsigned char> bytes;
    if (!platform::readWholeFile(path, bytes, kMaxCheckedFileBytes)) {
        read.readError = errno;
        return read;
    }
    read.picture =
        decodeFrameBytes(extensionOf(path), bytes.data(), bytes.size(), &read.size, pixels);
    if (withCheck) {
        const CheckVariant variant = kind_.kindJpeg ? CheckVariant::Jpeg : CheckVariant::Jpeg2000;
        read.checked = checkBytes(std::span<const std::uint8_t>(bytes.data(), bytes.size()),
                                  variant, read.check);
    }
    return read;
}

DibBlock FolderImageSource::acceptFrame(FrameRead read, std::size_t* outSize, int orderCheck) {
    if (outSize)
        *outSize = 0;
    lastLoadError_ = read.readError;
    if (!validIndex(current_))
        return {};
    const auto index = static_cast<std::size_t>(current_);
    FrameRecord& record = records_[index];
    if (read.checked && record.checkFlags == -1) {
        const CheckResult& check = read.check;
        record.checkFlags = check.flags;
        // With an INFO table, time and offset already came from it.
        if (!info_.loaded()) {
            if (record.time == 0)
                record.time = check.time;
            if (record.offsetMs == 0) {
                record.offsetMs = timeTable_.present()
                                      ? static_cast<std::uint32_t>(timeTable_.at(current_))
                                      : check.offsetMs;
            }
        }
    }
    if (!read.picture)
        return {};

    // A frame that runs backwards in time is not shown while pacing by the sound clock.
    if (orderCheck && current_ > 0 && record.offsetMs < records_[index - 1].offsetMs)
        return {};

    if (outSize)
        *outSize = read.size;
    return std::move(read.picture);
}

void FolderImageSource::moveCurrent(long long delta) {
    long long next = static_cast<long long>(current_) + delta;
    next = std::clamp<long long>(next, std::numeric_limits<int>::min(),
                                 std::numeric_limits<int>::max());
    current_ = static_cast<int>(next);
}

int FolderImageSource::forward(int n) {
    moveCurrent(n);
    return 1;
}

int FolderImageSource::back(int n) {
    moveCurrent(-static_cast<long long>(n));
    return 1;
}

int FolderImageSource::first() {
    current_ = 0;
    return 1;
}

int FolderImageSource::last() {
    current_ = count() - 1;
    return 1;
}

int FolderImageSource::next() {
    return forward(1);
}

int FolderImageSource::previous() {
    return back(1);
}

int FolderImageSource::setCurrent(int i) {
    current_ = i;
    return 1;
}

int FolderImageSource::findByOffset(std::uint32_t ms) {
    // A binary search: offsets normally rise with the index, and each probe reads at most one
    // frame file (the first time that frame's offset is asked for). Playback calls this between
    // frames, so a walk over many frames would stall the picture on recordings without time.txt
    // or INFO. Where offsets do not rise, the result is still a frame after `ms` whose
    // predecessor is not, or 0.
    int lo = 0;
    int hi = count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (offsetAt(mid) > ms)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo < count() ? lo : 0;
}

std::int32_t FolderImageSource::flagsAt(int i) const {
    return validIndex(i) ? records_[static_cast<std::size_t>(i)].checkFlags : -1;
}

std::int64_t FolderImageSource::timeAt(int i) const {
    return validIndex(i) ? records_[static_cast<std::size_t>(i)].time : 0;
}

std::uint32_t FolderImageSource::offsetAt(int i) {
    if (!validIndex(i))
        return 0;
    FrameRecord& record = records_[static_cast<std::size_t>(i)];
    if (timeTable_.present()) {
        record.offsetMs = static_cast<std::uint32_t>(timeTable_.at(i));
        return record.offsetMs;
    }
    // Frame 0 is never read here: its offset is the base the others are measured from, and it
    // is known once the frame has been shown.
    if (record.offsetMs == 0 && i != 0)
        record.offsetMs = readTrailingOffset(record.path);
    return record.offsetMs;
}

int FolderImageSource::currentChannel() const {
    return validIndex(current_) ? records_[static_cast<std::size_t>(current_)].channel : -1;
}

bool FolderImageSource::hasChannel(int c) const {
    return info_.loaded() && (c == -1 || info_.framesOf(c) != 0);
}

int FolderImageSource::selectChannels(int c, int n, int* list) {
    // Without an INFO table there is nothing to select from; keep the files-only index.
    if (!info_.loaded() || static_cast<std::size_t>(info_.recordCount()) > paths_.size()) {
        return 0;
    }
    if (n != 1 && n != 4 && n != 9 && n != 16)
        return 0;
    std::array<std::int32_t, InfoTable::kChannels> slots{};
    if (n != 1) {
        if (list == nullptr)
            return 0;
        if (std::all_of(list, list + InfoTable::kChannels,
                        [](int v) { return v == InfoTable::kEmptySlot; })) {
            fillDefaultChannels(info_, list);
        }
        std::copy(list, list + InfoTable::kChannels, slots.begin());
    }
    const auto wanted = [&](std::int32_t channel) {
        if (n == 1)
            return c == -1 || channel == c;
        for (int s = 0; s < n; ++s) {
            // An empty pane (-9) shows nothing.
            if (slots[static_cast<std::size_t>(s)] != InfoTable::kEmptySlot &&
                slots[static_cast<std::size_t>(s)] == channel) {
                return true;
            }
        }
        return false;
    };

    records_.clear();
    const auto& table = info_.records();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const InfoRecord& info = table[i];
        if (!wanted(info.channel))
            continue;
        FrameRecord& record = records_.emplace_back();
        record.path = paths_[i];
        if (info.dvrSeconds < kMaxDvrSeconds) {
            record.time = dvrSecondsToTime(info.dvrSeconds);
        } else {
            record.checkFlags = kTrailerCutInTime;
            record.time = 0;
        }
        record.offsetMs = info.offsetMs;
        record.channel = info.channel;
        record.infoIndex = static_cast<std::int32_t>(i);
    }
    return 1;
}

int FolderImageSource::firstFrameOf(int c) const {
    if (c == -1 || !info_.loaded())
        return 0;
    // A damaged header could name any number; keep the result an index of the table.
    const std::int32_t number = info_.firstFrameNumberOf(c);
    return number >= 1 && number <= info_.recordCount() ? number - 1 : 0;
}

int FolderImageSource::infoIndexOf(int i) const {
    if (i == -1) {
        return validIndex(current_) ? records_[static_cast<std::size_t>(current_)].infoIndex : -1;
    }
    return i < 0 ? -1 : i;
}

int FolderImageSource::nearestOfChannelBackward(int c, int i) const {
    const int n = info_.loaded() ? info_.recordCount() : 0;
    if (n == 0)
        return -1;
    i = std::clamp(i, 0, n - 1);
    for (int k = i; k >= 0; --k) {
        if (info_.record(k).channel == c)
            return k;
    }
    for (int k = i; k < n; ++k) {
        if (info_.record(k).channel == c)
            return k;
    }
    return -1;
}

int FolderImageSource::nearestOfChannelForward(int c, int i) const {
    const int n = info_.loaded() ? info_.recordCount() : 0;
    if (n == 0)
        return -1;
    i = std::clamp(i, 0, n - 1);
    for (int k = i; k < n; ++k) {
        if (info_.record(k).channel == c)
            return k;
    }
    for (int k = i; k >= 0; --k) {
        if (info_.record(k).channel == c)
            return k;
    }
    return -1;
}

int FolderImageSource::indexOfInfoIndex(int k) const {
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].infoIndex == k)
            return static_cast<int>(i);
    }
    return 0;
}

std::string FolderImageSource::cameraTitle(int i) const {
    if (!validIndex(i))
        return {};
    return info_.titleOf(records_[static_cast<std::size_t>(i)].channel);
}

int FolderImageSource::defaultChannel() const {
    return info_.channelCount() > 0 ? info_.channels()[0] : InfoTable::kEmptySlot;
}

std::string FolderImageSource::pathAt(int i) const {
    return validIndex(i) ? records_[static_cast<std::size_t>(i)].path : std::string();
}

}  // namespace korvex
