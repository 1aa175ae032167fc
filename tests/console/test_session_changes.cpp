#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include "billing/Transfer.h"
#include "console/TAddother.h"
#include "console/TForm1.h"
#include "console/Tinformation.h"
#include "console/Tsend.h"
#include "console/TtrunMoneys.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

namespace {

const QString kNotInSession =
    QStringLiteral("message|您所选择你机器不处于上机状态，不能添加附加费，请重新选择!");

void session(Env& env, const QString& name, const QString& state, const QString& tmoney,
             const QString& other, const QString& sum) {
    env.sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, "
                           "Tsum, gotime, Cstate) values(?, '9:5:7', '10:15:07', '1时10分', ?, ?, "
                           "?, '11:00', ?)"),
            {name, tmoney, other, sum, state});
}

QStringList row(Env& env, const QString& name) {
    QStringList out;
    for (const char* c :
         {"Tstart", "Tnow", "Stime", "Tmoney", "Tother", "Tsum", "gotime", "Cstate"})
        out << env.field(name, QString::fromLatin1(c));
    return out;
}

QStringList items(QComboBox* combo) {
    QStringList out;
    for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
    return out;
}

void choose(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

}  // namespace

class SessionChangesTest : public QObject {
    Q_OBJECT

  private slots:
    void overnightFromIdleAndFromNormal() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        session(env, QStringLiteral("pc-normal"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("1.5"), QStringLiteral("4.2"));
        env.resolver.table.insert(QStringLiteral("pc-normal"), 0x7F000001);
        TForm1 form(*env.desk);
        env.clock.time = QTime(22, 5, 9);
        form.action("N36")->trigger();
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|127.0.0.1")});
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
        QCOMPARE(env.field("127.0.0.1", "Tstart"), QStringLiteral("22:05:09"));
        QCOMPARE(env.field("127.0.0.1", "Tother"), QStringLiteral("10"));
        QCOMPARE(env.field("127.0.0.1", "Tsum"), QStringLiteral("10"));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("通宵"));
        QVERIFY(env.isNull("127.0.0.1", "Tmoney"));
        QVERIFY(env.isNull("127.0.0.1", "Stime"));
        QVERIFY(env.isNull("127.0.0.1", "Tnow"));

        // The pop-up item does the same, on whichever row is highlighted.
        env.desk->SetCurrentRow(1);
        form.action("N62")->trigger();
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|pc-normal")});
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
        QCOMPARE(row(env, "pc-normal"), (QStringList{"22:05:09", "10:15:07", "1时10分", "2.7元",
                                                     "11.5", "14.2", "11:00", "通宵"}));

        // Already overnight: refused, nothing changed or sent; a billing pass leaves it alone.
        form.action("N36")->trigger();
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|该机已经处于通宵状态!")});
        QCOMPARE(env.client.take().size(), 0);
        QCOMPARE(env.field("pc-normal", "Tother"), QStringLiteral("11.5"));
        form.Timer2Timer();
        form.Timer1Timer();
        QTRY_VERIFY(!env.desk->billingPassRunning && !env.desk->clockRefreshRunning);
        QCOMPARE(row(env, "pc-normal")[1], QStringLiteral("10:15:07"));
        QCOMPARE(env.field("pc-normal", "Tsum"), QStringLiteral("14.2"));
    }

    void overnightFailures() {
        Env env;
        env.addMachine(QStringLiteral("nowhere"));
        TForm1 form(*env.desk);
        form.action("N36")->trigger();
        QCOMPARE(env.prompts.take(), (QStringList{"message|发送命令不能到达对方，请检查网络！",
                                                  "message|不能发送命令给该机，请检查该机是否联网!",
                                                  "message|不能到达对方，请检查网络!"}));
        QCOMPARE(env.field("nowhere", "Cstate"), QStringLiteral("通宵"));  // written first
        QVERIFY(env.module->ADOQuery1->Active());

        env.sql(QStringLiteral("delete from Tcount"));
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.desk->RefreshSessionGrid();
        for (const char* night : {"abc", ""}) {
            env.sql(QStringLiteral("update Tmoney set Tnight=?"), {QString::fromLatin1(night)});
            form.action("N36")->trigger();
            QCOMPARE(
                env.prompts.take(),
                QStringList{QStringLiteral("unhandled|'%1' is not a valid floating point value")
                                .arg(QString::fromLatin1(night))});
        }
        env.sql(QStringLiteral("update Tmoney set Tnight='10'"));
        env.sql(QStringLiteral("update Tcount set Tother='x'"));
        form.action("N36")->trigger();
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("unhandled|'x' is not a valid floating point value")});
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("无"));
        QCOMPARE(env.client.take().size(), 0);

        env.sql(QStringLiteral("update Tcount set Tother=''"));
        env.sql(QStringLiteral(
            "create trigger fail before update on Tcount begin select raise(abort, 'x'); end"));
        form.action("N36")->trigger();
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库出错，请关闭本软件重新运行！")});
        QCOMPARE(env.client.take().size(), 0);

        env.sql(QStringLiteral("drop trigger fail"));
        env.sql(QStringLiteral("drop table Tmoney"));
        form.action("N36")->trigger();
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库出错，请重新启动本软件!")});
    }

    void extraCharge() {
        Env env;
        session(env, QStringLiteral("pc1"), QStringLiteral("正常"), QStringLiteral("3.5元"),
                QStringLiteral("2"), QStringLiteral("5.5"));
        env.sql(QStringLiteral("insert into Tcount(username, Cstate) values('pc2', '正常')"));
        env.addMachine(QStringLiteral("idle"));
        TForm1 form(*env.desk);
        form.action("N12")->trigger();
        TAddother* dialog = TAddother::Addother;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(items(dialog->FlatComboBox1), (QStringList{"idle", "pc1", "pc2"}));
        QVERIFY(!dialog->FlatEdit1->isEnabled() && dialog->FlatEdit1->isReadOnly());

        choose(dialog->FlatComboBox1, QStringLiteral("idle"));
        QCOMPARE(env.prompts.take(), QStringList{kNotInSession});
        QCOMPARE(items(dialog->FlatComboBox1), (QStringList{"pc1", "pc2"}));

        choose(dialog->FlatComboBox1, QStringLiteral("pc2"));
        QCOMPARE(dialog->FlatEdit1->text(), QStringLiteral("0"));  // empty shows 0
        choose(dialog->FlatComboBox1, QStringLiteral("pc1"));
        QCOMPARE(dialog->FlatEdit1->text(), QStringLiteral("2"));
        QCOMPARE(dialog->OldTotalText, QStringLiteral("5.5"));

        dialog->FlatEdit2->setText(QStringLiteral("abc"));
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(
            env.prompts.take(),
            QStringList{QStringLiteral("unhandled|'abc' is not a valid floating point value")});
        QCOMPARE(env.field("pc1", "Tother"), QStringLiteral("2"));
        QVERIFY(dialog->isVisible());

        dialog->FlatEdit2->setText(QStringLiteral("1.5"));
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|添加成功!")});
        QCOMPARE(env.field("pc1", "Tother"), QStringLiteral("3.5"));
        QCOMPARE(env.field("pc1", "Tsum"), QStringLiteral("7"));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(form.DBGrid1->model()->index(1, 6).data().toString(), QStringLiteral("7"));

        // A negative amount lowers both.
        form.action("ToolButton3")->trigger();
        TAddother* second = TAddother::Addother;
        QVERIFY(second != dialog);
        choose(second->FlatComboBox1, QStringLiteral("pc1"));
        second->FlatEdit2->setText(QStringLiteral("-1"));
        QTest::mouseClick(second->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.field("pc1", "Tother"), QStringLiteral("2.5"));
        QCOMPARE(env.field("pc1", "Tsum"), QStringLiteral("6"));
        env.prompts.take();
    }

    void extraChargeChecks() {
        Env env;
        session(env, QStringLiteral("pc1"), QStringLiteral("正常"), QStringLiteral("0元"),
                QStringLiteral("0"), QStringLiteral("0"));
        env.addMachine(QStringLiteral("idle"));
        TForm1 form(*env.desk);
        TAddother dialog(*env.desk, &form);
        dialog.show();
        QTest::mouseClick(dialog.XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|请先选择您要添加附加费的机器号!")});
        dialog.FlatComboBox1->setEditText(QStringLiteral("pc1"));
        QTest::mouseClick(dialog.XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|请填入您要添加的附加费!")});

        // Typing checks the name once it is finished, not at every key.
        dialog.FlatComboBox1->setEditText(QString());
        dialog.FlatComboBox1->lineEdit()->setFocus();
        QTest::keyClicks(dialog.FlatComboBox1->lineEdit(), QStringLiteral("pc1"));
        QCOMPARE(env.prompts.take(), QStringList());
        QTest::keyClick(dialog.FlatComboBox1->lineEdit(), Qt::Key_Return);
        QCOMPARE(env.prompts.take(), QStringList());  // in session: nothing to say
        QCOMPARE(dialog.FlatEdit1->text(), QStringLiteral("0"));
        QCOMPARE(items(dialog.FlatComboBox1), (QStringList{"idle", "pc1"}));

        // An idle machine typed and finished: one box, and its entry leaves the list.
        dialog.FlatComboBox1->setEditText(QString());
        QTest::keyClicks(dialog.FlatComboBox1->lineEdit(), QStringLiteral("idle"));
        QTest::keyClick(dialog.FlatComboBox1->lineEdit(), Qt::Key_Return);
        dialog.XP_Button2->setFocus();  // leaving the field does not check it again
        QCOMPARE(env.prompts.take(), QStringList{kNotInSession});
        QCOMPARE(items(dialog.FlatComboBox1), QStringList{"pc1"});
        dialog.FlatComboBox1->setEditText(QStringLiteral("pc1"));

        // The machine leaves its session after the choice: nothing is written.
        env.sql(QStringLiteral("update Tcount set Cstate='无'"));
        dialog.FlatEdit2->setText(QStringLiteral("5"));
        QTest::mouseClick(dialog.XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList{kNotInSession});
        QCOMPARE(env.field("pc1", "Tother"), QStringLiteral("0"));
        QVERIFY(dialog.isVisible());

        env.sql(QStringLiteral("update Tcount set Cstate='正常'"));
        env.sql(
            QStringLiteral("create trigger fail before update of Tother on Tcount begin select "
                           "raise(abort, 'x'); end"));
        QTest::mouseClick(dialog.XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库出错，请重新启动本软件!")});
        QCOMPARE(env.field("pc1", "Tsum"), QStringLiteral("0"));
        QVERIFY(dialog.isVisible());
    }

    void twoDialogsOnOneOvernightMachineKeepBothCharges() {
        Env env;
        session(env, QStringLiteral("pc1"), QStringLiteral("通宵"), QStringLiteral("0"),
                QStringLiteral("10"), QStringLiteral("10"));
        TForm1 form(*env.desk);
        TAddother first(*env.desk, &form);
        TAddother second(*env.desk, &form);
        choose(first.FlatComboBox1, QStringLiteral("pc1"));
        choose(second.FlatComboBox1, QStringLiteral("pc1"));  // both read 10 / 10
        first.FlatEdit2->setText(QStringLiteral("5"));
        second.FlatEdit2->setText(QStringLiteral("3"));
        QTest::mouseClick(first.XP_Button1, Qt::LeftButton);
        QTest::mouseClick(second.XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList(2, QStringLiteral("message|添加成功!")));
        QCOMPARE(env.field("pc1", "Tother"), QStringLiteral("18"));
        QCOMPARE(env.field("pc1", "Tsum"), QStringLiteral("18"));
        QCOMPARE(second.FlatEdit1->text(), QStringLiteral("10"));  // shown as read at the choice
    }

    void transferMovesTheSession() {
        Env env;
        session(env, QStringLiteral("127.0.0.1"), QStringLiteral("正常"), QStringLiteral("2.7元"),
                QStringLiteral("2"), QStringLiteral("4.7"));
        env.addMachine(QStringLiteral("pc-new"));
        env.addMachine(QStringLiteral("Idle-b"));
        env.addMachine(QStringLiteral("idle-A"));
        env.resolver.table.insert(QStringLiteral("pc-new"), 0x7F000001);
        TForm1 form(*env.desk);
        form.action("N13")->trigger();
        TtrunMoneys* dialog = TtrunMoneys::trunMoneys;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(items(dialog->FlatComboBox1), QStringList{"127.0.0.1"});
        QCOMPARE(items(dialog->FlatComboBox2), (QStringList{"idle-A", "Idle-b", "pc-new"}));
        const QStringList before = row(env, "127.0.0.1");
        dialog->FlatComboBox2->setCurrentIndex(2);
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), (QStringList{"message|127.0.0.1", "message|pc-new"}));
        QCOMPARE(env.client.takeWords(2), (QStringList{"xiaji", "sj"}));
        QCOMPARE(row(env, "pc-new"), before);
        QCOMPARE(row(env, "pc-new")[6], QStringLiteral("11:00"));  // gotime moves too
        QCOMPARE(row(env, "127.0.0.1"), (QStringList{"", "", "", "", "", "", "", "无"}));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("pc-new"));

        // An overnight session stays overnight; the checkout dialog's 转  账 opens the dialog.
        env.sql(QStringLiteral("update Tcount set Cstate='通宵' where username='pc-new'"));
        env.desk->RefreshSessionGrid();
        QTest::mouseClick(form.information->XP_Button2, Qt::LeftButton);
        QVERIFY(TtrunMoneys::trunMoneys != dialog);
        QVERIFY(TransferSession(*env.desk, QStringLiteral("pc-new"), QStringLiteral("127.0.0.1")));
        QCOMPARE(env.field("127.0.0.1", "Cstate"), QStringLiteral("通宵"));
        QCOMPARE(env.field("127.0.0.1", "Tother"), QStringLiteral("2"));
        env.prompts.take();
    }

    void transferRefusals() {
        Env env;
        session(env, QStringLiteral("src"), QStringLiteral("正常"), QStringLiteral("0元"),
                QStringLiteral("1"), QStringLiteral("1"));
        env.addMachine(QStringLiteral("dst"));
        TForm1 form(*env.desk);

        TtrunMoneys empty(*env.desk, &form);  // nothing chosen
        empty.FlatComboBox1->setCurrentIndex(-1);
        QTest::mouseClick(empty.XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|请选好您要转账的机器!", "message|转账不成功!"}));

        TtrunMoneys dialog(*env.desk, &form);
        dialog.show();
        const QStringList srcBefore = row(env, "src");
        // The target started a session of its own after the dialog opened.
        env.sql(QStringLiteral(
            "update Tcount set Cstate='正常', Tstart='12:0:0' where username='dst'"));
        QTest::mouseClick(dialog.XP_Button1, Qt::LeftButton);
        QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 2);
        QVERIFY(boxes[0].contains(QStringLiteral("dst")));
        QCOMPARE(boxes[1], QStringLiteral("message|转账不成功!"));
        QCOMPARE(env.field("dst", "Tstart"), QStringLiteral("12:0:0"));
        QCOMPARE(row(env, "src"), srcBefore);

        // The source was checked out meanwhile.
        env.sql(QStringLiteral("update Tcount set Cstate='无' where username in ('src', 'dst')"));
        QTest::mouseClick(dialog.XP_Button1, Qt::LeftButton);
        boxes = env.prompts.take();
        QVERIFY(boxes[0].contains(QStringLiteral("src")));
        QCOMPARE(boxes[1], QStringLiteral("message|转账不成功!"));
        QCOMPARE(env.field("dst", "Tstart"), QStringLiteral("12:0:0"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(env.client.take().size(), 0);

        // The reset fails: neither row changes.
        env.sql(QStringLiteral("update Tcount set Cstate='正常' where username='src'"));
        env.sql(
            QStringLiteral("create trigger fail before update on Tcount when new.Cstate='无' "
                           "begin select raise(abort, 'x'); end"));
        QTest::mouseClick(dialog.XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 (QStringList{"message|数据库出错，请重新运行本软件!", "message|转账不成功!"}));
        QCOMPARE(env.field("dst", "Cstate"), QStringLiteral("无"));
        QCOMPARE(env.field("dst", "Tstart"), QStringLiteral("12:0:0"));
        QCOMPARE(env.field("src", "Cstate"), QStringLiteral("正常"));

        QVERIFY(!TransferSession(*env.desk, QStringLiteral("gone"), QStringLiteral("dst")));
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|转账不成功！请重新运行本软件!")});
        env.sql(QStringLiteral("drop trigger fail"));
        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        TtrunMoneys broken(*env.desk, &form);
        QCOMPARE(env.prompts.take(),
                 QStringList(2, QStringLiteral("message|数据库出错，请重新启动本软件!")));
        QCOMPARE(broken.FlatComboBox1->count(), 0);
    }
};

// The grid's pop-up menu repeats the main menu's commands of the same captions.
class PopupMenuTest : public QObject {
    Q_OBJECT
  private slots:
    void popupItemsRunTheirCommands() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        TForm1 form(*env.desk);
        form.action("N60")->trigger();  // 上机
        QCOMPARE(env.prompts.take(), (QStringList{"message|上机", "message|127.0.0.1"}));
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("sj")});
        form.action("N61")->trigger();  // 下机
        QVERIFY(form.information->isVisible());
        form.action("N64")->trigger();  // 转账
        QVERIFY(TtrunMoneys::trunMoneys && TtrunMoneys::trunMoneys->isVisible());
        QCOMPARE(items(TtrunMoneys::trunMoneys->FlatComboBox1), QStringList{"127.0.0.1"});
        form.action("N65")->trigger();  // 青岚信使
        QVERIFY(Tsend::send && Tsend::send->isVisible());
        for (const char* inert : {"N67", "N68"}) form.action(inert)->trigger();
        QCOMPARE(env.prompts.take(), QStringList());
        QCOMPARE(env.client.take().size(), 0);
    }
};

int runSessionChangesTest(int argc, char** argv) {
    SessionChangesTest test;
    PopupMenuTest popup;
    return QTest::qExec(&test, argc, argv) + QTest::qExec(&popup, argc, argv);
}

#include "test_session_changes.moc"
