// A stand-in for the client program: prints every command datagram it receives.
//   client-sim [--port N] [--bind ADDRESS] [--count N] [--search-port N]
// Listens on 127.0.0.1:1999 unless told otherwise; --count ends it after N datagrams. It also
// accepts TCP connections on the search port (7626; 0 for none), so 自动搜索 finds it.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Prints the console's command datagrams."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("UDP port to listen on."),
                      QStringLiteral("port"), QStringLiteral("1999")});
    parser.addOption({QStringLiteral("bind"), QStringLiteral("Address to bind."),
                      QStringLiteral("address"), QStringLiteral("127.0.0.1")});
    parser.addOption({QStringLiteral("count"), QStringLiteral("Stop after this many datagrams."),
                      QStringLiteral("n"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("search-port"),
                      QStringLiteral("TCP port the console's search probes (0: none)."),
                      QStringLiteral("port"), QStringLiteral("7626")});
    parser.process(app);

    bool portOk = false;
    const int port = parser.value(QStringLiteral("port")).toInt(&portOk);
    const QHostAddress address(parser.value(QStringLiteral("bind")));
    const int limit = parser.value(QStringLiteral("count")).toInt();
    if (!portOk || port < 0 || port > 65535 || address.isNull()) {
        std::fprintf(stderr, "client-sim: bad --port or --bind\n");
        return 2;
    }
    QUdpSocket socket;
    if (!socket.bind(address, static_cast<quint16>(port))) {
        std::fprintf(stderr, "client-sim: cannot bind %s:%d: %s\n", qPrintable(address.toString()),
                     port, qPrintable(socket.errorString()));
        return 1;
    }
    std::printf("listening on %s:%d\n", qPrintable(address.toString()), socket.localPort());
    QTcpServer searchPort;
    const int tcpPort = parser.value(QStringLiteral("search-port")).toInt();
    if (tcpPort > 0 && tcpPort <= 65535) {
        if (searchPort.listen(address, static_cast<quint16>(tcpPort)))
            std::printf("answering searches on TCP %d\n", tcpPort);
        else
            std::printf("cannot answer searches on TCP %d: %s\n", tcpPort,
                        qPrintable(searchPort.errorString()));
        QObject::connect(&searchPort, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* probe = searchPort.nextPendingConnection()) {
                std::printf("searched from %s\n", qPrintable(probe->peerAddress().toString()));
                probe->close();
                probe->deleteLater();
            }
            std::fflush(stdout);
        });
    }
    std::fflush(stdout);

    int received = 0;
    QObject::connect(&socket, &QUdpSocket::readyRead, [&] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram d = socket.receiveDatagram();
            const QByteArray bytes = d.data();
            const QByteArray text =
                bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0'));
            QStringDecoder gbk("GBK");
            const QString decoded = gbk.decode(text);
            std::printf("from %s:%d, %lld bytes, text \"%s\"\n  hex %s\n",
                        qPrintable(d.senderAddress().toString()), d.senderPort(),
                        static_cast<long long>(bytes.size()), decoded.toUtf8().constData(),
                        bytes.toHex(' ').constData());
            std::fflush(stdout);
            if (limit > 0 && ++received >= limit) QCoreApplication::quit();
        }
    });
    return app.exec();
}
