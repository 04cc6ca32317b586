#include "xap-hub/XapHub.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "xap-hub/HubLog.h"
#include "xap-hub/XapHeader.h"

namespace {

// The largest UDP payload, so no datagram is ever cut.
constexpr size_t kSlotBytes = 65536;

using Level = HubLog::Level;

// An address as people write it; an IPv4-mapped one as plain IPv4.
std::string host(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                  sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a))
            inet_ntop(AF_INET, a.s6_addr + 12, text, sizeof text);
        else
            inet_ntop(AF_INET6, &a, text, sizeof text);
    }
    return text;
}

int portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

}  // namespace

XapHub::XapHub(int port)
    : m_port(port),
      m_clients(port),
      m_in(kBatch),
      m_inVec(kBatch),
      m_inFrom(kBatch),
      m_out(kMaxSends),
      m_outVec(kMaxSends),
      m_outTo(kMaxSends) {
    m_targets.reserve(HubClients::kMaxClients);
}

XapHub::~XapHub() {
    if (m_fd >= 0) ::close(m_fd);
    if (m_slots != nullptr) ::munmap(m_slots, kSlotBytes * kBatch);
}

bool XapHub::start(const std::string& address, std::string* error) {
    sockaddr_storage bindAddress{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&bindAddress);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&bindAddress);
    socklen_t bindLength = sizeof *v4;
    if (address.empty() || inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(m_port));
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(m_port));
        bindLength = sizeof *v6;
    } else {
        if (error) *error = "not an address: " + address;
        return false;
    }
    m_family = bindAddress.ss_family;

    void* slots = ::mmap(nullptr, kSlotBytes * kBatch, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (slots == MAP_FAILED) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    m_slots = static_cast<char*>(slots);
    m_fd = ::socket(m_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    const int on = 1, off = 0;
    // An IPv6 address also takes IPv4 datagrams, and relays to 127.0.0.1
    // through its IPv4-mapped form.
    if (m_family == AF_INET6) ::setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    // Broadcasts from the LAN must reach this socket, and the option is
    // explicit here rather than left to the socket layer's defaults. No
    // SO_REUSEADDR: a second hub on the port would split the traffic.
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&bindAddress), bindLength) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }

    for (int i = 0; i < kBatch; ++i) {
        m_inVec[i] = {m_slots + kSlotBytes * i, kSlotBytes};
        m_in[i] = {};
        m_in[i].msg_hdr.msg_iov = &m_inVec[i];
        m_in[i].msg_hdr.msg_iovlen = 1;
    }
    // Every relay goes to a client's port on this computer's loopback.
    for (int i = 0; i < kMaxSends; ++i) {
        Address& to = m_outTo[i];
        std::memset(&to, 0, sizeof to);
        if (m_family == AF_INET) {
            to.v4.sin_family = AF_INET;
            to.v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        } else {
            to.v6.sin6_family = AF_INET6;
            inet_pton(AF_INET6, "::ffff:127.0.0.1", &to.v6.sin6_addr);
        }
        m_out[i] = {};
        m_out[i].msg_hdr.msg_name = &to;
        m_out[i].msg_hdr.msg_namelen = m_family == AF_INET ? sizeof to.v4 : sizeof to.v6;
        m_out[i].msg_hdr.msg_iov = &m_outVec[i];
        m_out[i].msg_hdr.msg_iovlen = 1;
    }

    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    HubLog::write(Level::Info, "listening on %s:%d", host(bound).c_str(), portOf(bound));
    return true;
}

bool XapHub::run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    while (stop == 0) {
        const int64_t now = nowMs();
        if (m_expiryStale) {
            m_nextExpiryMs = m_clients.nextExpiryMs();
            m_expiryStale = false;
        }
        if (m_nextExpiryMs && now >= *m_nextExpiryMs) {
            expireClients(now);
            continue;
        }
        timespec timeout{};
        if (m_nextExpiryMs) {
            const int64_t waitMs = *m_nextExpiryMs - now;
            timeout.tv_sec = static_cast<time_t>(waitMs / 1000);
            timeout.tv_nsec = static_cast<long>(waitMs % 1000) * 1'000'000;
        }
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::ppoll(&p, 1, m_nextExpiryMs ? &timeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            HubLog::write(Level::Error, "cannot wait for datagrams: %s", std::strerror(errno));
            return false;
        }
        if (ready == 0) continue;
        for (int n = 0; n < kBatchesPerWake; ++n)
            if (receiveBatch() < kBatch) break;
    }
    return true;
}

int XapHub::receiveBatch() {
    for (int i = 0; i < kBatch; ++i) {
        m_in[i].msg_hdr.msg_name = &m_inFrom[i];
        m_in[i].msg_hdr.msg_namelen = sizeof m_inFrom[i];
    }
    const int count = ::recvmmsg(m_fd, m_in.data(), kBatch, MSG_DONTWAIT, nullptr);
    // An error reported by the socket layer is no datagram; the next wake-up
    // reads on.
    if (count <= 0) return 0;
    m_batchMs = nowMs();
    for (int i = 0; i < count; ++i) {
        if (m_in[i].msg_hdr.msg_flags & MSG_TRUNC) continue;
        handle(i, m_in[i].msg_len);
    }
    flushRelays();
    // A large datagram leaves its slot's pages resident; giving them back
    // keeps the hub small after a burst of them.
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    for (int i = 0; i < count; ++i)
        if (m_in[i].msg_len > page)
            ::madvise(m_slots + kSlotBytes * i + page, kSlotBytes - page, MADV_DONTNEED);
    return count;
}

void XapHub::handle(int slot, size_t length) {
    const std::string_view text(m_slots + kSlotBytes * slot, length);
    const sockaddr_storage& from = m_inFrom[slot];
    const auto header = XapHeader::parse(text);
    if (!header) {
        // The sender's port is left out so that a flood from one host makes
        // one repeated line, which the log collapses.
        HubLog::write(Level::Info, "dropped a datagram from %s that is not xAP",
                      host(from).c_str());
        return;
    }
    const int fromPort = portOf(from);
    const bool local = m_own.contains(from, m_batchMs);
    if (local && header->isHeartbeat()) {
        int port = 0;
        switch (m_clients.heartbeat(*header, fromPort, m_batchMs, &port)) {
            case HubClients::Change::Added:
                HubLog::write(Level::Info, "client %d joined: %s (every %d s)", port,
                              m_clients.find(port)->source.c_str(),
                              m_clients.find(port)->intervalS);
                m_expiryStale = true;
                break;
            case HubClients::Change::Removed:
                HubLog::write(Level::Info, "client %d stopped", port);
                m_expiryStale = true;
                break;
            case HubClients::Change::Refreshed:
                m_expiryStale = true;
                break;
            case HubClients::Change::Refused:
                HubLog::write(Level::Warning,
                              "client table full (%zu); heartbeat for port %d ignored",
                              HubClients::kMaxClients, header->port);
                break;
            case HubClients::Change::None:
                break;
        }
    }
    m_clients.targets(local, fromPort, m_targets);
    for (int port : m_targets) queueRelay(slot, length, port);
}

void XapHub::queueRelay(int slot, size_t length, int port) {
    if (m_outCount == kMaxSends) flushRelays();
    const int i = m_outCount++;
    m_outVec[i] = {m_slots + kSlotBytes * slot, length};
    if (m_family == AF_INET)
        m_outTo[i].v4.sin_port = htons(static_cast<uint16_t>(port));
    else
        m_outTo[i].v6.sin6_port = htons(static_cast<uint16_t>(port));
}

void XapHub::flushRelays() {
    int sent = 0;
    while (sent < m_outCount) {
        const int n = ::sendmmsg(m_fd, m_out.data() + sent, m_outCount - sent, MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // This relay cannot go now (a full buffer): it is dropped, as a
            // datagram would be on the wire, and the others still go.
            ++sent;
        }
    }
    m_outCount = 0;
}

void XapHub::expireClients(int64_t nowMs) {
    for (const auto& c : m_clients.expire(nowMs))
        HubLog::write(Level::Info, "client %d expired: %s (silent for %d s)", c.port,
                      c.source.c_str(), 2 * c.intervalS);
    m_nextExpiryMs = m_clients.nextExpiryMs();
    m_expiryStale = false;
}

int64_t XapHub::nowMs() {
    // Client silence is measured on a monotonic clock: a step of the wall
    // clock must neither expire every client nor keep dead ones.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1'000'000;
}
