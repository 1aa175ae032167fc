#include <QMap>
#include <QProcess>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTest>

#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/Prices.h"
#include "ledger/Journal.h"
#include "ledger/Report.h"
#include "ledger/Shifts.h"
#include "record_store/Schema.h"
#include "support/LedgerFixtures.h"

// The money record: a chain that finds what another tool changed, shifts with a blind count,
// and reports whose sums are exact. Its rows come from real checkouts and charges.
namespace {

void shell(const QString& path, const QString& statement) {
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    QVERIFY2(!sqlite3.isEmpty(), "the sqlite3 shell is needed (scripts/test installs it)");
    QProcess p;
    p.start(sqlite3, {path, statement});
    QVERIFY(p.waitForFinished(10000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
}

// The CSV's lines of a report: its heading and one a bill.
int ReadCsvLines(const Report& report) {
    return int(QString::fromUtf8(ReportCsv(report)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size());
}

}  // namespace

class LedgerTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void tamperingIsFound_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<qint64>("firstBad");
        QTest::newRow("amount edited")
            << QStringLiteral("update Tjournal set tsum='1' where id=2") << qint64(2);
        QTest::newRow("row deleted")
            << QStringLiteral("delete from Tjournal where id=2") << qint64(2);
        QTest::newRow("first row deleted")
            << QStringLiteral("delete from Tjournal where id=1") << qint64(1);
        QTest::newRow("row inserted")
            << QStringLiteral(
                   "insert into Tjournal (id, at, desk, operator, kind, machine, target, "
                   "tstart, tend, stime, tmoney, tother, tsum, state, amount, note, flagged, "
                   "prev, hash) select 4, at, desk, operator, kind, machine, "
                   "target, tstart, tend, stime, tmoney, tother, '99', state, amount, "
                   "note, flagged, hash, hash from Tjournal where id=3")
            << qint64(4);
        QTest::newRow("operator renamed")
            << QStringLiteral("update Tjournal set operator='别人' where id=1") << qint64(1);
        QTest::newRow("this desk's last row edited")
            << QStringLiteral("update Tjournal set tsum='1', hash='x' where id=3") << qint64(3);
        QTest::newRow("total in fen edited")
            << QStringLiteral("update Tjournal set total_fen=99900 where id=2") << qint64(2);
    }

    // At start only the rows after the last verified one are checked: what was changed there,
    // or the verified row itself, is found; a change before it waits for the whole-chain check.
    void startChecksTheRowsAfterTheVerifiedOne_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<int>("sinceVerified");  // ChainCheck::Result
        QTest::addColumn<qint64>("firstBad");
        QTest::newRow("untouched") << QString() << int(ChainCheck::Intact) << qint64(0);
        QTest::newRow("row after it edited")
            << QStringLiteral("update Tjournal set tsum='1' where id=4") << int(ChainCheck::Altered)
            << qint64(4);
        QTest::newRow("verified row deleted")
            << QStringLiteral("delete from Tjournal where id=3") << int(ChainCheck::Altered)
            << qint64(3);
        QTest::newRow("row before it edited")
            << QStringLiteral("update Tjournal set tsum='1' where id=2") << int(ChainCheck::Intact)
            << qint64(2);
        QTest::newRow("first row deleted")
            << QStringLiteral("delete from Tjournal where id=1") << int(ChainCheck::Altered)
            << qint64(1);
    }
    void startChecksTheRowsAfterTheVerifiedOne() {
        QFETCH(QString, statement);
        QFETCH(int, sinceVerified);
        QFETCH(qint64, firstBad);
        Env env;
        AddBill(env, QStringLiteral("pc"), QStringLiteral("通宵"), QStringLiteral("0"),
                QStringLiteral("10"), QStringLiteral("10"));
        for (const char* amount : {"1", "2", "3", "4"})
            AddExtraCharge(*env.desk, QStringLiteral("pc"), QString::fromLatin1(amount));
        const std::vector<JournalRow> rows = AllJournalRows(env);
        QCOMPARE(rows.size(), size_t(4));
        const std::pair<qint64, QString> verified{3, rows[2].hash};
        if (!statement.isEmpty()) env.otherTool(statement);
        const QString connection = env.module->connectionName();
        std::pair<qint64, QString> newest;
        const ChainCheck since = VerifyJournalAfter(connection, verified, {}, &newest);
        QCOMPARE(int(since.result), sinceVerified);
        if (since.result == ChainCheck::Altered) QCOMPARE(since.firstBad, firstBad);
        if (since.result == ChainCheck::Intact) QCOMPARE(newest.first, qint64(4));
        // The whole chain finds every one of them.
        const ChainCheck full = VerifyJournalAfter(connection, {0, QString()}, {}, nullptr);
        QCOMPARE(full.result, statement.isEmpty() ? ChainCheck::Intact : ChainCheck::Altered);
        if (!statement.isEmpty()) QCOMPARE(full.firstBad, firstBad);
    }
    void tamperingIsFound() {
        QFETCH(QString, statement);
        QFETCH(qint64, firstBad);
        Env env;
        AddBill(env, QStringLiteral("pc"), QStringLiteral("通宵"), QStringLiteral("0"),
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
        // The report says so too, naming the same row.
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QCOMPARE(report->check.result, ChainCheck::Altered);
        QCOMPARE(report->check.firstBad, firstBad);
    }

    // The report reads only its days' rows, but a fault anywhere is named by its first row:
    // 20 rows, 11 the day before and 9 on the day of the report (rows 12 to 20).
    void theReportNamesTheFirstBadRow_data() {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<int>("result");
        QTest::addColumn<qint64>("firstBad");
        // Outside the report's days and its links: the chain checks', so that a report does
        // not read the whole journal (VerifyJournal below names it).
        QTest::newRow("a middle row deleted")
            << QStringList{"delete from Tjournal where id=6"} << int(ChainCheck::Intact)
            << qint64(6);
        QTest::newRow("rows renumbered after a delete")
            << QStringList{"delete from Tjournal where id=6",
                           "update Tjournal set id=-id where id>6",
                           "update Tjournal set id=-id-1 where id<0"}
            << int(ChainCheck::Altered) << qint64(6);
        QTest::newRow("a row of the day edited")
            << QStringList{"update Tjournal set tother='0' where id=15"}
            << int(ChainCheck::Altered) << qint64(15);
        // As a backup restored by hand or a power cut leaves it: told, not called tampering.
        QTest::newRow("the newest rows gone")
            << QStringList{"delete from Tjournal where id>=19"} << int(ChainCheck::Shorter)
            << qint64(20);
    }
    void theReportNamesTheFirstBadRow() {
        QFETCH(QStringList, statements);
        QFETCH(int, result);
        QFETCH(qint64, firstBad);
        Env env;
        AddBill(env, QStringLiteral("pc"), QStringLiteral("通宵"), QStringLiteral("0"),
                QStringLiteral("10"), QStringLiteral("10"));
        env.clock.date = QDate(2026, 12, 8);
        for (int i = 1; i <= 20; ++i) {
            if (i == 12) env.clock.date = QDate(2026, 12, 9);
            env.clock.time = QTime(10, i, 0);
            QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("1")),
                     ChargeOutcome::Added);
        }
        QCOMPARE(LoadReport(*env.desk, env.clock.date, env.clock.date)->check.result,
                 ChainCheck::Intact);
        for (const QString& statement : statements) {
            if (env.postgres())
                env.otherTool(statement);
            else
                shell(env.dbPath(), statement);
        }
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QCOMPARE(int(report->check.result), result);
        if (result != ChainCheck::Intact) QCOMPARE(report->check.firstBad, firstBad);
        QCOMPARE(VerifyJournal(*env.desk).firstBad, firstBad);
        if (result == ChainCheck::Intact) return;
        const QString box = ChainAlteredText(report->check);
        if (result == ChainCheck::Shorter) {
            QVERIFY2(!box.contains(QStringLiteral("改动")), qPrintable(box));
            // Which row, when this desk wrote it, and how many the file holds now.
            QVERIFY2(box.contains(QStringLiteral("在 2026-12-09 10:20:00 写入了第20条")),
                     qPrintable(box));
            QVERIFY2(box.contains(QStringLiteral("只有18条")), qPrintable(box));
        } else {
            QVERIFY(box.startsWith(QStringLiteral("营业记录已被改动")));
        }
    }

    // A report does not hash again what the start verified: of the rows up to the desk's
    // verified row only that row's hash is read; the rows after it are checked, and an intact
    // report moves the verified row to its last. 20 rows, the day's are 12 to 20, verified up
    // to 16.
    void theReportChecksFromTheVerifiedRow_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<int>("result");
        QTest::addColumn<qint64>("firstBad");
        QTest::newRow("untouched") << QString() << int(ChainCheck::Intact) << qint64(0);
        QTest::newRow("a row after the verified one edited")
            << QStringLiteral("update Tjournal set tother='0' where id=18")
            << int(ChainCheck::Altered) << qint64(18);
        QTest::newRow("the verified row edited")
            << QStringLiteral("update Tjournal set tother='0' where id=16")
            << int(ChainCheck::Altered) << qint64(16);
        QTest::newRow("the verified row's hash rewritten")
            << QStringLiteral("update Tjournal set hash='0' where id=16")
            << int(ChainCheck::Altered) << qint64(16);
        // Verified before: the whole-chain checks' (weekly, 核对全部记录) to find.
        QTest::newRow("a row of the day before the verified one edited")
            << QStringLiteral("update Tjournal set tother='0' where id=14")
            << int(ChainCheck::Intact) << qint64(14);
    }
    void theReportChecksFromTheVerifiedRow() {
        QFETCH(QString, statement);
        QFETCH(int, result);
        QFETCH(qint64, firstBad);
        Env env;
        AddBill(env, QStringLiteral("pc"), QStringLiteral("通宵"), QStringLiteral("0"),
                QStringLiteral("10"), QStringLiteral("10"));
        env.clock.date = QDate(2026, 12, 8);
        for (int i = 1; i <= 20; ++i) {
            if (i == 12) env.clock.date = QDate(2026, 12, 9);
            env.clock.time = QTime(10, i, 0);
            QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("pc"), QStringLiteral("1")),
                     ChargeOutcome::Added);
        }
        const std::vector<JournalRow> rows = AllJournalRows(env);
        SetVerifiedJournalRow(*env.desk, {16, rows[15].hash});
        if (!statement.isEmpty()) env.otherTool(statement);
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QCOMPARE(int(report->check.result), result);
        if (result == ChainCheck::Intact) {
            QCOMPARE(VerifiedJournalRow(*env.desk), (std::pair<qint64, QString>{20, rows[19].hash}));
        } else {
            QCOMPARE(report->check.firstBad, firstBad);
            QCOMPARE(VerifiedJournalRow(*env.desk).first, qint64(16));
        }
        if (!statement.isEmpty()) QCOMPARE(VerifyJournal(*env.desk).firstBad, firstBad);
    }

    void blindCountNeedsANoteForADifference() {
        Env env;
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("200")));
        QCOMPARE(env.desk->operatorName, QStringLiteral("小王"));
        QVERIFY(!OpenShift(*env.desk, QStringLiteral("小李"), QStringLiteral("100")));
        QCOMPARE(env.prompts.take().size(), 1);  // one shift per desk
        QVERIFY(!CloseShift(*env.desk, QStringLiteral("没数")));  // no count yet
        QVERIFY(env.prompts.take().first().contains(QStringLiteral("请先清点现金")));

        for (const char* total : {"0.1", "0.2", "12.5"}) {
            AddBill(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("0元"),
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
        QVERIFY(!CloseShift(*env.desk, QStringLiteral("  ")));
        QVERIFY(env.prompts.take().first().contains(QStringLiteral("-0.10")));
        QVERIFY(OpenShiftOf(*env.desk));
        QVERIFY(CloseShift(*env.desk, QStringLiteral("找零少了一毛")));
        QVERIFY(!OpenShiftOf(*env.desk));
        QCOMPARE(env.desk->operatorName, QString());
        const JournalRow closing = AllJournalRows(env).back();
        QCOMPARE(closing.entry.kind, QStringLiteral("交班"));
        QCOMPARE(closing.operatorName, QStringLiteral("小王"));
        QCOMPARE((QStringList{closing.entry.amount, closing.entry.total, closing.entry.other,
                              closing.entry.note}),
                 (QStringList{"212.70", "212.80", "-0.10", "找零少了一毛"}));
        QVERIFY(closing.entry.flagged);

        // The next shift counts only its own takings; an exact count needs no note.
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小李"), QStringLiteral("100")));
        QVERIFY(CountShift(*env.desk, QStringLiteral("100")));
        QVERIFY(CloseShift(*env.desk, QString()));
        QVERIFY(!CountShift(*env.desk, QStringLiteral("100")));  // no shift open now
    }

    // Count 240, see 245 and -5, count "again" 245: the first count stands. The recount is a
    // second row beside it, flagged; the closing is 240 against 245 and needs its note.
    void theFirstCountIsFinal() {
        Env env;
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("200")));
        AddBill(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("0元"),
                QStringLiteral("0"), QStringLiteral("45"));
        env.desk->RefreshSessionGrid();
        QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        env.prompts.take();
        const auto first = CountShift(*env.desk, QStringLiteral("240"));
        QCOMPARE(first->differenceCents, qint64(-500));
        QCOMPARE(env.prompts.take(), QStringList());
        const auto again = CountShift(*env.desk, QStringLiteral("245"));
        QCOMPARE(again->countedCents, qint64(24000));  // still the first
        QCOMPARE(again->differenceCents, qint64(-500));
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].contains(QStringLiteral("240.00")) && boxes[0].contains("245.00"));
        QCOMPARE(ShiftCountOf(*env.desk)->countedCents, qint64(24000));
        QVERIFY(!CloseShift(*env.desk, QString()));  // -5 needs a note
        QVERIFY(CloseShift(*env.desk, QStringLiteral("点错了")));
        QStringList seen;
        for (const JournalRow& row : AllJournalRows(env))
            if (row.entry.kind != JournalKind::Checkout)
                seen << row.entry.kind + QLatin1Char(' ') + row.entry.amount + QLatin1Char(' ') +
                            row.entry.other + (row.entry.flagged ? " !" : "");
        QCOMPARE(seen, (QStringList{"开班 200.00 ", "清点 240.00 -5.00 !", "清点 245.00 0.00 !",
                                    "交班 240.00 -5.00 !"}));
        // The report shows both counts among the rows that need the owner's eye.
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        int counts = 0;
        for (const JournalRow& row : report->flagged) counts += row.entry.kind == "清点";
        QCOMPARE(counts, 2);
    }

    // Every amount the operator types is bounded and exact; the float and the count too.
    void typedAmountsAreBoundedAndExact_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        QTest::newRow("charge -1e300") << "charge" << "-1e300" << false;
        QTest::newRow("charge 2.555") << "charge" << "2.555" << false;
        QTest::newRow("charge 100000.01") << "charge" << "100000.01" << false;
        QTest::newRow("charge -100000") << "charge" << "-100000" << true;
        QTest::newRow("charge 2.50") << "charge" << "2.50" << true;
        QTest::newRow("charge 1e-2") << "charge" << "1e-2" << true;
        QTest::newRow("price 99999999999999999999") << "price" << "99999999999999999999" << false;
        QTest::newRow("price 10000") << "price" << "10000" << true;
        QTest::newRow("price 10000.01") << "price" << "10000.01" << false;
        QTest::newRow("price 0") << "price" << "0" << false;
        QTest::newRow("price 2.555") << "price" << "2.555" << false;
        QTest::newRow("float empty") << "float" << "" << false;
        QTest::newRow("float -5") << "float" << "-5" << false;
        QTest::newRow("float abc") << "float" << "abc" << false;
        QTest::newRow("float 100001") << "float" << "100001" << false;
        QTest::newRow("float 0") << "float" << "0" << true;
        QTest::newRow("count 1e300") << "count" << "1e300" << false;
        QTest::newRow("count 523.555") << "count" << "523.555" << false;
        QTest::newRow("count 523.5") << "count" << "523.5" << true;
    }
    void typedAmountsAreBoundedAndExact() {
        QFETCH(QString, what);
        QFETCH(QString, text);
        QFETCH(bool, taken);
        Env env;
        AddBill(env, QStringLiteral("pc"), QStringLiteral("通宵"), QStringLiteral("0"),
                QStringLiteral("10"), QStringLiteral("10"));
        if (what == "count") QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), "200"));
        bool done = false;
        if (what == "charge")
            done = AddExtraCharge(*env.desk, QStringLiteral("pc"), text) == ChargeOutcome::Added;
        if (what == "price") done = SetPrices(*env.desk, text, QStringLiteral("10"));
        if (what == "float") done = OpenShift(*env.desk, QStringLiteral("小王"), text);
        if (what == "count") done = CountShift(*env.desk, text).has_value();
        QCOMPARE(done, taken);
        const QStringList boxes = env.prompts.take();
        if (!taken) {
            QCOMPARE(boxes.size(), 1);  // one clear box of ours, and nothing written
            QCOMPARE(env.field("pc", "Tsum"), QStringLiteral("10"));
            QCOMPARE(AllJournalRows(env).size(), size_t(what == "count" ? 1 : 0));
        }
    }

    void operatorNamesAreBounded() {
        Env env;
        QVERIFY(!OpenShift(*env.desk, QString(5000, QChar(u'王')), QStringLiteral("200")));
        QVERIFY(env.prompts.take().first().contains(QStringLiteral("最多32个字")));
        QVERIFY(!OpenShift(*env.desk, QString(33, QChar(u'王')), QStringLiteral("200")));
        QVERIFY(OpenShift(*env.desk, QString(32, QChar(u'王')), QStringLiteral("200")));
    }

    void reportTotalsAreExact() {
        Env env;
        env.resolver.table.insert(QStringLiteral("yesterday"), 0x7F000001);
        for (int i = 0; i < 7; ++i)
            env.resolver.table.insert(QStringLiteral("pc%1").arg(i), 0x7F000001);
        // Settled on the 9th: one across midnight, small amounts that doubles would blur.
        env.clock.date = QDate(2026, 12, 8);
        AddBill(env, QStringLiteral("yesterday"), QStringLiteral("正常"), QStringLiteral("5元"),
                QStringLiteral("0"), QStringLiteral("5"));
        env.desk->RefreshSessionGrid();
        env.clock.time = QTime(23, 59, 59);
        QVERIFY(CheckOut(*env.desk, QStringLiteral("yesterday")));
        env.clock.date = QDate(2026, 12, 9);
        const QStringList totals{"0.1", "0.2", "0.1", "0.2", "0.1", "0.2", "7.7"};
        int n = 0;
        for (const QString& total : totals) {
            const QString name = QStringLiteral("pc%1").arg(n++);
            AddBill(env, name, QStringLiteral("正常"), QStringLiteral("0元"), QStringLiteral("0"),
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

    // A journal written before the totals in fen were stored: the migration fills them from
    // the texts, the chain still verifies and the report sums to the fen.
    void olderJournalGetsItsTotalsInFen() {
        Env env;
        const QStringList totals{"0.1", "7.7"};
        int n = 0;
        for (const QString& total : totals) {
            const QString name = QStringLiteral("127.0.0.%1").arg(++n);
            AddBill(env, name, QStringLiteral("正常"), QStringLiteral("0元"), QStringLiteral("0"),
                    total);
            env.desk->RefreshSessionGrid();
            QVERIFY(CheckOut(*env.desk, name));
        }
        env.prompts.take();
        // the reports' kept sums first, as they came after
        for (const char* index : {"Tjournal_flagged_at", "Tjournal_unsummable"})
            env.sql(QStringLiteral("drop index ") + QString::fromLatin1(index));
        for (const char* table : {"Tsumhour", "Tsummachine", "Tsumshift", "Tsumstamp"})
            env.sql(QStringLiteral("drop table ") + QString::fromLatin1(table));
        for (const char* index : {"Tjournal_kind_at", "Tjournal_desk_kind_at", "Tjournal_desk_kind_id"})
            env.sql(QStringLiteral("drop index ") + QString::fromLatin1(index));
        env.sql(QStringLiteral("alter table Tjournal drop column total_fen"));
        // and the packages' step after it
        env.sql(QStringLiteral("drop table Tpackage"));
        for (const char* column : {"prepaid_from", "prepaid_to", "bill_after"})
            env.sql(QStringLiteral("alter table Tsession drop column ") +
                    QString::fromLatin1(column));
        env.sql(QStringLiteral("update Tschema set version=4"));  // the step before the fen
        QSqlDatabase db = QSqlDatabase::database(env.module->connectionName());
        QString error;
        QVERIFY2(MigrateSchema(db, env.module->engine(), &error), qPrintable(error));
        QStringList fen;
        for (const JournalRow& row : AllJournalRows(env)) fen << row.totalFen;
        QCOMPARE(fen, (QStringList{"10", "770"}));
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QCOMPARE(report->totalCents, qint64(780));
        QCOMPARE(report->check.result, ChainCheck::Intact);
    }

    void csvBytes() {
        Env env;
        env.resolver.table.insert(QStringLiteral("pc,1"), 0x7F000001);
        AddBill(env, QStringLiteral("pc,1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
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

    // A machine named as a formula stays a name in Excel and WPS; amounts stay numbers.
    void csvKeepsFormulaLikeCellsAsText() {
        Env env;
        const QString machine = QStringLiteral("=HYPERLINK(\"http://x\",\"y\")");
        env.resolver.table.insert(machine, 0x7F000001);
        AddBill(env, machine, QStringLiteral("正常"), QStringLiteral("0元"), QStringLiteral("-1"),
                QStringLiteral("-0.5"), QStringLiteral("+9:0:0"));
        env.desk->operatorName = QStringLiteral("@王");
        env.desk->RefreshSessionGrid();
        env.clock.time = QTime(10, 16, 3);
        QVERIFY(CheckOut(*env.desk, machine));
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        const QStringList lines = QString::fromUtf8(ReportCsv(*report).mid(3)).split("\r\n");
        QCOMPARE(lines[1],
                 QStringLiteral("2026-12-09 10:16:03,\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\","
                                "'+9:0:0,10:16:03,1时10分,0.00,-1.00,-0.50,'@王,前台"));
    }

    // A bill whose amounts cannot be summed (written before amounts were bounded, or by
    // another tool) is listed as written and flagged; it is in no total, and says so.
    void theReportFlagsABillItCannotSum() {
        Env env;
        for (const char* total : {"3", "-1e300"}) {
            const QString machine = QStringLiteral("pc%1").arg(total);
            env.resolver.table.insert(machine, 0x7F000001);
            AddBill(env, machine, QStringLiteral("正常"), QStringLiteral("0元"), QStringLiteral("0"),
                    QString::fromLatin1(total));
            env.desk->RefreshSessionGrid();
            QVERIFY(CheckOut(*env.desk, machine));
        }
        const auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QCOMPARE(report->bills.size(), size_t(2));
        QCOMPARE(report->totalCents, qint64(300));
        QCOMPARE(report->unsummable, 1);
        QCOMPARE(report->flagged.size(), size_t(1));
        QCOMPARE(report->flagged[0].entry.machine, QStringLiteral("pc-1e300"));
        QVERIFY(report->flagged[0].entry.note.contains(QStringLiteral("未计入合计")));
        QCOMPARE(BillCells(report->bills[1])[7], QStringLiteral("-1e300"));  // not 0.00
    }

    // A report's totals come from sums kept by day, hour, machine (by day and by month) and
    // shift, plus the bills after the last fold summed from the journal: whatever has been
    // folded, they are the journal's own, across month ends and partial months.
    void keptSumsAgreeWithTheJournal() {
        Env env;
        struct Bill {
            QDateTime at;
            QString machine, total;
        };
        std::vector<Bill> bills;
        QDateTime at(QDate(2026, 5, 20), QTime(0, 30));
        for (int i = 0; at.date() <= QDate(2026, 7, 10); ++i, at = at.addSecs(23 * 3600 + 17 * 60))
            bills.push_back({at, QStringLiteral("pc%1").arg(i % 5), CentsText(37 * i + 1)});
        for (const QDateTime& edge :
             {QDateTime(QDate(2026, 5, 31), QTime(23, 59, 59)), QDateTime(QDate(2026, 6, 1), QTime(0, 0)),
              QDateTime(QDate(2026, 6, 30), QTime(23, 59, 59)), QDateTime(QDate(2026, 7, 1), QTime(0, 0))})
            bills.push_back({edge, QStringLiteral("边界"), QStringLiteral("0.01")});
        bills.push_back({QDateTime(QDate(2026, 6, 20), QTime(12, 0)), QStringLiteral("坏账"),
                         QStringLiteral("abc")});
        std::sort(bills.begin(), bills.end(), [](const Bill& a, const Bill& b) { return a.at < b.at; });
        const size_t half = bills.size() / 2;
        const auto write = [&](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i) {
                env.clock.date = bills[i].at.date();
                env.clock.time = bills[i].at.time();
                if (i == bills.size() / 3) {  // bills before any shift, then 小王's, then 小李's
                    QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("0")));
                } else if (i == 2 * bills.size() / 3) {
                    QVERIFY(CountShift(*env.desk, QStringLiteral("0")));
                    QVERIFY(CloseShift(*env.desk, QStringLiteral("差额见账")));
                    QVERIFY(OpenShift(*env.desk, QStringLiteral("小李"), QStringLiteral("0")));
                }
                QVERIFY(AppendJournal(
                    *env.desk, BillEntry(JournalKind::Checkout, bills[i].machine,
                                         QStringLiteral("9:0:0"), QStringLiteral("10:0:0"),
                                         QStringLiteral("1时0分"), bills[i].total,
                                         QStringLiteral("0"), bills[i].total,
                                         QStringLiteral("正常"))));
            }
        };
        const std::vector<std::pair<QDate, QDate>> ranges{
            {{2026, 5, 20}, {2026, 7, 10}}, {{2026, 6, 1}, {2026, 6, 30}},
            {{2026, 6, 15}, {2026, 6, 15}}, {{2026, 5, 25}, {2026, 6, 10}},
            {{2026, 6, 20}, {2026, 7, 5}},  {{2026, 5, 31}, {2026, 6, 1}},
            {{2026, 5, 1}, {2026, 7, 31}}};
        // What the bills written so far sum to, counted here from the list itself.
        const auto expect = [&](size_t written, const QDate& from, const QDate& to, Report* r) {
            r->billCount = 0;
            r->totalCents = 0;
            r->perHour = {};
            QMap<QDate, qint64> day;
            QMap<QString, qint64> machine;
            for (size_t i = 0; i < written; ++i) {
                if (bills[i].at.date() < from || bills[i].at.date() > to) continue;
                ++r->billCount;
                const std::optional<qint64> cents = ParseCents(bills[i].total);
                if (!cents || bills[i].total == QStringLiteral("abc")) continue;
                r->totalCents += *cents;
                day[bills[i].at.date()] += *cents;
                machine[bills[i].machine] += *cents;
                r->perHour[size_t(bills[i].at.time().hour())] += *cents;
            }
            r->perDay.assign(day.keyValueBegin(), day.keyValueEnd());
            r->perMachine.assign(machine.keyValueBegin(), machine.keyValueEnd());
        };
        const auto same = [](const Report& a, const Report& b, bool shifts) {
            return a.billCount == b.billCount && a.totalCents == b.totalCents &&
                   a.perDay == b.perDay && a.perHour == b.perHour &&
                   a.perMachine == b.perMachine && (!shifts || a.perShift == b.perShift);
        };
        const auto fold = [&] {
            QString error;
            QVERIFY2(FoldReportSums(env.module->connectionName(), env.module->engine().JournalLock(),
                                    &error),
                     qPrintable(error));
        };
        const auto reports = [&] {
            std::vector<Report> out;
            for (const auto& [from, to] : ranges) {
                const auto r = LoadReport(*env.desk, from, to);
                if (!r) return std::vector<Report>{};
                out.push_back(*r);
            }
            return out;
        };
        write(0, half);
        const std::vector<Report> fromJournal = reports();
        QCOMPARE(fromJournal.size(), ranges.size());
        for (size_t i = 0; i < ranges.size(); ++i) {
            Report expected;
            expect(half, ranges[i].first, ranges[i].second, &expected);
            QVERIFY2(same(fromJournal[i], expected, false), qPrintable(QString::number(i)));
        }
        fold();
        fold();  // nothing new: nothing added twice
        const std::vector<Report> fromSums = reports();
        QCOMPARE(fromSums.size(), ranges.size());
        for (size_t i = 0; i < ranges.size(); ++i)
            QVERIFY2(same(fromSums[i], fromJournal[i], true), qPrintable(QString::number(i)));

        write(half, bills.size());
        const std::vector<Report> both = reports();  // sums, and the bills after them
        fold();
        const std::vector<Report> folded = reports();
        QCOMPARE(folded.size(), ranges.size());
        for (size_t i = 0; i < ranges.size(); ++i) {
            Report expected;
            expect(bills.size(), ranges[i].first, ranges[i].second, &expected);
            QVERIFY2(same(both[i], expected, false), qPrintable(QString::number(i)));
            QVERIFY2(same(folded[i], both[i], true), qPrintable(QString::number(i)));
        }
        // Three shifts (none, 小王, 小李) over the whole range, whichever way it was summed.
        QCOMPARE(folded[0].perShift.size(), size_t(3));
        QCOMPARE(folded[0].unsummable, 1);
        QCOMPARE(folded[0].bills.size(), size_t(folded[0].billCount));
    }

    // The kept sums are outside the chain: the whole check holds them to the journal, finds a
    // sum changed, removed or made up by another tool, says so and sums them again.
    void theWholeCheckFindsAChangedSum_data() {
        QTest::addColumn<QString>("statement");
        QTest::newRow("an hour's sum raised") << QStringLiteral("update Tsumhour set fen=fen+100 where hour='10'");
        QTest::newRow("a count changed") << QStringLiteral("update Tsumshift set n=n+1");
        QTest::newRow("a month's machine removed")
            << QStringLiteral("delete from Tsummachine where span='m' and machine='pc1'");
        QTest::newRow("a day made up")
            << QStringLiteral("insert into Tsumhour (day, desk, hour, n, fen) values "
                              "('2026-12-25', '前台', '10', 1, 500)");
        QTest::newRow("a day before the first bill")
            << QStringLiteral("insert into Tsummachine (span, period, desk, machine, n, fen) values "
                              "('d', '2026-11-30', '前台', 'pc1', 1, 500)");
    }
    void theWholeCheckFindsAChangedSum() {
        QFETCH(QString, statement);
        Env env;
        for (int i = 0; i < 6; ++i) {
            env.clock.date = QDate(2026, 12, 1 + i % 3);
            QVERIFY(AppendJournal(*env.desk, BillEntry(JournalKind::Checkout,
                                                       QStringLiteral("pc%1").arg(i % 2),
                                                       QStringLiteral("9:0:0"),
                                                       QStringLiteral("10:0:0"),
                                                       QStringLiteral("1时0分"), QStringLiteral("3"),
                                                       QStringLiteral("0"), QStringLiteral("3"),
                                                       QStringLiteral("正常"))));
        }
        const QString name = env.module->connectionName();
        QString error;
        QVERIFY(FoldReportSums(name, env.module->engine().JournalLock(), &error));
        QCOMPARE(ReportSumsHold(name, &error), std::optional<bool>(true));
        const auto before = LoadReport(*env.desk, QDate(2026, 11, 1), QDate(2026, 12, 31));
        env.sql(statement);
        QCOMPARE(ReportSumsHold(name, &error), std::optional<bool>(false));

        bool checked = false;
        CheckJournalBeside(*env.desk, JournalCheck::Full,
                           [&](const ChainCheck& check) {
                               QCOMPARE(check.result, ChainCheck::Intact);
                               checked = true;
                           });
        QVERIFY(QTest::qWaitFor([&] { return checked; }, 20000));
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|") + kSumsRedoneText});
        QCOMPARE(ReportSumsHold(name, &error), std::optional<bool>(true));
        const auto after = LoadReport(*env.desk, QDate(2026, 11, 1), QDate(2026, 12, 31));
        QCOMPARE(after->totalCents, before->totalCents);
        QCOMPARE(after->perDay, before->perDay);
        QCOMPARE(after->perMachine, before->perMachine);
        QCOMPARE(after->perShift, before->perShift);
        QCOMPARE(after->billCount, qsizetype(6));
        QCOMPARE(after->perHour, before->perHour);
    }

    // The bills come a page at a time, in journal order; a bill settled after the report was
    // read is not among them, as it is in none of its totals.
    void billsAreReadAPageAtATime() {
        Env env;
        env.clock.time = QTime(9, 0);
        for (int i = 0; i < 7; ++i) {
            env.clock.time = env.clock.time.addSecs(60);
            QVERIFY(AppendJournal(*env.desk, BillEntry(JournalKind::Checkout,
                                                       QStringLiteral("pc%1").arg(i),
                                                       QStringLiteral("9:0:0"),
                                                       QStringLiteral("10:0:0"),
                                                       QStringLiteral("1时0分"), QStringLiteral("2"),
                                                       QStringLiteral("0"), QStringLiteral("2"),
                                                       QStringLiteral("正常"))));
        }
        auto report = LoadReport(*env.desk, env.clock.date, env.clock.date);
        QVERIFY(report);
        QCOMPARE(report->billCount, qsizetype(7));
        const std::vector<ReportBill> all = report->bills;
        QCOMPARE(all.size(), size_t(7));
        report->bills.resize(2);
        QVERIFY(ReadMoreBills(*env.desk, *report, 3));
        QCOMPARE(report->bills.size(), size_t(5));
        for (size_t i = 0; i < 5; ++i) QCOMPARE(report->bills[i].id, all[i].id);
        QCOMPARE(report->bills[4].shift, all[4].shift);
        QVERIFY(AppendJournal(*env.desk, BillEntry(JournalKind::Checkout, QStringLiteral("late"),
                                                   QStringLiteral("9:0:0"), QStringLiteral("10:0:0"),
                                                   QStringLiteral("1时0分"), QStringLiteral("5"),
                                                   QStringLiteral("0"), QStringLiteral("5"),
                                                   QStringLiteral("正常"))));
        QVERIFY(ReadAllBills(*env.desk, *report));
        QCOMPARE(report->bills.size(), size_t(7));
        QCOMPARE(report->bills.back().id, all.back().id);
        QVERIFY(ReadCsvLines(*report) == 8);
    }

    void eachDeskHasItsOwnShiftAndTheReportShowsOneOrAll() {
        Env env;
        SecondDesk b(env.connectionText(), env.dir.path(), QStringLiteral("二号前台"),
                     env.client.port());
        QVERIFY(OpenShift(*env.desk, QStringLiteral("小王"), QStringLiteral("100")));
        QVERIFY(OpenShift(*b.desk, QStringLiteral("小李"), QStringLiteral("50")));
        QCOMPARE(OpenShiftOf(*env.desk)->operatorName, QStringLiteral("小王"));
        QCOMPARE(OpenShiftOf(*b.desk)->operatorName, QStringLiteral("小李"));
        for (auto* d : {env.desk.get(), b.desk.get()}) {
            env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tsum, Cstate) values(?, "
                                   "'9:0:0', '2', '正常')"),
                    {d->deskName});
            env.resolver.table.insert(d->deskName, 0x7F000001);
            b.resolver.table.insert(d->deskName, 0x7F000001);
            d->RefreshSessionGrid();
            QVERIFY(CheckOut(*d, d->deskName));
        }
        QCOMPARE(CountShift(*env.desk, QStringLiteral("102"))->expectedCents, qint64(10200));
        QCOMPARE(CountShift(*b.desk, QStringLiteral("52"))->expectedCents, qint64(5200));
        QVERIFY(CloseShift(*env.desk, QString()));
        QVERIFY(OpenShiftOf(*b.desk));  // the other desk's drawer stays open

        const QDate day = env.clock.date;
        QCOMPARE(LoadReport(*env.desk, day, day)->bills.size(), size_t(2));
        const auto one = LoadReport(*env.desk, day, day, QStringLiteral("二号前台"));
        QCOMPARE(one->bills.size(), size_t(1));
        QCOMPARE(one->bills[0].operatorName, QStringLiteral("小李"));
        QVERIFY(JournalDesks(*env.desk).contains(QStringLiteral("二号前台")));
    }
};

QTEST_GUILESS_MAIN(LedgerTest)

#include "test_ledger.moc"
