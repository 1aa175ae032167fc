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

#include "backups/Backup.h"
#include "billing/Checkout.h"
#include "console/TForm1.h"
#include "console/TReport.h"
#include "support/Fixtures.h"

// cafe-admin, the owner's command line, run as a program on the desk's database.
namespace {

struct Ran {
    int code = -1;
    QString out, err;
};

Ran run(const QString& binary, const QStringList& arguments, const QString& home) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);  // its settings, never the tester's
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    program.setProcessEnvironment(env);
    program.start(binary, arguments);
    if (!program.waitForFinished(60000)) return {};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
}

Ran admin(const QStringList& arguments, const QString& home) {
    return run(QStringLiteral(CAFE_ADMIN), arguments, home);
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

    // The whole chain's check, with its exit codes: 0 intact, 3 altered, 1 unreadable; the
    // console's --verify answers as cafe-admin does.
    void journalVerify_data() {
        QTest::addColumn<bool>("console");
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        for (const bool console : {false, true}) {
            const char* program = console ? "cafe-console --verify: " : "cafe-admin: ";
            const auto row = [&](const char* name) -> QTestData& {
                return QTest::addRow("%s%s", program, name) << console;
            };
            row("intact") << QString() << 0 << QStringLiteral("营业记录完好");
            row("a total edited") << QStringLiteral("update Tjournal set tsum='99' where id=2") << 3
                                  << QStringLiteral("第2条");
            row("a row deleted") << QStringLiteral("delete from Tjournal where id=1") << 3
                                 << QStringLiteral("营业记录已被改动");
            row("the journal gone")
                << QStringLiteral("drop table Tjournal") << 1 << QStringLiteral("营业记录无法读取");
        }
    }
    void journalVerify() {
        QFETCH(bool, console);
        QFETCH(QString, tamper);
        QFETCH(int, code);
        QFETCH(QString, says);
        Env env;
        settle(env, QStringLiteral("pc1"), QStringLiteral("3"));
        settle(env, QStringLiteral("pc2"), QStringLiteral("4"));
        if (!tamper.isEmpty()) env.otherTool(tamper);
        const QString home = env.path(QStringLiteral("home"));
        const Ran ran =
            console ? run(QStringLiteral(CAFE_CONSOLE), {"--verify", "--database", env.dbPath()}, home)
                    : admin({"--database", env.dbPath(), "journal", "verify"}, home);
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
