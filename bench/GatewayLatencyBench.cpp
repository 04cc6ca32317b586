// End-to-end latency of the running gateway, and its memory after start-up.
//
// The benchmark plays the radio itself (a virtual transceiver socket) and the
// local hub (127.0.0.1:3639), starts the real brindle with the real plug-in on
// a throw-away program folder, and measures
//   radio -> xAP: a frame read by the transceiver until its "xAP-X10.event"
//                 datagram reaches the hub;
//   xAP -> radio: an "xAP-X10.request" datagram until the first frame written
//                 to the transceiver;
//   radio -> MQTT: the same frame until its event reaches a subscriber on a
//                 local Mosquitto broker (when one is installed), timed from
//                 the same press as radio -> xAP;
// each over 1000 runs (median and 99th percentile), plus the gateway's resident
// memory once started. Everything stays on loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchHome.h"
#include "support/HttpClient.h"
#include "usb/virtual/VirtualPacket.h"
#include "virtual-cm19a/VirtualCm19a.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 1000;

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

// A Mosquitto broker on 127.0.0.1:port, or -1 when none is installed.
pid_t startBroker(const fs::path& home, int port) {
    const char* exe = "/usr/sbin/mosquitto";
    if (!fs::exists(exe)) return -1;
    const fs::path conf = home / "mosquitto.conf";
    std::ofstream(conf) << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);  // its connection log
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        ::execl(exe, exe, "-c", conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// The subscriber's side: when the last event arrived, and how many did.
struct Arrivals {
    std::atomic<long> count{0};
    std::atomic<Clock::rep> last{0};
};

}  // namespace

int main() {
    // No debounce, so the same button can be pressed back to back.
    const fs::path home = makeBenchHome(
        "brindle-bench",
        "[HKEY_LOCAL_MACHINE\\Software\\Quillon]\n\"DebounceTime\"=dword:00000000\n\n");

    const int hub = bindLoopbackHub();

    const int brokerPort = HttpClient::freePort();
    const pid_t broker = startBroker(home, brokerPort);
    mosquitto* subscriber = nullptr;
    Arrivals arrivals;
    if (broker > 0) {
        std::ofstream(home / "Config" / "qixBrindle.ini")
            << "[MQTT]\nHost=127.0.0.1\nPort=" << brokerPort << "\nDiscovery=False\n";
        mosquitto_lib_init();
        subscriber = mosquitto_new("bench", true, &arrivals);
        mosquitto_message_callback_set(subscriber,
                                       [](mosquitto*, void* a, const mosquitto_message*) {
                                           auto* arrived = static_cast<Arrivals*>(a);
                                           arrived->last = Clock::now().time_since_epoch().count();
                                           ++arrived->count;
                                       });
        bool connected = false;
        for (int i = 0; i < 100 && !connected; ++i) {
            connected = mosquitto_connect(subscriber, "127.0.0.1", brokerPort, 60) == 0;
            if (!connected) ::usleep(50 * 1000);
        }
        if (!connected) die("broker");
        mosquitto_subscribe(subscriber, nullptr, "brindle/+/x10/A1/event", 0);
        mosquitto_loop_start(subscriber);
    }

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
    std::vector<double> radioToMqtt;
    if (subscriber != nullptr) ::usleep(500 * 1000);  // the gateway's link is up
    for (int i = 0; i < kRuns; ++i) {
        const long before = arrivals.count;
        const auto t0 = Clock::now();
        device.sendRead(a1On);
        if (!hubReceive(hub, "class=xAP-X10.event")) die("no xAP event");
        radioToXap.push_back(ms(Clock::now() - t0));
        if (subscriber == nullptr) continue;
        const auto end = t0 + std::chrono::seconds(5);
        while (arrivals.count == before && Clock::now() < end) ::usleep(50);
        if (arrivals.count == before) die("no MQTT event");
        radioToMqtt.push_back(ms(Clock::time_point(Clock::duration(arrivals.last.load())) - t0));
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
    if (!radioToMqtt.empty()) report("radio->MQTT", radioToMqtt);
    report("xAP->radio", xapToRadio);
    std::printf("resident memory at the end: %ld KiB\n", residentKiB(pid));

    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    device.unplug();
    ::close(hub);
    if (subscriber != nullptr) {
        mosquitto_disconnect(subscriber);
        mosquitto_loop_stop(subscriber, true);
        mosquitto_destroy(subscriber);
        ::kill(broker, SIGTERM);
        ::waitpid(broker, nullptr, 0);
    }
    fs::remove_all(home);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
