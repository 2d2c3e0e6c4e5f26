#pragma once

// A folder that exists but that nobody can open, the superuser included (CI runs tests as root,
// whom permissions deny nothing): its full path is longer than the system accepts, while its
// parent and the parent's short-named entries stay usable.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace korvex::test {

// A recording folder path below which names of up to 30 characters can be opened and names of 40
// or more cannot.
inline constexpr std::size_t kDeepRecordingLength = PATH_MAX - 40;

// Creates nested folders under `base`; the returned path has exactly `length` characters.
inline std::string makeDeepFolder(const std::filesystem::path& base, std::size_t length) {
    std::string path = base.string();
    while (path.size() + 1 < length)
        path += "/" + std::string(std::min<std::size_t>(length - path.size() - 1, 200), 'd');
    std::filesystem::create_directories(path);
    return path;
}

// Makes (or, with `remove`, removes: removal by path cannot reach it) the folder `name` in
// `parent`; false when its path would be short enough to open, or on failure.
inline bool unreachableFolder(const std::string& parent, const std::string& name,
                              bool remove = false) {
    if (parent.size() + 1 + name.size() < PATH_MAX)
        return false;
    const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool done = remove ? ::unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0
                             : ::mkdirat(fd, name.c_str(), 0755) == 0;
    ::close(fd);
    return done;
}

}  // namespace korvex::test
