#pragma once

#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace korvex::manifest {
class Appender;
}

namespace picvox {

// The system calls through which the recording and the cache are written, so that a test can
// make a disk fill up part-way through a file. Each returns what the system call does and leaves
// errno set on failure.
class DiskOps {
public:
    virtual ~DiskOps() = default;
    virtual ssize_t write(int fd, const void* data, std::size_t size);
    virtual int fdatasync(int fd);
    virtual int mkdir(const std::string& path);
    // Makes the folder's entries durable (fsync of the folder); 0 or the errno value.
    virtual int syncDirectory(const std::string& folder);
};

// The real disk.
DiskOps& RealDisk();

// 0 when `source` was copied whole to `target`, else the errno value. The copy goes to a
// temporary name in the target's folder, reaches the disk, and only then takes the target's name,
// so `target` is either the whole copy or what it was before; a failed copy leaves nothing behind.
int CopyFileWhole(const std::string& source, const std::string& target, DiskOps& disk);

// 0 when `source` was copied to `target`, else the errno value. An old `target` is deleted first
// (never written through), so the copy is a new file with a new creation time.
int CopyFileReplace(const std::string& source, const std::string& target, DiskOps& disk);

// Restores a file's access and modification times when it goes out of scope, for rewrites in
// place that must not move the file in the time order of its folder.
class KeepFileTimes {
public:
    explicit KeepFileTimes(std::string path);
    ~KeepFileTimes();
    KeepFileTimes(const KeepFileTimes&) = delete;
    KeepFileTimes& operator=(const KeepFileTimes&) = delete;

private:
    std::string path_;
    bool known_ = false;
    struct timespec times_[2]{};
};

// Makes the folder entries of a recording durable (a frame's rename, a new IMG folder) without a
// folder sync per frame: a folder is synced after a rename when its last sync is a second old,
// when the saver moves on to another folder, and at the end of the run (flush). The manifest
// lines of the frames renamed in a folder are appended right after that folder's sync, so that
// no line is ever ahead of what a power cut leaves on the disk.
class FolderSync {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{1000};

    // A frame took its name in `folder`. With a `manifest`, `listedAs` (the frame's path in the
    // recording) goes into it once the folder has been synced.
    void renamed(const std::string& folder, DiskOps& disk, Clock::time_point now = Clock::now(),
                 korvex::manifest::Appender* manifest = nullptr, std::string listedAs = {});
    // `folder` was made in `parent`: the previous frame folder is done, the parent gets its
    // entry.
    void folderMade(const std::string& parent, DiskOps& disk);
    // Syncs what is still pending.
    void flush(DiskOps& disk);
    int syncs() const { return syncs_; }

private:
    void sync(const std::string& folder, DiskOps& disk);

    std::string pending_;                // the frame folder with renames not yet synced
    std::vector<std::string> unlisted_;  // its frames still to go into the manifest
    korvex::manifest::Appender* manifest_ = nullptr;
    Clock::time_point lastSync_{};
    int syncs_ = 0;
};

// True for the errors that mean the disk (or the user's share of it) is full.
inline bool IsDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

}  // namespace picvox
