#include "record_store/DataModule.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
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
    ADOQuery1 = new Query(this, m_name, engine);
    ADOQuery2 = new Query(this, m_name, engine);
    ADOQuery3 = new Query(this, m_name, engine);
    JournalQuery = new Query(this, m_name, engine);
    ADOQuery1->SetSql(QString::fromLatin1(GridStatement));
    if (defaultFile == DefaultFile::Create || QFileInfo::exists(m_connectionString)) Connect();
}

TDataModule1::~TDataModule1() {
    Disconnect();
    delete ADOQuery1;
    delete ADOQuery2;
    delete ADOQuery3;
    delete JournalQuery;
    QSqlDatabase::removeDatabase(m_name);
}

bool TDataModule1::Connected() const { return QSqlDatabase::database(m_name, false).isOpen(); }

void TDataModule1::Disconnect() {
    for (Query* q : {ADOQuery1, ADOQuery2, ADOQuery3, JournalQuery}) q->Detach();
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
    if (!m_engine->Prepare(db, &reason)) return fail(reason);

    // The default file, and a server database without any table, get the two tables.
    const int ours = OurTables(db);
    const bool empty = m_engine->IsFile() ? (absent || db.tables().isEmpty()) : ours == 0;
    if ((isDefault || !m_engine->IsFile()) && empty && !CreateTables(db, *m_engine, &reason))
        return fail(reason);
    if (OurTables(db) != 2) return fail(QStringLiteral("数据库中没有 Tcount 和 Tmoney 表"));
    m_schemaError.clear();
    MigrateSchema(db, &m_schemaError);

    const QString channel = m_engine->ChangeChannel();
    if (!channel.isEmpty() && db.driver()->subscribeToNotification(channel))
        connect(db.driver(), &QSqlDriver::notification, this, &TDataModule1::Notified,
                Qt::UniqueConnection);
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
        ok = db.open() && CreateTables(db, *Engine::For(path), error);
        if (!db.isOpen() && error) *error = DatabaseErrorText(db.lastError());
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool TDataModule1::BeginTransaction() {
    return QSqlDatabase::database(m_name, false).transaction();
}

bool TDataModule1::BeginWriteTransaction() {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    return m_engine && m_engine->BeginWrite(db, &m_lastError);
}

const Engine& TDataModule1::engine() const { return *m_engine; }

bool TDataModule1::TryClaim(const QString& key) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    return m_engine->TryClaim(db, key);
}

void TDataModule1::ReleaseClaim(const QString& key) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    m_engine->ReleaseClaim(db, key);
}

bool TDataModule1::Commit() {
    const bool ok = QSqlDatabase::database(m_name, false).commit();
    if (ok) emit committed();
    return ok;
}

void TDataModule1::Rollback() {
    QSqlDatabase::database(m_name, false).rollback();
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
