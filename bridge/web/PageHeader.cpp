#include "web/PageHeader.h"

#include <QDateTime>

#include "base/Clock.h"
#include "base/Convert.h"
#include "host/Application.h"
#include "host/WebSettings.h"
#include "web/HeaderFiles.h"
#include "web/HtmlText.h"
#include "web/Request.h"
#include "web/Response.h"
#include "xap/FastString.h"
#include "xap/XapLog.h"

namespace {

constexpr const char* kIncludes = "includes.ini";
// Stands for a key the file does not have, which a stored value cannot be.
constexpr const char* kMissing = "\x01";

bool positive(const std::string& s) {
    return vb::IsNumeric(s) && vb::Val(s) > 0;
}

bool fragment(const std::string& text) {
    return text != HeaderFiles::kNoFile;
}

void replaceAll(std::string& text, const std::string& mark, const std::string& with) {
    for (size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += with.size())
        text.replace(at, mark.size(), with);
}

// MenuPOPPref's columns and the script variables they set.
const std::pair<const char*, const char*> kPrefNames[] = {
    {"yoffset", "YOffset"},
    {"xoffset", "XOffset"},
    {"staticyoffset", "staticYOffset"},
    {"slidespeed", "slideSpeed"},
    {"waittime", "waitTime"},
    {"menuisstatic", "menuIsStatic"},
    {"menuwidth", "menuWidth"},
    {"barlink", "barLink"},
    {"bartext", "barText"},
    {"barwidth", "barWidth"},
    {"mouseovercolor", "linkMouseOverColor"},
    {"mouseoutcolor", "linkMouseOutColor"},
    {"targetwindow", "linkTarget"},
};

// The "header.asp" keys with the value a missing one is written back with.
const std::pair<const char*, const char*> kHeaderKeys[] = {
    {"strPageTitle", "n/a"},
    {"strShowLinks", "OldStyle"},
    {"strRefresh", "0"},
    {"strHeader", ""},
    {"strLogoYN", "Yes"},
    {"HideTitle", ""},
    {"linkslocation", ""},
    {"logoShowClock", ""},
    {"logoShowDate", ""},
    {"logoShowTime", ""},
    {"logoShowSunrise", ""},
    {"logoShowSunset", ""},
    {"logoShowWeatherManTemp", ""},
    {"logoShowUsername", ""},
    {"logoImageLink", ""},
    {"usePageScroll", ""},
    {"useMenuRow", ""},
};

}  // namespace

PageHeader::PageHeader(Application& hs) : m_hs(hs) {}
PageHeader::~PageHeader() = default;

IniCache& PageHeader::ini() const {
    return m_hs.iniCache();
}

std::string PageHeader::setting(const std::string& key) const {
    return ini().GetINISetting("Settings", key, "");
}

void PageHeader::XStartMiscFunctionsASP() {
    guarded(" XStartMiscFunctionsASP: ", [&] {
        Settings s;
        s.db = {setting("dbtype"),     setting("dbpath"),     setting("dbname"),
                setting("dbusername"), setting("dbpassword"), setting("dbserverip")};
        s.rowstyle = setting("rowstyle");
        s.usesecurity = setting("usesecurity");
        if (s.usesecurity.empty()) s.usesecurity = setting("UseSecurity");
        if (s.usesecurity.empty()) {
            s.usesecurity = "None";
            ini().SaveINISetting("Settings", "usesecurity", s.usesecurity);
        }
        s.linkfileext = setting("linkfileext");
        s.hsip = setting("hsip");
        s.exthsip = setting("exthsip");
        s.footerlinkrule = setting("footerlinkrule");
        s.useslideinmenu = setting("useslideinmenu");
        s.audreyrowstyle = setting("audreyrowstyle");
        s.touchscreenips = setting("touchscreenips");
        s.usesound = vb::equalsIgnoreCase(setting("usesound"), "TRUE");
        m_settings = std::move(s);
    });
}

MenuDatabase* PageHeader::database() {
    if (!m_databaseTried) {
        m_databaseTried = true;
        const std::string& path = m_settings.db.dbpath;
        if (!path.empty() && !vb::equalsIgnoreCase(path, "NA")) {
            m_database = std::make_unique<MenuDatabase>(m_settings.db);
            if (!m_database->isOpen()) m_database.reset();
        }
    }
    return m_database.get();
}

void PageHeader::finish() {
    m_database.reset();
    m_databaseTried = false;
}

void PageHeader::XSecurityCheck(const Request& request) {
    guarded("XSecurityCheck: ", [&] {
        const std::string mode = vb::UCase(m_settings.usesecurity);
        if (mode == "ENHANCED") {
            m_user = "None";
            m_level = 0;
            MenuDatabase* db = database();
            if (db == nullptr) return;
            const std::string address = request.ServerVariables("REMOTE_ADDR");
            const auto found = db->userBySecID(address);
            db->recordVisit(address);
            if (found) {
                m_user = found->UserID;
                m_level = found->SecureLevel;
            }
        } else if (mode == "BASIC") {
            const std::string u = vb::UCase(request.ServerVariables("AUTH_USER"));
            const bool set = u.size() >= 3 && u.compare(u.size() - 3, 3, "SET") == 0;
            m_user = set ? "LOCAL" : u == "GUEST" ? "GUEST" : u;
            m_level = m_user == "GUEST" ? 0 : 10;
        } else if (mode == "NONE") {
            m_user = "NO SECURITY";
            m_level = 10;
        }
    });
}

bool PageHeader::xStartHeaderASP(const Request& request) {
    m_styled = false;
    guarded("xStartHeaderASP ", [&] {
        const std::string agent = request.ServerVariables("HTTP_USER_AGENT");
        bool styled =
            agent.find("Audrey") != std::string::npos || agent.find("QNX") != std::string::npos;
        const std::string address = request.ServerVariables("REMOTE_ADDR");
        const std::string& list = m_settings.touchscreenips;
        for (size_t start = 0; !styled && !address.empty() && start <= list.size();) {
            size_t comma = list.find(',', start);
            if (comma == std::string::npos) comma = list.size();
            styled = vb::Trim(list.substr(start, comma - start)) == address;
            start = comma + 1;
        }
        if (styled) m_settings.rowstyle = m_settings.audreyrowstyle;
        m_styled = styled;
    });
    return m_styled;
}

bool PageHeader::refuses(const Request& request, Response& response) {
    return guarded("MenuRow: ", false, [&]() -> bool {
        const std::string page = HeaderFiles::fnPageName(request);
        if (vb::equalsIgnoreCase(page, "unauthorized.asp")) return false;
        MenuDatabase* db = database();
        if (db == nullptr) return false;
        const auto needed = db->pageLevel(page);
        if (!needed || *needed <= m_level) return false;
        LogAuthorized(page, response);
        return true;
    });
}

void PageHeader::LogAuthorized(const std::string& page, Response& response) {
    guarded("LogAuthorized: ", [&] {
        const std::string mode = vb::UCase(m_settings.usesecurity);
        if (mode == "ENHANCED" || mode == "BASIC")
            LogEvent("Unauthorized", m_user + " attempted to access " + page);
        response.Redirect("unauthorized.asp");
    });
}

std::map<std::string, std::string> PageHeader::headerSettings() {
    std::map<std::string, std::string> values;
    IniCache& cache = ini();
    for (const auto& [key, fallback] : kHeaderKeys) {
        std::string value = cache.GetINISetting("header.asp", key, kMissing, kIncludes);
        if (value == kMissing || (value.empty() && *fallback != '\0')) {
            value = fallback;
            cache.SaveINISetting("header.asp", key, value, kIncludes);
        }
        values[key] = value;
    }
    return values;
}

std::string PageHeader::CustomHeader(const std::vector<std::string>& parameters,
                                     const Request& request) {
    return guarded(" CustomHeader: ", std::string{},
                   [&] { return XCustomHeader(parameters, request); });
}

std::string PageHeader::XCustomHeader(std::vector<std::string> p, const Request& request) {
    FastString h;
    guarded("XCustomHeader: ", [&] {
        m_header = headerSettings();
        auto& values = m_header;
        p.resize(std::max<size_t>(p.size(), 12));
        const std::pair<size_t, const char*> fill[] = {{0, "strPageTitle"}, {5, "strShowLinks"},
                                                       {6, "strRefresh"},   {7, "strHeader"},
                                                       {8, "strLogoYN"},    {10, "HideTitle"}};
        for (const auto& [at, key] : fill)
            if (p[at].empty()) p[at] = values[key];
        if (p[9].empty()) p[9] = m_settings.usesecurity;
        const std::string& title = p[0];
        const std::string touch = m_styled ? "_touchscreen" : "";

        if (p[3].empty()) h.Add("<html><head><meta charset=\"utf-8\">");
        // A title shows text only: the markup the page puts in its title bar
        // would show as typed.
        h.Add("<title>" + HeaderFiles::StripHTML(title) + " - " +
              HeaderFiles::StripHTML(setting("gWebPageTitle")) + "</title>");
        // The style sheet name is posted through the status page's form.
        h.Add("<link rel=\"stylesheet\" type=\"text/css\" href=\"/brindlehub/" +
              HtmlText::escape(p[4].empty() ? "styleNoBody.css" : p[4]) + "\">");
        h.Add("<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\">");
        h.Add("<meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">");
        const std::string autoRefresh = setting("auto_refresh");
        if (positive(p[6]) || positive(autoRefresh))
            h.Add("<meta HTTP-EQUIV=\"refresh\" CONTENT=\"" +
                  std::to_string(static_cast<long>(vb::Val(positive(p[6]) ? p[6] : autoRefresh))) +
                  "\">");
        const std::string meta = HeaderFiles::FileContents("\\html\\meta" + touch + ".htm");
        if (fragment(meta)) h.Add(meta);
        h.Add("</head>\r\n");

        // The colour and picture are posted through the status page's form.
        const std::string picture = HtmlText::escape(p[1]);
        const std::string colour = HtmlText::escape(p[2]);
        const std::string onload = setting("BODY_OnLoad");
        std::string body;
        if (m_styled) {
            if (!colour.empty()) body += " bgcolor=\"" + colour + "\"";
            if (!picture.empty()) body += " background=\"" + picture + "\"";
        } else if (!colour.empty() || !picture.empty()) {
            body += " style=\"";
            if (!colour.empty()) body += " background-color: " + colour + ";";
            if (!picture.empty()) body += " background-image: url(" + picture + ");";
            body += "\"";
        }
        if (!onload.empty()) body += " onload=\"" + onload + "\"";
        h.Add(body.empty() ? "<body>" : "<body" + body + ">");
        h.Add("\r\n");

        if (HeaderFiles::FileContents("\\html\\brindlehub\\images\\blank.gif") !=
            HeaderFiles::kNoFile)
            h.Add(
                "<a href=\"#pagecontent\"><img src=\"brindlehub/images/cancel.gif\" width=\"1\" "
                "height=\"1\" border=\"0\" alt=\"Jump to page content\"></a>");
        const std::string head = HeaderFiles::FileContents("\\html\\head" + touch + ".htm");
        if (fragment(head)) h.Add(head);

        // "linkslocation" BOTTOM (or BELOW) puts the links under the logo bar
        // and title; anything else above them.
        const std::string where = vb::UCase(vb::Trim(values["linkslocation"]));
        const bool linksBelow = where == "BOTTOM" || where == "BELOW";
        const std::string linkRow = links(vb::UCase(p[5]), request);
        if (!linksBelow) h.Add(linkRow);

        if (m_styled) h.Add("<center><b>" + title + "</b></center>");
        const std::string logo = vb::UCase(p[8]);
        const bool showLogo = logo != "NO_LOGO" && logo != "NO_LOGO_SLIDE";
        std::string fullTitle = title;
        if (!p[11].empty()) {
            std::string parts = p[11];
            for (size_t at; (at = parts.find(",,")) != std::string::npos;)
                parts.replace(at, 2, " - ");
            fullTitle += " - " + parts;
        }
        const std::string hide = vb::UCase(p[10]);
        h.Add(logoBar(values, hide == "YES" || hide == "TRUE" ? std::string() : fullTitle,
                      vb::UCase(p[9]), showLogo));

        if (linksBelow) h.Add(linkRow);
        if (!vb::equalsIgnoreCase(values["usePageScroll"], "None"))
            h.Add(HeaderFiles::PageScroll(values["usePageScroll"], ini()));
        h.Add(HeaderFiles::ownLinks(HeaderFiles::GetServerIP(request),
                                    WebSettings::instance().ServerPort));
        h.Add("<a name=\"pagecontent\"></a>");
    });
    return h.Value();
}

std::string PageHeader::links(const std::string& mode, const Request& request) {
    if (mode == "YES") return MenuRow("", request) + ssmItems(request);
    if (mode == "HSLINKS") return HSLinks();
    if (mode != "OLDSTYLE") return {};
    // The fragment of the user's level (links<level>.htm) when the site has
    // one, else the bridge's own links.htm.
    std::string file = m_level >= 1 && m_level <= 10 ? HeaderFiles::LinkFile(m_level, m_styled)
                                                     : std::string(HeaderFiles::kNoFile);
    if (!fragment(file)) file = HeaderFiles::LinkFile(0, m_styled);
    return MenuRow(fragment(file) ? file : "", request);
}

std::string PageHeader::logoBar(const std::map<std::string, std::string>& h,
                                const std::string& title, const std::string& security,
                                bool showLogo) {
    auto on = [&](const char* key) {
        const auto at = h.find(key);
        return at != h.end() && !at->second.empty() && !vb::equalsIgnoreCase(at->second, "No");
    };
    std::string cells;
    int count = 0;
    auto cell = [&](const std::string& content) {
        cells += "<td class=\"logobar\" nowrap>" + content + "</td>";
        ++count;
    };
    if (showLogo) {
        const QDateTime now = Clock::current().now();
        const WebSettings& web = WebSettings::instance();
        // A picture the HTML folder does not have is left out, not shown broken.
        if (on("logoShowClock"))
            cell((fragment(HeaderFiles::FileContents("\\html\\brindlehub\\images\\clock.gif"))
                      ? "<img src=\"/brindlehub/images/clock.gif\" border=\"0\" alt=\"Clock\"> "
                      : "") +
                 now.toString("h:mm AP").toStdString());
        if (on("logoShowDate")) cell(now.toString("dddd, MMMM d, yyyy").toStdString());
        if (on("logoShowTime")) {
            std::string clock = HeaderFiles::FileContents("\\html\\javascript\\clock.js");
            cell(
                "<span id=\"clock\">" + now.toString("h:mm:ss AP").toStdString() + "</span>" +
                (fragment(clock) ? "<script type=\"text/javascript\">" + clock + "</script>" : ""));
        }
        // The sun times arrive in xAP messages from the network.
        if (on("logoShowSunrise")) cell("Sunrise: " + HtmlText::escape(web.Sunrise));
        if (on("logoShowSunset")) cell("Sunset: " + HtmlText::escape(web.Sunset));
        if (on("logoShowWeatherManTemp")) {
            const std::string temperature = HeaderFiles::Temperature(ini());
            const bool number = !temperature.empty() &&
                                temperature.find_first_not_of("-0123456789") == std::string::npos;
            if (number && fragment(HeaderFiles::FileContents("\\html\\images\\Temperatures\\" +
                                                             temperature + ".gif")))
                cell("<img src=\"/images/Temperatures/" + temperature +
                     ".gif\" border=\"0\" alt=\"" + temperature + "\">");
            else if (!temperature.empty())
                cell(HtmlText::escape(temperature) + "&deg;");
        }
        if (on("logoShowUsername") && (security == "ENHANCED" || security == "BASIC"))
            cell("User: " + HtmlText::escape(m_user));
        const auto link = h.find("logoImageLink");
        const std::string image = link == h.end() ? std::string() : link->second;
        const std::string picture =
            "\" width=\"133\" height=\"25\" border=\"0\" alt=\"Link to Status\">";
        if (vb::equalsIgnoreCase(image, "NONE"))
            cell("<img src=\"" + std::string(kLogo) + picture);
        else
            cell("<a href=\"/status\" target=\"_top\"><img src=\"" +
                 (image.empty() ? std::string(kLogo) : image) + picture + "</a>");
    }
    std::string bar =
        "<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\" summary=\"Logo "
        "Bar\">";
    if (count > 0) bar += "<tr class=\"logobar\">" + cells + "</tr>";
    bar += "<tr><td class=\"pagetitle\" colspan=\"" + std::to_string(std::max(count, 1)) + "\">" +
           title + "</td></tr></table>";
    return bar;
}

std::string PageHeader::MenuRow(const std::string& links, const Request& request) {
    std::string row = links;
    guarded("MenuRow: ", [&] {
        if (setting("logpagehits") == "1")
            LogEvent("Web Log", HeaderFiles::fnPageName(request) + " was accessed by " + m_user);
        MenuDatabase* db = database();
        if (db == nullptr) return;
        const std::string& flag = m_header["useMenuRow"];
        if (flag.empty() || vb::equalsIgnoreCase(flag, "No")) return;
        // Texts and addresses are the site owner's HTML.
        row += "<table class=\"menurow\" width=\"100%\" summary=\"Menu\"><tr>";
        for (const auto& item : db->menus(m_level)) {
            const std::string label = item.MenuImage.empty()
                                          ? item.MenuItem
                                          : "<img src=\"" + item.MenuImage +
                                                "\" border=\"0\" alt=\"" + item.MenuItem + "\">";
            row += "<td class=\"menuitem\"><a href=\"" + item.MenuURL + "\" target=\"_top\">" +
                   label + "</a>";
            const auto children = db->menus(m_level, item.MenuID);
            if (!children.empty()) {
                row += "<div class=\"submenu\">";
                for (const auto& child : children)
                    row += "<a href=\"" + child.MenuURL + "\" target=\"_top\">" + child.MenuItem +
                           "</a><br>";
                row += "</div>";
            }
            row += "</td>";
        }
        row += "</tr></table>";
    });
    return row;
}

std::string PageHeader::ssmItems(const Request& request) {
    return guarded("ssmItems: ", std::string{}, [&]() -> std::string {
        std::string text = HeaderFiles::FileContents("\\html\\includes\\ssmitems.txt");
        if (text == HeaderFiles::kNoFile) return {};
        MenuDatabase* db = database();
        if (db == nullptr) return {};
        std::string prefs;
        const auto stored = db->preferences(m_user);
        if (stored.empty()) {
            prefs =
                "XOffset=0;YOffset=100;staticYOffset=30;slideSpeed=0;waitTime=1500;"
                "menuWidth=150;menuCols=2;barWidth=20;menuIsStatic=\"yes\";"
                "linkMouseOverColor=\"#FFFF99\";linkMouseOutColor=\"white\";linkTarget=\"_top\";"
                "barText=\"HomeSeer Forums\";barLink=\"https://forums.homeseer.com/\";";
        } else {
            for (const auto& [column, value] : stored) {
                std::string name = column;
                for (const auto& [c, v] : kPrefNames)
                    if (vb::equalsIgnoreCase(c, column)) name = v;
                prefs += name + "=" +
                         (vb::IsNumeric(value) ? value : HeaderFiles::scriptString(value)) + ";";
            }
        }
        std::string items;
        int n = 0;
        for (const auto& item : db->popItems(request.ServerVariables("REMOTE_ADDR"))) {
            items += "ssmItems[" + std::to_string(n++) + "]=[" +
                     HeaderFiles::scriptString(item.MenuText);
            if (!item.IsHeader) items += ", " + HeaderFiles::scriptString(item.MenuURL) + ", \"\"";
            items += "];\r\n";
        }
        replaceAll(text, "(******REPLACE_SSMITEMS******)", items);
        replaceAll(text, "(******REPLACE_SSMPREFS******)", prefs);
        return "<script type=\"text/javascript\">\r\n" + text + "\r\n</script>\r\n";
    });
}

std::string PageHeader::HSLinks() {
    std::string row;
    guarded("HSLinks: ", [&] {
        // These pages belong to the host platform; this server does not serve them.
        const std::pair<const char*, const char*> pages[] = {
            {"Home", "/"},
            {"Status", "/stat"},
            {"Events", "/elist"},
            {"Log", "/viewlog"},
            {"Control Device", "/ctrl"},
            {"Poll Device", "/poll"},
            {"TV/Video Game", "/tv"},
            {"Setup", "/setup"},
            {"Help", "/help"},
            {"Log Out", "/logout"},
        };
        row = "<table class=\"hslinks\" width=\"100%\" summary=\"Links\"><tr>";
        for (const auto& [label, address] : pages)
            row += "<td class=\"linkrow\"><a href=\"" + std::string(address) + "\">" + label +
                   "</a></td>";
        for (int i = 1; i <= 4; ++i) {
            const std::string desc = setting("gCustomPageDesc" + std::to_string(i));
            const std::string file = setting("gCustomPageFile" + std::to_string(i));
            if (!desc.empty() && !file.empty())
                row += "<td class=\"linkrow\"><a href=\"" + file + "\">" + desc + "</a></td>";
        }
        row += "</tr></table>";
    });
    return row;
}
