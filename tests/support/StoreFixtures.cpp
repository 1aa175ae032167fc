#include "support/StoreFixtures.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>
#include <atomic>

#include "record_store/ConnectDatabase.h"
#include "record_store/DatabaseError.h"
#include "record_store/Engine.h"
#ifdef CAFE_TEST_SQLITE_SHIM
#include "support/SqliteShim.h"
#endif

bool RecordingPrompts::confirm(const QString& text) {
    record(QStringLiteral("confirm|") + text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingPrompts::record(const QString& box) {
    boxes << box;
    if (whileOpen) whileOpen(box);
}

QStringList RecordingPrompts::take() {
    QStringList out = boxes;
    boxes.clear();
    return out;
}

namespace {

QString g_engine = QStringLiteral("sqlite");
std::atomic<int> g_databaseSerial{0};

// The admin connection to the test server, for making and dropping databases.
QSqlDatabase Admin() {
    const QString name = QStringLiteral("cafe-test-admin");
    if (QSqlDatabase::contains(name)) return QSqlDatabase::database(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    QString error;
    if (!Engine::For(qEnvironmentVariable("CAFE_TEST_POSTGRES"))
             ->Configure(db, qEnvironmentVariable("CAFE_TEST_POSTGRES"), false, &error) ||
        !db.open())
        qFatal("PostgreSQL test server: %s %s", qPrintable(error),
               qPrintable(DatabaseErrorText(db.lastError())));
    return db;
}

void AdminExec(const QString& statement) {
    QSqlQuery q(Admin());
    if (!q.exec(statement))
        qFatal("%s: %s", qPrintable(statement), qPrintable(DatabaseErrorText(q.lastError())));
}

}  // namespace

void TestEngine::AddEngineRows() {
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

bool TestEngine::UseEngineRow(QString* why) {
    QFETCH_GLOBAL(QString, engine);
    g_engine = engine;
    if (engine != QStringLiteral("postgresql") ||
        !qEnvironmentVariableIsEmpty("CAFE_TEST_POSTGRES"))
        return true;
    if (qEnvironmentVariable("CAFE_NO_POSTGRES") == QStringLiteral("1")) {
        *why = QStringLiteral("CAFE_NO_POSTGRES=1: the PostgreSQL rows are skipped");
        return false;
    }
    qFatal(
        "No PostgreSQL test server: run scripts/test (it starts one), or set "
        "CAFE_NO_POSTGRES=1 to skip the PostgreSQL rows.");
}

bool TestEngine::Postgres() { return g_engine == QStringLiteral("postgresql"); }

void TestEngine::Reset() { g_engine = QStringLiteral("sqlite"); }

StoreEnv::StoreEnv() : previousDir(QDir::currentPath()) {
    QDir::setCurrent(dir.path());
    settings = QSettingsStore::forFile(dir.filePath(QStringLiteral("settings.ini")));
    m_connectionText = dbPath();
    if (TestEngine::Postgres()) {
        m_database = QStringLiteral("cafe_t_%1_%2")
                         .arg(QCoreApplication::applicationPid())
                         .arg(g_databaseSerial.fetch_add(1));
        AdminExec(QStringLiteral("create database %1").arg(m_database));
        QUrl server(qEnvironmentVariable("CAFE_TEST_POSTGRES"));
        server.setPath(QLatin1Char('/') + m_database);
        m_connectionText = server.toString();
    }
    settings->writeDatapath(m_connectionText);
    module = std::make_unique<TDataModule1>();
    if (postgres()) SwitchConnection(*module, m_connectionText);
    if (!module->Connected()) qFatal("test database: %s", qPrintable(module->LastError()));
}

StoreEnv::~StoreEnv() {
    module.reset();
    QDir::setCurrent(previousDir);
    if (postgres()) AdminExec(QStringLiteral("drop database %1 with (force)").arg(m_database));
}

void StoreEnv::failOn(const QString& event, const QString& table, const QString& when) {
    m_failTable = table;
    if (!postgres()) {
        sql(QStringLiteral("create trigger fail before %1 on %2 %3 begin select raise(abort, "
                           "'injected'); end")
                .arg(event, table, when.isEmpty() ? QString() : QStringLiteral("when ") + when));
        return;
    }
    sql(
        QStringLiteral("create or replace function cafe_injected() returns trigger language "
                       "plpgsql as $$ begin raise exception 'injected'; end $$"));
    sql(QStringLiteral("create trigger fail before %1 on %2 for each row %3 execute function "
                       "cafe_injected()")
            .arg(event, table, when.isEmpty() ? QString() : QStringLiteral("when (%1)").arg(when)));
}

void StoreEnv::clearFailure() {
    sql(postgres() ? QStringLiteral("drop trigger fail on %1").arg(m_failTable)
                   : QStringLiteral("drop trigger fail"));
}

bool StoreEnv::failNextCommit(const QString& when) {
    if (!postgres()) {
#ifdef CAFE_TEST_SQLITE_SHIM
        if (!SqliteShim::Install()) return false;
        SqliteShim::FailNextWrite(dbPath());
        return true;
#else
        return false;
#endif
    }
    // A sequence is not undone by the failed transaction: the trigger raises only once.
    sql(QStringLiteral("create sequence fail_commit_once"));
    sql(
        QStringLiteral("create or replace function cafe_fail_commit() returns trigger language "
                       "plpgsql as $$ begin if nextval('fail_commit_once') = 1 then raise "
                       "exception 'injected at commit'; end if; return null; end $$"));
    sql(QStringLiteral("create constraint trigger fail_commit after update on Tcount deferrable "
                       "initially deferred for each row when (%1) execute function "
                       "cafe_fail_commit()")
            .arg(when));
    return true;
}

void StoreEnv::setReadOnly(bool readOnly) {
    sql(postgres() ? QStringLiteral("set default_transaction_read_only = %1")
                         .arg(readOnly ? QStringLiteral("on") : QStringLiteral("off"))
                   : QStringLiteral("pragma query_only=%1").arg(readOnly ? 1 : 0));
}

void StoreEnv::otherTool(const QString& statement) {
    OtherProgram tool(m_connectionText);
    tool.exec(statement);
}

void StoreEnv::sql(const QString& statement, const QVariantList& values) {
    QSqlQuery q(QSqlDatabase::database(module->connectionName()));
    // PostgreSQL prepares only data statements: the rest run as they are.
    const bool ok = values.isEmpty() ? q.exec(statement) : [&] {
        if (!q.prepare(statement))
            qFatal("prepare %s: %s", qPrintable(statement),
                   qPrintable(DatabaseErrorText(q.lastError())));
        for (const QVariant& v : values) q.addBindValue(v);
        return q.exec();
    }();
    if (!ok)
        qFatal("exec %s: %s", qPrintable(statement), qPrintable(DatabaseErrorText(q.lastError())));
}

static QVariant value(TDataModule1& module, const QString& machine, const QString& column) {
    QSqlQuery q(QSqlDatabase::database(module.connectionName()));
    q.prepare(QStringLiteral("select %1 from Tcount where username=?").arg(column));
    q.addBindValue(machine);
    if (!q.exec() || !q.next()) return QVariant(QStringLiteral("<no row>"));
    return q.value(0);
}

QString StoreEnv::field(const QString& machine, const QString& column) {
    return value(*module, machine, column).toString();
}

bool StoreEnv::isNull(const QString& machine, const QString& column) {
    return value(*module, machine, column).isNull();
}

int StoreEnv::count(const QString& where) {
    QSqlQuery q(QSqlDatabase::database(module->connectionName()));
    if (!q.exec(QStringLiteral("select count(*) from Tcount where ") + where) || !q.next())
        return -1;
    return q.value(0).toInt();
}

void StoreEnv::addMachine(const QString& name, const QString& state) {
    if (state.isNull())
        sql(QStringLiteral("insert into Tcount(username) values(?)"), {name});
    else
        sql(QStringLiteral("insert into Tcount(username, Cstate) values(?, ?)"), {name, state});
}

void StoreEnv::addSession(const QString& name, const QString& start, const QString& other,
                          const QString& state) {
    sql(QStringLiteral("insert into Tcount(username, Tstart, Tnow, Stime, Tmoney, Tother, Tsum, "
                       "gotime, Cstate) values(?, ?, ?, '0', '0', ?, ?, '', ?)"),
        {name, start, start, other, other, state});
}

void StoreEnv::failWholeRowReadsAfterNextUpdate() {
    sql(QStringLiteral("alter table Tcount rename to Rows"));
    sql(QStringLiteral("create table Armed(flag integer)"));
    sql(QStringLiteral("insert into Armed values(0)"));
    const QString columns =
        QStringLiteral("username,Tstart,Tnow,Stime,Tmoney,Tother,Tsum,gotime,Cstate");
    const QString copy = QStringLiteral(
        "update Rows set Tstart=new.Tstart, Tnow=new.Tnow, Stime=new.Stime, Tmoney=new.Tmoney, "
        "Tother=new.Tother, Tsum=new.Tsum, gotime=new.gotime, Cstate=new.Cstate where "
        "username=old.username; update Armed set flag=1;");
    if (!postgres()) {
        // abs() of the smallest integer is an "integer overflow" error, raised only once armed.
        sql(QStringLiteral("create view Tcount as select %1, case when (select flag from Armed)=1 "
                           "then abs(-9223372036854775807 - 1) else 0 end as armed from Rows")
                .arg(columns));
        sql(QStringLiteral("create trigger write instead of update on Tcount begin %1 end")
                .arg(copy));
        return;
    }
    // Stable, so a select of the listed columns leaves it out and only "select *" runs it.
    sql(
        QStringLiteral("create function armed() returns integer language plpgsql stable as $$ "
                       "begin if (select flag from Armed) = 1 then raise exception 'armed'; end "
                       "if; return 0; end $$"));
    sql(QStringLiteral("create view Tcount as select %1, armed() as armed from Rows").arg(columns));
    sql(QStringLiteral("create function write_rows() returns trigger language plpgsql as $$ "
                       "begin %1 return new; end $$")
            .arg(copy));
    sql(
        QStringLiteral("create trigger write instead of update on Tcount for each row execute "
                       "function write_rows()"));
}

OtherProgram::OtherProgram(const QString& connectionText)
    : m_name(QStringLiteral("other-program-%1").arg(reinterpret_cast<quintptr>(this))) {
    const auto engine = Engine::For(connectionText);
    QSqlDatabase db = QSqlDatabase::addDatabase(engine->DriverName(), m_name);
    QString error;
    engine->Configure(db, connectionText, true, &error);
    if (!engine->IsFile())
        m_postgres = true;
    else
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!db.open()) qFatal("other program: %s", qPrintable(DatabaseErrorText(db.lastError())));
}

OtherProgram::~OtherProgram() {
    release();
    QSqlDatabase::database(m_name, false).close();
    QSqlDatabase::removeDatabase(m_name);
}

void OtherProgram::holdRead() {
    QSqlQuery q(QSqlDatabase::database(m_name));
    if (!q.exec(QStringLiteral("begin")) ||
        !q.exec(QStringLiteral("select count(*) from Tcount")) || !q.next())
        qFatal("other program cannot read: %s", qPrintable(DatabaseErrorText(q.lastError())));
}

void OtherProgram::holdWrite() {
    QSqlQuery q(QSqlDatabase::database(m_name));
    const bool held =
        m_postgres
            ? q.exec(QStringLiteral("begin")) &&
                  q.exec(QStringLiteral("lock table Tcount, Tmoney, Tjournal in exclusive mode"))
            : q.exec(QStringLiteral("begin immediate"));
    if (!held)
        qFatal("other program cannot lock: %s", qPrintable(DatabaseErrorText(q.lastError())));
}

void OtherProgram::exec(const QString& statement) {
    QSqlQuery q(QSqlDatabase::database(m_name));
    if (!q.exec(statement))
        qFatal("other program: %s", qPrintable(DatabaseErrorText(q.lastError())));
}

void OtherProgram::release() {
    QSqlQuery q(QSqlDatabase::database(m_name));
    q.exec(QStringLiteral("rollback"));
}
