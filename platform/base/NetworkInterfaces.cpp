#include "base/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

std::vector<NetworkInterfaces::Address> NetworkInterfaces::query() {
    std::vector<Address> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (const ifaddrs* p = list; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* sin = reinterpret_cast<const sockaddr_in*>(p->ifa_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) continue;
        Address a;
        a.address = text;
        a.index = if_nametoindex(p->ifa_name);
        // Up without a carrier (a cable pulled, a radio off) carries nothing.
        a.running = (p->ifa_flags & IFF_UP) != 0 && (p->ifa_flags & IFF_RUNNING) != 0;
        a.loopback = (p->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(std::move(a));
    }
    freeifaddrs(list);
    return out;
}

std::vector<std::string> NetworkInterfaces::ordered(std::vector<Address> all) {
    std::erase_if(all, [](const Address& a) { return !a.running; });
    for (auto& a : all) a.loopback = a.loopback || isLoopback(a.address);
    std::stable_sort(all.begin(), all.end(), [](const Address& a, const Address& b) {
        if (a.loopback != b.loopback) return !a.loopback;
        return a.index < b.index;
    });
    std::vector<std::string> out;
    for (auto& a : all)
        if (std::find(out.begin(), out.end(), a.address) == out.end())
            out.push_back(std::move(a.address));
    return out;
}

std::vector<std::string> NetworkInterfaces::upIPv4() {
    return ordered(query());
}

bool NetworkInterfaces::isLoopback(const std::string& address) {
    in_addr a{};
    return inet_pton(AF_INET, address.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}
