// Status pages per second from the running gateway's web server.
//
// Starts the real brindle with the real plug-in on a throw-away program folder
// whose device table holds the 511 default devices, with "IncludeX10" on (the
// largest page), and asks for /status over 127.0.0.1 with a small client of
// its own: one connection per request, as the server closes after each answer.
// Reports, at 1 and at 20 concurrent connections, pages per second, the
// latency median and 99th percentile (connect to the server's close), and the
// failed requests (no answer, a short answer, or not "200 OK"); and the
// server's resident memory before and after 10 000 requests. Bounded in count
// and time; loopback only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchHome.h"
#include "virtual-cm19a/VirtualCm19a.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) die("bind");
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// One request in flight on one connection.
struct Exchange {
    int fd = -1;
    size_t sent = 0;
    std::string answer;
    Clock::time_point start;
};

class LoadClient {
public:
    LoadClient(int port, std::string request) : m_port(port), m_request(std::move(request)) {}

    struct Result {
        double seconds = 0;
        size_t done = 0;
        size_t failed = 0;
        std::vector<double> latencyMs;
    };

    // Keeps `connections` requests in flight until `requests` have finished
    // or `limit` has passed.
    Result run(int connections, size_t requests, std::chrono::seconds limit) {
        Result r;
        std::vector<Exchange> slots(static_cast<size_t>(connections));
        size_t started = 0;
        const auto begin = Clock::now();
        const auto end = begin + limit;
        for (auto& s : slots)
            if (started < requests) open(s, started);
        while (r.done + r.failed < started && Clock::now() < end) {
            std::vector<pollfd> fds;
            for (auto& s : slots)
                if (s.fd >= 0)
                    fds.push_back({s.fd,
                                   static_cast<short>(s.sent < m_request.size() ? POLLOUT : POLLIN),
                                   0});
            ::poll(fds.data(), fds.size(), 100);
            for (auto& s : slots) {
                if (s.fd < 0) continue;
                const int state = step(s);
                if (state == 0) continue;
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - s.start).count();
                ::close(s.fd);
                s.fd = -1;
                if (state > 0 && complete(s.answer)) {
                    ++r.done;
                    r.latencyMs.push_back(ms);
                } else {
                    ++r.failed;
                }
                if (started < requests && Clock::now() < end) open(s, started);
            }
        }
        for (auto& s : slots)
            if (s.fd >= 0) {
                ::close(s.fd);
                ++r.failed;
            }
        r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        return r;
    }

private:
    void open(Exchange& s, size_t& started) {
        s = Exchange{};
        s.start = Clock::now();
        s.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(m_port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS)
            s.answer = "connect failed";
        ++started;
    }
    // 0 still going, 1 the server closed, -1 the exchange failed.
    int step(Exchange& s) {
        while (s.sent < m_request.size()) {
            const ssize_t n =
                ::send(s.fd, m_request.data() + s.sent, m_request.size() - s.sent, MSG_NOSIGNAL);
            if (n > 0) {
                s.sent += static_cast<size_t>(n);
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOTCONN ? 0 : -1;
        }
        char buf[256 * 1024];
        for (;;) {
            const ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
            if (n > 0) {
                s.answer.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) return 1;
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        }
    }
    // "200 OK" with as many body bytes as the header announced.
    static bool complete(const std::string& a) {
        if (a.rfind("HTTP/1.1 200 OK\r\n", 0) != 0) return false;
        const size_t head = a.find("\r\n\r\n");
        const size_t length = a.find("\r\nContent-Length: ");
        if (head == std::string::npos || length == std::string::npos) return false;
        return a.size() - head - 4 == std::strtoul(a.c_str() + length + 18, nullptr, 10);
    }

    int m_port;
    std::string m_request;
};

void report(const char* name, LoadClient::Result r) {
    std::sort(r.latencyMs.begin(), r.latencyMs.end());
    const auto at = [&](double q) {
        return r.latencyMs.empty()
                   ? 0.0
                   : r.latencyMs[std::min(
                         r.latencyMs.size() - 1,
                         static_cast<size_t>(q * static_cast<double>(r.latencyMs.size())))];
    };
    std::printf(
        "%-16s requests=%zu failed=%zu time=%.2f s pages/s=%.1f median=%.2f ms "
        "p99=%.2f ms max=%.2f ms\n",
        name, r.done, r.failed, r.seconds, static_cast<double>(r.done) / r.seconds, at(0.5),
        at(0.99), r.latencyMs.empty() ? 0.0 : r.latencyMs.back());
}

}  // namespace

int main() {
    const fs::path home = makeBenchHome("brindle-webbench");
    const int port = freePort();
    std::ofstream(home / "Config" / "qixBrindle.ini")
        << "[General]\nServerPort=" << port << "\nIncludeX10=1\n";
    // The transceiver's end: takes the connection and whatever is written.
    VirtualCm19a device((home / "bus").string(), "cm19a");
    std::string error;
    if (!device.plug(error)) die("device plug");

    const pid_t pid = startGateway(home);
    if (pid < 0) die("fork");

    LoadClient client(port, "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: bench\r\n\r\n");
    const auto startLimit = Clock::now() + std::chrono::seconds(30);
    while (client.run(1, 1, std::chrono::seconds(2)).done == 0)
        if (Clock::now() > startLimit) die("the web server never answered");
    client.run(1, 20, std::chrono::seconds(10));  // warm-up
    const long before = residentKiB(pid);

    report("1 connection", client.run(1, 200, std::chrono::seconds(60)));
    const auto many = client.run(20, 10000, std::chrono::seconds(120));
    report("20 connections", many);
    ::usleep(300 * 1000);
    const long after = residentKiB(pid);
    std::printf("resident memory: %ld KiB before, %ld KiB after %zu more requests\n", before, after,
                many.done + many.failed + 200);

    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::error_code ec;
    fs::remove_all(home, ec);
    return many.failed == 0 ? 0 : 1;
}
