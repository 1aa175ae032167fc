#pragma once

#include <QString>

class Engine;
class QSqlDatabase;

// The database's tables. Tcount and Tmoney keep the shape other tools read; the console's own
// tables (the takings journal) come beside them by a versioned migration.

// Makes Tcount and Tmoney with the engine's case rule for machine names, and the one tariff
// row (OneTime "2", Tnight "10"), all in one transaction. False with the reason.
bool CreateTables(QSqlDatabase& db, const Engine& engine, QString* error);

// How many of Tcount and Tmoney the database holds, whatever the engine's case for names.
int OurTables(const QSqlDatabase& db);

// Brings the console's own tables to the latest version, each step in one transaction. A file
// that cannot take them (read-only) still serves; what needs them fails. False with the reason.
bool MigrateSchema(QSqlDatabase& db, const Engine& engine, QString* error);

// A journal row's total in fen as stored beside its texts (total_fen), as text: empty (stored as
// NULL) when the fee, the extra charges or the total is not an amount, and the bill is then in no
// total. The reports sum this; the chain checks hold it to the texts.
QString JournalFenText(const QString& fee, const QString& other, const QString& total);

// Sets every journal row's total_fen from its texts (a journal copied in from a backup, which may
// not have the column). Inside the caller's transaction; false with the reason.
bool FillJournalFen(QSqlDatabase& db, QString* error);
