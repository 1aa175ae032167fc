#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of the test's own, in a temporary folder on a free port, for the tests
// that restart, stop or cut off the server (the shared test server stays untouched). As root
// it runs as the postgres user, since initdb refuses root. Trusts every local connection, so
// a password in a URI is accepted and ignored.
class PrivateServer {
  public:
    PrivateServer();
    ~PrivateServer();

    bool ok() const { return m_ok; }
    QString why() const { return m_why; }  // when not ok
    quint16 port() const { return m_port; }

    // A fresh empty database, and the URI of a database on this server.
    QString createDatabase();
    QString uri(const QString& database, const QString& password = {}) const;
    // The same database on another port (a proxy in front of this server).
    static QString uriOn(quint16 port, const QString& database);

    bool restartImmediately();  // pg_ctl restart -m immediate
    bool stopImmediately();
    bool start();
    // Runs a statement on a connection of its own, in database.
    bool exec(const QString& database, const QString& statement);

  private:
    bool run(const QString& program, const QStringList& arguments, QString* output = nullptr,
             int timeoutMs = 60000);

    QTemporaryDir m_dir;
    QString m_bin;
    QStringList m_as;  // runuser -u postgres --, as root
    quint16 m_port = 0;
    bool m_ok = false;
    QString m_why;
    int m_databases = 0;
};
