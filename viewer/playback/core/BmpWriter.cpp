#include "viewer/playback/core/BmpWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace korvex {

namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Writes all of `size` bytes, resuming after short writes and signals.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A fresh file beside `path` that no one else uses; -1 with errno set when none can be made.
int createSibling(const std::string& path, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const auto slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.part", static_cast<long>(::getpid()),
                      counter.fetch_add(1));
        tempPath = folder + "." + name + suffix;
        // 0666 lets the umask decide, as for any newly created file.
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

std::optional<SavedBitmapLayout> savedBitmapLayout(std::int32_t pictureWidth) {
    if (pictureWidth < 2 || pictureWidth > kMaxSavedWidth)
        return std::nullopt;
    SavedBitmapLayout l;
    l.width = pictureWidth;
    l.height = pictureWidth * 3 / 4;  // trunc(w x 0.75), exact in integers
    l.stride = (3u * static_cast<std::uint32_t>(pictureWidth) + 3u) & ~3u;
    l.pixelBytes = static_cast<std::uint32_t>(l.height) * l.stride;
    l.fileSize = static_cast<std::uint32_t>(kBmpHeadersSize) + l.pixelBytes;
    return l;
}

std::array<std::uint8_t, kBmpHeadersSize> bmpHeaders(const SavedBitmapLayout& layout) {
    std::array<std::uint8_t, kBmpHeadersSize> h{};
    std::uint8_t* p = h.data();
    put16(p + 0, 0x4D42);  // "BM"
    put32(p + 2, layout.fileSize);
    put32(p + 10, static_cast<std::uint32_t>(kBmpHeadersSize));
    put32(p + 14, 40);
    put32(p + 18, static_cast<std::uint32_t>(layout.width));
    put32(p + 22, static_cast<std::uint32_t>(layout.height));  // positive: bottom-up rows
    put16(p + 26, 1);
    put16(p + 28, 24);
    put32(p + 34, layout.pixelBytes);
    // Compression, resolution and palette counts stay 0.
    return h;
}

BmpWriteResult writeBmpFile(const std::string& path, const SavedBitmapLayout& layout,
                            std::span<const std::uint8_t> pixels) {
    const auto expected = savedBitmapLayout(layout.width);
    if (path.empty() || !expected || expected->height != layout.height ||
        expected->pixelBytes != layout.pixelBytes || pixels.size() != layout.pixelBytes)
        return {BmpWriteStep::BadInput, EINVAL};

    std::string tempPath;
    const int fd = createSibling(path, tempPath);
    if (fd < 0)
        return {BmpWriteStep::Create, errno};

    // A file being replaced keeps its permissions.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fd, old.st_mode & 07777);

    const auto headers = bmpHeaders(layout);
    bool ok = writeAll(fd, headers.data(), headers.size()) &&
              writeAll(fd, pixels.data(), pixels.size()) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(tempPath.c_str());
        return {BmpWriteStep::Write, error};
    }
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
        error = errno;
        ::unlink(tempPath.c_str());
        return {BmpWriteStep::Replace, error};
    }
    return {};
}

}  // namespace korvex
