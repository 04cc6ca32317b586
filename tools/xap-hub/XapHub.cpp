#include "xap-hub/XapHub.h"

#include <sys/socket.h>

#include <QLoggingCategory>
#include <QNetworkDatagram>

Q_LOGGING_CATEGORY(lcHub, "xap.hub", QtInfoMsg)

namespace {

std::string host(const QHostAddress& address) {
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    return (v4 ? QHostAddress(ip).toString() : address.toString()).toStdString();
}

std::string endpoint(const QHostAddress& address, int port) {
    return host(address) + ":" + std::to_string(port);
}

}  // namespace

XapHub::XapHub(int port) : m_port(port), m_clients(port) {
    m_monotonic.start();
    QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] { readPending(); });
    m_expiry.onTimer([this] { expireClients(); });
}

bool XapHub::start(const std::string& address, std::string* error) {
    QHostAddress bindAddress(QHostAddress::AnyIPv4);
    if (!address.empty() && !bindAddress.setAddress(QString::fromStdString(address))) {
        if (error) *error = "not an address: " + address;
        return false;
    }
    // Exclusive: a second hub on the port would split the traffic between them.
    if (!m_socket.bind(bindAddress, static_cast<quint16>(m_port),
                       QAbstractSocket::DontShareAddress)) {
        if (error) *error = m_socket.errorString().toStdString();
        return false;
    }
    // Broadcasts from the LAN must reach this socket, and the option is
    // explicit here rather than left to the socket layer's defaults.
    const int on = 1;
    ::setsockopt(static_cast<int>(m_socket.socketDescriptor()), SOL_SOCKET, SO_BROADCAST, &on,
                 sizeof on);
    m_expiry.setInterval(kExpiryCheckMs);
    m_expiry.setEnabled(true);
    qCInfo(lcHub, "listening on %s",
           endpoint(m_socket.localAddress(), m_socket.localPort()).c_str());
    return true;
}

void XapHub::readPending() {
    for (int n = 0; n < kReadsPerNotice && m_socket.hasPendingDatagrams(); ++n) {
        const QNetworkDatagram d = m_socket.receiveDatagram();
        if (!d.isValid()) {
            // An error reported by the socket layer (say a refused port after
            // an earlier relay) is no datagram; reading goes on.
            continue;
        }
        handle(d.data(), d.senderAddress(), d.senderPort());
    }
}

void XapHub::handle(const QByteArray& data, const QHostAddress& from, int fromPort) {
    const std::string_view text(data.constData(), static_cast<size_t>(data.size()));
    const auto header = XapHeader::parse(text);
    if (!header) {
        // The sender's port is left out so that a flood from one host makes
        // one repeated line, which the message filter collapses.
        qCInfo(lcHub, "dropped a datagram from %s that is not xAP", host(from).c_str());
        return;
    }
    const bool local = m_own.contains(from, nowMs());
    if (local && header->isHeartbeat()) {
        int port = 0;
        switch (m_clients.heartbeat(*header, fromPort, nowMs(), &port)) {
            case HubClients::Change::Added:
                qCInfo(lcHub, "client %d joined: %s (every %d s)", port,
                       m_clients.find(port)->source.c_str(), m_clients.find(port)->intervalS);
                break;
            case HubClients::Change::Removed:
                qCInfo(lcHub, "client %d stopped", port);
                break;
            case HubClients::Change::Refused:
                qCWarning(lcHub, "client table full (%zu); heartbeat for port %d ignored",
                          HubClients::kMaxClients, header->port);
                break;
            case HubClients::Change::None:
            case HubClients::Change::Refreshed:
                break;
        }
    }
    const QHostAddress loopback(QHostAddress::LocalHost);
    for (int port : m_clients.targets(local, fromPort))
        m_socket.writeDatagram(data, loopback, static_cast<quint16>(port));
}

void XapHub::expireClients() {
    for (const auto& c : m_clients.expire(nowMs()))
        qCInfo(lcHub, "client %d expired: %s (silent for %d s)", c.port, c.source.c_str(),
               2 * c.intervalS);
}
