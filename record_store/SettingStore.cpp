#include <QSettings>

#include "record_store/Seams.h"

namespace {
const char* const kKeyPath = "software/microsoft/windows/data";
const char* const kValue = "datapath";
}  // namespace

QSettingsStore::QSettingsStore(std::unique_ptr<QSettings> settings)
    : m_settings(std::move(settings)) {
#ifndef Q_OS_WIN
    m_group = QString::fromLatin1(kKeyPath);
#endif
}

QSettingsStore::~QSettingsStore() = default;

std::unique_ptr<QSettingsStore> QSettingsStore::forThisMachine() {
#ifdef Q_OS_WIN
    auto store = std::make_unique<QSettingsStore>(std::make_unique<QSettings>(
        QStringLiteral("HKEY_LOCAL_MACHINE\\software\\microsoft\\windows\\data"),
        QSettings::NativeFormat));
    // The console's own values need no administrator: the user's part of the registry.
    store->m_own =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                    QStringLiteral("Qinglan"), QStringLiteral("cafe-console"));
    return store;
#else
    return std::make_unique<QSettingsStore>(
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                    QStringLiteral("Qinglan"), QStringLiteral("cafe-console")));
#endif
}

std::unique_ptr<QSettingsStore> QSettingsStore::forFile(const QString& iniPath) {
    return std::make_unique<QSettingsStore>(
        std::make_unique<QSettings>(iniPath, QSettings::IniFormat));
}

bool QSettingsStore::keyExists() {
    m_settings->sync();
    if (!m_group.isEmpty()) m_settings->beginGroup(m_group);
    const bool exists = !m_settings->allKeys().isEmpty();
    if (!m_group.isEmpty()) m_settings->endGroup();
    return exists;
}

QString QSettingsStore::readDatapath() {
    if (!m_group.isEmpty()) m_settings->beginGroup(m_group);
    const QString path = m_settings->value(QString::fromLatin1(kValue)).toString();
    if (!m_group.isEmpty()) m_settings->endGroup();
    return path;
}

void QSettingsStore::writeDatapath(const QString& path) {
    if (!m_group.isEmpty()) m_settings->beginGroup(m_group);
    m_settings->setValue(QString::fromLatin1(kValue), path);
    if (!m_group.isEmpty()) m_settings->endGroup();
    m_settings->sync();
}

QString QSettingsStore::value(const QString& key) {
    QSettings& s = m_own ? *m_own : *m_settings;
    return s.value(QStringLiteral("console/") + key).toString();
}

void QSettingsStore::setValue(const QString& key, const QString& value) {
    QSettings& s = m_own ? *m_own : *m_settings;
    s.setValue(QStringLiteral("console/") + key, value);
    s.sync();
}
