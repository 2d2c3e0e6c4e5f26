#pragma once

#include <cerrno>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace platform {

// Recordings come from FAT/NTFS media, so names inside them match without regard to letter case.
// All paths use '/'; functions never throw.

// Lower-cases ASCII letters only (recording names are ASCII).
std::string asciiLower(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);
// strcasecmp-style ordering: negative, zero or positive.
int compareNoCase(std::string_view a, std::string_view b);

// Joins a folder and a name with exactly one '/'.
std::string joinPath(std::string_view folder, std::string_view name);

// True when the part of `name` after its last '.' equals `extension` (given without the dot)
// ignoring case.
inline bool hasExtensionNoCase(std::string_view name, std::string_view extension) {
    const auto dot = name.rfind('.');
    return dot != std::string_view::npos && equalsNoCase(name.substr(dot + 1), extension);
}

// Picks, from the entries of one folder offered one by one, the spelling findEntryNoCase gives
// for `name`: the exact one when it exists, else the first in byte order that matches ignoring
// case (several spellings may exist on a case-sensitive disk; the folder's order must not
// decide). Lets one pass over a folder answer several look-ups.
class NoCaseMatch {
public:
    explicit NoCaseMatch(std::string_view name) : name_(name) {}
    void offer(std::string_view entry) {
        if (exact_ || !equalsNoCase(entry, name_))
            return;
        if (entry == name_)
            exact_ = true;
        else if (best_.empty() || entry < best_)
            best_ = entry;
    }
    // The chosen spelling, empty when nothing matched.
    std::string result() const { return exact_ ? std::string(name_) : best_; }

private:
    std::string_view name_;
    bool exact_ = false;
    std::string best_;
};

// The entry of `folder` whose name equals `name` ignoring case (the exact name wins when both
// exist); empty when there is none. `wantDirectory` selects directories, else regular files.
std::string findEntryNoCase(const std::string& folder, std::string_view name, bool wantDirectory);

// Resolves a relative path like "SOUND/sound.wav" component by component, ignoring case.
// Empty when some component is missing. The last component must be a regular file.
std::string findFileNoCase(const std::string& folder, std::string_view relativePath);

// Calls `fn(fullPath)` for each regular file directly in `folder` whose extension (after the last
// '.') equals `extension` ignoring case; `extension` is given without the dot. Returns false when
// the folder cannot be read, whole or in part (errno tells why). `fn` returns false to stop early.
template <class Fn>
bool forEachFileWithExtension(const std::string& folder, std::string_view extension, Fn&& fn);

// Like forEachFileWithExtension, but calls `fn(name)` with the bare entry name (valid only during
// the call), so that large folders can be scanned without building a path per entry.
template <class Fn>
bool forEachFileNameWithExtension(const std::string& folder, std::string_view extension, Fn&& fn);

// Full paths of the directories directly in `folder` (not "." or ".."), unsorted.
std::vector<std::string> listSubdirectories(const std::string& folder);

bool isRegularFile(const std::string& path);
bool isDirectory(const std::string& path);
// File size in bytes, -1 when it cannot be read.
long long fileSize(const std::string& path);

// errno value for a path that names something other than a regular file or a folder (a FIFO, a
// device, a socket).
inline constexpr int kNotRegularFile = EINVAL;

// Opens a file that came from outside (a recording, a store someone else may have written) for
// reading so that no kind of file can make us wait: the open itself never blocks (a FIFO without
// a writer, a terminal, a device) and anything but a regular file is refused at once. Returns a
// close-on-exec descriptor with ordinary blocking reads, or -1 with errno set (EISDIR for a
// folder, kNotRegularFile for other kinds). `size`, when given, receives the file's size.
int openRegularFile(const std::string& path, long long* size = nullptr);
// The same for `name` inside the folder open as `dirFd` (AT_FDCWD: the working folder), which
// saves looking the folder up again for each of many files in it.
int openRegularFileAt(int dirFd, const char* name, long long* size = nullptr);

// Reads a whole file when it is at most `maxBytes`; false otherwise (or when it cannot be read),
// with errno telling why (EFBIG when the file is larger than `maxBytes`). Opened as
// openRegularFile does.
bool readWholeFile(const std::string& path, std::vector<unsigned char>& out,
                   long long maxBytes = 256ll * 1024 * 1024);
// The same for `name` inside the folder open as `dirFd`, as openRegularFileAt opens it.
bool readWholeFileAt(int dirFd, const char* name, std::vector<unsigned char>& out,
                     long long maxBytes = 256ll * 1024 * 1024);

// Writes all `size` bytes to `fd`, retrying short writes and EINTR. 0 on success, else the errno
// value (ENOSPC when the system accepts no more bytes without saying why).
int writeAll(int fd, const void* data, std::size_t size);

// Writes the file at `path` whole or not at all: `fill` writes the content into a new file of a
// hidden temporary name in the same folder, `sync` makes it reach the disk, and only then does
// it take `path`'s name. Each callback returns 0 or an errno value. Returns 0 or the first errno
// value; on failure nothing is left behind and an old file at `path` is untouched.
int writeFileWhole(const std::string& path, const std::function<int(int fd)>& fill,
                   const std::function<int(int fd)>& sync);

// Makes the entries of `folder` (names made, renamed or removed in it) reach the disk: fsync of
// the folder itself. 0 or the errno value.
int syncDirectory(const std::string& folder);

// Text for an errno value that the functions here leave ("not a regular file" for
// kNotRegularFile, else the system's text).
std::string fileErrorText(int error);

namespace detail {
// Scans `folder`; calls back (name, isDirectory, isRegular). Returns false, with errno set, when
// the folder cannot be opened or a read of its entries fails.
bool scanFolder(const std::string& folder, bool (*cb)(void*, const char*, bool, bool), void* ctx);
}  // namespace detail

template <class Fn>
bool forEachFileNameWithExtension(const std::string& folder, std::string_view extension, Fn&& fn) {
    struct Ctx {
        std::string_view ext;
        std::remove_reference_t<Fn>* fn;
    } ctx{extension, &fn};
    return detail::scanFolder(
        folder,
        [](void* p, const char* name, bool isDir, bool isReg) -> bool {
            auto* c = static_cast<Ctx*>(p);
            if (isDir || !isReg)
                return true;
            const std::string_view n(name);
            if (!hasExtensionNoCase(n, c->ext))
                return true;
            return (*c->fn)(n);
        },
        &ctx);
}

template <class Fn>
bool forEachFileWithExtension(const std::string& folder, std::string_view extension, Fn&& fn) {
    return forEachFileNameWithExtension(
        folder, extension, [&](std::string_view name) { return fn(joinPath(folder, name)); });
}

}  // namespace platform
