// The server on a loopback port of the test's own event loop, driven by a
// plain socket client: which path gets which answer, requests in several
// packets, the connection pool, and input no browser sends.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "base/Clock.h"
#include "host/Application.h"
#include "host/Setup.h"
#include "host/WebSettings.h"
#include "support/HttpClient.h"
#include "support/TempHome.h"
#include "web/TCPServer.h"
#include "xap/xapGlobal.h"

namespace {

class Server : public ::testing::Test {
protected:
    void SetUp() override {
        xapGlobal::reset();
        WebSettings::instance() = WebSettings();
        Application::create();
        setup = std::make_shared<::Setup>(Application::shared());
        setup->Form_Load();
        port = HttpClient::freePort();
        Application::instance()->iniCache().SaveINISetting("General", "ServerPort",
                                                           "\"" + std::to_string(port) + "\"");
        std::filesystem::create_directories(home.path() + "/HTML/brindlehub");
        std::filesystem::create_directories(home.path() + "/HTML/Help/brindlehub");
        home.write("HTML/brindlehub/look.css", "body { }\n");
        server = std::make_unique<TCPServer>(*Application::instance());
        server->statusPage().commands.SendCM19A = [this](const std::string& d, const std::string& c,
                                                         const std::string&) {
            sent.push_back(d + " " + c);
        };
        server->Form_Load();
        ASSERT_EQ(server->listeningPort(), port);
    }
    void TearDown() override {
        server.reset();
        setup.reset();
        Application::release();
        xapGlobal::reset();
    }

    // One request, one packet, the whole answer.
    std::string get(const std::string& path) {
        HttpClient c(port);
        c.send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        const std::string a = c.answer();
        EXPECT_TRUE(c.closedByServer()) << path;
        return a;
    }
    static std::string statusLine(const std::string& answer) {
        return answer.substr(0, answer.find("\r\n"));
    }

    TempHome home{};
    std::shared_ptr<::Setup> setup;
    std::unique_ptr<TCPServer> server;
    int port = 0;
    std::vector<std::string> sent;
};

// The program's own web test asks the usual paths; these are the odd ones.
TEST_F(Server, EveryPathGetsItsAnswerAndTheConnectionCloses) {
    EXPECT_NE(get("/status?x=1").find("CM19A NINJA"), std::string::npos);
    EXPECT_NE(get("/help").find("\r\n\r\nSorry, Help from " + home.path() +
                                "/HTML/Help/brindlehub/brindlehub.htm is not available"),
              std::string::npos);
    for (const char* path : {"/x.htm", "/a.asp", "/stat"})
        EXPECT_EQ(statusLine(get(path)), "HTTP/1.1 200 Object Not Found") << path;
    EXPECT_EQ(statusLine(get("/brindlehub/LOOK.CSS")), "HTTP/1.0 200 OK");  // any case
    EXPECT_EQ(server->OpenSocketCount(), 0);
}

TEST_F(Server, RequestIsGatheredWholeWhateverItsPackets) {
    get("/status");  // the table the post refers to
    const std::string longName(100 * 1024, 'n');
    const std::string body =
        "clientinput=yes&UpdateButton=Save&Q1DC=Q1&Q1Name=Kitchen+Ceiling+Lamp&"
        "Q2DC=Q2&Q2Name=Porch&Q3DC=Q3&Q3Name=" +
        longName + "&ServerPort=" + std::to_string(port);
    HttpClient c(port);
    c.send("POST /status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nOrigin: http://127.0.0.1:" + std::to_string(port) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    // Cut inside a value and inside a key, with the drain's delay between.
    for (const auto& [from, to] : {std::pair<size_t, size_t>{0, 60}, {60, 80}, {80, body.size()}}) {
        runFor(3 * TCPServer::kDrainDelayMs);
        EXPECT_EQ(server->queuedPackets(), 0u);
        c.send(body.substr(from, to - from));
    }
    EXPECT_EQ(statusLine(c.answer()), "HTTP/1.1 200 OK");
    DeviceTable& devices = Application::instance()->devices();
    EXPECT_EQ(devices.GetDevice(devices.DeviceExists("Q1"))->name, "Kitchen Ceiling Lamp");
    EXPECT_EQ(devices.GetDevice(devices.DeviceExists("Q2"))->name, "Porch");
    EXPECT_EQ(devices.GetDevice(devices.DeviceExists("Q3"))->name, longName);

    // Too large by its word or by its bytes: 413, and nothing changes.
    HttpClient big(port);
    big.send("POST /status HTTP/1.1\r\nContent-Length: 600000\r\n\r\nQ1DC=Q1&Q1Name=x");
    EXPECT_EQ(statusLine(big.answer()), "HTTP/1.1 413 Payload Too Large");
    HttpClient endless(port);
    endless.send("GET /status HTTP/1.1\r\nX: " + std::string(600 * 1024, 'a'));
    EXPECT_EQ(statusLine(endless.answer()), "HTTP/1.1 413 Payload Too Large");
    EXPECT_EQ(devices.GetDevice(devices.DeviceExists("Q1"))->name, "Kitchen Ceiling Lamp");
    EXPECT_NE(home.read("Data/brindlehub.txt").find("exceeds 524288 bytes, answered 413"),
              std::string::npos);
}

TEST_F(Server, SlowAndSilentConnectionsAreTimedOut) {
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    Clock::install(&clock);
    HttpClient silent(port);
    HttpClient slow(port);
    slow.send("POST /status HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
    HttpClient headless(port);
    headless.send("GET /status\r\n");
    ASSERT_TRUE(runUntil([&] { return server->OpenSocketCount() == 3; }));
    runFor(100);
    clock.advanceMs(TCPServer::kRequestTimeoutMs - 1);
    server->CheckConnections();
    EXPECT_EQ(server->OpenSocketCount(), 3);
    clock.advanceMs(1);
    server->CheckConnections();
    EXPECT_EQ(statusLine(slow.answer()), "HTTP/1.1 408 Request Timeout");
    EXPECT_EQ(statusLine(headless.answer()), "HTTP/1.1 408 Request Timeout");
    silent.answer();
    EXPECT_TRUE(silent.closedByServer());
    EXPECT_TRUE(silent.received().empty());
    Clock::install(nullptr);
    EXPECT_EQ(server->OpenSocketCount(), 0);
}

TEST_F(Server, IdleConnectionsMakeRoomAndReceivedRequestsAreAllAnswered) {
    // A pool full of idle connections: each newcomer takes the oldest one's place.
    std::vector<std::unique_ptr<HttpClient>> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<HttpClient>(port));
        ASSERT_TRUE(runUntil([&] { return server->OpenSocketCount() == std::min(i + 1, 25); }));
    }
    EXPECT_EQ(server->highestIndex(), 25);
    EXPECT_EQ(statusLine(get("/status")), "HTTP/1.1 200 OK");
    for (size_t i = 0; i < idle.size(); ++i) {
        idle[i]->poll();
        EXPECT_EQ(idle[i]->closedByServer(), i <= 15) << i;
    }
    idle.clear();
    ASSERT_TRUE(runUntil([&] { return server->OpenSocketCount() == 0; }));

    // More whole requests at once than sockets: none is dropped.
    std::vector<std::unique_ptr<HttpClient>> many;
    for (int i = 0; i < 40; ++i) {
        many.push_back(std::make_unique<HttpClient>(port));
        many.back()->send("GET /help HTTP/1.1\r\nHost: h\r\n\r\n");
    }
    for (size_t i = 0; i < many.size(); ++i)
        EXPECT_EQ(statusLine(many[i]->answer()), "HTTP/1.1 200 OK")
            << i << " " << many[i]->closedByServer() << " open " << server->OpenSocketCount();
    EXPECT_EQ(server->OpenSocketCount(), 0);
}

TEST_F(Server, PeerAddressIsTheConnections) {
    Application::instance()->iniCache().SaveINISetting("Settings", "touchscreenips", "127.0.0.1");
    EXPECT_NE(get("/status").find("bgcolor="), std::string::npos);
    Application::instance()->iniCache().SaveINISetting("Settings", "touchscreenips", "10.0.0.9");
    HttpClient c(port);
    c.send("GET /status HTTP/1.1\r\nHost: 10.0.0.9\r\n\r\n");
    EXPECT_EQ(c.answer().find("bgcolor="), std::string::npos);
}

TEST_F(Server, PeerThatLeavesTakesItsQueuedRequestAlong) {
    {
        HttpClient c(port);
        c.send("GET /status HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(runUntil([&] { return server->queuedPackets() == 1; }));
    }
    ASSERT_TRUE(runUntil([&] { return server->queuedPackets() == 0; }));
    EXPECT_EQ(server->OpenSocketCount(), 0);
    EXPECT_EQ(statusLine(get("/status")), "HTTP/1.1 200 OK");
}

TEST_F(Server, BadInputNeverStopsTheNextAnswer) {
    const std::string notFound = "HTTP/1.1 200 Object Not Found";
    EXPECT_EQ(statusLine(get("")), notFound);
    for (const std::string& packet :
         {std::string("GARBAGE\r\n\r\n"), std::string("\0\0\0 HTTP\0\r\n\r\n", 13),
          std::string("GET /%zz%%%0 HTTP/1.1\r\n\r\n"),
          std::string("POST /%00 HTTP/1.1\r\nContent-Length: 9\r\n\r\na=%&&=&%%%")}) {
        HttpClient c(port);
        c.send(packet);
        EXPECT_EQ(statusLine(c.answer()), notFound);
    }
    for (const char* length : {"x", "-1", "1, 2", ""}) {
        HttpClient c(port);
        c.send(std::string("POST /status HTTP/1.1\r\nContent-Length: ") + length + "\r\n\r\n");
        EXPECT_EQ(statusLine(c.answer()), "HTTP/1.1 400 Bad Request") << length;
    }
    EXPECT_EQ(statusLine(get("/status")), "HTTP/1.1 200 OK");
    EXPECT_EQ(server->queuedPackets(), 0u);
}

TEST_F(Server, PortAndAddressSettings) {
    IniCache& ini = Application::instance()->iniCache();
    ini.SaveINISetting("General", "ServerAddress", "127.0.0.1");
    {
        // One address: the page is there, and a mistyped port is said out loud.
        ini.SaveINISetting("General", "ServerPort", std::to_string(HttpClient::freePort()));
        TCPServer local(*Application::instance());
        local.Form_Load();
        ASSERT_GT(local.listeningPort(), 0);
        HttpClient c(local.listeningPort());
        c.send("GET /status HTTP/1.1\r\n\r\n");
        EXPECT_EQ(statusLine(c.answer()), "HTTP/1.1 200 OK");
    }
    for (const char* bad : {"abc", "0", "-1", "99999", "80 12", "8O12"}) {
        ini.SaveINISetting("General", "ServerPort", bad);
        TCPServer quiet(*Application::instance());
        quiet.Form_Load();
        EXPECT_EQ(quiet.listeningPort(), 0) << bad;
        EXPECT_NE(home.read("Data/brindlehub.txt")
                      .find(std::string("ServerPort \"") + bad +
                            "\" is not a port number from 1 to 65535"),
                  std::string::npos)
            << bad;
    }
    // Taken, or an address this computer does not have: the reason is logged.
    ini.SaveINISetting("General", "ServerAddress", "");
    ini.SaveINISetting("General", "ServerPort", std::to_string(port));
    TCPServer second(*Application::instance());
    second.Form_Load();
    EXPECT_EQ(second.listeningPort(), 0);
    EXPECT_NE(home.read("Data/brindlehub.txt")
                  .find("cannot listen on every address port \"" + std::to_string(port) + "\""),
              std::string::npos);
    ini.SaveINISetting("General", "ServerAddress", "192.0.2.7");
    TCPServer elsewhere(*Application::instance());
    elsewhere.Form_Load();
    EXPECT_EQ(elsewhere.listeningPort(), 0);
    EXPECT_NE(home.read("Data/brindlehub.txt").find("cannot listen on 192.0.2.7 port"),
              std::string::npos);
}

TEST_F(Server, EmptyPortSettingListensNowhere) {
    // Quotes are removed after the default applies: a value of "" is empty.
    Application::instance()->iniCache().SaveINISetting("General", "ServerPort", "\"\"");
    TCPServer quiet(*Application::instance());
    quiet.Form_Load();
    EXPECT_EQ(quiet.listeningPort(), 0);
    EXPECT_EQ(quiet.serverPort(), "");
}

}  // namespace
