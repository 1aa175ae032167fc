#include "client_channel/NMUDP.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>

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

// ---------------------------------------------------------------------------------------------

int TNMUDP::WouldBlock() { return EWOULDBLOCK; }

TNMUDP::TNMUDP(HostResolver& resolver, QObject* owner)
    : QObject(owner), m_resolver(resolver), m_scratch(65536, '\0') {
    ReportLevel = 1;
    ReportStatus(8, QStringLiteral("Initializing Winsock"));
    MakeSocket();
}

TNMUDP::~TNMUDP() { CloseSocket(); }

void TNMUDP::MakeSocket() {
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) CheckSocketError(WouldBlock());
}

void TNMUDP::CloseSocket() {
    m_notifier.reset();
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
}

void TNMUDP::SetLocalPort(int port) {
    CloseSocket();
    MakeSocket();
    m_localPort = port;
    Loaded();
}

void TNMUDP::Loaded() {
    if (m_socket < 0) return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<quint16>(m_localPort));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    // A port already in use is not reported: sends still go out, from another port.
    (void)::bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    if (!m_notifier) {
        m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &TNMUDP::ReceiveDatagram);
    }
}

void TNMUDP::ReceiveDatagram() {
    // Drain what is waiting, but in bounded steps so a flood cannot freeze the window.
    QByteArray& buffer = m_scratch;
    for (int i = 0; i < 256; ++i) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_socket, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        m_receivedCount = static_cast<int>(n);
        m_receiveBuffer =
            n > 0 ? buffer.left(static_cast<int>(qMin<ssize_t>(n, 2048))) : QByteArray();
        if (OnDataReceived) {
            const quint32 a = ntohl(from.sin_addr.s_addr);
            const QString ip = QStringLiteral("%1.%2.%3.%4")
                                   .arg((a >> 24) & 0xFF)
                                   .arg((a >> 16) & 0xFF)
                                   .arg((a >> 8) & 0xFF)
                                   .arg(a & 0xFF);
            OnDataReceived(this, m_receivedCount, ip, ntohs(from.sin_port));
        }
    }
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
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<quint16>(RemotePort & 0xFFFF));
    remote.sin_addr.s_addr = htonl(address);
    // A datagram the network refuses is lost without an error, as UDP is.
    (void)::sendto(m_socket, copy.constData(), static_cast<size_t>(length), 0,
                   reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    if (OnDataSend) OnDataSend(this);
}

quint32 TNMUDP::ResolveRemoteHost() {
    // This send's own host: a nested send during the lookup may change RemoteHost.
    const QString host = RemoteHost;
    const bool usable = !host.isEmpty() && host.size() <= MaxHostLength;
    if (usable) {
        in_addr parsed{};
        if (::inet_aton(host.toUtf8().constData(), &parsed) != 0) return ntohl(parsed.s_addr);
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
    m_lastError = errno;
    if ((m_lastError & ignore) == ignore) return {};
    throw UDPSockError(SocketErrorText(m_lastError));
}

QString TNMUDP::SocketErrorText(int number) {
    const QString text =
        number == 0 ? QString() : QStringLiteral("Unknown Error No. %1").arg(number);
    ReportStatus(8, QStringLiteral("Looking Up Error Message") + text);
    return text;
}
