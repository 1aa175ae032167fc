#include <QAction>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include "billing/BillingPass.h"
#include "billing/Checkout.h"
#include "billing/SessionStart.h"
#include "console/TForm1.h"
#include "console/Tinformation.h"
#include "ledger/Journal.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

// Session start and checkout through the window: menus, tool buttons, the grid and the dialog.
namespace {

const QString kMidnight =
    QStringLiteral("confirm|该用户上机已超过了一天或现在是晚上12点以后了，是否该设为上通宵了呢？");

}  // namespace

class SessionWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void aTickDuringABoxDoesNotStartASecondPass() {
        Env env;
        TForm1 form(*env.desk);
        env.addSession(QStringLiteral("late"), QStringLiteral("23:50:00"));
        env.clock.time = QTime(0, 5, 0);
        int nested = 0;
        env.prompts.whileOpen = [&](const QString& box) {
            if (!box.startsWith(QStringLiteral("confirm|")) || nested++) return;
            form.Timer2Timer();  // the billing tick, skipped
            form.Timer1Timer();  // the clock tick, a pass of the other kind, runs
        };
        env.prompts.answers = {false};
        form.Timer2Timer();
        // The ticks read and write beside the window; their boxes come when they are done.
        QTRY_VERIFY(!env.desk->billingPassRunning && !env.desk->clockRefreshRunning);
        QCOMPARE(env.prompts.take(),
                 (QStringList{kMidnight, "message|系统已不能再为该机计费，请自行处理!"}));
        QCOMPARE(env.field("late", "Tnow"), QStringLiteral("0:05:00"));
        QVERIFY(!env.desk->billingPassRunning);
        env.prompts.answers = {false};
        form.Timer2Timer();  // the next tick runs normally
        QTRY_VERIFY(!env.desk->billingPassRunning);
        QCOMPARE(env.prompts.take().first(), kMidnight);
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
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("9:5:7"), QStringLiteral("1.5"));
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

        // The row is no longer the bill shown: nothing leaves, the dialog shows the row's bill
        // and the operator confirms that one with a second press.
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:127.0.0.1",
                              "message|127.0.0.1",
                              "message|" + BillingText::BillChangedText("127.0.0.1")}));
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->la_allmoney->text(), QStringLiteral("99"));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("正常"));

        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:127.0.0.1",
                              "message|127.0.0.1", "message|发送信息完成，收到没有是客户端的事了.",
                              "message|下机到这已经全部完成了."}));
        QCOMPARE(env.client.take(1)[0].bytes, QByteArray("xiaji") + QByteArray(25, '\0'));
        const auto settled = ReadJournal(*env.desk, QDateTime(QDate(2000, 1, 1), QTime()),
                                         QDateTime(QDate(2100, 1, 1), QTime()));
        QCOMPARE(settled->size(), size_t(1));
        QCOMPARE(settled->front().entry.total, QStringLiteral("99"));  // the bill confirmed
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

    void checkoutWithNoMachinesShowsEmptyFields() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N28")->trigger();
        QVERIFY(form.information->isVisible());
        QCOMPARE(form.information->la_computername->text(), QString());
        QCOMPARE(form.information->la_onStatus->text(), QString());
        QCOMPARE(env.prompts.boxes, QStringList());
    }
    void overnightChecksOutOnTheBillShown() {
        Env env;
        env.addSession(QStringLiteral("127.0.0.1"), QStringLiteral("21:0:0"), QStringLiteral("10"),
                       QStringLiteral("通宵"));
        env.addSession(QStringLiteral("other"), QStringLiteral("9:0:0"), QStringLiteral("3"));
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
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("xiaji")});
    }

    // The row decides, not the grid: an idle row is told, nothing leaves, nothing is written.
    void checkoutOfAnIdleRowSendsNothing() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.sql(QStringLiteral("update Tcount set Tstart='kept' where username='127.0.0.1'"));
        TForm1 form(*env.desk);
        Tinformation* dialog = form.information;
        dialog->ShowRow(0);
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|现在是要下机了", "message| 要下机的客户机名是:127.0.0.1",
                              "message|127.0.0.1",
                              "message|" + BillingText::NotInSessionAtCheckoutText("127.0.0.1")}));
        QCOMPARE(env.client.take(0, 200).size(), 0);
        QCOMPARE(env.field("127.0.0.1", "Tstart"), QStringLiteral("kept"));
        QVERIFY(!dialog->isVisible());
    }

    void failedSendKeepsTheSessionAndTheDialog() {
        Env env;
        env.sql(QStringLiteral("insert into Tcount(username, Cstate) values('nowhere', '正常')"));
        TForm1 form(*env.desk);
        Tinformation* dialog = form.information;
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
    }

    void failedResetKeepsTheRowAndTheDialog() {
        Env env;
        env.addSession(QStringLiteral("other"), QStringLiteral("9:0:0"), QStringLiteral("3"));
        env.resolver.table.insert(QStringLiteral("other"), 0x7F000001);
        TForm1 form(*env.desk);
        Tinformation* dialog = form.information;
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
    }

    void resetWorksButTheGridCannotBeReopened() {
        Env env;
        env.addSession(QStringLiteral("other"), QStringLiteral("9:0:0"), QStringLiteral("3"));
        env.resolver.table.insert(QStringLiteral("other"), 0x7F000001);
        TForm1 form(*env.desk);
        Tinformation* dialog = form.information;
        env.failWholeRowReadsAfterNextUpdate();
        env.desk->RefreshSessionGrid();
        form.action("N28")->trigger();
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        // The row is idle, the dialog stays.
        QCOMPARE(env.prompts.take().last(),
                 QStringLiteral("message|数据库出现错误，请与管理员联系"));
        QCOMPARE(env.field("other", "Cstate"), QStringLiteral("无"));
        QVERIFY(dialog->isVisible());
        QVERIFY(!env.module->ADOQuery1->Active());
    }

    void checkoutLookupFailureShowsItsBox() {
        Env env;
        env.addSession(QStringLiteral("other"), QStringLiteral("9:0:0"), QStringLiteral("3"));
        TForm1 form(*env.desk);
        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        OpenCheckout(*env.desk, *form.information);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库出错，请重新启动本软件!")});
        QVERIFY(!form.information->isVisible());
    }
};

int runSessionWindowTest(int argc, char** argv) {
    SessionWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_session_window.moc"
