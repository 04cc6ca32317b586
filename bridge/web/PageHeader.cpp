#include "web/PageHeader.h"

#include "base/Convert.h"
#include "host/Application.h"
#include "web/HtmlText.h"
#include "web/Request.h"
#include "xap/FastString.h"
#include "xap/XapLog.h"

namespace {

std::string parameter(const std::vector<std::string>& p, size_t i) {
    return i < p.size() ? p[i] : std::string();
}

std::string setting(const std::string& key) {
    Application* hs = Application::instance();
    return hs == nullptr ? std::string() : hs->iniCache().GetINISetting("Settings", key, "");
}

}  // namespace

bool PageHeader::xStartHeaderASP(const Request& request) {
    try {
        const std::string agent = request.ServerVariables("HTTP_USER_AGENT");
        if (agent.find("Audrey") != std::string::npos || agent.find("QNX") != std::string::npos)
            return true;
        const std::string address = request.ServerVariables("REMOTE_ADDR");
        const std::string list = setting("touchscreenips");
        size_t start = 0;
        while (!address.empty() && start <= list.size()) {
            size_t comma = list.find(',', start);
            if (comma == std::string::npos) comma = list.size();
            if (list.compare(start, comma - start, address) == 0) return true;
            start = comma + 1;
        }
    } catch (...) {
        LogFault("xStartHeaderASP ");
    }
    return false;
}

std::string PageHeader::CustomHeader(const std::vector<std::string>& parameters, bool styled) {
    FastString h;
    try {
        const std::string title = parameter(parameters, 0);
        const std::string background = parameter(parameters, 2);
        const std::string styleSheet = parameter(parameters, 4);
        if (parameter(parameters, 3).empty()) h.Add("<html><head>");
        h.Add("<title>" + title + " - " + HtmlText::stripTags(setting("gWebPageTitle")) +
              "</title>");
        h.Add("<link rel=\"stylesheet\" type=\"text/css\" href=\"/brindlehub/" +
              HtmlText::escape(styleSheet.empty() ? "styleNoBody.css" : styleSheet) + "\">");
        h.Add("<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\">");
        h.Add("<meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">");
        h.Add("</head>\r\n");
        if (background.empty())
            h.Add("<body>");
        else if (styled)
            h.Add("<body bgcolor=\"" + HtmlText::escape(background) + "\">");
        else
            h.Add("<body style=\" background-color: " + HtmlText::escape(background) + ";\">");
        h.Add("\r\n");
        h.Add(
            "<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\" "
            "summary=\"Logo Bar\">");
        h.Add(
            "<tr class=\"logobar\"><td align=\"right\"><a href=\"/status\" target=\"_top\">"
            "<img src=\"" +
            std::string(kLogo) +
            "\" width=\"133\" height=\"25\" border=\"0\" alt=\"Link to Status\"></a></td></tr>");
        h.Add("<tr><td class=\"pagetitle\" colspan=\"1\">" +
              (styled ? "<center><b>" + title + "</b></center>" : title) + "</td></tr>");
        h.Add("</table>");
        h.Add("<a name=\"pagecontent\"></a>");
    } catch (...) {
        LogFault(" CustomHeader: ");
    }
    return h.Value();
}
