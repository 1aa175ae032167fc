#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <variant>

class HostResolver;
class QTcpSocket;
class QTimer;

// What the search dialog's five fields ask for, checked.
struct SearchRange {
    QString domain;  // three numbers, e.g. "192.168.0"
    int first = 1, last = 255;
    quint16 port = 7626;
    int timeoutMs = 2000;

    int Count() const { return last - first + 1; }
    QString Address(int host) const { return domain + u'.' + QString::number(host); }
};

namespace SearchText {
inline const QString BadPort = QStringLiteral("临听端口应是 1 到 65535 之间的整数，请重新输入！");
inline const QString BadDelay =
    QStringLiteral("延迟时间应是 100 到 10000 之间的整数（毫秒），请重新输入！");
inline const QString BadDomain =
    QStringLiteral("起始域应是用点隔开的三个 0 到 255 之间的数，例如 192.168.0，请重新输入！");
inline const QString BadAddress =
    QStringLiteral("起始地址和终止地址应是 0 到 255 之间的整数，请重新输入！");
inline const QString StartAfterEnd = QStringLiteral("起始地址不能大于终止地址，请重新输入！");
}  // namespace SearchText

// The range, or the text of the box for the first field that is wrong (in the order shown).
std::variant<SearchRange, QString> ParseSearchFields(const QString& port, const QString& delay,
                                                     const QString& domain, const QString& first,
                                                     const QString& last);

// Looks for client machines over a range of IPv4 addresses: a machine is one that accepts a TCP
// connection on the port within the time allowed. Probes run on the event loop, at most
// `parallel` at once; nothing waits in a loop of its own.
class AddressSearch : public QObject {
    Q_OBJECT
  public:
    explicit AddressSearch(HostResolver& resolver, QObject* parent = nullptr);
    ~AddressSearch() override;

    void Start(const SearchRange& range, int parallel = 32);
    void Stop();  // aborts the probes in flight; no probe starts after it

    bool Running() const { return m_running; }
    int Done() const { return m_done; }
    int Total() const { return m_range.Count(); }
    int InFlight() const { return int(m_probes.size()); }
    int Found() const { return m_found; }

  signals:
    void progressed(int done, int total);
    void found(const QString& address);
    void named(const QString& address, const QString& hostName);  // a reverse look-up's answer
    void finished(int found, bool stopped);

  private:
    struct Probe {
        QTcpSocket* socket;
        QTimer* timer;
        QString address;
    };
    void Launch();
    void Settle(QTcpSocket* socket, bool answered);

    HostResolver& m_resolver;
    SearchRange m_range;
    int m_next = 0;  // the next host number to probe
    int m_parallel = 32;
    int m_done = 0;
    int m_found = 0;
    bool m_running = false;
    QList<Probe> m_probes;
};
