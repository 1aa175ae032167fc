#include "backups/Backup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <atomic>
#include <memory>

#include "desk/Desk.h"
#include "record_store/DatabaseError.h"

namespace {
std::atomic<int> g_probeSerial{0};
}

bool BackupDatabase(const QString& connectionName, const QString& target, QString* error) {
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    {
        QSqlQuery q(QSqlDatabase::database(connectionName, false));
        q.prepare(QStringLiteral("vacuum into ?"));
        q.addBindValue(QDir::toNativeSeparators(QFileInfo(partial).absoluteFilePath()));
        if (!q.exec()) {
            if (error) *error = DatabaseErrorText(q.lastError());
            QFile::remove(partial);
            return false;
        }
    }
    QFile::remove(target);
    if (!QFile::rename(partial, target)) {
        if (error) *error = QStringLiteral("无法写入“%1”").arg(target);
        QFile::remove(partial);
        return false;
    }
    return true;
}

DailyBackupResult DailyBackup(const QString& connectionName, const QString& databaseFile,
                              const QDate& today, int keep) {
    DailyBackupResult result;
    const QFileInfo database(databaseFile);
    QDir folder(database.absolutePath() + QStringLiteral("/backup"));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        result.error = QStringLiteral("无法建立文件夹“%1”").arg(folder.path());
        return result;
    }
    const QString stem = database.completeBaseName() + QLatin1Char('-');
    result.file = folder.filePath(stem + today.toString(Qt::ISODate) + QStringLiteral(".db"));
    if (!QFileInfo::exists(result.file)) {
        if (!BackupDatabase(connectionName, result.file, &result.error)) return result;
        result.made = true;
    }
    // The names sort by date: the oldest go first.
    QStringList copies =
        folder.entryList({stem + QStringLiteral("?\?\?\?-?\?-?\?.db")}, QDir::Files, QDir::Name);
    while (copies.size() > keep) folder.remove(copies.takeFirst());
    return result;
}

bool IsUsableDatabaseFile(const QString& path, QString* error) {
    if (!QFileInfo(path).isFile()) {
        if (error) *error = QStringLiteral("文件不存在");
        return false;
    }
    const QString name = QStringLiteral("cafe-probe-%1").arg(g_probeSerial.fetch_add(1));
    bool usable = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(
            QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
            QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db.open()) {
            if (error) *error = DatabaseErrorText(db.lastError());
        } else {
            int found = 0;
            for (const QString& table : db.tables())
                if (table.compare(QStringLiteral("Tcount"), Qt::CaseInsensitive) == 0 ||
                    table.compare(QStringLiteral("Tmoney"), Qt::CaseInsensitive) == 0)
                    ++found;
            usable = found == 2;
            if (!usable && error) *error = QStringLiteral("文件中没有 Tcount 和 Tmoney 表");
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return usable;
}

void BackUpToday(Desk& desk) {
    if (!desk.DataModule1.engine().IsFile()) return;  // a server's backups are the server's
    const QString source = desk.DataModule1.connectionName();
    const QString file = desk.DataModule1.ConnectionString();
    const QDate today = desk.clock.nowDateTime().date();
    auto result = std::make_shared<DailyBackupResult>();
    desk.RunInBackground(
        [source, file, today, result] {
            const QString name = source + QStringLiteral("-daily-backup");
            {
                QSqlDatabase db = QSqlDatabase::cloneDatabase(source, name);
                if (db.open())
                    *result = DailyBackup(name, file, today);
                else
                    result->error = DatabaseErrorText(db.lastError());
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        },
        [&desk, result] {
            if (!result->error.isEmpty())
                desk.prompts.message(
                    QStringLiteral("今天的自动备份没有成功：%1").arg(result->error));
        });
}
