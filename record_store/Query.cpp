#include "record_store/Query.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>
#include <algorithm>

#include "record_store/DatabaseError.h"

Query::Query(QObject* parent, const QString& connectionName, std::function<const Engine&()> engine,
             Hooks hooks)
    : QAbstractTableModel(parent),
      m_connection(connectionName),
      m_engine(std::move(engine)),
      m_hooks(std::move(hooks)) {}

StatementWatch::Scope Query::Watch() {
    return m_hooks.watch ? m_hooks.watch() : StatementWatch::Scope();
}

// Last in every path that fails: a lost connection forgets this query's statement.
void Query::Failed(const QSqlError& error) {
    if (m_hooks.failed) m_hooks.failed(error);
}

bool Query::Connected() {
    if (QSqlDatabase::database(m_connection, false).isOpen()) return true;
    m_lastError = QStringLiteral("the database is not connected");
    return false;
}

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

Query* Query::Statement(const QString& statement,
                        const QList<std::pair<QString, QString>>& params) {
    Close();
    SetSql(statement);
    for (const auto& [name, value] : params) SetParam(name, value);
    return this;
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
    if (!Connected()) return false;
    if (!m_query) {
        m_query = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection));
        m_query->setForwardOnly(true);
        m_prepared = false;
    }
    if (!m_prepared) {
        bool prepared;
        {
            const auto watch = Watch();  // a server prepares it: a round trip
            prepared = m_query->prepare(m_sql);
        }
        if (!prepared) {
            const QSqlError error = m_query->lastError();
            m_lastError = DatabaseErrorText(error);
            Failed(error);
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
    bool ok;
    {
        const auto watch = Watch();
        ok = m_query->exec();
    }
    if (!ok) {
        const QSqlError error = m_query->lastError();
        m_lastError = DatabaseErrorText(error);
        qCDebug(lcDb) << "failed:" << m_lastError;
        m_query->finish();
        Failed(error);
        return false;
    }
    m_rowsAffected = m_query->numRowsAffected();
    m_query->finish();
    return true;
}

bool Query::Fetch(QStringList* columns, std::vector<QStringList>* rows) {
    qCDebug(lcDb) << "open" << m_sql;
    QSqlError error;
    bool ok;
    {
        auto watch = Watch();
        ok = m_query->exec();
        if (ok) {
            const QSqlRecord record = m_query->record();
            for (int i = 0; i < record.count(); ++i) *columns << record.fieldName(i);
            ok = Engine::WalkRows(
                *m_query,
                [rows, &watch](const QString* row, int width) {
                    watch.Progress();  // a long answer that keeps coming is no silent network
                    rows->emplace_back(row, row + width);
                },
                &m_lastError);
        } else {
            m_lastError = DatabaseErrorText(m_query->lastError());
        }
        if (!ok) error = m_query->lastError();
    }
    if (!ok) qCDebug(lcDb) << "failed:" << m_lastError;
    m_query->finish();
    if (!ok) Failed(error);
    return ok;
}

bool Query::PrepareRows() {
    // A row-returning statement is prepared afresh each time, on a connection that has seen
    // the latest schema: Qt's SQLite driver sizes a row by the columns known when it was
    // prepared, and a "select *" run after another program added a column would read past it.
    if (!Connected()) return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    m_engine().CatchUpSchema(db);
    m_prepared = false;
    return Prepare();
}

bool Query::Open() {
    Close();
    if (!PrepareRows()) return false;
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
    if (!Connected()) return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    bool ok;
    {
        const auto watch = Watch();
        if (!m_rowStatement) m_rowStatement = m_engine().PrepareRowStatement(db, m_sql, &m_lastError);
        ok = m_rowStatement && m_rowStatement->Exec(values, &m_rowsAffected, &m_lastError);
    }
    if (!ok) {
        qCDebug(lcDb) << "failed:" << m_sql << m_lastError;
        Failed(QSqlError());
    }
    return ok;
}

bool Query::Walked(const std::function<bool(QSqlDatabase& db, StatementWatch::Scope& watch)>& run) {
    Close();
    if (!Connected()) return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    qCDebug(lcDb) << "walk" << m_sql;
    bool ok;
    {
        auto watch = Watch();
        ok = run(db, watch);
    }
    if (!ok) Failed(QSqlError());
    return ok;
}

bool Query::ForEachRow(const std::function<void(const QString* row, int columns)>& visit,
                       const QStringList& values) {
    return Walked([&](QSqlDatabase& db, StatementWatch::Scope& watch) {
        return m_engine().Walk(
            db, m_sql, values,
            [&](const QString* row, int columns) {
                watch.Progress();
                visit(row, columns);
            },
            &m_lastError);
    });
}

bool Query::ReadColumn(PackedTexts* out, const QStringList& values) {
    return Walked([&](QSqlDatabase& db, StatementWatch::Scope&) {
        return m_engine().WalkColumn(db, m_sql, values, out, &m_lastError);
    });
}

bool Query::Reopen() {
    if (!m_active) return Open();
    QStringList columns;
    std::vector<QStringList> rows;
    if (!PrepareRows() || !Fetch(&columns, &rows)) {
        // A lost connection leaves what was shown: a grid is never emptied by it.
        if (!m_hooks.lost || !m_hooks.lost()) Close();
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
    Forget();
}

void Query::Forget() {
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
