#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "billing/BillingPass.h"
#include "billing/Reminders.h"
#include "billing/SessionStart.h"
#include "desk/Messages.h"
#include "support/Fixtures.h"
#include "support/PausableProxy.h"
#include "support/PrivateServer.h"

// Desks on a server that goes away: restarted, its backends ended, a row held by a stalled
// desk, the network paused. Each desk notices, says so once (no box at a tick), keeps its grid,
// refuses commands meanwhile, and comes back by itself.
namespace {

const QString kLost = QStringLiteral("message|") + DeskText::ServerLost;

// Both ticks and the reminders, as the timers run them.
void Ticks(Desk& desk) {
    RefreshClockBeside(desk);
    BillingPassBeside(desk);
    CheckRemindersBeside(desk);
}

// Until every job the desk's worker was given has come back.
void Drain(Desk& desk) {
    bool back = false;
    desk.RunOnWorker([](QSqlDatabase&, const Engine&) {}, [&] { back = true; });
    QTRY_VERIFY_WITH_TIMEOUT(back, 60000);
    QTRY_VERIFY(!desk.billingPassRunning && !desk.clockRefreshRunning && !desk.remindersRunning);
}

QString Cell(SecondDesk& d, const QString& machine, const QString& column) {
    const Query* grid = d.module->ADOQuery1;
    return grid->FieldText(grid->FindRow(QStringLiteral("username"), machine), column);
}

void Select(SecondDesk& d, const QString& machine) {
    d.desk->SetCurrentRow(d.module->ADOQuery1->FindRow(QStringLiteral("username"), machine));
}

}  // namespace

class ServerLossTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PrivateServer> server;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<Receiver> client;
    QString database;

    // A desk on the server (or on the proxy in front of it) with a machine in session since
    // 9:00 and an idle one, at 10:10.
    std::unique_ptr<SecondDesk> deskOn(const QString& uri, const QString& name) {
        auto d = std::make_unique<SecondDesk>(uri, folder->path(), name, client->port());
        d->clock.time = QTime(10, 10, 0);
        d->desk->RefreshSessionGrid();
        return d;
    }
    void sql(const QString& statement) {
        OtherProgram tool(server->uri(database));
        tool.exec(statement);
    }

  private slots:
    void initTestCase() {
        // Each test skips instead: a skip here leaves Qt Test skipping every class run after
        // this one in the same program.
        if (qEnvironmentVariable("CAFE_NO_POSTGRES") == QStringLiteral("1")) return;
        server = std::make_unique<PrivateServer>();
        QVERIFY2(server->ok(), qPrintable(server->why()));
    }
    void init() {
        if (!server) QSKIP("CAFE_NO_POSTGRES=1: no PostgreSQL server is started");
        if (!server->ok()) QSKIP("no private server");
        server->start();  // after a test that stopped it
        folder = std::make_unique<QTemporaryDir>();
        client = std::make_unique<Receiver>();
        database = server->createDatabase();
        QVERIFY(!database.isEmpty());
        // The first connection makes the tables.
        SecondDesk maker(server->uri(database), folder->path(), QStringLiteral("maker"),
                         client->port());
        maker.module->Disconnect();
        sql(QStringLiteral(
            "insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, Tsum, gotime, "
            "Cstate) values('a', '9:0:0', '9:0:0', '0', '0元', '0', '0', '', '正常')"));
        sql(QStringLiteral("insert into Tcount(username) values('127.0.0.1')"));
    }
    void cleanupTestCase() { server.reset(); }

    void aStoppedAndRestartedServerIsRiddenOutByBothDesks() {
        auto a = deskOn(server->uri(database), QStringLiteral("A"));
        auto b = deskOn(server->uri(database), QStringLiteral("B"));
        QSignalSpy aSaid(a->desk.get(), &Desk::connectionChanged);
        QSignalSpy bSaid(b->desk.get(), &Desk::connectionChanged);

        QVERIFY(server->stopImmediately());
        // Noticed without any statement, within the second the idle check takes.
        QTRY_VERIFY_WITH_TIMEOUT(a->desk->ConnectionLost() && b->desk->ConnectionLost(), 5000);
        for (int tick = 0; tick < 3; ++tick) {
            Ticks(*a->desk);
            Ticks(*b->desk);
            a->desk->RefreshSessionGrid();
            QTest::qWait(100);
        }
        for (SecondDesk* d : {a.get(), b.get()}) {
            QCOMPARE(d->prompts.boxes, QStringList());  // no box at a tick
            QVERIFY(d->module->ADOQuery1->Active());    // the grid keeps what it showed
            QCOMPARE(d->module->ADOQuery1->RecordCount(), 2);
        }
        QCOMPARE(aSaid.count(), 1);  // said once

        // A command meanwhile: one box of our own, nothing sent.
        Select(*a, QStringLiteral("127.0.0.1"));
        a->desk->Guard([&] { StartCommand(*a->desk); });
        QCOMPARE(a->prompts.take(), QStringList{kLost});
        QCOMPARE(client->take(0, 200).size(), 0);

        QVERIFY(server->start());
        QTRY_VERIFY_WITH_TIMEOUT(!a->desk->ConnectionLost() && !b->desk->ConnectionLost(), 30000);

        // Restarted at once while both run: the same, by itself.
        QVERIFY(server->restartImmediately());
        // Back only when the window's connection is back too, not as soon as the worker is
        // (it may meet the restart first): a command at once goes through.
        QTRY_VERIFY_WITH_TIMEOUT(aSaid.count() >= 4 && bSaid.count() >= 4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!a->desk->ConnectionLost() && !b->desk->ConnectionLost(), 30000);

        // Everything works again: the passes bill, a command goes through, the other desk's
        // grid follows (it listens again).
        Ticks(*a->desk);
        Drain(*a->desk);
        QCOMPARE(Cell(*a, QStringLiteral("a"), QStringLiteral("Stime")), QStringLiteral("1时10分"));
        Select(*a, QStringLiteral("127.0.0.1"));
        a->desk->Guard([&] { StartCommand(*a->desk); });
        QCOMPARE(a->prompts.take().join(u" / "), QStringLiteral("message|上机 / message|127.0.0.1"));
        QCOMPARE(client->takeWords(1), QStringList{QStringLiteral("sj")});
        QTRY_COMPARE_WITH_TIMEOUT(Cell(*b, QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")),
                                  QStringLiteral("正常"), 3000);
        QCOMPARE(b->prompts.boxes, QStringList());
    }

    void endedBackendsAreNoticedAndTheGridFollowsOtherDesksAgain() {
        auto a = deskOn(server->uri(database), QStringLiteral("A"));
        Ticks(*a->desk);
        Drain(*a->desk);  // the worker has its connection too
        QSignalSpy said(a->desk.get(), &Desk::connectionChanged);
        sql(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity where "
                           "datname = current_database() and pid <> pg_backend_pid()"));
        QTRY_VERIFY_WITH_TIMEOUT(said.count() >= 2 && !a->desk->ConnectionLost(), 30000);
        QCOMPARE(a->prompts.boxes, QStringList());

        // Another desk's change shows again, without a tick.
        sql(QStringLiteral("update Tcount set gotime='11:00' where username='a'"));
        QTRY_COMPARE_WITH_TIMEOUT(Cell(*a, QStringLiteral("a"), QStringLiteral("gotime")),
                                  QStringLiteral("11:00"), 3000);
        // The first command goes through.
        Select(*a, QStringLiteral("127.0.0.1"));
        a->desk->Guard([&] { StartCommand(*a->desk); });
        QCOMPARE(a->prompts.take().join(u" / "), QStringLiteral("message|上机 / message|127.0.0.1"));
        Ticks(*a->desk);
        Drain(*a->desk);
        QCOMPARE(a->prompts.boxes, QStringList());
        QCOMPARE(Cell(*a, QStringLiteral("a"), QStringLiteral("Stime")), QStringLiteral("1时10分"));
    }

    void aRowHeldByAStalledDeskIsBilledLaterAndFailsNoPass() {
        sql(QStringLiteral(
            "insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, Tsum, gotime, "
            "Cstate) values('b', '9:0:0', '9:0:0', '0', '0元', '0', '0', '', '正常')"));
        auto a = deskOn(server->uri(database), QStringLiteral("A"));
        auto b = deskOn(server->uri(database), QStringLiteral("B"));
        OtherProgram stalled(server->uri(database));
        stalled.exec(QStringLiteral("begin"));
        stalled.exec(QStringLiteral("select * from Tcount where username='a' for update"));
        // Longer than any lock timeout: two rounds of both passes on both desks, beside the
        // window and on the window's own connection.
        for (int round = 0; round < 2; ++round) {
            for (SecondDesk* d : {a.get(), b.get()}) {
                Ticks(*d->desk);
                Drain(*d->desk);
                BillingPass(*d->desk);
                RefreshClock(*d->desk);
            }
            QTest::qWait(1100);
        }
        for (SecondDesk* d : {a.get(), b.get()}) {
            QCOMPARE(d->prompts.boxes, QStringList());
            QVERIFY(d->module->ADOQuery1->Active());
            QCOMPARE(Cell(*d, QStringLiteral("b"), QStringLiteral("Stime")),
                     QStringLiteral("1时10分"));
            QCOMPARE(Cell(*d, QStringLiteral("a"), QStringLiteral("Stime")), QStringLiteral("0"));
        }
        stalled.release();
        Ticks(*a->desk);
        Drain(*a->desk);
        QCOMPARE(Cell(*a, QStringLiteral("a"), QStringLiteral("Stime")), QStringLiteral("1时10分"));
        QCOMPARE(Cell(*a, QStringLiteral("a"), QStringLiteral("Tnow")), QStringLiteral("10:10:00"));
        QCOMPARE(a->prompts.boxes, QStringList());
    }

    void aPausedNetworkNeverHoldsTheWindowAndEverythingCatchesUp() {
        PausableProxy proxy(server->port());
        auto a = deskOn(PrivateServer::uriOn(proxy.port(), database), QStringLiteral("A"));
        Ticks(*a->desk);
        Drain(*a->desk);
        a->clock.time = QTime(10, 40, 0);

        proxy.pause();
        Ticks(*a->desk);
        // The pass waits on the worker; the window's event loop keeps turning.
        bool turned = false;
        QTimer::singleShot(0, [&] { turned = true; });
        QTRY_VERIFY(turned);
        QVERIFY(a->desk->billingPassRunning);
        for (int tick = 0; tick < 3; ++tick) Ticks(*a->desk);  // skipped: one pass at a time

        // A command on the window's own connection ends within its limit, without waiting for
        // the network: its own box and ours; nothing sent, nothing written.
        Select(*a, QStringLiteral("127.0.0.1"));
        a->desk->Guard([&] { StartCommand(*a->desk); });
        QVERIFY(proxy.paused());
        QCOMPARE(a->prompts.take(),
                 (QStringList{QStringLiteral("message|") + DeskText::DbFault,
                              QStringLiteral("message|") + DeskText::ServerLostDuringCommand}));
        QVERIFY(a->desk->ConnectionLost());
        a->desk->Guard([&] { StartCommand(*a->desk); });  // and refused while it is lost
        QCOMPARE(a->prompts.take(), QStringList{kLost});
        QCOMPARE(client->take(0, 200).size(), 0);
        QVERIFY(a->module->ADOQuery1->Active());
        QCOMPARE(a->module->ADOQuery1->RecordCount(), 2);

        QTest::qWait(2000);
        proxy.resume();
        QTRY_VERIFY_WITH_TIMEOUT(!a->desk->ConnectionLost(), 60000);
        Drain(*a->desk);
        // The pass that waited has billed, once; the grid shows it.
        QCOMPARE(Cell(*a, QStringLiteral("a"), QStringLiteral("Stime")), QStringLiteral("1时40分"));
        QCOMPARE(Cell(*a, QStringLiteral("127.0.0.1"), QStringLiteral("Cstate")),
                 QStringLiteral("无"));
        QCOMPARE(a->prompts.boxes, QStringList());
        // And the command goes through now.
        Select(*a, QStringLiteral("127.0.0.1"));
        a->desk->Guard([&] { StartCommand(*a->desk); });
        QCOMPARE(a->prompts.take().join(u" / "), QStringLiteral("message|上机 / message|127.0.0.1"));
        QCOMPARE(client->takeWords(1), QStringList{QStringLiteral("sj")});
    }
};

int runServerLossTest(int argc, char** argv) {
    ServerLossTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_server_loss.moc"
