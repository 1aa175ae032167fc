#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include "billing/Prices.h"
#include "billing/Reminders.h"
#include "console/TForm1.h"
#include "console/THelp.h"
#include "console/TRemind.h"
#include "console/TSettings.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

// The entries the description leaves to us: settings, reminders, whole-café commands, help.
class ToolsWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void entriesWithoutACommandAreDisabledInTheirPlaces() {
        Env env;
        TForm1 form(*env.desk);
        for (const char* name :
             {"N6",  "N44", "N45", "N31", "N30",   "N46",         "N47",        "N49",
              "N50", "N51", "IE1", "N52", "Word1", "N53",         "N54",        "N55",
              "N56", "N57", "N59", "N39", "N37",   "ToolButton6", "ToolButton8"}) {
            QVERIFY2(form.action(name), name);
            QVERIFY2(!form.action(name)->isEnabled(), name);
        }
        for (const char* name : {"N7", "N15", "N41", "N40", "N32", "N34", "N35", "ToolButton7",
                                 "ToolButton13", "N67", "N68"})
            QVERIFY2(form.action(name)->isEnabled(), name);
        QCOMPARE(form.action("N41")->shortcut(), QKeySequence(Qt::Key_F2));
        QCOMPARE(form.action("N40")->shortcut(), QKeySequence(Qt::Key_F3));
        QCOMPARE(form.action("N44")->shortcut(), QKeySequence(QStringLiteral("Ctrl+F9")));
    }

    void helpShowsTheBundledGuide() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N34")->trigger();
        THelp* first = THelp::help;
        QVERIFY(first && first->isVisible());
        QVERIFY(first->Browser->toPlainText().contains(
            QStringLiteral("青岚网吧综合管理系统 操作指南")));
        QVERIFY(first->Browser->toPlainText().contains(QStringLiteral("交班")));
        form.action("ToolButton13")->trigger();
        QVERIFY(THelp::help != first);
        form.action("N35")->trigger();
        QVERIFY(THelp::help->isVisible());
        form.action("N32")->trigger();
        const QStringList about = env.prompts.take();
        QCOMPARE(about.size(), 1);
        QVERIFY(about[0].contains(QStringLiteral("青岚网吧综合管理系统")));
        QVERIFY(about[0].contains(QStringLiteral(CAFE_VERSION)));
        QVERIFY(about[0].contains(QString::fromLatin1(qVersion())));
        QVERIFY(about[0].contains(env.module->ConnectionString()));
    }

    void settingsEditThePrices() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N7")->trigger();
        TSettings* dialog = TSettings::settings;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->HourlyEdit->text(), QStringLiteral("2"));
        QCOMPARE(dialog->OvernightEdit->text(), QStringLiteral("10"));
        QVERIFY(dialog->DatabaseLabel->text().contains(QStringLiteral("count.db")));
        dialog->HourlyEdit->setText(QStringLiteral("2.50"));
        QTest::mouseClick(dialog->SaveButton, Qt::LeftButton);
        QCOMPARE(env.prompts.take().size(), 1);
        QCOMPARE(ReadPrices(*env.desk)->hourly, QStringLiteral("2.5"));
        QCOMPARE(dialog->HourlyEdit->text(), QStringLiteral("2.5"));
        form.action("N67")->trigger();  // the pop-up's 设置
        QVERIFY(TSettings::settings != dialog);

        // Another database, for the next start; an unusable file is refused.
        env.chooser.answer = env.path(QStringLiteral("missing.db"));
        QTest::mouseClick(dialog->ChooseButton, Qt::LeftButton);
        QVERIFY(env.prompts.take().first().contains(QStringLiteral("不能使用")));
        QCOMPARE(env.settings->readDatapath(), env.dbPath());
        QVERIFY(TDataModule1::CreateDatabaseFile(env.path(QStringLiteral("other.db"))));
        env.chooser.answer = env.path(QStringLiteral("other.db"));
        QTest::mouseClick(dialog->ChooseButton, Qt::LeftButton);
        QVERIFY(env.prompts.take().first().contains(QStringLiteral("下次启动")));
        QCOMPARE(env.settings->readDatapath(), env.path(QStringLiteral("other.db")));
        QCOMPARE(env.module->ConnectionString(), env.dbPath());  // only at the next start

        env.chooser.saveAnswer = env.path(QStringLiteral("now.db"));
        QTest::mouseClick(dialog->BackupButton, Qt::LeftButton);
        QVERIFY(env.prompts.take().first().startsWith(QStringLiteral("message|已备份到")));
        QVERIFY(QFile::exists(env.path(QStringLiteral("now.db"))));
    }

    void reminderFromTheHighlightedRowIsMarkedWhenDue() {
        Env env;
        env.addMachine(QStringLiteral("idle"));
        env.sql(
            QStringLiteral("insert into Tcount(username, Tstart, Cstate) values('pc', '9:0:0', "
                           "'正常')"));
        TForm1 form(*env.desk);
        form.action("N15")->trigger();  // the first row is idle
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("message|机器“idle”没有在上机，不能设定提醒。")});
        env.desk->SetCurrentRow(1);
        form.action("N15")->trigger();
        TRemind* dialog = TRemind::remind;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->Machine, QStringLiteral("pc"));
        dialog->MinutesEdit->setValue(5);
        QVERIFY(dialog->InButton->isChecked());
        QTest::mouseClick(dialog->SetButton, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(env.field("pc", "gotime"), QStringLiteral("10:05"));

        const QModelIndex cell = form.DBGrid1->model()->index(1, 7);
        QCOMPARE(cell.data().toString(), QStringLiteral("10:05"));
        QVERIFY(!form.DBGrid1->Marked(cell));
        env.clock.time = QTime(10, 5, 0);
        form.Timer1Timer();
        QCOMPARE(env.prompts.take(), QStringList{"message|机器“pc”的提示时间 10:05 到了。"});
        QVERIFY(form.DBGrid1->Marked(form.DBGrid1->model()->index(1, 7)));
        QVERIFY(!form.DBGrid1->Marked(form.DBGrid1->model()->index(1, 6)));
    }

    void bulkCommandsFromTheMenuAndTheToolBar() {
        Env env;
        env.addMachine(QStringLiteral("127.0.0.1"));
        TForm1 form(*env.desk);
        env.prompts.answers = {true};
        form.action("N41")->trigger();
        QCOMPARE(env.prompts.take().last(), QStringLiteral("message|全部上机完成：成功 1 台。"));
        QCOMPARE(form.DBGrid1->model()->index(0, 8).data().toString(), QStringLiteral("正常"));
        env.prompts.answers = {true};
        form.action("ToolButton7")->trigger();
        QCOMPARE(env.prompts.take().last(),
                 QStringLiteral("message|全部下机完成：成功 1 台。\n收款合计 0.00 元。"));
        QCOMPARE(env.client.takeWords(2), (QStringList{"sj", "xiaji"}));
    }
};

int runToolsWindowTest(int argc, char** argv) {
    ToolsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_tools_window.moc"
