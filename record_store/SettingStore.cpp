#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "record_store/Seams.h"

namespace {
const char* const kKeyPath = "software/microsoft/windows/data";
const char* const kValue = "datapath";

// The file may hold a server's password: its owner alone reads it. Made so before the first
// write (a rewrite keeps the mode of the file it replaces) and put back after every write.
void OwnerOnly(const QSettings& settings) {
#ifdef Q_OS_WIN
    if (settings.format() == QSettings::NativeFormat) return;  // the registry's own rights
#endif
    const QString file = settings.fileName();
    if (file.isEmpty()) return;
    if (!QFile::exists(file)) {
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile made(file);
        if (!made.open(QIODevice::WriteOnly)) return;  // the write reports the failure
        made.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return;
    }
    // Group and others lose theirs; what the owner may do stays as the owner set it.
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QFile::setPermissions(file, QFile::permissions(file) & owner);
}

void Sync(QSettings& settings) {
    OwnerOnly(settings);
    settings.sync();
    OwnerOnly(settings);
}
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

std::unique_ptr<QSettingsStore> QSettingsStore::forFiles(const QString& iniPath,
                                                         const QString& fallbackIniPath) {
    auto store = forFile(iniPath);
    store->m_fallback = std::make_unique<QSettings>(fallbackIniPath, QSettings::IniFormat);
    return store;
}

std::unique_ptr<QSettingsStore> QSettingsStore::forFile(const QString& iniPath) {
    return std::make_unique<QSettingsStore>(
        std::make_unique<QSettings>(iniPath, QSettings::IniFormat));
}

bool QSettingsStore::HasKey(QSettings& settings) {
    settings.sync();
    if (!m_group.isEmpty()) settings.beginGroup(m_group);
    const bool exists = !settings.allKeys().isEmpty();
    if (!m_group.isEmpty()) settings.endGroup();
    return exists;
}

QSettings& QSettingsStore::Holding() {
    if (m_fallback && !HasKey(*m_settings) && HasKey(*m_fallback)) return *m_fallback;
    return *m_settings;
}

bool QSettingsStore::keyExists() { return HasKey(Holding()); }

QString QSettingsStore::readDatapath() {
    QSettings& settings = Holding();
    if (!m_group.isEmpty()) settings.beginGroup(m_group);
    const QString path = settings.value(QString::fromLatin1(kValue)).toString();
    if (!m_group.isEmpty()) settings.endGroup();
    return path;
}

bool QSettingsStore::writeDatapath(const QString& path) {
    const auto write = [&](QSettings& settings) {
        if (!m_group.isEmpty()) settings.beginGroup(m_group);
        settings.setValue(QString::fromLatin1(kValue), path);
        if (!m_group.isEmpty()) settings.endGroup();
        Sync(settings);
        return settings.status() == QSettings::NoError;
    };
    if (write(*m_settings)) {
        m_writeError.clear();
        return true;
    }
    m_writeError = m_settings->status() == QSettings::AccessError
                       ? QStringLiteral("没有写入“%1”的权限").arg(m_settings->fileName())
                       : QStringLiteral("“%1”无法写入").arg(m_settings->fileName());
    if (m_fallback && write(*m_fallback)) {
        // Kept for this user instead, so the first-run question is not asked at every start.
        m_writeError += QStringLiteral("，已改存在“%1”").arg(m_fallback->fileName());
        return true;
    }
    return false;
}

QString QSettingsStore::value(const QString& key) {
    QSettings& s = m_own ? *m_own : *m_settings;
    return s.value(QStringLiteral("console/") + key).toString();
}

void QSettingsStore::setValue(const QString& key, const QString& value) {
    QSettings& s = m_own ? *m_own : *m_settings;
    s.setValue(QStringLiteral("console/") + key, value);
    Sync(s);
}
