#include "tests/support/Fixtures.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

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

Env::Env() : previousDir(QDir::currentPath()) {
    QDir::setCurrent(dir.path());
    settings = QSettingsStore::forFile(dir.filePath(QStringLiteral("settings.ini")));
    settings->writeDatapath(dbPath());
    module = std::make_unique<TDataModule1>();
    if (!module->Connected()) qFatal("test database: %s", qPrintable(module->LastError()));
    desk = std::make_unique<Desk>(*module, DeskSeams{&prompts, &clock, settings.get(), &chooser,
                                                     &resolver, client.port(), FreeUdpPort()});
}

Env::~Env() {
    desk.reset();
    module.reset();
    QDir::setCurrent(previousDir);
}

void Env::sql(const QString& statement, const QVariantList& values) {
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

QString Env::field(const QString& machine, const QString& column) {
    return value(*module, machine, column).toString();
}

bool Env::isNull(const QString& machine, const QString& column) {
    return value(*module, machine, column).isNull();
}

int Env::count(const QString& where) {
    QSqlQuery q(QSqlDatabase::database(module->connectionName()));
    if (!q.exec(QStringLiteral("select count(*) from Tcount where ") + where) || !q.next())
        return -1;
    return q.value(0).toInt();
}

void Env::addMachine(const QString& name, const QString& state) {
    if (state.isNull())
        sql(QStringLiteral("insert into Tcount(username) values(?)"), {name});
    else
        sql(QStringLiteral("insert into Tcount(username, Cstate) values(?, ?)"), {name, state});
}

Receiver::Receiver() {
    if (!socket.bind(QHostAddress::LocalHost, 0)) qFatal("receiver cannot bind");
}

QList<Receiver::Datagram> Receiver::take(int atLeast, int waitMs) {
    QList<Datagram> out;
    auto drain = [&] {
        while (socket.hasPendingDatagrams()) {
            QByteArray bytes(static_cast<int>(socket.pendingDatagramSize()), '\0');
            QHostAddress from;
            quint16 fromPort = 0;
            socket.readDatagram(bytes.data(), bytes.size(), &from, &fromPort);
            out.push_back({bytes, fromPort});
        }
    };
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::processEvents();
    drain();
    while (out.size() < atLeast && clock.elapsed() < waitMs) {
        socket.waitForReadyRead(50);
        drain();
    }
    return out;
}

QStringList Receiver::takeWords(int atLeast) {
    QStringList words;
    for (const Datagram& d : take(atLeast)) {
        const int end = d.bytes.indexOf('\0');
        words << QString::fromLatin1(end < 0 ? d.bytes : d.bytes.left(end));
    }
    return words;
}

quint16 FreeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

void Env::failWholeRowReadsAfterNextUpdate() {
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

void OtherProgram::release() {
    QSqlQuery q(QSqlDatabase::database(m_name));
    q.exec(QStringLiteral("rollback"));
}
