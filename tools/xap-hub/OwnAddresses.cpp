#include "xap-hub/OwnAddresses.h"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

}  // namespace

bool OwnAddresses::normalise(const sockaddr* address, Address& out) {
    if (address == nullptr) return false;
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        std::memcpy(out.data(), kMappedPrefix, sizeof kMappedPrefix);
        std::memcpy(out.data() + 12, &v4->sin_addr, 4);
        return true;
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        std::memcpy(out.data(), &v6->sin6_addr, 16);
        return true;
    }
    return false;
}

bool OwnAddresses::contains(const sockaddr_storage& address, int64_t nowMs) {
    Address a{};
    if (!normalise(reinterpret_cast<const sockaddr*>(&address), a)) return false;
    static const Address kLoopback6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const bool loopback4 = std::memcmp(a.data(), kMappedPrefix, 12) == 0 && a[12] == 127;
    if (loopback4 || a == kLoopback6) return true;
    if (known(a)) return true;
    if (m_read && nowMs - m_lastRefreshMs < kRefreshMs) return false;
    read();
    m_lastRefreshMs = nowMs;
    m_read = true;
    return known(a);
}

bool OwnAddresses::known(const Address& address) const {
    return std::find(m_addresses.begin(), m_addresses.end(), address) != m_addresses.end();
}

void OwnAddresses::read() {
    ifaddrs* list = nullptr;
    // On failure the addresses known so far stay: a passing error must not make
    // every local client look remote.
    if (getifaddrs(&list) != 0) return;
    m_addresses.clear();
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        Address a{};
        if (normalise(i->ifa_addr, a)) m_addresses.push_back(a);
    }
    freeifaddrs(list);
}
