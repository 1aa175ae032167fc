#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

#include "client_channel/Datagram.h"
#include "console/FillMachineCombo.h"
#include "console/TForm1.h"
#include "console/Tsend.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

// The 功能 menu and the messenger, through the window.
namespace {

QByteArray padded(const QByteArray& head) {
    return head + QByteArray(CommandDatagramSize - head.size(), '\0');
}

}  // namespace

class ChannelWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void functionMenuSendsToTheHighlightedRow() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        env.addMachine(QStringLiteral("zz-elsewhere"));
        env.sql(QStringLiteral("update Tcount set Cstate='通宵'"));
        TForm1 form(*env.desk);
        const char* items[] = {"N16", "N17", "N19", "N20", "N22",
                               "N23", "N25", "N26", "N44", "N45"};
        for (const char* item : items) form.action(item)->trigger();
        QCOMPARE(env.client.takeWords(8), (QStringList{"cscre", "oscre", "sdesk", "hdesk", "ocdrom",
                                                       "ccdrom", "cmouse", "omouse"}));
        QCOMPARE(env.prompts.take(), QStringList(8, QStringLiteral("message|127.0.0.1")));
        QCOMPARE(env.desk->CurrentRow(), 0);  // the highlight stays

        // Ctrl+F1 is 黑屏's, not the About item's.
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.DBGrid1, Qt::Key_F1, Qt::ControlModifier);
        QCOMPARE(env.client.takeWords(1), QStringList{QStringLiteral("cscre")});
    }

    void messenger() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"), QStringLiteral("正常"));
        env.addMachine(QStringLiteral("idle-pc"));
        env.addMachine(QStringLiteral("night-pc"), QStringLiteral("通宵"));
        TForm1 form(*env.desk);
        form.action("N10")->trigger();
        Tsend* dialog = Tsend::send;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("信使服务"));
        QStringList listed;
        for (int i = 0; i < dialog->FlatComboBox1->count(); ++i)
            listed << dialog->FlatComboBox1->itemText(i);
        listed.sort();
        QCOMPARE(listed, (QStringList{"127.0.0.1", "night-pc"}));
        QCOMPARE(dialog->FlatComboBox1->currentText(), QString());

        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|请选择好您要发送信息的机器号！")});
        dialog->FlatComboBox1->setCurrentIndex(dialog->FlatComboBox1->findText("127.0.0.1"));
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(), QStringList{QStringLiteral("message|请填入您的信息！")});
        QCOMPARE(QApplication::focusWidget() == dialog->FlatMemo1 ||
                     dialog->focusWidget() == dialog->FlatMemo1,
                 true);

        dialog->FlatMemo1->setPlainText(QStringLiteral("你好\n世界"));
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        const auto got = env.client.take(2);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0].bytes, padded(QByteArray::fromHex("20C4E3BAC30D0ACAC0BDE7")));
        QCOMPARE(got[1].bytes, got[0].bytes);
        QCOMPARE(env.prompts.take(), QStringList(2, QStringLiteral("message|127.0.0.1")));
        QVERIFY(dialog->isVisible());
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("127.0.0.1"));

        dialog->FlatMemo1->setPlainText(QStringLiteral(" "));  // one space is a message
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.client.take(1)[0].bytes, padded("  "));
        env.prompts.take();

        dialog->FlatMemo1->setPlainText(
            QStringLiteral("一二三四五六七八九十一二三四五"));  // 30 bytes
        QTest::mouseClick(dialog->XP_Button1, Qt::LeftButton);
        const QStringList refused = env.prompts.take();
        QCOMPARE(refused.size(), 1);
        QVERIFY(refused[0].contains(QStringLiteral("28")));
        QCOMPARE(env.client.take().size(), 0);

        // A second messenger while the first is open: a list of its own, taken when it is shown.
        env.sql(QStringLiteral("update Tcount set Cstate='无'"));
        form.action("ToolButton11")->trigger();
        QVERIFY(Tsend::send != dialog);
        QCOMPARE(Tsend::send->FlatComboBox1->count(), 0);
        QCOMPARE(dialog->FlatComboBox1->count(), 2);
        Tsend::send->FlatMemo1->setPlainText(QStringLiteral("hi"));
        QTest::mouseClick(Tsend::send->XP_Button1, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|请选择好您要发送信息的机器号！")});

        QTest::mouseClick(dialog->XP_Button2, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
    }

    void machineComboFailureKeepsTheList() {
        Env env;
        env.addMachine(QStringLiteral("a"));
        QComboBox combo;
        FillMachineCombo(*env.desk, &combo, 2);
        QCOMPARE(combo.count(), 1);
        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        FillMachineCombo(*env.desk, &combo, 1);
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|数据库出错，请重新启动本软件!")});
        QCOMPARE(combo.count(), 1);
    }
};

int runChannelWindowTest(int argc, char** argv) {
    ChannelWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_channel_window.moc"
