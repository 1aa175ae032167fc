#include "desk/Desk.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

#include "client_channel/NMUDP.h"
#include "desk/Messages.h"
#include "desk/SendCommand.h"

// Calls from one thread to another, in order. They wait under a lock that ThreadSanitizer
// sees; Qt's event queue carries only the wake-up, by name (Qt is not built with it, so a
// call it carried would look like a race).
class Desk::Mailbox {
  public:
    void Put(std::function<void()> call) {
        const std::lock_guard lock(m_lock);
        m_calls.push_back(std::move(call));
    }
    std::function<void()> Take() {
        const std::lock_guard lock(m_lock);
        if (m_calls.empty()) return [] {};
        std::function<void()> call = std::move(m_calls.front());
        m_calls.pop_front();
        return call;
    }

  private:
    std::mutex m_lock;
    std::deque<std::function<void()>> m_calls;
};

namespace {

// The worker's connection, on the worker's thread only.
class WorkerContext : public QObject {
    Q_OBJECT
  public:
    explicit WorkerContext(const QString& name) : m_name(name) {}
    ~WorkerContext() override { Close(); }

    Desk::Mailbox inbox;
    // One call from the inbox, for each wake-up.
    Q_INVOKABLE void RunNext() { inbox.Take()(); }

    QSqlDatabase Connection(const QString& text) {
        if (text != m_text || !QSqlDatabase::database(m_name, false).isOpen()) {
            Close();
            m_engine = Engine::For(text);
            QSqlDatabase db = QSqlDatabase::addDatabase(m_engine->DriverName(), m_name);
            QString error;
            if (m_engine->Configure(db, text, false, &error) && db.open())
                m_engine->Prepare(db, Engine::Side::Worker, &error);
            m_text = text;
        }
        return QSqlDatabase::database(m_name, false);
    }
    const Engine& engine() const { return *m_engine; }
    Q_INVOKABLE void Reset() {
        Close();
        m_text.clear();
    }
    Q_INVOKABLE void Close() {
        if (!QSqlDatabase::contains(m_name)) return;
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }

  private:
    QString m_name;
    QString m_text;
    std::unique_ptr<Engine> m_engine;
};

}  // namespace

Desk::Desk(TDataModule1& module, const DeskSeams& seams, QObject* parent)
    : QObject(parent),
      DataModule1(module),
      prompts(*seams.prompts),
      clock(*seams.clock),
      settings(*seams.settings),
      chooser(*seams.chooser),
      resolver(*seams.resolver),
      deskName(seams.deskName),
      databaseForThisStart(seams.databaseForThisStart),
      NMUDP1(new TNMUDP(*seams.resolver, this)),
      m_answers(std::make_unique<Mailbox>()) {
    // As the window layout loads it: the local port replaces the socket and binds it.
    NMUDP1->RemotePort = seams.remotePort;
    NMUDP1->SetLocalPort(seams.localPort);
    NMUDP1->ReportLevel = 1;
    NMUDP1->OnInvalidHost = [this](bool& handled) { NMUDP1InvalidHost(handled); };
    NMUDP1->Loaded();

    Query* grid = DataModule1.ADOQuery1;
    connect(grid, &Query::opened, this, &Desk::GridOpened);
    connect(grid, &Query::closed, this, [this] {
        m_currentRow = -1;
        emit currentRowChanged(-1);
    });
    if (grid->Active()) GridOpened();

    connect(&DataModule1, &TDataModule1::committed, this, [this] {
        if (!m_pendingHead) return;
        settings.setValue(JournalHeadKey(), QStringLiteral("%1 %2 %3")
                                                .arg(m_pendingHead->id)
                                                .arg(m_pendingHead->hash, m_pendingHead->at));
        m_pendingHead.reset();
    });
    connect(&DataModule1, &TDataModule1::rolledBack, this, [this] { m_pendingHead.reset(); });

    // Another desk's change shows here within a moment; a burst of them is one refresh.
    auto* soon = new QTimer(this);
    soon->setSingleShot(true);
    soon->setInterval(250);
    connect(&DataModule1, &TDataModule1::changedElsewhere, soon, qOverload<>(&QTimer::start));
    connect(soon, &QTimer::timeout, this,
            [this] { GuardAnyway([this] { RefreshSessionGridBeside(); }); });

    connect(&DataModule1, &TDataModule1::connectionLost, this, [this] {
        // The server that dropped the window's connection most likely dropped the worker's: it
        // starts afresh at its next job instead of failing it first.
        if (m_workerContext) QMetaObject::invokeMethod(m_workerContext, "Reset");
        UpdateConnectionState();
    });
    connect(&DataModule1, &TDataModule1::connectionRestored, this, &Desk::UpdateConnectionState);
    m_workerRetry = new QTimer(this);
    m_workerRetry->setSingleShot(true);
    connect(m_workerRetry, &QTimer::timeout, this, &Desk::RetryWorker);
}

bool Desk::RefusedWhileLost() {
    if (!DataModule1.Lost()) return false;
    prompts.message(DeskText::ServerLost);
    return true;
}

void Desk::AfterCommand(int losses, int timeouts) {
    if (DataModule1.LossCount() != losses && DataModule1.Lost())
        prompts.message(DeskText::ServerLostDuringCommand);
    else if (DataModule1.TimeoutCount() != timeouts)
        prompts.message(DeskText::ServerTooSlow);
}

void Desk::WorkerAnswered(bool lost) {
    if (lost == m_workerLost) return;
    m_workerLost = lost;
    if (lost) {
        m_workerBackoffMs = 500;
        m_workerRetry->start(m_workerBackoffMs);
    }
    UpdateConnectionState();
}

void Desk::RetryWorker() {
    // Connecting again is the worker's first step of any job: an empty one will do.
    RunOnWorker([](QSqlDatabase&, const Engine&) {},
                [this] {
                    if (!m_workerLost) return;
                    m_workerBackoffMs = std::min(m_workerBackoffMs * 2, 16000);
                    m_workerRetry->start(m_workerBackoffMs);
                });
}

void Desk::UpdateConnectionState() {
    // The worker may meet a lost server before the window's connection is next looked at; the
    // strip must not say "connected" over a window connection already known to be dead.
    DataModule1.CheckConnection();
    const bool lost = DataModule1.Lost() || m_workerLost;
    if (lost == m_shownLost) return;
    m_shownLost = lost;
    if (lost) m_lostSince = clock.nowDateTime();
    emit connectionChanged(lost);
    if (lost) return;
    // What other desks changed meanwhile, and what the skipped ticks would have shown.
    RefreshSessionGridBeside();
    emit reconnected();
}

namespace {

QString HeadKey(const QString& where, const QString& kind = QStringLiteral("journalHead")) {
    return kind + QLatin1Char('/') +
           QString::fromLatin1(
               QCryptographicHash::hash(where.toUtf8(), QCryptographicHash::Sha1).toHex());
}

}  // namespace

QString Desk::JournalHeadKey() const { return PerDatabaseKey(QStringLiteral("journalHead")); }

QString Desk::PerDatabaseKey(const QString& kind) const {
    // One value per database: the desk may be pointed at another file. A file is named by its
    // own path, however the connection spells it ("count.db" at start, the setting's path).
    const QString text = DataModule1.ConnectionString();
    if (!DataModule1.engine().IsFile()) return HeadKey(text, kind);
    const QFileInfo file(text);
    return HeadKey(file.exists() ? file.canonicalFilePath() : file.absoluteFilePath(), kind);
}

QString Desk::DatabaseSetting(const QString& name) const {
    return settings.value(PerDatabaseKey(name));
}

void Desk::SetDatabaseSetting(const QString& name, const QString& value) {
    settings.setValue(PerDatabaseKey(name), value);
}

JournalMark Desk::JournalHead() {
    // "id hash" (before times were kept) or "id hash yyyy-MM-dd HH:mm:ss"; a head kept under
    // the connection's own spelling (before files were named by their path) still counts.
    QString value = settings.value(JournalHeadKey());
    if (value.isEmpty()) value = settings.value(HeadKey(DataModule1.ConnectionString()));
    const QStringList parts = value.split(QLatin1Char(' '));
    if (parts.size() < 2) return {};
    return {parts[0].toLongLong(), parts[1], parts.mid(2).join(QLatin1Char(' '))};
}

void Desk::NoteJournalAppend(const JournalMark& row) { m_pendingHead = row; }

Desk::~Desk() {
    if (m_workerThread) {
        // The worker's connection closes on its own thread, then the thread ends.
        QMetaObject::invokeMethod(m_workerContext, "Close", Qt::BlockingQueuedConnection);
        m_workerThread->quit();
        m_workerThread->wait();
        delete m_workerContext;
        delete m_workerThread;
    }
    for (QThread* worker : m_workers) {
        worker->wait();
        delete worker;
    }
}

void Desk::MoveReminder(const QString& from, const QString& to) {
    const auto it = reminders.find(MachineNameKey(from));
    if (it == reminders.end()) return;
    const Reminder moved = *it;
    reminders.erase(it);
    reminders.insert(MachineNameKey(to), moved);
    emit remindersChanged();
}


void Desk::RunOnWorker(std::function<void(QSqlDatabase& db, const Engine& engine)> work,
                       std::function<void()> then) {
    if (!m_workerThread) {
        m_workerThread = new QThread;
        m_workerThread->setObjectName(QStringLiteral("desk worker"));
        m_workerContext =
            new WorkerContext(DataModule1.connectionName() + QStringLiteral("-worker"));
        m_workerContext->moveToThread(m_workerThread);
        m_workerThread->start();
    }
    auto* context = static_cast<WorkerContext*>(m_workerContext);
    context->inbox.Put([this, context, text = DataModule1.ConnectionString(),
                        work = std::move(work), then = std::move(then)]() mutable {
        QSqlDatabase db = context->Connection(text);
        {
            // What the job holds goes here, before then() is handed back: a pass's last
            // reference must drop on the window's thread, where its flag is read.
            std::function<void(QSqlDatabase&, const Engine&)> job;
            job.swap(work);
            job(db, context->engine());
        }
        // A server's connection that is closed now was lost (or never made): the next
        // job connects again.
        const bool lost = !context->engine().IsFile() && !db.isOpen();
        m_answers->Put([this, lost, then = std::move(then)]() mutable {
            WorkerAnswered(lost);
            std::function<void()> answer;
            answer.swap(then);
            GuardAnyway(answer);
        });
        QMetaObject::invokeMethod(this, "TakeAnswer", Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(context, "RunNext", Qt::QueuedConnection);
}

void Desk::TakeAnswer() { m_answers->Take()(); }

void Desk::RunInBackground(std::function<void()> work, std::function<void()> then,
                           QThread::Priority priority) {
    // The answer waits for the window in a mailbox of its own, taken once the thread has ended.
    auto answer = std::make_shared<Mailbox>();
    QThread* worker =
        QThread::create([answer, work = std::move(work), then = std::move(then)]() mutable {
            work();
            answer->Put(std::move(then));
        });
    m_workers << worker;
    connect(worker, &QThread::finished, this, [this, worker, answer] {
        m_workers.removeOne(worker);
        worker->deleteLater();
        GuardAnyway(answer->Take());
    });
    worker->start(priority);
}

void Desk::SetCurrentRow(int row) {
    // A view reports -1 while rows are removed; that must not forget the chosen machine.
    if (row < 0 || row >= DataModule1.ADOQuery1->RecordCount() || row == m_currentRow) return;
    m_currentRow = row;
    m_currentName = CurrentRowMachine();
    emit currentRowChanged(row);
}

QString Desk::CurrentRowMachine() const {
    return DataModule1.ADOQuery1->FieldText(m_currentRow, QStringLiteral("username"));
}

void Desk::NMUDP1InvalidHost(bool& handled) {
    prompts.message(DeskText::HostUnreachable);
    (void)handled;
}

void Desk::GridOpened() {
    // Keep the highlight on the machine the operator chose; a command half a minute later must
    // not go to whichever machine happens to be first.
    const Query* grid = DataModule1.ADOQuery1;
    int row =
        m_currentName.isNull() ? -1 : grid->FindRow(QStringLiteral("username"), m_currentName);
    if (row < 0) row = grid->RecordCount() > 0 ? 0 : -1;
    m_currentRow = row;
    if (row >= 0) m_currentName = CurrentRowMachine();
    emit currentRowChanged(row);
}

namespace {

// The grid's rows read on the worker, for a grid of width columns; false when they cannot be
// read or another tool changed the table's columns meanwhile.
bool ReadGridRows(QSqlDatabase& db, const Engine& engine, const QString& statement, int width,
                  std::vector<QStringList>* rows) {
    bool sameColumns = true;
    const bool ok = engine.Walk(
        db, statement, {},
        [&](const QString* row, int columns) {
            sameColumns = sameColumns && columns == width;
            if (!sameColumns) return;
            QStringList texts;
            texts.reserve(columns);
            for (int c = 0; c < columns; ++c) texts << row[c];
            rows->push_back(std::move(texts));
        },
        nullptr);
    return ok && sameColumns;
}

struct GridRead {
    quint64 generation;
    int width;
    std::vector<QStringList> rows = {};
    bool ok = false;
};

}  // namespace

bool Desk::ApplyGridRead(quint64 generation, bool ok, std::vector<QStringList>&& rows) {
    Query* grid = DataModule1.ADOQuery1;
    const QString statement = QString::fromLatin1(TDataModule1::GridStatement);
    if (!grid->Active() || grid->Sql() != statement) return false;  // whoever changed it shows it
    if (grid->Generation() != generation) return false;  // newer rows are shown already
    if (!ok) {
        if (ConnectionLost()) return false;  // the status strip says so; the rows stay
        RefreshSessionGrid();  // here, with its box if it fails again
        return false;
    }
    grid->ApplyRows(std::move(rows));
    return true;
}

void Desk::RefreshSessionGridBeside() {
    Query* grid = DataModule1.ADOQuery1;
    const QString statement = QString::fromLatin1(TDataModule1::GridStatement);
    if (!grid->Active() || grid->Sql() != statement) {
        RefreshSessionGrid();
        return;
    }
    auto read = std::make_shared<GridRead>(GridRead{grid->Generation(), grid->columnCount()});
    RunOnWorker(
        [read, statement](QSqlDatabase& db, const Engine& engine) {
            read->ok = ReadGridRows(db, engine, statement, read->width, &read->rows);
        },
        [this, read] { ApplyGridRead(read->generation, read->ok, std::move(read->rows)); });
}

void Desk::NoticeChangesElsewhere() {
    Query* grid = DataModule1.ADOQuery1;
    const QString statement = QString::fromLatin1(TDataModule1::GridStatement);
    if (!grid->Active() || grid->Sql() != statement) return;  // reopened afresh when needed
    // A server announces its changes: nothing to ask at every tick.
    if (!DataModule1.engine().ChangeChannel().isEmpty()) return;
    // The worker's connection counts the commits of every other connection: another program,
    // another connection of this desk, the window's own commands. The passes commit on the
    // worker itself, so a pass that only billed costs no read: its cells are set in place.
    struct Look {
        GridRead read;
        ChangeMark seen;
        ChangeMark now = {};
        bool moved = false;
    };
    auto look = std::make_shared<Look>(
        Look{GridRead{grid->Generation(), grid->columnCount()}, m_seenChanges});
    RunOnWorker(
        [look, statement](QSqlDatabase& db, const Engine& engine) {
            const std::optional<qint64> version = engine.DataVersion(db);
            if (!version || !db.driver()) return;
            // Numbers of two connections are not comparable: the connection is part of it.
            static std::atomic<qint64> connections{0};
            QVariant id = db.driver()->property("cafeConnection");
            if (!id.isValid()) {
                id = ++connections;
                db.driver()->setProperty("cafeConnection", id);
            }
            look->now = {id.toLongLong(), *version};
            look->moved = look->now != look->seen;
            if (look->moved)
                look->read.ok = ReadGridRows(db, engine, statement, look->read.width,
                                             &look->read.rows);
        },
        [this, look] {
            // Only a read that was shown counts as seen: a dropped one is read at the next tick.
            if (look->moved && ApplyGridRead(look->read.generation, look->read.ok,
                                             std::move(look->read.rows)))
                m_seenChanges = look->now;
        });
}

bool Desk::LockMachineRows(const QStringList& machines) {
    const QString lock = DataModule1.engine().RowLock();
    if (lock.isEmpty() || machines.isEmpty()) return true;
    QStringList names;
    for (int i = 0; i < machines.size(); ++i) names << QStringLiteral("username=:m%1").arg(i);
    Query* q = DataModule1.ADOQuery2;
    q->Close();
    q->SetSql(QStringLiteral("select username from Tcount where ") +
              names.join(QStringLiteral(" or ")) + QStringLiteral(" order by username") + lock);
    for (int i = 0; i < machines.size(); ++i) q->SetParam(QStringLiteral("m%1").arg(i), machines[i]);
    const bool locked = q->Open();
    q->Close();
    return locked;
}

void Desk::SelectGridMachine() {
    // With the grid closed there is no current row: keep the last machine.
    if (DataModule1.ADOQuery1->Active()) SelectedMachine = CurrentRowMachine();
}

void Desk::CaptureSelectedMachine() { SelectGridMachine(); }

void Desk::RefreshSessionGrid() {
    // While the server is lost the grid keeps what it showed; the status strip says it is not
    // current, and it is read again as soon as the connection is back.
    if (DataModule1.Lost()) return;
    Query* q = DataModule1.ADOQuery1;
    const QString statement = QString::fromLatin1(TDataModule1::GridStatement);
    // An open grid on its own statement is read again in place: the view keeps its rows and
    // repaints only what changed.
    if (q->Active() && q->Sql() == statement) {
        if (!q->Reopen() && !DataModule1.Lost()) prompts.error(DeskText::GridOpenFailed);
        return;
    }
    q->Close();
    q->SetSql(statement);
    if (!q->Open() && !DataModule1.Lost()) prompts.error(DeskText::GridOpenFailed);
}

#include "Desk.moc"
