// The page header around the status page: the bare header a fresh program
// folder gives, the touch-screen look, request values in the page, and the
// security of a SQLite menu database built here.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <filesystem>

#include "base/Clock.h"
#include "bridge/web/FakePool.h"
#include "host/Application.h"
#include "host/WebSettings.h"
#include "support/EventLog.h"
#include "support/TempHome.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/StatusPage.h"
#include "xap/xapGlobal.h"

namespace {

bool has(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

class Header : public ::testing::Test {
protected:
    void SetUp() override {
        // The shared values start afresh for every case (see ProcessState).
        Clock::install(&clock);
        Application::create();
        page = std::make_unique<StatusPage>(*Application::instance());
    }
    void TearDown() override {
        page.reset();
        Application::release();
        xapGlobal::reset();
        Clock::install(nullptr);
    }

    IniCache& ini() { return Application::instance()->iniCache(); }
    void fragment(const std::string& relative, const std::string& text) {
        std::filesystem::create_directories(
            std::filesystem::path(home.path() + "/" + relative).parent_path());
        home.write(relative, text);
    }
    // peer: the address of the connection, which the browser cannot choose.
    std::string get(const std::string& host, const std::string& agent = "Mozilla/5.0",
                    const std::string& peer = "192.168.1.20") {
        Request request;
        request.ParsePage("GET /status HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: " + agent +
                          "\r\n\r\n");
        request.setRemoteAddress(peer);
        Response response(pool);
        return page->Render(request, response);
    }
    // Runs statements on the menu database file, closed again before the page opens it.
    void sql(const std::vector<QString>& statements) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
            db.setDatabaseName(QString::fromStdString(home.path() + "/Data/menus.db"));
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            for (const QString& s : statements) ASSERT_TRUE(q.exec(s)) << s.toStdString();
        }
        QSqlDatabase::removeDatabase("test");
    }
    std::string lastVisit() {
        std::string stamp;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
            db.setDatabaseName(QString::fromStdString(home.path() + "/Data/menus.db"));
            db.open();
            QSqlQuery q("SELECT LastSessTime FROM MenuUsers WHERE UserID = 'alice'", db);
            if (q.next()) stamp = q.value(0).toString().toStdString();
        }
        QSqlDatabase::removeDatabase("test");
        return stamp;
    }

    ManualClock clock{QDateTime(QDate(2026, 12, 5), QTime(15, 4, 5))};
    TempHome home;
    FakePool pool{home.path() + "/HTML"};
    std::unique_ptr<StatusPage> page;
};

TEST_F(Header, FreshFolderGivesTheBareHeaderAndWritesTheDefaults) {
    const std::string html = get("pc:8012");
    for (const char* piece : {
             "<title>CM19A Status",
             "<link rel=\"stylesheet\" type=\"text/css\" href=\"/brindlehub/StyleNoBody.css\">",
             "<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\">",
             "<meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">",
             "</head>\r\n<body style=\" background-color: #000000;\">",
             "summary=\"Logo Bar\"",
             "<a href=\"/status\" target=\"_top\"><img src=\"/brindlehub/images/brindle-logo.gif\" "
             "width=\"133\" height=\"25\" border=\"0\" alt=\"Link to Status\"></a>",
             "<td class=\"pagetitle\" colspan=\"1\">CM19A Status",
             "<a name=\"pagecontent\"></a>",
         })
        EXPECT_TRUE(has(html, piece)) << piece;
    EXPECT_FALSE(has(html, "No File"));
    EXPECT_FALSE(has(html, "HTTP-EQUIV=\"refresh\""));

    ini().FlushIniCache();
    const std::string includes = home.read("Config/includes.ini");
    for (const char* line : {"strPageTitle=n/a", "strShowLinks=OldStyle", "strRefresh=0",
                             "strLogoYN=Yes", "useMenuRow="})
        EXPECT_TRUE(has(includes, line)) << line;
    EXPECT_EQ(ini().GetINISetting("Settings", "usesecurity", ""), "None");
    // No database file was made up on the way.
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/Data/menus.db"));
}

TEST_F(Header, LinksOfTheUsersLevelWhereTheSettingsSayAndNoBrokenPictures) {
    fragment("HTML/brindlehub/links.htm", "<a href='/own'>Own</a>");
    ini().SaveINISetting("header.asp", "logoShowClock", "Yes", "includes.ini");
    std::string html = get("pc:8012");
    EXPECT_TRUE(has(html, "<a href='/own'>Own</a>"));
    EXPECT_FALSE(has(html, "clock.gif"));  // not in the HTML folder
    // Security NONE is level 10: its own fragment replaces the bridge's.
    fragment("HTML/links10.htm", "<a href='/ten'>Ten</a>");
    fragment("HTML/brindlehub/images/clock.gif", "GIF89a");
    ini().SaveINISetting("header.asp", "linkslocation", "Bottom", "includes.ini");
    // Header files are read once per turn of the event loop: an edit shows
    // from the next turn, not within the one that built the last page.
    html = get("pc:8012");
    EXPECT_TRUE(has(html, "/own"));
    QCoreApplication::processEvents();
    html = get("pc:8012");
    EXPECT_FALSE(has(html, "/own"));
    EXPECT_GT(html.find("<a href='/ten'>Ten</a>"), html.find("class=\"pagetitle\""));
    EXPECT_TRUE(has(html, "<img src=\"/brindlehub/images/clock.gif\""));
    // A file rewritten in place is read again too.
    fragment("HTML/links10.htm", "<a href='/eleven'>Eleven</a>");
    QCoreApplication::processEvents();
    EXPECT_TRUE(has(get("pc:8012"), "/eleven"));
}

TEST_F(Header, TouchScreensGetTheirFragmentsAndRequestValuesAreEscaped) {
    fragment("HTML/meta.htm", "<meta name=\"plain\">");
    fragment("HTML/meta_touchscreen.htm", "<meta name=\"touch\">");
    fragment("HTML/head_touchscreen.htm", "<div id=\"touchhead\"></div>");
    fragment("HTML/brindlehub/brindlehub_links.htm", "<a href=\"/help\">Help</a>");
    ini().SaveINISetting("Settings", "touchscreenips", "10.0.0.5, 10.0.0.9");

    std::string html = get("pc:8012");
    EXPECT_TRUE(has(html, "<meta name=\"plain\">"));
    EXPECT_FALSE(has(html, "touch"));
    EXPECT_TRUE(has(html, "<a href=\"http://pc:8012/help\">Help</a>"));

    html = get("pc:8012", "Mozilla/4.0 (QNX; Photon)");
    EXPECT_TRUE(has(html, "<meta name=\"touch\">"));
    EXPECT_TRUE(has(html, "<div id=\"touchhead\"></div>"));
    EXPECT_TRUE(has(html, "<body bgcolor=\"#000000\">"));
    EXPECT_TRUE(has(html, "<center><b>CM19A Status"));
    EXPECT_TRUE(has(html, "<td bgcolor=\"#63639C\""));
    EXPECT_TRUE(has(get("pc:8012", "Mozilla/5.0", "10.0.0.9"), "<meta name=\"touch\">"));
    // The host the browser names is not who it is.
    EXPECT_FALSE(has(get("10.0.0.9:8012"), "touch"));

    // The host the browser names goes into the links, harmless.
    html = get("e\"><script>x</script>");
    EXPECT_FALSE(has(html, "<script>x"));
    EXPECT_TRUE(has(html, "http://e&quot;&gt;&lt;script&gt;x&lt;/script&gt;:8012/help"));
}

// Only values that start at the root are pointed at this server; the blanks
// and the quote before the "/" stay, and nothing else is touched.
TEST_F(Header, OwnLinksPointRootValuesAtThisServer) {
    fragment("HTML/brindlehub/brindlehub_links.htm",
             "<a href = '/a' x==\"/b\" y=\"'/c\" z=//d w= e/f v=\n\t/g>");
    EXPECT_TRUE(has(get("pc:8012"),
                    "<a href = 'http://pc:8012/a' x==\"http://pc:8012/b\" y=\"'/c\" "
                    "z=http://pc:8012//d w= e/f v=\n\thttp://pc:8012/g>"));
}

TEST_F(Header, EnhancedSecurityUsesTheMenuDatabase) {
    sql(
        {"CREATE TABLE MenuUsers (UserID TEXT, SecureLevel INTEGER, SecID TEXT, "
         "LastSessTime TEXT)",
         "CREATE TABLE Menus (MenuID INTEGER, MenuItem TEXT, MenuURL TEXT, ParentID INTEGER, "
         "SecureLevel INTEGER, MenuImage TEXT, LevelID INTEGER, SortOrder INTEGER)",
         "INSERT INTO MenuUsers VALUES ('alice', 3, '127.0.0.1', NULL)",
         "INSERT INTO Menus VALUES (1, 'Status', '/status', 0, 3, '', 1, 2)",
         "INSERT INTO Menus VALUES (2, 'Secret', '/vault', 0, 9, '', 1, 1)",
         "INSERT INTO Menus VALUES (3, 'Log', '/status?log', 1, 3, '', 2, 1)"});
    ini().SaveINISetting("Settings", "usesecurity", "ENHANCED");
    ini().SaveINISetting("Settings", "dbpath", "Data");
    ini().SaveINISetting("Settings", "dbname", "menus.db");
    ini().SaveINISetting("header.asp", "logoShowUsername", "Yes", "includes.ini");
    ini().SaveINISetting("header.asp", "useMenuRow", "Yes", "includes.ini");

    // Naming alice's address as the host does not make a neighbour alice.
    EXPECT_EQ(get("127.0.0.1:8012"), "");
    EXPECT_TRUE(page->refused());
    std::string html = get("gw:8012", "Mozilla/5.0", "127.0.0.1");
    EXPECT_FALSE(page->refused());
    EXPECT_TRUE(has(html, "User: alice"));
    EXPECT_FALSE(lastVisit().empty());
    // The menu row shows what level 3 may see, children below their entry.
    EXPECT_TRUE(has(html,
                    "<a href=\"/status\" target=\"_top\">Status</a><div class=\"submenu\">"
                    "<a href=\"/status?log\" target=\"_top\">Log</a>"));
    EXPECT_FALSE(has(html, "Secret"));

    sql({"UPDATE Menus SET SecureLevel = 5 WHERE MenuID = 1"});
    takeLoggedTexts();
    pool.sends.clear();
    EXPECT_EQ(get("gw:8012", "Mozilla/5.0", "127.0.0.1"), "");
    EXPECT_TRUE(page->refused());
    ASSERT_EQ(pool.sends.size(), 1u);
    EXPECT_TRUE(has(pool.sends[0], "\r\n\r\n<HTML>Unauthorized Access<HTML>"));
    EXPECT_EQ(loggedTexts("Unauthorized"),
              std::vector<std::string>{"alice attempted to access status"});

    // An address made to widen the query finds nobody, and stamps nobody.
    sql({"UPDATE Menus SET SecureLevel = 0", "UPDATE MenuUsers SET LastSessTime = NULL"});
    takeLoggedTexts();
    html = get("gw", "Mozilla/5.0", "x' OR '1'='1");
    EXPECT_TRUE(has(html, "User: None"));
    EXPECT_TRUE(lastVisit().empty());
    EXPECT_TRUE(loggedTexts("brindlehub").empty());
}

}  // namespace
