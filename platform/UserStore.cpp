#include "platform/UserStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <thread>

#include "platform/UserFolders.h"

#include "platform/FileSystem.h"

namespace platform {

namespace {

bool hasControlChar(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

// Parses a quoted text at `pos`; on success `pos` is past the closing quote.
bool parseQuoted(std::string_view line, std::size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size())
            return false;
        char e = line[pos++];
        switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            default:
                out += e;  // \\ and \" and anything unexpected stand for themselves
        }
    }
    return false;  // no closing quote
}

void skipBlanks(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
}

// An exclusive lock on "<path>.lock", tried for a bounded time so that a stuck writer elsewhere
// cannot hang us.
class FileLock {
public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return;
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~FileLock() {
        if (fd_ >= 0) {
            if (locked_)
                ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

}  // namespace

std::string UserStore::defaultPath() {
    std::string config;
    if (const char* v = std::getenv("XDG_CONFIG_HOME"); v && *v == '/')
        config = v;
    if (config.empty()) {
        std::string home = platform::homeFolder();
        if (home.empty())
            return {};
        config = home + "/.config";
    }
    while (config.size() > 1 && config.back() == '/')
        config.pop_back();
    return config + "/korvex/registry.ini";
}

std::string UserStore::foldCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string UserStore::normalizeKey(std::string_view key) {
    std::string out;
    std::size_t start = 0;
    while (start <= key.size()) {
        std::size_t end = key.find('\\', start);
        if (end == std::string_view::npos)
            end = key.size();
        if (end > start) {
            if (!out.empty())
                out += '\\';
            out.append(key.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

UserStore::Key* UserStore::findKey(std::string_view normalized) {
    auto it = keys_.find(foldCase(normalized));
    return it == keys_.end() ? nullptr : &it->second;
}

const UserStore::Key* UserStore::findKey(std::string_view normalized) const {
    auto it = keys_.find(foldCase(normalized));
    return it == keys_.end() ? nullptr : &it->second;
}

bool UserStore::acceptableKey(std::string_view normalized) {
    if (normalized.empty() || normalized.size() > kMaxKeyBytes || hasControlChar(normalized))
        return false;
    std::size_t depth = 1;
    for (char c : normalized)
        depth += c == '\\';
    return depth <= kMaxKeyDepth;
}

UserStore::Key* UserStore::ensureKey(const std::string& normalized) {
    if (!acceptableKey(normalized))
        return nullptr;
    // Case folding works byte by byte, so every parent's folded path is a prefix of this one's.
    const std::string folded = foldCase(normalized);
    std::size_t missing = 0;
    for (std::size_t pos = 0;; ++pos) {
        pos = folded.find('\\', pos);
        if (!keys_.contains(folded.substr(0, pos)))
            ++missing;
        if (pos == std::string::npos)
            break;
    }
    if (keys_.size() + missing > kMaxKeys)
        return nullptr;
    // Parents first, so that every key's ancestors exist as in the registry.
    for (std::size_t pos = 0;; ++pos) {
        pos = folded.find('\\', pos);
        auto [it, inserted] = keys_.try_emplace(folded.substr(0, pos));
        if (inserted)
            it->second.path = normalized.substr(0, pos);
        if (pos == std::string::npos)
            return &it->second;
    }
}

namespace {}  // namespace

bool UserStore::load(const std::string& path) {
    keys_.clear();
    // Regular files only, opened so that a FIFO at the path cannot stall the reader.
    std::vector<unsigned char> bytes;
    if (!platform::readWholeFile(path, bytes, static_cast<long long>(kMaxFileBytes)))
        return errno == ENOENT;
    std::string content(bytes.begin(), bytes.end());

    try {
        Key* current = nullptr;
        std::size_t lineStart = 0;
        while (lineStart < content.size()) {
            std::size_t lineEnd = content.find('\n', lineStart);
            if (lineEnd == std::string::npos)
                lineEnd = content.size();
            std::string_view line(content.data() + lineStart, lineEnd - lineStart);
            lineStart = lineEnd + 1;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.size() > kMaxLineBytes)
                continue;
            std::size_t pos = 0;
            skipBlanks(line, pos);
            if (pos >= line.size() || line[pos] == ';' || line[pos] == '#')
                continue;
            if (line[pos] == '[') {
                std::size_t close = line.rfind(']');
                current = nullptr;
                if (close == std::string_view::npos || close <= pos)
                    continue;
                std::string key = normalizeKey(line.substr(pos + 1, close - pos - 1));
                if (!acceptableKey(key))
                    continue;
                current = ensureKey(key);
                if (!current) {  // more keys than a store may hold
                    keys_.clear();
                    return false;
                }
                continue;
            }
            if (!current)
                continue;  // a value outside any key
            std::string name;
            if (line[pos] == '@') {
                ++pos;
            } else if (!parseQuoted(line, pos, name)) {
                continue;
            }
            skipBlanks(line, pos);
            if (pos >= line.size() || line[pos] != '=')
                continue;
            ++pos;
            skipBlanks(line, pos);
            std::string data;
            if (!parseQuoted(line, pos, data))
                continue;
            skipBlanks(line, pos);
            if (pos != line.size())
                continue;
            std::string folded = foldCase(name);
            auto [it, inserted] = current->values.try_emplace(folded);
            if (inserted)
                it->second.name = std::move(name);
            it->second.data = std::move(data);
        }
    } catch (const std::bad_alloc&) {
        keys_.clear();
        return false;
    }
    return true;
}

bool UserStore::save(const std::string& path) const {
    if (path.empty())
        return false;
    std::string text;
    try {
        for (const auto& [folded, key] : keys_) {
            text += '[';
            text += key.path;
            text += "]\n";
            for (const auto& [foldedName, v] : key.values) {
                if (v.name.empty()) {
                    text += '@';
                } else {
                    appendQuoted(text, v.name);
                }
                text += '=';
                appendQuoted(text, v.data);
                text += '\n';
            }
            text += '\n';
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::error_code ec;
    std::filesystem::path target(path);
    if (target.has_parent_path())
        std::filesystem::create_directories(target.parent_path(), ec);
    std::string temp = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    bool ok = written == text.size() && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool UserStore::update(const std::string& path, const std::function<bool(UserStore&)>& change) {
    if (path.empty())
        return false;
    std::error_code ec;
    std::filesystem::path target(path);
    if (target.has_parent_path())
        std::filesystem::create_directories(target.parent_path(), ec);
    FileLock lock(path + ".lock");
    if (!lock.locked())
        return false;
    UserStore store;
    if (!store.load(path))
        return false;
    if (!change(store))
        return false;
    return store.save(path);
}

bool UserStore::keyExists(std::string_view key) const {
    std::string k = normalizeKey(key);
    return !k.empty() && findKey(k) != nullptr;
}

bool UserStore::createKey(std::string_view key) {
    try {
        return ensureKey(normalizeKey(key)) != nullptr;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool UserStore::setValue(std::string_view key, std::string_view name, std::string_view value) {
    try {
        Key* entry = ensureKey(normalizeKey(key));
        if (!entry)
            return false;
        auto [it, inserted] = entry->values.try_emplace(foldCase(name));
        if (inserted)
            it->second.name = std::string(name);
        it->second.data = std::string(value);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::optional<std::string> UserStore::value(std::string_view key, std::string_view name) const {
    const Key* entry = findKey(normalizeKey(key));
    if (!entry)
        return std::nullopt;
    auto it = entry->values.find(foldCase(name));
    if (it == entry->values.end())
        return std::nullopt;
    return it->second.data;
}

bool UserStore::deleteValue(std::string_view key, std::string_view name) {
    Key* entry = findKey(normalizeKey(key));
    if (!entry)
        return false;
    return entry->values.erase(foldCase(name)) > 0;
}

bool UserStore::deleteTree(std::string_view key) {
    std::string folded = foldCase(normalizeKey(key));
    if (folded.empty())
        return false;
    auto it = keys_.find(folded);
    if (it == keys_.end())
        return false;
    std::string prefix = folded + '\\';
    it = keys_.erase(it);
    // Keys sharing the prefix "<key>\" sort together.
    for (auto sub = keys_.lower_bound(prefix);
         sub != keys_.end() && sub->first.compare(0, prefix.size(), prefix) == 0;) {
        sub = keys_.erase(sub);
    }
    return true;
}

std::vector<std::string> UserStore::subkeys(std::string_view key) const {
    std::vector<std::string> out;
    std::string folded = foldCase(normalizeKey(key));
    if (folded.empty())
        return out;
    std::string prefix = folded + '\\';
    for (auto it = keys_.lower_bound(prefix);
         it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        std::string_view rest(it->first);
        rest.remove_prefix(prefix.size());
        if (rest.find('\\') != std::string_view::npos)
            continue;
        out.push_back(it->second.path.substr(prefix.size()));
    }
    return out;
}

}  // namespace platform
