#include "support/Fixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "record_store/ConnectDatabase.h"

Env::Env() : desk(std::make_unique<Desk>(*module, seams())) {}

DeskSeams Env::seams(const QString& databaseForThisStart) {
    return DeskSeams{.prompts = &prompts,
                     .clock = &clock,
                     .settings = settings.get(),
                     .chooser = &chooser,
                     .resolver = &resolver,
                     .remotePort = client.port(),
                     .localPort = FreeUdpPort(),
                     .databaseForThisStart = databaseForThisStart};
}

Env::~Env() { desk.reset(); }

SearchListener::SearchListener(const QString& address, quint16 port) {
    if (!server.listen(QHostAddress(address), port))
        qFatal("cannot listen on %s: %s", qPrintable(address), qPrintable(server.errorString()));
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            ++connections;
            s->deleteLater();
        }
    });
}

Tarpit::Tarpit(const QString& address, quint16 port) {
    server.setListenBacklogSize(0);
    if (!server.listen(QHostAddress(address), port))
        qFatal("cannot listen on %s: %s", qPrintable(address), qPrintable(server.errorString()));
    server.pauseAccepting();
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(std::make_unique<QTcpSocket>());
        fillers.back()->connectToHost(QHostAddress(address), port);
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 150) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
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

SecondDesk::SecondDesk(const QString& connectionText, const QString& folder, const QString& name,
                       quint16 clientPort)
    : settings(QSettingsStore::forFile(folder + QStringLiteral("/%1.ini").arg(name))),
      module(std::make_unique<TDataModule1>(nullptr, TDataModule1::DefaultFile::OnlyIfPresent)) {
    if (!SwitchConnection(*module, connectionText))
        qFatal("second desk: %s", qPrintable(module->LastError()));
    desk = std::make_unique<Desk>(*module, DeskSeams{.prompts = &prompts,
                                                     .clock = &clock,
                                                     .settings = settings.get(),
                                                     .chooser = &chooser,
                                                     .resolver = &resolver,
                                                     .remotePort = clientPort,
                                                     .localPort = FreeUdpPort(),
                                                     .deskName = name});
}

SecondDesk::~SecondDesk() {
    desk.reset();
    module.reset();
}
