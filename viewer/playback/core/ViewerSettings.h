#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvex {

// The display settings the document keeps in the per-user store between runs.
struct ViewerSettings {
    int32_t dateFormat = 0;      // "DateFormat", 0..2
    int32_t dateDelimiter = 0;   // "DateDelimiter", 0..2
    int32_t timePosition = 0;    // "DateDispPos", 0..3
    std::string lastOpenFolder;  // "ForderDir", at most kMaxStoredPathChars characters
    std::string lastSaveFolder;  // "SaveForder"
    bool operator==(const ViewerSettings&) const = default;
};

// The stored strings filled 260-character buffers including the terminating zero.
inline constexpr size_t kMaxStoredPathChars = 259;

// One open key of the per-user store. Values are read as text as the store holds them; the
// rules about what is acceptable live in loadSettings, not in the store.
class SettingsKey {
public:
    virtual ~SettingsKey() = default;
    // The value's text; nullopt when absent or not a single text value.
    virtual std::optional<std::string> readValue(const std::string& name) const = 0;
    virtual bool writeNumber(const std::string& name, int32_t value) = 0;
    virtual bool writeString(const std::string& name, const std::string& value) = 0;
};

// Starts from the defaults; each number that is present, numeric and within its range replaces
// its default; a string longer than kMaxStoredPathChars characters (UTF-8 code points) or
// missing leaves its field empty. `key` null (the store could not be opened): the defaults.
ViewerSettings loadSettings(const SettingsKey* key);
// Writes all five values. False when a write failed.
bool saveSettings(SettingsKey& key, const ViewerSettings& settings);

// Number of characters (code points) of UTF-8 text.
size_t utf8Length(const std::string& text);

}  // namespace korvex
