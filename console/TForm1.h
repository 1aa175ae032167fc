#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <optional>

#include "billing/PlanWatch.h"
#include "desk/Desk.h"

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTableView;
class SessionGridView;
class QTimer;
class QToolBar;
class Tinformation;
class TSignIn;

// The main window: the session grid, the menus, the tool bar, the pop-up menu and the timers.
class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    explicit TForm1(Desk& desk, QWidget* parent = nullptr);
    ~TForm1() override;

    Desk& desk;

    QAction* action(const char* name) const;  // a menu item, tool button or pop-up item by name
    // No database could be opened at all (nothing usable and the start folder not writable,
    // or the file given with --database): the program cannot work and ends.
    bool NoDatabase() const { return m_noDatabase; }

    SessionGridView* DBGrid1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* DatabaseLabel = nullptr;      // in the status strip: the database in use
    Tinformation* information = nullptr;  // the checkout dialog
    TSignIn* SignInCover = nullptr;       // with sign-in on: over the window until one signs in
    QTimer* IdleTimer = nullptr;          // locks the window after the idle minutes

    // With sign-in on: nobody is signed in on this desk; the window is covered, its commands
    // off, while the timers, reminders and client commands already running go on.
    bool Locked() const;
    void Lock();

  public slots:
    void N2Click();   // 添加主机 / 删除主机
    void N5Click();   // 自动搜索
    void N9Click();   // 退出
    void N10Click();  // 青岚信使
    void ToolButton11Click();
    void N27Click();  // 上机
    void N28Click();  // 下机
    void N36Click();  // 通宵
    void N12Click();  // 添加附加费
    void N13Click();  // 转账
    void N70Click();  // 营业报表
    void N71Click();  // 交班
    void N7Click();   // 高级控制: the settings
    void N15Click();  // 定时提醒
    void N41Click();  // 全部上机
    void N40Click();  // 全部下机
    void N32Click();  // 关于“青岚”
    void N34Click();  // 青岚帮助, 在线帮助, 帮　助
    void Timer1Timer();
    void Timer2Timer();
    void DBGrid1DblClick();
    void N72Click();  // 锁定 (with sign-in on)

    // The grid's columns: as described at the described size, wider in proportion when the
    // window is.
    double ColumnScale() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void FormCreate();
    void ShowZone();
    void ShowDatabaseInUse();
    void BuildMenus();
    void BuildToolBar();
    void BuildMiddle();
    void ApplyColumnLayout();
    void ClientCommand(const QString& word);
    template <class Dialog, class Make>
    void OpenDialog(QPointer<Dialog>& current, Make make, bool needsDatabase = true);
    template <class Dialog>
    void FreeClosedDialogs();

    void Unlocked();
    void StartSignIn();

    PlanWatch planWatch{desk};
    bool m_sized = false;
    bool m_signInOn = false;
    QHash<QAction*, bool> m_enabledBeforeLock;
    bool m_layingColumns = false;
    QHash<QString, double> m_columnWidths;  // by field, at the described size
    bool m_noDatabase = false;
    std::optional<QPoint> m_savedScroll;  // where the grid stood when its rows went away
};
