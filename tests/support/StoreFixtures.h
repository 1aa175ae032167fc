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

// Another program on the same database file (a backup tool, the sqlite3 shell) that keeps it
// busy until released.
class OtherProgram {
  public:
    explicit OtherProgram(const QString& path);
    ~OtherProgram();
    void holdRead();   // an open read transaction: the file's shared lock
    void holdWrite();  // the write lock
    void exec(const QString& statement);
    void release();

  private:
    QString m_name;
};

// A fresh default database in its own temporary working folder, with the setting already
// pointing at that file.
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

    // Direct access to the same database, for setting up and checking rows.
    void sql(const QString& statement, const QVariantList& values = {});
    QString field(const QString& machine, const QString& column);
    bool isNull(const QString& machine, const QString& column);
    int count(const QString& where = QStringLiteral("1=1"));
    void addMachine(const QString& name, const QString& state = QString());
    // From the next update of Tcount on, "select * from Tcount" fails at run time while
    // updates and the grid's column-list statement still work: Tcount becomes a view.
    void failWholeRowReadsAfterNextUpdate();
};
