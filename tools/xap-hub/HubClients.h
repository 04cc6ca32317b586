#pragma once
// The hub's table of local clients: programs on this computer that announce a
// port with heartbeats and get every datagram relayed there. Pure bookkeeping,
// no sockets, so it can be driven by tests and the fuzzer; times are
// milliseconds of a monotonic clock handed in by the caller.
//
// A client is known by its announced port. "xap-hbeat.alive" adds or refreshes
// it; "xap-hbeat.stop" and "xap-hbeat.stopped" remove it; silence for twice its
// interval expires it. The table never holds more than kMaxClients: a new
// client beyond that is refused until one leaves.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "xap-hub/XapHeader.h"

class HubClients {
public:
    static constexpr size_t kMaxClients = 256;
    static constexpr int kDefaultIntervalS = 60;
    static constexpr int kMaxIntervalS = 24 * 3600;
    // Longest source text kept for the hub's own log lines (control bytes
    // become "?").
    static constexpr size_t kMaxSourceKept = 120;

    struct Client {
        int port = 0;        // where datagrams are relayed, on 127.0.0.1
        int senderPort = 0;  // the UDP port its heartbeats came from
        std::string source;
        int intervalS = kDefaultIntervalS;
        int64_t lastSeenMs = 0;
    };

    enum class Change { None, Added, Refreshed, Removed, Refused };

    // hubPort is the hub's own port, which no client may announce: relaying to
    // it would feed the hub its own output.
    explicit HubClients(int hubPort) : m_hubPort(hubPort) {}

    // A heartbeat that came from this computer, from senderPort. *port, when
    // given, is set to the client port added, refreshed or removed.
    Change heartbeat(const XapHeader& hb, int senderPort, int64_t nowMs, int* port = nullptr);

    // The client ports a datagram goes to: every client once, except the one it
    // came from (a datagram from this computer whose sender port is a client's
    // announced port or the port its heartbeats come from).
    std::vector<int> targets(bool fromThisComputer, int senderPort) const;
    // The same into `ports` (cleared first), so a hot loop reuses one buffer.
    void targets(bool fromThisComputer, int senderPort, std::vector<int>& ports) const;

    // Removes the clients silent for twice their interval and returns them.
    std::vector<Client> expire(int64_t nowMs);
    // When the next client falls silent for twice its interval, or nullopt
    // with no clients: the hub sleeps until then when no datagram comes.
    std::optional<int64_t> nextExpiryMs() const;

    const Client* find(int port) const;
    size_t size() const { return m_clients.size(); }

private:
    int m_hubPort;
    std::map<int, Client> m_clients;
};
