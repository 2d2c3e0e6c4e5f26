#include "control/download/DiskOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "control/buffers/PicvoxLog.h"
#include "platform/FileSystem.h"
#include "recording/manifest/Manifest.h"

namespace picvox {

namespace {

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now; the errno value of a failed close, else 0.
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) != 0 && errno != EINTR ? errno : 0;
    }

private:
    int fd_;
};

int writeAll(DiskOps& disk, int fd, const char* p, std::size_t size) {
    while (size > 0) {
        const ssize_t n = disk.write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Copies the bytes of an open source into an open target.
int copyBytes(int from, int to, DiskOps& disk) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return 0;
        if (const int error = writeAll(disk, to, buffer.data(), static_cast<std::size_t>(n)))
            return error;
    }
}

}  // namespace

ssize_t DiskOps::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int DiskOps::fdatasync(int fd) {
    return ::fdatasync(fd);
}

int DiskOps::mkdir(const std::string& path) {
    return ::mkdir(path.c_str(), 0755);
}

int DiskOps::syncDirectory(const std::string& folder) {
    return platform::syncDirectory(folder);
}

DiskOps& RealDisk() {
    static DiskOps disk;
    return disk;
}

int CopyFileWhole(const std::string& source, const std::string& target, DiskOps& disk) {
    FdCloser from(platform::openRegularFile(source));
    if (from.get() < 0)
        return errno;
    return platform::writeFileWhole(
        target, [&](int to) { return copyBytes(from.get(), to, disk); },
        [&](int to) { return disk.fdatasync(to) == 0 ? 0 : errno; });
}

int CopyFileReplace(const std::string& source, const std::string& target, DiskOps& disk) {
    FdCloser from(platform::openRegularFile(source));
    if (from.get() < 0)
        return errno;
    if (::unlink(target.c_str()) != 0 && errno != ENOENT)
        return errno;
    FdCloser to(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (to.get() < 0)
        return errno;
    int error = copyBytes(from.get(), to.get(), disk);
    if (const int closeError = to.close(); error == 0)
        error = closeError;
    // A slot cut short would be read as a whole picture or segment.
    if (error != 0)
        ::unlink(target.c_str());
    return error;
}

void FolderSync::sync(const std::string& folder, DiskOps& disk) {
    // A folder that cannot be synced loses nothing now; the next sync may still succeed.
    (void)disk.syncDirectory(folder);
    ++syncs_;
    if (folder == pending_ && !unlisted_.empty() && manifest_) {
        // The frames' data was synced before their renames: they are whole on the disk now.
        if (const int error = manifest_->add(unlisted_, korvex::manifest::Appender::FileSync::Done))
            WriteLog(LogTag::HttpThread, "SHA256SUMS 追記失敗 %s (%d)", folder.c_str(), error);
    }
    if (folder == pending_)
        unlisted_.clear();
}

void FolderSync::renamed(const std::string& folder, DiskOps& disk, Clock::time_point now,
                         korvex::manifest::Appender* manifest, std::string listedAs) {
    if (!pending_.empty() && pending_ != folder)
        sync(pending_, disk);
    pending_ = folder;
    if (manifest && !listedAs.empty()) {
        manifest_ = manifest;
        unlisted_.push_back(std::move(listedAs));
    }
    if (now - lastSync_ >= kInterval) {
        sync(folder, disk);
        pending_.clear();
        lastSync_ = now;
    }
}

void FolderSync::folderMade(const std::string& parent, DiskOps& disk) {
    flush(disk);
    sync(parent, disk);
}

void FolderSync::flush(DiskOps& disk) {
    if (!pending_.empty())
        sync(pending_, disk);
    pending_.clear();
}

KeepFileTimes::KeepFileTimes(std::string path) : path_(std::move(path)) {
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        times_[0] = st.st_atim;
        times_[1] = st.st_mtim;
        known_ = true;
    }
}

KeepFileTimes::~KeepFileTimes() {
    if (known_)
        ::utimensat(AT_FDCWD, path_.c_str(), times_, 0);
}

}  // namespace picvox
