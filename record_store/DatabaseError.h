#pragma once

#include <QLoggingCategory>
#include <QString>

class QSqlError;

// The reason a database error gives, as the operator and the logs read it: a sentence in Chinese
// first (from the engine's code where it gives one), then the engine's and the driver's own
// texts in brackets, so no box ends in an empty reason or in English alone.
QString DatabaseErrorText(const QSqlError& error);

// A database file that cannot be read at all (its header damaged, or not a database).
QString DamagedFileText(const QString& reason);

// Statements and their failures, for whoever looks into the store:
// QT_LOGGING_RULES="cafe.db.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcDb)
