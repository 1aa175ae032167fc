#pragma once

#include <QDateTime>
#include <QHash>
#include <memory>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <exception>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "record_store/DataModule.h"
#include "record_store/Formats.h"
#include "record_store/Seams.h"

class HostResolver;
class TNMUDP;
class QTimer;
class QSqlDatabase;

struct DeskSeams {
    Prompts* prompts = nullptr;
    Clock* clock = nullptr;
    SettingStore* settings = nullptr;
    FileChooser* chooser = nullptr;
    HostResolver* resolver = nullptr;
    int remotePort = 1999;  // the client program's port
    int localPort = 1998;
    QString deskName = QStringLiteral("前台");  // this front desk's name in the journal
    QString databaseForThisStart = {};  // --database: used instead of the setting, which stays
};

// The console's working state, without any widget: the data module, the machine that the next
// command is aimed at, the grid's current row and the seams. TForm1 binds its view to it.
// A reminder set on this desk for a machine in session: its H:mm text in gotime, when it falls
// due, whether the client is sent a message then, and whether the operator has been told.
struct Reminder {
    QString at;
    QDateTime due;  // invalid: set elsewhere (another desk, an earlier run)
    bool sendMessage = false;
    bool told = false;
};

// A journal row as a desk remembers it: its number, hash and time (the time is empty for a
// row remembered before times were kept).
struct JournalMark {
    qint64 id = 0;
    QString hash;
    QString at;
    bool operator==(const JournalMark&) const = default;
};

class Desk : public QObject {
    Q_OBJECT
  public:
    // Throws UDPSockError when the endpoint cannot make its socket.
    Desk(TDataModule1& module, const DeskSeams& seams, QObject* parent = nullptr);
    ~Desk() override;

    TDataModule1& DataModule1;
    Prompts& prompts;
    Clock& clock;
    SettingStore& settings;
    FileChooser& chooser;
    HostResolver& resolver;
    const QString deskName;
    const QString databaseForThisStart;
    TNMUDP* NMUDP1;

    QString SelectedMachine;

    QString operatorName;  // on duty: the open shift's, empty when none is open

    // With sign-in on: the account signed in (its id, empty while nobody is), whether it is
    // the owner's, and the owner whose password allowed what a cashier is doing right now.
    // Every journal row carries the first and the last.
    QString accountId;
    bool accountIsOwner = false;
    QString approverId;
    // The settings key of a value this desk keeps for the database in use (its journal head,
    // the seal key it last saw).
    QString PerDatabaseKey(const QString& kind) const;

    // What a capability above the sessions keeps beside a session (a package sold for it) and
    // settles with it: called inside the transaction of a checkout (settled, at the moment the
    // bill is taken, before its journal row, adding the lines the receipt lists for it) or a
    // transfer (moved), after the rows changed; false rolls the whole change back. Unset:
    // nothing.
    struct SettledLine {
        QString label, detail, amount;  // amount in yuan, as the bill writes money
    };
    std::function<bool(const QString& machine, const QDateTime& at, std::vector<SettledLine>* lines)>
        sessionSettled;
    std::function<bool(const QString& from, const QString& to)> sessionMoved;
    // A machine deleted in mid-session, in the delete's transaction: what was kept beside the
    // session ends with it; *note says what for the delete's flagged row.
    std::function<bool(const QString& machine, QString* note)> sessionDropped;

    // 上机 on an idle machine asks this first, when set: true when it dealt with the start
    // itself (sold a package, or the operator cancelled), false for the described start.
    std::function<bool(const QString& machine)> offerStart;

    // Reminders by machine (MachineNameKey); a transfer carries its reminder along.
    QHash<QString, Reminder> reminders;
    void MoveReminder(const QString& from, const QString& to);

    // Runs work on the desk's worker thread, on the worker's own connection to the database the
    // desk uses (opened, or opened again after the desk switched databases, as needed); then()
    // comes back on this thread, inside the guard. Jobs run one after another, in order.
    // A failure to connect is handed to work as a closed connection.
    void RunOnWorker(std::function<void(QSqlDatabase& db, const Engine& engine)> work,
                     std::function<void()> then);

    // Runs work on a thread of its own (which must use its own database connection), then
    // then() back on this thread inside the guard. The desk waits for it before it goes.
    void RunInBackground(std::function<void()> work, std::function<void()> then,
                         QThread::Priority priority = QThread::InheritPriority);
    bool BackgroundBusy() const { return !m_workers.isEmpty(); }

    // Inside a write transaction: the rows of these machines locked until the commit, taken in
    // name order so two desks wait for each other instead of deadlocking. An engine whose write
    // holds the whole file has nothing more to lock. False when a lock could not be had.
    bool LockMachineRows(const QStringList& machines);

    // The journal row this desk wrote last, as committed: a later check must still find it.
    JournalMark JournalHead();
    // Remembered once the transaction that appended it has committed (and so is on disk).
    void NoteJournalAppend(const JournalMark& row);
    // A setting of this desk that belongs to the database in use (another database, another
    // value): the journal's verified row, the date of its last whole-chain check.
    QString DatabaseSetting(const QString& name) const;
    void SetDatabaseSetting(const QString& name, const QString& value);

    // A pass waiting in a box must not be entered again by the next tick.
    bool clockRefreshRunning = false;
    bool billingPassRunning = false;
    // What the billing passes keep between their ticks (the billing room's own type), touched
    // by one pass at a time.
    std::shared_ptr<void> passCache;
    bool remindersRunning = false;
    bool planWatchRunning = false;

    // The grid query's current row (-1 when it is closed or empty).
    int CurrentRow() const { return m_currentRow; }
    void SetCurrentRow(int row);
    QString CurrentRowMachine() const;

    void SelectGridMachine();
    void CaptureSelectedMachine();
    // The same, with the rows read on the worker: for a refresh nobody waits for (another
    // desk's change). A read that a change here overtook is dropped.
    void RefreshSessionGridBeside();
    void RefreshSessionGrid();
    // Every clock tick, for a database whose changes nobody announces (a file another program
    // may write): when anything was committed since the grid was last read, it is read again
    // beside the window and put in place (the highlight and the scroll position stay). Cheap
    // when nothing was: one question to the worker's connection.
    void NoticeChangesElsewhere();

    // Every entry point (menu, button, timer) runs through one of these: a conversion or other
    // error that no operation handles ends the operation and is shown with its own text.
    // Nothing crosses Qt's event loop.
    //
    // An operator's command: while the connection to the server is lost it is refused with one
    // box; when the connection is lost, or the server ran out of time, during the command, one
    // box says so after the command's own.
    template <class F>
    void Guard(F&& f) {
        if (m_commandDepth == 0 && RefusedWhileLost()) return;
        const int losses = DataModule1.LossCount();
        const int timeouts = DataModule1.TimeoutCount();
        ++m_commandDepth;
        GuardAnyway(std::forward<F>(f));
        if (--m_commandDepth == 0) AfterCommand(losses, timeouts);
    }
    // The rest: timer ticks, the worker's answers, windows that need no database. They run
    // whatever the connection, and say nothing of a lost one (the status strip does).
    template <class F>
    void GuardAnyway(F&& f) {
        struct Depth {
            int& depth;
            explicit Depth(int& d) : depth(++d) {}
            ~Depth() { --depth; }
        } entered(m_guardDepth);
        try {
            std::forward<F>(f)();
        } catch (const CafeError& e) {
            prompts.reportUnhandled(e.text());
        } catch (const std::exception& e) {
            prompts.reportUnhandled(QString::fromLocal8Bit(e.what()));
        }
    }
    // How many entry points are running at once: more than one while a box or a name look-up
    // runs its event loop and another command came in meanwhile.
    int GuardDepth() const { return m_guardDepth; }

    // A connection of this desk to its server (the window's or the worker's) is lost, and is
    // being reconnected by itself. The grid shows what it showed before, no longer current.
    bool ConnectionLost() const { return m_shownLost; }
    QDateTime LostSince() const { return m_lostSince; }

    // The same, as a slot for a button or menu signal.
    template <class F>
    auto Guarded(F f) {
        return [this, f] { Guard(f); };
    }

  signals:
    void currentRowChanged(int row);
    void remindersChanged();  // a reminder fell due or was set: the grid's marks change
    void connectionChanged(bool lost);
    void reconnected();  // both connections are back: what the ticks missed can run now
    void idleLockChanged(int minutes);  // saved in 设置: the window's idle lock follows at once

  private:
    void GridOpened();
    // Rows read on the worker, put in place unless the grid changed since generation; true when
    // they were.
    bool ApplyGridRead(quint64 generation, bool ok, std::vector<QStringList>&& rows);
    bool RefusedWhileLost();
    void AfterCommand(int losses, int timeouts);
    void WorkerAnswered(bool lost);
    void RetryWorker();
    void UpdateConnectionState();

    int m_commandDepth = 0;
    bool m_workerLost = false;
    bool m_shownLost = false;
    QDateTime m_lostSince;
    int m_workerBackoffMs = 0;
    QTimer* m_workerRetry = nullptr;

    // The endpoint's OnInvalidHost: tells the operator; leaves handled false.
    void NMUDP1InvalidHost(bool& handled);

    QString JournalHeadKey() const;

    std::optional<JournalMark> m_pendingHead;  // appended, not yet committed
    QList<QThread*> m_workers;
  public:
    class Mailbox;  // calls handed from one thread to another

  private:
    std::unique_ptr<Mailbox> m_answers;  // the worker's answers, in order
    Q_INVOKABLE void TakeAnswer();

    QThread* m_workerThread = nullptr;   // RunOnWorker's, made on first use
    QObject* m_workerContext = nullptr;  // lives on it
    // The worker connection's count of others' commits when the grid was last read beside.
    struct ChangeMark {
        qint64 connection = 0;
        qint64 version = -1;
        bool operator==(const ChangeMark&) const = default;
    } m_seenChanges;
    int m_currentRow = -1;
    int m_guardDepth = 0;
    QString m_currentName;  // survives a closed grid, so a reopen finds the same machine
};

// While it lives, the journal rows this desk writes name approver (an empty one changes
// nothing); the approver before comes back when it goes.
class ApprovedBy {
  public:
    ApprovedBy(Desk& desk, const QString& approver)
        : m_id(desk.approverId), m_before(desk.approverId) {
        if (!approver.isEmpty()) m_id = approver;
    }
    ~ApprovedBy() { m_id = m_before; }
    ApprovedBy(const ApprovedBy&) = delete;
    ApprovedBy& operator=(const ApprovedBy&) = delete;

  private:
    QString& m_id;
    const QString m_before;
};
