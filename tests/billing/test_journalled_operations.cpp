#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/Overnight.h"
#include "billing/Transfer.h"
#include "ledger/Journal.h"
#include "machines/Machines.h"
#include "support/LedgerFixtures.h"
#ifdef CAFE_TEST_SQLITE_SHIM
#include "support/SqliteShim.h"
#endif

// Every operation that moves money writes its journal row in the same transaction as its
// change: both or neither.
namespace {

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

}  // namespace

class JournalledOperationsTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void checkoutRecordsTheBillShown() {
        Env env;
        AddBill(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("1.5"), QStringLiteral("4.2"));
        env.desk->operatorName = QStringLiteral("小王");
        env.desk->RefreshSessionGrid();
        env.clock.time = QTime(10, 16, 3);
        QVERIFY(CheckOut(*env.desk, QStringLiteral("127.0.0.1")));
        const auto rows = AllJournalRows(env);
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
        AddBill(env, QStringLiteral("a"), QStringLiteral("正常"), QStringLiteral("2.7元"),
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
        AddBill(env, QStringLiteral("late"), QStringLiteral("正常"), QStringLiteral("0元"),
                QStringLiteral("0"), QStringLiteral("3"), QStringLiteral("23:50:0"));
        env.clock.time = QTime(0, 5, 0);
        env.prompts.answers = {true, true};  // b (moved from a) and late both ran past midnight
        BillingPass(*env.desk);
        QVERIFY(DeleteMachine(*env.desk, QStringLiteral("b")));
        QVERIFY(DeleteMachine(*env.desk, QStringLiteral("a")));  // idle: nothing to record
        env.prompts.take();

        const auto rows = AllJournalRows(env);
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

    // A power cut at the moment a checkout's commit deletes its rollback journal: the disk
    // keeps the database as written and, unless the delete was synced with its folder, the
    // journal too, which the next open plays back. The checkout and the head this desk
    // remembers must both survive, and the head must not be remembered before that moment.
    void aPowerCutAtTheCommitKeepsTheCheckoutAndTheHead() {
#ifndef CAFE_TEST_SQLITE_SHIM
        QSKIP("needs SQLite's file layer (the system library)");
#else
        Env env;
        if (env.postgres()) QSKIP("the file layer is SQLite's; the server syncs its own commits");
        AddBill(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("1.5"), QStringLiteral("4.2"));
        QCOMPARE(AddExtraCharge(*env.desk, QStringLiteral("127.0.0.1"), QStringLiteral("1")),
                 ChargeOutcome::Added);
        const auto before = env.desk->JournalHead();
        QCOMPARE(before.id, qint64(1));
        env.desk->RefreshSessionGrid();
        std::optional<SqliteShim::JournalDelete> cut;
        JournalMark headAtCut;
        SqliteShim::OnJournalDelete([&](const SqliteShim::JournalDelete& d) {
            if (QFileInfo(d.database) != QFileInfo(env.dbPath())) return;
            cut = d;
            headAtCut = env.desk->JournalHead();
        });
        const bool checkedOut = CheckOut(*env.desk, QStringLiteral("127.0.0.1"));
        SqliteShim::OnJournalDelete({});
        QVERIFY(checkedOut);
        QVERIFY(cut);
        QVERIFY(headAtCut == before);  // not yet: the commit was not on disk
        QCOMPARE(env.desk->JournalHead().id, qint64(2));

        // The files as the disk may hold them after the cut, opened as at the next start.
        QTemporaryDir after;
        const QString file = after.filePath(QStringLiteral("count.db"));
        const auto write = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        QVERIFY(write(file, cut->databaseBytes));
        if (!cut->syncsFolder) QVERIFY(write(file + QStringLiteral("-journal"), cut->journalBytes));
        const QString name = QStringLiteral("after-cut");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("select Cstate from Tcount where username='127.0.0.1'")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("无"));
            QVERIFY(q.exec(QStringLiteral("select count(*) from Tjournal where kind='结账下机'")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 1);
            q.finish();
            QCOMPARE(VerifyJournalOn(name, env.desk->JournalHead()).result, ChainCheck::Intact);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
#endif
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
        AddBill(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
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
        QCOMPARE(AllJournalRows(env).size(), size_t(0));
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

int runJournalledOperationsTest(int argc, char** argv) {
    JournalledOperationsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_journalled_operations.moc"
