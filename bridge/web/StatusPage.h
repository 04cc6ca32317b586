#pragma once
// The status and configuration page: the transceiver's Ninja channels (and,
// with "IncludeX10", the X10 addresses A1 to P16) as they stand in the host's
// device table, with their state, name and last change, in one form that posts
// back to the page. A post either saves (names, used marks, the web settings) or
// sends the command chosen in one row's drop-down; the answer is the page,
// rebuilt.
//
// Every stored or posted text written into the page is HTML-escaped. A save
// applies only to the rows the posted form carries, so a form built before the
// table changed cannot blank the names of rows it never showed.
//
// Who may use it: with security "BASIC" a request needs an Authorization
// header matching an account of Config/webusers.ini (else 401, see WebUsers);
// a POST must come from a page of this server (its Origin, or else its Referer,
// names the host the request was sent to) or carry the page's token (else 403),
// so no other site's page can change settings or send commands.
//
// "Save Changes" writes the settings file before the page is answered, and the
// page says when that failed. A port that is no port is refused next to its
// field, and the old one kept.
//
// Each step catches its own faults, logs them under its name and returns what
// it has built, so a page is always sent.

#include <QDateTime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "web/PageHeader.h"
#include "web/StatusTable.h"
#include "web/WebUsers.h"

class Application;
class Request;
class Response;

class StatusPage {
public:
    struct CellLook;
    // The gateway's send operations; set by the program once they exist.
    // Without them a command posted from the page sends nothing.
    struct Commands {
        std::function<void(const std::string& sCode, const std::string& sCmd)> SendNinjaCommand;
        std::function<void(const std::string& sDevice, const std::string& sCommand,
                           const std::string& sCount)>
            SendCM19A;
        // After "Save Changes" has stored the names, marks and settings.
        std::function<void()> Saved;
    };

    // The name of the hidden field that carries the page's token.
    static constexpr const char* kTokenField = "PageToken";

    explicit StatusPage(Application& hs);
    ~StatusPage();

    // The page for this request (the page's entry point). A request refused
    // (credentials, origin, or the menu database) gets the refusal as its
    // answer, sent here, and an empty text; refused() then tells the caller
    // not to send the page.
    std::string Render(Request& request, Response& response);
    bool refused() const { return m_refused; }
    std::string Status_ASP();
    void ClientRequest();
    void CreateDevice(const std::string& code, const std::string& name, bool used);
    std::string ControlPulldown(const std::string& code) const;
    std::string FormatCell(const std::string& content, const std::string& cls,
                           const std::string& span, const std::string& align) const;
    std::string FormatChangedTime(const QDateTime& t) const;

    void setStyled(bool styled) { m_styled = styled; }
    // The per-process random value the page's forms carry.
    const std::string& token() const { return m_token; }
    // The table of the last page built; empty before the first.
    const StatusTable& table() const { return *m_table; }

    Commands commands;

private:
    void FormatScreen(std::string& page);
    void AddSetup(std::string& page);
    void addMqttSetup(std::string& page);
    void saveMqttSetup();
    void fillTable(StatusTable& table) const;
    void writeRow(std::string& page, const StatusRow& row, const std::string& rowClass);
    // A cell written in place: its opening, whatever `content` appends to the
    // page, its closing. A styled cell of a class without a look shows nothing.
    template <typename Content>
    void writeCell(std::string& out, std::string_view cls, std::string_view span,
                   std::string_view align, const Content& content) const {
        const CellLook* look = openCell(out, cls, span, align);
        const size_t contentStart = out.size();
        content();
        if (m_styled && look == nullptr) out.resize(contentStart);
        closeCell(out, look);
    }
    const CellLook* openCell(std::string& out, std::string_view cls, std::string_view span,
                             std::string_view align) const;
    void closeCell(std::string& out, const CellLook* look) const;
    void appendCell(std::string& out, std::string_view content, std::string_view cls,
                    std::string_view span, std::string_view align) const;
    Application& host() const { return m_hs; }
    // False (and the answer sent) when the request may not use the page.
    bool admitted(Request& request, Response& response);
    bool sameOrigin(const Request& request) const;
    // Writes the settings file now; false when it did not reach the disk.
    bool writeSettings();

    Application& m_hs;
    WebUsers m_users;
    std::string m_token;
    // Shown under the save button, and next to the port field.
    std::string m_saveMessage;
    std::string m_portMessage;
    bool m_noAccountsLogged = false;
    Request* m_request = nullptr;
    Response* m_response = nullptr;
    std::unique_ptr<StatusTable> m_table;
    PageHeader m_header;
    bool m_refused = false;
    bool m_styled = false;
    bool m_showOnlyUsed = false;
    bool m_includeX10 = false;
    std::string m_sortKey;
    std::string m_sortDirection;
    // The size of the last page built, to size the next one.
    size_t m_lastPageSize = 0;
    QDateTime m_today;
    QDateTime m_yesterday;
};
