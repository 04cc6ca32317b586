#include "web/MenuDatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <filesystem>
#include <system_error>

#include "base/Convert.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"

namespace {

QString qt(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}
std::string text(const QVariant& v) {
    return v.toString().toLatin1().toStdString();
}

QString driverFor(const std::string& type) {
    const std::string t = vb::UCase(vb::Trim(type));
    if (t.empty() || t == "SQLITE" || t == "ACCESS") return "QSQLITE";
    if (t == "SQL SERVER") return "QODBC";
    if (t == "MYSQL") return "QMYSQL";
    if (t == "POSTGRESQL") return "QPSQL";
    return qt(t);
}

// A page name's "%" and "_" are characters to match, not wildcards.
std::string likeSuffix(const std::string& page) {
    std::string out = "%";
    for (char c : page) {
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

MenuDatabase::MenuDatabase(const Settings& s) {
    static int serial = 0;
    m_connection = "brindle-menus-" + std::to_string(++serial);
    const QString driver = driverFor(s.dbtype);
    if (!QSqlDatabase::isDriverAvailable(driver)) return;
    m_kind = driver == "QSQLITE" ? "sqlite" : driver == "QODBC" ? "sqlserver" : "other";
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, qt(m_connection));
    if (m_kind == "sqlite") {
        namespace fs = std::filesystem;
        fs::path file = ProgramFolder::mapPath(s.dbpath);
        if (!s.dbname.empty()) file /= ProgramFolder::mapPath(s.dbname);
        if (file.is_relative()) file = fs::path(ProgramFolder::path()) / file;
        std::error_code ec;
        // Opening a missing file would create an empty database.
        if (!fs::is_regular_file(file, ec)) return;
        db.setDatabaseName(qt(file.string()));
    } else {
        db.setHostName(qt(s.dbserverip));
        db.setDatabaseName(qt(s.dbname));
        db.setUserName(qt(s.dbusername));
        db.setPassword(qt(s.dbpassword));
    }
    m_open = db.open();
}

MenuDatabase::~MenuDatabase() {
    {
        QSqlDatabase db = QSqlDatabase::database(qt(m_connection), false);
        if (db.isValid()) db.close();
    }
    if (QSqlDatabase::contains(qt(m_connection))) QSqlDatabase::removeDatabase(qt(m_connection));
}

namespace {

QSqlQuery run(const std::string& connection, const QString& sql,
              std::initializer_list<QVariant> values) {
    QSqlQuery q(QSqlDatabase::database(qt(connection), false));
    if (!q.prepare(sql)) raiseError(RuntimeError::kInvalidCall, text(q.lastError().text()));
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec()) raiseError(RuntimeError::kInvalidCall, text(q.lastError().text()));
    return q;
}

}  // namespace

std::optional<MenuDatabase::User> MenuDatabase::userBySecID(const std::string& secId) {
    QSqlQuery q =
        run(m_connection, "SELECT UserID, SecureLevel, SecID FROM MenuUsers WHERE SecID = ?",
            {qt(secId)});
    if (!q.next()) return std::nullopt;
    return User{text(q.value(0)), vb::CInt(static_cast<double>(q.value(1).toInt()))};
}

void MenuDatabase::recordVisit(const std::string& secId) {
    const QString now = m_kind == "sqlite"      ? "datetime('now', 'localtime')"
                        : m_kind == "sqlserver" ? "GetDate()"
                                                : "Now()";
    run(m_connection, "UPDATE MenuUsers SET LastSessTime = " + now + " WHERE SecID = ?",
        {qt(secId)});
}

std::vector<MenuDatabase::MenuItem> MenuDatabase::menus(int level, int parentId) {
    const QString select =
        "SELECT MenuItem, MenuURL, ParentID, SecureLevel, MenuImage, MenuID FROM Menus WHERE ";
    QSqlQuery q =
        parentId == 0
            ? run(m_connection, select + "LevelID = 1 AND SecureLevel <= ? ORDER BY SortOrder",
                  {level})
            : run(m_connection, select + "ParentID = ? AND SecureLevel <= ? ORDER BY SortOrder",
                  {parentId, level});
    std::vector<MenuItem> items;
    while (q.next())
        items.push_back({text(q.value(0)), text(q.value(1)), text(q.value(4)), q.value(5).toInt(),
                         q.value(2).toInt(), q.value(3).toInt()});
    return items;
}

std::optional<int> MenuDatabase::pageLevel(const std::string& page) {
    QSqlQuery q = run(m_connection,
                      "SELECT LevelID, ParentID, MenuID, SecureLevel FROM Menus "
                      "WHERE MenuURL LIKE ? ESCAPE '\\'",
                      {qt(likeSuffix(page))});
    if (!q.next()) return std::nullopt;
    return q.value(3).toInt();
}

std::vector<std::pair<std::string, std::string>> MenuDatabase::preferences(
    const std::string& user) {
    QSqlQuery q = run(m_connection,
                      "SELECT yoffset, xoffset, staticyoffset, slidespeed, waittime, menuIsStatic, "
                      "menuwidth, barlink, bartext, barwidth, mouseovercolor, mouseoutcolor, "
                      "targetwindow FROM MenuPOPPref WHERE UserID = ?",
                      {qt(user)});
    std::vector<std::pair<std::string, std::string>> prefs;
    if (!q.next()) return prefs;
    for (int i = 0; i < 13; ++i)
        prefs.emplace_back(text(q.record().fieldName(i)), text(q.value(i)));
    return prefs;
}

std::vector<MenuDatabase::PopItem> MenuDatabase::popItems(const std::string& secId) {
    const QString first = m_kind == "sqlserver"
                              ? "(SELECT TOP 1 UserID FROM MenuUsers WHERE SecID = ?)"
                              : "(SELECT UserID FROM MenuUsers WHERE SecID = ? LIMIT 1)";
    QSqlQuery q = run(m_connection,
                      "SELECT P.MenuID, P.MenuText, P.MenuURL, M.MenuItem, M.MenuURL, P.IsHeader, "
                      "P.IsActive FROM MenuPOP P LEFT JOIN Menus M ON P.MenuID = M.MenuID "
                      "WHERE P.IsActive = 1 AND P.UserID = " +
                          first + " ORDER BY P.SortOrder, M.MenuItem",
                      {qt(secId)});
    std::vector<PopItem> items;
    while (q.next()) {
        // An entry without its own text or address takes the menu's.
        std::string label = text(q.value(1)), url = text(q.value(2));
        if (label.empty()) label = text(q.value(3));
        if (url.empty()) url = text(q.value(4));
        items.push_back({label, url, q.value(5).toInt() != 0});
    }
    return items;
}
