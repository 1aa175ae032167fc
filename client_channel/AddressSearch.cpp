#include "client_channel/AddressSearch.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "client_channel/NMUDP.h"

namespace {

// A whole number written in plain digits (no sign, no blanks inside), within [low, high].
bool WholeNumber(const QString& text, int low, int high, int* value) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 6) return false;
    for (const QChar c : t)
        if (c < u'0' || c > u'9') return false;
    *value = t.toInt();
    return *value >= low && *value <= high;
}

}  // namespace

std::variant<SearchRange, QString> ParseSearchFields(const QString& port, const QString& delay,
                                                     const QString& domain, const QString& first,
                                                     const QString& last) {
    SearchRange range;
    int value = 0;
    if (!WholeNumber(port, 1, 65535, &value)) return SearchText::BadPort;
    range.port = quint16(value);
    if (!WholeNumber(delay, 100, 10000, &range.timeoutMs)) return SearchText::BadDelay;
    const QStringList parts = domain.trimmed().split(u'.');
    if (parts.size() != 3) return SearchText::BadDomain;
    QStringList numbers;
    for (const QString& part : parts) {
        // Written back without leading zeros: "192.168.010" would read as octal elsewhere.
        if (part != part.trimmed() || !WholeNumber(part, 0, 255, &value))
            return SearchText::BadDomain;
        numbers << QString::number(value);
    }
    range.domain = numbers.join(u'.');
    if (!WholeNumber(first, 0, 255, &range.first) || !WholeNumber(last, 0, 255, &range.last))
        return SearchText::BadAddress;
    if (range.first > range.last) return SearchText::StartAfterEnd;
    return range;
}

AddressSearch::AddressSearch(HostResolver& resolver, QObject* parent)
    : QObject(parent), m_resolver(resolver) {}

AddressSearch::~AddressSearch() {
    m_running = false;
    for (const Probe& probe : m_probes) {
        probe.socket->disconnect(this);
        probe.socket->abort();
    }
}

void AddressSearch::Start(const SearchRange& range, int parallel) {
    Stop();
    m_range = range;
    m_next = range.first;
    m_parallel = std::max(1, parallel);
    m_done = 0;
    m_found = 0;
    m_running = true;
    emit progressed(0, Total());
    Launch();
}

void AddressSearch::Stop() {
    if (!m_running) return;
    m_running = false;
    const QList<Probe> probes = std::exchange(m_probes, {});
    for (const Probe& probe : probes) {
        probe.socket->disconnect(this);
        probe.timer->stop();
        probe.socket->abort();
        probe.socket->deleteLater();
        probe.timer->deleteLater();
    }
    emit finished(m_found, true);
}

void AddressSearch::Launch() {
    while (m_running && m_next <= m_range.last && m_probes.size() < m_parallel) {
        auto* socket = new QTcpSocket(this);
        socket->setProxy(QNetworkProxy::NoProxy);  // the café's own network, never a proxy
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        const QString address = m_range.Address(m_next++);
        m_probes.append({socket, timer, address});
        connect(socket, &QTcpSocket::connected, this, [this, socket] { Settle(socket, true); });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, socket] { Settle(socket, false); });
        connect(timer, &QTimer::timeout, this, [this, socket] { Settle(socket, false); });
        timer->start(m_range.timeoutMs);
        socket->connectToHost(QHostAddress(address), m_range.port);
    }
}

void AddressSearch::Settle(QTcpSocket* socket, bool answered) {
    const auto at = std::find_if(m_probes.begin(), m_probes.end(),
                                 [socket](const Probe& p) { return p.socket == socket; });
    if (at == m_probes.end()) return;  // already settled
    const Probe probe = *at;
    m_probes.erase(at);
    probe.socket->disconnect(this);
    probe.timer->stop();
    probe.socket->abort();  // the client sees a connection come and go, nothing more
    probe.socket->deleteLater();
    probe.timer->deleteLater();
    ++m_done;
    if (answered) {
        ++m_found;
        const QString address = probe.address;
        if (const auto ip = ParseDottedIPv4(address))
            m_resolver.nameOf(*ip, this, [this, address](const QString& name) {
                if (!name.isEmpty() && name != address) emit named(address, name);
            });
        emit found(address);
        if (!m_running) return;  // stopped by whoever heard of it
    }
    emit progressed(m_done, Total());
    if (!m_running) return;
    if (m_done == Total()) {
        m_running = false;
        emit finished(m_found, false);
        return;
    }
    Launch();
}
