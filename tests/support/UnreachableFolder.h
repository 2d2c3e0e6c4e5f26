#pragma once

// A folder that exists but that nobody can open, the superuser included (tests run as root on CI,
// where permissions deny nothing): its full path is longer than the system accepts, while the
// folder that holds it, and that folder's other entries, stay short enough to use.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace korvex::test {

// Creates nested folders under `base` so that the returned path is exactly `length` characters.
inline std::string makeDeepFolder(const std::filesystem::path& base, std::size_t length) {
    std::string path = base.string();
    while (path.size() + 1 < length) {
        const std::size_t part = std::min<std::size_t>(length - path.size() - 1, 200);
        path += "/" + std::string(part, 'd');
    }
    std::filesystem::create_directories(path);
    return path;
}

// Path length for a recording folder whose subfolder of `unreachableNameLength` characters cannot
// be opened, while names of up to 30 characters below it can.
inline constexpr std::size_t kDeepRecordingLength = PATH_MAX - 40;

// Makes `name` in `parent` (a folder from makeDeepFolder(.., kDeepRecordingLength)); false when
// the full path would still be short enough to open.
inline bool makeUnreachableFolder(const std::string& parent, const std::string& name) {
    if (parent.size() + 1 + name.size() < PATH_MAX)
        return false;
    const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool made = ::mkdirat(fd, name.c_str(), 0755) == 0;
    ::close(fd);
    return made;
}

// Removes what makeUnreachableFolder made (recursive removal by path cannot reach it).
inline void removeUnreachableFolder(const std::string& parent, const std::string& name) {
    const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    ::close(fd);
}

}  // namespace korvex::test
