#include "console/TForm1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "accounts/Accounts.h"
#include "backups/Backup.h"
#include "billing/BillingPass.h"
#include "billing/Bulk.h"
#include "billing/Overnight.h"
#include "billing/PlanWatch.h"
#include "console/TPackageChoice.h"
#include "packages/Packages.h"
#include "billing/Reminders.h"
#include "billing/SessionStart.h"
#include "client_channel/Datagram.h"
#include "console/ProgramName.h"
#include "console/TAddother.h"
#include "console/THelp.h"
#include "console/TRemind.h"
#include "console/TReport.h"
#include "console/TSettings.h"
#include "console/TShift.h"
#include "console/TSignIn.h"
#include "console/Tadduser.h"
#include "console/Tinformation.h"
#include "console/Tsearch.h"
#include "console/Tsend.h"
#include "console/TtrunMoneys.h"
#include "desk/SendCommand.h"
#include "ledger/Shifts.h"
#include "plans/Plans.h"
#include "record_store/ConnectDatabase.h"
#include "widgets/Themed.h"

namespace {

struct Column {
    const char* field;
    const char* title;
    int width;
};

const Column kColumns[] = {
    {"username", "机器号", 100}, {"Tstart", "上机时间", 60}, {"Tnow", "现在时间", 61},
    {"Stime", "共用时间", 60},   {"Tmoney", "上网费用", 56}, {"Tother", "附加费", 50},
    {"Tsum", "共需费用", 58},    {"gotime", "提示时间", 58}, {"Cstate", "上机状态", 56},
};

QString u(const char* text) { return QString::fromUtf8(text); }

}  // namespace

TForm1::TForm1(Desk& deskRef, QWidget* parent) : QMainWindow(parent), desk(deskRef) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(ProgramName);
    setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(212, 208, 200));  // the system scroll-bar colour
    setPalette(pal);
    move(228, 58);
    resize(808, 582);

    // Packages: the choice at 上机, and what a checkout or transfer does with a package.
    InstallPackageHooks(desk);
    OfferPackagesAtStart(desk, this);

    BuildMenus();
    BuildToolBar();
    BuildMiddle();
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(26);
    setStatusBar(StatusBar1);
    // Which database this desk works on, so no desk works on a local file believing it shares
    // the café's.
    DatabaseLabel = new QLabel(StatusBar1);
    DatabaseLabel->setObjectName(QStringLiteral("DatabaseLabel"));
    StatusBar1->addWidget(DatabaseLabel);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(30000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(30000);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    Timer1->start();
    Timer2->start();

    FormCreate();
    // The zone beside "当前机器：" is what the plan's watch last read, beside the window.
    planWatch.onRead = [this] { ShowZone(); };
    desk.GuardAnyway([this] { planWatch.TickBeside(); });
    // A lost server is said once, here, and the grid marked as not current; once the desk is
    // back, the ticks that were skipped meanwhile run at once.
    connect(&desk, &Desk::connectionChanged, this, &TForm1::ShowDatabaseInUse);
    connect(&desk, &Desk::reconnected, this, [this] {
        Timer1Timer();
        Timer2Timer();
    });
    information = new Tinformation(desk, this);  // created once, hidden until 下机
    connect(information->XP_Button2, &QPushButton::clicked, this, &TForm1::N13Click);
    StartSignIn();
}

void TForm1::StartSignIn() {
    SignInCover = new TSignIn(desk, this);
    connect(SignInCover, &TSignIn::signedIn, this, &TForm1::Unlocked);
    IdleTimer = new QTimer(this);
    IdleTimer->setObjectName(QStringLiteral("IdleTimer"));
    IdleTimer->setSingleShot(true);
    connect(&desk, &Desk::idleLockChanged, this, [this](int minutes) {
        IdleTimer->setInterval(minutes * 60000);
        if (minutes > 0 && !Locked())
            IdleTimer->start();
        else
            IdleTimer->stop();
    });
    connect(IdleTimer, &QTimer::timeout, this, [this] {
        if (!Locked()) Lock();
    });
    // Off: the window is as it always was, without the lock's menu entry or any box.
    if (m_noDatabase) return;
    desk.GuardAnyway([this] { m_signInOn = SignInOn(desk); });
    action("N72")->setVisible(m_signInOn);
    action("N73")->setVisible(m_signInOn);
    if (!m_signInOn) return;
    qApp->installEventFilter(this);  // any key or click keeps the window unlocked
    Lock();
}

bool TForm1::Locked() const { return SignInCover && !SignInCover->isHidden(); }

void TForm1::Lock() {
    SignOut(desk);
    IdleTimer->stop();
    // Open dialogs go with the operator; a hidden one is made afresh by its command.
    for (QWidget* w : findChildren<QWidget*>())
        if (w->isWindow() && w->isVisible()) w->hide();
    if (m_enabledBeforeLock.isEmpty())
        for (QAction* a : findChildren<QAction*>()) {
            m_enabledBeforeLock.insert(a, a->isEnabled());
            a->setEnabled(false);
        }
    SignInCover->Cover();
    ShowDatabaseInUse();
}

void TForm1::Unlocked() {
    for (auto it = m_enabledBeforeLock.cbegin(); it != m_enabledBeforeLock.cend(); ++it)
        it.key()->setEnabled(it.value());
    m_enabledBeforeLock.clear();
    desk.GuardAnyway([this] {
        const int minutes = IdleLockMinutes(desk);
        IdleTimer->setInterval(minutes * 60000);
        if (minutes > 0) IdleTimer->start();
    });
    ShowDatabaseInUse();
}

void TForm1::N72Click() { Lock(); }

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DBGrid1->viewport() && event->type() == QEvent::Resize) ApplyColumnLayout();
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            if (!Locked() && IdleTimer->interval() > 0) IdleTimer->start();
            break;
        default:
            break;
    }
    return QMainWindow::eventFilter(watched, event);
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    desk.Guard([this] {
        try {
            if (desk.databaseForThisStart.isEmpty()) {
                ConnectDatabase(desk.DataModule1, desk.settings, desk.prompts, desk.chooser);
            } else if (!SwitchConnection(desk.DataModule1, desk.databaseForThisStart)) {
                m_noDatabase = true;
                throw UnhandledError(desk.DataModule1.LastError());
            }
        } catch (const NoDatabaseError&) {
            m_noDatabase = true;  // the program ends once the box is read
            throw;
        }
        desk.RefreshSessionGrid();
        ResumeJournal(desk);
        BackUpToday(desk);
    });
    ShowDatabaseInUse();
}

QAction* TForm1::action(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

void TForm1::BuildMenus() {
    const QFont menuFont = ThemedFont(QStringLiteral("Tahoma"), 11);
    menuBar()->setFont(menuFont);

    auto menu = [&](const char* title) {
        QMenu* m = menuBar()->addMenu(u(title));
        m->setFont(menuFont);
        return m;
    };
    auto item = [&](QMenu* m, const char* name, const char* caption, const char* keys = "") {
        QAction* a = m->addAction(u(caption));
        a->setObjectName(QString::fromLatin1(name));
        if (*keys) a->setShortcut(QKeySequence(QString::fromLatin1(keys)));
        return a;
    };
    // The second item of a clashing pair shows the key but does not own it, so the key
    // fires the first item in menu order.
    auto shownKey = [&](QMenu* m, const char* name, const char* caption, const char* keys) {
        QAction* a = item(m, name, caption);
        a->setText(u(caption) + QLatin1Char('\t') + QString::fromLatin1(keys));
        return a;
    };
    auto separator = [&](QMenu* m, const char* name) {
        m->addSeparator()->setObjectName(QString::fromLatin1(name));
    };

    QMenu* manage = menu("管理(&A)");
    item(manage, "N2", "添加主机", "Ctrl+I");
    item(manage, "N3", "删除主机", "Ctrl+D");
    separator(manage, "N4");
    item(manage, "N5", "自动搜索", "Ctrl+S");
    item(manage, "N6", "查看屏幕", "Ctrl+V");
    item(manage, "N7", "高级控制", "Ctrl+P");
    separator(manage, "N8");
    item(manage, "N9", "退出", "Ctrl+Q");
    // With sign-in on only, after the original entries, on a key nothing else uses.
    separator(manage, "N73");
    item(manage, "N72", "锁定", "Ctrl+L");

    QMenu* info = menu("信息(&M)");
    item(info, "N10", "青岚信使", "Ctrl+B");
    separator(info, "N11");
    item(info, "N12", "添加附加费");
    item(info, "N13", "转账", "Ctrl+C");
    separator(info, "N14");
    item(info, "N15", "定时提醒", "Ctrl+T");
    // The money record: new entries after the original ones, on keys nothing else uses.
    separator(info, "N69");
    item(info, "N70", "营业报表", "Ctrl+Y");
    item(info, "N71", "交班", "Ctrl+J");

    QMenu* functions = menu("功能(&G)");
    item(functions, "N16", "黑屏", "Ctrl+F1");
    item(functions, "N17", "解黑屏", "Ctrl+F2");
    separator(functions, "N18");
    item(functions, "N19", "显示桌面", "Ctrl+F3");
    item(functions, "N20", "隐藏桌面", "Ctrl+F4");
    separator(functions, "N21");
    item(functions, "N22", "弹开光驱", "Ctrl+F5");
    item(functions, "N23", "关闭光驱", "Ctrl+F6");
    separator(functions, "N24");
    item(functions, "N25", "锁定鼠标", "Ctrl+F7");
    item(functions, "N26", "解锁鼠标", "Ctrl+F8");
    separator(functions, "N43");
    item(functions, "N44", "重启客户机", "Ctrl+F9");
    item(functions, "N45", "关闭客户机", "Ctrl+F10");

    QMenu* advanced = menu("高级(&F)");
    item(advanced, "N31", "上传文件", "Shift+F1");
    item(advanced, "N30", "下载文件", "Shift+F2");
    separator(advanced, "N38");
    item(advanced, "N46", "创建目录", "Shift+F3");
    item(advanced, "N47", "删除目录", "Shift+F4");
    separator(advanced, "N48");
    QMenu* remote = advanced->addMenu(u("远程调用(&L)"));
    remote->setFont(menuFont);
    remote->menuAction()->setObjectName(QStringLiteral("N49"));
    item(remote, "N50", "记事本");
    item(remote, "N51", "写字板");
    item(remote, "IE1", "IE浏览器");
    item(remote, "N52", "屏幕保护");
    item(remote, "Word1", "Word字处理");
    item(remote, "N53", "网上邻居");
    item(remote, "N54", "清空回收站");
    item(remote, "N55", "格式化盘符");
    item(remote, "N56", "控制面板");
    item(advanced, "N57", "网络电影", "Shift+F5");
    separator(advanced, "N58");
    item(advanced, "N59", "客户密码记器");

    QMenu* operate = menu("操作(&E)");
    item(operate, "N27", "上机", "Ctrl+U");
    item(operate, "N28", "下机", "Ctrl+R");
    item(operate, "N36", "通宵");
    separator(operate, "N29");
    item(operate, "N41", "全部上机", "F2");
    item(operate, "N40", "全部下机", "F3");
    separator(operate, "N42");
    item(operate, "N39", "全部重启", "F4");
    item(operate, "N37", "全部关机", "F5");

    QMenu* help = menu("帮助(&H)");
    shownKey(help, "N32", "关于“青岚”", "Ctrl+F1");
    separator(help, "N33");
    item(help, "N34", "青岚帮助", "F1");
    shownKey(help, "N35", "在线帮助", "Shift+F1");

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->setFont(menuFont);
    item(PopupMenu1, "N60", "上机");
    item(PopupMenu1, "N61", "下机");
    item(PopupMenu1, "N62", "通宵");
    separator(PopupMenu1, "N63");
    item(PopupMenu1, "N64", "转账");
    item(PopupMenu1, "N65", "青岚信使");
    // Shown in the pop-up only while the café sells packages or one runs (see the grid's menu).
    auto* packages = new QAction(u("包时"), this);
    packages->setObjectName(QStringLiteral("Package1"));
    separator(PopupMenu1, "N66");
    item(PopupMenu1, "N67", "设置");
    item(PopupMenu1, "N68", "高级");

    connect(action("N2"), &QAction::triggered, this, &TForm1::N2Click);
    connect(action("N3"), &QAction::triggered, this, &TForm1::N2Click);
    connect(action("N5"), &QAction::triggered, this, &TForm1::N5Click);
    connect(action("N9"), &QAction::triggered, this, &TForm1::N9Click);
    connect(action("N72"), &QAction::triggered, this, &TForm1::N72Click);
    connect(action("N10"), &QAction::triggered, this, &TForm1::N10Click);
    connect(action("N27"), &QAction::triggered, this, &TForm1::N27Click);
    connect(action("N28"), &QAction::triggered, this, &TForm1::N28Click);
    connect(action("N36"), &QAction::triggered, this, &TForm1::N36Click);
    connect(action("N12"), &QAction::triggered, this, &TForm1::N12Click);
    connect(action("N13"), &QAction::triggered, this, &TForm1::N13Click);
    connect(action("N70"), &QAction::triggered, this, &TForm1::N70Click);
    connect(action("N71"), &QAction::triggered, this, &TForm1::N71Click);
    connect(action("N62"), &QAction::triggered, this, &TForm1::N36Click);
    connect(action("N64"), &QAction::triggered, this, &TForm1::N13Click);
    // The pop-up menu repeats the main menu's commands of the same captions.
    connect(action("N60"), &QAction::triggered, this, &TForm1::N27Click);
    connect(action("N61"), &QAction::triggered, this, &TForm1::N28Click);
    connect(action("N65"), &QAction::triggered, this, &TForm1::N10Click);
    connect(action("Package1"), &QAction::triggered, this, [this] {
        desk.Guard([this] {
            const QString machine = desk.CurrentRowMachine();
            if (machine.isEmpty()) return;
            TPackageDesk packages(desk, machine, this);
            packages.exec();
        });
    });

    // The client program has no command for these: they keep their places, captions and keys
    // but are shown disabled, so nothing looks as if it works when it does not.
    for (const char* inert :
         {"N6",  "N44",   "N45", "N31", "N30", "N46", "N47", "N49", "N50", "N51", "IE1",
          "N52", "Word1", "N53", "N54", "N55", "N56", "N57", "N59", "N39", "N37"})
        action(inert)->setEnabled(false);
    connect(action("N7"), &QAction::triggered, this, &TForm1::N7Click);
    connect(action("N67"), &QAction::triggered, this, &TForm1::N7Click);
    connect(action("N68"), &QAction::triggered, this, &TForm1::N7Click);
    connect(action("N15"), &QAction::triggered, this, &TForm1::N15Click);
    connect(action("N41"), &QAction::triggered, this, &TForm1::N41Click);
    connect(action("N40"), &QAction::triggered, this, &TForm1::N40Click);
    connect(action("N32"), &QAction::triggered, this, &TForm1::N32Click);
    connect(action("N34"), &QAction::triggered, this, &TForm1::N34Click);
    connect(action("N35"), &QAction::triggered, this, &TForm1::N34Click);

    // The 功能 items: the word goes to the highlighted row's machine, whatever its state.
    // 重启客户机 (N44) and 关闭客户机 (N45) have no command.
    const std::pair<const char*, QString> commands[] = {
        {"N16", Command::BlackScreen}, {"N17", Command::UnblackScreen},
        {"N19", Command::ShowDesktop}, {"N20", Command::HideDesktop},
        {"N22", Command::OpenTray},    {"N23", Command::CloseTray},
        {"N25", Command::LockMouse},   {"N26", Command::UnlockMouse},
    };
    for (const auto& [name, word] : commands)
        connect(action(name), &QAction::triggered, this,
                [this, text = word] { ClientCommand(text); });
}

void TForm1::ClientCommand(const QString& word) {
    desk.Guard([&] {
        desk.SelectGridMachine();
        SendCommand(desk, word);
    });
}

void TForm1::BuildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setFixedHeight(56);  // the cool bar's band: at least 52 for the buttons
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { border: none; }"));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    auto button = [&](const char* name, const char* caption, int icon) {
        QAction* a = ToolBar1->addAction(ToolBarIcon(icon), u(caption));
        a->setObjectName(QString::fromLatin1(name));
        if (auto* b = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(a))) {
            b->setFixedSize(55, 52);
            b->setAutoRaise(true);
        }
        return a;
    };
    auto gap = [&](const char* name) {
        auto* spacer = new QWidget(ToolBar1);
        spacer->setFixedWidth(8);
        ToolBar1->addWidget(spacer)->setObjectName(QString::fromLatin1(name));
    };
    button("ToolButton1", "上　机", 0);
    button("ToolButton2", "下　机", 1);
    gap("ToolButton12");
    button("ToolButton11", "青岚信使", 3);
    button("ToolButton6", "查看屏幕", 9);
    button("ToolButton4", "转　账", 4);
    button("ToolButton3", "附加费", 2);
    gap("ToolButton9");
    button("ToolButton8", "全部关机", 7);
    button("ToolButton7", "全部下机", 8);
    gap("ToolButton5");
    button("ToolButton13", "帮　助", 5);

    connect(action("ToolButton1"), &QAction::triggered, this, &TForm1::N27Click);
    connect(action("ToolButton2"), &QAction::triggered, this, &TForm1::N28Click);
    connect(action("ToolButton11"), &QAction::triggered, this, &TForm1::ToolButton11Click);
    connect(action("ToolButton3"), &QAction::triggered, this, &TForm1::N12Click);
    connect(action("ToolButton4"), &QAction::triggered, this, &TForm1::N13Click);
    connect(action("ToolButton7"), &QAction::triggered, this, &TForm1::N40Click);
    connect(action("ToolButton13"), &QAction::triggered, this, &TForm1::N34Click);
    for (const char* inert : {"ToolButton6", "ToolButton8"}) action(inert)->setEnabled(false);
}

void TForm1::BuildMiddle() {
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(5);
    splitter->setChildrenCollapsible(false);

    auto* panel = new GradientPanel(splitter);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setMinimumWidth(145);
    auto* bevel = new QFrame(panel);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    bevel->setGeometry(0, 0, 145, 17);
    auto caption = [&](const char* text, int x, int y) {
        auto* label = new QLabel(u(text), panel);
        label->move(x, y);
        return label;
    };
    caption("当前机器：", 8, 32);
    caption("正常工作：", 8, 56);
    caption("剩余：", 32, 80);
    Label4 = new QLabel(panel);
    Label5 = new QLabel(panel);
    Label6 = new QLabel(panel);
    int y = 32;
    for (QLabel* value : {Label4, Label5, Label6}) {
        value->setObjectName(value == Label4   ? QStringLiteral("Label4")
                             : value == Label5 ? QStringLiteral("Label5")
                                               : QStringLiteral("Label6"));
        value->setGeometry(64, y, 80, 16);
        y += 24;
    }

    DBGrid1 = new SessionGridView(splitter);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(desk.DataModule1.ADOQuery1);
    QHash<QString, QString> titles;
    for (const Column& c : kColumns) titles.insert(QString::fromLatin1(c.field), u(c.title));
    desk.DataModule1.ADOQuery1->SetTitles(titles);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setTabKeyNavigation(true);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->verticalHeader()->setMinimumSectionSize(16);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    DBGrid1->setFrameShape(QFrame::NoFrame);
    DBGrid1->setShowGrid(true);
    DBGrid1->setFont(ThemedFont(QStringLiteral("SimSun"), 12));
    QHeaderView* header = DBGrid1->horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setFont(ThemedFont(QStringLiteral("MS Sans Serif"), 13));
    header->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: rgb(58, 110, 165); color: white; "
                       "border: 1px solid rgb(40, 80, 120); padding: 1px; }"));
    DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // Also with the catalogue emptied: a package still running must stay within reach
        // of its extension and its void.
        const std::optional<Catalogue> catalogue = StoredCatalogue(desk);
        const std::optional<QStringList> holding = MachinesHolding(desk);
        if ((catalogue && !catalogue->packages.empty()) || (holding && !holding->isEmpty()))
            PopupMenu1->insertAction(action("N66"), action("Package1"));
        else
            PopupMenu1->removeAction(action("Package1"));
        PopupMenu1->popup(DBGrid1->viewport()->mapToGlobal(pos));
    });
    connect(DBGrid1, &QAbstractItemView::doubleClicked, this, &TForm1::DBGrid1DblClick);
    connect(desk.DataModule1.ADOQuery1, &QAbstractItemModel::modelReset, this,
            &TForm1::ApplyColumnLayout);
    // Every reopen keeps the operator's place: with 500 machines, a refresh every 30 seconds
    // must not throw a scrolled-down view back to the top. Connected after the desk, so this
    // runs after the highlight has been put back.
    connect(desk.DataModule1.ADOQuery1, &Query::aboutToClose, this, [this] {
        if (!m_savedScroll) m_savedScroll = DBGrid1->ScrollPosition();
    });
    connect(desk.DataModule1.ADOQuery1, &Query::opened, this, [this] {
        if (!m_savedScroll) return;
        DBGrid1->RestoreScroll(*m_savedScroll);
        m_savedScroll.reset();
    });
    ApplyColumnLayout();
    DBGrid1->viewport()->installEventFilter(this);
    // A column the operator widens keeps its share when the window changes size.
    connect(header, &QHeaderView::sectionResized, this, [this](int section, int, int width) {
        if (m_layingColumns) return;
        m_columnWidths.insert(desk.DataModule1.ADOQuery1->ColumnName(section).toLower(),
                              width / ColumnScale());
    });

    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                desk.SetCurrentRow(current.row());
                ShowZone();
            });
    // A reminder that has fallen due shows in red until the session ends or a new one is set.
    DBGrid1->SetMarker([this](const QModelIndex& index) {
        const Query* grid = desk.DataModule1.ADOQuery1;
        if (grid->ColumnName(index.column())
                .compare(QStringLiteral("gotime"), Qt::CaseInsensitive) != 0)
            return false;
        return ReminderDue(desk, grid->FieldText(index.row(), QStringLiteral("username")),
                           index.data().toString());
    });
    connect(&desk, &Desk::remindersChanged, DBGrid1->viewport(), qOverload<>(&QWidget::update));
    connect(&desk, &Desk::currentRowChanged, this, [this](int row) {
        if (row < 0) return;
        const int column = qMax(0, DBGrid1->currentIndex().column());
        const QModelIndex index = DBGrid1->model()->index(row, column);
        DBGrid1->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    });

    splitter->addWidget(panel);
    splitter->addWidget(DBGrid1);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({145, 650});
    setCentralWidget(splitter);
}

namespace {

// The grid's width at the described window size (808 x 582, give or take the window's frame)
// and the described columns' sum: the width the window gains beyond it goes to the columns,
// each in proportion to its own.
constexpr int kDescribedView = 660;
constexpr int kDescribedColumns = 559;

}  // namespace

double TForm1::ColumnScale() const {
    const int view = DBGrid1->viewport()->width();
    if (view <= kDescribedView) return 1.0;
    return double(kDescribedColumns + view - kDescribedView) / kDescribedColumns;
}

void TForm1::ApplyColumnLayout() {
    const Query* grid = desk.DataModule1.ADOQuery1;
    const double scale = ColumnScale();
    m_layingColumns = true;
    for (int section = 0; section < grid->columnCount(); ++section) {
        const QString field = grid->ColumnName(section).toLower();
        for (const Column& c : kColumns)
            if (field == QString::fromLatin1(c.field).toLower())
                DBGrid1->setColumnWidth(section,
                                        qRound(m_columnWidths.value(field, c.width) * scale));
    }
    m_layingColumns = false;
}

template <class Dialog>
void TForm1::FreeClosedDialogs() {
    // Only when this command is the one entry point running: a closed dialog may still be
    // inside its own handler, waiting in a box or a name look-up, and must outlive it.
    if (desk.GuardDepth() > 1) return;
    for (Dialog* dialog : findChildren<Dialog*>(Qt::FindDirectChildrenOnly))
        if (dialog->isHidden()) delete dialog;
}

template <class Dialog, class Make>
void TForm1::OpenDialog(QPointer<Dialog>& current, Make make, bool needsDatabase) {
    // A new modeless instance per command; the reference follows the newest one. The closed
    // ones go, so a day of commands does not pile up windows nobody can see.
    const auto open = [&] {
        FreeClosedDialogs<Dialog>();
        current = make();
        current->show();
    };
    needsDatabase ? desk.Guard(open) : desk.GuardAnyway(open);
}

void TForm1::N2Click() {
    OpenDialog(Tadduser::adduser, [this] { return new Tadduser(desk, this); });
}

void TForm1::N5Click() {
    OpenDialog(Tsearch::search, [this] { return new Tsearch(desk, this); });
}

void TForm1::N10Click() {
    OpenDialog(Tsend::send, [this] { return new Tsend(desk, this); });
}

void TForm1::ToolButton11Click() { N10Click(); }

void TForm1::N70Click() {
    OpenDialog(TReport::report, [this] { return new TReport(desk, this); });
}

void TForm1::N71Click() {
    OpenDialog(TShift::shift, [this] {
        auto* shift = new TShift(desk, this);
        // The shift closed: the next operator signs in.
        if (m_signInOn) connect(shift, &TShift::closed, this, &TForm1::Lock);
        return shift;
    });
}

void TForm1::N7Click() {
    // Asked first, so the dialog is opened by the one entry point running and the closed ones go.
    bool allowed = false;
    QString approver;
    desk.Guard([&] {
        const OwnerApproval approval(desk, QStringLiteral("设置"));
        allowed = bool(approval);
        approver = desk.approverId;
    });
    if (!allowed) return;
    OpenDialog(TSettings::settings, [this] { return new TSettings(desk, this); });
    if (TSettings::settings) TSettings::settings->approverId = approver;
}

void TForm1::N15Click() {
    desk.Guard([this] {
        desk.SelectGridMachine();
        const QString machine = desk.SelectedMachine;
        if (!CanRemind(desk, machine)) return;
        FreeClosedDialogs<TRemind>();
        TRemind::remind = new TRemind(desk, machine, this);
        TRemind::remind->show();
    });
}

void TForm1::N41Click() {
    desk.Guard([this] { StartAll(desk); });
}

void TForm1::N40Click() {
    desk.Guard([this] { CheckOutAll(desk); });
}

void TForm1::ShowDatabaseInUse() {
    const TDataModule1& dm = desk.DataModule1;
    QPalette palette = StatusBar1->palette();
    if (desk.ConnectionLost()) {
        palette.setColor(QPalette::WindowText, QColor(192, 0, 0));
        DatabaseLabel->setPalette(palette);
        DatabaseLabel->setText(
            QStringLiteral("与数据库服务器的连接 %1 起断开了，正在自动重新连接…　"
                           "表格是断开前的内容，不是最新的。")
                .arg(desk.LostSince().time().toString(QStringLiteral("H:mm:ss"))));
        return;
    }
    DatabaseLabel->setPalette(palette);
    QString text = dm.Connected() ? QStringLiteral("数据库：%1　前台：%2")
                                        .arg(dm.engine().Describe(dm.ConnectionString()),
                                             desk.deskName)
                                  : QStringLiteral("没有连接数据库");
    if (m_signInOn)
        text += desk.accountId.isEmpty() ? QStringLiteral("　已锁定")
                                         : QStringLiteral("　操作员：%1").arg(desk.operatorName);
    DatabaseLabel->setText(text);
}

void TForm1::N34Click() {
    // The guide needs no database: it opens while the server is lost too.
    OpenDialog(THelp::help, [this] { return new THelp(this); }, false);
}

void TForm1::N32Click() {
    desk.GuardAnyway([this] {
        desk.prompts.message(QStringLiteral("%1\n版本 %2（Qt %3）\n本机：%4\n数据库：%5")
                                 .arg(ProgramName, QStringLiteral(CAFE_VERSION),
                                      QString::fromLatin1(qVersion()), desk.deskName,
                                      MaskedConnectionText(desk.DataModule1.ConnectionString())));
    });
}

void TForm1::N9Click() {
    desk.DataModule1.ADOQuery1->Close();
    desk.DataModule1.ADOQuery2->Close();
    QCoreApplication::quit();
}

void TForm1::N27Click() {
    desk.Guard([this] { StartCommand(desk); });
}

void TForm1::N28Click() {
    desk.Guard([this] { OpenCheckout(desk, *information); });
}

void TForm1::N36Click() {
    desk.Guard([this] { StartOvernight(desk); });
}

void TForm1::N12Click() {
    OpenDialog(TAddother::Addother, [this] { return new TAddother(desk, this); });
}

void TForm1::N13Click() {
    OpenDialog(TtrunMoneys::trunMoneys, [this] { return new TtrunMoneys(desk, this); });
}

// The passes read and write on the desk's worker, so the window never waits on them.
void TForm1::Timer1Timer() {
    desk.GuardAnyway([this] {
        desk.NoticeChangesElsewhere();  // first: its read is put in place before the new time
        RefreshClockBeside(desk);
        CheckRemindersBeside(desk);
    });
}

void TForm1::Timer2Timer() {
    desk.GuardAnyway([this] {
        BillingPassBeside(desk);
        planWatch.TickBeside();
        WatchPackages(desk);
    });
}

// Beside "当前机器：", only under a price plan: the machine's zone.
void TForm1::ShowZone() {
    if (m_noDatabase || desk.ConnectionLost()) return;
    Label4->setText(planWatch.ZoneOf(desk.CurrentRowMachine()));
}

void TForm1::DBGrid1DblClick() { N28Click(); }

void TForm1::closeEvent(QCloseEvent* event) {
    // Hidden or open dialogs must not keep the program alive once the main window closes.
    event->accept();
    QCoreApplication::quit();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_sized) {
        m_sized = true;
        FitOuterSize(this, QSize(808, 582), false);
    }
}
