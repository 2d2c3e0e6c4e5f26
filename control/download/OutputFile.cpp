#include "control/download/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace picvox {

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // An old file is replaced rather than truncated: the names are predictable and the folder may
    // be shared (the temp path), so a link planted under the name must not redirect the write;
    // and file systems that flush a truncated-and-rewritten file on close make every frame wait
    // for the disk.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return nullptr;
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0)
            return std::unique_ptr<OutputFile>(new OutputFile(fd, path));
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

OutputFile::~OutputFile() {
    close();
}

bool OutputFile::write(const void* data, std::size_t size) {
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::close() {
    if (fd_ < 0)
        return error_ == 0;
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0 && errno != EINTR)
        error_ = errno;
    return error_ == 0;
}

void removeFile(const std::string& path) {
    if (!path.empty())
        ::unlink(path.c_str());
}

}  // namespace picvox
