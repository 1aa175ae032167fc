#include "support/StoreFixtures.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

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

StoreEnv::StoreEnv() : previousDir(QDir::currentPath()) {
    QDir::setCurrent(dir.path());
    settings = QSettingsStore::forFile(dir.filePath(QStringLiteral("settings.ini")));
    settings->writeDatapath(dbPath());
    module = std::make_unique<TDataModule1>();
    if (!module->Connected()) qFatal("test database: %s", qPrintable(module->LastError()));
}

StoreEnv::~StoreEnv() {
    module.reset();
    QDir::setCurrent(previousDir);
}

void StoreEnv::sql(const QString& statement, const QVariantList& values) {
    QSqlQuery q(QSqlDatabase::database(module->connectionName()));
    if (!q.prepare(statement))
        qFatal("prepare %s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) qFatal("exec %s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
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

void StoreEnv::failWholeRowReadsAfterNextUpdate() {
    sql(QStringLiteral("alter table Tcount rename to Rows"));
    sql(QStringLiteral("create table Armed(flag integer)"));
    sql(QStringLiteral("insert into Armed values(0)"));
    // abs() of the smallest integer is an "integer overflow" error, raised only once armed.
    sql(QStringLiteral(
        "create view Tcount as select username,Tstart,Tnow,Stime,Tmoney,Tother,Tsum,gotime,"
        "Cstate, case when (select flag from Armed)=1 then abs(-9223372036854775807 - 1) "
        "else 0 end as armed from Rows"));
    sql(QStringLiteral(
        "create trigger write instead of update on Tcount begin update Rows set "
        "Tstart=new.Tstart, Tnow=new.Tnow, Stime=new.Stime, Tmoney=new.Tmoney, "
        "Tother=new.Tother, Tsum=new.Tsum, gotime=new.gotime, Cstate=new.Cstate where "
        "username=old.username; update Armed set flag=1; end"));
}

OtherProgram::OtherProgram(const QString& path)
    : m_name(QStringLiteral("other-program-%1").arg(reinterpret_cast<quintptr>(this))) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!db.open()) qFatal("other program: %s", qPrintable(db.lastError().text()));
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
        qFatal("other program cannot read: %s", qPrintable(q.lastError().text()));
}

void OtherProgram::holdWrite() {
    QSqlQuery q(QSqlDatabase::database(m_name));
    if (!q.exec(QStringLiteral("begin immediate")))
        qFatal("other program cannot lock: %s", qPrintable(q.lastError().text()));
}

void OtherProgram::exec(const QString& statement) {
    QSqlQuery q(QSqlDatabase::database(m_name));
    if (!q.exec(statement)) qFatal("other program: %s", qPrintable(q.lastError().text()));
}

void OtherProgram::release() {
    QSqlQuery q(QSqlDatabase::database(m_name));
    q.exec(QStringLiteral("rollback"));
}
