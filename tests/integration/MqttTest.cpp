// The gateway on an MQTT broker, end to end: the real program with the real
// plug-in and the virtual transceiver, a real Mosquitto on 127.0.0.1, and a
// test client on the broker.
#include "support/GatewayFixture.h"
#include "support/HttpClient.h"
#include "support/MosquittoBroker.h"
#include "support/MqttTestClient.h"

namespace {

class MqttGateway : public Gateway {
protected:
    void SetUp() override {
        Gateway::SetUp();
        ASSERT_TRUE(broker.start());
        base = "brindle/" + hostName();
    }
    // The MQTT section, a used camera 1 (radio address A1), and unit B5 left
    // on (status 2) by an earlier run.
    void configure() {
        home.write("Config/qixBrindle.ini",
                   "[MQTT]\nHost=127.0.0.1\nPort=" + std::to_string(broker.port()) +
                       "\n[PluginDevices]\nQ1=;Porch;;1;;0;;0;0;2000-01-01 00:00:00;\n"
                       "B5=;Lamp;;1;;0;;2;0;2026-12-01 20:00:00;On\n");
    }
    // Starts the gateway and a client on its topics; true once it is online
    // (and so subscribed).
    void start(MqttTestClient& client) {
        client.subscribe(base + "/#");
        writeRegistry();
        startRadio();
        startGateway();
        ASSERT_TRUE(client.waitFor(base + "/status", "online", 15000));
    }

    MosquittoBroker broker;
    std::string base;
};

TEST_F(MqttGateway, RadioPressesArriveAndSetMessagesTransmitAsXapWould) {
    configure();
    MqttTestClient client(broker.port());
    start(client);

    EXPECT_TRUE(client.waitFor(base + "/x10/B5/state", "ON"));  // kept from the last run
    radio.writeLine("A3 on");
    EXPECT_TRUE(client.waitFor(base + "/x10/A3/event", "on"));
    EXPECT_TRUE(client.waitFor(base + "/x10/A3/state", "ON"));
    radio.writeLine("A up");  // a camera button acts on the unit last addressed
    EXPECT_TRUE(client.waitFor(base + "/ninja/A3/event", "up"));

    // A set message writes the frames the equivalent xAP message writes.
    size_t from = 0;
    auto written = [&](const std::string& text) {
        waitFrames(text, 1, from);
        radio.collectFor(400);  // and whatever follows
        const size_t n = frames(text, from);
        from = radio.out().size();
        return n;
    };
    from = radio.out().size();
    client.publish(base + "/x10/A3/set", "off");
    const size_t byMqtt = written("A3 Off");
    send("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=A3\ncommand=off\n}\n");
    EXPECT_EQ(written("A3 Off"), byMqtt);
    EXPECT_GE(byMqtt, 1u);

    client.publish(base + "/ninja/A1/set", "left");
    const size_t movesByMqtt = written("Left");
    send("xAPBSC.cmd", source + ":>", "output.state\n{\nID=01\nLevel=7\n}\n");
    EXPECT_EQ(written("Left"), movesByMqtt);
    EXPECT_GE(movesByMqtt, 10u);  // the default move increment
    shutDown();
}

TEST_F(MqttGateway, StatesFollowEveryCommandAndHouseWideOnes) {
    configure();
    MqttTestClient client(broker.port());
    start(client);
    ASSERT_TRUE(client.waitFor(base + "/x10/B5/state", "ON"));

    // A command from MQTT and one from xAP: the state follows, no event fires.
    client.publish(base + "/x10/A3/set", "on");
    EXPECT_TRUE(client.waitFor(base + "/x10/A3/state", "ON"));
    send("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=A3\ncommand=off\n}\n");
    EXPECT_TRUE(client.waitFor(base + "/x10/A3/state", "OFF"));

    // A dim turns the unit on; its frames, unit first, are the dispatcher test's.
    client.publish(base + "/x10/A3/set", "dim 3");
    EXPECT_TRUE(client.waitFor(base + "/x10/A3/state", "ON"));
    for (const auto& m : client.messages()) EXPECT_NE(m.topic, base + "/x10/A3/event");

    // A remote's "B All Lights Off" is a house event, and the lamp goes off.
    radio.writeLine("B alllightsoff");
    EXPECT_TRUE(client.waitFor(base + "/x10/B/event", "all_lights_off"));
    EXPECT_TRUE(client.waitFor(base + "/x10/B5/state", "OFF"));

    // An orderly stop tells the hub as well as the broker.
    hub.clear();
    shutDown();
    EXPECT_NE(hub.nextContaining("class=xap-hbeat.stopped"), "");
    EXPECT_TRUE(client.waitFor(base + "/status", "offline"));
}

TEST_F(MqttGateway, ABrokerRestartGetsThePressMadeWhileItWasAwayAndTheWillSaysOffline) {
    configure();
    {
        MqttTestClient client(broker.port());
        start(client);
        radio.writeLine("A3 on");
        ASSERT_TRUE(client.waitFor(base + "/x10/A3/state", "ON"));
    }
    broker.kill();
    radio.writeLine("A3 off");
    radio.collectFor(500);
    ASSERT_TRUE(broker.start());  // forgot every retained message

    MqttTestClient client(broker.port(), "after");
    client.subscribe(base + "/#");
    EXPECT_TRUE(client.waitFor(base + "/status", "online", 15000));
    EXPECT_TRUE(client.waitFor(base + "/x10/A3/state", "OFF"));
    EXPECT_EQ(client.count(base + "/x10/A3/state", "ON"), 0u);

    // Gone without a word: the broker speaks the last will.
    gateway.signal(SIGKILL);
    EXPECT_TRUE(client.waitFor(base + "/status", "offline", 10000));
}

TEST_F(MqttGateway, SavingTheSettingsOnThePageStartsTheLink) {
    const int web = HttpClient::freePort();
    home.write("Config/qixBrindle.ini", "[General]\nServerPort=" + std::to_string(web) + "\n");
    MqttTestClient client(broker.port());
    client.subscribe(base + "/#");
    writeRegistry();
    startRadio();
    startGateway();
    ASSERT_TRUE(runUntil([&] { return HttpClient(web).connected(); }, 10000));
    const std::string body =
        "clientinput=yes&clientvalue=yes&UpdateButton=Save&ServerPort=" + std::to_string(web) +
        "&MqttFields=1&MqttHost=127.0.0.1&MqttPort=" + std::to_string(broker.port()) +
        "&MqttDiscovery=1";
    HttpClient c(web);
    c.send(
        "POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_NE(c.answer(10000).find("name='MqttHost'"), std::string::npos);
    EXPECT_TRUE(client.waitFor(base + "/status", "online", 10000));
    shutDown();
    EXPECT_TRUE(client.waitFor(base + "/status", "offline"));
}

}  // namespace
