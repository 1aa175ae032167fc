#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "backups/Backup.h"
#include "billing/ExtraCharge.h"
#include "ledger/Journal.h"
#include "support/Fixtures.h"

// Copies of the database file: consistent while another program writes, one a day kept for
// fourteen days, a copy cut short removed, a restore recorded, and only a usable file accepted.
namespace {

void session(Env& env, const QString& name, const QString& start, const QString& sum = "0") {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, ?, ?, '0', '0元', '0', ?, '', '正常')"),
            {name, start, start, sum});
}

QStringList rowsOf(const QString& path) {
    const QString name = QStringLiteral("copy-%1").arg(path);
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("select username, Tsum, Cstate from Tcount order by username"));
            while (q.next())
                rows << q.value(0).toString() + QLatin1Char('|') + q.value(1).toString() +
                            QLatin1Char('|') + q.value(2).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

}  // namespace

class BackupsTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void backupIsAConsistentCopyWhileAnotherWriterWorks() {
        if (TestEngine::Postgres()) QSKIP("a server database is backed up with pg_dump");
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("9:0:0"), QStringLiteral("1"));
        env.addSession(QStringLiteral("b"), QStringLiteral("9:0:0"), QStringLiteral("2"));
        const QStringList committed = rowsOf(env.dbPath());
        OtherProgram other(env.dbPath());
        other.holdWrite();
        other.exec(QStringLiteral("update Tcount set Tsum='99'"));  // written, not committed
        const QString copy = env.path(QStringLiteral("copy.db"));
        QString why;
        QVERIFY2(BackupDatabase(env.module->connectionName(), copy, &why), qPrintable(why));
        other.release();
        QCOMPARE(rowsOf(copy), committed);
        QVERIFY(IsUsableDatabaseFile(copy, &why));
        // A second copy over the first replaces it whole.
        env.sql(QStringLiteral("update Tcount set Tsum='5'"));
        QVERIFY(BackupDatabase(env.module->connectionName(), copy, &why));
        QCOMPARE(rowsOf(copy), rowsOf(env.dbPath()));
    }

    void dailyBackupKeepsTheLastFourteen() {
        if (TestEngine::Postgres()) QSKIP("a server database is backed up with pg_dump");
        Env env;
        QDir backup(env.path(QStringLiteral("backup")));
        QVERIFY(QDir().mkpath(backup.path()));
        for (int i = 1; i <= 20; ++i) {
            QFile old(backup.filePath(
                QStringLiteral("count-%1.db").arg(QDate(2026, 11, i).toString(Qt::ISODate))));
            QVERIFY(old.open(QIODevice::WriteOnly));
        }
        QFile other(backup.filePath(QStringLiteral("notes.txt")));  // not ours: left alone
        QVERIFY(other.open(QIODevice::WriteOnly));
        const DailyBackupResult first =
            DailyBackup(env.module->connectionName(), env.dbPath(), QDate(2026, 12, 9));
        QVERIFY2(first.made, qPrintable(first.error));
        QCOMPARE(first.file, backup.filePath(QStringLiteral("count-2026-12-09.db")));
        QVERIFY(IsUsableDatabaseFile(first.file, nullptr));
        const QStringList kept =
            backup.entryList({QStringLiteral("count-*.db")}, QDir::Files, QDir::Name);
        QCOMPARE(kept.size(), 14);
        QCOMPARE(kept.first(), QStringLiteral("count-2026-11-08.db"));
        QVERIFY(backup.exists(QStringLiteral("notes.txt")));
        QVERIFY(!DailyBackup(env.module->connectionName(), env.dbPath(), QDate(2026, 12, 9)).made);
    }

    void aCopyCutShortIsRemovedAtTheNextStartWhateverTheDay() {
        if (TestEngine::Postgres()) QSKIP("a server database is backed up with pg_dump");
        Env env;
        QDir backup(env.path(QStringLiteral("backup")));
        QVERIFY(QDir().mkpath(backup.path()));
        QVERIFY(DailyBackup(env.module->connectionName(), env.dbPath(), QDate(2026, 12, 9)).made);
        for (const char* left : {"count-2026-12-09.db.part", "count-2026-11-30.db.part"}) {
            QFile part(backup.filePath(QString::fromLatin1(left)));
            QVERIFY(part.open(QIODevice::WriteOnly));
            part.write("half a copy");
        }
        // Today's copy is there already: nothing is copied, the remains still go.
        QVERIFY(!DailyBackup(env.module->connectionName(), env.dbPath(), QDate(2026, 12, 9)).made);
        QCOMPARE(backup.entryList({QStringLiteral("*.part")}, QDir::Files), QStringList());
        QVERIFY(backup.exists(QStringLiteral("count-2026-12-09.db")));
    }

    // 从备份恢复: the backup's machines, prices and journal replace the file's, the file as it was
    // is kept, and the restore is a journal row that this desk remembers as its last.
    void restoringABackupIsRecordedAndNotTakenForTampering() {
        Env env;
        session(env, QStringLiteral("a"), QStringLiteral("9:0:0"), QStringLiteral("1"));
        for (const char* amount : {"1", "2", "3"})
            QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("a"), QString::fromLatin1(amount)),
                     ChargeOutcome::Added);
        env.prompts.take();
        if (env.postgres()) {
            QVERIFY(!RestoreBackup(*env.desk, env.path(QStringLiteral("any.db"))));
            const QStringList boxes = env.prompts.take();
            QCOMPARE(boxes.size(), 1);
            QVERIFY(boxes[0].contains(QStringLiteral("pg_restore")));
            return;
        }
        const QString copy = env.path(QStringLiteral("saved.db"));
        QString why;
        QVERIFY2(BackupDatabase(env.module->connectionName(), copy, &why), qPrintable(why));
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("a"), QStringLiteral("4")),
                 ChargeOutcome::Added);
        session(env, QStringLiteral("b"), QStringLiteral("9:30:0"));
        env.prompts.take();

        env.prompts.answers = {false};  // No: nothing changes
        QVERIFY(!RestoreBackup(*env.desk, copy));
        QCOMPARE(env.count(), 2);
        env.prompts.take();

        env.prompts.answers = {true};
        QVERIFY(RestoreBackup(*env.desk, copy));
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 2);  // the question, then what was done
        QVERIFY(boxes[1].startsWith(QStringLiteral("message|已从备份恢复")));
        QCOMPARE(env.count(), 1);  // b came after the backup
        QCOMPARE(env.field("a", "Tother"), QStringLiteral("6"));
        const auto rows = ReadJournal(*env.desk, QDateTime(QDate(2000, 1, 1), QTime()),
                                      QDateTime(QDate(2100, 1, 1), QTime()));
        QCOMPARE(rows->size(), size_t(4));
        const JournalRow& restore = rows->back();
        QCOMPARE(restore.entry.kind, QStringLiteral("恢复备份"));
        QVERIFY(restore.entry.flagged);
        QVERIFY2(restore.entry.note.contains(QStringLiteral("备份中有营业记录 3 条，恢复前有 4 条")),
                 qPrintable(restore.entry.note));
        QCOMPARE(env.desk->JournalHead().id, qint64(4));  // the head moved to the restore
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
        // The file as it was before the restore is kept beside it, whole.
        const QStringList kept = QDir(env.path(QStringLiteral("backup")))
                                     .entryList({QStringLiteral("count-恢复前-*.db")}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(rowsOf(env.path(QStringLiteral("backup/")) + kept[0]).size(), 2);
    }

    void onlyUsableFilesCanBeChosen() {
        if (TestEngine::Postgres()) QSKIP("about database files");
        Env env;
        QString why;
        QVERIFY(!IsUsableDatabaseFile(env.path(QStringLiteral("missing.db")), &why));
        QCOMPARE(why, QStringLiteral("文件不存在"));
        QFile text(env.path(QStringLiteral("notes.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a database at all, just words");
        text.close();
        QVERIFY(!IsUsableDatabaseFile(text.fileName(), &why));
        QVERIFY2(why.startsWith(QStringLiteral("文件已损坏")), qPrintable(why));
        QVERIFY(IsUsableDatabaseFile(env.dbPath(), &why));
    }
};

QTEST_GUILESS_MAIN(BackupsTest)

#include "test_backups.moc"
