// Status pages per second from the running gateway's web server, and the
// gateway's CPU time per page.
//
// Starts the real brindle with the real plug-in on a throw-away program folder
// (for each build: this one, and the baseline when BRINDLE_BASELINE names
// one) and asks for /status over 127.0.0.1 with a small client of its own: one
// connection per request, as the server closes after each answer. The page is
// shown with 0 rows (only used devices, none used), 100 rows (100 used X10
// devices) and 511 rows (every Ninja and X10 device), switched by editing
// qixBrindle.ini while the gateway runs. Reports, per build and in interleaved
// rounds (the median of the rounds):
//   - CPU ms per page (user and system, from /proc) at 0, 100 and 511 rows,
//     one connection at a time;
//   - pages per second at 1 and at 20 concurrent connections with 511 rows,
//     the latency median and 99th percentile (connect to the server's close),
//     and the CPU ms per page at 20 connections (where pages share the turns
//     of the event loop, and with them the look at the files on disk),
//     and the failed requests (no answer, a short answer, or not "200 OK");
//   - the server's resident memory before and after.
// Bounded in count and time; loopback only.
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
#include <memory>
#include <string>
#include <vector>

#include "BenchHome.h"
#include "virtual-cm19a/VirtualCm19a.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

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
                    m_lastBytes = s.answer.size();
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

    // The size of the last complete answer, header included.
    size_t lastBytes() const { return m_lastBytes; }

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
    size_t m_lastBytes = 0;
};

// The page's layouts: which devices show, and the used marks that give 100 rows.
std::string settings(int port, int rows) {
    std::string text = "[General]\nServerPort=" + std::to_string(port) + "\n";
    text += rows == 511   ? "ShowOnlyUsed=0\nIncludeX10=1\n"
            : rows == 100 ? "ShowOnlyUsed=1\nIncludeX10=1\n"
                          : "ShowOnlyUsed=1\nIncludeX10=0\n";
    text += "[PluginDevices]\n";
    int used = 0;
    for (char house = 'A'; house <= 'P' && used < 100; ++house)
        for (int unit = 1; unit <= 16 && used < 100; ++unit, ++used) {
            const std::string code = house + std::to_string(unit);
            text += code + "=Bench;Lamp " + code + ";;1;0;0;;0;0;1899-12-30 00:00:00;\n";
        }
    return text;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

constexpr int kRows[] = {0, 100, 511};
constexpr int kRounds = 3;
constexpr size_t kCpuPages = 100;
constexpr size_t kManyRequests = 1000;

// One build's gateway, started once and measured in every round.
struct Gateway {
    BenchBuild build;
    fs::path home;
    int port = 0;
    pid_t pid = -1;
    std::unique_ptr<VirtualCm19a> device;
    std::vector<double> cpu[3];  // per layout, one value per round
    std::vector<double> pages1;
    std::vector<double> pages20;
    std::vector<double> cpu20;  // CPU ms per page at 20 connections, 511 rows
    std::vector<double> latency20;  // every request of every round
    std::vector<double> latency1;
    size_t pageBytes[3] = {0, 0, 0};
    size_t failed = 0;
    long residentBefore = 0;
};

// The layout takes effect from the gateway's next event-loop turn.
void useLayout(Gateway& g, size_t layout) {
    std::ofstream(g.home / "Config" / "qixBrindle.ini") << settings(g.port, kRows[layout]);
}

void start(Gateway& g) {
    g.home = makeBenchHome("brindle-webbench-" + g.build.name.substr(0, 6), {}, g.build.kestrel);
    g.port = freePort();
    useLayout(g, 2);
    // The transceiver's end: takes the connection and whatever is written.
    g.device = std::make_unique<VirtualCm19a>((g.home / "bus").string(), "cm19a");
    std::string error;
    if (!g.device->plug(error)) die("device plug");
    g.pid = startGateway(g.home, g.build.exe);
    if (g.pid < 0) die("fork");
    LoadClient client(g.port, "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const auto startLimit = Clock::now() + std::chrono::seconds(30);
    while (client.run(1, 1, std::chrono::seconds(2)).done == 0)
        if (Clock::now() > startLimit) die("the web server never answered");
    client.run(1, 20, std::chrono::seconds(10));  // warm-up
    g.residentBefore = residentKiB(g.pid);
}

void measure(Gateway& g) {
    LoadClient client(g.port,
                      "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: bench\r\n\r\n");
    for (size_t layout = 0; layout < 3; ++layout) {
        useLayout(g, layout);
        const auto first = client.run(1, 5, std::chrono::seconds(10));
        g.pageBytes[layout] = client.lastBytes();
        g.failed += first.failed;
        const double before = cpuMs(g.pid);
        const auto r = client.run(1, kCpuPages, std::chrono::seconds(60));
        g.cpu[layout].push_back((cpuMs(g.pid) - before) / static_cast<double>(r.done));
        g.failed += r.failed;
    }
    // useLayout left the 511 rows in place.
    const auto one = client.run(1, 100, std::chrono::seconds(60));
    g.pages1.push_back(static_cast<double>(one.done) / one.seconds);
    g.latency1.insert(g.latency1.end(), one.latencyMs.begin(), one.latencyMs.end());
    const double before = cpuMs(g.pid);
    const auto many = client.run(20, kManyRequests, std::chrono::seconds(120));
    g.cpu20.push_back((cpuMs(g.pid) - before) / static_cast<double>(many.done));
    g.pages20.push_back(static_cast<double>(many.done) / many.seconds);
    g.latency20.insert(g.latency20.end(), many.latencyMs.begin(), many.latencyMs.end());
    g.failed += one.failed + many.failed;
}

void stop(Gateway& g) {
    ::kill(g.pid, SIGTERM);
    ::waitpid(g.pid, nullptr, 0);
    g.device.reset();
    std::error_code ec;
    fs::remove_all(g.home, ec);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<Gateway> gateways;
    for (const BenchBuild& b : benchBuilds()) {
        gateways.emplace_back();
        gateways.back().build = b;
    }
    for (Gateway& g : gateways) start(g);
    for (int round = 0; round < kRounds; ++round)
        for (Gateway& g : gateways) measure(g);

    double load[3] = {0, 0, 0};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    std::printf("status page, %d rounds, load average %.2f %.2f %.2f\n", kRounds, load[0], load[1],
                load[2]);
    for (Gateway& g : gateways) {
        ::usleep(300 * 1000);
        std::printf(
            "%-10s CPU ms/page: %.3f at 0 rows, %.3f at 100, %.3f at 511 (page %zu, %zu, "
            "%zu bytes)\n",
            g.build.name.c_str(), median(g.cpu[0]), median(g.cpu[1]), median(g.cpu[2]),
            g.pageBytes[0], g.pageBytes[1], g.pageBytes[2]);
        std::printf(
            "%-10s pages/s: %.1f at 1 connection (median %.2f ms), %.1f at 20 "
            "connections (median %.2f ms, p99 %.2f ms, CPU %.3f ms/page); failed %zu\n",
            g.build.name.c_str(), median(g.pages1), percentile(g.latency1, 0.5), median(g.pages20),
            percentile(g.latency20, 0.5), percentile(g.latency20, 0.99), median(g.cpu20),
            g.failed);
        std::printf("%-10s resident memory: %ld KiB before, %ld KiB after\n", g.build.name.c_str(),
                    g.residentBefore, residentKiB(g.pid));
    }
    if (gateways.size() == 2) {
        const Gateway& b = gateways[0];
        const Gateway& a = gateways[1];
        std::printf(
            "after/before: pages/s at 20 connections %.2fx, CPU per page at 511 rows "
            "%.2fx less\n",
            median(a.pages20) / median(b.pages20), median(b.cpu[2]) / median(a.cpu[2]));
    }
    size_t failed = 0;
    for (Gateway& g : gateways) {
        failed += g.failed;
        stop(g);
    }
    return failed == 0 ? 0 : 1;
}
