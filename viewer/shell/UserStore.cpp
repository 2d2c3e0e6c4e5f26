#include "viewer/shell/UserStore.h"

#include <sys/stat.h>

namespace korvex {

namespace {

// QSettings opens its file with a plain blocking open; only a regular file (or none) is safe.
bool absentOrRegular(const QString& path, bool* exists) {
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0) {
        *exists = false;
        return true;
    }
    *exists = true;
    return S_ISREG(st.st_mode);
}

std::unique_ptr<QSettings> openIni(const QString& application) {
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                QStringLiteral("Korvex"), application);
    bool exists = false;
    if (!absentOrRegular(settings->fileName(), &exists))
        return std::make_unique<QSettings>(QStringLiteral("/dev/null"), QSettings::IniFormat);
    return settings;
}

}  // namespace

StoreSettingsKey::StoreSettingsKey(platform::UserStore& store, const std::string& keyPath)
    : store_(store), key_(platform::UserStore::normalizeKey(keyPath)) {}

std::optional<std::string> StoreSettingsKey::readValue(const std::string& name) const {
    return store_.value(key_, name);
}

bool StoreSettingsKey::writeNumber(const std::string& name, int32_t value) {
    return store_.setValue(key_, name, std::to_string(value));
}

bool StoreSettingsKey::writeString(const std::string& name, const std::string& value) {
    return store_.setValue(key_, name, value);
}

std::unique_ptr<QSettings> openLegacyUserStore() {
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                QStringLiteral("Korvex"), QStringLiteral("Korvex"));
    bool exists = false;
    if (!absentOrRegular(settings->fileName(), &exists) || !exists)
        return nullptr;
    return settings;
}

std::unique_ptr<QSettings> openProfile() {
    return openIni(QStringLiteral("Profile"));
}

QString storeGroupOf(const std::string& keyPath) {
    QString group = QString::fromStdString(keyPath);
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return group;
}

QtSettingsKey::QtSettingsKey(QSettings& settings, const std::string& keyPath)
    : settings_(settings) {
    settings_.beginGroup(storeGroupOf(keyPath));
}

QtSettingsKey::~QtSettingsKey() {
    settings_.endGroup();
}

std::optional<std::string> QtSettingsKey::readValue(const std::string& name) const {
    const QVariant value = settings_.value(QString::fromStdString(name));
    if (!value.isValid())
        return std::nullopt;
    switch (value.typeId()) {
        case QMetaType::QString:
        case QMetaType::QByteArray:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return value.toString().toStdString();
        default:
            // A hand-edited list ("a, b") or other structure is no single value.
            return std::nullopt;
    }
}

bool QtSettingsKey::writeNumber(const std::string& name, int32_t value) {
    settings_.setValue(QString::fromStdString(name), value);
    return settings_.status() == QSettings::NoError;
}

bool QtSettingsKey::writeString(const std::string& name, const std::string& value) {
    settings_.setValue(QString::fromStdString(name), QString::fromStdString(value));
    return settings_.status() == QSettings::NoError;
}

bool QtSettingsKey::flush() {
    settings_.sync();
    return settings_.status() == QSettings::NoError;
}

}  // namespace korvex
