#pragma once

// The per-user store: our stand-in for the registry under HKEY_CURRENT_USER. One INI-style file,
// "<config>/korvex/registry.ini" (config = XDG_CONFIG_HOME, else ~/.config), with one section per
// key ("[Software\Classes\Picvox.Picvoxer.1]") and one line per string value ('name="value"',
// '@' for the default value). Key paths use "\" separators and, as in the registry, match without
// regard to ASCII letter case; empty components ("Software\Kalmo\Tessaly\") are ignored.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class UserStore {
public:
    // A file larger than this is not parsed (and never overwritten): the store reads as broken.
    static constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    // Every key stores the full path of itself and of each parent, so a key's cost grows with
    // its depth times its length; these bounds keep a hostile file's cost in proportion to its
    // size. A key beyond them cannot be created, and such a line in the file is skipped; a file
    // holding more keys than kMaxKeys reads as broken.
    static constexpr std::size_t kMaxKeyDepth = 32;
    static constexpr std::size_t kMaxKeyBytes = 1024;
    static constexpr std::size_t kMaxKeys = 16 * 1024;

    // The store file of the current user, from the environment at the moment of the call.
    static std::string defaultPath();

    UserStore() = default;

    // Reads `path`. A missing file is an empty store (true); an unreadable or oversized file, or
    // anything but a regular file, gives false and leaves the store empty. Malformed lines are
    // skipped.
    bool load(const std::string& path);
    // Writes the whole store to `path` through a temporary file and a rename, so that readers
    // see the old or the new file and never a part. Creates the folder when missing.
    bool save(const std::string& path) const;

    // Loads the store at `path` under an exclusive lock of "<path>.lock", lets `change` edit it
    // and saves it when `change` returns true. False when the file is broken (it is then left as
    // it is), when `change` returns false or when the save fails. Serialises writers of
    // different processes.
    static bool update(const std::string& path, const std::function<bool(UserStore&)>& change);

    bool keyExists(std::string_view key) const;
    // Creates the key and every missing parent; false beyond the bounds above.
    bool createKey(std::string_view key);
    // Sets a string value, creating the key; name "" is the default value.
    bool setValue(std::string_view key, std::string_view name, std::string_view value);
    std::optional<std::string> value(std::string_view key, std::string_view name = {}) const;
    bool deleteValue(std::string_view key, std::string_view name);
    // Removes the key with all its subkeys and values; false when it did not exist.
    bool deleteTree(std::string_view key);
    // Names of the direct subkeys, in their stored spelling.
    std::vector<std::string> subkeys(std::string_view key) const;

    // The canonical spelling of a key path: components joined by one "\", no empty ones.
    static std::string normalizeKey(std::string_view key);

private:
    struct Value {
        std::string name;  // spelling as first set
        std::string data;
    };
    struct Key {
        std::string path;                     // spelling as first created
        std::map<std::string, Value> values;  // by lower-case name
    };
    static std::string foldCase(std::string_view s);
    static bool acceptableKey(std::string_view normalized);
    Key* findKey(std::string_view normalized);
    const Key* findKey(std::string_view normalized) const;
    // Null when the key is not acceptable or would take the store past kMaxKeys.
    Key* ensureKey(const std::string& normalized);

    std::map<std::string, Key> keys_;  // by lower-case normalized path
};

}  // namespace platform
