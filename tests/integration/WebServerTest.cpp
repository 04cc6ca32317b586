// The web server of the real program, with the real plug-in and the virtual
// transceiver, asked over 127.0.0.1 by a plain socket client: the answers of
// every path, the page's commands reaching the radio, a save surviving the
// shutdown, and requests no browser sends.
#include <gtest/gtest.h>
#include <QElapsedTimer>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/HttpClient.h"
#include "support/RegistryText.h"
#include "support/TempHome.h"

namespace {

class WebGateway : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        port = HttpClient::freePort();
        fs::copy(fs::path(BRINDLE_SOURCE_DIR) / "html", home.path() + "/HTML",
                 fs::copy_options::recursive);
        for (int i = 0; i < 2500; ++i) picture += static_cast<char>((i * 13) % 256);
        home.write("HTML/brindlehub/images/Test.PNG", picture);
        home.write("Config/registry.reg",
                   "Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum]\n"
                   "\"0\"=\"" +
                       regString("VIRTUAL\\" + home.path() + "/bus/cm19a") +
                       "\"\n\n"
                       "[HKEY_CLASSES_ROOT\\Kestrel.hspi\\InprocServer32]\n@=\"" +
                       regString(KESTREL_LIB) +
                       "\"\n\n"
                       "[HKEY_CLASSES_ROOT\\Kestrel.cFireCrackerUSB\\InprocServer32]\n@=\"" +
                       regString(KESTREL_LIB) + "\"\n");
        home.write("Config/qixBrindle.ini",
                   "[General]\nServerPort=" + std::to_string(port) +
                       "\nIncludeX10=1\nNinjaIncrement=2\n[PluginDevices]\n"
                       "A1=;Hall Lamp;X10 CM19A FireCracker USB;1;0;0;X10 Lamp;0;0;"
                       "2000-01-01 00:00:00;\n");
        fs::create_directories(home.path() + "/bus");
        radio.start(VIRTUAL_CM19A, {home.path() + "/bus", "cm19a"});
        ASSERT_GE(radio.waitOut("ready"), 0) << "virtual transceiver did not start";
        gateway.start(BRINDLE_EXE, {}, {{"BRINDLE_HOME", home.path()}});
        ASSERT_TRUE(runUntil([this] { return HttpClient(port).connected(); }, 20000))
            << "the web server never listened";
        ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20", 0, 10000), 0);
    }
    void TearDown() override {
        gateway.stop();
        radio.stop();
    }

    std::string request(const std::string& text) {
        HttpClient c(port);
        c.send(text);
        const std::string a = c.answer(10000);
        EXPECT_TRUE(c.closedByServer());
        return a;
    }
    std::string get(const std::string& path) {
        return request("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                       "\r\nUser-Agent: test\r\n\r\n");
    }
    // A form post from the page itself, its body in three packets 5 ms apart
    // after the header, as TCP may deliver a large form.
    std::string post(const std::string& body) {
        HttpClient c(port);
        const std::string host = "127.0.0.1:" + std::to_string(port);
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
    size_t frames(const std::string& text, size_t from) {
        const auto& lines = radio.out();
        return static_cast<size_t>(
            std::count_if(lines.begin() + static_cast<long>(std::min(from, lines.size())),
                          lines.end(), [&](const std::string& l) {
                              return l.rfind("W ", 0) == 0 && l.find(text) != std::string::npos;
                          }));
    }
    size_t waitFrames(const std::string& text, size_t count, size_t from) {
        QElapsedTimer t;
        t.start();
        while (frames(text, from) < count && t.elapsed() < 8000) radio.collectFor(20);
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

    std::string field(const std::string& code, int n) {
        std::istringstream fields(savedLine(code));
        std::string f;
        for (int i = 0; std::getline(fields, f, ';'); ++i)
            if (i == n) return f;
        return "(none)";
    }

    TempHome home;
    ChildProcess radio;
    ChildProcess gateway;
    int port = 0;
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
    // Saved with its last change at 1 January 2000: the "Changed" cell is empty.
    const std::string page = get("/status");
    EXPECT_NE(page.find("value='Hall Lamp' name='A1Name'></td><td class=\"TABLEROWODD\" "
                        "colspan=\"1\" align=\"Left\" >&nbsp;</td>"),
              std::string::npos);

    const std::string help = get("/help");
    EXPECT_EQ(statusLine(help), "HTTP/1.1 200 OK");
    EXPECT_NE(help.find("src=\"help/brindlehub/brindlehub_files/status-page.gif\""),
              std::string::npos);
    EXPECT_EQ(get("/help/brindlehub/brindlehub_files/status-page.gif").find("HTTP/1.1 200 OK"), 0u);

    for (const char* path : {"/help/", "/favicon.ico"}) {
        const std::string a = get(path);
        EXPECT_EQ(statusLine(a), "HTTP/1.1 200 Object Not Found") << path;
        EXPECT_NE(a.find("\r\nConnection: Close\r\nContent-Type: text/html; charset=utf-8\r\n"
                         "Content-Length: 40\r\n\r\n<html><h1>404 File Not Found</h1></html>"),
                  std::string::npos);
    }

    const std::string image = get("/brindlehub/images/test.png");
    EXPECT_EQ(statusLine(image), "HTTP/1.1 200 OK");
    EXPECT_EQ(image.find("\r\nServer: qix\r\nDate:"), statusLine(image).size());
    EXPECT_NE(image.find("\r\nAccept-Ranges: bytes\r\nContent-Length: 2500\r\nConnection: "
                         "Close\r\nContent-Type: unknown/binary\r\n\r\n"),
              std::string::npos);
    EXPECT_TRUE(body(image) == picture);

    const std::string sheet = get("/brindlehub/stylenobody.css");
    EXPECT_EQ(statusLine(sheet), "HTTP/1.0 200 OK");
    EXPECT_NE(sheet.find("\r\nContent-Type: text/html; charset=utf-8\r\n"), std::string::npos);

    const std::string missing = get("/brindlehub/images/none.gif");
    EXPECT_EQ(missing.rfind("HTTP/1.1 404 Not Found\r\nServer: qix\r\nDate:", 0), 0u);
    EXPECT_EQ(std::count(missing.begin(), missing.end(), '\n'), 4);
    EXPECT_EQ(missing.substr(missing.size() - 4), "\r\n\r\n");
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
        std::to_string(port) + "&Background=%23203040&StyleSheet=StyleNoBody.css");
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
    EXPECT_EQ(field("Q1", 1), "Porch \"Cam\"");
    EXPECT_EQ(field("Q1", 3), "1");
    EXPECT_EQ(field("A2", 1), "<b>Desk");
    EXPECT_EQ(field("A2", 3), "0");
    EXPECT_EQ(field("A3", 1), "Gar\xC3\xA7on & 1+1");
    EXPECT_EQ(field("A1", 1), "Hall Lamp");  // not in the form: kept
    EXPECT_EQ(field("A1", 3), "1");
}

TEST_F(WebGateway, BadRequestsLeaveItAnswering) {
    {
        HttpClient huge(port);
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
        HttpClient endless(port);
        endless.send("GET /status HTTP/1.1\r\n");
        for (int i = 0; i < 400 && !endless.poll(); ++i)
            endless.send("X-" + std::to_string(i) + ": " + std::string(1000, 'h') + "\r\n");
        endless.answer(10000);
        EXPECT_TRUE(endless.closedByServer());
    }
    {
        HttpClient pieces(port);
        // Nothing says where it comes from: refused.
        pieces.send("POST /status HTTP/1.1\r\nHost: h\r\nContent-Length: 240\r\n\r\n");
        for (int i = 0; i < 60; ++i) pieces.send("f" + std::to_string(i) + "=x&");
        EXPECT_EQ(statusLine(pieces.answer(10000)), "HTTP/1.1 403 Forbidden");
    }
    EXPECT_EQ(statusLine(get("/status")), "HTTP/1.1 200 OK");
    EXPECT_TRUE(gateway.running());
}

}  // namespace
