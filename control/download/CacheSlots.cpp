#include "control/download/CacheSlots.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "control/buffers/PicvoxLog.h"
#include "control/download/DiskOps.h"

namespace picvox {

namespace {

std::string slotName(int slot, const char* extension) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d.%s", slot, extension);
    return name;
}

std::uint64_t ticks(const struct statx_timestamp& t) {
    if (t.tv_sec < 0)
        return 0;
    return static_cast<std::uint64_t>(t.tv_sec) * 10000000u + t.tv_nsec / 100u;
}

// The full-precision modification time of an entry, for LatestSlot.
std::uint64_t writeTime(const std::string& path) {
    return SlotTime(path, SlotClock::ModificationTime);
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

std::string PictureFolder(const std::string& cache) {
    return cache + "/J2K2";
}
std::string SoundFolder(const std::string& cache) {
    return cache + "/WAVE2";
}
std::string PictureSlotPath(const std::string& cache, int slot) {
    return PictureFolder(cache) + "/" + slotName(slot, "jp2");
}
std::string StartTimePath(const std::string& cache, int slot) {
    return PictureFolder(cache) + "/" + slotName(slot, "txt");
}
std::string SoundSlotPath(const std::string& cache, int slot) {
    return SoundFolder(cache) + "/" + slotName(slot, "wav");
}
std::string SlotPath(const std::string& cache, int slot, SlotKind kind) {
    return kind == SlotKind::Picture ? PictureSlotPath(cache, slot) : SoundSlotPath(cache, slot);
}

std::uint64_t SlotTime(const std::string& path, SlotClock clock) {
    struct statx st {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &st) != 0)
        return 0;
    if (clock == SlotClock::BirthTime && (st.stx_mask & STATX_BTIME) != 0)
        return ticks(st.stx_btime);
    return (st.stx_mask & STATX_MTIME) != 0 ? ticks(st.stx_mtime) : 0;
}

namespace detail {

bool scanFolder(const std::string& folder, SlotClock clock,
                void (*cb)(void*, int number, std::uint64_t time), void* ctx) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != 6)
            continue;
        const bool digits = name[0] >= '0' && name[0] <= '9' && name[1] >= '0' && name[1] <= '9';
        const int number = digits ? (name[0] - '0') * 10 + (name[1] - '0') : -1;
        cb(ctx, number, SlotTime(folder + "/" + name, clock));
    }
    return true;
}

}  // namespace detail

int LatestSlot(const CacheLocation& cache, SlotKind kind) {
    const std::string folder =
        kind == SlotKind::Picture ? PictureFolder(cache.folder) : SoundFolder(cache.folder);
    // Full precision rather than whole seconds: entries come in no particular order here, so
    // a tie inside one second would pick a slot at random and new files could overwrite the
    // newest ones.
    int latest = 0;
    std::uint64_t latestTime = 0;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        return 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != 6 || name[0] < '0' || name[0] > '9' || name[1] < '0' || name[1] > '9')
            continue;
        const std::uint64_t t = writeTime(folder + "/" + name);
        if (t != 0 && t >= latestTime) {
            latestTime = t;
            latest = (name[0] - '0') * 10 + (name[1] - '0');
        }
    }
    // Slot 99 is as good a newest slot as any: the next file goes to slot 1 after it. Taken
    // as "none", it made the oldest slot the current one.
    return latest;
}

std::uint64_t StepSlotBack(const CacheLocation& cache, int& slot, std::uint64_t reference,
                           SlotKind kind) {
    const int prev = PrevSlot(slot);
    const std::uint64_t t = SlotTime(SlotPath(cache.folder, prev, kind), cache.clock);
    if (t == 0 || t > reference)
        return 0;
    slot = prev;
    return t;
}

std::uint64_t StepSlotForward(const CacheLocation& cache, int& slot, std::uint64_t reference,
                              SlotKind kind) {
    const int next = NextSlot(slot);
    const std::uint64_t t = SlotTime(SlotPath(cache.folder, next, kind), cache.clock);
    if (t == 0 || t < reference)
        return 0;
    slot = next;
    return t;
}

int NewestSlotBefore(const CacheLocation& cache, SlotKind kind, std::uint64_t time) {
    const std::string folder =
        kind == SlotKind::Picture ? PictureFolder(cache.folder) : SoundFolder(cache.folder);
    int result = 0;
    std::uint64_t newest = 0;
    ScanSlotFolder(folder, cache.clock, [&](int number, std::uint64_t t) {
        if (t == 0 || t >= time || t < newest)
            return;
        newest = t;
        if (number >= 0)
            result = number;
    });
    return result;
}

int WriteStartTime(const std::string& cache, int slot, std::int64_t time) {
    const std::string path = StartTimePath(cache, slot);
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        WriteLog(LogTag::HttpThread, "WriteStartTimeにて失敗 ");
        return 0;
    }
    const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(time));
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    const bool ok = ::write(fd, bytes, 4) == 4;
    return ::close(fd) == 0 && ok ? 1 : 0;
}

std::int64_t GetImgStartTime(const std::string& cache, int slot) {
    const int fd = ::open(StartTimePath(cache, slot).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        WriteLog(LogTag::HttpThread, "GetImgStartTimeにて失敗 ");
        return 0;
    }
    unsigned char b[4] = {};
    const bool ok = ::read(fd, b, 4) == 4;
    ::close(fd);
    if (!ok)
        return 0;
    const std::uint32_t v = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
    return static_cast<std::int32_t>(v);
}

}  // namespace picvox
