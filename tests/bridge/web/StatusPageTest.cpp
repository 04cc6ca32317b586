// The status page against a loaded host with its 511 default devices: the
// table it lists, the posted saves and commands, and the exact pieces of HTML.
#include <gtest/gtest.h>

#include <QByteArray>
#include <algorithm>
#include <filesystem>
#include <tuple>

#include "base/Clock.h"
#include "bridge/web/FakePool.h"
#include "host/Application.h"
#include "host/MqttSettings.h"
#include "host/Setup.h"
#include "host/WebSettings.h"
#include "support/TempHome.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPage.h"
#include "xap/xapGlobal.h"

namespace {

class Page : public ::testing::Test {
protected:
    void SetUp() override {
        // The shared values start afresh for every case (see ProcessState).
        Clock::install(&clock);
        Application::create();
        setup = std::make_shared<::Setup>(Application::shared());
        setup->Form_Load();
        page = std::make_unique<StatusPage>(*Application::instance());
        page->commands.SendCM19A = [this](const std::string& d, const std::string& c,
                                          const std::string& n) {
            cm19a.push_back(d + "|" + c + "|" + n);
        };
    }
    void TearDown() override {
        page.reset();
        setup.reset();
        Application::release();
        xapGlobal::reset();
        Clock::install(nullptr);
    }

    IniCache& ini() { return Application::instance()->iniCache(); }
    DeviceTable& devices() { return Application::instance()->devices(); }
    std::string setting(const char* key) { return ini().GetINISetting("General", key, "(none)"); }

    std::string get(const std::string& agent = "Mozilla/5.0") {
        return serve("GET /status HTTP/1.1\r\nHost: pc:8012\r\nUser-Agent: " + agent + "\r\n\r\n");
    }
    // As the page's own form posts it: from a page of this server.
    std::string post(const std::string& body,
                     const std::string& from = "Origin: http://pc:8012\r\n") {
        return serve("POST /status HTTP/1.1\r\nHost: pc:8012\r\n" + from +
                     "Content-Type: application/x-www-form-urlencoded\r\n\r\n" + body);
    }
    // What the page's form posts with "Save Changes": its two hidden fields first.
    std::string save(const std::string& fields) {
        return post("clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes&" + fields);
    }
    std::string serve(const std::string& packet) {
        Request request;
        request.ParsePage(packet);
        Response response(pool);
        return page->Render(request, response);
    }
    std::vector<std::string> rowCodes() {
        std::vector<std::string> codes;
        for (const StatusRow* row : page->table().rows()) codes.push_back(row->DC);
        return codes;
    }

    ManualClock clock{QDateTime(QDate(2026, 12, 5), QTime(15, 4, 5))};
    TempHome home;
    FakePool pool{home.path() + "/HTML"};
    std::shared_ptr<::Setup> setup;
    std::unique_ptr<StatusPage> page;
    std::vector<std::string> cm19a;
};

TEST_F(Page, ListsTheChannelsInOrderAndX10WhenAsked) {
    const std::string html = get();
    const auto codes = rowCodes();
    ASSERT_EQ(codes.size(), 255u);
    EXPECT_EQ(codes.front(), "Q1");
    EXPECT_EQ(codes[64], "Q65");
    EXPECT_EQ(codes.back(), "Q255");
    EXPECT_EQ(html.rfind("<html><head><meta charset=\"utf-8\"><SCRIPT "
                         "LANGUAGE=\"JavaScript\">function ClearSubmit(button) {",
                         0),
              0u);
    EXPECT_NE(html.find("<td class=\"TABLEHEADER\" colspan=\"6\" align=\"Center\" >CM19A NINJA</td>"
                        "<tr><tr><td class=\"TABLEHEADER\" colspan=\"1\" align=\"Center\" >"
                        "<input type='submit' name='Used' value='Used'></td>"),
              std::string::npos);
    // Channel 65 is the host's R1, radio address E1.
    EXPECT_NE(
        html.find("<input type='hidden' value='Q65' name='Q65DC'><td class=\"TABLEROWEVEN\" "
                  "colspan=\"1\" align=\"Left\" ><input type='checkbox'  name='Q65Used'></td>"),
        std::string::npos);
    EXPECT_NE(html.find(">Ninja E1</td>"), std::string::npos);
    EXPECT_EQ(html.find("X10 A1"), std::string::npos);
    EXPECT_EQ(html.substr(html.size() - 14), "</body></html>");

    ini().SaveINISetting("General", "IncludeX10", "1");
    const std::string withX10 = get();
    EXPECT_EQ(rowCodes().size(), 511u);
    EXPECT_NE(withX10.find(">X10 P16</td>"), std::string::npos);
    EXPECT_NE(withX10.find("<input type ='text' name='A1Value' value='' size='5'>"),
              std::string::npos);
}

TEST_F(Page, DropDownsForCamerasAndForX10) {
    EXPECT_EQ(page->ControlPulldown("A1"),
              "<select class='formdropdown' onChange='ClearSubmit(this);' name='A1' size='1'>"
              "<option selected=' '></option><option value='On'>On</option>"
              "<option value='Off'>Off</option><option value='Dim'>Dim</option>"
              "<option value='Bright'>Bright</option></select>");
    const std::string camera = page->ControlPulldown("Q7");
    EXPECT_NE(camera.find("<option selected=' '></option><option value='Up'>Up</option>"),
              std::string::npos);
    EXPECT_NE(camera.find("<option value='Sweep_Program'>Sweep_Program</option></select>"),
              std::string::npos);
    EXPECT_EQ(camera.find("value='On'"), std::string::npos);
}

TEST_F(Page, CellsPlainAndStyled) {
    EXPECT_EQ(page->FormatCell("CM19A NINJA", "TABLEHEADER", "6", "Center"),
              "<td class=\"TABLEHEADER\" colspan=\"6\" align=\"Center\" >CM19A NINJA</td>");
    EXPECT_EQ(page->FormatCell("x", "c", "", ""), "<td class=\"c\" >x</td>");
    page->setStyled(true);
    EXPECT_EQ(page->FormatCell("CM19A NINJA", "TABLEHEADER", "6", "Center"),
              "<td bgcolor=\"#63639C\" colspan=\"6\" align=\"Center\" ><font face=\"Verdana, "
              "Arial, sans-serif\" size=\"2\" color=\"#FFFFFF\"><b>CM19A NINJA</b></font></td>");
    EXPECT_EQ(page->FormatCell("x", "tablerowodd", "1", "Left"),
              "<td bgcolor=\"#C0C0C0\" colspan=\"1\" align=\"Left\" ><font face=\"Verdana, Arial, "
              "sans-serif\" size=\"2\" color=\"#000000\">x</font></td>");
    EXPECT_EQ(page->FormatCell("x", "OTHER", "1", "Left"),
              "<td colspan=\"1\" align=\"Left\" ></td>");
}

TEST_F(Page, SaveStoresNamesMarksAndSettings) {
    get();
    save(
        "Q1DC=Q1&Q1Name=Porch+Cam&Q1Used=on&Q2DC=Q2&Q2Name=&"
        "ServerPort=8080&Background=%23102030&StyleSheet=Mine.css&IncludeX10=1&"
        "NinjaIncrement=0");
    const auto q1 = devices().GetDevice(devices().DeviceExists("Q1"));
    EXPECT_EQ(q1->name, "Porch Cam");
    EXPECT_EQ(q1->iotype, 1);
    EXPECT_EQ(devices().GetDevice(devices().DeviceExists("Q2"))->name, "");
    // Q3 was on the page but not in the form: it keeps what it had.
    EXPECT_EQ(devices().GetDevice(devices().DeviceExists("Q3"))->name, "A3");

    EXPECT_EQ(setting("ServerPort"), "8080");
    EXPECT_EQ(setting("Background"), "#102030");
    EXPECT_EQ(setting("StyleSheet"), "Mine.css");
    EXPECT_EQ(setting("ShowOnlyUsed"), "0");
    EXPECT_EQ(setting("IncludeX10"), "1");
    EXPECT_EQ(setting("NinjaIncrement"), "1");
    EXPECT_EQ(WebSettings::instance().NinjaIncrement, 1);
    EXPECT_EQ(WebSettings::instance().ServerPort, "8080");
    EXPECT_EQ(rowCodes().size(), 511u);  // the answer already lists X10
    // On disk before the answer: a power cut now loses nothing.
    const std::string file = home.read("Config/qixBrindle.ini");
    EXPECT_NE(file.find("ServerPort=8080"), std::string::npos) << file;
    EXPECT_NE(file.find(";Porch Cam;"), std::string::npos);

    // A port that is no port is refused next to its field; the old one stays.
    for (const char* bad : {"abc", "0", "-1", "99999", "80+12", "8O12", ""}) {
        const std::string html = save(std::string("ServerPort=") + bad);
        EXPECT_EQ(setting("ServerPort"), "8080") << bad;
        EXPECT_NE(html.find("is not a port from 1 to 65535; kept 8080</b>"), std::string::npos);
    }
    EXPECT_NE(save("ServerPort=+8013+").find("Changes saved."), std::string::npos);
    EXPECT_EQ(setting("ServerPort"), "8013");

    // A file that cannot be written is reported on the page, not hidden.
    std::filesystem::remove(home.path() + "/Config/qixBrindle.ini_bck");
    std::filesystem::create_directories(home.path() + "/Config/qixBrindle.ini_bck/x");
    EXPECT_NE(save("ServerPort=8013").find("Changes could NOT be written to disk"),
              std::string::npos);
    std::filesystem::remove_all(home.path() + "/Config/qixBrindle.ini_bck");

    save("NinjaIncrement=abc&ShowOnlyUsed=1");
    EXPECT_EQ(setting("NinjaIncrement"), "1");
    EXPECT_EQ(rowCodes(), std::vector<std::string>{"Q1"});
    save("NinjaIncrement=7");
    EXPECT_EQ(WebSettings::instance().NinjaIncrement, 7);
}

TEST_F(Page, MqttSettingsAreShownSavedAndNeverEchoTheirPassword) {
    int saved = 0;
    page->commands.Saved = [&] { ++saved; };
    const std::string first = get();
    EXPECT_NE(first.find("name='MqttHost'"), std::string::npos);
    EXPECT_NE(first.find("value='homeassistant' name='MqttDiscoveryPrefix'"), std::string::npos);

    save(
        "MqttFields=1&MqttHost=+broker.lan+&MqttPort=8883&MqttUser=gw&MqttPassword=s%27ecret&"
        "MqttTLS=1&MqttCAFile=%2Fetc%2Fca.pem&MqttPrefix=%2Fden%2F&MqttDiscoveryPrefix=ha%23");
    MqttSettings s = MqttSettings::read(ini());
    EXPECT_EQ(s.Host, "broker.lan");
    EXPECT_EQ(s.Port, 8883);
    EXPECT_EQ(s.Password, "s'ecret");
    EXPECT_TRUE(s.TLS);
    EXPECT_FALSE(s.Discovery);  // an unticked box posts nothing
    EXPECT_EQ(s.Prefix, "den");
    EXPECT_EQ(s.DiscoveryPrefix, "homeassistant");  // a wildcard is no prefix
    EXPECT_EQ(saved, 1);

    const std::string again = get();
    EXPECT_EQ(again.find("ecret"), std::string::npos);
    EXPECT_NE(again.find("Password (set; empty keeps it)"), std::string::npos);
    // An empty password field keeps the stored one; a bad port keeps the old.
    save("MqttFields=1&MqttHost=broker.lan&MqttPort=0&MqttUser=gw&MqttPassword=");
    s = MqttSettings::read(ini());
    EXPECT_EQ(s.Password, "s'ecret");
    EXPECT_EQ(s.Port, 8883);
    // A form without the MQTT fields leaves them alone.
    save("ServerPort=8012");
    EXPECT_EQ(MqttSettings::read(ini()).Host, "broker.lan");
    EXPECT_EQ(saved, 3);
    // Without a user, no password is kept.
    save("MqttFields=1&MqttHost=&MqttUser=");
    s = MqttSettings::read(ini());
    EXPECT_FALSE(s.enabled());
    EXPECT_EQ(s.Password, "");
}

TEST_F(Page, NamesRoundTripByteForByte) {
    get();
    // As a browser encodes "Garçon & <b>", "a+b=c %41" and "Kitchen Ceiling Lamp".
    save(
        "Q1DC=Q1&Q1Name=Gar%C3%A7on+%26+%3Cb%3E&Q2DC=Q2&Q2Name=a%2Bb%3Dc+%2541&"
        "Q3DC=Q3&Q3Name=Kitchen+Ceiling+Lamp&ServerPort=8012");
    auto name = [&](const char* code) {
        return devices().GetDevice(devices().DeviceExists(code))->name;
    };
    EXPECT_EQ(name("Q1"), "Gar\xC3\xA7on & <b>");
    EXPECT_EQ(name("Q2"), "a+b=c %41");
    EXPECT_EQ(name("Q3"), "Kitchen Ceiling Lamp");
    const std::string html = get();
    EXPECT_NE(html.find("value='Gar\xC3\xA7on &amp; &lt;b&gt;' name='Q1Name'"), std::string::npos);
    // A name an older version stored in Windows-1252 shows as it was typed.
    devices().GetDevice(devices().DeviceExists("Q4"))->name = "Gar\xE7on \x80";
    EXPECT_NE(get().find("value='Gar\xC3\xA7on \xE2\x82\xAC' name='Q4Name'"), std::string::npos);
    EXPECT_EQ(html.find("<title>CM19A Status V"), html.find("<title>"));  // no markup in it
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
}

TEST_F(Page, PostsFromOtherSitesChangeNothing) {
    const std::string html = get();
    const std::string token = "name='PageToken' value='" + page->token() + "'";
    EXPECT_NE(html.find(token), std::string::npos);
    EXPECT_EQ(page->token().size(), 32u);
    const std::string command = "clientinput=A1&clientvalue=On&A1DC=A1";
    const std::string rename =
        "clientinput=yes&UpdateButton=Save&Q1DC=Q1&Q1Name=Evil&ServerPort=81";
    for (const char* from :
         {"Origin: http://evil.example\r\n", "Origin: null\r\n", "Origin: http://pc:8013\r\n",
          "Referer: http://evil.example/pc:8012/status\r\n", ""}) {
        pool.sends.clear();
        EXPECT_EQ(post(command, from), "") << from;
        EXPECT_EQ(post(rename, from), "");
        EXPECT_TRUE(page->refused());
        ASSERT_EQ(pool.sends.size(), 2u);
        EXPECT_EQ(pool.sends[0].rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u);
    }
    EXPECT_TRUE(cm19a.empty());
    EXPECT_EQ(devices().GetDevice(devices().DeviceExists("Q1"))->name, "A1");
    EXPECT_EQ(setting("ServerPort"), "(none)");

    // The page's own: same host by Origin, by Referer, or carrying the token.
    post(command);
    post(command, "Referer: http://PC:8012/status\r\n");
    post(command + "&PageToken=" + page->token(), "");
    EXPECT_EQ(cm19a.size(), 3u);
}

TEST_F(Page, BasicSecurityChecksTheBrowsersCredentials) {
    ini().SaveINISetting("Settings", "usesecurity", "BASIC");
    ini().SaveINISetting("header.asp", "logoShowUsername", "Yes", "includes.ini");
    auto as = [&](const std::string& credentials, const std::string& extra = "") {
        pool.sends.clear();
        return serve("GET /status HTTP/1.1\r\nHost: pc:8012\r\nAuthorization: Basic " +
                     QByteArray::fromStdString(credentials).toBase64().toStdString() + "\r\n" +
                     extra + "\r\n");
    };
    // No account stored: everyone is refused, and the log says why.
    EXPECT_EQ(serve("GET /status HTTP/1.1\r\nAUTH_USER: ADMIN\r\n\r\n"), "");
    ASSERT_EQ(pool.sends.size(), 1u);
    EXPECT_EQ(pool.sends[0].rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u);
    EXPECT_NE(pool.sends[0].find("\r\nWWW-Authenticate: Basic realm=\"Brindle\""),
              std::string::npos);

    ASSERT_TRUE(WebUsers::store(home.path() + "/Config", "Alice", "s3cret:x"));
    EXPECT_EQ(as("alice:wrong"), "");
    EXPECT_EQ(as("bob:s3cret:x"), "");
    // Only the checked credentials name the user, whatever header says otherwise.
    const std::string html = as("alice:s3cret:x", "AUTH_USER: ADMIN\r\n");
    EXPECT_NE(html.find("User: ALICE"), std::string::npos);
    EXPECT_EQ(html.find("ADMIN"), std::string::npos);
    EXPECT_TRUE(pool.sends.empty());
    // A changed password stops the remembered one at once.
    ASSERT_TRUE(WebUsers::store(home.path() + "/Config", "alice", "new"));
    EXPECT_EQ(as("alice:s3cret:x"), "");
    EXPECT_NE(as("ALICE:new").find("User: ALICE"), std::string::npos);
    for (const char* bad : {"Basic", "Basic !!!", "Bearer abc", "Basic YWxpY2U="})
        EXPECT_FALSE(WebUsers::basicCredentials(bad).has_value()) << bad;
}

TEST_F(Page, ChangedColumn) {
    ini().SaveINISetting("General", "IncludeX10", "1");
    devices().SetDeviceLastChange("A1", QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    devices().SetDeviceLastChange("A2", QDateTime(QDate(2026, 12, 5), QTime(8, 0, 1)));
    devices().SetDeviceLastChange("A3", QDateTime(QDate(2026, 12, 4), QTime(23, 59, 59)));
    devices().SetDeviceLastChange("A4", QDateTime(QDate(2026, 11, 3), QTime(14, 5, 6)));
    const std::string html = get();
    auto changedOf = [&](const std::string& code) {
        const size_t name = html.find("name='" + code + "Name'>");
        const size_t start = html.find(" >", name) + 2;
        return html.substr(start, html.find("</td>", start) - start);
    };
    EXPECT_EQ(changedOf("A1"), "&nbsp;");
    EXPECT_EQ(changedOf("A2"), "Today 8:00:01 AM");
    EXPECT_EQ(changedOf("A3"), "Yesterday 11:59:59 PM");
    EXPECT_EQ(changedOf("A4"), "11/3/2026 2:05:06 PM");
    EXPECT_EQ(changedOf("A5"), "&nbsp;");
}

TEST_F(Page, StatusColumn) {
    ini().SaveINISetting("General", "IncludeX10", "1");
    devices().SetDeviceStatus("A1", 2);
    devices().SetDeviceStatus("A2", 4);
    devices().SetDeviceValue("A2", 40);
    devices().SetDeviceString("Q1", "Left");
    const std::string html = get();
    for (const auto& [code, row, status] :
         {std::tuple{"A1", "ODD", "ON"}, {"A2", "EVEN", "DIM 40"}, {"Q1", "EVEN", "Left"}})
        EXPECT_NE(html.find(std::string("name='") + code + "Used'></td><td class=\"TABLEROW" + row +
                            "\" colspan=\"1\" align=\"Left\" >" + status + "</td>"),
                  std::string::npos)
            << code;
}

TEST_F(Page, StoredTextCannotBreakThePage) {
    devices().GetDevice(devices().DeviceExists("Q1"))->name = "x' onfocus='alert(1)";
    devices().GetDevice(devices().DeviceExists("Q2"))->name = "<script>alert(2)</script>";
    ini().SaveINISetting("General", "StyleSheet", "a'><script>");
    WebSettings::instance().Background = "\"><script>";
    const std::string html = get();
    EXPECT_NE(html.find("value='x&#39; onfocus=&#39;alert(1)' name='Q1Name'"), std::string::npos);
    EXPECT_NE(html.find("value='&lt;script&gt;alert(2)&lt;/script&gt;' name='Q2Name'"),
              std::string::npos);
    EXPECT_NE(html.find("value='a&#39;&gt;&lt;script&gt;' name='StyleSheet'"), std::string::npos);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
}

TEST_F(Page, SortAndFilterFromTheSettings) {
    devices().GetDevice(devices().DeviceExists("Q2"))->name = "zz";
    devices().GetDevice(devices().DeviceExists("Q3"))->name = "ZZZ";
    ini().SaveINISetting("General", "StatusSortKey", "Name");
    ini().SaveINISetting("General", "StatusSortDirection", "DESC");
    get();
    auto codes = rowCodes();
    EXPECT_EQ(codes[0], "Q3");
    EXPECT_EQ(codes[1], "Q2");

    // A key that names no field: the rows stay in channel order.
    ini().SaveINISetting("General", "StatusSortKey", "Nonsense");
    const std::string html = get();
    EXPECT_EQ(rowCodes().front(), "Q1");
    EXPECT_EQ(html.substr(html.size() - 14), "</body></html>");
}

}  // namespace
