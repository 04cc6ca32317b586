#include <gtest/gtest.h>

#include "base/Err.h"
#include "base/WaitObject.h"
#include "support/TempHome.h"
#include "support/TestHub.h"
#include "xap/ErrorLogFile.h"
#include "xap/XapLog.h"
#include "xap/XapMessageCallback.h"
#include "xap/xap.h"
#include "xap/xapGlobal.h"

namespace {

struct CountingCallback : XapMessageCallback {
    int calls = 0;
    void onMessage() override { ++calls; }
};

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hub.ok()) << "port 3639 is taken on 127.0.0.1";
        xapGlobal::reset();
        t = std::make_unique<xap>();
        t->setXapSource("qix.CM19A.test");
        t->setXapUID("FF008700");
        t->BroadcastAddress = "127.0.0.1";
        t->InterfaceAddress = "127.0.0.1";
    }
    void TearDown() override {
        t.reset();
        xapGlobal::reset();
    }
    void wait(int ms) { WaitObject().Wait(ms); }

    TempHome home;
    TestHub hub;
    std::unique_ptr<xap> t;
};

std::string heartbeat(const std::string& interval, int port, const std::string& state = "alive") {
    return "xap-hbeat\n{\nv=12\nhop=1\nuid=FF008700\nclass=xap-hbeat." + state +
           "\nsource=qix.CM19A.test\ninterval=" + interval + "\nport=" + std::to_string(port) +
           "\n}\n";
}

TEST_F(Transport, HeartbeatIsWrittenExactlyAndClamped) {
    const int port = t->Init();
    ASSERT_GE(port, xap::kFirstPort);
    t->SendHeartbeat(60);
    EXPECT_EQ(hub.next(), heartbeat("600", port));
    EXPECT_TRUE(t->heartbeatEnabled());
    EXPECT_EQ(t->heartbeatIntervalMs(), 60000);

    t->SendHeartbeat(3);
    EXPECT_EQ(hub.next(), heartbeat("50", port));
    EXPECT_EQ(t->heartbeatIntervalMs(), 5000);

    t->SendHeartbeat(90);
    EXPECT_EQ(hub.next(), heartbeat("600", port));

    t->SendHeartbeat(0);
    EXPECT_EQ(hub.next(), heartbeat("00", port));
    EXPECT_FALSE(t->heartbeatEnabled());
}

TEST_F(Transport, UnloadingSaysStoppedOnlyAfterAnAliveHeartbeat) {
    const int port = t->Init();
    ASSERT_GT(port, 0);
    t->SendHeartbeat(60);
    EXPECT_EQ(hub.next(), heartbeat("600", port));
    t.reset();
    EXPECT_EQ(hub.next(), heartbeat("600", port, "stopped"));

    // Bound but never announced: nothing to take back.
    t = std::make_unique<xap>();
    t->BroadcastAddress = "127.0.0.1";
    t->InterfaceAddress = "127.0.0.1";
    ASSERT_GT(t->Init(), 0);
    t.reset();
    wait(30);
    EXPECT_EQ(hub.pending(), 0u);
}

TEST_F(Transport, HeartbeatGoesOutOnEveryTenthTick) {
    ASSERT_GT(t->Init(), 0);
    t->SendHeartbeat(60);
    hub.clear();
    for (int i = 0; i < 9; ++i) t->HBeatTimer_Timer();
    wait(30);
    EXPECT_EQ(hub.pending(), 0u);
    t->HBeatTimer_Timer();
    EXPECT_NE(hub.next().find("interval=600"), std::string::npos);
}

TEST_F(Transport, PortSearchSkipsTakenPorts) {
    // Take the first two free ports of the range ourselves.
    UdpSocket a, b;
    int first = xap::kFirstPort;
    while (a.bind("127.0.0.1", first) != 0) ++first;
    ASSERT_EQ(b.bind("127.0.0.1", first + 1), 0) << "port after " << first << " is busy";
    const int port = t->Init();
    EXPECT_EQ(port, first + 2);
    t->SendHeartbeat(60);
    EXPECT_NE(hub.next().find("port=" + std::to_string(first + 2) + "\n"), std::string::npos);
}

TEST_F(Transport, ReceivesOnItsPortAlthoughTheHostNameIsLoopback) {
    // Here the host name resolves to 127.0.0.1, the address Winsock1 holds:
    // Init must still succeed and the port must receive.
    const int port = t->Init();
    ASSERT_GT(port, 0);
    CountingCallback cb;
    t->RegisterNewMessageCallback(&cb);
    ASSERT_TRUE(hub.sendTo(port, "xap-header\n{\n}\nfirst\n"));
    ASSERT_TRUE(hub.sendTo(port, "XAP-HEADER second"));
    wait(150);
    EXPECT_EQ(cb.calls, 1);  // both arrived within 50 ms: one hand-over
    EXPECT_EQ(t->GetMessage(), "xap-header\n{\n}\nfirst\n");
    EXPECT_EQ(t->GetMessage(), "XAP-HEADER second");
    EXPECT_EQ(t->GetMessage(), "");
}

TEST_F(Transport, FiltersHeartbeatsAndShortTexts) {
    const int port = t->Init();
    ASSERT_GT(port, 0);
    hub.sendTo(port, "xap-hbeat\n{\n}\n");
    hub.sendTo(port, "xap-hea");
    hub.sendTo(port, std::string("xap-head\0\xff binary", 17));
    wait(150);
    EXPECT_EQ(t->queuedCount(), 1u);
    EXPECT_EQ(t->GetMessage(), std::string("xap-head\0\xff binary", 17));

    t->FilterHeartbeats = false;
    hub.sendTo(port, "xap-hbeat\n");
    hub.sendTo(port, "");
    wait(150);
    EXPECT_EQ(t->GetMessage(), "xap-hbeat\n");
}

TEST_F(Transport, AFullQueueDropsTheOldestTexts) {
    const int port = t->Init();
    ASSERT_GT(port, 0);
    // Unread texts beyond the byte bound make room by dropping the oldest.
    const std::string big = "xap-header\n" + std::string(20000, 'x');
    for (int i = 0; i < 6; ++i) {
        hub.sendTo(port, big + std::to_string(i));
        wait(20);
    }
    hub.sendTo(port, "xap-header last");
    wait(150);
    EXPECT_EQ(t->queuedCount(), xap::kMaxQueuedBytes / (big.size() + 1) + 1);  // and the last
    std::string text, last;
    while (!(text = t->GetMessage()).empty()) last = text;
    EXPECT_EQ(last, "xap-header last");
}

TEST_F(Transport, SteadyTrafficDoesNotPostponeTheHandOver) {
    const int port = t->Init();
    ASSERT_GT(port, 0);
    CountingCallback cb;
    t->RegisterNewMessageCallback(&cb);
    // A datagram every 20 ms for 200 ms: the hand-over must still happen
    // during the burst, not only after it.
    for (int i = 0; i < 10; ++i) {
        hub.sendTo(port, "xap-header " + std::to_string(i));
        wait(20);
    }
    EXPECT_GE(cb.calls, 2);
}

TEST_F(Transport, SendXapBuildsOneMessage) {
    ASSERT_GT(t->Init(), 0);
    t->SendXap("", "xAP-X10.event", "xAP-X10.event",
               xapGlobal::item("Device", "A3") + "NoSeparator" + std::string(1, '\0') +
                   xapGlobal::item("Event", "on"),
               "A1");
    EXPECT_EQ(hub.next(),
              "xap-header\n{\nv=12\nhop=1\nuid=FF008700\nclass=xAP-X10.event\n"
              "source=qix.CM19A.test:A1\n}\nxAP-X10.event\n{\nDevice=A3\nEvent=on\n}\n");
    t->SendXap("a.b.c", "c", "s", "k\x01v", "", "FF008701");
    EXPECT_EQ(hub.next(),
              "xap-header\n{\nv=12\nhop=1\nuid=FF008701\nclass=c\nsource=qix.CM19A.test\n"
              "target=a.b.c\n}\ns\n{\nk=v\n}\n");
}

TEST_F(Transport, HeldBackMessagesGoOutFirstInOrder) {
    ASSERT_GT(t->Init(), 0);
    xapGlobal::SendXap("", "one", "b", "");
    xapGlobal::SendXap("", "two", "b", "", "", "FF0087AA");
    wait(30);
    EXPECT_EQ(hub.pending(), 0u);
    ASSERT_EQ(xapGlobal::values().pending.size(), 2u);
    EXPECT_EQ(xapGlobal::values().pending[0].MsgUID, "FF008700");  // empty uid: the gateway's

    xapGlobal::values().XapReady = true;
    xapGlobal::SendXap("", "three", "b", "");
    EXPECT_NE(hub.next().find("class=one\n"), std::string::npos);
    const std::string second = hub.next();
    EXPECT_NE(second.find("class=two\n"), std::string::npos);
    EXPECT_NE(second.find("uid=FF0087AA\n"), std::string::npos);
    EXPECT_NE(hub.next().find("class=three\n"), std::string::npos);
    EXPECT_TRUE(xapGlobal::values().pending.empty());
}

TEST_F(Transport, AFailingSendIsLoggedOncePerDistinctError) {
    ASSERT_GT(t->Init(), 0);
    // Too long for one datagram: every send fails the same way.
    const std::string huge = xapGlobal::item("k", std::string(70000, 'x'));
    Err::set(13, "Type mismatch");  // a caller's fault, not the transport's
    for (int i = 0; i < 3; ++i) t->SendXap("", "c", "s", huge);
    EXPECT_EQ(Err::Number(), 13);
    Err::Clear();
    t->SendXap("", "c", "s", "k\x01v");
    EXPECT_NE(hub.next(), "");  // the transport still works
    t->SendXap("", "c", "s", huge);
    const auto failures = [&] {
        const std::string log = home.read("Data/brindlehub.txt");
        size_t n = 0;
        for (size_t at = 0; (at = log.find(" failed: ", at)) != std::string::npos; ++at) ++n;
        return n;
    };
    EXPECT_EQ(failures(), 1u);
    const std::string log = home.read("Data/brindlehub.txt");
    EXPECT_NE(log.find("brindlehub xAP send from 127.0.0.1 to 127.0.0.1:3639 failed: "),
              std::string::npos);
    EXPECT_EQ(log.find("Type mismatch"), std::string::npos) << log;
    // A fresh start reports it again (after a flush: the log file itself
    // collapses repeats of a line).
    ErrorLogFile::instance().flush();
    ASSERT_GT(t->Init(), 0);
    t->SendXap("", "c", "s", huge);
    EXPECT_EQ(failures(), 2u);
}

TEST(TransportAddress, InterfacePatternPicksTheAddressWithItsBits) {
    const std::vector<std::string> list = {"10.0.0.5", "192.168.1.20"};
    EXPECT_EQ(xap::chooseLocalAddress(list, "192.168.0.0"), "192.168.1.20");
    EXPECT_EQ(xap::chooseLocalAddress(list, "Default"), "10.0.0.5");
    EXPECT_EQ(xap::chooseLocalAddress(list, "172.16.0.0"), "10.0.0.5");
    EXPECT_EQ(xap::chooseLocalAddress(list, "10.0.0"), "10.0.0.5");  // not four parts
    EXPECT_EQ(xap::chooseLocalAddress({}, "Default"), "");
}

TEST(TransportAddress, ALoopbackChoiceToAnOutsideTargetIsExplained) {
    const std::vector<std::string> lan = {"192.168.1.20", "127.0.0.1"};
    const std::string patternPicked =
        xap::loopbackNotice(lan, "127.0.0.1", "127.0.0.1", "255.255.255.255");
    EXPECT_EQ(patternPicked.rfind("xAP stays on this machine: ", 0), 0u) << patternPicked;
    EXPECT_NE(patternPicked.find("InterfaceAddress 127.0.0.1"), std::string::npos);
    const std::string nothingElse =
        xap::loopbackNotice({"127.0.0.1"}, "Default", "127.0.0.1", "255.255.255.255");
    EXPECT_NE(nothingElse.find("no network interface other than loopback is up"), std::string::npos)
        << nothingElse;
    // Loopback to loopback is what tests and single-machine setups ask for.
    EXPECT_EQ(xap::loopbackNotice(lan, "127.0.0.1", "127.0.0.1", "127.0.0.1"), "");
    EXPECT_EQ(xap::loopbackNotice(lan, "192.168.0.0", "192.168.1.20", "255.255.255.255"), "");
}

}  // namespace
