#include <QSignalSpy>
#include <QTest>

#include "billing/BillingPass.h"
#include "billing/SessionStart.h"
#include "support/Fixtures.h"

namespace {

const QString kMidnight =
    QStringLiteral("confirm|该用户上机已超过了一天或现在是晚上12点以后了，是否该设为上通宵了呢？");
const QString kPassFault = QStringLiteral("message|数据库运行出错，请关闭并重试一次!");

// A timer tick: the pass inside the entry points' guard.
void tick(Env& env) {
    env.desk->Guard([&] { BillingPass(*env.desk); });
}

QStringList bill(Env& env, const QString& name) {
    return {env.field(name, QStringLiteral("Stime")), env.field(name, QStringLiteral("Tmoney")),
            env.field(name, QStringLiteral("Tsum"))};
}

// Every cell of the grid as the database holds it now.
void gridMatches(Env& env) {
    Query* grid = env.module->ADOQuery1;
    QVERIFY(grid->Active());
    QCOMPARE(grid->RecordCount(), env.count());
    for (int r = 0; r < grid->RecordCount(); ++r) {
        const QString name = grid->FieldText(r, QStringLiteral("username"));
        for (const char* column :
             {"Tstart", "Tnow", "Stime", "Tmoney", "Tother", "Tsum", "gotime", "Cstate"})
            QCOMPARE(grid->FieldText(r, QString::fromLatin1(column)),
                     env.field(name, QString::fromLatin1(column)));
    }
}

}  // namespace

class BillingPassTest : public QObject {
    Q_OBJECT

  private slots:
    CAFE_ENGINE_ROWS

    void feeBands_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("hours");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<double>("fee");
        QTest::newRow("2: 0h4") << 2.0 << 0 << 4 << 0.0;
        QTest::newRow("2: 0h20") << 2.0 << 0 << 20 << 1.3;
        QTest::newRow("2: 1h10") << 2.0 << 1 << 10 << 2.7;
        QTest::newRow("2: 1h40") << 2.0 << 1 << 40 << 4.0;
        QTest::newRow("2: 2h0") << 2.0 << 2 << 0 << 4.0;
        QTest::newRow("2: 0h19") << 2.0 << 0 << 19 << 0.7;
        QTest::newRow("2: 0h39") << 2.0 << 0 << 39 << 1.3;
        QTest::newRow("3: 0h5") << 3.0 << 0 << 5 << 1.0;
        QTest::newRow("3: 0h20") << 3.0 << 0 << 20 << 2.0;
        // Exact halves go to the even tenth.
        QTest::newRow("0.75: 0h5, 2.5 tenths to 2") << 0.75 << 0 << 5 << 0.2;
        QTest::newRow("0.75: 0h20") << 0.75 << 0 << 20 << 0.5;
        QTest::newRow("3.75: 0h5, 12.5 tenths to 12") << 3.75 << 0 << 5 << 1.2;
        QTest::newRow("3.75: 0h20") << 3.75 << 0 << 20 << 2.5;
        QTest::newRow("2.5: 0h5") << 2.5 << 0 << 5 << 0.8;
        QTest::newRow("2.5: 0h20") << 2.5 << 0 << 20 << 1.7;
    }
    void feeBands() {
        QFETCH(double, rate);
        QFETCH(int, hours);
        QFETCH(int, minutes);
        QFETCH(double, fee);
        QCOMPARE(TimeFee(rate, hours, minutes), fee);
    }

    void elapsedTime() {
        QCOMPARE(Elapsed(10, 0, 10, 5).minutes, 5);
        QCOMPARE(Elapsed(9, 50, 11, 10).hours, 1);
        QCOMPARE(Elapsed(9, 50, 11, 10).minutes, 20);
    }

    void passBillsEveryNormalSession() {
        Env env;
        env.clock.time = QTime(12, 0, 30);
        env.addSession(QStringLiteral("a"), QStringLiteral("11:40:10"));
        env.addSession(QStringLiteral("b"), QStringLiteral("10:50:0"));
        env.addSession(QStringLiteral("c"), QStringLiteral("10:20:0"));
        env.addSession(QStringLiteral("d"), QStringLiteral("10:0:0"));
        env.addSession(QStringLiteral("e"), QStringLiteral("10:50:0"), QStringLiteral("1.5"));
        env.addSession(QStringLiteral("f"), QStringLiteral("11:56:59"), QStringLiteral("2"));
        env.addSession(QStringLiteral("night"), QStringLiteral("21:00:00"), QStringLiteral("10"),
                       QStringLiteral("通宵"));
        env.addMachine(QStringLiteral("idle"));
        env.module->ADOQuery1->Close();
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.boxes, QStringList());
        QCOMPARE(bill(env, "a"), (QStringList{"0时20分", "1.3元", "1.3"}));
        QCOMPARE(bill(env, "b"), (QStringList{"1时10分", "2.7元", "2.7"}));
        QCOMPARE(bill(env, "c"), (QStringList{"1时40分", "4元", "4"}));
        QCOMPARE(bill(env, "d"), (QStringList{"2时0分", "4元", "4"}));
        QCOMPARE(bill(env, "e"), (QStringList{"1时10分", "2.7元", "4.2"}));
        QCOMPARE(bill(env, "f"), (QStringList{"0时4分", "0元", "2"}));
        QCOMPARE(bill(env, "night"), (QStringList{"0", "0", "10"}));
        QCOMPARE(env.field("idle", "Stime"), QString());
        QVERIFY(env.module->ADOQuery1->Active());  // the grid was refreshed

        // Seconds do not count; a start on an earlier day is measured as if today.
        env.sql(QStringLiteral("update Tcount set Tstart='10:00:59' where username='a'"));
        env.sql(QStringLiteral("update Tcount set Tstart='2026-12-08 9:30:00' where username='b'"));
        env.clock.time = QTime(10, 5, 0);
        env.sql(QStringLiteral("update Tcount set Cstate='无' where username not in ('a')"));
        BillingPass(*env.desk);
        QCOMPARE(bill(env, "a"), (QStringList{"0时5分", "0.7元", "0.7"}));
        env.sql(QStringLiteral("update Tcount set Cstate='正常' where username='b'"));
        env.clock.time = QTime(11, 10, 0);
        BillingPass(*env.desk);
        QCOMPARE(bill(env, "b"), (QStringList{"1时40分", "4元", "4"}));
    }

    void rateChangeRepricesFromTheStart() {
        Env env;
        env.clock.time = QTime(11, 10, 0);
        env.addSession(QStringLiteral("pc"), QStringLiteral("10:0:0"));
        BillingPass(*env.desk);
        QCOMPARE(env.field("pc", "Tmoney"), QStringLiteral("2.7元"));
        env.sql(QStringLiteral("update Tmoney set OneTime='3'"));
        env.sql(QStringLiteral(
            "insert into Tmoney values('100', '100')"));  // only the first row counts
        BillingPass(*env.desk);
        QCOMPARE(env.field("pc", "Tmoney"), QStringLiteral("4元"));
    }

    void clockRefreshTouchesOnlyNormalSessions() {
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("9:0:0"));
        env.addSession(QStringLiteral("n"), QStringLiteral("21:0:0"), QStringLiteral("10"),
                       QStringLiteral("通宵"));
        env.addMachine(QStringLiteral("z"));
        env.clock.time = QTime(9, 5, 7);
        env.module->ADOQuery1->Close();
        RefreshClock(*env.desk);
        QCOMPARE(env.field("a", "Tnow"), QStringLiteral("9:05:07"));
        QCOMPARE(env.field("n", "Tnow"), QStringLiteral("21:0:0"));
        QVERIFY(env.isNull("z", "Tnow"));
        QVERIFY(env.module->ADOQuery1->Active());
        QCOMPARE(env.module->ADOQuery1->Sql(),
                 QStringLiteral("select * from Tcount order by username"));

        // Nothing in session: the pass writes nothing and leaves the grid alone.
        env.sql(QStringLiteral("update Tcount set Cstate='无'"));
        env.module->ADOQuery1->Close();
        BillingPass(*env.desk);
        QVERIFY(!env.module->ADOQuery1->Active());
        QCOMPARE(env.prompts.boxes, QStringList());
    }

    void midnightYesMakesTheRowOvernight() {
        Env env;
        env.addSession(QStringLiteral("late"), QStringLiteral("23:50:00"), QStringLiteral("1.5"));
        env.addSession(QStringLiteral("next"), QStringLiteral("0:00:00"));
        env.sql(
            QStringLiteral("update Tcount set Tsum='3.5', Stime='0时5分' where username='late'"));
        env.clock.time = QTime(0, 5, 0);
        env.prompts.answers = {true};
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), (QStringList{kMidnight, "message|请先去结账一次!"}));
        QCOMPARE(env.field("late", "Cstate"), QStringLiteral("通宵"));
        QCOMPARE(env.field("late", "Tmoney"), QStringLiteral("0"));
        QCOMPARE(env.field("late", "Tsum"), QStringLiteral("3.5"));
        QCOMPARE(env.field("late", "Tstart"), QStringLiteral("23:50:00"));
        QCOMPARE(env.field("late", "Stime"), QStringLiteral("0时5分"));
        QCOMPARE(bill(env, "next"), (QStringList{"0时5分", "0.7元", "0.7"}));  // later rows go on
        QCOMPARE(env.client.take().size(), 0);                                 // nothing is sent
        BillingPass(*env.desk);  // the overnight row is not asked about again
        QCOMPARE(env.prompts.take(), QStringList());
    }

    void midnightNoStopsThePass() {
        Env env;
        env.addSession(QStringLiteral("a-late"), QStringLiteral("23:50:00"));
        env.addSession(QStringLiteral("b-after"), QStringLiteral("0:00:00"));
        env.clock.time = QTime(0, 5, 0);
        env.module->ADOQuery1->Close();
        BillingPass(*env.desk);  // unscripted: No
        QCOMPARE(env.prompts.take(),
                 (QStringList{kMidnight, "message|系统已不能再为该机计费，请自行处理!"}));
        QCOMPARE(env.field("a-late", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("b-after", "Stime"), QStringLiteral("0"));  // not billed in this pass
        QVERIFY(env.module->ADOQuery1->Active());
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take().first(), kMidnight);  // asked again every pass

        // Same hour, earlier minute: it began almost a day ago, not 65,535 hours.
        env.sql(QStringLiteral("delete from Tcount"));
        env.addSession(QStringLiteral("day"), QStringLiteral("10:30:00"));
        env.clock.time = QTime(10, 10, 0);
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take().first(), kMidnight);
        QCOMPARE(env.field("day", "Stime"), QStringLiteral("0"));
    }

    void tariffFailuresEndThePassBeforeAnyRow() {  // the tariff: no table, no row, not a number
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("9:0:0"));
        env.sql(QStringLiteral("delete from Tmoney"));
        tick(env);
        QCOMPARE(env.prompts.take(),
                 QStringList{"unhandled|'' is not a valid floating point value"});
        env.sql(QStringLiteral("insert into Tmoney values('abc', '10')"));
        tick(env);
        QCOMPARE(env.prompts.take(),
                 QStringList{"unhandled|'abc' is not a valid floating point value"});
        env.sql(QStringLiteral("drop table Tmoney"));
        tick(env);
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith("unhandled|"));
        QCOMPARE(env.field("a", "Stime"), QStringLiteral("0"));
        QVERIFY(!env.desk->billingPassRunning);
    }

    void
    badStartOrChargeEndsThePassAtThatRow() {  // a bad Tstart or Tother ends the pass at that row
        Env env;
        env.clock.time = QTime(10, 10, 0);
        env.addSession(QStringLiteral("a-first"), QStringLiteral("10:0:0"));
        env.addSession(QStringLiteral("b-bad"), QStringLiteral("ten o'clock"));
        env.addSession(QStringLiteral("c-last"), QStringLiteral("10:0:0"));
        env.module->ADOQuery1->Close();
        tick(env);
        QCOMPARE(env.prompts.take(),
                 QStringList{"unhandled|'ten o'clock' is not a valid date and time"});
        QCOMPARE(env.field("a-first", "Stime"), QStringLiteral("0时10分"));
        QCOMPARE(env.field("c-last", "Stime"), QStringLiteral("0"));
        QVERIFY(!env.module->ADOQuery1->Active());  // no grid refresh
        env.sql(QStringLiteral(
            "update Tcount set Tstart='10:0:0', Tother='1.5元' where username='b-bad'"));
        tick(env);
        QCOMPARE(env.prompts.take(),
                 QStringList{"unhandled|'1.5元' is not a valid floating point value"});
    }

    void failedRowUpdateKeepsTheRowsBeforeIt() {  // the update of one row fails: rows before it
                                                  // stay written
        Env env;
        env.clock.time = QTime(10, 10, 0);
        for (const char* name : {"r1", "r2", "r3"})
            env.addSession(QString::fromLatin1(name), QStringLiteral("10:0:0"));
        env.failOn(QStringLiteral("update of Stime"), QStringLiteral("Tcount"),
                   QStringLiteral("new.username='r2'"));
        env.module->ADOQuery1->Close();
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{"message|数据库运行出错，请关闭并重试一次！"});
        // On PostgreSQL a failed statement undoes its whole transaction: the rows before it
        // wait for the next pass, which bills them from their start all the same.
        QCOMPARE(env.field("r1", "Stime"),
                 env.postgres() ? QStringLiteral("0") : QStringLiteral("0时10分"));
        QCOMPARE(env.field("r2", "Stime"), QStringLiteral("0"));
        QCOMPARE(env.field("r3", "Stime"), QStringLiteral("0"));
        QVERIFY(!env.module->ADOQuery1->Active());
    }

    void failedMidnightSwitchEndsThePass() {  // the switch at midnight fails
        Env env;
        env.addSession(QStringLiteral("late"), QStringLiteral("23:50:00"));
        env.failOn(QStringLiteral("update of Cstate"), QStringLiteral("Tcount"));
        env.clock.time = QTime(0, 5, 0);
        env.prompts.answers = {true};
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(),
                 (QStringList{kMidnight, "message|请先去结账一次!", kPassFault}));
        QCOMPARE(env.field("late", "Cstate"), QStringLiteral("正常"));
        QVERIFY(!env.module->ADOQuery1->Active());
    }

    void clockUpdateWorksGridReopenFails() {  // the clock update works, the grid's reopen fails
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("9:0:0"));
        env.failWholeRowReadsAfterNextUpdate();
        env.clock.time = QTime(9, 30, 0);
        RefreshClock(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{kPassFault});
        QCOMPARE(env.field("a", "Tnow"), QStringLiteral("9:30:00"));
        QVERIFY(!env.module->ADOQuery1->Active());
    }

    void unreadableRowsAndFailedClockUpdate() {  // the rows cannot be read; the clock update fails
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("9:0:0"));
        env.setReadOnly(true);
        RefreshClock(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{kPassFault});
        QVERIFY(!env.module->ADOQuery1->Active());
        env.setReadOnly(false);
        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{kPassFault});
    }

    void startWritesTheMachineThatWasToldToStart() {
        Env env;
        env.addMachine(QStringLiteral("pc-a"));
        env.addMachine(QStringLiteral("pc-b"));
        env.resolver.table.insert(QStringLiteral("pc-a"), 0x7F000001);
        env.desk->RefreshSessionGrid();
        // While "pc-a" is looked up, the operator aims another command at pc-b.
        env.resolver.whileWaiting = [&](const QString&) {
            env.desk->SelectedMachine = QStringLiteral("pc-b");
        };
        StartCommand(*env.desk);
        QCOMPARE(env.prompts.take(), (QStringList{"message|上机", "message|pc-a"}));
        QCOMPARE(env.field("pc-a", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("pc-b", "Cstate"), QStringLiteral("无"));
    }

    // The grid is patched with what the passes wrote instead of being read again: after each
    // it shows what the database holds, and a pass that changes nothing signals nothing.
    void gridFollowsThePassesWithoutReadingAgain() {
        Env env;
        env.clock.time = QTime(10, 20, 10);
        env.addSession(QStringLiteral("a"), QStringLiteral("10:0:0"));
        env.addSession(QStringLiteral("B"), QStringLiteral("9:30:0"), QStringLiteral("1.5"));
        env.addSession(QStringLiteral("甲机-Ä"), QStringLiteral("10:0:0"), QStringLiteral("2.5"));
        env.addSession(QStringLiteral("night"), QStringLiteral("21:0:0"), QStringLiteral("10"),
                       QStringLiteral("通宵"));
        env.addMachine(QStringLiteral("idle"));
        env.desk->RefreshSessionGrid();
        Query* grid = env.module->ADOQuery1;
        QSignalSpy reset(grid, &QAbstractItemModel::modelReset);
        QSignalSpy changed(grid, &QAbstractItemModel::dataChanged);
        BillingPass(*env.desk);
        RefreshClock(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        QCOMPARE(changed.count(), 2);  // one for the pass, one for the clock
        QCOMPARE(reset.count(), 0);
        gridMatches(env);
        QCOMPARE(bill(env, "B"), (QStringList{"0时50分", "2元", "3.5"}));
        QCOMPARE(bill(env, "甲机-Ä"), (QStringList{"0时20分", "1.3元", "3.8"}));

        // Later in the same minute: nothing is written (an update would fail here), nothing
        // repaints. The clock at the second it already shows changes nothing either.
        changed.clear();
        env.clock.time = QTime(10, 20, 50);
        RefreshClock(*env.desk);
        QCOMPARE(changed.count(), 1);
        changed.clear();
        env.failOn(QStringLiteral("update of Stime"), QStringLiteral("Tcount"));
        BillingPass(*env.desk);
        RefreshClock(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        QCOMPARE(changed.count(), 0);
        env.clearFailure();

        // A new minute: the changed cells, in one signal.
        env.clock.time = QTime(10, 21, 0);
        BillingPass(*env.desk);
        QCOMPARE(changed.count(), 1);
        gridMatches(env);

        // Another program's change shows at the next refresh, read in place; a row more and
        // the view starts over.
        changed.clear();
        env.otherTool(QStringLiteral("update Tcount set gotime='11:00' where username='a'"));
        env.desk->RefreshSessionGrid();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(reset.count(), 0);
        gridMatches(env);
        env.desk->RefreshSessionGrid();
        QCOMPARE(changed.count(), 1);
        env.addMachine(QStringLiteral("new"));
        env.desk->RefreshSessionGrid();
        QCOMPARE(reset.count(), 1);
        gridMatches(env);
    }

    // The rows after the midnight row were read before the question; what another desk does
    // to them while it is open (a charge, a checkout) is not overwritten by the pass.
    void rowsChangedSinceTheirReadAreNotOverwritten() {
        Env env;
        env.addSession(QStringLiteral("late"), QStringLiteral("23:50:0"));
        env.addSession(QStringLiteral("x"), QStringLiteral("0:0:0"));
        env.addSession(QStringLiteral("y"), QStringLiteral("0:0:0"));
        env.clock.time = QTime(0, 30, 0);
        env.prompts.answers = {true};
        env.prompts.whileOpen = [&](const QString& box) {
            if (box != kMidnight) return;
            env.otherTool(
                QStringLiteral("update Tcount set Tother='5', Tsum='5' where username='x'"));
            env.otherTool(QStringLiteral(
                "update Tcount set Cstate='无', Tstart=null, Stime=null, Tmoney=null, Tother=null, "
                "Tsum=null where username='y'"));
        };
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), (QStringList{kMidnight, "message|请先去结账一次!"}));
        QCOMPARE(bill(env, "x"), (QStringList{"0", "0", "5"}));  // the charge kept
        QVERIFY(env.isNull(QStringLiteral("y"), QStringLiteral("Tsum")));
        env.prompts.whileOpen = {};
        BillingPass(*env.desk);  // the next pass bills it from what it is now
        QCOMPARE(bill(env, "x"), (QStringList{"0时30分", "1.3元", "6.3"}));
    }

    // A pass whose rows would not change sends nothing that writes: it goes through where no
    // write could, and the next minute's pass, which has rows to write, does not.
    void passThatChangesNothingWritesNothing() {
        Env env;
        env.clock.time = QTime(10, 10, 0);
        env.addSession(QStringLiteral("a"), QStringLiteral("10:0:0"));
        env.addSession(QStringLiteral("b"), QStringLiteral("9:0:0"), QStringLiteral("1.5"));
        env.desk->RefreshSessionGrid();
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        QCOMPARE(bill(env, "b"), (QStringList{"1时10分", "2.7元", "4.2"}));
        env.setReadOnly(true);
        env.clock.time = QTime(10, 10, 50);
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        env.clock.time = QTime(10, 11, 0);
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList{"message|数据库运行出错，请关闭并重试一次！"});
        env.setReadOnly(false);
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        QCOMPARE(bill(env, "a"), (QStringList{"0时11分", "0.7元", "0.7"}));
        gridMatches(env);
    }

    // Names travel to the server packed in arrays: none may be read as anything but itself.
    void namesThatLookLikeSyntaxAreBilled() {
        Env env;
        env.clock.time = QTime(10, 30, 0);
        const QStringList names{QStringLiteral("a\"b"), QStringLiteral("c\\d"),
                                QStringLiteral("e,f{g}"), QStringLiteral("NULL"),
                                QStringLiteral("网 吧'1")};
        for (const QString& name : names) env.addSession(name, QStringLiteral("10:0:0"));
        env.desk->RefreshSessionGrid();
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take(), QStringList());
        for (const QString& name : names)
            QCOMPARE(bill(env, name), (QStringList{"0时30分", "1.3元", "1.3"}));
        gridMatches(env);
    }

    // Beside the window, on the desk's worker: the same values, the same boxes in the same
    // order, no row after a No billed in that pass, the rows before a failure as here.
    void passBesideTheWindowAsksAndStopsAsHere() {
        Env env;
        env.addSession(QStringLiteral("a"), QStringLiteral("0:0:0"));
        env.addSession(QStringLiteral("late"), QStringLiteral("23:50:0"));
        env.addSession(QStringLiteral("z"), QStringLiteral("0:1:0"));
        env.clock.time = QTime(0, 30, 0);
        env.desk->RefreshSessionGrid();
        const auto besidePass = [&] {
            BillingPassBeside(*env.desk);
            QVERIFY(env.desk->billingPassRunning);
            BillingPassBeside(*env.desk);  // a tick while it runs starts no second pass
            QTRY_VERIFY(!env.desk->billingPassRunning);
        };
        env.prompts.answers = {false};
        besidePass();
        QCOMPARE(env.prompts.take(),
                 (QStringList{kMidnight, "message|系统已不能再为该机计费，请自行处理!"}));
        QCOMPARE(bill(env, "a"), (QStringList{"0时30分", "1.3元", "1.3"}));
        QCOMPARE(env.field("z", "Stime"), QStringLiteral("0"));

        env.prompts.answers = {true};
        besidePass();
        QCOMPARE(env.prompts.take(), (QStringList{kMidnight, "message|请先去结账一次!"}));
        QCOMPARE(env.field("late", "Cstate"), QStringLiteral("通宵"));
        QCOMPARE(bill(env, "z"), (QStringList{"0时29分", "1.3元", "1.3"}));
        RefreshClockBeside(*env.desk);
        QTRY_VERIFY(!env.desk->clockRefreshRunning);
        gridMatches(env);

        env.clock.time = QTime(0, 45, 0);
        env.failOn(QStringLiteral("update of Stime"), QStringLiteral("Tcount"),
                   QStringLiteral("new.username='z'"));
        besidePass();
        QCOMPARE(env.prompts.take(), QStringList{kPassFault.chopped(1) + u'！'});
        QCOMPARE(env.field("a", "Stime"),
                 env.postgres() ? QStringLiteral("0时30分") : QStringLiteral("0时45分"));
        QCOMPARE(env.field("z", "Stime"), QStringLiteral("0时29分"));
        // A pass that fails leaves the grid as it was, as it always has.
        Query* grid = env.module->ADOQuery1;
        QCOMPARE(grid->FieldText(grid->FindRow(QStringLiteral("username"), QStringLiteral("a")),
                                 QStringLiteral("Stime")),
                 QStringLiteral("0时30分"));
    }
};

int runBillingPassTest(int argc, char** argv) {
    BillingPassTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_billing_pass.moc"
