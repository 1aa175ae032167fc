#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// A pass-through layer over SQLite's own file layer, made the default for every connection of
// the test program (Qt's driver links the same system library), so a test can make a commit
// fail the honest way and take a power cut at the exact moment that matters:
// - the next write to one database file fails with an I/O error (a dying or full disk), which
//   a COMMIT meets under its exclusive lock;
// - every delete of a rollback journal is shown first: the database and the journal as they
//   are on disk at that moment, and whether the delete asks for its folder to be synced.
namespace SqliteShim {

// Once, before any connection opens. False when the system library refused it.
bool Install();

// The next write to the database file at path (not its journal) fails: SQLITE_IOERR_WRITE.
void FailNextWrite(const QString& databasePath);
bool WriteFailurePending();

struct JournalDelete {
    QString database;  // the database file's path
    QByteArray databaseBytes;
    QByteArray journalBytes;
    bool syncsFolder = false;  // the delete asked for the folder to be synced
};
// Called before each journal delete goes through, on the thread that commits; none: {}.
void OnJournalDelete(std::function<void(const JournalDelete&)> seen);

}  // namespace SqliteShim
