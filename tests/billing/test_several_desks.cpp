#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <atomic>
#include <barrier>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
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
