#include "record_store/DatabaseError.h"

#include <QSqlError>

QString DatabaseErrorText(const QSqlError& error) {
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

QString DamagedFileText(const QString& reason) {
    return QStringLiteral("文件已损坏，或者不是数据库文件（%1）").arg(reason);
}

Q_LOGGING_CATEGORY(lcDb, "cafe.db", QtWarningMsg)
