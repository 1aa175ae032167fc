#pragma once

#include <QObject>
#include <QSqlDriver>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "record_store/Engine.h"
#include "record_store/Query.h"
#include "record_store/StatementWatch.h"

class QSqlError;
class QThread;
class QTimer;

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

    // A server's connection can be lost (server restarted, backend ended, network gone). It is
    // noticed at the failed statement or within a second when idle, and reconnected by itself
    // with back-off, beside the window; meanwhile statements fail at once, the query objects
    // keep the rows they hold (the grid is not emptied), and Lost() says so.
    bool Lost() const { return m_lost; }
    int LossCount() const { return m_losses; }  // connections lost so far
    // Statements the server ended because they ran past the window's time limit.
    int TimeoutCount() const { return m_timeouts; }

    // Watches one statement on this connection: one that gets no answer at all within the
    // window's limit has its connection broken, and is then a lost connection.
    StatementWatch::Scope Watch();
    // After a failed statement: notes a time limit passed, and a lost connection.
    void Failed(const QSqlError* error = nullptr);
    // Whether the connection has gone, without a statement (none is sent).
    void CheckConnection();

    // Makes a new database file at path with both tables and the tariff row (OneTime "2",
    // Tnight "10"). Used for the default file; tests and tools make their files with it too.
    static bool CreateDatabaseFile(const QString& path, QString* error = nullptr);

    // Runs a read on a connection of its own, opened for it and closed after, as another program
    // would see the database: what a failed commit left behind, when this connection may be
    // the one that broke. Values bind in order. False with the reason in LastError().
    bool ReadAfresh(const QString& statement, const QStringList& values,
                    std::vector<QStringList>* rows);

    // The engine behind the connection as it now stands (SQLite before the first connect).
    const Engine& engine() const;
    // A question only one desk may ask at a time; true when this desk may ask it now.
    bool TryClaim(const QString& key);
    void ReleaseClaim(const QString& key);

    Query* ADOQuery1;     // the grid query
    Query* ADOQuery2;     // work query
    Query* ADOQuery3;     // second work query (the billing pass's updates)
    Query* JournalQuery;  // the takings journal's own, so no operation's query is disturbed
    Query* PlanQuery;     // the price plans' and the sessions' start records

    // The grid's statement, set again at every refresh; and the one checkout and the clock
    // refresh reopen the grid with: every column, the same nine while Tcount keeps its shape.
    static const char* const GridStatement;
    static const char* const WholeGridStatement;

  signals:
    void committed();
    void rolledBack();
    void changedElsewhere();  // another desk changed Tcount (a server database)
    void connectionLost();
    void connectionRestored();

  private:
    void Notified(const QString& name, QSqlDriver::NotificationSource source,
                  const QVariant& payload);
    void Listen(QSqlDatabase& db);
    void GoLost();
    void TryReconnect();
    bool Reopen();

    QString m_name;
    QString m_connectionString;
    QString m_lastError;
    QString m_schemaError;
    std::unique_ptr<Engine> m_engine;

    StatementWatch m_watch{std::chrono::milliseconds(Engine::kWindowSilenceMs)};
    bool m_serving = false;  // connected to a server, and meant to stay so
    bool m_lost = false;
    int m_losses = 0;
    int m_timeouts = 0;
    int m_backoffMs = 0;
    QTimer* m_health = nullptr;  // notices an idle connection that has gone
    QTimer* m_retry = nullptr;
    QThread* m_probe = nullptr;  // tries the server beside the window
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
