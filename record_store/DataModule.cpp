#include "record_store/DataModule.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>

#include "record_store/DatabaseError.h"
#include "record_store/Engine.h"
#include "record_store/Schema.h"

const char* const TDataModule1::GridStatement =
    "select username,Tstart,Tnow,Stime,Tmoney,Tother,Tsum,gotime,Cstate from Tcount order by "
    "username";
const char* const TDataModule1::WholeGridStatement = "select * from Tcount order by username";

namespace {
std::atomic<int> g_connectionSerial{0};
}  // namespace

TDataModule1::TDataModule1(QObject* parent, DefaultFile defaultFile)
    : QObject(parent),
      m_name(QStringLiteral("cafe-%1").arg(g_connectionSerial.fetch_add(1))),
      m_connectionString(QString::fromLatin1(DefaultConnectionString)),
      m_engine(Engine::For(m_connectionString)) {
    QSqlDatabase::addDatabase(m_engine->DriverName(), m_name);
    const auto engine = [this]() -> const Engine& { return *m_engine; };
    const Query::Hooks hooks{[this] { return Watch(); },
                             [this](const QSqlError& error) { Failed(&error); },
                             [this] { return m_lost; }};
    ADOQuery1 = new Query(this, m_name, engine, hooks);
    ADOQuery2 = new Query(this, m_name, engine, hooks);
    ADOQuery3 = new Query(this, m_name, engine, hooks);
    JournalQuery = new Query(this, m_name, engine, hooks);
    PlanQuery = new Query(this, m_name, engine, hooks);
    ADOQuery1->SetSql(QString::fromLatin1(GridStatement));
    m_health = new QTimer(this);
    m_health->setInterval(1000);
    connect(m_health, &QTimer::timeout, this, &TDataModule1::CheckConnection);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &TDataModule1::TryReconnect);
    if (defaultFile == DefaultFile::Create || QFileInfo::exists(m_connectionString)) Connect();
}

TDataModule1::~TDataModule1() {
    if (m_probe) {
        m_probe->wait();  // a few seconds at most: its connect has a time limit
        delete m_probe;
    }
    Disconnect();
    delete ADOQuery1;
    delete ADOQuery2;
    delete ADOQuery3;
    delete JournalQuery;
    delete PlanQuery;
    QSqlDatabase::removeDatabase(m_name);
}

bool TDataModule1::Connected() const { return QSqlDatabase::database(m_name, false).isOpen(); }

void TDataModule1::Disconnect() {
    m_serving = false;
    m_lost = false;
    m_health->stop();
    m_retry->stop();
    for (Query* q : {ADOQuery1, ADOQuery2, ADOQuery3, JournalQuery, PlanQuery}) q->Detach();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    db.close();
}

bool TDataModule1::Connect() {
    Disconnect();
    const QString text = m_connectionString;
    std::unique_ptr<Engine> engine = Engine::For(text);
    if (!m_engine || m_engine->DriverName() != engine->DriverName()) {
        // Another engine needs another driver behind the same connection name.
        QSqlDatabase::removeDatabase(m_name);
        QSqlDatabase::addDatabase(engine->DriverName(), m_name);
    }
    m_engine = std::move(engine);
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    const bool isDefault = text == QString::fromLatin1(DefaultConnectionString);
    auto fail = [&](const QString& reason) {
        db.close();
        m_lastError = m_engine->IsFile()
                          ? QStringLiteral("无法打开数据库文件“%1”：%2").arg(text, reason)
                          : QStringLiteral("无法连接数据库服务器“%1”：%2")
                                .arg(m_engine->Describe(text), reason);
        return false;
    };
    if (!db.isValid())
        return fail(QStringLiteral("没有 %1 数据库驱动").arg(m_engine->DriverName()));
    const bool absent = m_engine->IsFile() && !QFileInfo::exists(text);
    QString reason;
    if (!m_engine->Configure(db, text, isDefault, &reason)) return fail(reason);
    qCDebug(lcDb) << "connecting" << m_engine->Describe(text);
    if (!db.open()) return fail(DatabaseErrorText(db.lastError()));
    if (!m_engine->Prepare(db, Engine::Side::Window, &reason)) return fail(reason);

    // The default file, and a server database without any table, get the two tables.
    const int ours = OurTables(db);
    const bool empty = m_engine->IsFile() ? (absent || db.tables().isEmpty()) : ours == 0;
    if ((isDefault || !m_engine->IsFile()) && empty && !CreateTables(db, *m_engine, &reason))
        return fail(reason);
    if (OurTables(db) != 2) return fail(QStringLiteral("数据库中没有 Tcount 和 Tmoney 表"));
    m_schemaError.clear();
    MigrateSchema(db, *m_engine, &m_schemaError);
    Listen(db);
    if (!m_engine->IsFile()) {
        m_serving = true;
        m_health->start();
    }
    return true;
}

void TDataModule1::Listen(QSqlDatabase& db) {
    const QString channel = m_engine->ChangeChannel();
    if (channel.isEmpty() || !db.driver()->subscribeToNotification(channel)) return;
    connect(db.driver(), &QSqlDriver::notification, this, &TDataModule1::Notified,
            Qt::UniqueConnection);
}

StatementWatch::Scope TDataModule1::Watch() {
    if (!m_serving || m_lost) return {};
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    return StatementWatch::Scope(&m_watch, m_engine->Breaker(db));
}

void TDataModule1::Failed(const QSqlError* error) {
    // The server's own statement timeout: the connection is sound, the window was not held.
    if (error && error->nativeErrorCode() == QLatin1String("57014")) ++m_timeouts;
    CheckConnection();
}

void TDataModule1::CheckConnection() {
    // The driver reads a connection's end (a backend ended, the server gone) as it comes, so
    // an idle connection that was lost shows as closed without any statement.
    if (m_serving && !m_lost && !QSqlDatabase::database(m_name, false).isOpen()) GoLost();
}

void TDataModule1::GoLost() {
    m_lost = true;
    ++m_losses;
    m_health->stop();
    qCDebug(lcDb) << "connection lost:" << m_engine->Describe(m_connectionString);
    // The rows shown stay; only the statements of the dead connection go.
    for (Query* q : {ADOQuery1, ADOQuery2, ADOQuery3, JournalQuery, PlanQuery}) q->Forget();
    QSqlDatabase::database(m_name, false).close();
    m_backoffMs = 500;
    m_retry->start(m_backoffMs);
    emit connectionLost();
}

void TDataModule1::TryReconnect() {
    if (!m_lost || m_probe) return;
    // Whether the server answers is found out on a thread of its own: connecting may wait
    // seconds for a silent network. Only a server that has just answered is connected to here.
    const QString text = m_connectionString;
    const QString name = m_name + QStringLiteral("-probe");
    auto answered = std::make_shared<bool>(false);
    m_probe = QThread::create([text, name, answered] {
        {
            const std::unique_ptr<Engine> engine = Engine::For(text);
            QSqlDatabase db = QSqlDatabase::addDatabase(engine->DriverName(), name);
            QString reason;
            *answered = engine->Configure(db, text, false, &reason) && db.open();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    });
    connect(m_probe, &QThread::finished, this, [this, answered] {
        m_probe->deleteLater();
        m_probe = nullptr;
        if (!m_lost) return;
        if (*answered && Reopen()) return;
        m_backoffMs = std::min(m_backoffMs * 2, 16000);
        m_retry->start(m_backoffMs);
    });
    m_probe->start();
}

bool TDataModule1::Reopen() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    QString reason;
    if (!m_engine->Configure(db, m_connectionString, false, &reason) || !db.open()) return false;
    if (!m_engine->Prepare(db, Engine::Side::Window, &reason)) {
        db.close();
        return false;
    }
    Listen(db);  // the old connection's LISTEN went with it
    m_lost = false;
    m_health->start();
    qCDebug(lcDb) << "reconnected:" << m_engine->Describe(m_connectionString);
    emit connectionRestored();
    return true;
}

void TDataModule1::Notified(const QString&, QSqlDriver::NotificationSource source,
                            const QVariant&) {
    if (source == QSqlDriver::OtherSource) emit changedElsewhere();
}

bool TDataModule1::CreateDatabaseFile(const QString& path, QString* error) {
    const QString name = QStringLiteral("cafe-create-%1").arg(g_connectionSerial.fetch_add(1));
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        const std::unique_ptr<Engine> engine = Engine::For(path);
        ok = db.open() && engine->Prepare(db, Engine::Side::Worker, error) &&
             CreateTables(db, *engine, error);
        if (!db.isOpen() && error) *error = DatabaseErrorText(db.lastError());
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool TDataModule1::BeginTransaction() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    bool ok;
    {
        const auto watch = Watch();
        ok = db.isOpen() && db.transaction();
    }
    if (!ok) {
        const QSqlError error = db.lastError();
        Failed(&error);
    }
    return ok;
}

bool TDataModule1::BeginWriteTransaction() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    bool ok;
    {
        const auto watch = Watch();
        ok = db.isOpen() && m_engine && m_engine->BeginWrite(db, &m_lastError);
    }
    if (!ok) Failed();
    return ok;
}

const Engine& TDataModule1::engine() const { return *m_engine; }

bool TDataModule1::TryClaim(const QString& key) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen()) return false;
    bool claimed;
    {
        const auto watch = Watch();
        claimed = m_engine->TryClaim(db, key);
    }
    if (!claimed) Failed();
    return claimed;
}

void TDataModule1::ReleaseClaim(const QString& key) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen()) return;  // a lost connection took its claims with it
    const auto watch = Watch();
    m_engine->ReleaseClaim(db, key);
}

bool TDataModule1::Commit() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    bool ok;
    {
        const auto watch = Watch();
        ok = db.isOpen() && db.commit();
    }
    if (ok) {
        emit committed();
    } else {
        const QSqlError error = db.lastError();
        m_lastError = DatabaseErrorText(error);
        Failed(&error);
    }
    return ok;
}

bool TDataModule1::ReadAfresh(const QString& statement, const QStringList& values,
                              std::vector<QStringList>* rows) {
    const QString name = QStringLiteral("%1-afresh-%2").arg(m_name).arg(g_connectionSerial++);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::cloneDatabase(m_name, name);
        QString error;
        if (!db.open()) {
            m_lastError = DatabaseErrorText(db.lastError());
        } else if (!m_engine->Prepare(db, Engine::Side::Window, &error)) {
            m_lastError = error;
        } else {
            ok = m_engine->Walk(
                db, statement, values,
                [&](const QString* row, int columns) {
                    QStringList texts;
                    for (int c = 0; c < columns; ++c) texts << row[c];
                    rows->push_back(texts);
                },
                &error);
            if (!ok) m_lastError = error;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

void TDataModule1::Rollback() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (db.isOpen()) {
        const auto watch = Watch();
        db.rollback();
    }
    emit rolledBack();
}

// ---------------------------------------------------------------------------------------------

bool Transaction::Begin() {
    if (!m_open) m_open = m_module.BeginTransaction();
    return m_open;
}

bool Transaction::BeginWrite() {
    if (!m_open) m_open = m_module.BeginWriteTransaction();
    return m_open;
}

bool Transaction::Commit() {
    if (!m_open) return true;
    m_open = false;
    if (m_module.Commit()) return true;
    m_module.Rollback();
    return false;
}

void Transaction::Rollback() {
    if (m_open) m_module.Rollback();
    m_open = false;
}
