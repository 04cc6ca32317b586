#include "web/HeaderFiles.h"

#include <QCoreApplication>
#include <QTimer>
#include <fstream>
#include <regex>
#include <system_error>
#include <unordered_map>

#include "base/Convert.h"
#include "base/ProcessState.h"
#include "base/ProgramFolder.h"
#include "host/IniCache.h"
#include "web/HtmlText.h"
#include "web/Request.h"
#include "xap/XapLog.h"

namespace HeaderFiles {

namespace {

std::string weather(IniCache& ini, const std::string& section, const std::string& key) {
    return ini.GetINISetting(section, key, "", "WeatherData.ini");
}

std::string readFile(const std::string& path) {
    std::string relative = ProgramFolder::mapPath(path);
    while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
    const auto file = ProgramFolder::resolveIgnoringCase(ProgramFolder::path(), relative);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return kNoFile;
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.empty() ? kNoFile : text;
}

// The files read during the current turn of the event loop, by the name asked
// for. Finding a name ignoring case scans folders, and the header asks for the
// same files for every page of a burst.
struct TurnFiles {
    std::unordered_map<std::string, std::string> texts;
    bool clearQueued = false;
};

TurnFiles& turnFiles() {
    static TurnFiles files;
    return files;
}

const bool kTurnFilesReset = ProcessState::registerReset("HeaderFiles", [] {
    turnFiles().texts.clear();
});

}  // namespace

std::string FileContents(const std::string& path) {
    return guarded("FileContents: ", std::string(kNoFile), [&]() -> std::string {
        // Without an event loop there is no turn to end: every call reads.
        if (QCoreApplication::instance() == nullptr) return readFile(path);
        TurnFiles& files = turnFiles();
        if (const auto known = files.texts.find(path); known != files.texts.end())
            return known->second;
        std::string text = readFile(path);
        files.texts.emplace(path, text);
        if (!files.clearQueued) {
            files.clearQueued = true;
            QTimer::singleShot(0, [] {
                turnFiles().texts.clear();
                turnFiles().clearQueued = false;
            });
        }
        return text;
    });
}

std::string LinkFile(int level, bool styled) {
    return guarded("LinkFile: ", std::string(kNoFile), [&]() -> std::string {
        const std::string touch = styled ? "_touchscreen" : "";
        if (level <= 0) return FileContents("\\html\\brindlehub\\links" + touch + ".htm");
        return FileContents("\\html\\links" + std::to_string(level) + touch + ".htm");
    });
}

std::string scriptString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        // "</" would end the script element the string stands in.
        if (c == '/' && !out.empty() && out.back() == '<') out += '\\';
        if (c != '\r' && c != '\n') out += c;
    }
    return out + "\"";
}

std::string StripHTML(const std::string& text) {
    return HtmlText::stripTags(text);
}

std::string GetServerIP(const Request& request) {
    return guarded("GetServerIP", std::string{}, [&]() -> std::string {
        std::string host = request.ServerVariables("Host");
        if (host.empty()) {
            // "http://name:port/page" gives "name:port".
            host = request.ServerVariables("Referer");
            const size_t scheme = host.find("://");
            if (scheme != std::string::npos) host.erase(0, scheme + 3);
            host = host.substr(0, host.find('/'));
        }
        // An IPv6 literal keeps its brackets and colons.
        const size_t colon = host.rfind(':');
        if (colon != std::string::npos && host.find(']', colon) == std::string::npos)
            host.erase(colon);
        return HtmlText::escape(vb::Trim(host));
    });
}

std::string fnPageName(const Request& request) {
    return guarded("fnPageName: ", std::string{}, [&]() -> std::string {
        const std::string& page = request.page();
        const size_t slash = page.find_last_of("/\\");
        return slash == std::string::npos ? page : page.substr(slash + 1);
    });
}

long NumericHSVersion() {
    return BRINDLE_VERSION_MAJOR * 10000L + BRINDLE_VERSION_MINOR * 100L + BRINDLE_VERSION_PATCH;
}

std::string PageScroll(const std::string& mode, IniCache& ini) {
    return guarded("PageScroll: ", std::string{}, [&]() -> std::string {
        std::string script = FileContents("\\html\\javascript\\page_scroll.js");
        if (script == kNoFile) return {};
        const std::string lines =
            vb::equalsIgnoreCase(mode, "Weatherman") ? PageScrollWeatherman(ini) : std::string();
        const std::string mark = "(******REPLACE_PAGESCROLL******)";
        for (size_t at; (at = script.find(mark)) != std::string::npos;)
            script.replace(at, mark.size(), lines);
        return "<script type=\"text/javascript\">\r\n" + script + "\r\n</script>\r\n";
    });
}

std::string PageScrollWeatherman(IniCache& ini) {
    std::string lines;
    guarded("PageScrollWeatherman: ", [&] {
        const std::string now = "Now: " + weather(ini, "WeatherCom_CurrentData", "Temperature") +
                                " " + weather(ini, "WeatherCom_CurrentData", "Conditions");
        const std::string range = "High " + weather(ini, "AccuWeather_HighLowData", "High") +
                                  " / Low " + weather(ini, "AccuWeather_HighLowData", "Low");
        const std::string texts[] = {now, range, weather(ini, "WeatherCom_ExtForecast", "Day1"),
                                     weather(ini, "WeatherCom_ExtForecast", "Day2")};
        for (int i = 0; i < 4; ++i)
            lines += "wcontent[" + std::to_string(i) + "]=" + scriptString(texts[i]) + ";\r\n";
    });
    return lines;
}

std::string Temperature(IniCache& ini) {
    return vb::Trim(weather(ini, "WeatherCom_CurrentData", "Temperature"));
}

std::string ownLinks(const std::string& host, const std::string& port) {
    std::string links = FileContents("\\html\\brindlehub\\brindlehub_links.htm");
    if (links == kNoFile) return {};
    static const std::regex attribute(R"((=\s*["']?)/)");
    std::string target = "$1http://";
    // "$" would read as a group reference in the replacement.
    for (char c : host + ":" + port + "/")
        target += c == '$' ? std::string("$$") : std::string(1, c);
    return std::regex_replace(links, attribute, target);
}

}  // namespace HeaderFiles
