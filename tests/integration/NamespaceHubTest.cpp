// The hub on a (simulated) LAN: a network namespace of the test's own holds a
// tap device whose file descriptor the test keeps, so a frame written into it
// arrives as if from another computer. Inside, xap-hub, the gateway and
// xap-listen run; nothing they send can leave the namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "support/ChildProcess.h"
#include "support/TempHome.h"

namespace {

class NetNamespace {
public:
    // Why the test cannot run here, or an empty text.
    static std::string skipReason() {
        if (geteuid() != 0) return "network namespaces need root";
        if (!std::filesystem::exists("/dev/net/tun")) return "/dev/net/tun is missing";
        if (QStandardPaths::findExecutable("ip").isEmpty()) return "the ip command is missing";
        return {};
    }

    NetNamespace() {
        static int count = 0;
        m_name = "brindle-hub-" + std::to_string(getpid()) + "-" + std::to_string(++count);
        m_ok = ip({"netns", "add", m_name});
    }
    ~NetNamespace() {
        if (m_tap >= 0) close(m_tap);
        if (m_ok) ip({"netns", "delete", m_name});
    }
    bool ok() const { return m_ok; }

    // Creates the tap device inside the namespace (this thread enters it only
    // for the open) and brings up it and loopback; returns its descriptor.
    int addTap(const std::string& device, const std::string& address) {
        const int self = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int ns = open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
        if (self < 0 || ns < 0 || setns(ns, CLONE_NEWNET) != 0) return -1;
        m_tap = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        setns(self, CLONE_NEWNET);
        close(self);
        close(ns);
        if (m_tap < 0) return -1;
        ifreq ifr{};
        ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
        std::strncpy(ifr.ifr_name, device.c_str(), IFNAMSIZ - 1);
        if (ioctl(m_tap, TUNSETIFF, &ifr) != 0) return -1;
        if (!ip({"-n", m_name, "link", "set", "lo", "up"}) ||
            !ip({"-n", m_name, "addr", "add", address, "dev", device}) ||
            !ip({"-n", m_name, "link", "set", device, "up"}))
            return -1;
        return m_tap;
    }

    // A program started inside the namespace.
    void start(ChildProcess& child, const std::string& program,
               const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env = {}) {
        std::vector<std::string> all = {"netns", "exec", m_name, program};
        all.insert(all.end(), args.begin(), args.end());
        child.start(QStandardPaths::findExecutable("ip").toStdString(), all, env);
    }

private:
    static bool ip(const std::vector<std::string>& args) {
        QStringList list;
        for (const auto& a : args) list << QString::fromStdString(a);
        return QProcess::execute("ip", list) == 0;
    }

    std::string m_name;
    bool m_ok = false;
    int m_tap = -1;
};

uint16_t checksum(const unsigned char* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2) sum += (data[i] << 8) | data[i + 1];
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// An Ethernet frame carrying one UDP datagram from 192.0.2.20:3639 to
// 255.255.255.255:3639, as an xAP program on another computer sends it.
std::string lanBroadcast(const std::string& payload) {
    std::string f = std::string(6, '\xff') + std::string("\x02\x00\x00\x00\x00\x20\x08\x00", 8);
    const size_t udpLength = 8 + payload.size();
    const size_t ipLength = 20 + udpLength;
    unsigned char ip[20] = {0x45,
                            0,
                            static_cast<unsigned char>(ipLength >> 8),
                            static_cast<unsigned char>(ipLength),
                            0,
                            0,
                            0x40,
                            0,
                            64,
                            17,
                            0,
                            0,
                            192,
                            0,
                            2,
                            20,
                            255,
                            255,
                            255,
                            255};
    const uint16_t sum = checksum(ip, sizeof ip);
    ip[10] = static_cast<unsigned char>(sum >> 8);
    ip[11] = static_cast<unsigned char>(sum);
    f.append(reinterpret_cast<const char*>(ip), sizeof ip);
    const unsigned char udp[8] = {0x0e,
                                  0x37,
                                  0x0e,
                                  0x37,
                                  static_cast<unsigned char>(udpLength >> 8),
                                  static_cast<unsigned char>(udpLength),
                                  0,
                                  0};  // no checksum
    f.append(reinterpret_cast<const char*>(udp), sizeof udp);
    return f + payload;
}

TEST(NamespaceHub, ABroadcastFromTheLanReachesTheGatewayThroughTheHub) {
    if (const std::string why = NetNamespace::skipReason(); !why.empty()) GTEST_SKIP() << why;
    NetNamespace ns;
    ASSERT_TRUE(ns.ok());
    const int tap = ns.addTap("lan0", "192.0.2.10/24");
    ASSERT_GE(tap, 0) << "could not set up the tap device";

    ChildProcess hub, gateway, listen;
    ns.start(hub, XAP_HUB, {});
    ASSERT_GE(hub.waitErr("listening on 0.0.0.0:3639"), 0);
    // Inside the namespace loopback is the namespace's own, so the usual
    // loopback program folder keeps the gateway's traffic there too.
    TempHome home;
    ns.start(gateway, BRINDLE_EXE, {}, {{"BRINDLE_HOME", home.path()}});
    ASSERT_GE(hub.waitErr("joined: qix.CM19A.", 0, 15000), 0);
    ns.start(listen, XAP_LISTEN, {"--class", "WDT.Echo", "--no-heartbeats"});
    ASSERT_GE(hub.waitErr("joined: brindle.xap-listen."), 0);

    // A heartbeat from another computer makes no client: the hub relays only
    // to programs on this one.
    const std::string lanHeartbeat = lanBroadcast(
        "xap-hbeat\n{\nv=12\nhop=1\nuid=FF123400\nclass=xap-hbeat.alive\n"
        "source=acme.lan.box\ninterval=60\nport=40000\n}\n");
    ASSERT_EQ(write(tap, lanHeartbeat.data(), lanHeartbeat.size()),
              static_cast<ssize_t>(lanHeartbeat.size()));
    const std::string query =
        "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=WDT.Echo\nsource=acme.lan.box\n}\n"
        "Echo.Query\n{\nQuery=FromTheLan\n}\n";
    const std::string frame = lanBroadcast(query);
    ASSERT_EQ(write(tap, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));

    EXPECT_GE(listen.waitOut("Query=FromTheLan"), 0);  // relayed as it came
    EXPECT_GE(listen.waitOut("Response=fromthelan"), 0) << "the gateway did not answer";
    EXPECT_GE(listen.waitOut("target=acme.lan.box"), 0);
    EXPECT_LT(hub.waitErr("joined: acme.lan.box", 0, 100), 0);

    for (ChildProcess* p : {&listen, &gateway, &hub}) {
        p->signal(SIGTERM);
        EXPECT_TRUE(p->waitFinished());
    }
}

}  // namespace
