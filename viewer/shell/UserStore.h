#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "viewer/shell/core/ViewerSettings.h"

namespace korvex {

// The per-user store stands in for the registry under the current user: an INI file under the
// XDG config folder ($XDG_CONFIG_HOME/Korvex/Korvex.ini) in which a key path such as
// "SOFTWARE\KALMO\Korvex2\Settings" is a group with '/' for '\'. Empty components of a path
// collapse, as QSettings does with any doubled separator.
std::unique_ptr<QSettings> openUserStore();
// The application profile (sections such as "Print Title"): $XDG_CONFIG_HOME/Korvex/Profile.ini.
std::unique_ptr<QSettings> openProfile();

// The QSettings group that stands for a key path with '\' separators.
QString storeGroupOf(const std::string& keyPath);

// One key of the store, opened on a group of a QSettings object it does not own.
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
