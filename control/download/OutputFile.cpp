#include "control/download/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace picvox {

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // The fetchers write the same few names many times a second. A file of ours from the last
    // fetch is written over in place and cut to length on close: creating anew after an unlink
    // makes ext4 without a journal step past every inode freed in the last minutes (about a
    // millisecond per file once frames have been fetched for a while), and truncating to zero
    // makes ext4 flush the file on close. Only a plain file
    // with one link that we own is reused; a link, a second name, a FIFO or anything else
    // planted under the name is replaced, never written through.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
            st.st_uid == ::geteuid()) {
            return std::unique_ptr<OutputFile>(
                new OutputFile(fd, path, static_cast<long long>(st.st_size)));
        }
        ::close(fd);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return nullptr;
        const int created =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (created >= 0)
            return std::unique_ptr<OutputFile>(new OutputFile(created, path, 0));
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
    if (error_ != 0)
        return false;
    const char* p = static_cast<const char*>(data);
    pending_.insert(pending_.end(), p, p + size);
    return pending_.size() < kBlockBytes || flush();
}

bool OutputFile::flush() {
    const char* p = pending_.data();
    std::size_t size = pending_.size();
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            break;
        }
        if (n == 0) {
            error_ = ENOSPC;
            break;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        written_ += n;
    }
    pending_.clear();
    return error_ == 0;
}

bool OutputFile::close() {
    if (fd_ < 0)
        return error_ == 0;
    if (error_ == 0)
        flush();
    // What is left of an older, longer content goes.
    if (oldSize_ > written_ && ::ftruncate(fd_, written_) != 0 && error_ == 0)
        error_ = errno;
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
