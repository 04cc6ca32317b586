#include "xap-hub/OwnAddresses.h"

#include <QNetworkInterface>

bool OwnAddresses::contains(const QHostAddress& address, int64_t nowMs) {
    if (address.isLoopback()) return true;
    if (known(address)) return true;
    if (m_read && nowMs - m_lastRefreshMs < kRefreshMs) return false;
    m_addresses = QNetworkInterface::allAddresses();
    m_lastRefreshMs = nowMs;
    m_read = true;
    return known(address);
}

bool OwnAddresses::known(const QHostAddress& address) const {
    // A datagram from an IPv4 peer may arrive as an IPv4-mapped IPv6 address.
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    for (const QHostAddress& own : m_addresses) {
        if (own == address) return true;
        bool ownOk = false;
        if (ok && own.toIPv4Address(&ownOk) == v4 && ownOk) return true;
    }
    return false;
}
