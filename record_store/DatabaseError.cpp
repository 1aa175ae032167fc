#include "record_store/DatabaseError.h"

#include <QSqlError>

namespace {

// What the operator is told first, in Chinese, from the engine's own code where it gives one
// (SQLite's result code, PostgreSQL's SQLSTATE) and else from the kind of error.
QString Sentence(const QSqlError& error, const QString& text) {
    const QString code = error.nativeErrorCode();
    bool numeric = false;
    const int sqlite = code.toInt(&numeric) & 0xff;  // the primary code of an extended one
    if (numeric) {
        switch (sqlite) {
            case 5:  // SQLITE_BUSY
            case 6:  // SQLITE_LOCKED
                return QStringLiteral("数据库正被别的程序或别的前台占用，请稍后再试。");
            case 8:  // SQLITE_READONLY
                return QStringLiteral("数据库是只读的，不能写入。");
            case 10:  // SQLITE_IOERR
                return QStringLiteral("读写磁盘时出错。");
            case 11:  // SQLITE_CORRUPT
                return QStringLiteral("数据库文件已经损坏。");
            case 13:  // SQLITE_FULL
                return QStringLiteral("磁盘已满，数据写不进去。");
            case 14:  // SQLITE_CANTOPEN
                return QStringLiteral("数据库文件不存在，或者没有读写它的权限。");
            case 26:  // SQLITE_NOTADB
                return QStringLiteral("这个文件不是数据库，或者已经损坏。");
            default:
                break;
        }
    } else if (code.startsWith(QLatin1String("08"))) {
        return QStringLiteral("连不上数据库服务器，请检查网络和服务器。");
    } else if (code == QLatin1String("28P01") || code == QLatin1String("28000")) {
        return QStringLiteral("数据库服务器不接受这个用户名或密码。");
    } else if (code == QLatin1String("3D000")) {
        return QStringLiteral("数据库服务器上没有这个数据库。");
    } else if (code == QLatin1String("55P03") || code == QLatin1String("57014")) {
        return QStringLiteral("数据库正被别的程序或别的前台占用，请稍后再试。");
    } else if (code == QLatin1String("40001") || code == QLatin1String("40P01")) {
        return QStringLiteral("别的前台同时在改同一条记录，这一次没有成功。");
    } else if (code == QLatin1String("25006")) {
        return QStringLiteral("数据库是只读的，不能写入。");
    } else if (code == QLatin1String("42P01")) {
        return QStringLiteral("数据库里缺少本软件需要的表。");
    }
    if (text.contains(QLatin1String("no such table"), Qt::CaseInsensitive))
        return QStringLiteral("数据库里缺少本软件需要的表。");
    if (error.type() == QSqlError::ConnectionError) return QStringLiteral("数据库连接不上。");
    return QStringLiteral("数据库出错。");
}

}  // namespace

QString DatabaseErrorText(const QSqlError& error) {
    const QString text = error.text().trimmed();
    const QString sentence = Sentence(error, text);
    return text.isEmpty() ? sentence : QStringLiteral("%1（%2）").arg(sentence, text);
}

QString DamagedFileText(const QString& reason) {
    return QStringLiteral("文件已损坏，或者不是数据库文件（%1）").arg(reason);
}

Q_LOGGING_CATEGORY(lcDb, "cafe.db", QtWarningMsg)
