#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "accounts/Accounts.h"
#include "backups/Backup.h"
#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/SessionStart.h"
#include "console/TForm1.h"
#include "console/TReport.h"
#include "ledger/Journal.h"
#include "packages/Packages.h"
#include "plans/Plans.h"
#include "support/AccountFixtures.h"
#include "support/LedgerFixtures.h"
#include "support/TestPlan.h"

// cafe-admin, the owner's command line, run as a program on the desk's database.
namespace {

struct Ran {
    int code = -1;
    QString out, err;
};

Ran run(const QString& binary, const QStringList& arguments, const QString& home,
        const QByteArray& input = {}) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);  // its settings, never the tester's
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    program.setProcessEnvironment(env);
    program.start(binary, arguments);
    program.write(input);
    program.closeWriteChannel();
    if (!program.waitForFinished(60000)) return {};
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            QString::fromUtf8(program.readAllStandardOutput()),
            QString::fromUtf8(program.readAllStandardError())};
}

Ran admin(const QStringList& arguments, const QString& home, const QByteArray& input = {}) {
    return run(QStringLiteral(CAFE_ADMIN), arguments, home, input);
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
        // The console's check shows the fingerprint too: seals made again with another key hold.
        ran = run(QStringLiteral(CAFE_CONSOLE), {"--verify", "--database", env.dbPath()}, home);
        QCOMPARE(ran.code, 0);
        QVERIFY2(ran.out.contains(QStringLiteral("次店主封账都对得上，公钥指纹 ") + fingerprint),
                 qPrintable(ran.out));
        // The bill before the seal changed, its total in fen with it, and every hash after it
        // made to fit again.
        env.sql(QStringLiteral("update Tjournal set tsum='0.5', total_fen=50 where id=1"));
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
            row("a report's kept sum made up")
                << QStringLiteral("insert into Tsumhour (day, desk, hour, n, fen) values "
                                  "('2026-12-09', '前台', '10', 1, 100)")
                << 3 << QStringLiteral("报表的合计记录与营业记录不符");
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
        for (const char* command : {"report --from", "journal verify", "backup 文件",
                                    "prices export", "prices import 文件", "prices off",
                                    "bill [--zone 区域]", "[--package 包时]", "packages export",
                                    "packages import 文件"})
            QVERIFY(ran.out.contains(QString::fromUtf8(command)));
        QCOMPARE(admin({"--version"}, home.path()).out,
                 QStringLiteral("cafe-admin " CAFE_VERSION "\n"));
    }
};

namespace {

QString write(Env& env, const char* name, const QByteArray& bytes) {
    QFile file(env.path(QString::fromUtf8(name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", name);
    return file.fileName();
}

Ran adminOn(Env& env, const QStringList& arguments, const QByteArray& input = {}) {
    return admin(QStringList{"--database", env.connectionText()} + arguments,
                 env.path(QStringLiteral("home")), input);
}

QString tariffRate(Env& env) {
    Query* q = env.module->ADOQuery3;
    q->Close();
    q->SetSql(QStringLiteral("select OneTime from Tmoney"));
    return q->Open() ? q->FieldText(QStringLiteral("OneTime")) : QStringLiteral("?");
}

}  // namespace

// cafe-admin's price commands, on both engines: the plan copied from one café to another, an
// import refused whole, the preview equal to what the pass bills.
class PlanAdminTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS
    void cleanupTestCase() { TestEngine::Reset(); }

    void planCopiedToAnotherBranchAndTurnedOff() {
        QTemporaryDir carried;
        const QString copy = carried.filePath(QStringLiteral("plan.json"));
        QByteArray exported;
        {
            Env shop;
            const QString file = write(shop, "plan.json", kTestPlan);
            Ran ran = adminOn(shop, {"prices", "import", file, "--from", "2030-01-01 08:00"});
            QCOMPARE(ran.code, 0);
            QCOMPARE(ran.out, QStringLiteral("价格方案已导入，自 2030-01-01 08:00 起生效\n"));
            QCOMPARE(JournalRowsOf(shop, JournalKind::PlanChange), 1);
            ran = adminOn(shop, {"prices", "export"});
            QCOMPARE(ran.code, 0);
            exported = ran.out.toUtf8();
            PlanProblem problem;
            QCOMPARE(exported, PlanToJson(*PlanFromJson(kTestPlan, &problem)));
            ran = adminOn(shop, {"prices", "export", copy});
            QCOMPARE(ran.code, 0);
            QCOMPARE(ran.out.count(u'\n'), 1);
        }
        Env branch;
        Ran ran = adminOn(branch, {"prices", "import", copy});
        QCOMPARE(ran.code, 0);
        QCOMPARE(adminOn(branch, {"prices", "export"}).out.toUtf8(), exported);
        QCOMPARE(tariffRate(branch), QStringLiteral("3"));  // the default zone's usual rate

        ran = adminOn(branch, {"prices", "off"});
        QCOMPARE(ran.code, 0);
        QVERIFY(ran.out.startsWith(QStringLiteral("价格方案已停用")));
        QCOMPARE(JournalRowsOf(branch, JournalKind::PlanChange), 2);
        ran = adminOn(branch, {"prices", "export"});
        QCOMPARE(ran.code, 1);
        QVERIFY(ran.err.contains(QStringLiteral("现在没有价格方案")));
        QCOMPARE(ran.out, QString());
        ran = adminOn(branch, {"prices", "off"});  // nothing to turn off: no row
        QCOMPARE(ran.code, 0);
        QCOMPARE(JournalRowsOf(branch, JournalKind::PlanChange), 2);
    }

    // Under sign-in a plan is the owner's: nothing changes without the password, and each
    // change names the owner who allowed it.
    void pricesAreTheOwnersUnderSignIn() {
        Env env;
        TurnOnSignIn(env, QStringLiteral("owner-pass-1"), QStringLiteral("1234"));
        const QString owner = FindAccount(*env.desk, QStringLiteral("老板"))->id;
        const QStringList import{"prices", "import", write(env, "plan.json", kTestPlan)};
        for (const QByteArray& typed : {QByteArray(), QByteArray("wrong-pass-1\n")}) {
            const Ran ran = adminOn(env, import, typed);
            QCOMPARE(ran.code, 1);
            QCOMPARE(ran.out, QString());
            QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 0);
        }
        QCOMPARE(adminOn(env, import, "owner-pass-1\n").code, 0);
        QCOMPARE(adminOn(env, {"prices", "off"}, "wrong-pass-1\n").code, 1);
        QVERIFY(SavedPlan(*env.desk));
        QCOMPARE(adminOn(env, {"prices", "off"}, "owner-pass-1\n").code, 0);
        QVERIFY(!SavedPlan(*env.desk));
        QStringList approvers;
        for (const JournalRow& row : AllJournalRows(env))
            if (row.entry.kind == JournalKind::PlanChange) approvers << row.approver;
        QCOMPARE(approvers, (QStringList{owner, owner}));
    }

    // Whatever is wrong, one line says what, and nothing is written.
    void importRefusedChangesNothing_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QByteArray gap = kTestPlan;
        gap.replace(R"("from": "22:00", "to": "24:00", "hourly": "2")",
                    R"("from": "22:00", "to": "23:30", "hourly": "2")");
        QByteArray overlap = kTestPlan;
        overlap.replace(R"("from": "08:00", "to": "22:00")", R"("from": "07:00", "to": "22:00")");
        QByteArray strayMachine = kTestPlan;
        strayMachine.replace(R"("pc07": "电竞区")", R"("pc07": "包间")");
        const QStringList plain{"prices", "import", "PLAN"};
        QTest::newRow("a gap")
            << gap << plain << 1
            << QStringLiteral("区域“普通区”，周一(mon)，23:30–24:00 没有价格（空档）");
        QTest::newRow("an overlap")
            << overlap << plain << 1
            << QStringLiteral("区域“普通区”，周一(mon)，07:00–08:00 有2个价格（重叠）");
        QTest::newRow("a machine in no zone")
            << strayMachine << plain << 1 << QStringLiteral("机器“pc07”的区域“包间”不在方案中");
        QTest::newRow("not json") << QByteArray("{\"zones\": [") << plain << 1
                                  << QStringLiteral("不是价格方案的 JSON");
        QTest::newRow("no such file") << kTestPlan << QStringList{"prices", "import", "nothere.json"}
                                      << 1 << QStringLiteral("无法读取文件“nothere.json”");
        QTest::newRow("a start that is not one")
            << kTestPlan << QStringList{"prices", "import", "PLAN", "--from", "2027-01-01"} << 2
            << QStringLiteral("--from 要写成");
        QTest::newRow("no file") << kTestPlan << QStringList{"prices", "import"} << 2
                                 << QStringLiteral("要写一个文件名");
    }
    void importRefusedChangesNothing() {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, says);
        Env env;
        arguments.replaceInStrings(QStringLiteral("PLAN"),
                                   write(env, "plan.json", json));
        const Ran ran = adminOn(env, arguments);
        QCOMPARE(ran.code, code);
        QVERIFY2(ran.err.contains(says), qPrintable(ran.err));
        QCOMPARE(ran.err.count(u'\n'), 1);
        QCOMPARE(ran.out, QString());
        QCOMPARE(JournalRowsOf(env, JournalKind::PlanChange), 0);
        QVERIFY(!SavedPlan(*env.desk));
        QCOMPARE(tariffRate(env), QStringLiteral("2"));
    }

    // `bill` is the pass's own computation: the same session, the same amount, slot by slot.
    void billEqualsThePass_data() {
        QTest::addColumn<QString>("machine");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("total");
        QTest::addColumn<int>("slotCount");
        // 2026-12-09 is a Wednesday, 2026-12-12 a Saturday.
        QTest::newRow("across the 08:00 band") << "pc01" << "普通区" << "2026-12-09 06:30"
                                               << "2026-12-09 09:10" << "7" << 2;
        QTest::newRow("a weekend in 电竞区") << "pc07" << "电竞区" << "2026-12-12 00:50"
                                            << "2026-12-12 03:10" << "18.7" << 2;
    }
    void billEqualsThePass() {
        QFETCH(QString, machine);
        QFETCH(QString, zone);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, total);
        QFETCH(int, slotCount);
        Env env;
        env.addMachine(machine);
        env.resolver.table.insert(machine, 0x7F000001);
        env.clock.date = QDate(2026, 12, 1);
        PlanProblem problem;
        QString why;
        QVERIFY2(SavePlan(*env.desk, *PlanFromJson(kTestPlan, &problem), {}, &why), qPrintable(why));
        const QDateTime from = ParsePlanDateTime(start), to = ParsePlanDateTime(end);
        env.clock.date = from.date();
        env.clock.time = from.time();
        env.desk->SelectedMachine = machine;
        env.desk->Guard([&] { StartSession(*env.desk); });
        env.clock.date = to.date();
        env.clock.time = to.time().addSecs(20);  // seconds do not count
        env.desk->Guard([&] { BillingPass(*env.desk); });
        QCOMPARE(env.field(machine, QStringLiteral("Tmoney")), total + QStringLiteral("元"));

        Ran ran = adminOn(env, {"bill", "--zone", zone, "--start", start, "--end", end, "--json"});
        QCOMPARE(ran.code, 0);
        const QJsonObject bill = QJsonDocument::fromJson(ran.out.toUtf8()).object();
        QCOMPARE(bill.value(QStringLiteral("total")).toString(), total);
        QCOMPARE(bill.value(QStringLiteral("used")).toString(), env.field(machine, "Stime"));
        const QJsonArray runs = bill.value(QStringLiteral("slots")).toArray();
        QCOMPARE(runs.size(), slotCount);
        QCOMPARE(runs.first().toObject().value(QStringLiteral("from")).toString(), start);
        QCOMPARE(runs.last().toObject().value(QStringLiteral("to")).toString(), end);
        ran = adminOn(env, {"bill", "--zone", zone, "--start", start, "--end", end});
        QCOMPARE(ran.code, 0);
        QCOMPARE(ran.out.count(u'\n'), slotCount + 1);
        QVERIFY2(ran.out.endsWith(QStringLiteral("上网费用 %1元\n").arg(total)), qPrintable(ran.out));
    }

    // Without a plan: Tmoney's rate by the part-hour bands, whatever zone is named.
    void billWithoutAPlan() {
        Env env;
        const Ran ran = adminOn(env, {"bill", "--zone", "电竞区", "--start", "2026-12-09 10:00",
                                      "--end", "2026-12-09 11:10", "--json"});
        QCOMPARE(ran.code, 0);
        QCOMPARE(ran.out,
                 QStringLiteral(
                     R"({"slots":[{"amount":"2","from":"2026-12-09 10:00","rate":"2","to":"2026-12-09 11:00"},)"
                     R"({"amount":"0.7","from":"2026-12-09 11:00","rate":"2","to":"2026-12-09 11:10"}],"total":"2.7","used":"1时10分"})"
                     "\n"));
    }

    void billMistakes_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("a zone the plan has not")
            << QStringList{"--zone", "包间", "--start", "2026-12-09 10:00", "--end",
                           "2026-12-09 11:00"}
            << QStringLiteral("区域“包间”不在 2026-12-01 10:00 起的价格方案中（有：普通区、电竞区）");
        QTest::newRow("the end before the start")
            << QStringList{"--start", "2026-12-09 10:00", "--end", "2026-12-09 09:59"}
            << QStringLiteral("结束时间不能早于开始时间");
        QTest::newRow("a start without a time")
            << QStringList{"--start", "2026-12-09", "--end", "2026-12-09 11:00"}
            << QStringLiteral("--start 要写成");
        QTest::newRow("no end") << QStringList{"--start", "2026-12-09 10:00"}
                                << QStringLiteral("要写 --start 和 --end");
    }
    void billMistakes() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        Env env;
        env.clock.date = QDate(2026, 12, 1);
        PlanProblem problem;
        QString why;
        QVERIFY2(SavePlan(*env.desk, *PlanFromJson(kTestPlan, &problem), {}, &why), qPrintable(why));
        const Ran ran = adminOn(env, QStringList{"bill"} + arguments);
        QCOMPARE(ran.code, 2);
        QVERIFY2(ran.err.startsWith(QStringLiteral("cafe-admin: ") + says), qPrintable(ran.err));
        QCOMPARE(ran.err.count(u'\n'), 1);
        QCOMPARE(ran.out, QString());
    }
};

namespace {

void SavePlanAndCatalogue(Env& env) {
    env.clock.date = QDate(2026, 12, 1);
    PlanProblem read;
    QString why;
    QVERIFY2(SavePlan(*env.desk, *PlanFromJson(kTestPlan, &read), {}, &why), qPrintable(why));
    QVERIFY2(SaveCatalogue(*env.desk, *CatalogueFromJson(kTestCatalogue, &why), {"普通区", "电竞区"},
                           &why),
             qPrintable(why));
}

}  // namespace

// cafe-admin's package commands, on both engines: the catalogue carried to another branch, an
// import refused whole, and `bill --package` equal to what the checkout takes.
class PackageAdminTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS
    void cleanupTestCase() { TestEngine::Reset(); }

    void catalogueCopiedToAnotherBranch() {
        QTemporaryDir carried;
        const QString copy = carried.filePath(QStringLiteral("packages.json"));
        QByteArray exported;
        {
            Env shop;
            SavePlanAndCatalogue(shop);
            Ran ran = adminOn(shop, {"packages", "export"});
            QCOMPARE(ran.code, 0);
            exported = ran.out.toUtf8();
            QString problem;
            QCOMPARE(exported, CatalogueToJson(*CatalogueFromJson(kTestCatalogue, &problem)));
            ran = adminOn(shop, {"packages", "export", copy});
            QCOMPARE(ran.code, 0);
            QCOMPARE(ran.out, QStringLiteral("包时目录已导出到“%1”（3 种包时）\n").arg(copy));
        }
        Env branch;
        branch.clock.date = QDate(2026, 12, 1);
        Ran ran = adminOn(branch, {"packages", "export"});
        QCOMPARE(ran.code, 1);
        QVERIFY2(ran.err.contains(QStringLiteral("还没有包时目录")), qPrintable(ran.err));
        QCOMPARE(adminOn(branch, {"prices", "import", write(branch, "plan.json", kTestPlan)}).code, 0);
        ran = adminOn(branch, {"packages", "import", copy});
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
        QCOMPARE(ran.out, QStringLiteral("包时目录已导入：3 种包时\n"));
        QCOMPARE(adminOn(branch, {"packages", "export"}).out.toUtf8(), exported);
        QCOMPARE(JournalRowsOf(branch, JournalKind::PackageCatalogue), 1);
        QCOMPARE(StoredCatalogue(*branch.desk)->packages.size(), size_t(3));
    }

    // Whatever is wrong, one line says what, and the catalogue in use stays as it was.
    void importRefusedChangesNothing_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("says");
        QByteArray free = kTestCatalogue;
        free.replace(R"("price": "4")", R"("price": "0")");
        QByteArray stray = kTestCatalogue;
        stray.replace(R"("name": "包夜", "zones": ["普通区"])", R"("name": "包夜", "zones": ["包间"])");
        QByteArray twice = kTestCatalogue;
        twice.replace(R"("name": "一小时锁")", R"("name": "三小时")");
        QTest::newRow("a price of nothing") << free << QStringLiteral("包时“一小时锁”：价格必须是大于0");
        QTest::newRow("a zone the plan has not")
            << stray << QStringLiteral("包时“包夜”：区域“包间”不在价格方案里");
        QTest::newRow("a name twice") << twice << QStringLiteral("包时“三小时”：名称重复");
        QTest::newRow("not json") << QByteArray(R"({"packages": [)") << QString();
    }
    void importRefusedChangesNothing() {
        QFETCH(QByteArray, json);
        QFETCH(QString, says);
        Env env;
        SavePlanAndCatalogue(env);
        Catalogue one;
        one.packages.push_back(StoredCatalogue(*env.desk)->packages.front());
        QString why;
        QVERIFY(SaveCatalogue(*env.desk, one, {"普通区"}, &why));
        const QByteArray before = CatalogueToJson(*StoredCatalogue(*env.desk));
        const Ran ran = adminOn(env, {"packages", "import", write(env, "packages.json", json)});
        QCOMPARE(ran.code, 1);
        QVERIFY2(ran.err.startsWith(QStringLiteral("cafe-admin: 包时目录没有导入，什么也没有改：") + says),
                 qPrintable(ran.err));
        QCOMPARE(ran.err.count(u'\n'), 1);
        QCOMPARE(ran.out, QString());
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageCatalogue), 2);
        QCOMPARE(CatalogueToJson(*StoredCatalogue(*env.desk)), before);
    }

    // Without a plan no package could ever be sold: the import says so.
    void importWithoutAPlanIsRefused() {
        Env env;
        const Ran ran =
            adminOn(env, {"packages", "import", write(env, "packages.json", kTestCatalogue)});
        QCOMPARE(ran.code, 1);
        QVERIFY2(ran.err.contains(QStringLiteral("现在没有价格方案")), qPrintable(ran.err));
        QCOMPARE(StoredCatalogue(*env.desk)->packages.size(), size_t(0));
        QCOMPARE(JournalRowsOf(env, JournalKind::PackageCatalogue), 0);
    }

    void importIsTheOwnersUnderSignIn() {
        Env env;
        env.clock.date = QDate(2026, 12, 1);
        PlanProblem read;
        QString why;
        QVERIFY(SavePlan(*env.desk, *PlanFromJson(kTestPlan, &read), {}, &why));
        TurnOnSignIn(env, QStringLiteral("owner-pass-1"), QStringLiteral("1234"));
        const QString owner = FindAccount(*env.desk, QStringLiteral("老板"))->id;
        const QStringList import{"packages", "import", write(env, "packages.json", kTestCatalogue)};
        for (const QByteArray& typed : {QByteArray(), QByteArray("wrong-pass-1\n")}) {
            const Ran ran = adminOn(env, import, typed);
            QCOMPARE(ran.code, 1);
            QCOMPARE(ran.out, QString());
            QCOMPARE(JournalRowsOf(env, JournalKind::PackageCatalogue), 0);
        }
        QCOMPARE(StoredCatalogue(*env.desk)->packages.size(), size_t(0));
        const Ran ran = adminOn(env, import, "owner-pass-1\n");
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
        QCOMPARE(StoredCatalogue(*env.desk)->packages.size(), size_t(3));
        QStringList approvers;
        for (const JournalRow& row : AllJournalRows(env))
            if (row.entry.kind == JournalKind::PackageCatalogue) approvers << row.approver;
        QCOMPARE(approvers, QStringList{owner});
    }

    // The preview is the checkout: the same package sold at the start and the machine checked
    // out at the end take what `bill --package` says, the refund as its own row.
    void billWithAPackageIsTheCheckout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("due");
        QTest::addColumn<QString>("refund");
        // 2026-12-11 is a Friday: 普通区 bills 3 by day, 2 after 22:00; 4 on Saturday.
        QTest::newRow("early, pro rata") << "三小时" << "2026-12-11 14:03" << "2026-12-11 15:00"
                                         << "0" << "6.8";
        QTest::newRow("an hour and 7 after its end") << "三小时" << "2026-12-11 14:03"
                                                     << "2026-12-11 18:10" << "4" << "0";
        QTest::newRow("locked: nothing after") << "一小时锁" << "2026-12-11 14:03"
                                               << "2026-12-11 16:30" << "0" << "0";
        QTest::newRow("a night into Saturday") << "包夜" << "2026-12-11 21:30"
                                              << "2026-12-12 09:15" << "5.3" << "0";
    }
    void billWithAPackageIsTheCheckout() {
        QFETCH(QString, name);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, due);
        QFETCH(QString, refund);
        Env env;
        InstallPackageHooks(*env.desk);
        SavePlanAndCatalogue(env);
        const QString machine = QStringLiteral("pc01");
        env.addMachine(machine);
        env.resolver.table.insert(machine, 0x7F000001);
        const QDateTime from = ParsePlanDateTime(start), to = ParsePlanDateTime(end);
        env.clock.date = from.date();
        env.clock.time = from.time();
        QVERIFY(SellPackage(*env.desk, machine, name, SaleContextFor(*env.desk, machine)));
        env.clock.date = to.date();
        env.clock.time = to.time();
        env.desk->Guard([&] { BillingPass(*env.desk); });
        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, machine));
        qint64 taken = 0, given = 0, prepaid = 0;
        for (const JournalRow& row : AllJournalRows(env)) {
            if (row.entry.kind == JournalKind::Checkout) taken = *ParseCents(row.entry.total);
            if (row.entry.kind == JournalKind::PackageRefund) given = -*ParseCents(row.entry.amount);
            if (row.entry.kind == JournalKind::PackageSale) prepaid = *ParseCents(row.entry.amount);
        }
        QCOMPARE(FenText(taken), due);
        QCOMPARE(FenText(given), refund);

        Ran ran = adminOn(env, {"bill", "--zone", "普通区", "--start", start, "--end", end,
                                "--package", name, "--json"});
        QVERIFY2(ran.code == 0, qPrintable(ran.err));
        const QJsonObject bill = QJsonDocument::fromJson(ran.out.toUtf8()).object();
        QCOMPARE(bill.value(QStringLiteral("prepaid")).toString(), FenText(prepaid));
        QCOMPARE(bill.value(QStringLiteral("due")).toString(), due);
        QCOMPARE(bill.value(QStringLiteral("refund")).toString(), refund);
        QCOMPARE(bill.value(QStringLiteral("total")).toString(), FenText(prepaid + taken - given));
        ran = adminOn(env, {"bill", "--start", start, "--end", end, "--package", name});
        QCOMPARE(ran.code, 0);
        QVERIFY2(ran.out.endsWith(QStringLiteral("还应付 %1元，退还 %2元，合计 %3元\n")
                                      .arg(due, refund, FenText(prepaid + taken - given))),
                 qPrintable(ran.out));
    }

    // A package that cannot be sold at that start is refused with the box's reason.
    void billWithAPackageThatCannotBeSold_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("outside its hours")
            << QStringList{"--package", "包夜", "--start", "2026-12-11 14:00", "--end",
                           "2026-12-11 15:00"}
            << 1 << QStringLiteral("“包夜”");
        QTest::newRow("another zone")
            << QStringList{"--package", "三小时", "--zone", "电竞区", "--start", "2026-12-11 14:00",
                           "--end", "2026-12-11 15:00"}
            << 1 << QStringLiteral("“三小时”不能卖给这台机器：它只用于普通区，这台机器在电竞区。");
        QTest::newRow("not in the catalogue")
            << QStringList{"--package", "包月", "--start", "2026-12-11 14:00", "--end",
                           "2026-12-11 15:00"}
            << 2 << QStringLiteral("包时目录里没有“包月”");
    }
    void billWithAPackageThatCannotBeSold() {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, says);
        Env env;
        SavePlanAndCatalogue(env);
        const Ran ran = adminOn(env, QStringList{"bill"} + arguments);
        QCOMPARE(ran.code, code);
        QVERIFY2(ran.err.startsWith(QStringLiteral("cafe-admin: ") + says), qPrintable(ran.err));
        QCOMPARE(ran.err.count(u'\n'), 1);
        QCOMPARE(ran.out, QString());
    }
};

int runAdminTest(int argc, char** argv) {
    AdminTest test;
    PlanAdminTest plans;
    PackageAdminTest packages;
    return QTest::qExec(&test, argc, argv) + QTest::qExec(&plans, argc, argv) +
           QTest::qExec(&packages, argc, argv);
}

#include "test_admin.moc"
