#pragma once

#include <QDate>
#include <QString>

class Desk;

// A consistent copy of the live database (SQLite's VACUUM INTO, never a plain copy of a file
// that may be half-written), made on the given connection; the target is replaced only once the
// copy is whole. False with the reason in error.
bool BackupDatabase(const QString& connectionName, const QString& target, QString* error);

// At the first start of a day: backup/<name>-yyyy-MM-dd.db beside the database file, keeping
// the newest keep copies. Nothing happens when today's copy is already there.
struct DailyBackupResult {
    bool made = false;
    QString file;
    QString error;
};
DailyBackupResult DailyBackup(const QString& connectionName, const QString& databaseFile,
                              const QDate& today, int keep = 14);

// Whether path is a database file the console can use (it exists, opens read-write and holds
// Tcount and Tmoney); the reason in error when it is not.
bool IsUsableDatabaseFile(const QString& path, QString* error);

// 从备份恢复: replaces the machines, the prices and the journal of the database in use by those
// of a backup file, after one confirmation and after a copy of the database as it was (into
// backup/ beside it). The restore itself is a journal row (flagged: which file, how many rows
// before and after), so the older journal is what this desk remembers last, not a file that
// seems to have lost rows. With its boxes; true when restored. Only for a database file.
bool RestoreBackup(Desk& desk, const QString& backupFile);

// At start: the day's first copy of the database into backup/ beside it, keeping the last 14,
// made beside the window on a connection of its own. Only a failure says anything.
void BackUpToday(Desk& desk);
