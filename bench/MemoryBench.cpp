// The running gateway's memory, for each build (this one, and the baseline
// when BRINDLE_BASELINE names one), headless and on an X display (Xvfb, when
// installed), with the MQTT link off and on (a local Mosquitto broker, when
// installed).
//
// For each case the real brindle starts with the real plug-in on a throw-away
// program folder, the benchmark playing the radio (a virtual transceiver) and
// the local hub (127.0.0.1:3639). Resident (Rss) and proportional (Pss) memory
// come from /proc/<pid>/smaps_rollup once start-up has settled, and again
// after a shortened hour of ordinary traffic: 360 button presses (one every
// ten seconds for an hour), 60 xAP requests and 60 status pages (one a
// minute), sent back to back, then three quiet seconds. Each case also lists which of the optional
// libraries the process has mapped. Loopback only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "BenchHome.h"
#include "support/HttpClient.h"
#include "usb/virtual/VirtualPacket.h"
#include "virtual-cm19a/VirtualCm19a.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Takes whatever waits on a socket, for at most `ms`; true when something
// containing `fragment` arrived (any datagram when it is empty).
bool drain(int fd, const std::string& fragment, int ms, std::string* text = nullptr) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    char buf[65536];
    do {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) continue;
        const std::string d(buf, static_cast<size_t>(n));
        if (d.find(fragment) != std::string::npos) {
            if (text != nullptr) *text = d;
            return true;
        }
    } while (Clock::now() < end);
    return false;
}

// A blocking GET of /status; true when an answer came.
bool getStatus(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    bool answered = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buf[65536];
        while (::recv(fd, buf, sizeof buf, 0) > 0) answered = true;
    }
    ::close(fd);
    return answered;
}

pid_t spawn(const std::vector<std::string>& argv) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void end(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// An X server of our own on a display number nobody uses; its process and
// display name, or -1 when Xvfb is not installed or does not come up.
pid_t startXvfb(std::string& display) {
    const char* exe = "/usr/bin/Xvfb";
    if (!fs::exists(exe)) return -1;
    int number = 100 + ::getpid() % 800;
    while (fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) ++number;
    display = ":" + std::to_string(number);
    const pid_t pid = spawn({exe, display, "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    const fs::path socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 100 && !fs::exists(socket); ++i) ::usleep(50 * 1000);
    if (fs::exists(socket)) return pid;
    end(pid);
    return -1;
}

// The optional libraries the process has mapped.
std::string mappedLibraries(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string found;
    for (const char* lib : {"libQt6Widgets", "libQt6Gui", "libmosquitto", "libssl", "libcrypto",
                            "libkrb5", "libgssapi"})
        if (text.find(std::string("/") + lib) != std::string::npos)
            found += std::string(found.empty() ? "" : " ") + (lib + 3);
    return found.empty() ? "none" : found;
}

// Resident KiB per mapped object (file name, or the kind of anonymous memory),
// largest first; printed when MEMBENCH_DETAIL is set, to see where memory goes.
std::string residentByObject(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    std::map<std::string, long> kib;
    std::string line, object;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < 16) {
            // "start-end perms offset dev inode   path"
            std::istringstream fields(line);
            std::string skip;
            for (int i = 0; i < 5; ++i) fields >> skip;
            object.clear();
            std::getline(fields >> std::ws, object);
            const size_t slash = object.rfind('/');
            if (slash != std::string::npos) object = object.substr(slash + 1);
            if (object.empty()) object = "[anonymous]";
        } else if (line.rfind("Rss:", 0) == 0) {
            kib[object] += std::atol(line.c_str() + 4);
        }
    }
    std::vector<std::pair<long, std::string>> sorted;
    for (const auto& [name, size] : kib)
        if (size > 0) sorted.emplace_back(size, name);
    std::sort(sorted.rbegin(), sorted.rend());
    std::string text;
    for (const auto& [size, name] : sorted)
        text += "    " + std::to_string(size) + " KiB  " + name + "\n";
    return text;
}

struct Memory {
    long rss = -1;
    long pss = -1;
};

Memory memoryOf(pid_t pid) {
    return {rollupKiB(pid, "Rss"), rollupKiB(pid, "Pss")};
}

double mib(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

// One gateway from start to stop; false when it never came up.
bool runCase(const BenchBuild& build, int hub, const std::string& display, int brokerPort,
             const char* label) {
    // No debounce, so the same button can be pressed back to back.
    const fs::path home = makeBenchHome(
        "brindle-membench",
        "[HKEY_LOCAL_MACHINE\\Software\\Quillon]\n\"DebounceTime\"=dword:00000000\n\n",
        build.kestrel);
    const int webPort = HttpClient::freePort();
    {
        std::ofstream ini(home / "Config" / "qixBrindle.ini");
        ini << "[General]\nServerPort=" << webPort << "\nIncludeX10=1\n";
        if (brokerPort > 0) ini << "[MQTT]\nHost=127.0.0.1\nPort=" << brokerPort << "\n";
    }
    VirtualCm19a device((home / "bus").string(), "cm19a");
    std::string error;
    if (!device.plug(error)) die("device plug");
    const pid_t pid = startGateway(home, build.exe, display);
    if (pid < 0) die("fork");

    std::string heartbeat;
    bool up = drain(hub, "xap-hbeat", 20000, &heartbeat);
    pollfd acceptPoll{device.listenFd(), POLLIN, 0};
    bool replaced = false;
    up = up && ::poll(&acceptPoll, 1, 10000) > 0 && device.accept(replaced);
    up = up && drain(hub, "Using xAP port", 10000);
    if (up) {
        drain(device.clientFd(), "", 1000);  // initialisation frames; start-up settles
        const Memory started = memoryOf(pid);
        const std::string startDetail = residentByObject(pid);

        sockaddr_in gw{};
        gw.sin_family = AF_INET;
        gw.sin_port = htons(
            static_cast<uint16_t>(std::atoi(heartbeat.c_str() + heartbeat.find("\nport=") + 6)));
        gw.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string request =
            "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=xAP-X10.request\n"
            "source=acme.bench.box\n}\nxAP-X10.request\n{\ndevice=A1\ncommand=on\n}\n";
        const VirtualCm19a::Bytes a1On{0x20, 0x60, 0x9F, 0x00, 0xFF};
        int pages = 0;
        for (int minute = 0; minute < 60; ++minute) {
            for (int press = 0; press < 6; ++press) {  // one every ten seconds
                device.sendRead(a1On);
                drain(hub, "class=xAP-X10.event", 1000);
            }
            ::sendto(hub, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&gw),
                     sizeof gw);
            drain(device.clientFd(), "", 30);
            pages += getStatus(webPort) ? 1 : 0;
        }
        drain(device.clientFd(), "", 300);
        // The hour's presses come ten seconds apart, so the gateway is quiet
        // between them long enough to hand freed memory back; so it is here.
        drain(hub, "never", 3000);
        const Memory after = memoryOf(pid);
        std::printf(
            "%-10s %-9s MQTT %-3s  start Rss %5.1f MiB Pss %5.1f MiB  after traffic Rss %5.1f MiB "
            "Pss %5.1f MiB  (%d/60 pages)  mapped: %s\n",
            build.name.c_str(), display.empty() ? "headless" : "Xvfb", label, mib(started.rss),
            mib(started.pss), mib(after.rss), mib(after.pss), pages, mappedLibraries(pid).c_str());
        if (std::getenv("MEMBENCH_DETAIL") != nullptr)
            std::printf("  at start:\n%s  after traffic:\n%s", startDetail.c_str(),
                        residentByObject(pid).c_str());
    } else {
        std::printf("%-10s %-9s MQTT %-3s  the gateway did not start\n", build.name.c_str(),
                    display.empty() ? "headless" : "Xvfb", label);
    }
    end(pid);
    device.unplug();
    std::error_code ec;
    fs::remove_all(home, ec);
    return up;
}

}  // namespace

int main() {
    const int hub = bindLoopbackHub();

    const fs::path scratch =
        fs::temp_directory_path() / ("brindle-membench-broker-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    int brokerPort = -1;
    pid_t broker = -1;
    if (fs::exists("/usr/sbin/mosquitto")) {
        brokerPort = HttpClient::freePort();
        std::ofstream(scratch / "mosquitto.conf")
            << "listener " << brokerPort << " 127.0.0.1\nallow_anonymous true\n"
            << (::geteuid() == 0 ? "user root\n" : "");
        broker = spawn({"/usr/sbin/mosquitto", "-c", (scratch / "mosquitto.conf").string()});
        ::usleep(300 * 1000);
    } else {
        std::printf("no Mosquitto broker installed: MQTT on is not measured\n");
    }
    std::string display;
    const pid_t xvfb = startXvfb(display);
    if (xvfb < 0) std::printf("no Xvfb: the desktop case is not measured\n");

    double load[3] = {0, 0, 0};
    std::ifstream("/proc/loadavg") >> load[0] >> load[1] >> load[2];
    std::printf("gateway memory, load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    bool ok = true;
    for (const std::string& screen : {std::string(), display}) {
        if (!screen.empty() && xvfb < 0) continue;
        for (const int port : {-1, brokerPort}) {
            for (const BenchBuild& build : benchBuilds())
                ok = runCase(build, hub, screen, port, port > 0 ? "on" : "off") && ok;
            if (broker < 0) break;
        }
    }
    end(xvfb);
    end(broker);
    ::close(hub);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return ok ? 0 : 1;
}
