// The real xap-hub on 127.0.0.1: clients that announce themselves with
// heartbeats, a sender that is no client (as the network is), and the gateway
// behind the hub driven with xap-send and watched with xap-listen.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <filesystem>

#include "base/UdpSocket.h"
#include "support/ChildProcess.h"
#include "support/RegistryText.h"
#include "support/RunEvents.h"
#include "support/TempHome.h"

namespace {

// One xAP program on this computer: its own port on 127.0.0.1, from which it
// sends heartbeats and messages to the hub, and what the hub relays to it.
class Client {
public:
    Client() {
        m_socket.bind("127.0.0.1", 0);
        m_socket.setRemoteHost("127.0.0.1");
        m_socket.setRemotePort(3639);
        m_socket.onDataArrival([this] {
            while (m_socket.hasPendingDatagram()) m_received.push_back(m_socket.readDatagram());
        });
    }
    int port() const { return m_socket.localPort(); }
    void heartbeat(const std::string& cls = "xap-hbeat.alive", int interval = 60) {
        send("xap-hbeat\n{\nv=12\nhop=1\nuid=FF123400\nclass=" + cls + "\nsource=acme.test." +
             std::to_string(port()) + "\ninterval=" + std::to_string(interval) +
             "\nport=" + std::to_string(port()) + "\n}\n");
    }
    void send(const std::string& text) { m_socket.send(text); }

    // Waits for a datagram containing the marker; then counts, of everything
    // received before it, those containing `text`. The hub relays in order, so
    // what has not arrived before a later marker never comes.
    int countBefore(const std::string& marker, const std::string& text, int limitMs = 3000) {
        const auto has = [&] { return find(marker) != m_received.end(); };
        if (!runUntil(has, limitMs)) return -1;
        return static_cast<int>(
            std::count_if(m_received.begin(), find(marker),
                          [&](const std::string& d) { return d.find(text) != std::string::npos; }));
    }
    bool receives(const std::string& text, int limitMs = 3000) {
        return runUntil([&] { return find(text) != m_received.end(); }, limitMs);
    }
    // Everything received before the first datagram containing `marker`.
    std::vector<std::string> received(const std::string& marker = "marker") {
        return {m_received.begin(), find(marker)};
    }

private:
    std::deque<std::string>::iterator find(const std::string& text) {
        return std::find_if(m_received.begin(), m_received.end(), [&](const std::string& d) {
            return d.find(text) != std::string::npos;
        });
    }
    UdpSocket m_socket;
    std::deque<std::string> m_received;
};

std::string message(const std::string& body, const std::string& cls = "acme.test") {
    return "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=" + cls +
           "\nsource=acme.test.sender\n}\nbody\n{\ntext=" + body + "\n}\n";
}

class Hub : public ::testing::Test {
protected:
    void SetUp() override {
        hub.start(XAP_HUB, {});
        ASSERT_GE(hub.waitErr("listening on 0.0.0.0:3639"), 0)
            << "the hub did not start (is port 3639 taken?)";
    }
    void TearDown() override {
        hub.signal(SIGTERM);
        EXPECT_TRUE(hub.waitFinished());
        EXPECT_EQ(hub.exitCode(), 0);
    }
    // Announces a client and waits until the hub has taken it.
    void join(Client& c, int interval = 60) {
        c.heartbeat("xap-hbeat.alive", interval);
        ASSERT_GE(hub.waitErr("client " + std::to_string(c.port()) + " joined"), 0);
    }

    ChildProcess hub;
};

TEST_F(Hub, RelaysEachDatagramToEveryOtherClientOnce) {
    Client a, b, network;
    join(a);
    join(b);

    network.send(message("from-the-network"));
    a.send(message("from-a"));
    b.send(message("from-b"));
    network.send(message("marker"));

    EXPECT_EQ(a.countBefore("marker", "from-the-network"), 1);
    EXPECT_EQ(b.countBefore("marker", "from-the-network"), 1);
    EXPECT_EQ(a.countBefore("marker", "from-b"), 1);
    EXPECT_EQ(b.countBefore("marker", "from-a"), 1);
    EXPECT_EQ(a.countBefore("marker", "from-a"), 0);
    EXPECT_EQ(b.countBefore("marker", "from-b"), 0);
    // Heartbeats are relayed too, so programs can see who is present.
    EXPECT_EQ(a.countBefore("marker", "source=acme.test." + std::to_string(b.port())), 1);
}

// More than one read's worth at once to enough clients that one read's relays
// take more than one send, and datagrams far larger than usual: each relayed
// whole, in the order sent.
TEST_F(Hub, RelaysABurstInOrderAndLargeDatagramsWhole) {
    std::deque<Client> clients(9);
    for (Client& c : clients) join(c);
    Client network;
    const std::string large = message(std::string(10000, 'L') + "-end");
    std::vector<std::string> sent;
    for (int i = 0; i < 60; ++i) {
        sent.push_back(i % 40 == 7 ? large + std::to_string(i)
                                   : message("burst-" + std::to_string(i)));
        network.send(sent.back());
    }
    network.send(message("marker"));
    for (Client& c : clients) {
        ASSERT_TRUE(c.receives("marker"));
        auto got = c.received();  // less the other clients' heartbeats
        std::erase_if(got, [](const std::string& d) { return d.rfind("xap-hbeat", 0) == 0; });
        EXPECT_EQ(got, sent);
    }
}

TEST_F(Hub, DropsClientsThatStopOrFallSilent) {
    Client stays, stops, silent, network;
    join(stays);
    join(stops);
    join(silent, 1);

    stops.heartbeat("xap-hbeat.stopped");
    ASSERT_GE(hub.waitErr("client " + std::to_string(stops.port()) + " stopped"), 0);
    // Twice the 1 s interval without a heartbeat.
    ASSERT_GE(hub.waitErr("client " + std::to_string(silent.port()) + " expired", 0, 6000), 0);

    network.send(message("after"));
    network.send(message("marker"));
    EXPECT_EQ(stays.countBefore("marker", "after"), 1);
    EXPECT_EQ(stops.countBefore("marker", "marker", 500), -1);
    EXPECT_EQ(silent.countBefore("marker", "marker", 500), -1);
}

TEST_F(Hub, SurvivesBadDatagramsAndRelaysOnlyXap) {
    Client a, network;
    join(a);
    UdpSocket raw;
    raw.bind("127.0.0.1", 0);
    raw.setRemoteHost("127.0.0.1");
    raw.setRemotePort(3639);
    for (const std::string& bad :
         {std::string(), std::string("garbage"), std::string("xap-header\n{\nclass=cut"),
          std::string(60000, '\0'), std::string("xap-hbeat\n{\n") + std::string(60000, '{'),
          // A client announcing the hub's own port would make it relay to itself.
          std::string("xap-hbeat\n{\nclass=xap-hbeat.alive\ninterval=1\nport=3639\n}\n")})
        raw.send(bad);
    network.send(message("marker"));
    EXPECT_EQ(a.countBefore("marker", "garbage"), 0);
    EXPECT_EQ(a.countBefore("marker", "class=cut"), 0);
    EXPECT_EQ(a.countBefore("marker", "port=3639"), 1);  // relayed, but not learnt
    EXPECT_TRUE(hub.running());
    EXPECT_LT(hub.waitErr("client 3639 joined", 0, 200), 0);
}

// The gateway behind the hub: an echo sent with xap-send is answered, and the
// answer and the radio's events are printed by xap-listen.
TEST_F(Hub, GatewayBehindTheHubAnswersXapSendAndReportsToXapListen) {
    TempHome home;
    std::filesystem::create_directories(home.path() + "/bus");
    std::string reg =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum]\n"
        "\"0\"=\"" +
        regString("VIRTUAL\\" + home.path() + "/bus/cm19a") + "\"\n\n";
    for (const char* progId : {"Kestrel.hspi", "Kestrel.cFireCrackerUSB"})
        reg += std::string("[HKEY_CLASSES_ROOT\\") + progId + "\\InprocServer32]\n@=\"" +
               regString(KESTREL_LIB) + "\"\n\n";
    home.write("Config/registry.reg", reg);

    ChildProcess radio, gateway, listen;
    radio.start(VIRTUAL_CM19A, {home.path() + "/bus", "cm19a"});
    ASSERT_GE(radio.waitOut("ready"), 0);
    gateway.start(BRINDLE_EXE, {}, {{"BRINDLE_HOME", home.path()}});
    ASSERT_GE(hub.waitErr("joined: qix.CM19A.", 0, 15000), 0);
    ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20", 0, 8000), 0);  // transceiver opened

    listen.start(XAP_LISTEN, {"--source", "qix.CM19A.>", "--no-heartbeats"});
    ASSERT_GE(listen.waitErr("listening on 127.0.0.1:"), 0);
    ASSERT_GE(hub.waitErr("joined: brindle.xap-listen."), 0);

    ChildProcess send;
    send.start(XAP_SEND, {"--source", "acme.tester.box", "WDT.Echo", "Echo.Query.Query=Ping"});
    ASSERT_TRUE(send.waitFinished());
    EXPECT_EQ(send.exitCode(), 0);
    EXPECT_GE(listen.waitOut("Response=ping"), 0);
    EXPECT_GE(listen.waitOut("target=acme.tester.box"), 0);

    radio.writeLine("A3 on");
    const int at = listen.waitOut("class=xAP-X10.event");
    ASSERT_GE(at, 0);
    EXPECT_GE(listen.waitOut("Device=A3", static_cast<size_t>(at)), 0);
    EXPECT_GE(listen.waitOut("Event=on", static_cast<size_t>(at)), 0);

    listen.signal(SIGTERM);
    EXPECT_TRUE(listen.waitFinished());
    EXPECT_GE(hub.waitErr("stopped"), 0);  // the listener said goodbye
    gateway.signal(SIGTERM);
    EXPECT_TRUE(gateway.waitFinished());
    radio.stop();
}

TEST(HubTools, HelpAndBadArguments) {
    for (const char* exe : {XAP_HUB, XAP_SEND, XAP_LISTEN}) {
        ChildProcess help;
        help.start(exe, {"--help"});
        ASSERT_TRUE(help.waitFinished());
        EXPECT_EQ(help.exitCode(), 0) << exe;
        ASSERT_FALSE(help.out().empty()) << exe;
        EXPECT_EQ(help.out().front().rfind("usage: ", 0), 0u) << exe;

        ChildProcess bad;
        bad.start(exe, {"--bogus", "1"});
        ASSERT_TRUE(bad.waitFinished());
        EXPECT_EQ(bad.exitCode(), 2) << exe;
    }
}

}  // namespace
