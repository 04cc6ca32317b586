// Starts the real program with a generated loopback program folder and a test
// hub on 127.0.0.1:3639, and checks what it says on the network.
#include <gtest/gtest.h>
#include <csignal>

#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/TempHome.h"
#include "support/TestHub.h"

namespace {

// The real program on the program folder, its dispatcher's debug lines on stderr.
void startGateway(ChildProcess& gw, const std::string& home) {
    gw.start(BRINDLE_EXE, {},
             {{"BRINDLE_HOME", home}, {"QT_LOGGING_RULES", "brindle.xap.dispatch.debug=true"}});
}

int portOf(const std::string& heartbeat) {
    const size_t at = heartbeat.find("\nport=");
    return at == std::string::npos ? 0 : std::atoi(heartbeat.c_str() + at + 6);
}

TEST(Startup, AnnouncesItselfReceivesAndShutsDownOnSigterm) {
    TempHome home;
    TestHub hub;
    ASSERT_TRUE(hub.ok()) << "port 3639 is taken on 127.0.0.1";
    ChildProcess gw;
    startGateway(gw, home.path());
    ASSERT_TRUE(gw.running());

    const std::string heartbeat = hub.next(10000);
    const int port = portOf(heartbeat);
    ASSERT_GE(port, 32768) << heartbeat;
    char host[128] = {};
    gethostname(host, sizeof host - 1);
    const std::string computer = std::string(host).substr(0, std::string(host).find('.'));
    EXPECT_EQ(heartbeat,
              "xap-hbeat\n{\nv=12\nhop=1\nuid=FF008700\nclass=xap-hbeat.alive\n"
              "source=qix.CM19A." +
                  computer + "\ninterval=600\nport=" + std::to_string(port) + "\n}\n");

    const std::string event = hub.next();
    EXPECT_NE(event.find("class=Homeseer.Event\n"), std::string::npos) << event;
    EXPECT_NE(
        event.find("\nType=brindlehub\nData=Using xAP port " + std::to_string(port) + "\n}\n"),
        std::string::npos)
        << event;
    // Headless and without a broker it runs on a core application: neither the
    // GUI's platform plug-in nor the MQTT library (with its TLS) is loaded.
    const std::string maps = readAll("/proc/" + std::to_string(gw.pid()) + "/maps");
    EXPECT_EQ(maps.find("libqoffscreen"), std::string::npos);
    EXPECT_EQ(maps.find("libmosquitto"), std::string::npos);

    ASSERT_TRUE(hub.sendTo(port,
                           "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Test.Ping\n"
                           "source=acme.tester.box\n}\nblock\n{\nk=v\n}\n"));
    EXPECT_GE(gw.waitErr("Readmessage class=Test.Ping source=acme.tester.box"), 0);
    // Both logs reach standard error too, one line each with its level, so the
    // journal keeps what the program did.
    EXPECT_GE(
        gw.waitErr("info: brindle.eventlog: brindlehub: Using xAP port " + std::to_string(port)),
        0);

    // Hostile datagrams must leave it running.
    hub.sendTo(port, std::string(65000, '\0'));
    hub.sendTo(port, "xap-header\n}\n}\n}");
    hub.sendTo(port, "xap-header\r\n{\r\nclass=x\r\n}\r\n");
    hub.sendTo(port, "xap-header\n{\nclass=After.Garbage\nsource=a.b.c\n}\nb\n{\n}\n");
    EXPECT_GE(gw.waitErr("Readmessage class=After.Garbage"), 0);

    gw.signal(SIGTERM);
    ASSERT_TRUE(gw.waitFinished());
    EXPECT_EQ(gw.exitCode(), 0);
    // Without the plug-in registered the host never loaded: nothing may have
    // overwritten the saved devices on the way out.
    EXPECT_NE(home.read("Data/brindlehub.txt").find("brindlehub Main Load 0 "), std::string::npos);
    EXPECT_GE(gw.waitErr("error: brindle.errorlog: brindlehub Main Load 0 "), 0);
}

TEST(Startup, SigintEndsItTheSameWay) {
    TempHome home;
    TestHub hub;
    ASSERT_TRUE(hub.ok());
    ChildProcess gw;
    startGateway(gw, home.path());
    ASSERT_FALSE(hub.next(10000).empty());
    ASSERT_FALSE(hub.next().empty());  // start-up complete
    gw.signal(SIGINT);
    ASSERT_TRUE(gw.waitFinished());
    EXPECT_EQ(gw.exitCode(), 0);
}

}  // namespace
