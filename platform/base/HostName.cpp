#include "base/HostName.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>
#include <algorithm>

std::string hostName() {
    char buf[128] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

std::string computerNameOf(std::string_view hostName) {
    return std::string(hostName.substr(0, hostName.find('.')));
}

std::vector<std::string> resolveIPv4(const std::string& name) {
    std::vector<std::string> out;
    if (name.empty()) return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0) return out;
    for (addrinfo* p = res; p != nullptr; p = p->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* sin = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) continue;
        if (std::find(out.begin(), out.end(), text) == out.end()) out.emplace_back(text);
    }
    freeaddrinfo(res);
    return out;
}
