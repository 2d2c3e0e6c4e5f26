#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "platform/UserStore.h"
#include "viewer/playback/core/ViewerSettings.h"

namespace korvex {

// The viewer's settings live in the one per-user store that stands in for the registry under
// the current user, shared with the streaming control (platform::UserStore,
// $XDG_CONFIG_HOME/korvex/registry.ini). A key path such as "SOFTWARE\KALMO\Korvex2\Settings"
// keeps its '\' separators; empty components collapse.
class StoreSettingsKey : public SettingsKey {
public:
    StoreSettingsKey(platform::UserStore& store, const std::string& keyPath);
    std::optional<std::string> readValue(const std::string& name) const override;
    bool writeNumber(const std::string& name, int32_t value) override;
    bool writeString(const std::string& name, const std::string& value) override;

private:
    platform::UserStore& store_;
    std::string key_;
};

// Settings written by earlier versions into an INI file of their own
// ($XDG_CONFIG_HOME/Korvex/Korvex.ini); read once when the shared store has no settings yet, so
// that nothing a user set is lost. Null when there is no such regular file.
std::unique_ptr<QSettings> openLegacyUserStore();
// The application profile (sections such as "Print Title"): $XDG_CONFIG_HOME/Korvex/Profile.ini.
// Anything but a regular file there (a FIFO would block the reader) reads as an empty profile
// that cannot be written.
std::unique_ptr<QSettings> openProfile();

// The QSettings group that stands for a key path with '\' separators.
QString storeGroupOf(const std::string& keyPath);

// One key of an INI file, opened on a group of a QSettings object it does not own.
class QtSettingsKey : public SettingsKey {
public:
    QtSettingsKey(QSettings& settings, const std::string& keyPath);
    ~QtSettingsKey() override;
    std::optional<std::string> readValue(const std::string& name) const override;
    bool writeNumber(const std::string& name, int32_t value) override;
    bool writeString(const std::string& name, const std::string& value) override;
    // Writes pending values to disk; false when the store cannot be written.
    bool flush();

private:
    QSettings& settings_;
};

}  // namespace korvex
