// End-to-end latency of the running gateway, and its memory after start-up.
//
// The benchmark plays the radio itself (a virtual transceiver socket) and the
// local hub (127.0.0.1:3639), starts the real brindle with the real plug-in on
// a throw-away program folder, and measures
//   radio -> xAP: a frame read by the transceiver until its "xAP-X10.event"
//                 datagram reaches the hub;
//   xAP -> radio: an "xAP-X10.request" datagram until the first frame written
//                 to the transceiver;
// each over 1000 runs (median and 99th percentile), plus the gateway's resident
// memory once started. Everything stays on loopback.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchHome.h"
#include "usb/virtual/VirtualPacket.h"
#include "virtual-cm19a/VirtualCm19a.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 1000;

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* name, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    const double p99 = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    std::printf("%-14s runs=%zu median=%.3f ms p99=%.3f ms max=%.3f ms\n", name, samples.size(),
                median, p99, samples.back());
}

// Waits for a datagram on the hub socket that contains `fragment`.
bool hubReceive(int hub, const std::string& fragment, std::string* text = nullptr, int ms = 5000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    char buf[65536];
    while (Clock::now() < end) {
        pollfd p{hub, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(hub, buf, sizeof buf, 0);
        if (n <= 0) continue;
        std::string d(buf, static_cast<size_t>(n));
        if (d.find(fragment) != std::string::npos) {
            if (text != nullptr) *text = d;
            return true;
        }
    }
    return false;
}

// Waits for a frame the gateway writes to the transceiver.
bool deviceReceive(VirtualCm19a& device, int ms = 5000) {
    pollfd p{device.clientFd(), POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    const auto packet = device.receive();
    return packet && !packet->data.empty() && packet->data[0] == VirtualPacket::kWrite;
}

}  // namespace

int main() {
    // No debounce, so the same button can be pressed back to back.
    const fs::path home = makeBenchHome(
        "brindle-bench",
        "[HKEY_LOCAL_MACHINE\\Software\\Quillon]\n\"DebounceTime\"=dword:00000000\n\n");

    const int hub = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in hubAddr{};
    hubAddr.sin_family = AF_INET;
    hubAddr.sin_port = htons(3639);
    hubAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(hub, reinterpret_cast<sockaddr*>(&hubAddr), sizeof hubAddr) != 0) die("hub bind");

    VirtualCm19a device((home / "bus").string(), "cm19a");
    std::string error;
    if (!device.plug(error)) die(error.c_str());

    const pid_t pid = startGateway(home);
    if (pid < 0) die("fork");

    std::string heartbeat;
    if (!hubReceive(hub, "xap-hbeat", &heartbeat, 15000)) die("no heartbeat");
    const int port = std::atoi(heartbeat.c_str() + heartbeat.find("\nport=") + 6);
    pollfd acceptPoll{device.listenFd(), POLLIN, 0};
    bool replaced = false;
    if (::poll(&acceptPoll, 1, 10000) <= 0 || !device.accept(replaced))
        die("gateway never opened the transceiver");
    while (deviceReceive(device, 300)) {
    }  // initialisation frames
    if (!hubReceive(hub, "Using xAP port", nullptr, 10000)) die("start-up did not finish");
    ::usleep(500 * 1000);
    std::printf("resident memory after start-up: %ld KiB\n", residentKiB(pid));

    // Radio to xAP: A1 On as the CM19A delivers it.
    const VirtualCm19a::Bytes a1On{0x20, 0x60, 0x9F, 0x00, 0xFF};
    std::vector<double> radioToXap;
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = Clock::now();
        device.sendRead(a1On);
        if (!hubReceive(hub, "class=xAP-X10.event")) die("no xAP event");
        radioToXap.push_back(ms(Clock::now() - t0));
    }

    // xAP to radio: an X10 request for A1, timed to its first frame.
    sockaddr_in gw{};
    gw.sin_family = AF_INET;
    gw.sin_port = htons(static_cast<uint16_t>(port));
    gw.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request =
        "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=xAP-X10.request\nsource=acme.bench.box\n}"
        "\n"
        "xAP-X10.request\n{\ndevice=A1\ncommand=on\n}\n";
    std::vector<double> xapToRadio;
    for (int i = 0; i < kRuns; ++i) {
        const auto t0 = Clock::now();
        ::sendto(hub, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&gw),
                 sizeof gw);
        if (!deviceReceive(device)) die("no frame");
        xapToRadio.push_back(ms(Clock::now() - t0));
        while (deviceReceive(device, 20)) {
        }  // the repeats of the same command
    }

    report("radio->xAP", radioToXap);
    report("xAP->radio", xapToRadio);
    std::printf("resident memory at the end: %ld KiB\n", residentKiB(pid));

    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    device.unplug();
    ::close(hub);
    fs::remove_all(home);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
