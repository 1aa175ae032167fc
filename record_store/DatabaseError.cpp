#include "record_store/DatabaseError.h"

#include <QSqlError>

QString DatabaseErrorText(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

Q_LOGGING_CATEGORY(lcDb, "cafe.db", QtWarningMsg)
