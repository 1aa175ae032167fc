#pragma once

#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <memory>

#include "client_channel/NMUDP.h"
#include "desk/Desk.h"
#include "support/StoreFixtures.h"

// Names resolve from a table; anything else fails at once, so no test waits on real DNS.
class FakeResolver : public HostResolver {
  public:
    QHash<QString, quint32> table;
    QStringList asked;
    std::function<void(const QString& name)> whileWaiting;  // runs "during" the lookup
    std::optional<quint32> resolveIPv4(const QString& name) override {
        asked << name;
        if (whileWaiting) whileWaiting(name);
        if (table.contains(name)) return table.value(name);
        return std::nullopt;
    }
    QHash<quint32, QString> names;  // reverse look-ups; the answer comes later, as a real one
    void nameOf(quint32 address, QObject* context,
                std::function<void(const QString&)> then) override {
        if (names.contains(address))
            QTimer::singleShot(0, context, [then, name = names.value(address)] { then(name); });
    }
};

// A client machine as the search sees it: accepts TCP connections on one loopback address and
// counts them. Port 0 takes a free one.
class SearchListener {
  public:
    SearchListener(const QString& address, quint16 port = 0);
    QTcpServer server;
    int connections = 0;
    quint16 port() const { return server.serverPort(); }
};

// An address whose connections neither succeed nor fail: its backlog is full, so the kernel
// drops every new SYN and a probe can only time out.
class Tarpit {
  public:
    Tarpit(const QString& address, quint16 port);
    QTcpServer server;
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
};

// A stand-in client machine on 127.0.0.1.
class Receiver {
  public:
    Receiver();
    QUdpSocket socket;
    quint16 port() const { return socket.localPort(); }
    struct Datagram {
        QByteArray bytes;
        quint16 fromPort;
    };
    QList<Datagram> take(int atLeast = 0, int waitMs = 2000);  // what arrived so far
    QStringList takeWords(int atLeast = 0);                    // texts up to the zero byte
};

quint16 FreeUdpPort();

// Another front desk on the same database as an Env: its own connection, endpoint, prompts
// and name. May be made on another thread, for races.
class SecondDesk {
  public:
    SecondDesk(const QString& connectionText, const QString& folder, const QString& name,
               quint16 clientPort);
    ~SecondDesk();
    RecordingPrompts prompts;
    FakeClock clock;
    FakeChooser chooser;
    FakeResolver resolver;
    std::unique_ptr<QSettingsStore> settings;
    std::unique_ptr<TDataModule1> module;
    std::unique_ptr<Desk> desk;
};

// A desk on a fresh default database (StoreEnv), its endpoint bound to a free port and
// sending every machine's commands to the stand-in client.
class Env : public StoreEnv {
  public:
    Env();
    ~Env() override;

    // This desk's seams for another desk on the same module (a free port of its own), started
    // as with --database when databaseForThisStart is given.
    DeskSeams seams(const QString& databaseForThisStart = {});

    FakeResolver resolver;
    Receiver client;  // every machine's commands arrive here (the endpoint's RemotePort)
    std::unique_ptr<Desk> desk;
};
