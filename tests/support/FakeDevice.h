#pragma once
// Plays the transceiver on the device end of a virtual bus socket, the way the
// command-line virtual transceiver does, but step by step under the test's
// control: listens while plugged in, accepts the program's connection, receives
// the 'W' packets written and sends 'R' packets as completed reads.

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

inline bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & events) != 0;
}

class FakeDevice {
public:
    explicit FakeDevice(std::string path) : m_path(std::move(path)) { plug(); }
    ~FakeDevice() {
        hangUp();
        unplug();
    }
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    void plug() {
        m_listen = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, m_path.c_str(), sizeof a.sun_path - 1);
        ::unlink(m_path.c_str());
        EXPECT_EQ(::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_listen, 4), 0);
    }
    void unplug() {
        if (m_listen < 0) return;
        ::close(m_listen);
        m_listen = -1;
        ::unlink(m_path.c_str());
    }
    bool connectionWaiting() const { return waitFor(m_listen, POLLIN, 0); }
    bool accept() {
        if (!waitFor(m_listen, POLLIN, 1000)) return false;
        hangUp();
        m_conn = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_conn >= 0;
    }
    // Drops the program's connection while staying plugged in.
    void hangUp() {
        if (m_conn >= 0) ::close(m_conn);
        m_conn = -1;
    }
    void send(const std::string& packet) {
        ASSERT_EQ(::send(m_conn, packet.data(), packet.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(packet.size()))
            << std::strerror(errno);
    }
    // The next packet the program wrote, or nothing within the time.
    std::optional<std::string> receive(int timeoutMs = 1000) {
        if (!waitFor(m_conn, POLLIN, timeoutMs)) return std::nullopt;
        char buf[512];
        const ssize_t n = ::recv(m_conn, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) return std::nullopt;
        return std::string(buf, static_cast<std::size_t>(n));
    }
    // Every packet written until the program goes quiet.
    std::vector<std::string> drain() {
        std::vector<std::string> packets;
        while (auto p = receive(150)) packets.push_back(*p);
        return packets;
    }

private:
    std::string m_path;
    int m_listen = -1;
    int m_conn = -1;
};
