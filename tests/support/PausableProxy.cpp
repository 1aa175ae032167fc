#include "support/PausableProxy.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <atomic>
#include <list>

class Relay : public QObject {
  public:
    explicit Relay(quint16 target) : m_target(target) {}
    std::atomic<bool> paused{false};

    quint16 listen() {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = m_server->nextPendingConnection()) Add(client);
        });
        return m_server->serverPort();
    }

    void Resume() {
        paused = false;
        for (Pair& pair : m_pairs) Pump(pair);
    }

  private:
    struct Pair {
        QPointer<QTcpSocket> client, server;
    };

    void Add(QTcpSocket* client) {
        auto* server = new QTcpSocket(this);
        client->setParent(this);
        m_pairs.push_back({client, server});
        Pair& pair = m_pairs.back();
        const auto pump = [this, &pair] { Pump(pair); };
        for (QTcpSocket* s : {client, server}) {
            connect(s, &QTcpSocket::readyRead, this, pump);
            connect(s, &QTcpSocket::disconnected, this, pump);
        }
        connect(server, &QTcpSocket::connected, this, pump);
        server->connectToHost(QHostAddress::LocalHost, m_target);
    }

    // Everything waiting goes across; a side that hung up, once its data has gone, hangs up
    // the other.
    void Pump(Pair& pair) {
        if (paused || !pair.client || !pair.server) return;
        if (pair.server->state() != QAbstractSocket::ConnectedState &&
            pair.server->state() != QAbstractSocket::UnconnectedState)
            return;  // still connecting
        const auto across = [](QTcpSocket* from, QTcpSocket* to) {
            if (from->bytesAvailable() && to->state() == QAbstractSocket::ConnectedState)
                to->write(from->readAll());
        };
        across(pair.client, pair.server);
        across(pair.server, pair.client);
        for (auto [from, to] : {std::pair{pair.client, pair.server}, {pair.server, pair.client}})
            if (from->state() == QAbstractSocket::UnconnectedState && !from->bytesAvailable() &&
                to->state() == QAbstractSocket::ConnectedState)
                to->disconnectFromHost();
    }

    const quint16 m_target;
    QTcpServer* m_server = nullptr;
    std::list<Pair> m_pairs;  // stable addresses for the slots that pump them
};

PausableProxy::PausableProxy(quint16 targetPort) {
    m_relay = new Relay(targetPort);
    m_relay->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_relay, [this] { m_port = m_relay->listen(); }, Qt::BlockingQueuedConnection);
}

PausableProxy::~PausableProxy() {
    QMetaObject::invokeMethod(m_relay, [relay = m_relay] { delete relay; },
                              Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void PausableProxy::pause(int limitMs) {
    m_relay->paused = true;
    QMetaObject::invokeMethod(m_relay, [relay = m_relay, limitMs] {
        QTimer::singleShot(limitMs, relay, [relay] { relay->Resume(); });
    });
}

void PausableProxy::resume() {
    QMetaObject::invokeMethod(m_relay, [relay = m_relay] { relay->Resume(); },
                              Qt::BlockingQueuedConnection);
}

bool PausableProxy::paused() const { return m_relay->paused; }
