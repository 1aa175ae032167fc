#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/Overnight.h"
#include "billing/Transfer.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "ledger/Shifts.h"
#include "machines/Machines.h"
#include "support/Fixtures.h"

// The takings journal: one row per money event, in the same transaction as the change.
namespace {

void session(Env& env, const QString& name, const QString& state, const QString& fee,
             const QString& other, const QString& sum, const QString& start = "9:5:7") {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, ?, '10:15:07', '1时10分', ?, ?, ?, "
                           "'', ?)"),
            {name, start, fee, other, sum, state});
}

std::vector<JournalRow> journal(Env& env) {
    const auto rows = ReadJournal(*env.desk, QDateTime(QDate(2000, 1, 1), QTime(0, 0)),
                                  QDateTime(QDate(2100, 1, 1), QTime(0, 0)));
    if (!rows) qFatal("journal unreadable");
    return *rows;
}

QStringList bill(const JournalEntry& e) {
    return {e.kind, e.machine, e.target, e.start, e.end,   e.used,
            e.fee,  e.other,   e.total,  e.state, e.amount};
}

// Sums a column of the journal rows of one kind, in fen, straight from the database.
qint64 journalSum(Env& env, const QString& kind, const QString& column) {
    QSqlQuery q(QSqlDatabase::database(env.module->connectionName()));
    q.prepare(QStringLiteral("select %1 from Tjournal where kind=?").arg(column));
    q.addBindValue(kind);
    if (!q.exec()) return -1;
    qint64 sum = 0;
    while (q.next()) sum += ParseCents(q.value(0).toString()).value_or(0);
    return sum;
}

void shell(const QString& path, const QString& statement) {
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    QVERIFY2(!sqlite3.isEmpty(), "the sqlite3 shell is needed (scripts/test installs it)");
    QProcess p;
    p.start(sqlite3, {path, statement});
    QVERIFY(p.waitForFinished(10000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
}

}  // namespace

class JournalTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void checkoutRecordsTheBillShown() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("1.5"), QStringLiteral("4.2"));
        env.desk->operatorName = QStringLiteral("小王");
        env.desk->RefreshSessionGrid();
        env.clock.time = QTime(10, 16, 3);
        QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        const auto rows = journal(env);
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(bill(rows[0].entry), (QStringList{"结账下机", "127.0.0.1", "", "9:5:7", "10:16:03",
                                                   "1时10分", "2.7元", "1.5", "4.2", "正常", ""}));
        QCOMPARE(rows[0].at, QStringLiteral("2026-12-09 10:16:03"));
        QCOMPARE(rows[0].desk, QStringLiteral("前台"));
        QCOMPARE(rows[0].operatorName, QStringLiteral("小王"));
        QCOMPARE(rows[0].prev, JournalSeed());
        QCOMPARE(rows[0].hash, JournalHash(rows[0]));
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
        // The checkout still erases the session from Tcount.
        QCOMPARE(env.field("127.0.0.1", "Tsum"), QString());
    }

    void everyOtherMoneyEventWritesOneRow() {
        Env env;
        session(env, QStringLiteral("a"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("1.5"), QStringLiteral("4.2"));
        env.addMachine(QStringLiteral("b"));
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.resolver.table.insert(QStringLiteral("b"), 0x7F000001);
        env.resolver.table.insert(QStringLiteral("a"), 0x7F000001);

        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("a"), QStringLiteral("0.5")),
                 ChargeOutcome::Added);
        QVERIFY(TransferSession(*env.desk, QStringLiteral("a"), QStringLiteral("b")));
        env.desk->RefreshSessionGrid();  // 127.0.0.1 first
        StartOvernight(*env.desk);
        session(env, QStringLiteral("late"), QStringLiteral("正常"), QStringLiteral("0元"),
                QStringLiteral("0"), QStringLiteral("3"), QStringLiteral("23:50:0"));
        env.clock.time = QTime(0, 5, 0);
        env.prompts.answers = {true, true};  // b (moved from a) and late both ran past midnight
        BillingPass(*env.desk);
        QVERIFY(DeleteMachine(*env.desk, QStringLiteral("b")));
        QVERIFY(DeleteMachine(*env.desk, QStringLiteral("a")));  // idle: nothing to record
        env.prompts.take();

        const auto rows = journal(env);
        QStringList kinds;
        for (const JournalRow& r : rows) kinds << r.entry.kind;
        QCOMPARE(kinds, (QStringList{"附加费", "转账", "通宵", "午夜转通宵", "午夜转通宵",
                                     "删除在线机器"}));
        QCOMPARE(bill(rows[0].entry),
                 (QStringList{"附加费", "a", "", "", "", "", "", "2", "4.7", "正常", "0.5"}));
        QCOMPARE(bill(rows[1].entry), (QStringList{"转账", "a", "b", "9:5:7", "10:15:07", "1时10分",
                                                   "2.7元", "2", "4.7", "正常", ""}));
        QCOMPARE(rows[2].entry.machine, QStringLiteral("127.0.0.1"));
        QCOMPARE(rows[2].entry.amount, QStringLiteral("10"));
        QCOMPARE(rows[2].entry.total, QStringLiteral("10"));
        QCOMPARE(rows[3].entry.machine, QStringLiteral("b"));
        QCOMPARE(rows[4].entry.machine, QStringLiteral("late"));
        QCOMPARE(rows[4].entry.total, QStringLiteral("3"));
        QCOMPARE(rows[4].entry.fee, QStringLiteral("0"));
        QVERIFY(rows[3].entry.flagged && rows[4].entry.flagged);
        // b was billed at 0:05 before the question, then switched: its unsettled bill.
        QCOMPARE(bill(rows[5].entry), (QStringList{"删除在线机器", "b", "", "9:5:7", "10:15:07",
                                                   "1时10分", "0", "2", "4.7", "通宵", ""}));
        QVERIFY(rows[5].entry.flagged);
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
    }

    void aFailedJournalWriteUndoesTheChange_data() {
        QTest::addColumn<QString>("operation");
        QTest::newRow("checkout") << QStringLiteral("checkout");
        QTest::newRow("extra charge") << QStringLiteral("charge");
        QTest::newRow("overnight") << QStringLiteral("overnight");
        QTest::newRow("transfer") << QStringLiteral("transfer");
        QTest::newRow("delete in session") << QStringLiteral("delete");
    }
    void aFailedJournalWriteUndoesTheChange() {
        QFETCH(QString, operation);
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("1.5"), QStringLiteral("4.2"));
        env.addMachine(QStringLiteral("zz"));
        env.desk->RefreshSessionGrid();
        env.failOn(QStringLiteral("insert"), QStringLiteral("Tjournal"));
        if (operation == QStringLiteral("checkout"))
            QVERIFY(!CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        if (operation == QStringLiteral("charge"))
            QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("1")),
                     ChargeOutcome::NotAdded);
        if (operation == QStringLiteral("overnight")) StartOvernight(*env.desk);
        if (operation == QStringLiteral("transfer"))
            QVERIFY(!TransferSession(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("zz")));
        if (operation == QStringLiteral("delete"))
            QVERIFY(!DeleteMachine(*env.desk, QStringLiteral("127.0.0.1")));
        QVERIFY(!env.prompts.take().isEmpty());  // the operation's own failure box
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("127.0.0.1", "Tsum"), QStringLiteral("4.2"));
        QCOMPARE(env.field("zz", "Cstate"), QStringLiteral("无"));
        QCOMPARE(env.client.take(0, 200).size(), 0);  // nothing told to the clients
        env.clearFailure();
        QCOMPARE(journal(env).size(), size_t(0));
    }

    void tamperingIsFound_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<qint64>("firstBad");
        QTest::newRow("amount edited")
            << QStringLiteral("update Tjournal set tsum='1' where id=2") << qint64(2);
        QTest::newRow("row deleted")
            << QStringLiteral("delete from Tjournal where id=2") << qint64(2);
        QTest::newRow("first row deleted")
            << QStringLiteral("delete from Tjournal where id=1") << qint64(1);
        QTest::newRow("last row deleted")
            << QStringLiteral("delete from Tjournal where id=3") << qint64(3);
        QTest::newRow("row inserted")
            << QStringLiteral(
                   "insert into Tjournal select 4, at, desk, operator, kind, machine, "
                   "target, tstart, tend, stime, tmoney, tother, '99', state, amount, "
                   "note, flagged, hash, hash from Tjournal where id=3")
            << qint64(4);
        QTest::newRow("operator renamed")
            << QStringLiteral("update Tjournal set operator='别人' where id=1") << qint64(1);
    }
    void tamperingIsFound() {
        QFETCH(QString, statement);
        QFETCH(qint64, firstBad);
        Env env;
        session(env, QStringLiteral("pc"), QStringLiteral("通宵"), QStringLiteral("0"),
                QStringLiteral("10"), QStringLiteral("10"));
        for (const char* amount : {"1", "2", "3"})
            AddExtraCharge(*env.desk, QStringLiteral("pc"), QString::fromLatin1(amount));
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
        if (env.postgres())
            env.otherTool(statement);
        else
            shell(env.dbPath(), statement);  // the sqlite3 shell itself
        const ChainCheck check = VerifyJournal(*env.desk);
        QCOMPARE(check.result, ChainCheck::Altered);
        QCOMPARE(check.firstBad, firstBad);
        QVERIFY(ChainAlteredText(check).startsWith(QStringLiteral("营业记录已被改动")));
        // The report says so too.
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QCOMPARE(report->check.result, ChainCheck::Altered);
    }

    void blindCountNeedsANoteForADifference() {
        Env env;
        QVERIFY(!OpenShift(*env.desk, QStringLiteral("  "), QStringLiteral("200")));
        QVERIFY(!OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("-5")));
        QVERIFY(!OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("abc")));
        QCOMPARE(env.prompts.take().size(), 3);
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("200")));
        QCOMPARE(env.desk->operatorName, QStringLiteral("小王"));
        QVERIFY(!OpenShift(*env.desk, QStringLiteral("小李"), QStringLiteral("100")));
        QCOMPARE(env.prompts.take().size(), 1);  // one shift per desk

        for (const char* total : {"0.1", "0.2", "12.5"}) {
            session(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("0元"),
                    QStringLiteral("0"), QString::fromLatin1(total));
            env.desk->RefreshSessionGrid();
            QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
            env.sql(QStringLiteral("delete from Tcount"));
        }
        env.prompts.take();
        const auto count = CountShift(*env.desk, QStringLiteral("212.7"));
        QVERIFY(count);
        QCOMPARE(count->expectedCents, qint64(21280));  // 200 + 0.1 + 0.2 + 12.5, exactly
        QCOMPARE(count->differenceCents, qint64(-10));
        QVERIFY(!CloseShift(*env.desk, QStringLiteral("212.7"), QStringLiteral("  ")));
        QVERIFY(env.prompts.take().first().contains(QStringLiteral("-0.10")));
        QVERIFY(OpenShiftOf(*env.desk));
        QVERIFY(CloseShift(*env.desk, QStringLiteral("212.7"), QStringLiteral("找零少了一毛")));
        QVERIFY(!OpenShiftOf(*env.desk));
        QCOMPARE(env.desk->operatorName, QString());
        const JournalRow closing = journal(env).back();
        QCOMPARE(closing.entry.kind, QStringLiteral("交班"));
        QCOMPARE(closing.operatorName, QStringLiteral("小王"));
        QCOMPARE((QStringList{closing.entry.amount, closing.entry.total, closing.entry.other,
                              closing.entry.note}),
                 (QStringList{"212.70", "212.80", "-0.10", "找零少了一毛"}));
        QVERIFY(closing.entry.flagged);

        // The next shift counts only its own takings; an exact count needs no note.
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小李"), QStringLiteral("100")));
        QVERIFY(CloseShift(*env.desk, QStringLiteral("100"), QString()));
        QVERIFY(!CountShift(*env.desk, QStringLiteral("100")));  // no shift open now
    }

    void reportTotalsAreExact() {
        Env env;
        env.resolver.table.insert(QStringLiteral("yesterday"), 0x7F000001);
        for (int i = 0; i < 7; ++i)
            env.resolver.table.insert(QStringLiteral("pc%1").arg(i), 0x7F000001);
        // Settled on the 9th: one across midnight, small amounts that doubles would blur.
        env.clock.date = QDate(2026, 12, 8);
        session(env, QStringLiteral("yesterday"), QStringLiteral("正常"), QStringLiteral("5元"),
                QStringLiteral("0"), QStringLiteral("5"));
        env.desk->RefreshSessionGrid();
        env.clock.time = QTime(23, 59, 59);
        QVERIFY(CheckOut(*env.desk, QStringLiteral("yesterday")));
        env.clock.date = QDate(2026, 12, 9);
        const QStringList totals{"0.1", "0.2", "0.1", "0.2", "0.1", "0.2", "7.7"};
        int n = 0;
        for (const QString& total : totals) {
            const QString name = QStringLiteral("pc%1").arg(n++);
            session(env, name, QStringLiteral("正常"), QStringLiteral("0元"), QStringLiteral("0"),
                    total, QStringLiteral("23:50:0"));
            env.desk->RefreshSessionGrid();
            env.clock.time = QTime(0, 10 + n, 0);
            QVERIFY(CheckOut(*env.desk, name));
        }
        env.clock.time = QTime(13, 0, 0);
        const auto report = LoadReport(*env.desk, QDate(2026, 12, 9), QDate(2026, 12, 9));
        QVERIFY(report);
        QCOMPARE(report->bills.size(), size_t(7));
        QCOMPARE(report->totalCents, qint64(860));
        QCOMPARE(report->perDay.size(), size_t(1));
        QCOMPARE(report->perDay[0].second, qint64(860));
        QCOMPARE(report->perHour[0], qint64(860));
        QCOMPARE(report->perMachine.size(), size_t(7));
        QCOMPARE(report->check.result, ChainCheck::Intact);
        const auto both = LoadReport(*env.desk, QDate(2026, 12, 8), QDate(2026, 12, 9));
        QCOMPARE(both->totalCents, qint64(1360));
        QCOMPARE(both->perDay.size(), size_t(2));
        QCOMPARE(both->perDay[0].second, qint64(500));
        QCOMPARE(both->perHour[23], qint64(500));
        // Cents text keeps the sign of small losses.
        QCOMPARE(CentsText(-5), QStringLiteral("-0.05"));
        QCOMPARE(CentsText(-105), QStringLiteral("-1.05"));
    }

    void csvBytes() {
        Env env;
        env.resolver.table.insert(QStringLiteral("pc,1"), 0x7F000001);
        session(env, QStringLiteral("pc,1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("1.5"), QStringLiteral("4.2"));
        env.desk->operatorName = QStringLiteral("小\"王");
        env.desk->RefreshSessionGrid();
        env.clock.time = QTime(10, 16, 3);
        QVERIFY(CheckOut(*env.desk, QStringLiteral("pc,1")));
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        const QByteArray expected =
            QByteArray("\xEF\xBB\xBF") +
            QStringLiteral(
                "时间,机器号,上机时间,下机时间,共用时间,上网费用,附加费,共需费用,值班员,"
                "前台\r\n2026-12-09 10:16:03,\"pc,1\",9:5:7,10:16:03,1时10分,2.70,"
                "1.50,4.20,\"小\"\"王\",前台\r\n")
                .toUtf8();
        QCOMPARE(ReportCsv(*report), expected);
    }

    void checkoutsKilledAtRandomMomentsStayWhole() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        auto* random = QRandomGenerator::global();
        int cycles = 0;
        for (int round = 0; round < 8; ++round) {
            QProcess child;
            child.start(QStringLiteral(CHECKOUT_LOOP), {env.connectionText()});
            QVERIFY(child.waitForStarted());
            QVERIFY(child.waitForReadyRead(10000));
            QTest::qWait(int(random->bounded(60, 400)));
            child.kill();  // SIGKILL: no clean-up of any kind
            QVERIFY(child.waitForFinished(10000));

            // Every yuan charged is either settled in a checkout's bill or still on the row.
            const qint64 charged =
                journalSum(env, QStringLiteral("附加费"), QStringLiteral("amount"));
            const qint64 settled =
                journalSum(env, QStringLiteral("结账下机"), QStringLiteral("tother"));
            QSqlQuery q(QSqlDatabase::database(env.module->connectionName()));
            QVERIFY(q.exec(QStringLiteral("select count(*) from Tjournal where kind='结账下机'")) &&
                    q.next());
            cycles = q.value(0).toInt();
            QVERIFY(q.exec(QStringLiteral("select Cstate, Tother from Tcount")) && q.next());
            const QString state = q.value(0).toString(), other = q.value(1).toString();
            q.finish();
            const qint64 open = state == QStringLiteral("无") ? 0 : ParseCents(other).value_or(0);
            QVERIFY2(charged == settled + open,
                     qPrintable(QStringLiteral("round %1: %2 charged, %3 settled, row %4/%5")
                                    .arg(round)
                                    .arg(charged)
                                    .arg(settled)
                                    .arg(state, other)));
        }
        QVERIFY2(cycles > 0, "the child never completed a checkout");
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
    }
};

int runJournalTest(int argc, char** argv) {
    JournalTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_journal.moc"
