#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "accounts/Accounts.h"
#include "backups/Backup.h"
#include "billing/Checkout.h"
#include "console/TForm1.h"
#include "console/TReport.h"
#include "ledger/Journal.h"
#include "support/Fixtures.h"

// cafe-admin, the owner's command line, run as a program on the desk's database.
namespace {

struct Ran {
    int code = -1;
    QString out, err;
};

Ran admin(const QStringList& arguments, const QString& home, const QByteArray& input = {}) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);  // its settings, never the tester's
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(CAFE_ADMIN), arguments);
    program.write(input);
    program.closeWriteChannel();
    if (!program.waitForFinished(60000)) return {};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
}

void settle(Env& env, const QString& machine, const QString& total) {
    env.addSession(machine, QStringLiteral("9:0:0"), total);
    env.resolver.table.insert(machine, 0x7F000001);
    env.desk->RefreshSessionGrid();
    if (!CheckOut(*env.desk, machine)) qFatal("checkout failed");
    env.prompts.take();
}

}  // namespace

class AdminTest : public QObject {
    Q_OBJECT

  private slots:
    // Accounts and seals from the command line, secrets on standard input only.
    void accountsAndSeals() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("3"));
        const QString home = env.path(QStringLiteral("home"));
        const QStringList db{QStringLiteral("--database"), env.dbPath()};
        Ran ran = admin(db + QStringList{"signin", "enable", "--owner", "老板"}, home,
                        "owner-pass-1\nowner-pass-2\n");
        QCOMPARE(ran.code, 2);  // typed differently
        ran = admin(db + QStringList{"signin", "enable", "--owner", "老板"}, home,
                    "owner-pass-1\nowner-pass-1\n");
        QCOMPARE(ran.code, 0);
        const QString fingerprint = ran.out.section(QStringLiteral("指纹："), 1).left(19);
        QVERIFY2(fingerprint.size() == 19, qPrintable(ran.out));
        ran = admin(db + QStringList{"operator", "add", "小王"}, home,
                    "wrong-password\n1234\n1234\n");
        QCOMPARE(ran.code, 1);
        ran = admin(db + QStringList{"operator", "add", "小王"}, home,
                    "owner-pass-1\n1234\n1234\n");
        QCOMPARE(ran.code, 0);
        ran = admin(db + QStringList{"operator", "list"}, home);
        QCOMPARE(ran.out, QStringLiteral("小王\tcashier\tenabled\n老板\towner\tenabled\n"));
        ran = admin(db + QStringList{"journal", "seal"}, home, "owner-pass-1\n");
        QCOMPARE(ran.code, 0);
        QVERIFY2(ran.out.contains(fingerprint), qPrintable(ran.out));
        QVERIFY(!(ran.out + ran.err).contains(QStringLiteral("owner-pass-1")));
        ran = admin(db + QStringList{"journal", "verify"}, home);
        QCOMPARE(ran.code, 0);
        QVERIFY(ran.out.contains(fingerprint));
        // The bill before the seal changed, and every hash after it made to fit again.
        env.sql(QStringLiteral("update Tjournal set tsum='0.5' where id=1"));
        QSqlQuery q(QSqlDatabase::database(env.module->connectionName(), false));
        QVERIFY(q.exec(QStringLiteral("select max(id) from Tjournal")) && q.next());
        const qint64 last = q.value(0).toLongLong();
        q.finish();  // no read left open for cafe-admin's writes to wait on
        QString prev = JournalSeed();
        for (qint64 id = 1; id <= last; ++id) {
            const auto rows = SelectJournal(*env.desk, QStringLiteral(" where id=:i"),
                                            {{QStringLiteral("i"), QString::number(id)}});
            JournalRow row = rows->front();
            row.prev = prev;
            row.hash = JournalHash(row);
            env.sql(QStringLiteral("update Tjournal set prev=?, hash=? where id=?"),
                    {row.prev, row.hash, id});
            prev = row.hash;
        }
        ran = admin(db + QStringList{"journal", "verify"}, home);
        QCOMPARE(ran.code, 4);
        QVERIFY2(ran.out.startsWith(QStringLiteral("店主封账不符")), qPrintable(ran.out));
        ran = admin(db + QStringList{"signin", "disable"}, home, "owner-pass-1\n");
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
    }

    // With sign-in on, an export needs the owner's password, as in the window; passwd gives a
    // cashier a new PIN, and the owner a new password with a new seal key.
    void theOwnersWordFromTheCommandLine() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("3"));
        const QString home = env.path(QStringLiteral("home"));
        const QStringList db{QStringLiteral("--database"), env.dbPath()};
        Ran ran = admin(db + QStringList{"signin", "enable", "--owner", "老板"}, home,
                        "owner-pass-1\nowner-pass-1\n");
        QCOMPARE(ran.code, 0);
        const QString before = ran.out.section(QStringLiteral("指纹："), 1).left(19);
        const QString csv = env.path(QStringLiteral("day.csv"));
        const QStringList report = db + QStringList{"report", "--from", "2026-12-09", "--to",
                                                    "2026-12-09", "--csv", csv};
        for (const QByteArray& typed : {QByteArray(), QByteArray("wrong-password\n")}) {
            ran = admin(report, home, typed);
            QVERIFY(ran.code != 0);
            QVERIFY(!QFile::exists(csv));
        }
        ran = admin(report, home, "owner-pass-1\n");
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
        QVERIFY(QFile::exists(csv));

        ran = admin(db + QStringList{"operator", "add", "小王"}, home, "owner-pass-1\n1234\n1234\n");
        QCOMPARE(ran.code, 0);
        ran = admin(db + QStringList{"operator", "passwd", "小王"}, home,
                    "owner-pass-1\n5678\n5678\n");
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
        QString pin = QStringLiteral("5678");
        QCOMPARE(SignIn(*env.desk, QStringLiteral("小王"), Secret(pin)).result, SignInResult::Ok);

        ran = admin(db + QStringList{"operator", "passwd", "老板"}, home,
                    "owner-pass-9\nowner-pass-2\nowner-pass-2\n");
        QCOMPARE(ran.code, 1);
        ran = admin(db + QStringList{"operator", "passwd", "老板"}, home,
                    "owner-pass-1\nowner-pass-2\nowner-pass-2\n");
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
        const QString after = ran.out.section(QStringLiteral("指纹："), 1).left(19);
        QVERIFY2(after.size() == 19 && after != before, qPrintable(ran.out));
        ran = admin(db + QStringList{"journal", "seal"}, home, "owner-pass-1\n");
        QCOMPARE(ran.code, 1);
        ran = admin(db + QStringList{"journal", "seal"}, home, "owner-pass-2\n");
        QCOMPARE(ran.code, 0);
        ran = admin(db + QStringList{"journal", "verify"}, home);
        QCOMPARE(ran.code, 0);
        QVERIFY2(ran.out.contains(after), qPrintable(ran.out));
    }

    // The same report, the same bytes as the window's 导出CSV.
    void reportCsvIsTheWindowsExport() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("0.1"));
        settle(env, QStringLiteral("pc,2"), QStringLiteral("0.2"));  // a comma to quote
        TForm1 form(*env.desk);
        TReport report(*env.desk, &form);
        env.chooser.saveAnswer = env.path(QStringLiteral("window.csv"));
        QTest::mouseClick(report.CsvButton, Qt::LeftButton);
        const Ran ran = admin({"--database", env.dbPath(), "report", "--from", "2026-12-09", "--to",
                               "2026-12-09", "--csv", env.path(QStringLiteral("admin.csv"))},
                              env.path(QStringLiteral("home")));
        QCOMPARE(ran.code, 0);
        QCOMPARE(ran.err, QString());
        QCOMPARE(ran.out.count(u'\n'), 1);
        QVERIFY(ran.out.contains(QStringLiteral("2 笔结账，合计 0.30 元")));
        QFile window(env.path(QStringLiteral("window.csv"))),
            admin(env.path(QStringLiteral("admin.csv")));
        QVERIFY(window.open(QIODevice::ReadOnly) && admin.open(QIODevice::ReadOnly));
        const QByteArray bytes = admin.readAll();
        QCOMPARE(bytes, window.readAll());
        QVERIFY(bytes.contains("\"pc,2\""));
    }

    void reportPdfAndOneDesk() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("3"));
        const QString pdf = env.path(QStringLiteral("day.pdf"));
        Ran ran = admin({"--database", env.dbPath(), "report", "--from", "2026-12-09", "--to",
                         "2026-12-09", "--desk", "前台", "--pdf", pdf},
                        env.path(QStringLiteral("home")));
        QCOMPARE(ran.code, 0);
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("%PDF-"));
        ran =
            admin({"--database", env.dbPath(), "report", "--from", "2026-12-09", "--to",
                   "2026-12-09", "--desk", "别的前台", "--csv", env.path(QStringLiteral("no.csv"))},
                  env.path(QStringLiteral("home")));
        QCOMPARE(ran.code, 0);
        QVERIFY(ran.out.contains(QStringLiteral("0 笔结账")));
    }

    // The start's check, with its exit codes: 0 intact, 3 altered, 1 unreadable.
    void journalVerify_data() {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("intact") << QString() << 0 << QStringLiteral("营业记录完好");
        QTest::newRow("a total edited")
            << QStringLiteral("update Tjournal set tsum='99' where id=2") << 3
            << QStringLiteral("第2条");
        QTest::newRow("a row deleted") << QStringLiteral("delete from Tjournal where id=1") << 3
                                       << QStringLiteral("营业记录已被改动");
        QTest::newRow("the journal gone")
            << QStringLiteral("drop table Tjournal") << 1 << QStringLiteral("营业记录无法读取");
    }
    void journalVerify() {
        QFETCH(QString, tamper);
        QFETCH(int, code);
        QFETCH(QString, says);
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("3"));
        settle(env, QStringLiteral("pc2"), QStringLiteral("4"));
        if (!tamper.isEmpty()) env.otherTool(tamper);
        const Ran ran = admin({"--database", env.dbPath(), "journal", "verify"},
                              env.path(QStringLiteral("home")));
        QCOMPARE(ran.code, code);
        QVERIFY2((ran.out + ran.err).contains(says), qPrintable(ran.out + ran.err));
        QCOMPARE((ran.out + ran.err).count(u'\n'), 1);
    }

    // The file ends before the row this computer wrote last (an older backup put back by
    // hand): said as such, with a status a script stops on, never as a file it cannot read.
    void aJournalShorterThanThisComputerWroteIsSaidSo() {
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("3"));
        const QString home = env.path(QStringLiteral("home"));
        const QByteArray where = QFileInfo(env.dbPath()).canonicalFilePath().toUtf8();
        {
            QSettings remembered(home + QStringLiteral("/.config/Qinglan/cafe-console.conf"),
                                 QSettings::IniFormat);
            remembered.setValue(
                QStringLiteral("console/journalHead/") +
                    QString::fromLatin1(
                        QCryptographicHash::hash(where, QCryptographicHash::Sha1).toHex()),
                QStringLiteral("9 0123abcd 2026-12-08 21:30:00"));
        }
        const Ran ran = admin({"--database", env.dbPath(), "journal", "verify"}, home);
        QCOMPARE(ran.code, 3);
        QVERIFY2(ran.out.contains(QStringLiteral("比本机写入的少")) &&
                     ran.out.contains(QStringLiteral("2026-12-08 21:30:00")),
                 qPrintable(ran.out + ran.err));
    }

    void backupMakesAConsistentCopy() {
        Env env;
        env.addMachine(QStringLiteral("pc1"));
        const QString copy = env.path(QStringLiteral("copy.db"));
        const Ran ran =
            admin({"--database", env.dbPath(), "backup", copy}, env.path(QStringLiteral("home")));
        QCOMPARE(ran.code, 0);
        QString why;
        QVERIFY2(IsUsableDatabaseFile(copy, &why), qPrintable(why));
    }

    // One line on stderr and a non-zero status for what is not understood or not there.
    void mistakesSayWhyInOneLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("no command") << QStringList{} << 2 << QStringLiteral("要写一个命令");
        QTest::newRow("unknown command")
            << QStringList{"frobnicate"} << 2 << QStringLiteral("未知的命令：frobnicate");
        QTest::newRow("unknown option")
            << QStringList{"--frob", "backup", "x"} << 2 << QStringLiteral("未知的选项：--frob");
        QTest::newRow("report without a file")
            << QStringList{"report", "--from", "2026-12-01", "--to", "2026-12-02"} << 2
            << QStringLiteral("--csv");
        QTest::newRow("report with both files")
            << QStringList{"report", "--from", "2026-12-01", "--to", "2026-12-02",
                           "--csv",  "a",      "--pdf",      "b"}
            << 2 << QStringLiteral("二者选一");
        QTest::newRow("a date that is not one")
            << QStringList{"report", "--from", "2026-13-01", "--to", "2026-12-02", "--csv", "a"}
            << 2 << QStringLiteral("年-月-日");
        QTest::newRow("days the wrong way round")
            << QStringList{"report", "--from", "2026-12-03", "--to", "2026-12-02", "--csv", "a"}
            << 2 << QStringLiteral("开始日期不能晚于结束日期");
        QTest::newRow("backup without a file")
            << QStringList{"backup"} << 2 << QStringLiteral("文件名");
        QTest::newRow("no database") << QStringList{"--database", "nothere.db", "journal", "verify"}
                                     << 1 << QStringLiteral("无法打开数据库文件");
    }
    void mistakesSayWhyInOneLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, says);
        Env env;
        QStringList full = arguments;
        if (!full.contains(QStringLiteral("--database")) &&
            !full.startsWith(QStringLiteral("--frob")))
            full = QStringList{"--database", env.dbPath()} + full;
        const Ran ran = admin(full, env.path(QStringLiteral("home")));
        QCOMPARE(ran.code, code);
        QVERIFY2(ran.err.contains(says), qPrintable(ran.err));
        QCOMPARE(ran.err.count(u'\n'), 1);
        QCOMPARE(ran.out, QString());
        QVERIFY(!QFile::exists(env.path(QStringLiteral("nothere.db"))));  // never made
    }

    void helpInChineseWithoutADisplay() {
        QTemporaryDir home;
        const Ran ran = admin({"--help"}, home.path());
        QCOMPARE(ran.code, 0);
        QVERIFY(ran.out.startsWith(QStringLiteral("用法：cafe-admin")));
        for (const char* command : {"report --from", "journal verify", "backup 文件"})
            QVERIFY(ran.out.contains(QString::fromUtf8(command)));
        QCOMPARE(admin({"--version"}, home.path()).out,
                 QStringLiteral("cafe-admin " CAFE_VERSION "\n"));
    }
};

int runAdminTest(int argc, char** argv) {
    AdminTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_admin.moc"
