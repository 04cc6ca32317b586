#pragma once
// Answers whether a datagram's source address belongs to this computer, which
// is what makes a heartbeat a local client's. Loopback addresses always do;
// the interfaces' addresses are read again when an unknown address asks, at
// most once per second, so an address added after start is learnt without a
// flood of lookups.

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <vector>

class OwnAddresses {
public:
    static constexpr int64_t kRefreshMs = 1000;

    // address is an IPv4 or IPv6 socket address (an IPv4 peer seen by an IPv6
    // socket arrives IPv4-mapped); anything else is not ours. nowMs is a
    // monotonic time, used only to space out the refreshes.
    bool contains(const sockaddr_storage& address, int64_t nowMs);

private:
    // Every address is kept in its IPv6 form, IPv4 ones mapped, so one
    // comparison serves both families.
    using Address = std::array<unsigned char, 16>;

    static bool normalise(const sockaddr* address, Address& out);
    bool known(const Address& address) const;
    void read();

    std::vector<Address> m_addresses;
    int64_t m_lastRefreshMs = 0;
    bool m_read = false;
};
