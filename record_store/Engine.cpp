#include "record_store/Engine.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "record_store/DatabaseError.h"

#ifdef CAFE_HAVE_LIBPQ
#include <libpq-fe.h>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif
#endif

#ifdef CAFE_SQLITE_FAST_PATH
#include <sqlite3.h>

#include <QStringEncoder>
#endif

namespace {

bool Exec(QSqlDatabase& db, const QString& statement, QString* error) {
    QSqlQuery q(db);
    if (q.exec(statement)) return true;
    if (error) *error = DatabaseErrorText(q.lastError());
    return false;
}

// Qt's way: every value a QVariant, every parameter bound through Qt.
class QtRowStatement : public Engine::RowStatement {
  public:
    QtRowStatement(QSqlDatabase& db, const QString& sql) : m_query(db) {
        m_query.setForwardOnly(true);
        m_ok = m_query.prepare(sql);
    }
    bool Ok(QString* error) const {
        if (!m_ok && error) *error = DatabaseErrorText(m_query.lastError());
        return m_ok;
    }
    bool Exec(const QStringList& values, int* rowsAffected, QString* error) override {
        for (int i = 0; i < values.size(); ++i) m_query.bindValue(i, values[i]);
        const bool ok = m_query.exec();
        if (!ok && error) *error = DatabaseErrorText(m_query.lastError());
        if (rowsAffected) *rowsAffected = ok ? m_query.numRowsAffected() : 0;
        m_query.finish();
        return ok;
    }

  private:
    QSqlQuery m_query;
    bool m_ok = false;
};

#ifdef CAFE_SQLITE_FAST_PATH
// SQLite's own API on the connection Qt opened (the same library: Qt's driver links the
// system's), with UTF-16 texts straight from and into QString: no QVariant, no name look-up.
sqlite3* Handle(QSqlDatabase& db) {
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
    // A driver built with its own copy of SQLite hands out a handle our library must not touch:
    // unless the connection runs the very source we link, Qt's path it is. Asked once.
    static const bool sameLibrary = [&db] {
        QSqlQuery q(db);
        return q.exec(QStringLiteral("select sqlite_source_id()")) && q.next() &&
               q.value(0).toString() == QString::fromLatin1(sqlite3_sourceid());
    }();
    return sameLibrary ? *static_cast<sqlite3* const*>(handle.data()) : nullptr;
}

// Runs sql with its values bound as texts and hands each row to onRow; false with SQLite's
// message when not every row could be read.
template <typename OnRow>
bool StepRows(sqlite3* handle, const QString& sql, const QStringList& values, QString* error,
              OnRow onRow) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare16_v2(handle, sql.utf16(), int(sql.size() * 2), &s, nullptr) != SQLITE_OK) {
        if (error) *error = QString::fromUtf8(sqlite3_errmsg(handle));
        return false;
    }
    for (int i = 0; i < values.size(); ++i)
        sqlite3_bind_text16(s, i + 1, values[i].utf16(), int(values[i].size() * 2),
                            SQLITE_STATIC);
    int result;
    while ((result = sqlite3_step(s)) == SQLITE_ROW) onRow(s);
    const bool ok = result == SQLITE_DONE;
    if (!ok && error) *error = QString::fromUtf8(sqlite3_errmsg(handle));
    sqlite3_finalize(s);
    return ok;
}

class SqliteRowStatement : public Engine::RowStatement {
  public:
    SqliteRowStatement(sqlite3* db, const QString& sql) : m_db(db) {
        sqlite3_prepare16_v2(db, sql.utf16(), int(sql.size() * 2), &m_statement, nullptr);
    }
    ~SqliteRowStatement() override { sqlite3_finalize(m_statement); }
    bool Ok(QString* error) const {
        if (!m_statement && error) *error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return m_statement != nullptr;
    }
    bool Exec(const QStringList& values, int* rowsAffected, QString* error) override {
        // Bound as UTF-8, the file's own encoding, from one reused buffer: UTF-16 would be
        // converted again at every use of a value inside the statement.
        qsizetype room = 0;
        for (const QString& v : values) room += v.size() * 3;
        if (m_utf8.size() < room) m_utf8.resize(room);
        char* at = m_utf8.data();
        for (int i = 0; i < values.size(); ++i) {
            char* end = m_encoder.appendToBuffer(at, values[i]);
            sqlite3_bind_text(m_statement, i + 1, at, int(end - at), SQLITE_STATIC);
            at = end;
        }
        const int result = sqlite3_step(m_statement);
        const bool ok = result == SQLITE_DONE || result == SQLITE_ROW;
        if (!ok && error) *error = QString::fromUtf8(sqlite3_errmsg(m_db));
        if (rowsAffected) *rowsAffected = ok ? sqlite3_changes(m_db) : 0;
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
        return ok;
    }

  private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
    QByteArray m_utf8;
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
};
#endif

class SqliteEngine : public Engine {
  public:
    QString DriverName() const override { return QStringLiteral("QSQLITE"); }
    bool IsFile() const override { return true; }
    bool SharedByDesks() const override { return false; }
    QString Describe(const QString& text) const override {
        return QStringLiteral("%1（本机文件）")
            .arg(MaskedConnectionText(QFileInfo(text).absoluteFilePath()));
    }

    bool Configure(QSqlDatabase& db, const QString& text, bool createIfAbsent,
                   QString* error) const override {
        if (text.isEmpty()) {
            if (error) *error = QStringLiteral("没有给出文件名");
            return false;
        }
        if (createIfAbsent) {
            db.setDatabaseName(text);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
        } else {
            // Never create a file the operator did not make: open read-write only if it exists.
            db.setDatabaseName(QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath())
                                   .toString(QUrl::FullyEncoded) +
                               QStringLiteral("?mode=rw"));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=1000"));
        }
        return true;
    }

    bool Prepare(QSqlDatabase& db, Side, QString* error) const override {
        // A file with a damaged header opens without complaint and fails at its first read:
        // read it now, so it is called damaged and not a file without our tables.
        {
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("select count(*) from sqlite_master"))) {
                if (error) *error = DamagedFileText(DatabaseErrorText(probe.lastError()));
                return false;
            }
        }
        // Durable before anything depends on it: with EXTRA the rollback journal's delete is
        // synced with its folder, so a power cut after a commit cannot bring the journal back
        // and undo the commit. The file stays one file (no WAL beside it) for other tools.
        return Exec(db, QStringLiteral("PRAGMA synchronous=EXTRA"), error);
    }

    void CatchUpSchema(QSqlDatabase& db) const override {
        // A statement on the schema compares the file's schema version with the one this
        // connection knows, and reloads it when another program changed it.
        QSqlQuery q(db);
        q.exec(QStringLiteral("select 1 from sqlite_master where 0"));
    }

    TableRules Tables() const override {
        return {QStringLiteral("username text not null unique collate nocase"), {}, {}};
    }

    bool BeginWrite(QSqlDatabase& db, QString* error) const override {
        // EXCLUSIVE, not IMMEDIATE: a reader (a backup tool) must not fail the commit later.
        return Exec(db, QStringLiteral("BEGIN EXCLUSIVE"), error);
    }
    QString RowLock() const override { return {}; }  // the write holds the whole file
    QString SkipLocked() const override { return {}; }
    QString JournalLock() const override { return {}; }
    bool TryClaim(QSqlDatabase&, const QString&) const override { return true; }
    void ReleaseClaim(QSqlDatabase&, const QString&) const override {}
    QString ChangeChannel() const override { return {}; }
    std::optional<qint64> DataVersion(QSqlDatabase& db) const override {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next()) return std::nullopt;
        return q.value(0).toLongLong();
    }

#ifdef CAFE_SQLITE_FAST_PATH
    bool Walk(QSqlDatabase& db, const QString& sql, const QStringList& values,
              const std::function<void(const QString* row, int columns)>& visit,
              QString* error) const override {
        sqlite3* handle = Handle(db);
        if (!handle) return Engine::Walk(db, sql, values, visit, error);
        std::vector<QString> row;
        int columns = 0;
        return StepRows(handle, sql, values, error, [&](sqlite3_stmt* s) {
            if (row.empty()) {  // the statement's shape, once
                columns = sqlite3_column_count(s);
                row.resize(size_t(std::max(columns, 1)));
            }
            for (int c = 0; c < columns; ++c) {
                // The file keeps UTF-8: Qt's decoder is far quicker than SQLite's UTF-16 copy.
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
                row[size_t(c)] =
                    text ? QString::fromUtf8(text, sqlite3_column_bytes(s, c)) : QString();
            }
            visit(row.data(), columns);
        });
    }

    bool WalkColumn(QSqlDatabase& db, const QString& sql, const QStringList& values,
                    PackedTexts* out, QString* error) const override {
        sqlite3* handle = Handle(db);
        if (!handle) return Engine::WalkColumn(db, sql, values, out, error);
        // Decoded straight into the one buffer: no string per row.
        QString& text = out->text;
        return StepRows(handle, sql, values, error, [&](sqlite3_stmt* s) {
            const auto* bytes = sqlite3_column_text(s, 0);
            const int n = bytes ? sqlite3_column_bytes(s, 0) : 0;
            int ascii = 0;
            while (ascii < n && bytes[ascii] < 0x80) ++ascii;
            if (ascii < n) {
                out->append(QString::fromUtf8(reinterpret_cast<const char*>(bytes), n));
                return;
            }
            // Most names: one unit per byte, written in place (the buffer grows as append's).
            const qsizetype at = text.size();
            text.resize(at + n);
            QChar* out16 = text.data() + at;
            for (int i = 0; i < n; ++i) out16[i] = QChar(bytes[i]);
            out->ends.push_back(text.size());
        });
    }

    std::unique_ptr<RowStatement> PrepareRowStatement(QSqlDatabase& db, const QString& sql,
                                                      QString* error) const override {
        sqlite3* handle = Handle(db);
        if (!handle) return Engine::PrepareRowStatement(db, sql, error);
        auto statement = std::make_unique<SqliteRowStatement>(handle, sql);
        if (!statement->Ok(error)) return nullptr;
        return statement;
    }
#endif
};


#ifdef CAFE_HAVE_LIBPQ
// The connection under Qt's driver, when it is open and no statement of Qt's is still running
// on it (a result being read row by row).
PGconn* LibpqHandle(QSqlDatabase& db) {
    if (!db.isOpen()) return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0) return nullptr;
    PGconn* connection = *static_cast<PGconn* const*>(handle.data());
    if (!connection || PQstatus(connection) != CONNECTION_OK ||
        PQtransactionStatus(connection) == PQTRANS_ACTIVE)
        return nullptr;
    return connection;
}

// sql with its ? placeholders numbered as the server wants them ($1, $2, ...); nullopt when it
// has named ones (:name), which stay Qt's to bind.
std::optional<QByteArray> NumberedPlaceholders(const QString& sql) {
    QString out;
    out.reserve(sql.size() + 8);
    int n = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && c == QLatin1Char('?')) {
            out += QLatin1Char('$') + QString::number(++n);
            continue;
        }
        if (!quoted && c == QLatin1Char(':') && i + 1 < sql.size() &&
            (sql[i + 1].isLetter() || sql[i + 1] == QLatin1Char('_')) &&
            (i == 0 || sql[i - 1] != QLatin1Char(':')))
            return std::nullopt;
        out += c;
    }
    return out.toUtf8();
}

bool WalkLibpq(PGconn* connection, const QByteArray& sql, const QStringList& values,
               const std::function<void(const QString* row, int columns)>& visit,
               QString* error) {
    std::vector<QByteArray> bytes;
    std::vector<const char*> params;
    bytes.reserve(size_t(values.size()));
    for (const QString& value : values) bytes.push_back(value.toUtf8());
    for (const QByteArray& b : bytes) params.push_back(b.constData());
    const std::unique_ptr<PGresult, void (*)(PGresult*)> result(
        PQexecParams(connection, sql.constData(), int(params.size()), nullptr, params.data(),
                     nullptr, nullptr, 0),
        PQclear);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        if (error) {
            const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
            *error = DatabaseErrorText(
                QSqlError(QString(), QString::fromUtf8(PQerrorMessage(connection)).trimmed(),
                          QSqlError::StatementError,
                          state ? QString::fromLatin1(state) : QString()));
        }
        return false;
    }
    const int rows = PQntuples(result.get()), columns = PQnfields(result.get());
    std::vector<QString> row(size_t(std::max(columns, 1)));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            row[size_t(c)] = PQgetisnull(result.get(), r, c)
                                 ? QString()
                                 : QString::fromUtf8(PQgetvalue(result.get(), r, c),
                                                     PQgetlength(result.get(), r, c));
        visit(row.data(), columns);
    }
    return true;
}
#endif

class PostgresEngine : public Engine {
  public:
    QString DriverName() const override { return QStringLiteral("QPSQL"); }
    bool IsFile() const override { return false; }
    bool SharedByDesks() const override { return true; }

    struct Target {
        QString host = QStringLiteral("localhost"), user, password, database;
        int port = 5432;
        QStringList options;  // libpq's other keys, as key=value
    };

    static std::optional<Target> Parse(const QString& text, QString* error) {
        Target t;
        if (text.startsWith(QLatin1String("postgresql://")) ||
            text.startsWith(QLatin1String("postgres://"))) {
            const QUrl url(text, QUrl::StrictMode);
            if (!url.isValid()) {
                if (error)
                    *error = QStringLiteral("数据库地址写得不对：%1")
                                 .arg(MaskedConnectionText(url.errorString()));
                return std::nullopt;
            }
            if (!url.host().isEmpty()) t.host = url.host();
            t.port = url.port(5432);
            t.user = url.userName();
            t.password = url.password();
            t.database = url.path().mid(1);
            for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
                t.options << key + QLatin1Char('=') + value;
        } else {
            // libpq's key=value text; values may be quoted with single quotes.
            static const QRegularExpression pair(
                QStringLiteral(R"((\w+)\s*=\s*(?:'((?:[^'\\]|\\.)*)'|(\S*)))"));
            for (auto it = pair.globalMatch(text); it.hasNext();) {
                const auto m = it.next();
                const QString key = m.captured(1);
                const QString value = m.capturedStart(2) >= 0 ? m.captured(2) : m.captured(3);
                if (key == QLatin1String("host") || key == QLatin1String("hostaddr"))
                    t.host = value;
                else if (key == QLatin1String("port"))
                    t.port = value.toInt();
                else if (key == QLatin1String("dbname"))
                    t.database = value;
                else if (key == QLatin1String("user"))
                    t.user = value;
                else if (key == QLatin1String("password"))
                    t.password = value;
                else
                    t.options << key + QLatin1Char('=') + value;
            }
        }
        if (t.database.isEmpty()) t.database = t.user;
        if (t.database.isEmpty() || t.port <= 0 || t.port > 65535) {
            if (error) *error = QStringLiteral("数据库地址中缺少数据库名或端口不对");
            return std::nullopt;
        }
        return t;
    }

    QString Describe(const QString& text) const override {
        const auto t = Parse(text, nullptr);
        if (!t) return MaskedConnectionText(text);
        return QStringLiteral("%1@%2:%3/%4（服务器，多台前台共用）")
            .arg(t->user, t->host)
            .arg(t->port)
            .arg(t->database);
    }

    bool Configure(QSqlDatabase& db, const QString& text, bool, QString* error) const override {
        const auto t = Parse(text, error);
        if (!t) return false;
        db.setHostName(t->host);
        db.setPort(t->port);
        db.setDatabaseName(t->database);
        db.setUserName(t->user);
        db.setPassword(t->password);
        QStringList options = t->options;
        const auto unless = [&](const char* key, const char* value) {
            const QString prefix = QString::fromLatin1(key) + QLatin1Char('=');
            if (std::none_of(options.cbegin(), options.cend(),
                             [&](const QString& o) { return o.startsWith(prefix); }))
                options << prefix + QString::fromLatin1(value);
        };
        // A server that does not answer must not hold the desk for long, and a connection whose
        // network has gone is noticed within seconds, not at the system's two hours.
        unless("connect_timeout", "3");
        unless("keepalives", "1");
        unless("keepalives_idle", "5");
        unless("keepalives_interval", "2");
        unless("keepalives_count", "3");
        unless("tcp_user_timeout", "10000");
        db.setConnectOptions(options.join(QLatin1Char(';')));
        return true;
    }

    bool Prepare(QSqlDatabase& db, Side side, QString* error) const override {
        // Like SQLite's busy timeout: a lock another desk holds is waited for, briefly. The
        // window's statements all end within a few hundred ms, answered or not.
        if (side == Side::Worker) return Exec(db, QStringLiteral("set lock_timeout = '1s'"), error);
        return Exec(db, QStringLiteral("set lock_timeout = '%1ms'").arg(kWindowLockMs), error) &&
               Exec(db, QStringLiteral("set statement_timeout = '%1ms'").arg(kWindowStatementMs),
                    error);
    }

    std::function<void()> Breaker(QSqlDatabase& db) const override {
#ifdef CAFE_HAVE_LIBPQ
        const QVariant handle = db.driver()->handle();
        if (!handle.isValid() || !handle.data()) return {};
        PGconn* connection = *static_cast<PGconn* const*>(handle.data());
        if (!connection || PQsocket(connection) < 0) return {};
#ifdef _WIN32
        const SOCKET socket = static_cast<SOCKET>(PQsocket(connection));
        return [socket] { ::shutdown(socket, SD_BOTH); };
#else
        // A second descriptor of the same socket: the number stays ours while the statement
        // runs, even if the driver closes its own, and shutting it down ends the driver's wait.
        const int copy = ::dup(PQsocket(connection));
        if (copy < 0) return {};
        const auto owned = std::shared_ptr<int>(new int(copy), [](int* fd) {
            ::close(*fd);
            delete fd;
        });
        return [owned] { ::shutdown(*owned, SHUT_RDWR); };
#endif
#else
        (void)db;
        return {};
#endif
    }

    // The server prepares every statement against the schema as it stands.
    void CatchUpSchema(QSqlDatabase&) const override {}

    TableRules Tables() const override {
        return {
            QStringLiteral("username text collate cafe_nocase not null unique"),
            // Names equal without regard to case (in every script) are one machine, and the
            // grid orders them so: a case-insensitive collation, as SQLite's nocase.
            {QStringLiteral("create collation if not exists cafe_nocase (provider = icu, locale = "
                            "'und-u-ks-level2', deterministic = false)")},
            // Every change of Tcount, by any desk or tool, is announced to the other desks.
            {QStringLiteral("create or replace function cafe_changed() returns trigger language "
                            "plpgsql as $$ begin perform pg_notify('cafe_changed', ''); return "
                            "null; end $$"),
             QStringLiteral("create trigger cafe_changed after insert or update or delete on "
                            "Tcount for each statement execute function cafe_changed()")},
        };
    }

    bool BeginWrite(QSqlDatabase& db, QString* error) const override {
        if (db.transaction()) return true;
        if (error) *error = DatabaseErrorText(db.lastError());
        return false;
    }
    QString RowLock() const override { return QStringLiteral(" for update"); }
    QString SkipLocked() const override { return QStringLiteral(" for update skip locked"); }
    QString JournalLock() const override {
        return QStringLiteral("select pg_advisory_xact_lock(20261209)");
    }
    bool TryClaim(QSqlDatabase& db, const QString& key) const override {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("select pg_try_advisory_lock(hashtext(?))"));
        q.addBindValue(key);
        return q.exec() && q.next() && q.value(0).toBool();
    }
    void ReleaseClaim(QSqlDatabase& db, const QString& key) const override {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("select pg_advisory_unlock(hashtext(?))"));
        q.addBindValue(key);
        q.exec();
    }
    QString ChangeChannel() const override { return QStringLiteral("cafe_changed"); }
    std::optional<qint64> DataVersion(QSqlDatabase&) const override { return std::nullopt; }

    // The rows in one answer: Qt reads a forward-only query from the server a row at a time,
    // which at thousands of rows costs more than the rows themselves.
    bool Walk(QSqlDatabase& db, const QString& sql, const QStringList& values,
              const std::function<void(const QString* row, int columns)>& visit,
              QString* error) const override {
#ifdef CAFE_HAVE_LIBPQ
        // Through libpq on Qt's own connection: Qt's driver makes a variant of every value,
        // which at thousands of rows costs more than reading them.
        if (PGconn* connection = LibpqHandle(db)) {
            if (const std::optional<QByteArray> numbered = NumberedPlaceholders(sql)) {
                CatchUpSchema(db);
                return WalkLibpq(connection, *numbered, values, visit, error);
            }
        }
#endif
        return WalkQt(db, sql, values, visit, error, false);
    }

    // One statement for the whole batch: the rows travel as one array per column, and the
    // server matches, guards, locks and writes them in one go, answering which it changed.
    bool WriteGuardedRows(QSqlDatabase& db, const GuardedRows& shape,
                          const std::vector<QStringList>& rows, std::vector<size_t>* written,
                          QString* error) const override {
        if (rows.empty()) return true;
        const int guards = int(shape.guards.size());
        const int columns = 1 + guards + int(shape.sets.size());
        QStringList arrays, names, set, match, differs;
        for (int c = 0; c < columns; ++c) {
            arrays << QStringLiteral("cast(? as text[])");
            names << QStringLiteral("c%1").arg(c);
        }
        for (int g = 0; g < guards; ++g)
            match << QStringLiteral(" and t.%1=v.c%2").arg(shape.guards[g]).arg(1 + g);
        for (int s = 0; s < shape.sets.size(); ++s) {
            set << QStringLiteral("%1=l.c%2").arg(shape.sets[s]).arg(1 + guards + s);
            differs << QStringLiteral("t.%1 is distinct from v.c%2").arg(shape.sets[s]).arg(
                           1 + guards + s);
        }
        // The rows are matched, guarded and locked in one join (those another desk holds left
        // out), then written by their row address: no list is searched once per row.
        const QString sql =
            QStringLiteral(
                "with l as (select t.ctid as at, v.* from %1 as t join unnest(%2) with "
                "ordinality as v(%3, i) on t.%4=v.c0 where ")
                .arg(shape.table, arrays.join(QLatin1Char(',')), names.join(QLatin1Char(',')),
                     shape.key) +
            (shape.condition.isEmpty() ? QStringLiteral("true") : shape.condition) +
            match.join(QString()) + QStringLiteral(" and (") +
            differs.join(QStringLiteral(" or ")) +
            QStringLiteral(") for update of t skip locked) update %1 as t set %2 from l where t.ctid=l.at returning l.i")
                .arg(shape.table, set.join(QLatin1Char(',')));
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.prepare(sql)) {
            if (error) *error = DatabaseErrorText(q.lastError());
            return false;
        }
        for (int c = 0; c < columns; ++c) q.addBindValue(ArrayText(rows, c));
        if (!q.exec()) {
            if (error) *error = DatabaseErrorText(q.lastError());
            return false;
        }
        std::vector<size_t> changed;
        while (q.next()) changed.push_back(size_t(q.value(0).toLongLong() - 1));
        if (q.lastError().isValid()) {
            if (error) *error = DatabaseErrorText(q.lastError());
            return false;
        }
        written->insert(written->end(), changed.begin(), changed.end());
        return true;
    }

  private:
    // A column of the rows as a text[] literal: every element quoted, so that no text
    // (a comma, a brace, "NULL") is read as anything but itself.
    static QString ArrayText(const std::vector<QStringList>& rows, int column) {
        qsizetype room = 2;
        for (const QStringList& row : rows) room += row[column].size() + 3;
        QString text;
        text.reserve(room);
        text += QLatin1Char('{');
        for (size_t r = 0; r < rows.size(); ++r) {
            if (r) text += QLatin1Char(',');
            text += QLatin1Char('"');
            for (const QChar ch : rows[r][column]) {
                if (ch == QLatin1Char('"') || ch == QLatin1Char('\\')) text += QLatin1Char('\\');
                text += ch;
            }
            text += QLatin1Char('"');
        }
        text += QLatin1Char('}');
        return text;
    }
};

}  // namespace

QString MaskedConnectionText(const QString& text) {
    static const QRegularExpression userInfo(
        QStringLiteral(R"((postgres(?:ql)?://[^:/@\s]*:)[^@\s]*?@)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression keyValue(
        QStringLiteral(R"(\b(password\s*=\s*)(?:'(?:[^'\\]|\\.)*'|[^\s&;'"]*))"),
        QRegularExpression::CaseInsensitiveOption);
    QString masked = text;
    masked.replace(userInfo, QStringLiteral("\\1***@"));
    masked.replace(keyValue, QStringLiteral("\\1***"));
    return masked;
}

std::function<void()> Engine::Breaker(QSqlDatabase&) const { return {}; }

bool Engine::Walk(QSqlDatabase& db, const QString& sql, const QStringList& values,
                  const std::function<void(const QString* row, int columns)>& visit,
                  QString* error) const {
    return WalkQt(db, sql, values, visit, error, true);
}

bool Engine::WalkColumn(QSqlDatabase& db, const QString& sql, const QStringList& values,
                        PackedTexts* out, QString* error) const {
    return Walk(
        db, sql, values, [&](const QString* row, int) { out->append(row[0]); }, error);
}

bool Engine::WalkQt(QSqlDatabase& db, const QString& sql, const QStringList& values,
                    const std::function<void(const QString* row, int columns)>& visit,
                    QString* error, bool forwardOnly) const {
    CatchUpSchema(db);
    QSqlQuery q(db);
    q.setForwardOnly(forwardOnly);
    if (!q.prepare(sql)) {
        if (error) *error = DatabaseErrorText(q.lastError());
        return false;
    }
    for (int i = 0; i < values.size(); ++i) q.bindValue(i, values[i]);
    if (!q.exec()) {
        if (error) *error = DatabaseErrorText(q.lastError());
        return false;
    }
    return WalkRows(q, visit, error);
}

bool Engine::WalkRows(QSqlQuery& q,
                      const std::function<void(const QString* row, int columns)>& visit,
                      QString* error) {
    const int columns = q.record().count();
    std::vector<QString> row(size_t(std::max(columns, 1)));
    while (q.next()) {
        for (int c = 0; c < columns; ++c) {
            // A null number would read as "0": null reads as empty, as on SQLite's own path.
            const QVariant value = q.value(c);
            row[size_t(c)] = value.isNull() ? QString() : value.toString();
        }
        visit(row.data(), columns);
    }
    if (q.lastError().isValid()) {
        if (error) *error = DatabaseErrorText(q.lastError());
        return false;
    }
    return true;
}

std::unique_ptr<Engine::RowStatement> Engine::PrepareRowStatement(QSqlDatabase& db,
                                                                  const QString& sql,
                                                                  QString* error) const {
    auto statement = std::make_unique<QtRowStatement>(db, sql);
    if (!statement->Ok(error)) return nullptr;
    return statement;
}

bool Engine::WriteGuardedRows(QSqlDatabase& db, const GuardedRows& shape,
                              const std::vector<QStringList>& rows, std::vector<size_t>* written,
                              QString* error) const {
    if (rows.empty()) return true;
    // One prepared statement, run for each row: SQLite has no round trips to save.
    QStringList set, differs;
    for (const QString& column : shape.sets) {
        set << column + QStringLiteral("=?");
        differs << column + QStringLiteral(" is distinct from ?");
    }
    QString sql = QStringLiteral("update %1 set %2 where %3=?")
                      .arg(shape.table, set.join(QLatin1Char(',')), shape.key);
    if (!shape.condition.isEmpty()) sql += QStringLiteral(" and ") + shape.condition;
    for (const QString& column : shape.guards) sql += QStringLiteral(" and ") + column + QStringLiteral("=?");
    sql += QStringLiteral(" and (") + differs.join(QStringLiteral(" or ")) + QLatin1Char(')');
    const std::unique_ptr<RowStatement> statement = PrepareRowStatement(db, sql, error);
    if (!statement) return false;
    const qsizetype guards = shape.guards.size();
    QStringList values;
    for (size_t r = 0; r < rows.size(); ++r) {
        const QStringList& row = rows[r];
        const QStringList sets = row.mid(1 + guards);
        values = sets;
        values << row[0];
        values << row.mid(1, guards);
        values << sets;
        int changed = 0;
        if (!statement->Exec(values, &changed, error)) return false;
        if (changed > 0) written->push_back(r);
    }
    return true;
}

std::unique_ptr<Engine> Engine::For(const QString& text) {
    static const QRegularExpression keyValue(QStringLiteral(R"((^|\s)dbname\s*=)"));
    if (text.startsWith(QLatin1String("postgresql://")) ||
        text.startsWith(QLatin1String("postgres://")) || keyValue.match(text).hasMatch())
        return std::make_unique<PostgresEngine>();
    return std::make_unique<SqliteEngine>();
}
