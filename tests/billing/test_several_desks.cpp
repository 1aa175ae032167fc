#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <atomic>
#include <barrier>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/ExtraCharge.h"
#include "billing/SessionStart.h"
#include "billing/Transfer.h"
#include "support/LedgerFixtures.h"

// Several front desks on one database: the same command from two desks at the same moment
// succeeds once; a change on one desk shows on the other.
namespace {

const int kRounds = 200;

// Two desks, each on a thread of its own, run op at the same moment, kRounds times: before
// each round reset() puts the database back and both desks refresh their grids (both show
// the same bill), then both act at once, then check() sees both outcomes.
void Race(Env& env, const std::function<void()>& reset, const std::function<bool(SecondDesk&)>& op,
          const std::function<void(int round, int successes)>& check) {
    std::barrier sync(3);
    std::atomic<bool> outcome[2];
    auto desk = [&](int i) {
        return QThread::create([&, i] {
            SecondDesk side(env.connectionText(), env.dir.path(), QStringLiteral("desk%1").arg(i),
                            env.client.port());
            for (int round = 0; round < kRounds; ++round) {
                sync.arrive_and_wait();  // reset
                side.desk->RefreshSessionGrid();
                sync.arrive_and_wait();  // go
                outcome[i] = op(side);
                side.prompts.take();
                sync.arrive_and_wait();  // done
            }
        });
    };
    std::unique_ptr<QThread> a(desk(0)), b(desk(1));
    a->start();
    b->start();
    for (int round = 0; round < kRounds; ++round) {
        reset();
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        // A failed check does not leave the desks waiting: every round is run.
        if (!QTest::currentTestFailed()) check(round, int(outcome[0]) + int(outcome[1]));
    }
    a->wait();
    b->wait();
}

}  // namespace

class SeveralDesksTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void theSameStartFromTwoDesksSucceedsOnce() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        Race(
            env, [&] { env.sql(QStringLiteral("update Tcount set Cstate='无', Tstart=null")); },
            [](SecondDesk& side) {
                StartCommand(*side.desk);
                return side.prompts.boxes.contains(QStringLiteral("message|127.0.0.1"));
            },
            [&](int round, int successes) {
                QVERIFY2(
                    successes == 1,
                    qPrintable(QStringLiteral("round %1: %2 starts").arg(round).arg(successes)));
                QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")),
                         QStringLiteral("正常"));
            });
    }

    void theSameCheckoutFromTwoDesksSucceedsOnce() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        Race(
            env,
            [&] {
                env.sql(
                    QStringLiteral("update Tcount set Cstate='正常', Tstart='9:0:0', "
                                   "Tother='1', Tsum='3'"));
            },
            [](SecondDesk& side) { return CheckOut(*side.desk, QStringLiteral("127.0.0.1")); },
            [&](int round, int successes) {
                QVERIFY2(
                    successes == 1,
                    qPrintable(QStringLiteral("round %1: %2 checkouts").arg(round).arg(successes)));
                QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")),
                         QStringLiteral("无"));
                QCOMPARE(JournalRowsOf(env, JournalKind::Checkout), round + 1);  // billed once
            });
        QCOMPARE(VerifyJournal(*env.desk).result, ChainCheck::Intact);
    }

    void theSameTransferFromTwoDesksSucceedsOnce() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.addMachine(QStringLiteral("localhost"));
        Race(
            env,
            [&] {
                env.sql(
                    QStringLiteral("update Tcount set Cstate='正常', Tsum='5' where "
                                   "username='127.0.0.1'"));
                env.sql(
                    QStringLiteral("update Tcount set Cstate='无', Tsum='' where "
                                   "username='localhost'"));
            },
            [](SecondDesk& side) {
                side.resolver.table.insert(QStringLiteral("localhost"), 0x7F000001);
                return TransferSession(*side.desk, QStringLiteral("127.0.0.1"),
                                       QStringLiteral("localhost"));
            },
            [&](int round, int successes) {
                QVERIFY2(
                    successes == 1,
                    qPrintable(QStringLiteral("round %1: %2 transfers").arg(round).arg(successes)));
                QCOMPARE(env.field(QStringLiteral("localhost"), QStringLiteral("Tsum")),
                         QStringLiteral("5"));
                QCOMPARE(env.field(QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")),
                         QStringLiteral("无"));
                QCOMPARE(JournalRowsOf(env, JournalKind::Transfer), round + 1);
            });
    }

    // Machine b was started by another program (or connection) after the grid was read: the
    // grid still shows it idle, with an empty bill. The checkout reads the row under its lock,
    // sends nothing, shows the row's bill and settles that one when pressed again.
    void aCheckoutFromAStaleGridIsDecidedByTheRow() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.desk->RefreshSessionGrid();
        env.otherTool(
            QStringLiteral("update Tcount set Tstart='9:0:0', Tnow='9:0:0', Stime='0', "
                           "Tmoney='0', Tother='0', Tsum='0', gotime='', Cstate='正常'"));
        QCOMPARE(CheckoutRow(*env.desk), std::optional<int>(0));  // the look-up sees it in use
        const ShownBill shown = GridBill(*env.desk, 0);
        QCOMPARE(shown.state, QStringLiteral("无"));  // the grid has not seen it
        std::optional<ShownBill> refilled;
        QCOMPARE(CheckOut(*env.desk, shown, [&](const ShownBill& row) { refilled = row; }),
                 CheckoutOutcome::BillChanged);
        QCOMPARE(env.prompts.take().last(),
                 QStringLiteral("message|") + BillingText::BillChangedText("127.0.0.1"));
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QVERIFY(refilled);
        QCOMPARE(refilled->state, QStringLiteral("正常"));
        QCOMPARE(refilled->start, QStringLiteral("9:0:0"));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(JournalRowsOf(env, JournalKind::Checkout), 0);

        QCOMPARE(CheckOut(*env.desk, *refilled), CheckoutOutcome::Done);
        QCOMPARE(env.prompts.take().last(), QStringLiteral("message|下机到这已经全部完成了."));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        const auto rows = ReadJournal(*env.desk, QDateTime(QDate(2000, 1, 1), QTime()),
                                      QDateTime(QDate(2100, 1, 1), QTime()));
        QCOMPARE(rows->size(), size_t(1));
        QCOMPARE(rows->front().entry.start, QStringLiteral("9:0:0"));
        QCOMPARE(rows->front().entry.state, QStringLiteral("正常"));
    }

    // Desk 1 shows a bill of 3; desk 2 adds a charge of 5; desk 1's checkout must not settle 3
    // and erase the 5: it shows 8 and settles 8 once confirmed.
    void aBillChangedOnAnotherDeskIsConfirmedAgain() {
        Env env;
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("9:0:0"), QStringLiteral("1"));
        env.sql(QStringLiteral("update Tcount set Stime='1时0分', Tmoney='2元', Tsum='3'"));
        env.desk->RefreshSessionGrid();
        const ShownBill shown = GridBill(*env.desk, 0);
        QCOMPARE(shown.total, QStringLiteral("3"));
        SecondDesk two(env.connectionText(), env.dir.path(), QStringLiteral("二号前台"),
                       env.client.port());
        QCOMPARE(AddExtraCharge(*two.desk, QStringLiteral("127.0.0.1"), QStringLiteral("5")),
                 ChargeOutcome::Added);

        std::optional<ShownBill> refilled;
        QCOMPARE(CheckOut(*env.desk, shown, [&](const ShownBill& row) { refilled = row; }),
                 CheckoutOutcome::BillChanged);
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QCOMPARE(refilled->other, QStringLiteral("6"));
        QCOMPARE(refilled->total, QStringLiteral("8"));
        QCOMPARE(CheckOut(*env.desk, *refilled), CheckoutOutcome::Done);
        const auto rows = ReadJournal(*env.desk, QDateTime(QDate(2000, 1, 1), QTime()),
                                      QDateTime(QDate(2100, 1, 1), QTime()));
        QCOMPARE(rows->back().entry.kind, JournalKind::Checkout);
        QCOMPARE(rows->back().entry.total, QStringLiteral("8"));  // the charge is in a bill
        QCOMPARE(rows->back().entry.other, QStringLiteral("6"));
    }

    // What counts as the bill shown: the row may have been billed by a pass since, but nothing
    // else may have changed.
    void theRowIsTheBillShownWhen_data() {
        QTest::addColumn<QStringList>("shown");  // state, start, other, total
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<int>("minute");  // now: 10:minute, the rate 2
        QTest::addColumn<bool>("same");
        const QStringList bill{"正常", "9:0:0", "1", "3"};
        QTest::newRow("unchanged") << bill << bill << 25 << true;
        QTest::newRow("amounts written another way")
            << bill << QStringList{"正常", "9:0:0", "1.0", "3.00"} << 25 << true;
        QTest::newRow("empty charges are none")
            << QStringList{"正常", "9:0:0", "", "3"} << QStringList{"正常", "9:0:0", "0", "3"} << 25
            << true;
        // 1时25分: 2 + 1.3, plus the charge of 1.
        QTest::newRow("billed by a pass since")
            << bill << QStringList{"正常", "9:0:0", "1", "4.3"} << 25 << true;
        // At 10:20 the pass of 10:19 (1时19分: 2 + 0.7 + 1) may not have run again yet.
        QTest::newRow("billed the minute before")
            << bill << QStringList{"正常", "9:0:0", "1", "3.7"} << 20 << true;
        QTest::newRow("billed two minutes before")
            << bill << QStringList{"正常", "9:0:0", "1", "3.7"} << 21 << false;
        QTest::newRow("a charge added")
            << bill << QStringList{"正常", "9:0:0", "6", "8"} << 25 << false;
        QTest::newRow("a total no pass gives")
            << bill << QStringList{"正常", "9:0:0", "1", "99"} << 25 << false;
        QTest::newRow("another session (transferred in)")
            << bill << QStringList{"正常", "8:0:0", "1", "3"} << 25 << false;
        QTest::newRow("made overnight")
            << bill << QStringList{"通宵", "9:0:0", "1", "3"} << 25 << false;
        QTest::newRow("an overnight total moved")
            << QStringList{"通宵", "22:0:0", "10", "10"}
            << QStringList{"通宵", "22:0:0", "10", "12"} << 25 << false;
        QTest::newRow("a total that is no amount")
            << bill << QStringList{"正常", "9:0:0", "1", "abc"} << 25 << false;
    }
    void theRowIsTheBillShownWhen() {
        QFETCH(QStringList, shown);
        QFETCH(QStringList, row);
        QFETCH(int, minute);
        QFETCH(bool, same);
        if (TestEngine::Postgres()) QSKIP("no database involved");
        const auto bill = [](const QStringList& v) {
            return ShownBill{"pc", v[1], {}, {}, {}, v[2], v[3], {}, v[0]};
        };
        QCOMPARE(SameBill(bill(shown), bill(row), 2.0, 10, minute), same);
    }

    void anotherDesksChangeShowsWithinTwoSeconds() {
        Env env;
        if (!env.postgres()) QSKIP("a file has no other desks to tell");
        env.addMachine(QStringLiteral("127.0.0.1"));
        SecondDesk b(env.connectionText(), env.dir.path(), QStringLiteral("B"), env.client.port());
        b.desk->RefreshSessionGrid();
        QCOMPARE(b.module->ADOQuery1->FieldText(0, QStringLiteral("Cstate")), QStringLiteral("无"));
        env.desk->RefreshSessionGrid();
        StartCommand(*env.desk);  // on desk A
        QTRY_COMPARE_WITH_TIMEOUT(b.module->ADOQuery1->FieldText(0, QStringLiteral("Cstate")),
                                  QStringLiteral("正常"), 2000);
        QCOMPARE(b.prompts.boxes, QStringList());
    }

    // Another desk's change is read on the worker and put in place; a read that a change on
    // this desk overtook is dropped instead of showing older rows over newer ones.
    void aRefreshBesideTheWindowNeverUndoesANewerOne() {
        Env env;
        env.addMachine(QStringLiteral("a"));
        env.desk->RefreshSessionGrid();
        Query* grid = env.module->ADOQuery1;
        env.otherTool(QStringLiteral("update Tcount set gotime='9:00' where username='a'"));
        env.desk->RefreshSessionGridBeside();
        QTRY_COMPARE(grid->FieldText(0, QStringLiteral("gotime")), QStringLiteral("9:00"));

        env.otherTool(QStringLiteral("update Tcount set gotime='9:30' where username='a'"));
        env.desk->RefreshSessionGridBeside();
        // The worker has read '9:30' when this returns; its answer waits for the event loop.
        QSemaphore read;
        env.desk->RunOnWorker([&](QSqlDatabase&, const Engine&) { read.release(); }, [] {});
        read.acquire();
        env.sql(QStringLiteral("update Tcount set gotime='10:00' where username='a'"));
        env.desk->RefreshSessionGrid();
        bool idle = false;
        env.desk->RunOnWorker([](QSqlDatabase&, const Engine&) {}, [&] { idle = true; });
        QTRY_VERIFY(idle);
        QCOMPARE(grid->FieldText(0, QStringLiteral("gotime")), QStringLiteral("10:00"));

        // A machine more: the rows are replaced whole.
        env.otherTool(QStringLiteral("insert into Tcount (username) values ('b')"));
        env.desk->RefreshSessionGridBeside();
        QTRY_COMPARE(grid->RecordCount(), 2);
        QCOMPARE(env.prompts.boxes, QStringList());
    }

    // Another program's change shows by the next tick: on a file nothing announces it, so the
    // tick asks the worker's connection whether anyone else committed; a server tells.
    void anotherProgramsChangeShowsByTheNextTick() {
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("9:0:0"));
        env.addMachine(QStringLiteral("b"));
        env.desk->RefreshSessionGrid();
        Query* grid = env.module->ADOQuery1;
        env.desk->SetCurrentRow(1);  // b highlighted
        env.otherTool(QStringLiteral("update Tcount set Cstate='正常', Tstart='9:30:0', "
                                     "Tother='0' where username='b'"));
        env.otherTool(QStringLiteral("insert into Tcount (username) values ('c')"));
        env.desk->NoticeChangesElsewhere();
        QTRY_COMPARE(grid->RecordCount(), 3);
        QTRY_COMPARE(grid->FieldText(1, QStringLiteral("Cstate")), QStringLiteral("正常"));
        QCOMPARE(env.desk->CurrentRowMachine(), QStringLiteral("b"));

        // Nothing committed elsewhere since: no read at all. Nor after a pass of this desk's own
        // worker, whose cells are set in place.
        const auto settled = [&] {
            bool idle = false;
            env.desk->RunOnWorker([](QSqlDatabase&, const Engine&) {}, [&] { idle = true; });
            QTRY_VERIFY(idle);
            QCoreApplication::processEvents();
        };
        env.desk->NoticeChangesElsewhere();
        settled();
        env.clock.time = QTime(10, 30, 0);
        BillingPassBeside(*env.desk);
        QTRY_VERIFY(!env.desk->billingPassRunning);
        QCOMPARE(grid->FieldText(0, QStringLiteral("Stime")), QStringLiteral("1时30分"));
        const quint64 shown = grid->Generation();
        env.desk->NoticeChangesElsewhere();
        settled();
        if (!env.postgres()) QCOMPARE(grid->Generation(), shown);
        QCOMPARE(env.prompts.boxes, QStringList());
    }

    void theMidnightQuestionIsAskedOnOneDesk() {
        Env env;
        if (!env.postgres()) QSKIP("one desk per file");
        env.sql(
            QStringLiteral("insert into Tcount(username, Tstart, Tother, Cstate) values('late', "
                           "'23:50:0', '0', '正常')"));
        SecondDesk b(env.connectionText(), env.dir.path(), QStringLiteral("B"), env.client.port());
        env.clock.time = b.clock.time = QTime(0, 5, 0);
        int asked = 0;
        env.prompts.whileOpen = [&](const QString& box) {
            if (!box.startsWith(QStringLiteral("confirm|")) || asked++) return;
            BillingPass(*b.desk);  // desk B's tick while A's question is open
        };
        env.prompts.answers = {true};
        BillingPass(*env.desk);
        QCOMPARE(b.prompts.boxes, QStringList());  // B left it to A
        QCOMPARE(env.field(QStringLiteral("late"), QStringLiteral("Cstate")),
                 QStringLiteral("通宵"));
        QCOMPARE(JournalRowsOf(env, JournalKind::MidnightOvernight), 1);
    }
};

int runSeveralDesksTest(int argc, char** argv) {
    SeveralDesksTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_several_desks.moc"
