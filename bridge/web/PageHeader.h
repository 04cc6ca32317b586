#pragma once
// The header every generated page starts with, and the preparation that runs
// before each page: the "Settings" of "qixBrindle.ini" (XStartMiscFunctionsASP),
// who the browser is and at which security level (XSecurityCheck), and whether
// the page is styled with explicit colours for a touch-screen browser
// (xStartHeaderASP). One object lives as long as the page it serves: a security
// mode other than "ENHANCED", "BASIC" or "NONE" keeps the user of the previous
// request.
//
// The header is built from the "header.asp" values of "includes.ini" (missing
// ones are written back with their defaults), the site owner's HTML fragments
// below the program folder, written as they are, and the optional menu
// database (see MenuDatabase), whose pieces are left out when there is none.
// What the request brings (host, referrer, user name) is HTML-escaped.
//
// Every operation catches its own faults, logs them under its name and returns
// what it has built, so a page is always built.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "web/MenuDatabase.h"

class Application;
class IniCache;
class Request;
class Response;

class PageHeader {
public:
    // The logo of the logo bar, below the HTML folder.
    static constexpr const char* kLogo = "/brindlehub/images/brindle-logo.gif";

    struct Settings {
        MenuDatabase::Settings db;
        std::string rowstyle, usesecurity, linkfileext, hsip, exthsip, footerlinkrule,
            useslideinmenu, audreyrowstyle, touchscreenips;
        bool usesound = false;
    };

    explicit PageHeader(Application& hs);
    ~PageHeader();

    void XStartMiscFunctionsASP();
    void XSecurityCheck(const Request& request);
    bool xStartHeaderASP(const Request& request);

    // The access check of the menu database, run before the page acts on
    // what was posted: a page whose menu entry needs a higher level than the
    // user's is refused through LogAuthorized. True when it was refused (the
    // refusal is then the whole answer). "unauthorized.asp" is never refused.
    bool refuses(const Request& request, Response& response);
    void LogAuthorized(const std::string& page, Response& response);

    // Parameters by position: 0 the title (page HTML, written as given), 1 the
    // background picture, 2 the background colour, 3 "x" when the page wrote
    // the start of the document itself, 4 the style sheet name, 5 the
    // show-links mode ("YES", "NO", "OLDSTYLE", "HSLINKS"), 6 the refresh
    // seconds, 7 the header mode, 8 the logo ("NO_LOGO", "NO_LOGO_SLIDE" hide
    // it), 9 the security mode, 10 hide title ("YES" or "TRUE"), 11 further
    // title parts separated by ",,". Empty positions take the "header.asp"
    // values.
    std::string XCustomHeader(std::vector<std::string> parameters, const Request& request);
    std::string CustomHeader(const std::vector<std::string>& parameters, const Request& request);

    // The links text followed by the menu row of the database (with
    // "useMenuRow"); logs the visit with "logpagehits" = "1".
    std::string MenuRow(const std::string& links, const Request& request);
    // The slide-in menu script of "ssmitems.txt" with the user's items and
    // preferences; empty without the script or the database.
    std::string ssmItems(const Request& request);
    // The host platform's row of links, with the custom pages of the settings.
    std::string HSLinks();

    // Closes the menu database of this request.
    void finish();

    const Settings& settings() const { return m_settings; }
    const std::string& user() const { return m_user; }
    int16_t level() const { return m_level; }
    bool styled() const { return m_styled; }

private:
    MenuDatabase* database();
    IniCache& ini() const;
    std::string setting(const std::string& key) const;
    std::map<std::string, std::string> headerSettings();
    // The link row of a show-links mode ("YES", "OLDSTYLE", "HSLINKS").
    std::string links(const std::string& mode, const Request& request);
    std::string logoBar(const std::map<std::string, std::string>& h, const std::string& title,
                        const std::string& security, bool showLogo);

    Application& m_hs;
    Settings m_settings;
    // The "header.asp" values of the header being built.
    std::map<std::string, std::string> m_header;
    std::string m_user;
    int16_t m_level = 0;
    bool m_styled = false;
    bool m_databaseTried = false;
    std::unique_ptr<MenuDatabase> m_database;
};
