#include "viewer/playback/core/ViewerSettings.h"

#include <charconv>

namespace korvex {

namespace {

// The stored numbers are 32-bit; text that is not a whole number in [low, high] is ignored.
std::optional<int32_t> numberIn(const SettingsKey& key, const char* name, int32_t low,
                                int32_t high) {
    const std::optional<std::string> text = key.readValue(name);
    if (!text || text->empty())
        return std::nullopt;
    long long value = 0;
    const char* begin = text->data();
    const char* end = begin + text->size();
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || stop != end || value < low || value > high)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::string pathValue(const SettingsKey& key, const char* name) {
    std::optional<std::string> text = key.readValue(name);
    if (!text || utf8Length(*text) > kMaxStoredPathChars)
        return {};
    return std::move(*text);
}

}  // namespace

size_t utf8Length(const std::string& text) {
    size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

ViewerSettings loadSettings(const SettingsKey* key) {
    ViewerSettings settings;
    if (key == nullptr)
        return settings;
    if (auto v = numberIn(*key, "DateFormat", 0, 2))
        settings.dateFormat = *v;
    if (auto v = numberIn(*key, "DateDelimiter", 0, 2))
        settings.dateDelimiter = *v;
    if (auto v = numberIn(*key, "DateDispPos", 0, 3))
        settings.timePosition = *v;
    settings.lastOpenFolder = pathValue(*key, "ForderDir");
    settings.lastSaveFolder = pathValue(*key, "SaveForder");
    return settings;
}

bool saveSettings(SettingsKey& key, const ViewerSettings& settings) {
    bool ok = key.writeNumber("DateFormat", settings.dateFormat);
    ok = key.writeNumber("DateDelimiter", settings.dateDelimiter) && ok;
    ok = key.writeNumber("DateDispPos", settings.timePosition) && ok;
    ok = key.writeString("ForderDir", settings.lastOpenFolder) && ok;
    ok = key.writeString("SaveForder", settings.lastSaveFolder) && ok;
    return ok;
}

}  // namespace korvex
