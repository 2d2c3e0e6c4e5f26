#include "viewer/shell/UserStore.h"

namespace korvex {

std::unique_ptr<QSettings> openUserStore() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Korvex"), QStringLiteral("Korvex"));
}

std::unique_ptr<QSettings> openProfile() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Korvex"), QStringLiteral("Profile"));
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
