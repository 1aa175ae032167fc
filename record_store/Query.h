#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "record_store/Engine.h"
#include "record_store/StatementWatch.h"

class TDataModule1;

// One query object of the data module. Each use reads like the steps the console runs:
// Close, SetSql, SetParam..., then Open (rows) or ExecSQL (update), checking the outcome.
// An open query holds all its rows as text (null reads as empty text) and a current row.
// It is also a table model, so the grid can show the grid query directly.
class Query : public QAbstractTableModel {
    Q_OBJECT
  public:
    // What the connection's owner does around each statement: watches it, hears of a failure
    // (a lost connection among them), and says whether the connection is lost.
    struct Hooks {
        std::function<StatementWatch::Scope()> watch;
        std::function<void(const QSqlError&)> failed;
        std::function<bool()> lost;
    };
    // Runs on the named connection; engine gives the engine behind it as it now stands (a
    // switch of databases may change it).
    Query(QObject* parent, const QString& connectionName, std::function<const Engine&()> engine,
          Hooks hooks = {});

    void Close();
    void SetSql(const QString& statement);
    void SetParam(const QString& name, const QString& value);
    // Close, SetSql and a SetParam for each value by name, at one go; Open or ExecSQL follows.
    Query* Statement(const QString& statement,
                     const QList<std::pair<QString, QString>>& params = {});
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
    // The first column of every row, packed into one buffer, as ForEachRow walks them.
    bool ReadColumn(PackedTexts* out, const QStringList& values = {});

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
    bool Connected();  // false, with the reason as the last error, when it is not
    bool Prepare();
    bool PrepareRows();  // for a statement whose rows are read
    bool Fetch(QStringList* columns, std::vector<QStringList>* rows);
    void Detach();  // the connection is going away
    void Forget();  // the connection was lost: its statements go, the rows shown stay
    // The data module's watch over one statement, and its notice of a failed one.
    StatementWatch::Scope Watch();
    // A walk of the rows of m_sql, watched, the query closed first; a failure is recorded.
    bool Walked(const std::function<bool(QSqlDatabase& db, StatementWatch::Scope& watch)>& run);
    void Failed(const QSqlError& error);

    const QString m_connection;
    const std::function<const Engine&()> m_engine;
    const Hooks m_hooks;
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
