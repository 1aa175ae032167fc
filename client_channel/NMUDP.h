#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "record_store/CafeError.h"

class QUdpSocket;

// Errors of the endpoint. EndpointError is the plain one ("Invalid buffer"); UDPSockError the
// socket layer's. The console's operations catch both and show their own boxes.
class EndpointError : public CafeError {
  public:
    using CafeError::CafeError;
};

class UDPSockError : public EndpointError {
  public:
    using EndpointError::EndpointError;
};

// A send that its caller's beforeSend step stopped: nothing left.
class SendVetoed : public EndpointError {
  public:
    SendVetoed() : EndpointError(QStringLiteral("Send Vetoed")) {}
};

// Looks up an IPv4 address for a host name. May run the event loop while it waits; must
// come back within a bounded time.
class HostResolver {
  public:
    virtual ~HostResolver() = default;
    virtual std::optional<quint32> resolveIPv4(const QString& name) = 0;  // host byte order
    // The host name of an address (host byte order), later: then() runs on context's thread
    // with the name, or is never called when there is none or context is gone first.
    virtual void nameOf(quint32 address, QObject* context,
                        std::function<void(const QString& name)> then) {
        (void)address, (void)context, (void)then;
    }
};

// For a program that sends nothing by name (a tool, a benchmark): no name resolves.
class NoHostResolver : public HostResolver {
  public:
    std::optional<quint32> resolveIPv4(const QString&) override { return std::nullopt; }
};

// A dotted IPv4 address in any form the classic parser (inet_addr) takes; nullopt otherwise.
std::optional<quint32> ParseDottedIPv4(const QString& text);

// QHostInfo, waiting at most timeoutMs while the event loop keeps running.
class QtHostResolver : public HostResolver {
  public:
    explicit QtHostResolver(int timeoutMs = 5000) : m_timeoutMs(timeoutMs) {}
    std::optional<quint32> resolveIPv4(const QString& name) override;
    void nameOf(quint32 address, QObject* context,
                std::function<void(const QString& name)> then) override;

  private:
    int m_timeoutMs;
};

// The UDP endpoint: one IPv4 datagram socket bound to LocalPort; sends to RemoteHost:RemotePort;
// every datagram that arrives is read (and, with no OnDataReceived, dropped).
class TNMUDP : public QObject {
    Q_OBJECT
  public:
    static constexpr int MaxHostLength = 130;

    // Throws UDPSockError when no socket can be made.
    TNMUDP(HostResolver& resolver, QObject* owner = nullptr);
    ~TNMUDP() override;

    QString RemoteHost;
    int RemotePort = 0;
    int ReportLevel = 1;

    int LocalPort() const { return m_localPort; }
    void SetLocalPort(int port);  // rebuilds the socket and binds it
    void Loaded();                // binds to LocalPort (a failure is not reported)
    bool Bound() const;           // whether the socket holds LocalPort

    // Sends length bytes of a private copy of buff. Throws EndpointError / UDPSockError.
    // beforeSend runs after the look-up, right before the datagram leaves; when it returns
    // false nothing leaves and SendVetoed is thrown.
    void SendDatagram(const QByteArray& buff, int length,
                      const std::function<bool()>& beforeSend = {});

    std::function<void(TNMUDP* sender, const QString& status)> OnStatus;
    std::function<void(TNMUDP* sender, int numberBytes, const QString& fromIP, int port)>
        OnDataReceived;
    std::function<void(TNMUDP* sender)> OnDataSend;
    std::function<void(bool& handled)> OnInvalidHost;
    std::function<void(bool& handled, QByteArray& buff, int& length)> OnBufferInvalid;
    std::function<void(bool& handled, QIODevice* stream)> OnStreamInvalid;  // never raised

    QString StatusText() const { return m_statusText; }
    int ReceivedCount() const { return m_receivedCount; }
    int LastError() const { return m_lastError; }

    // Internal steps, public so their rules can be checked directly.
    quint32 ResolveRemoteHost();  // host byte order
    void ReportStatus(int level, const QString& text);
    QString CheckSocketError(int ignore);
    QString SocketErrorText(int number);

    // Error numbers are Qt's socket error codes plus one (0: no error known). The
    // "operation would block" number is what every check ignores.
    static int WouldBlock();
    // The socket layer's last error number; the real socket's by default.
    std::function<int()> SocketLayerError;

  private:
    void MakeSocket();
    void CloseSocket();
    void ReceiveDatagram();

    HostResolver& m_resolver;
    std::unique_ptr<QUdpSocket> m_socket;
    int m_localPort = 0;
    QByteArray m_scratch;        // room for the largest datagram
    QByteArray m_receiveBuffer;  // the first 2048 bytes of the last one
    int m_receivedCount = 0;
    QString m_statusText;
    int m_lastError = 0;
};
