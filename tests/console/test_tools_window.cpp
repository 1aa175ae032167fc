#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include "billing/Prices.h"
#include "billing/Reminders.h"
#include "client_channel/AddressSearch.h"
#include "console/TForm1.h"
#include "console/THelp.h"
#include "console/TRemind.h"
#include "console/TSettings.h"
#include "console/Tsearch.h"
#include "machines/Machines.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

namespace {

void doubleClick(QListWidget* list, int row) {
    const QRect at = list->visualItemRect(list->item(row));
    // As a mouse does it: the view acts on a double-click only where the press was.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at.center());
}

// The dialog opened from the menu, aimed at 127.0.0.1-20.
Tsearch* openSearch(TForm1& form, quint16 port, const QString& delay) {
    form.action("N5")->trigger();
    Tsearch* dialog = Tsearch::search;
    dialog->Edit1->setText(QString::number(port));
    dialog->Edit2->setText(delay);
    dialog->Edit3->setText(QStringLiteral("127.0.0"));
    dialog->Edit4->setText(QStringLiteral("1"));
    dialog->Edit5->setText(QStringLiteral("20"));
    return dialog;
}

}  // namespace

// The entries this console adds to the menus: settings, reminders, whole-café commands, help.
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

    // What the guide quotes is what the program shows, character for character ("N", "x"
    // and "y" stand for a number).
    void theGuideQuotesTheProgramsOwnTexts() {
        QFile guide(QString::fromLatin1(THelp::Guide).mid(3));  // ":/help/…"
        QVERIFY(guide.open(QIODevice::ReadOnly));
        QString html = QString::fromUtf8(guide.readAll());
        html.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
        QString sources;
        for (const char* room : {"console", "widgets", "billing", "ledger", "machines", "backups",
                                 "desk", "client_channel", "printing", "record_store", "accounts", "plans",
                                 "packages"}) {
            QDir dir(QStringLiteral(CAFE_SOURCE_DIR "/") + QString::fromLatin1(room));
            for (const QString& name : dir.entryList({"*.cpp", "*.h"}, QDir::Files)) {
                QFile file(dir.filePath(name));
                QVERIFY(file.open(QIODevice::ReadOnly));
                sources += QString::fromUtf8(file.readAll());
            }
        }
        const QRegularExpression quoted(QStringLiteral("“([^”]+)”"));
        int checked = 0;
        for (auto it = quoted.globalMatch(html); it.hasNext(); ++checked) {
            const QString text = it.next().captured(1);
            QString pattern = QRegularExpression::escape(text);
            pattern.replace(QRegularExpression(QStringLiteral("(?<=\\\\ )[Nxy](?=\\\\ )")),
                            QStringLiteral("%\\d"));
            QVERIFY2(sources.contains(QRegularExpression(pattern)), qPrintable(text));
        }
        QVERIFY(checked > 60);
    }

    // Every key of the menus is in the guide's table, with its menu and item.
    void theGuideListsEveryShortcut() {
        QFile guide(QString::fromLatin1(THelp::Guide).mid(3));
        QVERIFY(guide.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(guide.readAll());
        Env env;
        TForm1 form(*env.desk);
        int keys = 0;
        for (QMenu* menu : form.menuBar()->findChildren<QMenu*>()) {
            QString title = menu->title();
            title.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
            for (QAction* a : menu->actions()) {
                if (a->shortcut().isEmpty() || a->menu()) continue;
                const QString row = QStringLiteral("<tr><td>%1</td><td>%2 → %3</td>")
                                        .arg(a->shortcut().toString(), title, a->text());
                QVERIFY2(html.contains(row), qPrintable(row));
                ++keys;
            }
        }
        QCOMPARE(keys, 34);  // 锁定's Ctrl+L among them, shown only with sign-in on
        QVERIFY(html.contains(QStringLiteral("按 Ctrl+F1 总是黑屏")));
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
        QTRY_VERIFY(!env.desk->remindersRunning);  // read beside the window
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

    // 自动搜索 on loopback: what is found is listed (with its name when one is known) and added
    // with the machine list's rules; the grid shows it once the dialog closes.
    void searchFindsAndAddsMachines() {
        Env env;
        SearchListener five(QStringLiteral("127.0.0.5"));
        SearchListener nine(QStringLiteral("127.0.0.9"), five.port());
        env.resolver.names.insert(0x7F000005, QStringLiteral("pc05"));
        env.addMachine(QStringLiteral("127.0.0.9"));  // typed in by hand long ago
        TForm1 form(*env.desk);
        Tsearch* dialog = openSearch(form, five.port(), QStringLiteral("300"));
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QCOMPARE(dialog->Button1->text(), QStringLiteral("停止搜索"));
        QCOMPARE(dialog->StatusPanel1->text(), QStringLiteral("正在搜索"));
        QTRY_COMPARE(dialog->StatusPanel1->text(), QStringLiteral("搜索完成"));
        QCOMPARE(dialog->StatusPanel2->text(), QStringLiteral("2 台"));
        QCOMPARE(dialog->Button1->text(), QStringLiteral("开始搜索"));
        QCOMPARE(dialog->ProgressBar1->value(), 100);
        QCOMPARE(dialog->PercentLabel->text(), QStringLiteral("100%"));
        QCOMPARE(dialog->ListBox1->count(), 2);
        QTRY_COMPARE(dialog->ListBox1->item(0)->text(), QStringLiteral("127.0.0.5 (pc05)"));
        QCOMPARE(dialog->ListBox1->item(1)->text(), QStringLiteral("127.0.0.9"));

        doubleClick(dialog->ListBox1, 1);  // already in the list: the list's own box
        QCOMPARE(env.prompts.take(), QStringList{"message|" + MachineText::DuplicateName});
        doubleClick(dialog->ListBox1, 0);
        doubleClick(dialog->ListBox1, 0);  // added once only
        QCOMPARE(env.prompts.take(), QStringList());
        QCOMPARE(env.count(QStringLiteral("username='127.0.0.5' and Cstate='无'")), 1);
        QCOMPARE(dialog->ListBox1->item(0)->text(), QStringLiteral("127.0.0.5 (pc05) 已添加"));
        QCOMPARE(env.module->ADOQuery1->RecordCount(), 1);
        QTest::mouseClick(dialog->Button2, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(env.module->ADOQuery1->RecordCount(), 2);

        // 添加全部 in a new dialog: one summary, no box per duplicate.
        env.sql(QStringLiteral("delete from Tcount where username='127.0.0.9'"));
        dialog = openSearch(form, five.port(), QStringLiteral("300"));
        QVERIFY(!dialog->Button3->isEnabled());
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QTRY_COMPARE(dialog->StatusPanel1->text(), QStringLiteral("搜索完成"));
        QTest::mouseClick(dialog->Button3, Qt::LeftButton);
        QCOMPARE(env.prompts.take(),
                 QStringList{"message|已添加 1 台计算机。另有 1 台已在计算机列表中，未重复添加。"});
        QCOMPARE(env.count(), 2);
        QCOMPARE(five.connections + nine.connections, 4);
    }

    // Each wrong field gets its box and nothing is sent; 停止搜索 and 关闭 end a search that
    // waits on a silent address.
    void searchChecksItsFieldsAndStops() {
        Env env;
        SearchListener six(QStringLiteral("127.0.0.6"));
        Tarpit three(QStringLiteral("127.0.0.3"), six.port());
        TForm1 form(*env.desk);
        Tsearch* dialog = openSearch(form, six.port(), QStringLiteral("5000"));
        const struct {
            QLineEdit* edit;
            const char* bad;
            QString box;
        } wrong[] = {{dialog->Edit1, "0", SearchText::BadPort},
                     {dialog->Edit1, "65536", SearchText::BadPort},
                     {dialog->Edit2, "99", SearchText::BadDelay},
                     {dialog->Edit3, "127.0", SearchText::BadDomain},
                     {dialog->Edit4, "256", SearchText::BadAddress},
                     {dialog->Edit5, "x", SearchText::BadAddress},
                     {dialog->Edit4, "21", SearchText::StartAfterEnd}};
        for (const auto& field : wrong) {
            const QString kept = field.edit->text();
            field.edit->setText(QString::fromLatin1(field.bad));
            QTest::mouseClick(dialog->Button1, Qt::LeftButton);
            QCOMPARE(env.prompts.take(), QStringList{"message|" + field.box});
            field.edit->setText(kept);
        }
        QTest::qWait(50);
        QCOMPARE(six.connections, 0);
        QCOMPARE(dialog->StatusPanel1->text(), QStringLiteral("准备搜索"));
        QCOMPARE(dialog->Button1->text(), QStringLiteral("开始搜索"));

        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QTRY_COMPARE(dialog->StatusPanel2->text(), QStringLiteral("1 台"));
        QTRY_COMPARE(dialog->PercentLabel->text(), QStringLiteral("95%"));  // 3 is still asked
        QVERIFY(dialog->Edit1->isReadOnly());
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QCOMPARE(dialog->StatusPanel1->text(), QStringLiteral("已停止搜索"));
        QCOMPARE(dialog->Button1->text(), QStringLiteral("开始搜索"));
        QVERIFY(!dialog->Search->Running());
        QVERIFY(!dialog->Edit1->isReadOnly());

        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QVERIFY(dialog->Search->Running());
        QTest::mouseClick(dialog->Button2, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QVERIFY(!dialog->Search->Running());
        QCOMPARE(dialog->Search->InFlight(), 0);
        QCOMPARE(env.prompts.take(), QStringList());
    }
};

int runToolsWindowTest(int argc, char** argv) {
    ToolsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_tools_window.moc"
