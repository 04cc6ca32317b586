#include "xap-hub/HubClients.h"

#include <algorithm>
#include <cctype>

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return i == a.size() && b[i] == '\0';
}

int64_t silenceLimitMs(const HubClients::Client& c) {
    return 2 * int64_t{c.intervalS} * 1000;
}

}  // namespace

HubClients::Change HubClients::heartbeat(const XapHeader& hb, int senderPort, int64_t nowMs,
                                         int* port) {
    if (!hb.isHeartbeat()) return Change::None;

    if (equalsIgnoringCase(hb.msgClass, "xap-hbeat.stop") ||
        equalsIgnoringCase(hb.msgClass, "xap-hbeat.stopped")) {
        // A stopping program may leave the port out; then the port it sends
        // from names it.
        auto it = m_clients.end();
        if (hb.port != 0) {
            it = m_clients.find(hb.port);
        } else {
            it = std::find_if(m_clients.begin(), m_clients.end(), [&](const auto& entry) {
                return entry.second.senderPort == senderPort || entry.first == senderPort;
            });
        }
        if (it == m_clients.end()) return Change::None;
        if (port) *port = it->first;
        m_clients.erase(it);
        return Change::Removed;
    }

    if (!equalsIgnoringCase(hb.msgClass, "xap-hbeat.alive")) return Change::None;
    if (hb.port == 0 || hb.port == m_hubPort) return Change::None;

    auto it = m_clients.find(hb.port);
    Change change = Change::Refreshed;
    if (it == m_clients.end()) {
        if (m_clients.size() >= kMaxClients) return Change::Refused;
        it = m_clients.emplace(hb.port, Client{}).first;
        it->second.port = hb.port;
        change = Change::Added;
    }
    if (port) *port = hb.port;
    Client& c = it->second;
    c.senderPort = senderPort;
    // Kept for log lines, so control bytes that could steer a terminal go.
    c.source = hb.source.substr(0, kMaxSourceKept);
    for (char& ch : c.source)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '?';
    c.intervalS = hb.interval == 0 ? kDefaultIntervalS : std::min(hb.interval, kMaxIntervalS);
    c.lastSeenMs = nowMs;
    return change;
}

std::vector<int> HubClients::targets(bool fromThisComputer, int senderPort) const {
    std::vector<int> ports;
    targets(fromThisComputer, senderPort, ports);
    return ports;
}

void HubClients::targets(bool fromThisComputer, int senderPort, std::vector<int>& ports) const {
    ports.clear();
    for (const auto& [port, c] : m_clients) {
        if (fromThisComputer && (port == senderPort || c.senderPort == senderPort)) continue;
        ports.push_back(port);
    }
}

std::vector<HubClients::Client> HubClients::expire(int64_t nowMs) {
    std::vector<Client> gone;
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        const int64_t silentMs = nowMs - it->second.lastSeenMs;
        if (silentMs >= silenceLimitMs(it->second)) {
            gone.push_back(std::move(it->second));
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
    return gone;
}

std::optional<int64_t> HubClients::nextExpiryMs() const {
    std::optional<int64_t> next;
    for (const auto& entry : m_clients) {
        const int64_t at = entry.second.lastSeenMs + silenceLimitMs(entry.second);
        if (!next || at < *next) next = at;
    }
    return next;
}

const HubClients::Client* HubClients::find(int port) const {
    const auto it = m_clients.find(port);
    return it == m_clients.end() ? nullptr : &it->second;
}
