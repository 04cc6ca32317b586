// The server on a loopback port of the test's own event loop, driven by a
// plain socket client: which path gets which answer, requests in several
// packets, the connection pool, and input no browser sends.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

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
        server = std::make_unique<TCPServer>();
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

TEST_F(Server, EveryPathGetsItsAnswerAndTheConnectionCloses) {
    for (const char* path : {"/status", "/STATUS.HTM", "/status?x=1", "/"}) {
        const std::string a = get(path);
        EXPECT_EQ(statusLine(a), "HTTP/1.1 200 OK") << path;
        EXPECT_NE(a.find("CM19A NINJA"), std::string::npos) << path;
    }
    EXPECT_NE(get("/help").find("\r\n\r\nSorry, Help from " + home.path() +
                                "/HTML/Help/brindlehub/brindlehub.htm is not available"),
              std::string::npos);
    home.write("HTML/Help/brindlehub/brindlehub.htm", "<img src=\"Brindlehub_Files/a.gif\">");
    EXPECT_NE(get("/help").find("\r\n\r\n<img src=\"help/brindlehub/brindlehub_files/a.gif\">"),
              std::string::npos);

    for (const char* path : {"/help/", "/favicon.ico", "/x.htm", "/a.asp", "/stat"})
        EXPECT_EQ(statusLine(get(path)), "HTTP/1.1 200 Object Not Found") << path;
    EXPECT_EQ(statusLine(get("/brindlehub/LOOK.CSS")), "HTTP/1.0 200 OK");
    EXPECT_EQ(get("/none.png").find("HTTP/1.1 404 Not Found\r\n"), 0u);
    EXPECT_EQ(server->OpenSocketCount(), 0);
}

TEST_F(Server, ImageArrivesWholeAfterItsHeader) {
    std::string bytes;
    for (int i = 0; i < 2500; ++i) bytes += static_cast<char>(i * 7);
    home.write("HTML/Pic.Png", bytes);
    const std::string a = get("/PIC.PNG");
    const size_t body = a.find("\r\n\r\n") + 4;
    EXPECT_NE(a.find("Content-Length: 2500\r\nConnection: Close\r\nContent-Type: unknown/binary"),
              std::string::npos);
    EXPECT_TRUE(a.substr(body) == bytes);
}

TEST_F(Server, PostBodyInASecondPacketWhileTheFirstIsQueued) {
    get("/status");  // the table the post refers to
    HttpClient c(port);
    const std::string body = "clientinput=A1&clientvalue=On&A1DC=A1";
    c.send("POST /status HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n");
    ASSERT_TRUE(runUntil([&] { return server->queuedPackets() == 1; }));
    c.send(body);
    EXPECT_EQ(statusLine(c.answer()), "HTTP/1.1 200 OK");
    EXPECT_EQ(sent, std::vector<std::string>{"A1 On"});

    // Split into many packets, all queued before the drain.
    HttpClient many(port);
    many.send("POST /status HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(runUntil([&] { return server->queuedPackets() == 1; }));
    // Back to back, so all are in before the drain (the reads may join some).
    for (const char* piece : {"clientinput=A2&", "clientvalue=Off&", "A2DC=A2"}) many.send(piece);
    EXPECT_EQ(statusLine(many.answer()), "HTTP/1.1 200 OK");
    EXPECT_EQ(sent, (std::vector<std::string>{"A1 On", "A2 Off"}));
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

TEST_F(Server, PoolGrowsToTwentyFiveAndStartsOverAtTwentyFourOpen) {
    std::vector<std::unique_ptr<HttpClient>> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(std::make_unique<HttpClient>(port));
        ASSERT_TRUE(runUntil([&] { return server->OpenSocketCount() == i + 1; })) << i;
        EXPECT_GE(server->highestIndex() - 4, std::min(server->OpenSocketCount() - 1, 21));
    }
    EXPECT_EQ(server->highestIndex(), 25);

    HttpClient next(port);
    next.send("GET /status HTTP/1.1\r\n\r\n");
    EXPECT_EQ(statusLine(next.answer()), "HTTP/1.1 200 OK");
    EXPECT_EQ(server->highestIndex(), 5);
    for (auto& c : idle) {
        c->answer(1000);
        EXPECT_TRUE(c->closedByServer());
        EXPECT_TRUE(c->received().empty());
    }
}

TEST_F(Server, BadInputNeverStopsTheNextAnswer) {
    {
        HttpClient huge(port);
        huge.send("GET /status HTTP/1.1\r\nX: " + std::string(1 << 20, 'a'));
        huge.answer();
        EXPECT_TRUE(huge.closedByServer());
    }
    const std::string notFound = "HTTP/1.1 200 Object Not Found";
    EXPECT_EQ(statusLine(get("")), notFound);
    for (const std::string& packet :
         {std::string("GARBAGE\r\n\r\n"), std::string("GET /status\r\n"),
          std::string("\0\0\0 HTTP\0", 9), std::string("GET /%zz%%%0 HTTP/1.1\r\n\r\n"),
          std::string("POST /%00 HTTP/1.1\r\n\r\na=%&&=&%%%")}) {
        HttpClient c(port);
        c.send(packet);
        EXPECT_EQ(statusLine(c.answer()), notFound);
    }
    {
        // Headers that never end: answered on what came first, the rest dropped.
        HttpClient endless(port);
        endless.send("GET /status HTTP/1.1\r\n");
        for (int i = 0; i < 200 && !endless.poll() && endless.received().empty(); ++i)
            endless.send("X-Header-" + std::to_string(i) + ": " + std::string(500, 'v') + "\r\n");
        endless.answer();
        EXPECT_EQ(statusLine(endless.received()), "HTTP/1.1 200 OK");
    }
    EXPECT_EQ(statusLine(get("/status")), "HTTP/1.1 200 OK");
    EXPECT_EQ(server->queuedPackets(), 0u);
}

TEST_F(Server, EmptyPortSettingListensNowhere) {
    // Quotes are removed after the default applies: a value of "" is empty.
    Application::instance()->iniCache().SaveINISetting("General", "ServerPort", "\"\"");
    TCPServer quiet;
    quiet.Form_Load();
    EXPECT_EQ(quiet.listeningPort(), 0);
    EXPECT_EQ(quiet.serverPort(), "");
}

}  // namespace
