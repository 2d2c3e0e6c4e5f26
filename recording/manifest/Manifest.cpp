#include "recording/manifest/Manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileSystem.h"

namespace korvex::manifest {

namespace {

bool needsEscape(std::string_view path) {
    return path.find_first_of("\\\n\r") != std::string_view::npos;
}

bool isBlank(std::string_view line) {
    for (const char c : line) {
        if (c != ' ' && c != '\t')
            return false;
    }
    return true;
}

// Undoes formatLine's escapes; false for a backslash followed by anything else.
bool unescape(std::string_view in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size())
            return false;
        switch (in[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return false;
        }
    }
    return true;
}

}  // namespace

std::string formatLine(const Sha256Digest& digest, std::string_view relativePath) {
    std::string line;
    line.reserve(relativePath.size() + 68);
    const bool escape = needsEscape(relativePath);
    if (escape)
        line += '\\';
    line += toHex(digest);
    line += "  ";
    if (!escape) {
        line.append(relativePath);
    } else {
        for (const char c : relativePath) {
            if (c == '\\')
                line += "\\\\";
            else if (c == '\n')
                line += "\\n";
            else if (c == '\r')
                line += "\\r";
            else
                line += c;
        }
    }
    line += '\n';
    return line;
}

std::string normalisePath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.size() > kMaxPathBytes ||
        path.find('\0') != std::string_view::npos) {
        return {};
    }
    std::string out;
    out.reserve(path.size());
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return {};
        if (!out.empty())
            out += '/';
        out.append(part);
    }
    return out;
}

LineKind parseLine(std::string_view line, Entry& entry) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (isBlank(line))
        return LineKind::Blank;
    const bool escaped = line.front() == '\\';
    if (escaped)
        line.remove_prefix(1);
    if (line.size() < 64 + 3 || !parseHex(line.substr(0, 64), entry.digest) || line[64] != ' ' ||
        (line[65] != ' ' && line[65] != '*')) {
        return LineKind::Malformed;
    }
    const std::string_view name = line.substr(66);
    std::string path;
    if (escaped) {
        if (!unescape(name, path))
            return LineKind::Malformed;
    } else {
        path.assign(name);
    }
    entry.path = normalisePath(path);
    return entry.path.empty() ? LineKind::Outside : LineKind::Entry;
}

// ---- Reader ----

Reader::~Reader() {
    if (fd_ >= 0)
        ::close(fd_);
}

int Reader::open(const std::string& path) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = platform::openRegularFile(path);
    if (fd_ < 0)
        return errno;
    buffer_.assign(64 * 1024, '\0');
    begin_ = end_ = 0;
    eof_ = false;
    entries_ = malformed_ = outside_ = 0;
    cutShort_ = tooLong_ = false;
    error_ = 0;
    return 0;
}

bool Reader::fill() {
    if (eof_ || fd_ < 0)
        return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size())
        return false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = errno;
            eof_ = true;
            return false;
        }
        if (n == 0) {
            eof_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(n);
        return true;
    }
}

bool Reader::next(Entry& entry) {
    bool skipping = false;  // inside a line longer than the bound
    while (fd_ >= 0) {
        if (entries_ + malformed_ + outside_ >= kMaxEntries) {
            tooLong_ = true;
            return false;
        }
        const char* start = buffer_.data() + begin_;
        const void* nl = std::memchr(start, '\n', end_ - begin_);
        if (nl == nullptr) {
            if (end_ - begin_ > kMaxLineBytes) {
                // Far too long for any line we write: drop what is here, find its end.
                begin_ = end_ = 0;
                skipping = true;
            }
            if (fill())
                continue;
            if (error_ != 0)
                return false;
            // The end of the file: a last line without its line feed.
            const std::string_view rest(buffer_.data() + begin_, end_ - begin_);
            begin_ = end_;
            ::close(fd_);
            fd_ = -1;
            if (skipping) {
                cutShort_ = true;
                return false;
            }
            if (rest.empty())
                return false;
            switch (parseLine(rest, entry)) {
                case LineKind::Entry:
                    ++entries_;
                    return true;
                case LineKind::Blank:
                    return false;
                default:
                    cutShort_ = true;
                    return false;
            }
        }
        const std::size_t length = static_cast<const char*>(nl) - start;
        const std::string_view line(start, length);
        begin_ += length + 1;
        if (skipping || length > kMaxLineBytes) {
            skipping = false;
            ++malformed_;
            continue;
        }
        switch (parseLine(line, entry)) {
            case LineKind::Entry:
                ++entries_;
                return true;
            case LineKind::Blank:
                break;
            case LineKind::Malformed:
                ++malformed_;
                break;
            case LineKind::Outside:
                ++outside_;
                break;
        }
    }
    return false;
}

// ---- Appender ----

Appender::Appender(std::string folder) : folder_(std::move(folder)) {}

Appender::~Appender() {
    if (fd_ >= 0)
        ::close(fd_);
}

int Appender::lines() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

int Appender::openLocked() {
    if (fd_ >= 0)
        return 0;
    const std::string path = platform::joinPath(folder_, kFileName);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return errno;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return EINVAL;
    }
    // The manifest's own entry in the folder must outlast a power cut, or its lines go with it.
    return platform::syncDirectory(folder_);
}

int Appender::hashLocked(const std::string& relative, FileSync sync, Sha256Digest& digest) {
    const int file = platform::openRegularFile(platform::joinPath(folder_, relative));
    if (file < 0)
        return errno;
    int error = sync == FileSync::Needed && ::fdatasync(file) != 0 ? errno : 0;
    if (buffer_.empty())
        buffer_.resize(64 * 1024);
    while (error == 0) {
        const ssize_t n = ::read(file, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        hasher_.update(buffer_.data(), static_cast<std::size_t>(n));
    }
    ::close(file);
    digest = hasher_.finish();
    return error;
}

int Appender::add(std::string_view relativePath, FileSync sync) {
    const std::string one(relativePath);
    return add(std::span<const std::string>(&one, 1), sync);
}

int Appender::add(std::span<const std::string> relativePaths, FileSync sync) {
    std::lock_guard<std::mutex> guard(lock_);
    int firstError = 0;
    int count = 0;
    std::string lines;
    for (const std::string& path : relativePaths) {
        const std::string relative = normalisePath(path);
        Sha256Digest digest{};
        const int error = relative.empty() ? EINVAL : hashLocked(relative, sync, digest);
        if (error != 0) {
            if (firstError == 0)
                firstError = error;
            continue;
        }
        lines += formatLine(digest, relative);
        ++count;
    }
    if (count == 0)
        return firstError;
    if (const int e = openLocked())
        return e;
    const off_t before = ::lseek(fd_, 0, SEEK_END);
    int error = platform::writeAll(fd_, lines.data(), lines.size());
    if (error == 0 && ::fdatasync(fd_) != 0)
        error = errno;
    if (error != 0) {
        // A line cut short would read as a damaged manifest; the file goes back to its lines.
        if (before >= 0 && ::ftruncate(fd_, before) == 0)
            (void)::fdatasync(fd_);
        return error;
    }
    lines_ += count;
    return firstError;
}

}  // namespace korvex::manifest
