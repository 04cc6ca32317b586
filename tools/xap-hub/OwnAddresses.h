#pragma once
// Answers whether a datagram's source address belongs to this computer, which
// is what makes a heartbeat a local client's. Loopback addresses always do;
// the interfaces' addresses are read again when an unknown address asks, at
// most once per second, so an address added after start is learnt without a
// flood of lookups.

#include <QHostAddress>
#include <QList>
#include <cstdint>

class OwnAddresses {
public:
    static constexpr int64_t kRefreshMs = 1000;

    // nowMs is a monotonic time, used only to space out the refreshes.
    bool contains(const QHostAddress& address, int64_t nowMs);

private:
    bool known(const QHostAddress& address) const;

    QList<QHostAddress> m_addresses;
    int64_t m_lastRefreshMs = 0;
    bool m_read = false;
};
