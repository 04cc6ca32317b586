// Feeds arbitrary datagrams to what the hub does with one: read its header,
// learn or drop a client, and pick where to relay it. The first input byte
// chooses whether the datagram came from this computer and from which of a
// few ports, so heartbeats, stops and relays mix over one long-lived table.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xap-hub/HubClients.h"
#include "xap-hub/XapHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HubClients clients(3639);
    static int64_t now = 0;
    if (size == 0) return 0;
    const bool local = (data[0] & 1) != 0;
    const int senderPort = 40000 + (data[0] >> 1);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    now += 500;

    const auto header = XapHeader::parse(text);
    if (!header) return 0;
    if (local && header->isHeartbeat()) clients.heartbeat(*header, senderPort, now);
    for (int port : clients.targets(local, senderPort)) {
        if (port == 3639 || port < 1 || port > 65535 || !clients.find(port)) __builtin_trap();
    }
    if (clients.size() > HubClients::kMaxClients) __builtin_trap();
    clients.expire(now);
    // The hub sleeps until the next expiry: one already due would make it spin.
    const auto next = clients.nextExpiryMs();
    if (next.has_value() != (clients.size() > 0) || (next && *next <= now)) __builtin_trap();
    return 0;
}
