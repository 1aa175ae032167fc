#pragma once

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QTime>
#include <QVariant>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "record_store/DataModule.h"
#include "record_store/Seams.h"

// Records every box in order as "kind|text"; confirmations answer from a script.
class RecordingPrompts : public Prompts {
  public:
    QStringList boxes;
    std::deque<bool> answers;  // an unscripted confirmation is recorded and answered No
    std::function<void(const QString& box)> whileOpen;  // runs "inside" each box

    void message(const QString& text) override { record(QStringLiteral("message|") + text); }
    void error(const QString& text) override { record(QStringLiteral("error|") + text); }
    bool confirm(const QString& text) override;
    void reportUnhandled(const QString& text) override {
        record(QStringLiteral("unhandled|") + text);
    }
    std::deque<QString> secrets;  // typed into 店主授权; an unscripted one is cancelled
    std::optional<QString> secret(const QString& text) override {
        record(QStringLiteral("secret|") + text);
        if (secrets.empty()) return std::nullopt;
        QString typed = secrets.front();
        secrets.pop_front();
        return typed;
    }
    QStringList take();  // the boxes so far, clearing the record

  private:
    void record(const QString& box);
};

class FakeClock : public Clock {
  public:
    QDate date{2026, 12, 9};
    QTime time{10, 0, 0};
    QTime now() const override { return time; }
    QDateTime nowDateTime() const override { return QDateTime(date, time); }
};

class FakeChooser : public FileChooser {
  public:
    std::optional<QString> answer;
    int calls = 0;
    std::optional<QString> chooseDatabaseFile() override {
        ++calls;
        return answer;
    }
    std::optional<QString> saveAnswer;  // where exports go
    QStringList saveAsked;              // the suggested names
    std::optional<QString> chooseSaveFile(const QString& suggestedName, const QString&) override {
        saveAsked << suggestedName;
        return saveAnswer;
    }
};

// The engine the test bodies run on. Each GUI-less test class runs every test once per
// engine: initTestCase_data() calls AddEngineRows(), init() calls UseEngineRow(). The
// PostgreSQL rows need the server scripts/test starts (CAFE_TEST_POSTGRES); without one they
// fail, unless CAFE_NO_POSTGRES=1 says to skip them.
namespace TestEngine {
void AddEngineRows();
// The row's engine; false (with why) when its rows are to be skipped.
bool UseEngineRow(QString* why);
bool Postgres();  // the current row's
void Reset();     // SQLite again, for the classes that follow one with engine rows
}  // namespace TestEngine

#define CAFE_ENGINE_ROWS                                             \
    void initTestCase_data() { TestEngine::AddEngineRows(); }        \
    void init() {                                                    \
        QString why;                                                 \
        if (!TestEngine::UseEngineRow(&why)) QSKIP(qPrintable(why)); \
    }

// Another program on the same database file (a backup tool, the sqlite3 shell) that keeps it
// busy until released.
class OtherProgram {
  public:
    explicit OtherProgram(const QString& connectionText);
    ~OtherProgram();
    void holdRead();   // an open read transaction (SQLite: the file's shared lock)
    void holdWrite();  // the write lock (PostgreSQL: our tables locked against every writer)
    void exec(const QString& statement);
    void release();

  private:
    QString m_name;
    bool m_postgres = false;
};

// A fresh database in its own temporary working folder, with the setting already pointing at
// it: the default file count.db, or a new database on the PostgreSQL test server.
class StoreEnv {
  public:
    StoreEnv();
    virtual ~StoreEnv();

    QTemporaryDir dir;
    QString previousDir;
    RecordingPrompts prompts;
    FakeClock clock;
    FakeChooser chooser;
    std::unique_ptr<QSettingsStore> settings;
    std::unique_ptr<TDataModule1> module;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString dbPath() const { return dir.filePath(QStringLiteral("count.db")); }
    QString connectionText() const { return m_connectionText; }  // the file or the URI
    bool postgres() const { return !m_database.isEmpty(); }

    // Failures made the honest way, on either engine.
    // Statements of event ("update", "update of Stime", "insert") on table fail from now on,
    // those matching when only (a condition on new.*, e.g. "new.username='r2'").
    void failOn(const QString& event, const QString& table, const QString& when = {});
    void clearFailure();
    // The next COMMIT that writes Tcount fails, after every statement of its transaction went
    // through: on PostgreSQL a deferred constraint trigger raises at COMMIT (once, for rows
    // matching when, a condition on new.*); on SQLite the commit's first write to the file is
    // an I/O error, under the exclusive lock. False when this build cannot do it.
    bool failNextCommit(const QString& when);
    void setReadOnly(bool readOnly);
    // Runs a statement on a connection of its own: another tool editing the file.
    void otherTool(const QString& statement);

    // Direct access to the same database, for setting up and checking rows.
    void sql(const QString& statement, const QVariantList& values = {});
    QString field(const QString& machine, const QString& column);
    bool isNull(const QString& machine, const QString& column);
    int count(const QString& where = QStringLiteral("1=1"));
    void addMachine(const QString& name, const QString& state = QString());
    // A machine in session since start (its Tnow the same), with its extra charges as total.
    void addSession(const QString& name, const QString& start,
                    const QString& other = QStringLiteral("0"),
                    const QString& state = QStringLiteral("正常"));
    // From the next update of Tcount on, "select * from Tcount" fails at run time while
    // updates and the grid's column-list statement still work: Tcount becomes a view.
    void failWholeRowReadsAfterNextUpdate();

  private:
    QString m_connectionText;
    QString m_database;  // on the PostgreSQL server; empty for SQLite
    QString m_failTable;
};
