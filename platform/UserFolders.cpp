#include "platform/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {

namespace {

constexpr long long kMaxUserDirsBytes = 64 * 1024;

std::string stripTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

std::string envOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string();
}

// Reads XDG_DOCUMENTS_DIR="$HOME/..." from the user-dirs file; only the $HOME form is expanded,
// as the file's own format allows nothing else.
std::string documentsFromUserDirs(const std::string& home) {
    std::string config = envOrEmpty("XDG_CONFIG_HOME");
    if (config.empty())
        config = home + "/.config";
    // Read as any outside file: a FIFO in its place must not block, and a few kilobytes hold it.
    std::vector<unsigned char> bytes;
    if (!readWholeFile(config + "/user-dirs.dirs", bytes, kMaxUserDirsBytes))
        return {};
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.compare(0, 5, "$HOME") == 0)
            value = home + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return {};
}

}  // namespace

std::string homeFolder() {
    std::string home = envOrEmpty("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
    }
    return stripTrailingSlashes(home);
}

std::string documentsFolder() {
    const std::string home = homeFolder();
    std::string docs = envOrEmpty("XDG_DOCUMENTS_DIR");
    if (docs.empty() && !home.empty())
        docs = documentsFromUserDirs(home);
    if (!docs.empty() && isDirectory(docs))
        return stripTrailingSlashes(docs);
    if (!home.empty() && isDirectory(home + "/Documents"))
        return home + "/Documents";
    return home;
}

std::string internetCacheFolder() {
    std::string cache = envOrEmpty("XDG_CACHE_HOME");
    if (!cache.empty())
        return stripTrailingSlashes(cache);
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.cache";
}

std::string tempPath() {
    std::string tmp = envOrEmpty("TMPDIR");
    return tmp.empty() ? std::string("/tmp") : stripTrailingSlashes(tmp);
}

}  // namespace platform
