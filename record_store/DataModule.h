#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QObject>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "record_store/Engine.h"

class TDataModule1;

// One query object of the data module. Each use reads like the steps the console runs:
// Close, SetSql, SetParam..., then Open (rows) or ExecSQL (update), checking the outcome.
// An open query holds all its rows as text (null reads as empty text) and a current row.
// It is also a table model, so the grid can show the grid query directly.
class Query : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit Query(TDataModule1& module);

    void Close();
    void SetSql(const QString& statement);
    void SetParam(const QString& name, const QString& value);
    bool Open();
    bool ExecSQL();
    // ExecSQL with the values given in the order the statement names its parameters: for a
    // statement run once per row (the billing pass), without looking parameters up by name.
    bool ExecBound(const QStringList& values);
    // Runs a row-returning statement and hands each row to visit as it comes, without keeping
    // the rows: for a walk over many rows whose texts are copied anyway.
    // Values bind in the order the statement names its parameters.
    bool ForEachRow(const std::function<void(const QString* row, int columns)>& visit,
                    const QStringList& values = {});

    // Runs the open statement again and puts the new rows in place: a view keeps its rows and
    // repaints only what changed (nothing, when nothing did). False, and closed, on a failure.
    bool Reopen();
    // Puts rows read elsewhere (on the desk's worker) in place, as Reopen does with its own:
    // only for an open query whose rows have not changed since Generation() was taken.
    void ApplyRows(std::vector<QStringList> rows);
    // Counts every change of the rows here; a read older than a change must not undo it.
    quint64 Generation() const { return m_generation; }

    bool Active() const { return m_active; }
    int RecordCount() const { return static_cast<int>(m_rows.size()); }
    void First() { m_cursor = 0; }
    void Next() { ++m_cursor; }
    bool Eof() const { return m_cursor >= RecordCount(); }
    // Field of the current row by column name (any case); empty when there is no such row.
    QString FieldText(const QString& column) const { return FieldText(m_cursor, column); }
    QString FieldText(int row, const QString& column) const;
    int FindRow(const QString& column, const QString& value) const;  // -1 when absent
    int ColumnIndex(const QString& column) const;                    // -1 when absent

    // Sets cells of the open rows to what a statement just wrote, with one change signal for
    // the lot, instead of reading every row again.
    struct Cell {
        int row;
        int column;
        QString text;
    };
    void SetCells(const std::vector<Cell>& cells);
    QString ColumnName(int column) const { return m_columns.value(column); }
    QString Sql() const { return m_sql; }
    QString LastError() const { return m_lastError; }
    int RowsAffected() const { return m_rowsAffected; }  // by the last ExecSQL

    // Column titles shown by a view (the grid's); untitled columns show their names.
    void SetTitles(const QHash<QString, QString>& titles) { m_titles = titles; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  signals:
    void aboutToClose();  // while the rows are still there
    void opened();
    void closed();

  private:
    void Install(const QStringList& columns, std::vector<QStringList> rows);  // after a Close
    friend class TDataModule1;
    bool Prepare();
    bool Fetch(QStringList* columns, std::vector<QStringList>* rows);
    void Detach();  // the connection is going away

    TDataModule1& m_module;
    std::unique_ptr<QSqlQuery> m_query;
    std::unique_ptr<Engine::RowStatement> m_rowStatement;  // ExecBound's, for m_sql
    QString m_sql;
    bool m_prepared = false;
    struct Param {
        QString name;
        QString placeholder;  // ":name", made once per statement
        QString value;
        bool set;
    };
    std::vector<Param> m_params;
    bool m_active = false;
    QStringList m_columns;
    std::vector<QStringList> m_rows;
    quint64 m_generation = 0;
    int m_cursor = 0;
    QString m_lastError;
    int m_rowsAffected = 0;
    QHash<QString, QString> m_titles;
    // Row by value of one column, made on the first look-up after the rows change.
    mutable QString m_indexColumn;
    mutable QHash<QString, int> m_index;
};

// The data module: one connection and the three shared query objects.
class TDataModule1 : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* DefaultConnectionString = "count.db";

    enum class DefaultFile {
        Create,         // connect with the default file, making it when absent
        OnlyIfPresent,  // connect only when it exists: a setting may name another database,
                        // and the default is then never made in the start folder
    };
    explicit TDataModule1(QObject* parent = nullptr, DefaultFile defaultFile = DefaultFile::Create);
    ~TDataModule1() override;

    // The connection text is the database file's path. The default file is created (with the
    // tables and one tariff row) when it is absent; any other file must already exist and hold
    // both tables.
    QString ConnectionString() const { return m_connectionString; }
    void SetConnectionString(const QString& text) { m_connectionString = text; }
    bool Connect();
    void Disconnect();
    bool Connected() const;
    QString LastError() const { return m_lastError; }
    // Why the console's own tables (the journal) could not be made in this file; empty when
    // they are there. The file still serves reading; what writes the journal fails.
    QString SchemaError() const { return m_schemaError; }

    bool BeginTransaction();
    // Takes the lock that lets the commit through, waiting at most the busy timeout. On SQLite
    // that is BEGIN EXCLUSIVE: with IMMEDIATE, a reader (a backup tool) would still make the
    // commit fail afterwards.
    bool BeginWriteTransaction();
    [[nodiscard]] bool Commit();
    void Rollback();

    QString connectionName() const { return m_name; }

    // Makes a new database file at path with both tables and the tariff row (OneTime "2",
    // Tnight "10"). Used for the default file; tests and tools make their files with it too.
    static bool CreateDatabaseFile(const QString& path, QString* error = nullptr);

    // The engine behind the connection as it now stands (SQLite before the first connect).
    const Engine& engine() const;
    // A question only one desk may ask at a time; true when this desk may ask it now.
    bool TryClaim(const QString& key);
    void ReleaseClaim(const QString& key);

    Query* ADOQuery1;     // the grid query
    Query* ADOQuery2;     // work query
    Query* ADOQuery3;     // second work query (the billing pass's updates)
    Query* JournalQuery;  // the takings journal's own, so no operation's query is disturbed

    static const char* const GridStatement;

  signals:
    void committed();
    void rolledBack();
    void changedElsewhere();  // another desk changed Tcount (a server database)

  private:
    void Notified(const QString& name, QSqlDriver::NotificationSource source,
                  const QVariant& payload);

    QString m_name;
    QString m_connectionString;
    QString m_lastError;
    QString m_schemaError;
    std::unique_ptr<Engine> m_engine;
};

// A transaction that is rolled back when its scope ends without a commit, so an exception or
// an early return never leaves it open. Every commit is explicit and its outcome checked.
class Transaction {
  public:
    explicit Transaction(TDataModule1& module) : m_module(module) {}
    ~Transaction() { Rollback(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Begin();       // true when open (already or now)
    bool BeginWrite();  // the same, holding the lock that lets its commit through
    // False, and rolled back, when the commit fails; true when none was open.
    [[nodiscard]] bool Commit();
    void Rollback();
    bool IsOpen() const { return m_open; }

  private:
    TDataModule1& m_module;
    bool m_open = false;
};
