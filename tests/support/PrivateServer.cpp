#include "support/PrivateServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QVersionNumber>
#include <algorithm>
#include <unistd.h>

namespace {

QString NewestPostgresBin() {
    const QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) {
        return QVersionNumber::fromString(a) > QVersionNumber::fromString(b);
    });
    for (const QString& v : versions)
        if (QFileInfo::exists(root.filePath(v + QStringLiteral("/bin/initdb"))))
            return root.filePath(v + QStringLiteral("/bin"));
    return {};
}

quint16 FreeTcpPort() {
    // A port nobody listens on now; the server takes it a moment later.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

}  // namespace

PrivateServer::PrivateServer() {
    m_bin = NewestPostgresBin();
    if (m_bin.isEmpty()) {
        m_why = QStringLiteral("PostgreSQL is not installed (/usr/lib/postgresql/*/bin)");
        return;
    }
    if (::getuid() == 0) {
        run(QStringLiteral("chown"), {QStringLiteral("postgres"), m_dir.path()});
        m_as = {QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"),
                QStringLiteral("--")};
    }
    QString log;
    if (!run(m_bin + QStringLiteral("/initdb"),
             {QStringLiteral("--no-sync"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
              QStringLiteral("-A"),
              QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("cafe"),
              QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C.UTF-8")},
             &log)) {
        m_why = QStringLiteral("initdb: ") + log;
        return;
    }
    m_port = FreeTcpPort();
    m_ok = start();
    if (!m_ok) m_why = QStringLiteral("the private server did not start on port %1").arg(m_port);
}

PrivateServer::~PrivateServer() {
    if (!m_bin.isEmpty() && QFileInfo::exists(m_dir.filePath(QStringLiteral("data/postmaster.pid"))))
        stopImmediately();
}

bool PrivateServer::run(const QString& program, const QStringList& arguments, QString* output,
                        int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList command = m_as;
    command << program << arguments;
    process.start(command.takeFirst(), command);
    const bool finished = process.waitForFinished(timeoutMs);
    if (output) *output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PrivateServer::start() {
    return run(m_bin + QStringLiteral("/pg_ctl"),
               {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                QStringLiteral("-o"),
                QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                    .arg(m_port)
                    .arg(m_dir.path()),
                QStringLiteral("start")});
}

bool PrivateServer::restartImmediately() {
    return run(m_bin + QStringLiteral("/pg_ctl"),
               {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-o"),
                QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                    .arg(m_port)
                    .arg(m_dir.path()),
                QStringLiteral("restart")});
}

bool PrivateServer::stopImmediately() {
    return run(m_bin + QStringLiteral("/pg_ctl"),
               {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-w"),
                QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("stop")});
}

QString PrivateServer::uri(const QString& database, const QString& password) const {
    return QStringLiteral("postgresql://cafe%1@127.0.0.1:%2/%3")
        .arg(password.isEmpty() ? QString() : QLatin1Char(':') + password)
        .arg(m_port)
        .arg(database);
}

QString PrivateServer::uriOn(quint16 port, const QString& database) {
    return QStringLiteral("postgresql://cafe@127.0.0.1:%1/%2").arg(port).arg(database);
}

bool PrivateServer::exec(const QString& database, const QString& statement) {
    const QString name = QStringLiteral("private-server-exec");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(m_port);
        db.setUserName(QStringLiteral("cafe"));
        db.setDatabaseName(database);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(statement);
            if (!ok) qWarning("%s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QString PrivateServer::createDatabase() {
    const QString name = QStringLiteral("cafe_p_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(++m_databases);
    if (!exec(QStringLiteral("postgres"), QStringLiteral("create database %1").arg(name)))
        return {};
    return name;
}
