#pragma once
// The site owner's menu database: who a browser is (MenuUsers, found by the
// address the browser asked for), which pages need which level (Menus), and
// the slide-in menu (MenuPOP, MenuPOPPref). Opened for one request and closed
// when it is destroyed.
//
// "dbtype" picks the Qt Sql driver: SQLite for an empty value, "SQLite" or
// "Access" (the file "dbpath"/"dbname", relative paths below the program
// folder), and otherwise the driver of that database kind when it is
// installed. A database that is missing, whose driver is absent or that will
// not open leaves isOpen() false; a missing SQLite file is never created.
//
// Every value that reaches a query is a bound parameter. Queries raise a
// run-time error when they fail, for the caller's fault boundary.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class MenuDatabase {
public:
    struct Settings {
        std::string dbtype, dbpath, dbname, dbusername, dbpassword, dbserverip;
    };
    struct User {
        std::string UserID;
        int16_t SecureLevel = 0;
    };
    struct MenuItem {
        std::string MenuItem, MenuURL, MenuImage;
        int MenuID = 0, ParentID = 0, SecureLevel = 0;
    };
    struct PopItem {
        std::string MenuText, MenuURL;
        bool IsHeader = false;
    };

    explicit MenuDatabase(const Settings& settings);
    ~MenuDatabase();
    MenuDatabase(const MenuDatabase&) = delete;
    MenuDatabase& operator=(const MenuDatabase&) = delete;

    bool isOpen() const { return m_open; }

    std::optional<User> userBySecID(const std::string& secId);
    // Stamps LastSessTime of the users of that address with the database's
    // own clock.
    void recordVisit(const std::string& secId);
    // The top-level entries (LevelID 1) the level may see, in SortOrder, or
    // the children of parentId when it is not 0.
    std::vector<MenuItem> menus(int level, int parentId = 0);
    // The level the first menu entry whose address ends in page needs.
    std::optional<int> pageLevel(const std::string& page);
    // The columns of MenuPOPPref by name, in the order of the query; empty
    // when the user has none.
    std::vector<std::pair<std::string, std::string>> preferences(const std::string& user);
    std::vector<PopItem> popItems(const std::string& secId);

private:
    std::string m_connection;
    std::string m_kind;  // "sqlite", "sqlserver" or "other"
    bool m_open = false;
};
