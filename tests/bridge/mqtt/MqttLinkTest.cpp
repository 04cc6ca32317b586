// The MQTT link against a real broker: what goes out, what comes in, and how
// it lives through the broker going away or stalling.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "mqtt/MqttClient.h"
#include "mqtt/MqttLink.h"
#include "support/MosquittoBroker.h"
#include "support/MqttTestClient.h"
#include "support/TempHome.h"
#include "xap/ErrorLogFile.h"
#include "xap/XapSettings.h"

namespace {

class Link : public ::testing::Test {
protected:
    void SetUp() override {
        XapSettings::InitXap();
        ASSERT_TRUE(broker.start());
        settings.Host = "127.0.0.1";
        settings.Port = broker.port();
        hooks.x10Request = [this](const std::string& d, const std::string& c,
                                  const std::string& n) {
            calls.push_back("x10 " + d + " " + c + " " + n);
        };
        hooks.cameraCommand = [this](int camera, const std::string& word) {
            calls.push_back("camera " + std::to_string(camera) + " " + word);
        };
        hooks.usedDevices = [this] { return used; };
    }
    void startLink() {
        link = std::make_unique<MqttLink>(settings, "box", "1.2.3", hooks);
        link->start();
        ASSERT_TRUE(runUntil([&] { return link->connected(); }, 5000));
    }
    std::string log() {
        ErrorLogFile::instance().flush();
        return home.read("Data/brindlehub.txt");
    }
    size_t logLines(const std::string& fragment) {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(fragment); at != std::string::npos;
             at = text.find(fragment, at + 1))
            ++n;
        return n;
    }

    TempHome home;
    MosquittoBroker broker;
    MqttSettings settings;
    MqttLink::Hooks hooks;
    std::vector<MqttLink::UsedDevice> used;
    std::vector<std::string> calls;
    std::unique_ptr<MqttLink> link;
};

TEST_F(Link, SaysOnlineWhileConnectedAndOfflineWhenStopped) {
    MqttTestClient watcher(broker.port());
    watcher.subscribe("brindle/box/status");
    startLink();
    EXPECT_TRUE(watcher.waitFor("brindle/box/status", "online"));
    link.reset();
    EXPECT_TRUE(watcher.waitFor("brindle/box/status", "offline"));
    MqttTestClient late(broker.port(), "late");
    late.subscribe("brindle/box/status");
    EXPECT_TRUE(late.waitFor("brindle/box/status", "offline"));  // retained
}

TEST_F(Link, RadioEventsBecomeEventsAndRetainedStates) {
    startLink();
    MqttTestClient watcher(broker.port());
    watcher.subscribe("brindle/box/#");
    ASSERT_TRUE(watcher.waitFor("brindle/box/status", "online"));  // subscribed
    link->x10Event("A1,A2", "on");
    link->x10Event("B3", "hail_request");
    link->x10Event("Q5,a4", "All Lights Off");
    link->cameraPress("C1", 7);
    link->cameraPress("C1", 3);  // Dim is no camera button
    ASSERT_TRUE(watcher.waitFor("brindle/box/ninja/C1/event", "left"));
    EXPECT_EQ(watcher.count("brindle/box/x10/A1/event", "on"), 1u);
    EXPECT_EQ(watcher.count("brindle/box/x10/A2/state", "ON"), 1u);
    EXPECT_EQ(watcher.count("brindle/box/x10/B3/event", "hail_request"), 1u);
    // A house-wide command names the house, whichever unit carried it.
    EXPECT_EQ(watcher.count("brindle/box/x10/A/event", "all_lights_off"), 1u);
    EXPECT_EQ(watcher.count("brindle/box/x10/A2/state", "OFF"), 1u);
    for (const auto& m : watcher.messages()) {
        EXPECT_NE(m.topic, "brindle/box/x10/B3/state");
        EXPECT_EQ(m.topic.find("Q5"), std::string::npos);
        EXPECT_NE(m.payload, "dim");
    }
    // States are retained: a client that comes later sees them.
    MqttTestClient late(broker.port(), "late");
    late.subscribe("brindle/box/x10/+/state");
    EXPECT_TRUE(late.waitFor("brindle/box/x10/A1/state", "OFF"));  // all lights went off
}

TEST_F(Link, CommandsSetStatesWithoutEventsAndHouseEventsReachTheirHouse) {
    used = {{false, "B5", "Lamp"}, {false, "B6", "Heater", true}};
    startLink();
    MqttTestClient watcher(broker.port());
    watcher.subscribe("brindle/box/#");
    ASSERT_TRUE(watcher.waitFor("brindle/box/status", "online"));
    link->x10Command("A1", "on");
    link->x10Event("B5,B6", "on");
    link->x10Event("B0", "All Lights Off");
    ASSERT_TRUE(watcher.waitFor("brindle/box/x10/B/event", "all_lights_off"));
    EXPECT_TRUE(watcher.waitFor("brindle/box/x10/B5/state", "OFF"));
    EXPECT_TRUE(watcher.waitFor("brindle/box/x10/A1/state", "ON"));
    // The appliance module keeps its state until all units go off.
    EXPECT_EQ(watcher.count("brindle/box/x10/B6/state", "OFF"), 0u);
    link->x10Command("B1", "all_units_off");
    EXPECT_TRUE(watcher.waitFor("brindle/box/x10/B6/state", "OFF"));
    runFor(200);
    for (const auto& m : watcher.messages()) {
        EXPECT_NE(m.topic, "brindle/box/x10/A1/event");  // a command is no press
        EXPECT_EQ(m.topic.find("x10/B0"), std::string::npos);
        EXPECT_EQ(m.topic.find("/A/"), std::string::npos);  // no state for A's other units
    }
    EXPECT_EQ(watcher.count("brindle/box/x10/B/event", "all_units_off"), 0u);
}

TEST_F(Link, AMessageOverThePacketLimitIsDroppedByTheBroker) {
    MqttTestClient peer(broker.port());
    peer.subscribe("brindle/box/status");
    startLink();
    ASSERT_TRUE(peer.waitFor("brindle/box/status", "online"));
    // Under the limit it arrives (and is refused as a payload); over it, it
    // never leaves the broker, and the connection stays.
    peer.publish("brindle/box/x10/A3/set", std::string(MqttClient::kMaxPacketBytes / 2, 'x'));
    peer.publish("brindle/box/x10/A4/set", std::string(8 << 20, 'x'));
    peer.publish("brindle/box/x10/A2/set", "on");
    ASSERT_TRUE(runUntil([&] { return !calls.empty(); }, 10000));
    runFor(300);
    EXPECT_EQ(calls, (std::vector<std::string>{"x10 A2 on "}));
    EXPECT_EQ(logLines("x10/A3/set ignored"), 1u) << log();
    EXPECT_EQ(logLines("x10/A4/set"), 0u) << log();
    EXPECT_TRUE(link->connected());
}

TEST_F(Link, SetMessagesReachTheGatewayAndBadOnesAreLoggedOnce) {
    MqttTestClient peer(broker.port());
    // Left on the broker by mistake, it would act at every reconnect.
    peer.publish("brindle/box/x10/A9/set", "on", true);
    runFor(100);
    peer.subscribe("brindle/box/status");
    startLink();
    ASSERT_TRUE(peer.waitFor("brindle/box/status", "online"));
    peer.publish("brindle/box/x10/A1/set", "on");
    peer.publish("brindle/box/x10/b2/set", "DIM 5");
    peer.publish("brindle/box/ninja/B2/set", "Left");
    for (int i = 0; i < 3; ++i) peer.publish("brindle/box/x10/Q1/set", "on");
    peer.publish("brindle/box/x10/A1/set", "explode");
    peer.publish("brindle/box/ninja/A1/set", "center");
    ASSERT_TRUE(runUntil([&] { return calls.size() >= 4; }, 5000));
    runFor(200);
    EXPECT_EQ(calls, (std::vector<std::string>{"x10 A1 on ", "x10 B2 dim 5", "camera 18 left",
                                               "camera 1 center"}));
    EXPECT_EQ(logLines("ignored"), 3u) << log();
    EXPECT_EQ(logLines("x10/Q1/set ignored: unknown device"), 1u);
    EXPECT_EQ(logLines("retained set message"), 1u);
}

TEST_F(Link, AHandlerThatLetsEventsRunDoesNotReenterTheLibrary) {
    // A status-change script that waits runs the event loop inside the
    // handling of one message; the next messages wait their turn.
    bool first = true;
    hooks.x10Request = [&](const std::string& d, const std::string& c, const std::string&) {
        calls.push_back(d + " " + c);
        if (!first) return;
        first = false;
        runFor(300);
    };
    MqttTestClient peer(broker.port());
    peer.subscribe("brindle/box/status");
    startLink();
    ASSERT_TRUE(peer.waitFor("brindle/box/status", "online"));
    for (const char* code : {"A1", "A2", "A3"})
        peer.publish(std::string("brindle/box/x10/") + code + "/set", "on");
    ASSERT_TRUE(runUntil([&] { return calls.size() == 3; }, 5000));
    EXPECT_EQ(calls, (std::vector<std::string>{"A1 on", "A2 on", "A3 on"}));
    EXPECT_TRUE(link->connected());
}

TEST_F(Link, UsedDevicesAreAnnouncedAndWithdrawnAndLeftoversCleared) {
    // An announcement from an earlier run, for a device no longer used.
    {
        MqttTestClient old(broker.port(), "old");
        old.publish("homeassistant/light/brindle_box/x10_c9/config", "{}", true);
        runFor(100);
    }
    MqttTestClient watcher(broker.port());
    watcher.subscribe("homeassistant/#");
    ASSERT_TRUE(watcher.waitFor("homeassistant/light/brindle_box/x10_c9/config", "{}"));
    used = {{false, "A1", "Lamp"}, {true, "B2", "Porch"}};
    startLink();
    const std::string light = "homeassistant/light/brindle_box/x10_a1/config";
    ASSERT_TRUE(watcher.waitFor("homeassistant/light/brindle_box/x10_c9/config", ""));
    // The leftover, the gateway, A1's 3 and house A's 3, B2's 5, the withdrawal.
    EXPECT_EQ(watcher.messages().size(), 14u);
    const auto messages = watcher.messages();
    const auto it = std::find_if(messages.begin(), messages.end(),
                                 [&](const auto& m) { return m.topic == light; });
    ASSERT_NE(it, messages.end());
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(it->payload))
                  .object()["command_topic"]
                  .toString(),
              "brindle/box/x10/A1/set");
    EXPECT_EQ(watcher.count("homeassistant/device_automation/brindle_box/ninja_b2_left/config", ""),
              0u);

    runFor(200);
    watcher.clear();
    used = {{true, "B2", "Porch"}};
    link->syncDiscovery();
    EXPECT_TRUE(watcher.waitFor(light, ""));
    runFor(200);
    // Only the unmarked unit's three topics and its house's three changed.
    const auto after = watcher.messages();
    EXPECT_EQ(after.size(), 6u) << [&] {
        std::string all;
        for (const auto& m : after) all += m.topic + " '" + m.payload.substr(0, 20) + "'\n";
        return all;
    }();
}

TEST_F(Link, GatewaysInTwoRoomsShareOneBroker) {
    // The broker drops a client when another connects with its id: each
    // gateway must keep its own, or the two would push each other off.
    MqttLink den(settings, "den", "1", hooks);
    MqttLink attic(settings, "attic", "1", hooks);
    den.start();
    attic.start();
    ASSERT_TRUE(runUntil([&] { return den.connected() && attic.connected(); }, 5000));
    MqttTestClient watcher(broker.port());
    watcher.subscribe("brindle/+/x10/#");
    watcher.subscribe("brindle/+/status");
    ASSERT_TRUE(watcher.waitFor("brindle/attic/status", "online"));
    den.x10Event("A1", "on");
    attic.x10Event("A1", "off");
    EXPECT_TRUE(watcher.waitFor("brindle/den/x10/A1/state", "ON"));
    EXPECT_TRUE(watcher.waitFor("brindle/attic/x10/A1/state", "OFF"));
    runFor(500);
    EXPECT_TRUE(den.connected() && attic.connected());
    EXPECT_EQ(watcher.count("brindle/den/status", "online"), 1u);
    EXPECT_EQ(logLines("not reachable"), 0u);
}

TEST_F(Link, ABrokerThatComesBackGetsTheStateFromWhileItWasAway) {
    // What the host kept from an earlier run is there from the start; what
    // is not a unit or a state is not.
    hooks.lastEvents = [] {
        return std::map<std::string, std::string>{
            {"C3", "on"}, {"A5", "bright"}, {"Q1", "on"}, {"B2", "hail_request"}};
    };
    startLink();
    link->x10Event("A5", "on");
    broker.kill();
    ASSERT_TRUE(runUntil([&] { return !link->connected(); }, 5000));
    link->x10Event("A5", "off");  // pressed while the broker is away
    runFor(1500);                 // a few attempts fail
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(runUntil([&] { return link->connected(); }, 10000));
    MqttTestClient late(broker.port(), "late");
    late.subscribe("brindle/box/#");
    EXPECT_TRUE(late.waitFor("brindle/box/x10/A5/state", "OFF"));
    EXPECT_TRUE(late.waitFor("brindle/box/status", "online"));
    EXPECT_TRUE(late.waitFor("brindle/box/x10/C3/state", "ON"));
    for (const auto& m : late.messages()) {
        EXPECT_EQ(m.topic.find("Q1"), std::string::npos);
        EXPECT_EQ(m.topic.find("B2"), std::string::npos);
    }
    EXPECT_EQ(logLines("not reachable"), 1u) << log();
}

TEST_F(Link, NoBrokerAtAllIsOneLineAndTheLinkKeepsTrying) {
    broker.kill();
    link = std::make_unique<MqttLink>(settings, "box", "1.2.3", hooks);
    auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openFiles();
    link->start();
    runFor(1800);
    EXPECT_FALSE(link->connected());
    EXPECT_LE(openFiles() - before, 1);  // each attempt's socket is closed by the next
    EXPECT_EQ(logLines("not reachable"), 1u) << log();
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(runUntil([&] { return link->connected(); }, 10000));
}

// One client of our own against the broker, counting its connections and
// keeping the reason of its last loss.
class MqttClientAgainstBroker : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(broker.start()); }
    MqttClient::Options options(const std::string& id, const std::string& host = "127.0.0.1") {
        return {host, broker.port(), "", "", false, "", id, "", ""};
    }
    void start(const MqttClient::Options& o) {
        client = std::make_unique<MqttClient>(o);
        client->onConnected = [this] { ++connects; };
        client->onDisconnected = [this](const std::string& reason) { lost = reason; };
        client->start();
    }

    TempHome home;
    MosquittoBroker broker;
    std::unique_ptr<MqttClient> client;
    int connects = 0;
    std::string lost;
};
using MqttClientBound = MqttClientAgainstBroker;
using MqttClientKeepAlive = MqttClientAgainstBroker;
using MqttClientNames = MqttClientAgainstBroker;

TEST_F(MqttClientBound, ABrokerThatStopsReadingCostsABoundedBacklogThenAFreshConnection) {
    start(options("bound"));
    ASSERT_TRUE(runUntil([&] { return client->connected(); }, 5000));
    broker.pause();
    const std::string big(64 * 1024, 'x');
    int sent = 0;
    while (client->connected() && sent < 1000) {
        client->publish("flood", big, false);
        ++sent;
    }
    EXPECT_FALSE(client->connected());
    EXPECT_LT(sent, 1000);
    EXPECT_NE(lost.find("takes nothing"), std::string::npos) << lost;
    broker.resume();
    EXPECT_TRUE(runUntil([&] { return connects == 2; }, 10000));
}

TEST_F(MqttClientKeepAlive, ABrokerThatFallsSilentIsNoticedWithoutAnythingToSend) {
    // A frozen broker computer or a lost network: the connection stays open,
    // nothing is refused, only the pings go unanswered.
    MqttClient::Options o = options("quiet");
    o.keepAliveSeconds = 5;
    start(o);
    ASSERT_TRUE(runUntil([&] { return client->connected(); }, 5000));
    broker.pause();
    EXPECT_TRUE(runUntil([&] { return !client->connected(); }, 15000));
    EXPECT_FALSE(lost.empty());
    broker.resume();
    EXPECT_TRUE(runUntil([&] { return connects == 2; }, 15000));
}

TEST_F(MqttClientKeepAlive, ABrokerThatTakesTheConnectionButNeverAnswersIsTriedAgain) {
    // A hung broker: the system accepts the connection, nobody answers it.
    broker.pause();
    MqttClient::Options o = options("hung");
    o.connectTimeoutMs = 1000;
    start(o);
    ASSERT_TRUE(runUntil([&] { return !lost.empty(); }, 5000));
    EXPECT_EQ(lost, "no answer from the broker");
    broker.resume();
    EXPECT_TRUE(runUntil([&] { return client->connected(); }, 10000));
}

TEST_F(MqttClientNames, AHostNameIsLookedUpWithoutHoldingTheLoop) {
    // "localhost" comes from the hosts file: no name server is asked.
    start(options("named", "localhost"));
    EXPECT_TRUE(runUntil([&] { return client->connected(); }, 5000));
}

TEST(MqttClientTls, ConnectsOnlyWithTheRightCertificateAuthority) {
    TempHome home;
    MosquittoBroker broker(true);
    ASSERT_TRUE(broker.start());
    auto attempt = [&](bool tls, const std::string& caFile) {
        MqttClient client({"127.0.0.1", broker.port(), "", "", tls, caFile, "tls", "", ""});
        std::string lost;
        client.onDisconnected = [&](const std::string& reason) { lost = reason; };
        client.start();
        runUntil([&] { return client.connected() || !lost.empty(); }, 5000);
        return client.connected() ? std::string("connected") : lost;
    };
    EXPECT_EQ(attempt(true, broker.certificate()), "connected");
    EXPECT_NE(attempt(true, home.path() + "/missing.pem").find("TLS set-up failed"),
              std::string::npos);
    // The system's authorities do not know a self-signed broker; plain MQTT
    // to a TLS port gets no answer it understands.
    EXPECT_NE(attempt(true, ""), "connected");
    EXPECT_NE(attempt(false, ""), "connected");
}

}  // namespace
