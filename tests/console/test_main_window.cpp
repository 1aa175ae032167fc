#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "billing/BillingPass.h"
#include "client_channel/AddressSearch.h"
#include "console/TAddother.h"
#include "console/TForm1.h"
#include "console/Tadduser.h"
#include "console/Tsearch.h"
#include "console/Tsend.h"
#include "console/TtrunMoneys.h"
#include "support/Fixtures.h"
#include "widgets/Themed.h"

namespace {

// Every menu entry in menu order, as "name caption [shortcut]"; submenus indented.
QStringList describe(const QList<QAction*>& actions, const QString& indent = QString()) {
    QStringList out;
    for (QAction* a : actions) {
        if (!a->isVisible()) continue;  // what the operator does not see (the lock, sign-in off)
        if (a->isSeparator()) {
            out << indent + a->objectName() + QStringLiteral(" -");
            continue;
        }
        QString line = indent + a->objectName() + QLatin1Char(' ') + a->text();
        if (!a->shortcut().isEmpty())
            line += QStringLiteral(" [") + a->shortcut().toString() + QLatin1Char(']');
        out << line;
        if (a->menu()) out << describe(a->menu()->actions(), indent + QStringLiteral("  "));
    }
    return out;
}

void clickRow(QTableView* grid, int row, int column = 0) {
    const QRect cell = grid->visualRect(grid->model()->index(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

// 500 machines, pc000 to pc499: more than a window shows.
void fiveHundredMachines(Env& env) {
    env.sql(QStringLiteral("begin"));
    for (int i = 0; i < 500; ++i)
        env.addMachine(QStringLiteral("pc%1").arg(i, 3, 10, QLatin1Char('0')));
    env.sql(QStringLiteral("commit"));
}

// The window shown with pc002 highlighted by a click; its grid's scroll bar.
QScrollBar* showWithThirdRowClicked(TForm1& form) {
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) qFatal("the window was never shown");
    clickRow(form.DBGrid1, 2);
    return form.DBGrid1->verticalScrollBar();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void windowOpensOnTheStoredDatabase() {
        Env env;
        env.addMachine(QStringLiteral("pc2"));
        env.addMachine(QStringLiteral("PC1"));
        TForm1 form(*env.desk);
        QCOMPARE(form.windowTitle(), QStringLiteral("青岚网吧综合管理系统"));
        QCOMPARE(env.prompts.boxes, QStringList());
        QVERIFY(form.Timer1->isActive());
        QVERIFY(form.Timer2->isActive());
        QCOMPARE(form.Timer1->interval(), 30000);
        QCOMPARE(form.Timer2->interval(), 30000);
        QTableView* grid = form.DBGrid1;
        QCOMPARE(grid->model()->rowCount(), 2);
        QStringList titles;
        QList<int> widths;
        for (int c = 0; c < grid->model()->columnCount(); ++c) {
            titles << grid->model()->headerData(c, Qt::Horizontal).toString();
            widths << grid->columnWidth(c);
        }
        QCOMPARE(titles, (QStringList{"机器号", "上机时间", "现在时间", "共用时间", "上网费用",
                                      "附加费", "共需费用", "提示时间", "上机状态"}));
        QCOMPARE(widths, (QList<int>{100, 60, 61, 60, 56, 50, 58, 58, 56}));
        QCOMPARE(grid->model()->index(0, 0).data().toString(), QStringLiteral("PC1"));
        QCOMPARE(grid->model()->index(0, 8).data().toString(), QStringLiteral("无"));
        QVERIFY(grid->verticalHeader()->isHidden());
        QVERIFY(grid->horizontalHeader()->sectionsMovable());
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
    }

    void menus() {
        Env env;
        TForm1 form(*env.desk);
        QStringList menus;
        for (QAction* m : form.menuBar()->actions()) menus << m->text();
        QCOMPARE(menus, (QStringList{"管理(&A)", "信息(&M)", "功能(&G)", "高级(&F)", "操作(&E)",
                                     "帮助(&H)"}));
        QStringList items;
        for (QAction* m : form.menuBar()->actions()) items << describe(m->menu()->actions());
        const QStringList expected{"N2 添加主机 [Ctrl+I]",
                                   "N3 删除主机 [Ctrl+D]",
                                   "N4 -",
                                   "N5 自动搜索 [Ctrl+S]",
                                   "N6 查看屏幕 [Ctrl+V]",
                                   "N7 高级控制 [Ctrl+P]",
                                   "N8 -",
                                   "N9 退出 [Ctrl+Q]",
                                   "N10 青岚信使 [Ctrl+B]",
                                   "N11 -",
                                   "N12 添加附加费",
                                   "N13 转账 [Ctrl+C]",
                                   "N14 -",
                                   "N15 定时提醒 [Ctrl+T]",
                                   "N69 -",
                                   "N70 营业报表 [Ctrl+Y]",
                                   "N71 交班 [Ctrl+J]",
                                   "N16 黑屏 [Ctrl+F1]",
                                   "N17 解黑屏 [Ctrl+F2]",
                                   "N18 -",
                                   "N19 显示桌面 [Ctrl+F3]",
                                   "N20 隐藏桌面 [Ctrl+F4]",
                                   "N21 -",
                                   "N22 弹开光驱 [Ctrl+F5]",
                                   "N23 关闭光驱 [Ctrl+F6]",
                                   "N24 -",
                                   "N25 锁定鼠标 [Ctrl+F7]",
                                   "N26 解锁鼠标 [Ctrl+F8]",
                                   "N43 -",
                                   "N44 重启客户机 [Ctrl+F9]",
                                   "N45 关闭客户机 [Ctrl+F10]",
                                   "N31 上传文件 [Shift+F1]",
                                   "N30 下载文件 [Shift+F2]",
                                   "N38 -",
                                   "N46 创建目录 [Shift+F3]",
                                   "N47 删除目录 [Shift+F4]",
                                   "N48 -",
                                   "N49 远程调用(&L)",
                                   "  N50 记事本",
                                   "  N51 写字板",
                                   "  IE1 IE浏览器",
                                   "  N52 屏幕保护",
                                   "  Word1 Word字处理",
                                   "  N53 网上邻居",
                                   "  N54 清空回收站",
                                   "  N55 格式化盘符",
                                   "  N56 控制面板",
                                   "N57 网络电影 [Shift+F5]",
                                   "N58 -",
                                   "N59 客户密码记器",
                                   "N27 上机 [Ctrl+U]",
                                   "N28 下机 [Ctrl+R]",
                                   "N36 通宵",
                                   "N29 -",
                                   "N41 全部上机 [F2]",
                                   "N40 全部下机 [F3]",
                                   "N42 -",
                                   "N39 全部重启 [F4]",
                                   "N37 全部关机 [F5]",
                                   "N32 关于“青岚”\tCtrl+F1",
                                   "N33 -",
                                   "N34 青岚帮助 [F1]",
                                   "N35 在线帮助\tShift+F1"};
        QCOMPARE(items, expected);
    }

    void popupMenu() {
        Env env;
        TForm1 form(*env.desk);
        QCOMPARE(describe(form.PopupMenu1->actions()),
                 (QStringList{"N60 上机", "N61 下机", "N62 通宵", "N63 -", "N64 转账",
                              "N65 青岚信使", "N66 -", "N67 设置", "N68 高级"}));
    }

    void toolBar() {
        Env env;
        TForm1 form(*env.desk);
        QStringList buttons;
        for (QAction* a : form.ToolBar1->actions()) {
            QWidget* w = form.ToolBar1->widgetForAction(a);
            if (auto* b = qobject_cast<QToolButton*>(w)) {
                QCOMPARE(b->size(), QSize(55, 52));
                buttons << a->objectName() + QLatin1Char(' ') + a->text();
            } else {
                QCOMPARE(w->width(), 8);
                buttons << a->objectName();
            }
        }
        QCOMPARE(buttons,
                 (QStringList{"ToolButton1 上　机", "ToolButton2 下　机", "ToolButton12",
                              "ToolButton11 青岚信使", "ToolButton6 查看屏幕", "ToolButton4 转　账",
                              "ToolButton3 附加费", "ToolButton9", "ToolButton8 全部关机",
                              "ToolButton7 全部下机", "ToolButton5", "ToolButton13 帮　助"}));
    }

    void clashingShortcutsFireTheFirstItem() {
        Env env;
        TForm1 form(*env.desk);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QSignalSpy blank(form.action("N16"), &QAction::triggered);
        QSignalSpy about(form.action("N32"), &QAction::triggered);
        QSignalSpy upload(form.action("N31"), &QAction::triggered);
        QSignalSpy online(form.action("N35"), &QAction::triggered);
        QSignalSpy transfer(form.action("N13"), &QAction::triggered);
        form.DBGrid1->setFocus();
        QTest::keyClick(form.DBGrid1, Qt::Key_F1, Qt::ControlModifier);
        QTest::keyClick(form.DBGrid1, Qt::Key_F1, Qt::ShiftModifier);
        QTest::keyClick(form.DBGrid1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(blank.count(), 1);
        QCOMPARE(about.count(), 0);
        // Shift+F1 belongs to 上传文件, which the client cannot do: shown disabled, so the key
        // does nothing, and never reaches 在线帮助.
        QCOMPARE(form.action("N31")->shortcut(), QKeySequence(QStringLiteral("Shift+F1")));
        QVERIFY(!form.action("N31")->isEnabled());
        QCOMPARE(upload.count(), 0);
        QCOMPARE(online.count(), 0);
        QCOMPARE(transfer.count(), 1);  // not swallowed by the grid's copy
    }

    void highlightStaysOnTheChosenMachineAcrossRefreshes() {
        Env env;
        for (const char* name : {"a1", "b2", "c3"}) env.addMachine(QString::fromLatin1(name));
        TForm1 form(*env.desk);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(env.desk->CurrentRow(), 0);
        clickRow(form.DBGrid1, 1, 4);  // any cell of the row
        QCOMPARE(env.desk->CurrentRow(), 1);
        env.desk->SelectGridMachine();
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("b2"));
        QCOMPARE(form.DBGrid1->currentIndex().row(), 1);

        env.addMachine(QStringLiteral("a0"));  // a new first row pushes b2 down
        env.desk->RefreshSessionGrid();
        QCOMPARE(env.desk->CurrentRow(), 2);
        QCOMPARE(form.DBGrid1->currentIndex().row(), 2);
        QVERIFY(form.DBGrid1->selectionModel()->isRowSelected(2, {}));
        env.desk->SelectGridMachine();
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("b2"));

        // A closed grid (an update borrowed the grid query) keeps the choice for the reopen.
        env.module->ADOQuery1->Close();
        QCOMPARE(env.desk->CurrentRow(), -1);
        env.desk->RefreshSessionGrid();
        QCOMPARE(env.desk->CurrentRow(), 2);

        env.sql(QStringLiteral("delete from Tcount where username='b2'"));
        env.desk->RefreshSessionGrid();
        QCOMPARE(env.desk->CurrentRow(), 0);
        env.desk->SelectGridMachine();
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("a0"));

        env.sql(QStringLiteral("delete from Tcount"));
        env.desk->RefreshSessionGrid();
        env.desk->SelectGridMachine();
        QCOMPARE(env.desk->SelectedMachine, QString());  // open but empty grid
        QCOMPARE(env.prompts.boxes, QStringList());
    }

    void refreshFailureShowsTheErrorBoxAndKeepsTheSelection() {
        Env env;
        env.addMachine(QStringLiteral("pc1"));
        TForm1 form(*env.desk);
        env.desk->SelectGridMachine();
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("pc1"));
        env.sql(QStringLiteral("alter table Tcount rename to Gone"));
        env.desk->RefreshSessionGrid();
        QCOMPARE(env.prompts.take(),
                 QStringList{QStringLiteral("error|打开数据库出错，请与管理员联系!")});
        QVERIFY(!env.module->ADOQuery1->Active());
        QCOMPARE(form.DBGrid1->model()->rowCount(), 0);
        env.desk->CaptureSelectedMachine();
        env.desk->SelectGridMachine();
        QCOMPARE(env.desk->SelectedMachine, QStringLiteral("pc1"));
        env.desk->RefreshSessionGrid();
        QCOMPARE(env.prompts.take().size(), 1);  // once per refresh
    }

    void unusableDatabaseAtStartOpensAnEmptyWindow() {
        Env env;
        env.addMachine(QStringLiteral("pc1"));
        env.settings->writeDatapath(env.path(QStringLiteral("gone.db")));
        env.module->Disconnect();
        QFile::remove(env.dbPath());
        QFile garbage(env.dbPath());
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("this is not a database file, and it is long enough to say so.....");
        garbage.close();
        TForm1 form(*env.desk);
        const QStringList boxes = env.prompts.take();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QStringLiteral("unhandled|")));
        QCOMPARE(form.DBGrid1->model()->rowCount(), 0);  // the first refresh was skipped
    }

    void exitClosesTheQueries() {
        Env env;
        TForm1 form(*env.desk);
        env.module->ADOQuery2->SetSql(QStringLiteral("select * from Tcount"));
        QVERIFY(env.module->ADOQuery2->Open());
        QVERIFY(env.module->ADOQuery1->Active());
        form.action("N9")->trigger();
        QVERIFY(!env.module->ADOQuery1->Active());
        QVERIFY(!env.module->ADOQuery2->Active());
        QCOMPARE(env.prompts.boxes, QStringList());
    }

    void dialogsAreNewInstancesPerCommand() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N2")->trigger();
        Tadduser* first = Tadduser::adduser;
        form.action("N3")->trigger();
        QVERIFY(Tadduser::adduser != first);
        QVERIFY(first->isVisible() && Tadduser::adduser->isVisible());
        QCOMPARE(Tadduser::adduser->parent(), &form);
        QCOMPARE(Tadduser::adduser->windowTitle(), QStringLiteral("添加/删除机器"));
        first->close();
        QVERIFY(!first->isVisible());
        QCOMPARE(form.findChildren<Tadduser*>().size(), 2);  // hidden, not freed
    }

    void gridKeepsTheScrollPositionAcrossEveryReopen() {
        Env env;
        fiveHundredMachines(env);
        TForm1 form(*env.desk);
        QScrollBar* bar = showWithThirdRowClicked(form);
        bar->setValue(bar->maximum());  // scrolled to the bottom without clicking
        const int bottom = bar->value();
        QVERIFY(bottom > 400);
        env.desk->RefreshSessionGrid();
        QCOMPARE(bar->value(), bottom);
        RefreshClock(*env.desk);
        QCOMPARE(bar->value(), bottom);
        bar->setValue(100);
        env.desk->RefreshSessionGrid();
        QTest::qWait(20);  // the view's delayed layout must not move it either
        QCOMPARE(bar->value(), 100);
        QCOMPARE(env.desk->CurrentRowMachine(), QStringLiteral("pc002"));  // the highlight stays
    }

    // Another program on the same file starts a machine and adds one: the next clock tick reads
    // the grid again beside the window, and the operator's place in it stays.
    void theTickShowsAnotherProgramsChangeInPlace() {
        Env env;
        fiveHundredMachines(env);
        TForm1 form(*env.desk);
        QScrollBar* bar = showWithThirdRowClicked(form);
        bar->setValue(200);
        QTRY_VERIFY(!env.desk->BackgroundBusy());  // the start's backup and check are done
        env.otherTool(QStringLiteral("update Tcount set Cstate='正常', Tstart='9:0:0', Tother='0' "
                                     "where username='pc250'"));
        env.otherTool(QStringLiteral("insert into Tcount (username) values ('pc500')"));
        form.Timer1Timer();
        const QAbstractItemModel* grid = form.DBGrid1->model();
        QTRY_COMPARE(grid->rowCount(), 501);
        QCOMPARE(grid->index(250, 8).data().toString(), QStringLiteral("正常"));
        QCOMPARE(bar->value(), 200);
        QCOMPARE(env.desk->CurrentRowMachine(), QStringLiteral("pc002"));
        QCOMPARE(env.prompts.boxes, QStringList());
    }

    void dialogsHaveTheirDescribedOuterSizes() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N2")->trigger();
        form.action("N5")->trigger();
        form.action("N10")->trigger();
        for (QWidget* w : {static_cast<QWidget*>(Tadduser::adduser.data()),
                           static_cast<QWidget*>(Tsearch::search.data()),
                           static_cast<QWidget*>(Tsend::send.data())})
            QVERIFY(QTest::qWaitForWindowExposed(w));
        // Outer sizes, frame included, whatever frame the platform draws.
        QCOMPARE(Tadduser::adduser->frameGeometry().size(), QSize(369, 282));
        QCOMPARE(Tsearch::search->frameGeometry().size(), QSize(367, 325));
        QCOMPARE(Tsend::send->frameGeometry().size(), QSize(217, 242));
        QCOMPARE(Tadduser::adduser->findChild<QWidget*>(QStringLiteral("FlatGroupBox1"))->size(),
                 Tadduser::adduser->size());  // the group box fills the dialog
    }

    void currentInstanceReferencesDoNotDangle() {
        Env env;
        auto form = std::make_unique<TForm1>(*env.desk);
        form->action("N2")->trigger();
        form->action("N5")->trigger();
        form->action("N10")->trigger();
        form->action("N12")->trigger();
        form->action("N13")->trigger();
        QVERIFY(Tadduser::adduser && Tsearch::search && Tsend::send && TAddother::Addother &&
                TtrunMoneys::trunMoneys);
        form.reset();
        QVERIFY(!Tadduser::adduser && !Tsearch::search && !Tsend::send && !TAddother::Addother &&
                !TtrunMoneys::trunMoneys);
    }

    void searchDialogShowsItsDefaults() {
        Env env;
        TForm1 form(*env.desk);
        form.action("N5")->trigger();
        QPointer<Tsearch> first = Tsearch::search;
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->windowTitle(), QStringLiteral("搜索"));
        first->Edit1->setText(QStringLiteral("0"));
        QTest::mouseClick(first->Button1, Qt::LeftButton);  // a wrong port: a box, no search
        QCOMPARE(env.prompts.take(), QStringList{"message|" + SearchText::BadPort});
        QVERIFY(!first->Search->Running());
        QCOMPARE(first->ListBox1->count(), 0);
        QCOMPARE(first->ProgressBar1->value(), 0);
        QCOMPARE(first->StatusPanel1->text(), QStringLiteral("准备搜索"));
        QTest::mouseClick(first->Button2, Qt::LeftButton);
        QVERIFY(!first->isVisible());

        form.action("N5")->trigger();
        Tsearch* second = Tsearch::search;
        QVERIFY(!first);  // the closed one is gone, the new one has the defaults again
        QCOMPARE((QStringList{second->Edit1->text(), second->Edit2->text(), second->Edit3->text(),
                              second->Edit4->text(), second->Edit5->text()}),
                 (QStringList{"7626", "2000", "192.168.0", "1", "255"}));
        QCOMPARE(env.prompts.boxes, QStringList());
    }
};

int runMainWindowTest(int argc, char** argv) {
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_main_window.moc"
