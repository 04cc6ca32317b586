// The real program on a network: run inside a network namespace of the test's
// own whose only non-loopback interface is a tap device the test reads, so the
// frames a LAN would carry are checked here and go nowhere else.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <filesystem>
#include <optional>

#include "support/ChildProcess.h"
#include "support/NetworkNamespace.h"
#include "support/TempHome.h"

namespace {

constexpr const char* kTapAddress = "192.0.2.10";

// What a frame carries when it is an IPv4 UDP datagram.
struct UdpDatagram {
    bool broadcastMac = false;
    std::string source, destination;
    int sourcePort = 0, destinationPort = 0;
    std::string payload;
};

std::optional<UdpDatagram> udpOf(const std::string& frame) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(frame[i]); };
    if (frame.size() < 14 + 20 + 8 || byte(12) != 0x08 || byte(13) != 0x00) return std::nullopt;
    const size_t ip = 14;
    const size_t headerLength = (byte(ip) & 0x0f) * 4u;
    if ((byte(ip) >> 4) != 4 || byte(ip + 9) != 17 || frame.size() < ip + headerLength + 8)
        return std::nullopt;
    const auto address = [&](size_t at) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, frame.data() + at, text, sizeof text);
        return std::string(text);
    };
    const size_t udp = ip + headerLength;
    const size_t udpLength = byte(udp + 4) * 256u + byte(udp + 5);
    if (udpLength < 8 || frame.size() < udp + udpLength) return std::nullopt;
    UdpDatagram d;
    d.broadcastMac = frame.compare(0, 6, std::string(6, '\xff')) == 0;
    d.source = address(ip + 12);
    d.destination = address(ip + 16);
    d.sourcePort = byte(udp) * 256 + byte(udp + 1);
    d.destinationPort = byte(udp + 2) * 256 + byte(udp + 3);
    d.payload = frame.substr(udp + 8, udpLength - 8);
    return d;
}

class Lan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!net.skipReason().empty()) GTEST_SKIP() << net.skipReason();
    }
    void TearDown() override {
        gateway.stop();
        radio.stop();
    }

    // A program folder with the plug-in registered, the virtual transceiver on
    // its bus, and the given qixXap.ini (none when empty).
    void prepare(const std::string& ini) {
        std::filesystem::remove(home.path() + "/Config/qixXap.ini");
        std::filesystem::remove(home.path() + "/Data/brindlehub.txt");
        if (!ini.empty()) home.write("Config/qixXap.ini", ini);
        std::string reg =
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum]\n"
            "\"0\"=\"VIRTUAL\\\\" +
            home.path() + "/bus/cm19a\"\n\n";
        for (const char* progId : {"Kestrel.hspi", "Kestrel.cFireCrackerUSB"})
            reg += std::string("[HKEY_CLASSES_ROOT\\") + progId + "\\InprocServer32]\n@=\"" +
                   KESTREL_LIB + "\"\n\n";
        home.write("Config/registry.reg", reg);
        if (!radio.running()) {
            std::filesystem::create_directories(home.path() + "/bus");
            radio.start(VIRTUAL_CM19A, {home.path() + "/bus", "cm19a"});
            ASSERT_GE(radio.waitOut("ready"), 0) << "virtual transceiver did not start";
        }
    }
    void startGateway() {
        const auto [program, args] = net.command(BRINDLE_EXE);
        gateway.start(program, args, {{"BRINDLE_HOME", home.path()}});
    }
    void stopGateway() {
        gateway.signal(SIGTERM);
        EXPECT_TRUE(gateway.waitFinished());
        EXPECT_EQ(gateway.exitCode(), 0);
    }
    // The next xAP datagram (UDP to port 3639) seen on the tap device.
    std::optional<UdpDatagram> nextXap(int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            const std::string frame = net.nextFrame(static_cast<int>(ms - t.elapsed()));
            if (frame.empty()) break;
            if (auto d = udpOf(frame); d && d->destinationPort == 3639) return d;
        }
        return std::nullopt;
    }

    NetworkNamespace net{std::string(kTapAddress) + "/24"};
    TempHome home{false};
    ChildProcess radio;
    ChildProcess gateway;
};

TEST_F(Lan, HeartbeatLeavesThroughTheInterfaceThePatternPicks) {
    // The pattern of the tap's network, then no settings at all: either way
    // the one non-loopback interface that is up carries xAP.
    for (const char* ini : {"[Interface]\nInterfaceAddress=192.0.2.0\n", ""}) {
        SCOPED_TRACE(*ini ? "InterfaceAddress=192.0.2.0" : "no qixXap.ini");
        prepare(ini);
        startGateway();
        const auto heartbeat = nextXap(20000);
        ASSERT_TRUE(heartbeat) << "no xAP datagram left through the tap device";
        EXPECT_EQ(heartbeat->payload.rfind("xap-hbeat\n{\n", 0), 0u) << heartbeat->payload;
        EXPECT_EQ(heartbeat->source, kTapAddress);
        EXPECT_EQ(heartbeat->destination, "255.255.255.255");
        EXPECT_TRUE(heartbeat->broadcastMac);
        // Sent by the socket bound at the announced port.
        EXPECT_NE(heartbeat->payload.find("\nport=" + std::to_string(heartbeat->sourcePort) + "\n"),
                  std::string::npos)
            << heartbeat->payload;

        const auto event = nextXap(10000);
        ASSERT_TRUE(event);
        EXPECT_NE(event->payload.find("Data=Using xAP port"), std::string::npos) << event->payload;
        EXPECT_EQ(event->source, kTapAddress);
        stopGateway();
        // An orderly stop tells the LAN too, so the next run starts from a quiet wire.
        std::optional<UdpDatagram> stopped;
        while ((stopped = nextXap(5000)) &&
               stopped->payload.find("class=xap-hbeat.stopped") == std::string::npos) {
        }
        EXPECT_TRUE(stopped) << "no xap-hbeat.stopped left through the tap device";
        EXPECT_EQ(home.read("Data/brindlehub.txt").find("stays on this machine"),
                  std::string::npos);
    }
}

TEST_F(Lan, ALoopbackChoiceIsLoggedAndNothingReachesTheNetwork) {
    prepare("[Interface]\nInterfaceAddress=127.0.0.1\n");
    startGateway();
    QElapsedTimer t;
    t.start();
    while (home.read("Data/brindlehub.txt").find("stays on this machine") == std::string::npos &&
           t.elapsed() < 20000)
        gateway.collectFor(50);
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_NE(log.find("brindlehub xAP stays on this machine"), std::string::npos) << log;
    EXPECT_NE(log.find("InterfaceAddress 127.0.0.1"), std::string::npos) << log;
    EXPECT_FALSE(nextXap(1500)) << "an xAP datagram left through the tap device";
    stopGateway();
}

}  // namespace
