// The xAP hub under load and at rest, for XAP_HUB (default: this build's) and,
// when XAP_HUB_BEFORE names another hub program, that one too with the ratios.
// Rounds interleave the hubs, so a busy machine weighs on both alike; each hub
// gets a free port of 127.0.0.1, one client with a 60 s heartbeat and a sender
// that is no client. Per hub: resident memory after start and after the load,
// idle wake-ups scaled to a minute, the relay latency median (one message at a
// time), the throughput at saturation (a window kept in flight) and the CPU
// time per relay. BENCH_ROUNDS (5), BENCH_SECONDS (2, per throughput run) and
// BENCH_IDLE_SECONDS (6) set the length. Loopback only; run it in a network
// namespace of its own when other programs use the machine's ports.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

// A setting from the environment, or null when unset or empty.
const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : nullptr;
}
double envNumber(const char* name, double fallback) {
    return env(name) != nullptr ? std::atof(env(name)) : fallback;
}
double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
sockaddr_in loopback(int port) {
    return {AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
}

// A non-blocking UDP socket on 127.0.0.1 with a port of its own.
int udpSocket(int* port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) die("bind");
    const int big = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    if (port) *port = ntohs(a.sin_port);
    return fd;
}

void sendTo(int fd, const std::string& text, int port) {
    const sockaddr_in to = loopback(port);
    ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Reads what is queued on fd, waiting up to waitMs for the first datagram;
// returns how many came and keeps the last one's text.
int drain(int fd, int waitMs, std::string* last = nullptr) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return 0;
    constexpr int kBatch = 64;
    static char buffers[kBatch][2048];
    mmsghdr msgs[kBatch]{};
    iovec vecs[kBatch];
    for (int i = 0; i < kBatch; ++i) {
        vecs[i] = {buffers[i], sizeof buffers[i]};
        msgs[i].msg_hdr.msg_iov = &vecs[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int total = 0;
    for (int n = kBatch; n == kBatch; total += n) {  // until a batch comes short
        n = ::recvmmsg(fd, msgs, kBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0) break;
        if (last) last->assign(buffers[n - 1], msgs[n - 1].msg_len);
    }
    return total;
}

// An xAP event of ordinary size (about 250 bytes).
std::string message(const std::string& text) {
    return "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=xAP-X10.Event\n"
           "source=acme.bench.sender\n}\nxAP-X10.Event\n{\nevent=on\ndevice=A3\n"
           "text=" +
           text + "\nnote=a line that brings the message to its usual length\n}\n";
}

// Run time (ns) and times switched in, summed over the process's threads.
struct Sched {
    double ns = 0, runs = 0;
};
Sched sched(pid_t pid) {
    Sched total;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream in(task.path() / "schedstat");
        double ns = 0, waited = 0, runs = 0;
        if (in >> ns >> waited >> runs) total = {total.ns + ns, total.runs + runs};
    }
    return total;
}

double residentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Rss:", 0) == 0) return std::atof(line.c_str() + 4);
    return -1;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    return in >> a >> b >> c ? a + " " + b + " " + c : "?";
}

struct Figures {
    double startKiB = 0, loadKiB = 0, idleWakesPerMin = 0, latencyUs = 0, relaysPerS = 0;
    double cpuUsPerRelay = 0, lost = 0;
};

// One hub program running for a round, with its client and its sender.
struct RunningHub {
    pid_t pid = -1;
    int port = 0, rx = -1, tx = -1;
    Figures f;

    explicit RunningHub(const std::string& exe) {
        ::close(udpSocket(&port));  // a free port
        pid = ::fork();
        if (pid < 0) die("fork");
        if (pid == 0) {
            ::dup2(::open("/dev/null", O_WRONLY), 2);
            ::execl(exe.c_str(), exe.c_str(), "--address", "127.0.0.1", "--port",
                    std::to_string(port).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int rxPort = 0;
        rx = udpSocket(&rxPort);
        tx = udpSocket(nullptr);
        const std::string heartbeat =
            "xap-hbeat\n{\nv=12\nhop=1\nuid=FF123400\nclass=xap-hbeat.alive\n"
            "source=acme.bench.receiver\ninterval=60\nport=" +
            std::to_string(rxPort) + "\n}\n";
        // Ready once a message from the sender comes through to the client.
        bool ready = false;
        for (int i = 0; i < 500 && !ready; ++i) {
            sendTo(rx, heartbeat, port);
            sendTo(tx, message("probe"), port);
            std::string last;
            ready = drain(rx, 20, &last) > 0 && last.find("probe") != std::string::npos;
        }
        if (!ready) {
            std::fprintf(stderr, "%s did not relay\n", exe.c_str());
            std::exit(1);
        }
        while (drain(rx, 50) > 0) continue;
        f.startKiB = residentKiB(pid);
    }

    ~RunningHub() {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        ::close(rx);
        ::close(tx);
    }

    // One message through the hub, send to receipt, in microseconds (-1 lost).
    double latencyUs(const std::string& text) {
        const auto t0 = Clock::now();
        sendTo(tx, text, port);
        if (drain(rx, 1000) == 0) return -1;
        return seconds(Clock::now() - t0) * 1e6;
    }

    // At saturation: a window of messages in flight, small enough that no
    // socket buffer overflows, refilled as relays arrive.
    void throughput(double runS) {
        constexpr int kWindow = 64;
        const std::string load = message("load");
        const sockaddr_in to = loopback(port);
        mmsghdr out[kWindow]{};
        iovec vec{const_cast<char*>(load.data()), load.size()};
        for (auto& m : out) {
            m.msg_hdr.msg_name = const_cast<sockaddr_in*>(&to);
            m.msg_hdr.msg_namelen = sizeof to;
            m.msg_hdr.msg_iov = &vec;
            m.msg_hdr.msg_iovlen = 1;
        }
        long received = 0, outstanding = 0, lost = 0;
        const double cpu0 = sched(pid).ns;
        const auto start = Clock::now();
        while (seconds(Clock::now() - start) < runS) {
            if (outstanding < kWindow) {
                const int n = ::sendmmsg(tx, out, static_cast<unsigned>(kWindow - outstanding), 0);
                if (n > 0) outstanding += n;
            }
            const int got = drain(rx, 200);
            if (got == 0) {  // what is still out is lost
                lost += outstanding;
                outstanding = 0;
            }
            received += got;
            outstanding = std::max(0L, outstanding - got);
        }
        const double elapsed = seconds(Clock::now() - start);
        received += drain(rx, 100);
        const double cpu = sched(pid).ns - cpu0;
        f.relaysPerS = static_cast<double>(received) / elapsed;
        f.cpuUsPerRelay = received > 0 ? cpu / 1000.0 / static_cast<double>(received) : -1;
        f.lost = static_cast<double>(lost);
        f.loadKiB = residentKiB(pid);
    }
};

}  // namespace

int main() {
    std::vector<std::pair<std::string, std::string>> hubs;
    if (env("XAP_HUB_BEFORE") != nullptr) hubs.emplace_back("before", env("XAP_HUB_BEFORE"));
    hubs.emplace_back("after", env("XAP_HUB") != nullptr ? env("XAP_HUB") : XAP_HUB_EXE);
    const int rounds = static_cast<int>(envNumber("BENCH_ROUNDS", 5));

    std::printf("xAP hub: load average %s at start\n", loadAverage().c_str());
    std::vector<std::vector<Figures>> all(hubs.size());
    for (int r = 0; r < rounds; ++r) {
        std::vector<std::unique_ptr<RunningHub>> running;
        for (const auto& hub : hubs) running.push_back(std::make_unique<RunningHub>(hub.second));
        // The hubs rest side by side, and the latency samples alternate
        // between them, so both see the same moments of a busy machine.
        const double idleS = envNumber("BENCH_IDLE_SECONDS", 6);
        std::vector<double> runs;
        for (const auto& h : running) runs.push_back(sched(h->pid).runs);
        ::usleep(static_cast<useconds_t>(idleS * 1e6));
        for (size_t h = 0; h < running.size(); ++h)
            running[h]->f.idleWakesPerMin = (sched(running[h]->pid).runs - runs[h]) * 60.0 / idleS;
        std::vector<std::vector<double>> latencies(running.size());
        const std::string one = message("latency");
        for (int i = 0; i < 2100; ++i)
            for (size_t h = 0; h < running.size(); ++h)
                if (const double us = running[h]->latencyUs(one); i >= 100 && us >= 0)
                    latencies[h].push_back(us);
        for (size_t h = 0; h < running.size(); ++h) {
            auto& v = latencies[h];
            std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
            running[h]->f.latencyUs = v.empty() ? -1 : v[v.size() / 2];
        }
        for (size_t h = 0; h < running.size(); ++h) {
            running[h]->throughput(envNumber("BENCH_SECONDS", 2));
            const Figures& f = running[h]->f;
            all[h].push_back(f);
            std::printf(
                "  round %d %-6s %8.0f relays/s  %5.1f us latency  %5.2f us CPU/relay  "
                "%6.0f KiB start  %6.0f KiB loaded  %5.0f wake-ups/min idle  %.0f lost\n",
                r + 1, hubs[h].first.c_str(), f.relaysPerS, f.latencyUs, f.cpuUsPerRelay,
                f.startKiB, f.loadKiB, f.idleWakesPerMin, f.lost);
            std::fflush(stdout);
        }
    }
    std::printf("xAP hub: medians of %d rounds (load average %s at end):", rounds,
                loadAverage().c_str());
    for (const auto& hub : hubs) std::printf(" %10s", hub.first.c_str());
    std::printf("\n");
    // Each figure's median per hub, and after/before when there are two.
    const std::pair<const char*, double Figures::*> figures[] = {
        {"throughput, relays/s", &Figures::relaysPerS},
        {"latency median, us", &Figures::latencyUs},
        {"CPU per relay, us", &Figures::cpuUsPerRelay},
        {"resident after start, KiB", &Figures::startKiB},
        {"resident after load, KiB", &Figures::loadKiB},
        {"idle wake-ups a minute", &Figures::idleWakesPerMin}};
    for (const auto& [name, field] : figures) {
        std::printf("  %-27s", name);
        std::vector<double> medians;
        for (const auto& hubRounds : all) {
            std::vector<double> v;
            for (const Figures& f : hubRounds) v.push_back(f.*field);
            std::sort(v.begin(), v.end());
            medians.push_back(v[v.size() / 2]);
            std::printf(" %10.2f", medians.back());
        }
        if (medians.size() == 2 && medians[0] > 0)
            std::printf("  (%.2fx)", medians[1] / medians[0]);
        std::printf("\n");
    }
    return 0;
}
