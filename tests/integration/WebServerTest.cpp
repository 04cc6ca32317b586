// The web server of the real program, with the real plug-in and the virtual
// transceiver, asked over 127.0.0.1 by a plain socket client: the answers of
// every path, the page's commands reaching the radio, a save surviving the
// shutdown, and requests no browser sends.
#include <sstream>

#include "support/GatewayFixture.h"
#include "support/HttpClient.h"

namespace {

class WebGateway : public Gateway {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        Gateway::SetUp();
        web = HttpClient::freePort();
        fs::copy(fs::path(BRINDLE_SOURCE_DIR) / "html", home.path() + "/HTML",
                 fs::copy_options::recursive);
        for (int i = 0; i < 2500; ++i) picture += static_cast<char>((i * 13) % 256);
        home.write("HTML/brindlehub/images/Test.PNG", picture);
        writeRegistry();
        home.write("Config/qixBrindle.ini",
                   "[General]\nServerPort=" + std::to_string(web) +
                       "\nIncludeX10=1\nNinjaIncrement=2\n[PluginDevices]\n"
                       "A1=;Hall Lamp;X10 CM19A FireCracker USB;1;0;0;X10 Lamp;0;0;"
                       "2000-01-01 00:00:00;\n");
        startRadio();
        startGateway();
        ASSERT_TRUE(runUntil([this] { return HttpClient(web).connected(); }, 20000))
            << "the web server never listened";
        ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20", 0, 10000), 0);
    }

    std::string request(const std::string& text) {
        HttpClient c(web);
        c.send(text);
        const std::string a = c.answer(10000);
        EXPECT_TRUE(c.closedByServer());
        return a;
    }
    std::string get(const std::string& path) {
        return request("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(web) +
                       "\r\nUser-Agent: test\r\n\r\n");
    }
    // A form post from the page itself, its body in three packets 5 ms apart
    // after the header, as TCP may deliver a large form.
    std::string post(const std::string& body) {
        HttpClient c(web);
        const std::string host = "127.0.0.1:" + std::to_string(web);
        c.send("POST /status HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host +
               "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n");
        const size_t third = body.size() / 3;
        for (size_t at = 0; at < body.size(); at += third + 1) {
            runFor(5);
            c.send(body.substr(at, third + 1));
        }
        const std::string a = c.answer(10000);
        EXPECT_TRUE(c.closedByServer());
        return a;
    }
    static std::string statusLine(const std::string& a) { return a.substr(0, a.find("\r\n")); }
    static std::string body(const std::string& a) {
        const size_t at = a.find("\r\n\r\n");
        return at == std::string::npos ? std::string() : a.substr(at + 4);
    }
    size_t waitFrames(const std::string& text, size_t count, size_t from) {
        Gateway::waitFrames(text, count, from);
        radio.collectFor(300);  // and nothing more
        return frames(text, from);
    }
    std::string savedLine(const std::string& key) {
        std::istringstream in(home.read("Config/qixBrindle.ini"));
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return "(none)";
    }

    int web = 0;  // the web server's port
    std::string picture;
};

TEST_F(WebGateway, EveryPathGetsItsAnswer) {
    for (const char* path : {"/status", "/STATUS.HTM", "/"}) {
        const std::string a = get(path);
        EXPECT_EQ(statusLine(a), "HTTP/1.1 200 OK") << path;
        EXPECT_NE(a.find("\r\nContent-Length: " + std::to_string(body(a).size()) + "\r\n"),
                  std::string::npos);
        EXPECT_NE(a.find(">X10 P16</td>"), std::string::npos) << path;
        EXPECT_EQ(a.substr(a.size() - 14), "</body></html>");
    }

    const std::string help = get("/help");
    EXPECT_EQ(statusLine(help), "HTTP/1.1 200 OK");
    EXPECT_NE(help.find("src=\"help/brindlehub/brindlehub_files/status-page.gif\""),
              std::string::npos);
    EXPECT_EQ(get("/help/brindlehub/brindlehub_files/status-page.gif").find("HTTP/1.1 200 OK"), 0u);

    // The answers' bytes are the response test's; here each path finds its file.
    for (const char* path : {"/help/", "/favicon.ico"})
        EXPECT_EQ(statusLine(get(path)), "HTTP/1.1 200 Object Not Found") << path;
    const std::string image = get("/brindlehub/images/test.png");
    EXPECT_EQ(statusLine(image), "HTTP/1.1 200 OK");
    EXPECT_TRUE(body(image) == picture);
    EXPECT_EQ(statusLine(get("/brindlehub/stylenobody.css")), "HTTP/1.0 200 OK");
    EXPECT_EQ(statusLine(get("/brindlehub/images/none.gif")), "HTTP/1.1 404 Not Found");
}

TEST_F(WebGateway, ChoicesOnThePageReachTheRadio) {
    get("/status");
    size_t mark = radio.out().size();
    EXPECT_EQ(statusLine(post("clientinput=A1&clientvalue=On&A1DC=A1&A1Value=")),
              "HTTP/1.1 200 OK");
    EXPECT_EQ(waitFrames("A1 On", 3, mark), 3u);

    // "Left" moves the camera "NinjaIncrement" (2) steps; "Up" one.
    mark = radio.out().size();
    post("clientinput=Q1&clientvalue=Left&Q1DC=Q1");
    EXPECT_EQ(waitFrames("Left", 2 * 3, mark), 2u * 3u);
    mark = radio.out().size();
    post("clientinput=Q1&clientvalue=Up&Q1DC=Q1");
    EXPECT_EQ(waitFrames("Up", 3, mark), 3u);

    // The column buttons post the default "yes": the page comes back, nothing is sent.
    mark = radio.out().size();
    EXPECT_NE(post("clientinput=yes&clientvalue=yes&Refresh=Refresh").find("CM19A NINJA"),
              std::string::npos);
    EXPECT_EQ(waitFrames("", 1, mark), 0u);
}

TEST_F(WebGateway, SaveChangesOutlivesTheProgram) {
    get("/status");
    const std::string page = post(
        "clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&Q1DC=Q1&Q1Used=on&"
        "Q1Name=Porch+%22Cam%22&A2DC=A2&A2Name=%3Cb%3EDesk&A3DC=A3&A3Name=Gar%C3%A7on+%26+1%2B1&"
        "IncludeX10=1&NinjaIncrement=0&"
        "ServerPort=" +
        std::to_string(web) + "&Background=%23203040&StyleSheet=StyleNoBody.css");
    EXPECT_NE(page.find("value='Porch &quot;Cam&quot;' name='Q1Name'"), std::string::npos);
    EXPECT_NE(page.find("value='&lt;b&gt;Desk' name='A2Name'"), std::string::npos);
    EXPECT_NE(page.find("background-color: #203040;"), std::string::npos);

    // On disk before the page came back: even a kill loses nothing.
    gateway.signal(SIGKILL);
    ASSERT_TRUE(gateway.waitFinished());
    EXPECT_EQ(savedLine("NinjaIncrement"), "1");
    EXPECT_EQ(savedLine("Background"), "#203040");
    EXPECT_EQ(savedLine("ShowOnlyUsed"), "0");
    // The record: location;name;interface;iotype;...
    EXPECT_EQ(savedField("Q1", 1), "Porch \"Cam\"");
    EXPECT_EQ(savedField("Q1", 3), "1");
    EXPECT_EQ(savedField("A2", 1), "<b>Desk");
    EXPECT_EQ(savedField("A2", 3), "0");
    EXPECT_EQ(savedField("A3", 1), "Gar\xC3\xA7on & 1+1");
    EXPECT_EQ(savedField("A1", 1), "Hall Lamp");  // not in the form: kept
    EXPECT_EQ(savedField("A1", 3), "1");
}

TEST_F(WebGateway, BadRequestsLeaveItAnswering) {
    {
        HttpClient huge(web);
        huge.send("POST /status HTTP/1.1\r\n\r\n" + std::string(1 << 20, 'a'), 20000);
        huge.answer(10000);
        EXPECT_TRUE(huge.closedByServer());
    }
    for (const std::string& text :
         {std::string("GET /status\r\n\r\n"), std::string("GET /status HTTP/1.1"),
          std::string("GET /%zz%4%%g HTTP/1.1\r\n\r\n"),
          std::string("GET /\0\0 HTTP/1.1\r\n\r\n", 20), std::string(300, '\0')}) {
        // Answered at once, or with 408 once its header is overdue.
        const std::string a = request(text);
        EXPECT_EQ(a.rfind("HTTP/1.1 ", 0), 0u) << a.substr(0, 40);
    }
    {
        HttpClient endless(web);
        endless.send("GET /status HTTP/1.1\r\n");
        for (int i = 0; i < 400 && !endless.poll(); ++i)
            endless.send("X-" + std::to_string(i) + ": " + std::string(1000, 'h') + "\r\n");
        endless.answer(10000);
        EXPECT_TRUE(endless.closedByServer());
    }
    {
        HttpClient pieces(web);
        // Nothing says where it comes from: refused.
        pieces.send("POST /status HTTP/1.1\r\nHost: h\r\nContent-Length: 240\r\n\r\n");
        for (int i = 0; i < 60; ++i) pieces.send("f" + std::to_string(i) + "=x&");
        EXPECT_EQ(statusLine(pieces.answer(10000)), "HTTP/1.1 403 Forbidden");
    }
    EXPECT_EQ(statusLine(get("/status")), "HTTP/1.1 200 OK");
    EXPECT_TRUE(gateway.running());
}

}  // namespace
