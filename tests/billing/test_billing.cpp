#include <QAction>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/SessionStart.h"
#include "console/TForm1.h"
#include "tests/support/Fixtures.h"
#include "widgets/Themed.h"

namespace {

const QString kMidnight =
    QStringLiteral("confirm|该用户上机已超过了一天或现在是晚上12点以后了，是否该设为上通宵了呢？");
const QString kPassFault = QStringLiteral("message|数据库运行出错，请关闭并重试一次!");

void session(Env& env, const QString& name, const QString& start,
             const QString& other = QStringLiteral("0"),
             const QString& state = QStringLiteral("正常")) {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, ?, ?, '0', '0', ?, ?, '', ?)"),
            {name, start, start, other, other, state});
}

QStringList bill(Env& env, const QString& name) {
    return {env.field(name, QStringLiteral("Stime")), env.field(name, QStringLiteral("Tmoney")),
            env.field(name, QStringLiteral("Tsum"))};
}

}  // namespace

class BillingTest : public QObject {
    Q_OBJECT

  private slots:
    void feeBands() {
        QCOMPARE(TimeFee(2, 0, 4), 0.0);
        QCOMPARE(TimeFee(2, 0, 20), 1.3);
        QCOMPARE(TimeFee(2, 1, 10), 2.7);
        QCOMPARE(TimeFee(2, 1, 40), 4.0);
        QCOMPARE(TimeFee(2, 2, 0), 4.0);
        QCOMPARE(TimeFee(2, 0, 19), 0.7);
        QCOMPARE(TimeFee(2, 0, 39), 1.3);
        QCOMPARE(TimeFee(3, 0, 5), 1.0);
        QCOMPARE(TimeFee(3, 0, 20), 2.0);
        // Exact halves go to the even tenth.
        QCOMPARE(TimeFee(0.75, 0, 5), 0.2);
        QCOMPARE(TimeFee(0.75, 0, 20), 0.5);
        QCOMPARE(TimeFee(3.75, 0, 5), 1.2);
        QCOMPARE(TimeFee(3.75, 0, 20), 2.5);
        QCOMPARE(TimeFee(2.5, 0, 5), 0.8);
        QCOMPARE(TimeFee(2.5, 0, 20), 1.7);
        QCOMPARE(Elapsed(10, 0, 10, 5).minutes, 5);
        QCOMPARE(Elapsed(9, 50, 11, 10).hours, 1);
        QCOMPARE(Elapsed(9, 50, 11, 10).minutes, 20);
    }

    void passBillsEveryNormalSession() {
        Env env;
        env.clock.time = QTime(12, 0, 30);
        session(env, QStringLiteral("a"), QStringLiteral("11:40:10"));
        session(env, QStringLiteral("b"), QStringLiteral("10:50:0"));
        session(env, QStringLiteral("c"), QStringLiteral("10:20:0"));
        session(env, QStringLiteral("d"), QStringLiteral("10:0:0"));
        session(env, QStringLiteral("e"), QStringLiteral("10:50:0"), QStringLiteral("1.5"));
        session(env, QStringLiteral("f"), QStringLiteral("11:56:59"), QStringLiteral("2"));
        session(env, QStringLiteral("night"), QStringLiteral("21:00:00"), QStringLiteral("10"),
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
        session(env, QStringLiteral("pc"), QStringLiteral("10:0:0"));
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
        session(env, QStringLiteral("a"), QStringLiteral("9:0:0"));
        session(env, QStringLiteral("n"), QStringLiteral("21:0:0"), QStringLiteral("10"),
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
        session(env, QStringLiteral("late"), QStringLiteral("23:50:00"), QStringLiteral("1.5"));
        session(env, QStringLiteral("next"), QStringLiteral("0:00:00"));
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
        session(env, QStringLiteral("late"), QStringLiteral("23:50:00"));
        session(env, QStringLiteral("after"), QStringLiteral("0:00:00"));
        env.clock.time = QTime(0, 5, 0);
        env.module->ADOQuery1->Close();
        BillingPass(*env.desk);  // unscripted: No
        QCOMPARE(env.prompts.take(),
                 (QStringList{kMidnight, "message|系统已不能再为该机计费，请自行处理!"}));
        QCOMPARE(env.field("late", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("after", "Stime"), QStringLiteral("0"));  // not billed in this pass
        QVERIFY(env.module->ADOQuery1->Active());
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take().first(), kMidnight);  // asked again every pass

        // Same hour, earlier minute: it began almost a day ago, not 65,535 hours.
        env.sql(QStringLiteral("delete from Tcount"));
        session(env, QStringLiteral("day"), QStringLiteral("10:30:00"));
        env.clock.time = QTime(10, 10, 0);
        BillingPass(*env.desk);
        QCOMPARE(env.prompts.take().first(), kMidnight);
        QCOMPARE(env.field("day", "Stime"), QStringLiteral("0"));
    }

    void aTickDuringABoxDoesNotStartASecondPass() {
        Env env;
        TForm1 form(*env.desk);
        session(env, QStringLiteral("late"), QStringLiteral("23:50:00"));
        env.clock.time = QTime(0, 5, 0);
        int nested = 0;
        env.prompts.whileOpen = [&](const QString& box) {
            if (!box.startsWith(QStringLiteral("confirm|")) || nested++) return;
            form.Timer2Timer();  // the billing tick, skipped
            form.Timer1Timer();  // the clock tick, a pass of the other kind, runs
        };
        env.prompts.answers = {false};
        form.Timer2Timer();
        QCOMPARE(env.prompts.take(),
                 (QStringList{kMidnight, "message|系统已不能再为该机计费，请自行处理!"}));
        QCOMPARE(env.field("late", "Tnow"), QStringLiteral("0:05:00"));
        QVERIFY(!env.desk->billingPassRunning);
        env.prompts.answers = {false};
        form.Timer2Timer();  // the next tick runs normally
        QCOMPARE(env.prompts.take().first(), kMidnight);
    }

    void passFailures() {
        {  // the tariff: no table, no row, not a number
            Env env;
            session(env, QStringLiteral("a"), QStringLiteral("9:0:0"));
            TForm1 form(*env.desk);
            env.sql(QStringLiteral("delete from Tmoney"));
            form.Timer2Timer();
            QCOMPARE(env.prompts.take(),
                     QStringList{"unhandled|'' is not a valid floating point value"});
            env.sql(QStringLiteral("insert into Tmoney values('abc', '10')"));
            form.Timer2Timer();
            QCOMPARE(env.prompts.take(),
                     QStringList{"unhandled|'abc' is not a valid floating point value"});
            env.sql(QStringLiteral("drop table Tmoney"));
            form.Timer2Timer();
            const QStringList boxes = env.prompts.take();
            QCOMPARE(boxes.size(), 1);
            QVERIFY(boxes[0].startsWith("unhandled|"));
            QCOMPARE(env.field("a", "Stime"), QStringLiteral("0"));
            QVERIFY(!env.desk->billingPassRunning);
        }
        {  // a bad Tstart or Tother ends the pass at that row
            Env env;
            env.clock.time = QTime(10, 10, 0);
            session(env, QStringLiteral("first"), QStringLiteral("10:0:0"));
            session(env, QStringLiteral("bad"), QStringLiteral("ten o'clock"));
            session(env, QStringLiteral("last"), QStringLiteral("10:0:0"));
            TForm1 form(*env.desk);
            env.module->ADOQuery1->Close();
            form.Timer2Timer();
            QCOMPARE(env.prompts.take(),
                     QStringList{"unhandled|'ten o'clock' is not a valid date and time"});
            QCOMPARE(env.field("first", "Stime"), QStringLiteral("0时10分"));
            QCOMPARE(env.field("last", "Stime"), QStringLiteral("0"));
            QVERIFY(!env.module->ADOQuery1->Active());  // no grid refresh
            env.sql(QStringLiteral(
                "update Tcount set Tstart='10:0:0', Tother='1.5元' where username='bad'"));
            form.Timer2Timer();
            QCOMPARE(env.prompts.take(),
                     QStringList{"unhandled|'1.5元' is not a valid floating point value"});
        }
        {  // the update of one row fails: rows before it stay written
            Env env;
            env.clock.time = QTime(10, 10, 0);
            for (const char* name : {"r1", "r2", "r3"})
                session(env, QString::fromLatin1(name), QStringLiteral("10:0:0"));
            env.sql(
                QStringLiteral("create trigger fail before update of Stime on Tcount "
                               "when new.username='r2' begin select raise(abort, 'disk'); end"));
            env.module->ADOQuery1->Close();
            BillingPass(*env.desk);
            QCOMPARE(env.prompts.take(), QStringList{"message|数据库运行出错，请关闭并重试一次！"});
            QCOMPARE(env.field("r1", "Stime"), QStringLiteral("0时10分"));
            QCOMPARE(env.field("r2", "Stime"), QStringLiteral("0"));
            QCOMPARE(env.field("r3", "Stime"), QStringLiteral("0"));
            QVERIFY(!env.module->ADOQuery1->Active());
        }
        {  // the switch at midnight fails
            Env env;
            session(env, QStringLiteral("late"), QStringLiteral("23:50:00"));
            env.sql(
                QStringLiteral("create trigger fail before update of Cstate on Tcount "
                               "begin select raise(abort, 'no'); end"));
            env.clock.time = QTime(0, 5, 0);
            env.prompts.answers = {true};
            BillingPass(*env.desk);
            QCOMPARE(env.prompts.take(),
                     (QStringList{kMidnight, "message|请先去结账一次!", kPassFault}));
            QCOMPARE(env.field("late", "Cstate"), QStringLiteral("正常"));
            QVERIFY(!env.module->ADOQuery1->Active());
        }
        {  // the clock update works, the grid's reopen fails
            Env env;
            session(env, QStringLiteral("a"), QStringLiteral("9:0:0"));
            env.failWholeRowReadsAfterNextUpdate();
            env.clock.time = QTime(9, 30, 0);
            RefreshClock(*env.desk);
            QCOMPARE(env.prompts.take(), QStringList{kPassFault});
            QCOMPARE(env.field("a", "Tnow"), QStringLiteral("9:30:00"));
            QVERIFY(!env.module->ADOQuery1->Active());
        }
        {  // the rows cannot be read; the clock update fails
            Env env;
            session(env, QStringLiteral("a"), QStringLiteral("9:0:0"));
            env.sql(QStringLiteral("pragma query_only=1"));
            RefreshClock(*env.desk);
            QCOMPARE(env.prompts.take(), QStringList{kPassFault});
            QVERIFY(!env.module->ADOQuery1->Active());
            env.sql(QStringLiteral("pragma query_only=0"));
            env.sql(QStringLiteral("alter table Tcount rename to Gone"));
            BillingPass(*env.desk);
            QCOMPARE(env.prompts.take(), QStringList{kPassFault});
        }
    }

    void startSendsAndWritesTheStartRow() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.addMachine(QStringLiteral("busy"));
        env.sql(QStringLiteral("update Tcount set Cstate='正常' where username='busy'"));
        TForm1 form(*env.desk);
        env.clock.time = QTime(0, 0, 5);
        form.action("N27")->trigger();
        QCOMPARE(env.prompts.take(), (QStringList{"message|上机", "message|127.0.0.1"}));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
        QStringList row;
        for (const char* c :
             {"Tstart", "Tnow", "Stime", "Tmoney", "Tother", "Tsum", "gotime", "Cstate"})
            row << env.field("127.0.0.1", QString::fromLatin1(c));
        QCOMPARE(row, (QStringList{"0:0:5", "0:0:5", "0", "0", "0", "0", "", "正常"}));
        QVERIFY(!env.isNull("127.0.0.1", "gotime"));
        QCOMPARE(env.desk->CurrentRowMachine(), QStringLiteral("127.0.0.1"));

        // Already in session (normal or overnight): refused, nothing sent.
        form.action("ToolButton1")->trigger();
        env.desk->SetCurrentRow(1);
        form.action("N27")->trigger();
        QCOMPARE(env.prompts.take(), QStringList(2, QStringLiteral("message|该机已处于上机状态!")));
        QCOMPARE(env.client.take().size(), 0);

        // An empty grid looks up an empty name.
        env.sql(QStringLiteral("delete from Tcount"));
        env.desk->RefreshSessionGrid();
        form.action("N27")->trigger();
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|该机已处于上机状态!")});
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

    void startFailures() {
        Env env;
        env.addMachine(QStringLiteral("nowhere"));
        TForm1 form(*env.desk);
        form.action("N27")->trigger();
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|上机", "message|发送命令不能到达对方，请检查网络！",
                              "message|不能发送命令给该机，请检查该机是否联网!"}));
        QCOMPARE(env.field("nowhere", "Cstate"), QStringLiteral("无"));

        env.sql(QStringLiteral("delete from Tcount"));
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.desk->RefreshSessionGrid();
        env.sql(QStringLiteral(
            "create trigger fail before update on Tcount begin select raise(abort, 'x'); end"));
        form.action("N27")->trigger();
        // The start row cannot be written, so the client is not told to unlock.
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|上机", "message|数据库出现错误，请与管理员联系"}));
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        QVERIFY(!env.module->ADOQuery1->Active());  // empty until the next refresh

        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        StartCommand(*env.desk);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库运行有误，请关闭本软件重新运行!")});
    }

    void checkout() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("9:5:7"), QStringLiteral("1.5"));
        env.sql(QStringLiteral("update Tcount set Stime='1时10分', Tmoney='2.7元', Tsum='4.2'"));
        TForm1 form(*env.desk);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // The dialog shows the grid as of its last refresh, not a fresh read.
        env.sql(QStringLiteral("update Tcount set Tsum='99'"));
        const QRect cell = form.DBGrid1->visualRect(form.DBGrid1->model()->index(0, 2));
        // A real double-click: the first press selects, the second reports the double-click.
        QTest::mouseClick(form.DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(form.DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
        Tinformation* dialog = form.information;
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("下机"));
        QCOMPARE((QStringList{dialog->la_computername->text(), dialog->la_startime->text(),
                              dialog->la_totaltime->text(), dialog->la_timemoney->text(),
                              dialog->la_othermoney->text(), dialog->la_allmoney->text(),
                              dialog->la_onStatus->text()}),
                 (QStringList{"127.0.0.1", "9:5:7", "1时10分", "2.7元", "1.5", "4.2", "正常"}));
        QCOMPARE(env.prompts.take(), QStringList());

        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:127.0.0.1",
                              "message|127.0.0.1", "message|发送信息完成，收到没有是客户端的事了.",
                              "message|下机到这已经全部完成了."}));
        QCOMPARE(env.client.take(1)[0].bytes, QByteArray("xiaji") + QByteArray(25, '\0'));
        for (const char* c : {"Tstart", "Tnow", "Stime", "Tmoney", "Tother", "Tsum", "gotime"}) {
            QCOMPARE(env.field("127.0.0.1", QString::fromLatin1(c)), QString());
            QVERIFY(!env.isNull("127.0.0.1", QString::fromLatin1(c)));
        }
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(form.DBGrid1->model()->index(0, 8).data().toString(), QStringLiteral("无"));

        // 下机 on the idle machine starts a session instead.
        form.action("N28")->trigger();
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|上机", "message|127.0.0.1", "message|现在是要上机了"}));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
        QVERIFY(!dialog->isVisible());
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));
    }

    void checkoutEdgeCases() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("21:0:0"), QStringLiteral("10"),
                QStringLiteral("通宵"));
        session(env, QStringLiteral("other"), QStringLiteral("9:0:0"), QStringLiteral("3"));
        env.resolver.table.insert(QStringLiteral("other"), 0x7F000001);
        TForm1 form(*env.desk);
        Tinformation* dialog = form.information;
        form.action("ToolButton2")->trigger();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->la_onStatus->text(), QStringLiteral("通宵"));

        // Another command moves SelectedMachine meanwhile; the checkout stays on the bill shown.
        env.desk->SelectedMachine = QStringLiteral("other");
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take().last(), QStringLiteral("message|下机到这已经全部完成了."));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        QCOMPARE(env.field("other", "Cstate"), QStringLiteral("正常"));
        QCOMPARE(env.field("other", "Tother"), QStringLiteral("3"));
        env.client.take(1);

        // Already idle in the grid: "xiaji" goes out, nothing is written.
        env.sql(QStringLiteral("update Tcount set Tstart='kept' where username='127.0.0.1'"));
        dialog->ShowRow(0);
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take().size(), 5);
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("xiaji")});
        QCOMPARE(env.field("127.0.0.1", "Tstart"), QStringLiteral("kept"));
        QVERIFY(!dialog->isVisible());

        // A failed send: the session stays and so does the dialog.
        env.sql(QStringLiteral("insert into Tcount(username, Cstate) values('nowhere', '正常')"));
        env.desk->RefreshSessionGrid();
        env.desk->SetCurrentRow(1);  // 127.0.0.1, nowhere, other
        QCOMPARE(env.desk->CurrentRowMachine(), QStringLiteral("nowhere"));
        form.action("N28")->trigger();
        QVERIFY(dialog->isVisible());
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(
            env.prompts.take(),
            (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:nowhere",
                         "message|nowhere", "message|发送命令不能到达对方，请检查网络！",
                         "message|无法与客户端连接!", "message|该客户机并未下机，请前往查看."}));
        QCOMPARE(env.field("nowhere", "Cstate"), QStringLiteral("正常"));
        QVERIFY(dialog->isVisible());

        // The reset fails: the row is unchanged and the dialog stays.
        env.desk->SetCurrentRow(2);
        form.action("N28")->trigger();
        env.sql(QStringLiteral(
            "create trigger fail before update on Tcount begin select raise(abort, 'x'); end"));
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.mid(boxes.size() - 2),
                 (QStringList{"message|数据库出现错误，请与管理员联系",
                              "message|该客户机并未下机，请前往查看."}));
        QCOMPARE(env.field("other", "Cstate"), QStringLiteral("正常"));
        QVERIFY(dialog->isVisible());
        QTest::mouseClick(dialog->XP_Button3, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());

        // The reset works but the grid cannot be reopened: the row is idle, the dialog stays.
        env.sql(QStringLiteral("drop trigger fail"));
        env.failWholeRowReadsAfterNextUpdate();
        env.desk->RefreshSessionGrid();
        env.desk->SetCurrentRow(2);
        form.action("N28")->trigger();
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take().last(),
                 QStringLiteral("message|数据库出现错误，请与管理员联系"));
        QCOMPARE(env.field("other", "Cstate"), QStringLiteral("无"));
        QVERIFY(dialog->isVisible());
        QVERIFY(!env.module->ADOQuery1->Active());
        QTest::mouseClick(dialog->XP_Button3, Qt::LeftButton);

        // The look-up fails.
        env.sql(QStringLiteral("drop view Tcount"));
        env.sql(QStringLiteral("alter table Rows rename to Tcount"));
        env.desk->RefreshSessionGrid();
        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        OpenCheckout(*env.desk, *dialog);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库出错，请重新启动本软件!")});
        QVERIFY(!dialog->isVisible());
    }

    void checkoutWithNoMachinesShowsEmptyFields() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N28")->trigger();
        QVERIFY(form.information->isVisible());
        QCOMPARE(form.information->la_computername->text(), QString());
        QCOMPARE(form.information->la_onStatus->text(), QString());
        QCOMPARE(env.prompts.boxes, QStringList());
    }
};

int runBillingTest(int argc, char** argv) {
    BillingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_billing.moc"
