#pragma once
// The xAP hub: one UDP socket on the xAP port (all addresses, broadcasts
// received), a table of local clients learnt from their heartbeats, and a
// relay of every xAP datagram, from the network or from a local client, to
// each live client on 127.0.0.1 once, never back to the client it came from.
// Texts that are not xAP are dropped.
//
// One thread, no timer: run() sleeps in ppoll until a datagram arrives, the
// next client is due to expire or a signal comes. Each wake-up reads what is
// queued in batches (recvmmsg) and sends the relays of a batch together
// (sendmmsg), in the order the datagrams came. Memory is fixed after start:
// the batch buffers and the client table (HubClients) are bounded.
//
// Log lines (client joined, left, expired, refused, datagrams dropped) go to
// standard error through HubLog.

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "xap-hub/HubClients.h"
#include "xap-hub/OwnAddresses.h"

class XapHub {
public:
    static constexpr int kXapPort = 3639;
    // Datagrams read per system call.
    static constexpr int kBatch = 32;
    // Receive calls per wake-up before the hub looks at signals again, so a
    // flood cannot keep it from stopping.
    static constexpr int kBatchesPerWake = 16;
    // Relays sent per system call.
    static constexpr int kMaxSends = 256;

    explicit XapHub(int port = kXapPort);
    ~XapHub();
    XapHub(const XapHub&) = delete;
    XapHub& operator=(const XapHub&) = delete;

    // Binds the port on the address ("" or "0.0.0.0" for all); false with the
    // reason in *error when the port is taken or the address is not ours.
    bool start(const std::string& address, std::string* error);

    // Relays until `stop` is set by a signal handler. The caller blocks the
    // stopping signals; `waitMask` is the mask while asleep (the stopping
    // signals unblocked), so a signal is only taken between wake-ups. Returns
    // false when the socket fails for good.
    bool run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

private:
    union Address {
        sockaddr_in v4;
        sockaddr_in6 v6;
    };

    // Reads one batch; the number of datagrams read (0 when none are queued).
    int receiveBatch();
    void handle(int slot, size_t length);
    void queueRelay(int slot, size_t length, int port);
    void flushRelays();
    void expireClients(int64_t nowMs);
    static int64_t nowMs();

    int m_port;
    int m_fd = -1;
    int m_family = AF_INET;
    HubClients m_clients;
    OwnAddresses m_own;
    std::optional<int64_t> m_nextExpiryMs;
    bool m_expiryStale = false;
    int64_t m_batchMs = 0;

    // kBatch slots big enough for any UDP datagram, mapped but touched only as
    // far as datagrams reach, so ordinary (small) texts keep them cheap.
    char* m_slots = nullptr;
    std::vector<mmsghdr> m_in;
    std::vector<iovec> m_inVec;
    std::vector<sockaddr_storage> m_inFrom;
    std::vector<mmsghdr> m_out;
    std::vector<iovec> m_outVec;
    std::vector<Address> m_outTo;
    int m_outCount = 0;
    std::vector<int> m_targets;
};
