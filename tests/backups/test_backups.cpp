#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "backups/Backup.h"
#include "support/Fixtures.h"

// Copies of the database file: consistent while another program writes, one a day kept for
// fourteen days, and only a usable file accepted.
namespace {

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
        QVERIFY(IsUsableDatabaseFile(env.dbPath(), &why));
    }
};

QTEST_GUILESS_MAIN(BackupsTest)

#include "test_backups.moc"
