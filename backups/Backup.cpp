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
#include "ledger/Journal.h"
#include "record_store/DatabaseError.h"
#include "record_store/Engine.h"
#include "record_store/Schema.h"

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
    // A copy cut short (a power cut during VACUUM INTO) leaves its .part: gone at the next
    // start, whichever day it was made for.
    for (const QString& part : folder.entryList({QStringLiteral("*.part")}, QDir::Files))
        folder.remove(part);
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
        } else if (Engine::For(path)->Prepare(db, Engine::Side::Worker, error)) {
            // Prepare read the file: a damaged one has said so.
            usable = OurTables(db) == 2;
            if (!usable && error) *error = QStringLiteral("文件中没有 Tcount 和 Tmoney 表");
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return usable;
}

namespace {

// The copy of the database made before a restore replaces it: backup/<name>-恢复前-<time>.db.
QString BeforeRestoreFile(Desk& desk) {
    const QFileInfo database(desk.DataModule1.ConnectionString());
    return database.absolutePath() + QStringLiteral("/backup/") + database.completeBaseName() +
           QStringLiteral("-恢复前-") +
           desk.clock.nowDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           QStringLiteral(".db");
}

// The backup's tables into ours, inside the caller's transaction; the backup is attached as
// "restored". False with the reason.
bool CopyRestored(QSqlDatabase& db, qint64* rowsBefore, qint64* rowsRestored, QString* error) {
    QSqlQuery q(db);
    const auto run = [&](const QString& statement) {
        if (q.exec(statement)) return true;
        *error = DatabaseErrorText(q.lastError());
        return false;
    };
    const auto count = [&](const QString& statement, qint64* n) {
        if (!run(statement)) return false;
        *n = q.next() ? q.value(0).toLongLong() : 0;
        q.finish();
        return true;
    };
    qint64 journalTables = 0;
    if (!count(QStringLiteral("select count(*) from Tjournal"), rowsBefore) ||
        !count(QStringLiteral("select count(*) from restored.sqlite_master where type='table' "
                              "and lower(name)='tjournal'"),
               &journalTables))
        return false;
    *rowsRestored = 0;
    if (journalTables > 0 &&
        !count(QStringLiteral("select count(*) from restored.Tjournal"), rowsRestored))
        return false;
    const QString machines = QStringLiteral(
        "username, Tstart, Tnow, Stime, Tmoney, Tother, Tsum, gotime, Cstate");
    QString journal = QStringLiteral(
        "id, at, desk, operator, kind, machine, target, tstart, tend, stime, tmoney, tother, "
        "tsum, state, amount, note, flagged, prev, hash");
    // A backup's rows written with accounts keep their version, or their hashes would not fit.
    qint64 accountColumns = 0;
    if (journalTables > 0 &&
        !count(QStringLiteral("select count(*) from pragma_table_info('Tjournal', 'restored') "
                              "where name='v'"),
               &accountColumns))
        return false;
    if (accountColumns > 0) journal += QStringLiteral(", v, account, approver");
    // The seal keys stay, and each after the first needs the journal row that brought it in:
    // a journal from before the owner's password last changed would never check again.
    qint64 keysWithoutTheirRow = 0;
    const QString changeRows =
        journalTables > 0 ? QStringLiteral("select id from restored.Tjournal where kind=:k")
                          : QStringLiteral("select 0 where 0=1");
    q.prepare(QStringLiteral("select count(*) from Tsealkey where since>0 and since not in (%1)")
                  .arg(changeRows));
    if (journalTables > 0) q.bindValue(QStringLiteral(":k"), JournalKind::SealKeyChange);
    if (!q.exec()) {
        *error = DatabaseErrorText(q.lastError());
        return false;
    }
    keysWithoutTheirRow = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    if (keysWithoutTheirRow > 0) {
        *error = QStringLiteral("这个备份是店主最后一次改密码之前做的，恢复后店主封账就核对不上了。"
                                "请用改密码之后的备份。");
        return false;
    }
    return run(QStringLiteral("delete from Tcount")) &&
           run(QStringLiteral("insert into Tcount (%1) select %1 from restored.Tcount")
                   .arg(machines)) &&
           run(QStringLiteral("delete from Tmoney")) &&
           run(QStringLiteral("insert into Tmoney (OneTime, Tnight) select OneTime, Tnight from "
                              "restored.Tmoney")) &&
           run(QStringLiteral("delete from Tjournal")) &&
           (journalTables == 0 ||
            (run(QStringLiteral("insert into Tjournal (%1) select %1 from restored.Tjournal "
                                "order by id")
                     .arg(journal)) &&
             FillJournalFen(db, error)));  // the totals in fen from the texts, as stored
}

}  // namespace

bool RestoreBackup(Desk& desk, const QString& backupFile) {
    TDataModule1& dm = desk.DataModule1;
    if (!dm.engine().IsFile()) {
        desk.prompts.message(QStringLiteral(
            "数据库在服务器上，这里不能恢复。请在服务器上用 pg_restore 恢复 pg_dump 做的备份。"));
        return false;
    }
    QString why;
    if (!IsUsableDatabaseFile(backupFile, &why)) {
        desk.prompts.message(QStringLiteral("不能使用这个文件：%1").arg(why));
        return false;
    }
    if (QFileInfo(backupFile) == QFileInfo(dm.ConnectionString())) {
        desk.prompts.message(QStringLiteral("这就是正在使用的数据库，不用恢复。"));
        return false;
    }
    const QString before = BeforeRestoreFile(desk);
    if (!desk.prompts.confirm(
            QStringLiteral("用备份“%1”恢复数据库吗？\n现在的机器、价格和营业记录会先另存为“%2”，"
                           "然后换成备份中的内容。恢复后请核对正在上机的机器。")
                .arg(QDir::toNativeSeparators(backupFile), QDir::toNativeSeparators(before))))
        return false;
    if (!QDir().mkpath(QFileInfo(before).absolutePath()) ||
        !BackupDatabase(dm.connectionName(), before, &why)) {
        desk.prompts.message(QStringLiteral("恢复前的备份没有成功，没有恢复：%1").arg(why));
        return false;
    }

    QSqlDatabase db = QSqlDatabase::database(dm.connectionName());
    {
        QSqlQuery attach(db);  // outside any transaction, as SQLite requires
        attach.prepare(QStringLiteral("attach database ? as restored"));
        attach.addBindValue(QFileInfo(backupFile).absoluteFilePath());
        if (!attach.exec()) {
            desk.prompts.message(QStringLiteral("没有恢复：%1").arg(DatabaseErrorText(attach.lastError())));
            return false;
        }
    }
    qint64 rowsBefore = 0, rowsRestored = 0;
    bool restored = false;
    {
        Transaction transaction(dm);
        JournalEntry entry;
        entry.kind = JournalKind::Restore;
        entry.flagged = true;
        restored = transaction.BeginWrite() && CopyRestored(db, &rowsBefore, &rowsRestored, &why);
        if (restored) {
            entry.note = QStringLiteral("从备份“%1”恢复：备份中有营业记录 %2 条，恢复前有 %3 条；"
                                        "恢复前的数据库另存为“%4”")
                             .arg(QFileInfo(backupFile).fileName())
                             .arg(rowsRestored)
                             .arg(rowsBefore)
                             .arg(QFileInfo(before).fileName());
            restored = AppendJournal(desk, entry) && transaction.Commit();
        }
        if (!restored) {
            if (why.isEmpty()) why = dm.LastError();
            transaction.Rollback();
        }
    }
    QSqlQuery(db).exec(QStringLiteral("detach database restored"));
    if (!restored) {
        desk.prompts.message(QStringLiteral("没有恢复，数据库没有改变：%1").arg(why));
        return false;
    }
    desk.RefreshSessionGrid();
    desk.prompts.message(
        QStringLiteral("已从备份恢复（营业记录 %1 条）。恢复前的数据库另存为“%2”。")
            .arg(rowsRestored)
            .arg(QDir::toNativeSeparators(before)));
    return true;
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
