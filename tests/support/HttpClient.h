#pragma once
// A plain TCP client for tests of the web server on 127.0.0.1: connects, sends
// raw bytes (in as many packets as the test likes) and collects the answer
// until the server closes. Never blocks: events keep running while it waits,
// so it can talk to a server on the test's own event loop.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <string>

#include "support/RunEvents.h"

class HttpClient {
public:
    explicit HttpClient(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Loopback connects complete in the kernel, whether or not the server
        // has looked at its listener yet.
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }
    ~HttpClient() { close(); }
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool connected() const { return m_connected; }

    // Sends every byte, letting events run while the connection is full.
    // False when the server closed or reset the connection first.
    bool send(const std::string& data, int limitMs = 5000) {
        size_t sent = 0;
        const bool ok = runUntil(
            [&] {
                while (sent < data.size()) {
                    const ssize_t n =
                        ::send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
                    if (n > 0) {
                        sent += static_cast<size_t>(n);
                        continue;
                    }
                    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
                    m_failed = true;
                    return true;
                }
                return true;
            },
            limitMs);
        return ok && !m_failed;
    }

    // Everything the server sends until it closes the connection (or the time
    // runs out; then closedByServer() is false).
    std::string answer(int limitMs = 5000) {
        runUntil([this] { return poll(); }, limitMs);
        return m_received;
    }
    // Reads what has arrived so far; true once the server has closed.
    bool poll() {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n > 0) {
                m_received.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) m_closed = true;
            return m_closed;
        }
    }
    bool closedByServer() const { return m_closed; }
    const std::string& received() const { return m_received; }

    void close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    // A port nothing listens on right now.
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_failed = false;
    bool m_closed = false;
    std::string m_received;
};
