#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

namespace platform {

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

struct DirCloser {
    void operator()(DIR* d) const {
        if (d)
            ::closedir(d);
    }
};

}  // namespace

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

int compareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(lowerAscii(a[i]));
        const auto cb = static_cast<unsigned char>(lowerAscii(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    if (folder.empty())
        return std::string(name);
    // One allocation per path: folder scans build a path for every file of large folders.
    std::string out;
    out.reserve(folder.size() + 1 + name.size());
    out.append(folder);
    if (out.back() != '/')
        out.push_back('/');
    out.append(name);
    return out;
}

namespace detail {

bool scanFolder(const std::string& folder, bool (*cb)(void*, const char*, bool, bool), void* ctx) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return false;
    const int dfd = ::dirfd(dir.get());
    for (;;) {
        // readdir gives null both at the end and on a read error; only errno tells them apart,
        // and a folder read half way must not pass for a whole one.
        errno = 0;
        const dirent* e = ::readdir(dir.get());
        if (e == nullptr) {
            if (errno == 0)
                break;
            const int error = errno;
            dir.reset();
            errno = error;
            return false;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        bool isDir = e->d_type == DT_DIR;
        bool isReg = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            if (::fstatat(dfd, name, &st, 0) != 0)
                continue;
            isDir = S_ISDIR(st.st_mode);
            isReg = S_ISREG(st.st_mode);
        }
        if (!cb(ctx, name, isDir, isReg))
            break;
    }
    return true;
}

}  // namespace detail

std::string findEntryNoCase(const std::string& folder, std::string_view name, bool wantDirectory) {
    const std::string exact = joinPath(folder, name);
    if (wantDirectory ? isDirectory(exact) : isRegularFile(exact))
        return exact;
    struct Ctx {
        bool wantDir;
        NoCaseMatch match;
    } ctx{wantDirectory, NoCaseMatch(name)};
    detail::scanFolder(
        folder,
        [](void* p, const char* n, bool isDir, bool isReg) -> bool {
            auto* c = static_cast<Ctx*>(p);
            if (c->wantDir ? isDir : isReg)
                c->match.offer(n);
            return true;
        },
        &ctx);
    const std::string found = ctx.match.result();
    if (found.empty())
        return {};
    return joinPath(folder, found);
}

std::string findFileNoCase(const std::string& folder, std::string_view relativePath) {
    std::string current = folder;
    while (!relativePath.empty()) {
        const auto slash = relativePath.find('/');
        const std::string_view part = relativePath.substr(0, slash);
        const bool last = slash == std::string_view::npos;
        if (!part.empty()) {
            current = findEntryNoCase(current, part, !last);
            if (current.empty())
                return {};
        }
        if (last)
            break;
        relativePath.remove_prefix(slash + 1);
    }
    return isRegularFile(current) ? current : std::string();
}

std::vector<std::string> listSubdirectories(const std::string& folder) {
    struct Ctx {
        const std::string* folder;
        std::vector<std::string> out;
    } ctx{&folder, {}};
    detail::scanFolder(
        folder,
        [](void* p, const char* n, bool isDir, bool) -> bool {
            auto* c = static_cast<Ctx*>(p);
            if (isDir)
                c->out.push_back(joinPath(*c->folder, n));
            return true;
        },
        &ctx);
    return std::move(ctx.out);
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long long fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

int openRegularFile(const std::string& path, long long* size) {
    return openRegularFileAt(AT_FDCWD, path.c_str(), size);
}

int openRegularFileAt(int dirFd, const char* name, long long* size) {
    if (size)
        *size = -1;
    // O_NONBLOCK makes the open of a FIFO or a device return at once; the check below then
    // refuses it before anything is read.
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (!S_ISREG(st.st_mode))
        error = kNotRegularFile;
    else {
        // Reads of a regular file ignore the flag on Linux, but a network file system may not.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            error = errno;
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    if (size)
        *size = static_cast<long long>(st.st_size);
    return fd;
}

int writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t done = ::write(fd, p, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (done == 0)
            return ENOSPC;
        p += done;
        size -= static_cast<std::size_t>(done);
    }
    return 0;
}

int writeFileWhole(const std::string& path, const std::function<int(int fd)>& fill,
                   const std::function<int(int fd)>& sync) {
    // A name of its own per file: two writers may share a folder.
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temp = (folder == "/" ? std::string() : folder) + "/." + name + "." +
                             std::to_string(::getpid()) + "." + std::to_string(counter++) + ".part";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    int error = fill(fd);
    // The data reaches the disk before the name does: a crash leaves the old file or the whole
    // new one, never one cut short.
    if (error == 0)
        error = sync(fd);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temp.c_str());
    return error;
}

int syncDirectory(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

bool readWholeFile(const std::string& path, std::vector<unsigned char>& out, long long maxBytes) {
    return readWholeFileAt(AT_FDCWD, path.c_str(), out, maxBytes);
}

bool readWholeFileAt(int dirFd, const char* name, std::vector<unsigned char>& out,
                     long long maxBytes) {
    out.clear();
    long long size = 0;
    const int fd = openRegularFileAt(dirFd, name, &size);
    if (fd < 0)
        return false;
    if (size > maxBytes) {
        ::close(fd);
        errno = EFBIG;
        return false;
    }
    out.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            out.clear();
            errno = error;
            return false;
        }
        if (n == 0)
            break;  // the file shrank under us: keep what exists
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    ::close(fd);
    return true;
}

std::string fileErrorText(int error) {
    if (error == kNotRegularFile)
        return "not a regular file";
    return std::generic_category().message(error);
}

}  // namespace platform
