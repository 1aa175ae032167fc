#include "client_channel/NMUDP.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QTimer>
#include <QUdpSocket>
#include <vector>

Q_LOGGING_CATEGORY(lcUdp, "cafe.udp", QtWarningMsg)

std::optional<quint32> ParseDottedIPv4(const QString& text) {
    // The classic IPv4 text forms, as inet_addr reads them: one to four parts separated by
    // dots, each decimal, octal (leading 0) or hexadecimal (0x); the last part fills the
    // remaining bytes ("10.1" is 10.0.0.1, "3232235521" is 192.168.0.1).
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.isEmpty() || parts.size() > 4) return std::nullopt;
    std::vector<quint64> values;
    for (const QString& part : parts) {
        if (part.isEmpty()) return std::nullopt;
        int base = 10;
        QString digits = part;
        if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
            base = 16;
            digits = digits.mid(2);
            if (digits.isEmpty()) digits = QStringLiteral("0");
        } else if (digits.size() > 1 && digits.startsWith(QLatin1Char('0'))) {
            base = 8;
            digits = digits.mid(1);
        }
        for (const QChar c : digits)
            if (c.unicode() > 127) return std::nullopt;
        bool ok = false;
        const quint64 value = digits.toULongLong(&ok, base);
        if (!ok || value > 0xFFFFFFFFull) return std::nullopt;
        values.push_back(value);
    }
    const int n = int(values.size());
    const quint64 lastLimit = n == 1   ? 0xFFFFFFFFull
                              : n == 2 ? 0xFFFFFFull
                              : n == 3 ? 0xFFFFull
                                       : 0xFFull;
    quint64 address = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (values[i] > 0xFF) return std::nullopt;
        address |= values[i] << (24 - 8 * i);
    }
    if (values.back() > lastLimit) return std::nullopt;
    return quint32(address | values.back());
}

std::optional<quint32> QtHostResolver::resolveIPv4(const QString& name) {
    QEventLoop loop;
    bool done = false;
    std::optional<quint32> result;
    const int id = QHostInfo::lookupHost(name, &loop, [&](const QHostInfo& info) {
        done = true;
        if (info.error() == QHostInfo::NoError) {
            for (const QHostAddress& address : info.addresses()) {
                bool isIPv4 = false;
                const quint32 value = address.toIPv4Address(&isIPv4);
                if (isIPv4) {
                    result = value;
                    break;
                }
            }
        }
        loop.quit();
    });
    if (!done) {
        // The console keeps running its events while it waits, but never waits for ever.
        QTimer::singleShot(m_timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!done) QHostInfo::abortHostLookup(id);
    return result;
}

void QtHostResolver::nameOf(quint32 address, QObject* context,
                            std::function<void(const QString& name)> then) {
    const QString text = QHostAddress(address).toString();
    QHostInfo::lookupHost(text, context, [text, then = std::move(then)](const QHostInfo& info) {
        // Without a name the look-up answers with the address itself.
        if (info.error() == QHostInfo::NoError && !info.hostName().isEmpty() &&
            info.hostName() != text)
            then(info.hostName());
    });
}

// ---------------------------------------------------------------------------------------------

int TNMUDP::WouldBlock() { return int(QAbstractSocket::TemporaryError) + 1; }

TNMUDP::TNMUDP(HostResolver& resolver, QObject* owner)
    : QObject(owner), m_resolver(resolver), m_scratch(65536, '\0') {
    SocketLayerError = [this] {
        return m_socket && m_socket->error() != QAbstractSocket::UnknownSocketError
                   ? int(m_socket->error()) + 1
                   : 0;
    };
    ReportLevel = 1;
    ReportStatus(8, QStringLiteral("Initializing Winsock"));
    MakeSocket();
}

TNMUDP::~TNMUDP() { CloseSocket(); }

void TNMUDP::MakeSocket() {
    // Qt makes the system socket when it binds or first sends; nothing here can fail.
    m_socket = std::make_unique<QUdpSocket>();
    connect(m_socket.get(), &QUdpSocket::readyRead, this, &TNMUDP::ReceiveDatagram);
}

void TNMUDP::CloseSocket() { m_socket.reset(); }

void TNMUDP::SetLocalPort(int port) {
    CloseSocket();
    MakeSocket();
    m_localPort = port;
    Loaded();
}

void TNMUDP::Loaded() {
    if (m_socket->state() == QAbstractSocket::BoundState) return;  // a second bind does nothing
    // A port already in use is not reported: sends still go out, from another port.
    qCDebug(lcUdp) << "binding local port" << m_localPort;
    if (!m_socket->bind(QHostAddress::AnyIPv4, quint16(m_localPort),
                        QAbstractSocket::DontShareAddress))
        qCDebug(lcUdp) << "bind failed:" << m_socket->errorString();
}

bool TNMUDP::Bound() const {
    return m_socket && m_socket->state() == QAbstractSocket::BoundState &&
           (m_localPort == 0 || m_socket->localPort() == quint16(m_localPort));
}

void TNMUDP::ReceiveDatagram() {
    // Drain what is waiting, but in bounded steps so a flood cannot freeze the window.
    for (int i = 0; i < 256; ++i) {
        if (!m_socket->hasPendingDatagrams()) return;
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 n =
            m_socket->readDatagram(m_scratch.data(), m_scratch.size(), &from, &fromPort);
        m_receivedCount = static_cast<int>(n);
        m_receiveBuffer =
            n > 0 ? m_scratch.left(static_cast<int>(qMin<qint64>(n, 2048))) : QByteArray();
        qCDebug(lcUdp) << "received" << n << "bytes from" << from.toString() << fromPort;
        if (OnDataReceived) {
            const quint32 a = from.toIPv4Address();
            const QString ip = QStringLiteral("%1.%2.%3.%4")
                                   .arg((a >> 24) & 0xFF)
                                   .arg((a >> 16) & 0xFF)
                                   .arg((a >> 8) & 0xFF)
                                   .arg(a & 0xFF);
            OnDataReceived(this, m_receivedCount, ip, fromPort);
        }
    }
    // More waiting: go on after the window has had its turn.
    if (m_socket->hasPendingDatagrams()) QTimer::singleShot(0, this, &TNMUDP::ReceiveDatagram);
}

void TNMUDP::SendDatagram(const QByteArray& buff, int length,
                          const std::function<bool()>& beforeSend) {
    QByteArray copy = buff;
    // Never read past the buffer, whatever length a caller or handler gives.
    if (length < 0 || length > copy.size()) throw EndpointError(QStringLiteral("Invalid buffer"));
    for (int pass = 0; length == 0; ++pass) {
        bool handled = false;
        if (pass > 0 || !OnBufferInvalid) throw EndpointError(QStringLiteral("Invalid buffer"));
        OnBufferInvalid(handled, copy, length);
        if (!handled || length < 0 || length > copy.size())
            throw EndpointError(QStringLiteral("Invalid buffer"));
    }
    const quint32 address = ResolveRemoteHost();
    if (address == 0) throw UDPSockError(QStringLiteral("Null Remote Address"));
    if (beforeSend && !beforeSend()) throw SendVetoed();
    ReportStatus(2, QStringLiteral("Sending Data"));
    const QHostAddress remote(address);
    qCDebug(lcUdp) << "sending" << length << "bytes to" << remote.toString()
                   << (RemotePort & 0xFFFF) << copy.left(length).toHex(' ');
    // A datagram the network refuses is lost without an error, as UDP is.
    (void)m_socket->writeDatagram(copy.constData(), length, remote, quint16(RemotePort & 0xFFFF));
    if (OnDataSend) OnDataSend(this);
}

quint32 TNMUDP::ResolveRemoteHost() {
    // This send's own host: a nested send during the lookup may change RemoteHost.
    const QString host = RemoteHost;
    const bool usable = !host.isEmpty() && host.size() <= MaxHostLength;
    if (usable) {
        if (const std::optional<quint32> dotted = ParseDottedIPv4(host)) return *dotted;
    }
    for (int attempt = 0;; ++attempt) {
        const std::optional<quint32> found =
            usable ? m_resolver.resolveIPv4(host) : std::optional<quint32>();
        if (found) return *found;
        if (attempt == 1) throw UDPSockError(QStringLiteral("Host Lookup Canceled"));
        bool handled = false;
        if (OnInvalidHost) OnInvalidHost(handled);
        if (!handled) throw UDPSockError(QStringLiteral("Host Lookup Canceled"));
    }
}

void TNMUDP::ReportStatus(int level, const QString& text) {
    if (level > ReportLevel) return;
    m_statusText = text;
    if (OnStatus) OnStatus(this, text);
}

QString TNMUDP::CheckSocketError(int ignore) {
    ReportStatus(16, QStringLiteral("Checking Error In Error Manager"));
    m_lastError = SocketLayerError();
    if ((m_lastError & ignore) == ignore) return {};
    throw UDPSockError(SocketErrorText(m_lastError));
}

QString TNMUDP::SocketErrorText(int number) {
    const QString text =
        number == 0 ? QString() : QStringLiteral("Unknown Error No. %1").arg(number);
    ReportStatus(8, QStringLiteral("Looking Up Error Message") + text);
    return text;
}
