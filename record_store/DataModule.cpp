#include "record_store/DataModule.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QUrl>
#include <algorithm>
#include <atomic>

#include "record_store/Engine.h"

const char* const TDataModule1::GridStatement =
    "select username,Tstart,Tnow,Stime,Tmoney,Tother,Tsum,gotime,Cstate from Tcount order by "
    "username";

Q_LOGGING_CATEGORY(lcDb, "cafe.db", QtWarningMsg)

namespace {
std::atomic<int> g_connectionSerial{0};

QString errorText(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

bool CreateSchema(QSqlDatabase& db, const QStringList& statements, QString* error) {
    auto failed = [&](const QSqlError& e) {
        if (error) *error = errorText(e);
        return false;
    };
    if (!db.transaction()) return failed(db.lastError());
    QSqlQuery q(db);
    for (const QString& statement : statements) {
        if (!q.exec(statement)) {
            const QSqlError e = q.lastError();
            q.finish();
            db.rollback();
            return failed(e);
        }
    }
    q.finish();
    return db.commit() || failed(db.lastError());
}

// Which of Tcount and Tmoney the database holds, whatever the engine's case for names.
int OurTables(const QSqlDatabase& db) {
    int found = 0;
    for (const QString& table : db.tables())
        if (table.compare(QStringLiteral("Tcount"), Qt::CaseInsensitive) == 0 ||
            table.compare(QStringLiteral("Tmoney"), Qt::CaseInsensitive) == 0)
            ++found;
    return found;
}

// The console's own tables beside Tcount and Tmoney, by schema version. Each step runs in one
// transaction; a file that cannot take them (read-only) still opens, and what needs them fails.
bool MigrateSchema(QSqlDatabase& db, QString* error) {
    const auto has = [&](const QString& table) {
        const QStringList tables = db.tables();
        return std::any_of(tables.cbegin(), tables.cend(), [&](const QString& t) {
            return t.compare(table, Qt::CaseInsensitive) == 0;
        });
    };
    int version = 0;
    if (has(QStringLiteral("Tschema"))) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("select max(version) from Tschema"))) {
            if (error) *error = errorText(q.lastError());
            return false;
        }
        if (q.next()) version = q.value(0).toInt();
    }
    const QStringList steps[] = {
        // 1: the takings journal, append-only, each row chained to the one before by SHA-256.
        {QStringLiteral(
             "create table Tjournal (id integer primary key, at text not null, desk text not "
             "null, operator text not null, kind text not null, machine text not null, target "
             "text not null, tstart text not null, tend text not null, stime text not null, "
             "tmoney text not null, tother text not null, tsum text not null, state text not "
             "null, amount text not null, note text not null, flagged integer not null, prev "
             "text not null, hash text not null)"),
         QStringLiteral("create index Tjournal_at on Tjournal(at)"),
         QStringLiteral("create table Tschema (version integer not null)")},
    };
    constexpr int latest = int(std::size(steps));
    for (int step = version; step < latest; ++step) {
        if (!db.transaction()) {
            if (error) *error = errorText(db.lastError());
            return false;
        }
        QSqlQuery q(db);
        QStringList statements = steps[step];
        statements << QStringLiteral("delete from Tschema")
                   << QStringLiteral("insert into Tschema (version) values (%1)").arg(step + 1);
        for (const QString& statement : statements) {
            if (!q.exec(statement)) {
                if (error) *error = errorText(q.lastError());
                q.finish();
                db.rollback();
                return false;
            }
        }
        q.finish();
        if (!db.commit()) {
            if (error) *error = errorText(db.lastError());
            db.rollback();
            return false;
        }
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

Query::Query(TDataModule1& module) : QAbstractTableModel(&module), m_module(module) {}

void Query::Close() {
    if (!m_active) return;
    ++m_generation;
    emit aboutToClose();
    m_indexColumn.clear();
    if (!m_rows.empty()) {
        beginRemoveRows({}, 0, RecordCount() - 1);
        m_rows.clear();
        endRemoveRows();
    }
    m_active = false;
    m_cursor = 0;
    if (m_query) m_query->finish();
    emit closed();
}

void Query::SetSql(const QString& statement) {
    if (statement != m_sql) {
        m_sql = statement;
        m_prepared = false;
        m_params.clear();
        m_rowStatement.reset();
        return;
    }
    // The same statement again (a pass sets it for every row): keep the names, forget values.
    for (Param& p : m_params) p.set = false;
}

void Query::SetParam(const QString& name, const QString& value) {
    // A null QString would bind as SQL NULL; the console always writes texts.
    const QString text = value.isNull() ? QStringLiteral("") : value;
    for (Param& p : m_params) {
        if (p.name == name) {
            p.value = text;
            p.set = true;
            return;
        }
    }
    m_params.push_back({name, QLatin1Char(':') + name, text, true});
}

bool Query::Prepare() {
    if (!m_module.Connected()) {
        m_lastError = QStringLiteral("the database is not connected");
        return false;
    }
    if (!m_query) {
        m_query = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_module.connectionName()));
        m_query->setForwardOnly(true);
        m_prepared = false;
    }
    if (!m_prepared) {
        if (!m_query->prepare(m_sql)) {
            m_lastError = errorText(m_query->lastError());
            return false;
        }
        m_prepared = true;
    }
    for (const Param& p : m_params)
        m_query->bindValue(p.placeholder, p.set ? QVariant(p.value) : QVariant());
    return true;
}

bool Query::ExecSQL() {
    Close();
    if (!Prepare()) return false;
    m_rowsAffected = 0;
    qCDebug(lcDb) << "exec" << m_sql;
    if (!m_query->exec()) {
        m_lastError = errorText(m_query->lastError());
        qCDebug(lcDb) << "failed:" << m_lastError;
        m_query->finish();
        return false;
    }
    m_rowsAffected = m_query->numRowsAffected();
    m_query->finish();
    return true;
}

bool Query::Fetch(QStringList* columns, std::vector<QStringList>* rows) {
    qCDebug(lcDb) << "open" << m_sql;
    if (!m_query->exec()) {
        m_lastError = errorText(m_query->lastError());
        qCDebug(lcDb) << "failed:" << m_lastError;
        m_query->finish();
        return false;
    }
    const QSqlRecord record = m_query->record();
    for (int i = 0; i < record.count(); ++i) *columns << record.fieldName(i);
    const int width = int(columns->size());
    while (m_query->next()) {
        QStringList row;
        row.reserve(width);
        for (int i = 0; i < width; ++i) row << m_query->value(i).toString();
        rows->push_back(std::move(row));
    }
    if (m_query->lastError().isValid()) {
        m_lastError = errorText(m_query->lastError());
        m_query->finish();
        return false;
    }
    m_query->finish();
    return true;
}

bool Query::Open() {
    Close();
    // A row-returning statement is prepared afresh each time: Qt's SQLite driver keeps the
    // column count of the first preparation, and a "select *" re-run after the file's schema
    // changed (another tool added a column) would read past it.
    m_prepared = false;
    if (!Prepare()) return false;
    QStringList columns;
    std::vector<QStringList> rows;
    if (!Fetch(&columns, &rows)) return false;
    Install(columns, std::move(rows));
    return true;
}

void Query::Install(const QStringList& columns, std::vector<QStringList> rows) {
    // Same columns: only the rows change, so a view keeps its column order and widths.
    const bool sameColumns = columns.size() == m_columns.size() &&
                             std::equal(columns.cbegin(), columns.cend(), m_columns.cbegin(),
                                        [](const QString& a, const QString& b) {
                                            return a.compare(b, Qt::CaseInsensitive) == 0;
                                        });
    m_indexColumn.clear();
    ++m_generation;
    if (!sameColumns) {
        beginResetModel();
        m_columns = columns;
        m_rows = std::move(rows);
        endResetModel();
    } else if (!rows.empty()) {
        beginInsertRows({}, 0, static_cast<int>(rows.size()) - 1);
        m_rows = std::move(rows);
        endInsertRows();
    }
    m_active = true;
    m_cursor = 0;
    emit opened();
}

bool Query::ExecBound(const QStringList& values) {
    Close();
    if (!m_module.Connected()) {
        m_lastError = QStringLiteral("the database is not connected");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_module.connectionName());
    if (!m_rowStatement) {
        m_rowStatement = m_module.engine().PrepareRowStatement(db, m_sql, &m_lastError);
        if (!m_rowStatement) return false;
    }
    const bool ok = m_rowStatement->Exec(values, &m_rowsAffected, &m_lastError);
    if (!ok) qCDebug(lcDb) << "failed:" << m_sql << m_lastError;
    return ok;
}

bool Query::ForEachRow(const std::function<void(const QString* row, int columns)>& visit,
                       const QStringList& values) {
    Close();
    if (!m_module.Connected()) {
        m_lastError = QStringLiteral("the database is not connected");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_module.connectionName());
    qCDebug(lcDb) << "walk" << m_sql;
    return m_module.engine().Walk(db, m_sql, values, visit, &m_lastError);
}

bool Query::Reopen() {
    if (!m_active) return Open();
    m_prepared = false;
    QStringList columns;
    std::vector<QStringList> rows;
    if (!Prepare() || !Fetch(&columns, &rows)) {
        Close();
        return false;
    }
    // Another tool may have added a column: then the rows are put in as a fresh open does.
    if (columns != m_columns) {
        Close();
        Install(columns, std::move(rows));
        return true;
    }
    ApplyRows(std::move(rows));
    return true;
}

void Query::ApplyRows(std::vector<QStringList> rows) {
    if (!m_active) return;
    ++m_generation;
    m_indexColumn.clear();
    m_cursor = 0;
    if (rows.size() != m_rows.size()) {
        // Rows came or went: the view starts over (it keeps its place through aboutToClose).
        emit aboutToClose();
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        emit opened();
        return;
    }
    // Only what changed is signalled: an unchanged table repaints nothing.
    const int width = int(m_columns.size());
    int top = -1, bottom = -1, left = width, right = -1;
    for (int r = 0; r < int(rows.size()); ++r) {
        for (int c = 0; c < width; ++c) {
            if (rows[size_t(r)].value(c) == m_rows[size_t(r)].value(c)) continue;
            if (top < 0) top = r;
            bottom = r;
            left = std::min(left, c);
            right = std::max(right, c);
        }
    }
    m_rows = std::move(rows);
    if (top >= 0) emit dataChanged(index(top, left), index(bottom, right), {Qt::DisplayRole});
    emit opened();
}

int Query::ColumnIndex(const QString& column) const {
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(column, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void Query::SetCells(const std::vector<Cell>& cells) {
    int top = RecordCount(), bottom = -1, left = int(m_columns.size()), right = -1;
    for (const Cell& cell : cells) {
        if (cell.row < 0 || cell.row >= RecordCount() || cell.column < 0 ||
            cell.column >= m_columns.size())
            continue;
        QString& text = m_rows[size_t(cell.row)][cell.column];
        if (text == cell.text) continue;
        if (m_columns[cell.column] == m_indexColumn) m_indexColumn.clear();
        text = cell.text;
        top = std::min(top, cell.row);
        bottom = std::max(bottom, cell.row);
        left = std::min(left, cell.column);
        right = std::max(right, cell.column);
    }
    if (bottom >= 0) {
        ++m_generation;
        emit dataChanged(index(top, left), index(bottom, right), {Qt::DisplayRole});
    }
}

void Query::Detach() {
    Close();
    m_rowStatement.reset();
    m_query.reset();
    m_prepared = false;
}

QString Query::FieldText(int row, const QString& column) const {
    if (row < 0 || row >= RecordCount()) return {};
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(column, Qt::CaseInsensitive) == 0) return m_rows[row][i];
    return {};
}

int Query::FindRow(const QString& column, const QString& value) const {
    if (m_indexColumn != column) {
        const int at = ColumnIndex(column);
        if (at < 0) return -1;
        m_index.clear();
        m_index.reserve(RecordCount());
        for (int row = RecordCount() - 1; row >= 0; --row) m_index.insert(m_rows[row][at], row);
        m_indexColumn = column;  // the first row of a value wins, as a walk from the top finds
    }
    return m_index.value(value, -1);
}

int Query::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RecordCount();
}

int Query::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant Query::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= RecordCount() ||
        index.column() >= m_columns.size())
        return {};
    return m_rows[index.row()][index.column()];
}

QVariant Query::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    for (auto it = m_titles.cbegin(); it != m_titles.cend(); ++it)
        if (it.key().compare(m_columns[section], Qt::CaseInsensitive) == 0) return it.value();
    return m_columns[section];
}

// ---------------------------------------------------------------------------------------------

TDataModule1::TDataModule1(QObject* parent, DefaultFile defaultFile)
    : QObject(parent),
      m_name(QStringLiteral("cafe-%1").arg(g_connectionSerial.fetch_add(1))),
      m_connectionString(QString::fromLatin1(DefaultConnectionString)),
      m_engine(Engine::For(m_connectionString)) {
    QSqlDatabase::addDatabase(m_engine->DriverName(), m_name);
    ADOQuery1 = new Query(*this);
    ADOQuery2 = new Query(*this);
    ADOQuery3 = new Query(*this);
    JournalQuery = new Query(*this);
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
    if (!db.open()) return fail(errorText(db.lastError()));
    if (!m_engine->Prepare(db, &reason)) return fail(reason);

    // The default file, and a server database without any table, get the two tables.
    const int ours = OurTables(db);
    const bool empty = m_engine->IsFile() ? (absent || db.tables().isEmpty()) : ours == 0;
    if ((isDefault || !m_engine->IsFile()) && empty &&
        !CreateSchema(db, m_engine->CreateStatements(), &reason))
        return fail(reason);
    if (OurTables(db) != 2) return fail(QStringLiteral("数据库中没有 Tcount 和 Tmoney 表"));
    m_schemaError.clear();
    if (!MigrateSchema(db, &m_schemaError) && m_schemaError.isEmpty())
        m_schemaError = QStringLiteral("unknown error");

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
        ok = db.open() && CreateSchema(db, Engine::For(path)->CreateStatements(), error);
        if (!db.isOpen() && error) *error = errorText(db.lastError());
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
