#include "web/StatusPage.h"

#include <cstdio>
#include <unordered_map>

#include <sys/stat.h>
#include "base/Clock.h"
#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "binding/Variant.h"

#include <optional>

#include "base/ProgramFolder.h"
#include "host/Application.h"
#include "host/DeviceTableFile.h"
#include "host/MqttSettings.h"
#include "host/WebSettings.h"
#include "web/HtmlText.h"
#include "web/PageHeader.h"
#include "web/Request.h"
#include "web/Response.h"
#include "web/WebDates.h"
#include "xap/X10Words.h"
#include "xap/XapLog.h"

namespace {

using namespace std::string_view_literals;

constexpr int kNinjaChannels = 255;
constexpr const char* kIniFile = "qixBrindle.ini";

// A stored flag: a number is true when not 0, a text when it reads "True".
bool flag(const std::string& text) {
    if (vb::IsNumeric(text)) return vb::Val(text) != 0;
    return vb::equalsIgnoreCase(vb::Trim(text), "True");
}

std::string threeDigits(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", n);
    return buf;
}

// Channel i (0 to 254) lives in the host's table as Q1..Q64, R1..R64, S1..S64,
// T1..T63, and answers to the i-th X10 address A1, A2, ... P15.
std::string channelHostCode(int i) {
    return std::string(1, static_cast<char>('Q' + i / 64)) + std::to_string(i % 64 + 1);
}
std::string channelLabel(int i) {
    return std::string(1, static_cast<char>('A' + i / 16)) + std::to_string(i % 16 + 1);
}

// Times the host uses for "never changed".
bool neverChanged(const QDateTime& t) {
    static const QDateTime zero = Variant::zeroDate();
    static const QDateTime y2k(QDate(2000, 1, 1), QTime(0, 0));
    return !t.isValid() || t == zero || t == y2k;
}

// The options of a camera's (words 5 to 20) or an X10 address's drop-down
// (words 1 to 4); the vocabulary is fixed, so each list is built once.
const std::string& pulldownOptions(bool camera) {
    static const auto build = [](int first, int last) {
        std::string s = "<option selected=' '></option>";
        for (int k = first; k <= last; ++k)
            s += "<option value='" + X10Words::Word(k) + "'>" + X10Words::Word(k) + "</option>";
        return s + "</select>";
    };
    static const std::string cameraOptions = build(5, X10Words::kLastWord);
    static const std::string x10Options = build(1, 4);
    return camera ? cameraOptions : x10Options;
}

}  // namespace

// How a styled page shows a cell of each class.
struct StatusPage::CellLook {
    const char* cls;
    bool bold;
    const char* color;
    const char* background;
};
namespace {

constexpr StatusPage::CellLook kLooks[] = {
    {"TABLECOLUMN", true, "#FFFFFF", "#31639C"},      {"TABLEHEADER", true, "#FFFFFF", "#63639C"},
    {"TABLEROWODD", false, "#000000", "#C0C0C0"},     {"TABLEROWEVEN", false, "#000000", "#949494"},
    {"TABLECELLCUSTOM", false, "#FFFFFF", "#000000"},
};

const char* const kScript[] = {
    "<SCRIPT LANGUAGE=\"JavaScript\">",
    "function ClearSubmit(button) {",
    "  document.control.clientvalue.value = button.value;",
    "  document.control.clientinput.value = button.name;",
    "  document.control.submit();}",
    "function HiddenSubmit(button) {",
    "  window.parent.frames['hiddenframe'].document.forms['hiddenform'].elements['clientvalue']."
    "value = button.value;",
    "  window.parent.frames['hiddenframe'].document.forms['hiddenform'].elements['clientinput']."
    "value = button.name;",
    "  window.parent.frames['hiddenframe'].document.forms['hiddenform'].submit();}",
    "</script>",
};

}  // namespace

StatusPage::StatusPage(Application& hs)
    : m_hs(hs),
      m_users(ProgramFolder::resolveIgnoringCase(ProgramFolder::path(), "Config")),
      m_table(std::make_unique<StatusTable>()),
      m_header(hs) {
    m_token = WebUsers::randomToken();
    m_today = QDateTime(Clock::current().today(), QTime(0, 0));
    m_yesterday = m_today.addDays(-1);
}

StatusPage::~StatusPage() = default;

std::string StatusPage::Render(Request& request, Response& response) {
    m_request = &request;
    m_response = &response;
    m_refused = false;
    std::string text = guarded("StatusPage: ", std::string(), [&] {
        m_header.XStartMiscFunctionsASP();
        if (!admitted(request, response)) {
            m_refused = true;
            return std::string();
        }
        m_header.XSecurityCheck(request);
        m_styled = m_header.xStartHeaderASP(request);
        // Refused before anything posted is acted on.
        m_refused = m_header.refuses(request, response);
        return m_refused ? std::string() : Status_ASP();
    });
    m_header.finish();
    m_request = nullptr;
    m_response = nullptr;
    return text;
}

bool StatusPage::admitted(Request& request, Response& response) {
    if (vb::equalsIgnoreCase(m_header.settings().usesecurity, "BASIC")) {
        // The browser's credentials, checked here, are the only source of the
        // user; a header the client named AUTH_USER is never read.
        if (!m_users.any() && !m_noAccountsLogged) {
            m_noAccountsLogged = true;
            LogError("StatusPage", "Security is BASIC but Config/" + std::string(WebUsers::kFile) +
                                       " holds no account, so every request is refused; add "
                                       "one with brindle-passwd");
        }
        const std::string user = m_users.check(request.ServerVariables("Authorization"));
        if (user.empty()) {
            response.SendStatus(response.index(), 401, "Unauthorized",
                                "WWW-Authenticate: Basic realm=\"Brindle\", charset=\"UTF-8\"");
            return false;
        }
        request.setAuthUser(user);
    }
    if (request.Method().compare(0, 3, "POS") == 0 && !sameOrigin(request)) {
        LogError("StatusPage", "Refused a POST to the status page from " +
                                   request.ServerVariables("REMOTE_ADDR") + ": it came from \"" +
                                   request.ServerVariables("Origin") +
                                   request.ServerVariables("Referer") +
                                   "\", not from a page of this server");
        response.SendStatus(response.index(), 403, "Forbidden");
        return false;
    }
    return true;
}

bool StatusPage::sameOrigin(const Request& request) const {
    // "http://host:port/page" gives "host:port".
    auto authority = [](std::string url) {
        const size_t scheme = url.find("://");
        if (scheme == std::string::npos) return std::string();
        url.erase(0, scheme + 3);
        return vb::LCase(url.substr(0, url.find('/')));
    };
    const std::string host = vb::LCase(vb::Trim(request.ServerVariables("Host")));
    const std::string origin = vb::Trim(request.ServerVariables("Origin"));
    if (!origin.empty()) return !host.empty() && authority(origin) == host;
    const std::string referer = vb::Trim(request.ServerVariables("Referer"));
    if (!referer.empty()) return !host.empty() && authority(referer) == host;
    return request.Form(kTokenField) == m_token;
}

std::string StatusPage::Status_ASP() {
    // Built in one buffer, sized from the last page (a page of every device is
    // half a megabyte), so it grows rarely and is never joined from pieces.
    std::string page;
    page.reserve(m_lastPageSize + m_lastPageSize / 8);
    guarded("Status_ASP: ", [&] {
        m_saveMessage.clear();
        m_portMessage.clear();
        IniCache& ini = host().iniCache();
        m_showOnlyUsed = flag(ini.GetINISetting("General", "ShowOnlyUsed", "0"));
        m_includeX10 = flag(ini.GetINISetting("General", "IncludeX10", "0"));
        if (m_request != nullptr && !m_request->Form("clientinput").empty()) ClientRequest();
        m_sortDirection =
            vb::withoutQuotes(ini.GetINISetting("General", "StatusSortDirection", ""));
        m_sortKey = vb::withoutQuotes(ini.GetINISetting("General", "StatusSortKey", "DCSort"));
        m_today = QDateTime(Clock::current().today(), QTime(0, 0));
        m_yesterday = m_today.addDays(-1);
        FormatScreen(page);
    });
    m_lastPageSize = page.size();
    return page;
}

void StatusPage::ClientRequest() {
    guarded("Status ClientRequest ", [&] {
        const Request& r = *m_request;
        if (!r.Form("UpdateButton").empty()) {
            for (const StatusRow* row : m_table->rows()) {
                // A row the posted form does not carry keeps its name and mark.
                if (r.Form(row->DC + "DC").empty()) continue;
                CreateDevice(row->DC, r.Form(row->DC + "Name"), !r.Form(row->DC + "Used").empty());
            }
            IniCache& ini = host().iniCache();
            WebSettings& web = WebSettings::instance();
            // A port that is no port would leave the page unreachable after
            // the next start: the old one stays.
            const std::string port = vb::Trim(r.Form("ServerPort"));
            if (WebSettings::portNumber(port) != 0) {
                web.ServerPort = port;
                ini.SaveINISetting("General", "ServerPort", web.ServerPort, kIniFile);
            } else {
                m_portMessage =
                    "\"" + port + "\" is not a port from 1 to 65535; kept " +
                    vb::withoutQuotes(ini.GetINISetting("General", "ServerPort", "8012"));
            }
            web.Background = r.Form("Background");
            ini.SaveINISetting("General", "Background", web.Background, kIniFile);
            web.StyleSheet = r.Form("StyleSheet");
            ini.SaveINISetting("General", "StyleSheet", web.StyleSheet, kIniFile);

            m_showOnlyUsed = !r.Form("ShowOnlyUsed").empty();
            m_includeX10 = !r.Form("IncludeX10").empty();
            ini.SaveINISetting("General", "ShowOnlyUsed", m_showOnlyUsed ? "1" : "0", kIniFile);
            ini.SaveINISetting("General", "IncludeX10", m_includeX10 ? "1" : "0", kIniFile);
            // Not a number, or too large to be one step count: the setting stays.
            const std::string increment = r.Form("NinjaIncrement");
            if (vb::IsNumeric(increment)) {
                const double value = vb::Val(increment);
                if (value <= INT16_MAX) {
                    web.NinjaIncrement = value < 1 ? int16_t{1} : vb::CInt(value);
                    ini.SaveINISetting("General", "NinjaIncrement",
                                       std::to_string(web.NinjaIncrement), kIniFile);
                }
            }
            saveMqttSetup();
            m_saveMessage = writeSettings()
                                ? "Changes saved."
                                : "Changes could NOT be written to disk; they are lost at the "
                                  "next restart. See the error log.";
            if (commands.Saved) commands.Saved();
            return;
        }
        const std::string input = r.Form("clientinput");
        const std::string code = r.Form(input + "DC");
        if (input.empty()) return;
        const std::string command = r.Form("clientvalue");
        if (input.front() == 'Q') {
            if (commands.SendNinjaCommand) commands.SendNinjaCommand(code, command);
        } else if (commands.SendCM19A) {
            commands.SendCM19A(code, command, r.Form(input + "Value"));
        }
    });
}

bool StatusPage::writeSettings() {
    // The file is replaced by a new one when it is written, so a file that is
    // still the same one afterwards was not written.
    namespace fs = std::filesystem;
    const fs::path file =
        ProgramFolder::resolveIgnoringCase(fs::path(ProgramFolder::path()) / "Config", kIniFile);
    auto identity = [&file]() -> std::optional<std::pair<dev_t, ino_t>> {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) return std::nullopt;
        return std::make_pair(st.st_dev, st.st_ino);
    };
    const auto before = identity();
    DeviceTableFile::SaveDevices(host().devices(), host().iniCache());
    host().iniCache().FlushIniCache();
    const auto after = identity();
    const bool written = after && after != before;
    if (!written) LogError("StatusPage", "Save Changes: " + file.string() + " was not written");
    return written;
}

void StatusPage::CreateDevice(const std::string& code, const std::string& name, bool used) {
    guarded("CreateDevice", [&] {
        std::string hostCode = code;
        if (!code.empty() && static_cast<unsigned char>(code.front()) >= 'Q') {
            const int n = static_cast<int>(vb::Val(code.substr(1))) - 1;
            const int letter = 'Q' + n / 64;
            if (letter > 255)
                raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument");
            hostCode = std::string(1, static_cast<char>(letter)) + std::to_string(n % 64 + 1);
        }
        DeviceTable& devices = host().devices();
        int16_t position = devices.DeviceExists(hostCode);
        if (position == -1) position = devices.NewDevice("sLocName");
        if (position == -1) return;
        const auto device = devices.GetDevice(position);
        if (!device) return;
        device->name = name;
        device->setCode(hostCode.substr(0, 1),
                        hostCode.size() > 1 ? hostCode.substr(1) : std::string());
        device->iotype = used ? 1 : 0;
    });
}

void StatusPage::fillTable(StatusTable& table) const {
    const DeviceTable& devices = host().devices();
    // The row's own texts are made only for a row that is shown.
    auto add = [&](const std::string& hostCode, const auto& code, const auto& sortKey,
                   const auto& display) {
        const DeviceClass* device = devices.findByCode(hostCode);
        if (device == nullptr) return;
        const bool used = device->iotype != 0;
        if (m_showOnlyUsed && !used) return;
        table.AddRow({code(), hostCode, device->name, devices.DeviceLastChange(hostCode), used,
                      sortKey(), display(), 3});
    };
    for (int i = 0; i < kNinjaChannels; ++i)
        add(
            channelHostCode(i), [i] { return "Q" + std::to_string(i + 1); },
            [i] { return " " + threeDigits(i); }, [i] { return "Ninja " + channelLabel(i); });
    if (!m_includeX10) return;
    for (char house = 'A'; house <= 'P'; ++house) {
        for (int unit = 1; unit <= 16; ++unit) {
            const std::string code = house + std::to_string(unit);
            add(
                code, [&] { return code; },
                [&] { return std::string(1, house) + threeDigits(unit); },
                [&] { return "X10 " + code; });
        }
    }
}

void StatusPage::FormatScreen(std::string& page) {
    guarded("Status FormatScreen ", [&] {
        page.append("<html><head><meta charset=\"utf-8\">");
        for (const char* line : kScript) page.append(line);
        const WebSettings& web = WebSettings::instance();
        const std::string title = "CM19A Status&nbsp;&nbsp;<small><font size='1'></b> V" +
                                  std::to_string(BRINDLE_VERSION_MAJOR) + "." +
                                  std::to_string(BRINDLE_VERSION_MINOR) + "." +
                                  std::to_string(BRINDLE_VERSION_PATCH) + "</font></small>";
        static const Request noRequest;
        page.append(m_header.CustomHeader({title, "", web.Background, "x", web.StyleSheet},
                                          m_request != nullptr ? *m_request : noRequest));
        page.append("\r\n");
        page.append("<div><center><small>");
        page.append("<form name='control' method='post' accept-charset='UTF-8'>");
        page.append("<input type='hidden' name='clientinput' value='yes'>");
        page.append("<input type='hidden' name='clientvalue' value='yes'>");
        page.append("<input type='hidden' name='" + std::string(kTokenField) + "' value='" +
                    m_token + "'>");
        page.append(
            "<center><input type='submit' name ='UpdateButton' value='Save Changes'></center>");
        if (!m_saveMessage.empty())
            page.append("<center><b id='savemessage'>" + HtmlText::escape(m_saveMessage) +
                        "</b></center>");
        page.append("<br>");
        AddSetup(page);
        page.append("<br>");

        page.append("<table  border='5' frame='box'><tr>");
        page.append(FormatCell("CM19A NINJA", "TABLEHEADER", "6", "Center"));
        page.append("<tr><tr>");
        for (const char* button : {"Used", "Status", "ID", "Name", "Changed", "Refresh"})
            page.append(FormatCell(
                std::string("<input type='submit' name='") + button + "' value='" + button + "'>",
                "TABLEHEADER", "1", "Center"));
        page.append("</tr><tr>");

        auto table = std::make_unique<StatusTable>();
        fillTable(*table);
        // A sort setting that names no field leaves the rows in channel
        // order; the page is still worth showing.
        guarded("Status FormatScreen ",
                [&] { table->Sort(vb::Trim(m_sortKey + " " + m_sortDirection)); });
        table->setFilterUsed(m_showOnlyUsed);
        m_table = std::move(table);

        bool even = true;
        for (const StatusRow* row : m_table->rows()) {
            writeRow(page, *row, even ? "TABLEROWEVEN" : "TABLEROWODD");
            even = !even;
        }

        page.append(
            "<IFRAME frameborder=0 scrolling='no' name='hiddenframe' cols='0' rows='0' width='0' "
            "height='0' size='0'>");
        page.append(
            "<form name='hiddenform' method = 'post' accept-charset='UTF-8'><input type='hidden' "
            "name='clientinput' value='x'><input type='hidden' name='clientvalue' value='y'>"
            "<input type='hidden' name='" +
            std::string(kTokenField) + "' value='" + m_token + "'></form>");
        page.append("</IFRAME>");
        page.append("</tr></table></form></small></center></div>");
        page.append("</body></html>");
    });
}

void StatusPage::writeRow(std::string& page, const StatusRow& row, const std::string& rowClass) {
    const DeviceTable& devices = host().devices();
    const std::string code = vb::UCase(row.DC);
    const std::string hostCode = vb::UCase(row.HSDC);
    const bool channel = !code.empty() && static_cast<unsigned char>(code.front()) >= 'Q';
    std::string& out = page;
    // Each cell is written straight into the page, a row being most of it.
    auto cell = [&](const auto& content) { writeCell(out, rowClass, "1", "Left", content); };
    auto text = [&](std::string_view content) { cell([&] { out += content; }); };

    out += "<input type='hidden' value='"sv;
    out += code;
    out += "' name='"sv;
    out += code;
    out += "DC'>"sv;
    cell([&] {
        out += "<input type='checkbox' "sv;
        if (row.Used) out += "checked"sv;
        out += " name='"sv;
        out += code;
        out += "Used'>"sv;
    });
    if (channel) {
        text(HtmlText::escape(devices.DeviceString(hostCode)));
    } else {
        switch (devices.DeviceStatus(code)) {
            case 2:
                text("ON");
                break;
            case 3:
                text("OFF");
                break;
            case 4:
                text("DIM " + std::to_string(devices.DeviceValue(code)));
                break;
            default:
                text("&nbsp;");
        }
    }
    text(HtmlText::escape(row.DCDisplay));
    cell([&] {
        out += "<input type='text' size='20' value='"sv;
        out += HtmlText::escape(row.Name);
        out += "' name='"sv;
        out += code;
        out += "Name'>"sv;
    });
    text(neverChanged(row.Changed) ? "&nbsp;" : FormatChangedTime(row.Changed));
    cell([&] {
        out += ControlPulldown(code);
        if (!channel) {
            out += "<input type ='text' name='"sv;
            out += code;
            out += "Value' value='' size='5'>"sv;
        }
    });
    out += "</tr><tr>"sv;
}

void StatusPage::AddSetup(std::string& page) {
    guarded("AddSetup", [&] {
        IniCache& ini = host().iniCache();
        const WebSettings& web = WebSettings::instance();
        page.append("<Table width='600' border='5' frame='box'><tr>");
        page.append(FormatCell("Page Content", "TABLEHEADER", "3", "Center"));
        page.append("</tr><tr>");
        page.append(FormatCell("<input type='checkbox' name ='ShowOnlyUsed' value='1'" +
                                   std::string(m_showOnlyUsed ? " checked " : " ") +
                                   ">&nbsp;Show Only Used",
                               "TABLEROWEVEN", "1", "Center"));
        page.append(FormatCell("<input type='checkbox' name ='IncludeX10' value='1'" +
                                   std::string(m_includeX10 ? " checked " : " ") +
                                   ">&nbsp;Include X10",
                               "TABLEROWEVEN", "1", "Center"));
        page.append(
            FormatCell("Ninja Move Increment&nbsp;<input type='text' name ='NinjaIncrement' "
                       "value='" +
                           std::to_string(web.NinjaIncrement) + "'" + "size='4'>",
                       "TABLEROWEVEN", "1", "Center"));
        page.append("</tr><tr>");
        page.append(FormatCell("HTTP / Browser", "TABLEHEADER", "3", "Center"));
        page.append("</tr><tr>");
        auto stored = [&](const char* key, const char* fallback) {
            return HtmlText::escape(vb::withoutQuotes(ini.GetINISetting("General", key, fallback)));
        };
        page.append(FormatCell(
            "HTTP Server Port<br><input type='text' size='4' value='" +
                stored("ServerPort", "8012") + "' name='ServerPort'>" +
                (m_portMessage.empty()
                     ? std::string()
                     : "<br><b id='portmessage'>" + HtmlText::escape(m_portMessage) + "</b>"),
            "TABLEROWODD", "1", "Center"));
        page.append(FormatCell("Browser Background<br><input type='text' size='8' value='" +
                                   stored("Background", "#000000") + "' name='Background'>",
                               "TABLEROWODD", "1", "Center"));
        page.append(FormatCell("Style Sheet<br><input type='text' size='18' value='" +
                                   stored("StyleSheet", "StyleNoBody.css") + "' name='StyleSheet'>",
                               "TABLEROWODD", "1", "Center"));
        page.append("</tr></table>");
        addMqttSetup(page);
    });
}

void StatusPage::addMqttSetup(std::string& page) {
    const MqttSettings mqtt = MqttSettings::read(host().iniCache());
    auto field = [&](const char* label, const char* name, const std::string& value,
                     const char* size, const char* type = "text") {
        return FormatCell(std::string(label) + "<br><input type='" + type + "' size='" + size +
                              "' value='" + HtmlText::escape(value) + "' name='" + name + "'>",
                          "TABLEROWODD", "1", "Center");
    };
    auto box = [&](const char* label, const char* name, bool checked) {
        return FormatCell(std::string("<input type='checkbox' name='") + name + "' value='1'" +
                              (checked ? " checked" : "") + ">&nbsp;" + label,
                          "TABLEROWEVEN", "1", "Center");
    };
    page.append("<Table width='600' border='5' frame='box'><tr>");
    // Tells a save that this form carries the MQTT fields: an unticked box
    // posts nothing, and a form without them must not switch anything off.
    page.append(
        FormatCell("MQTT (no broker while Host is empty)<input type='hidden' "
                   "name='MqttFields' value='1'>",
                   "TABLEHEADER", "3", "Center"));
    page.append("</tr><tr>");
    page.append(field("Broker Host", "MqttHost", mqtt.Host, "18"));
    page.append(field("Port", "MqttPort", std::to_string(mqtt.Port), "5"));
    page.append(field("Topic Prefix", "MqttPrefix", mqtt.Prefix, "12"));
    page.append("</tr><tr>");
    page.append(field("User", "MqttUser", mqtt.User, "12"));
    // The stored password is never sent to a browser; an empty field keeps it.
    page.append(field(mqtt.Password.empty() ? "Password" : "Password (set; empty keeps it)",
                      "MqttPassword", "", "12", "password"));
    page.append(field("CA File (TLS)", "MqttCAFile", mqtt.CAFile, "18"));
    page.append("</tr><tr>");
    page.append(box("TLS", "MqttTLS", mqtt.TLS));
    page.append(box("Discovery", "MqttDiscovery", mqtt.Discovery));
    page.append(field("Discovery Prefix", "MqttDiscoveryPrefix", mqtt.DiscoveryPrefix, "14"));
    page.append("</tr></table>");
}

void StatusPage::saveMqttSetup() {
    const Request& r = *m_request;
    if (r.Form("MqttFields").empty()) return;
    IniCache& ini = host().iniCache();
    const MqttSettings old = MqttSettings::read(ini);
    MqttSettings mqtt = old;
    mqtt.Host = vb::Trim(r.Form("MqttHost"));
    mqtt.Port = MqttSettings::portOf(r.Form("MqttPort"), old.Port);
    mqtt.User = r.Form("MqttUser");
    if (mqtt.User.empty())
        mqtt.Password.clear();
    else if (!r.Form("MqttPassword").empty())
        mqtt.Password = r.Form("MqttPassword");
    mqtt.TLS = !r.Form("MqttTLS").empty();
    mqtt.CAFile = vb::Trim(r.Form("MqttCAFile"));
    mqtt.Prefix = MqttSettings::prefixOf(r.Form("MqttPrefix"), old.Prefix);
    mqtt.Discovery = !r.Form("MqttDiscovery").empty();
    mqtt.DiscoveryPrefix =
        MqttSettings::prefixOf(r.Form("MqttDiscoveryPrefix"), old.DiscoveryPrefix);
    if (!(mqtt == old)) mqtt.write(ini);
}

std::string StatusPage::ControlPulldown(const std::string& code) const {
    return guarded("ControlPulldown", std::string{}, [&]() -> std::string {
        return "<select class='formdropdown' onChange='ClearSubmit(this);' name='" + code +
               "' size='1'>" + pulldownOptions(!code.empty() && code.front() == 'Q');
    });
}

std::string StatusPage::FormatCell(const std::string& content, const std::string& cls,
                                   const std::string& span, const std::string& align) const {
    std::string cell;
    appendCell(cell, content, cls, span, align);
    return cell;
}

void StatusPage::appendCell(std::string& out, std::string_view content, std::string_view cls,
                            std::string_view span, std::string_view align) const {
    writeCell(out, cls, span, align, [&] { out += content; });
}

const StatusPage::CellLook* StatusPage::openCell(std::string& out, std::string_view cls,
                                                 std::string_view span,
                                                 std::string_view align) const {
    const CellLook* look = nullptr;
    out += "<td "sv;
    if (m_styled) {
        const std::string upper = vb::UCase(cls);
        for (const CellLook& l : kLooks)
            if (upper == l.cls) look = &l;
        if (look != nullptr) {
            out += "bgcolor=\""sv;
            out += look->background;
            out += "\" "sv;
        }
    } else {
        out += "class=\""sv;
        out += cls;
        out += "\" "sv;
    }
    if (!span.empty()) {
        out += "colspan=\""sv;
        out += span;
        out += "\" "sv;
    }
    if (!align.empty()) {
        out += "align=\""sv;
        out += align;
        out += "\" "sv;
    }
    out += '>';
    if (look != nullptr) {
        out += "<font face=\"Verdana, Arial, sans-serif\" size=\"2\" color=\""sv;
        out += look->color;
        out += "\">"sv;
        if (look->bold) out += "<b>"sv;
    }
    return look;
}

void StatusPage::closeCell(std::string& out, const CellLook* look) const {
    if (look != nullptr) {
        if (look->bold) out += "</b>"sv;
        out += "</font>"sv;
    }
    out += "</td>"sv;
}

std::string StatusPage::FormatChangedTime(const QDateTime& t) const {
    if (t >= m_today) return "Today " + WebDates::longTime(t.time());
    if (t >= m_yesterday) return "Yesterday " + WebDates::longTime(t.time());
    return WebDates::generalDate(t);
}
