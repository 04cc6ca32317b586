#include "web/HeaderFiles.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <system_error>
#include <unordered_map>
#include <vector>

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

// How a folder or a file stood when a text was read through it. Adding,
// removing or renaming an entry moves a folder's modification time; rewriting
// a file moves its time or size, replacing it its inode.
struct Stamp {
    std::string path;
    bool exists = false;
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    int64_t size = 0;
    uint64_t inode = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp stampOf(std::string path) {
    Stamp stamp;
    stamp.path = std::move(path);
    struct stat st {};
    if (::stat(stamp.path.c_str(), &st) == 0) {
        stamp.exists = true;
        stamp.seconds = st.st_mtim.tv_sec;
        stamp.nanoseconds = st.st_mtim.tv_nsec;
        stamp.size = st.st_size;
        stamp.inode = st.st_ino;
    }
    return stamp;
}

// A text read once, and what it was read through: each folder whose entries
// decided which name matched, and the file.
struct KnownFile {
    std::string text;
    std::vector<Stamp> stamps;
    bool checkedThisTurn = false;
};

KnownFile readFile(const std::string& path) {
    std::string relative = ProgramFolder::mapPath(path);
    while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
    std::vector<std::filesystem::path> folders;
    const auto file = ProgramFolder::resolveIgnoringCase(ProgramFolder::path(), relative, &folders);
    // Stamped before reading: a change made while reading shows as a changed
    // stamp next time, never as an old text kept for good.
    KnownFile known;
    for (const auto& folder : folders) known.stamps.push_back(stampOf(folder.string()));
    known.stamps.push_back(stampOf(file.string()));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        known.text = kNoFile;
        return known;
    }
    std::ifstream in(file, std::ios::binary);
    known.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (known.text.empty()) known.text = kNoFile;
    return known;
}

bool unchanged(const KnownFile& known, std::unordered_map<std::string, Stamp>& taken) {
    return std::all_of(known.stamps.begin(), known.stamps.end(), [&](const Stamp& s) {
        auto at = taken.find(s.path);
        if (at == taken.end()) at = taken.emplace(s.path, stampOf(s.path)).first;
        return at->second == s;
    });
}

// Every page asks for the same dozen files, most of them missing, and finding
// a name ignoring case scans folders. Texts are kept while the stamps they
// were read through hold, and the stamps are checked once per turn of the
// event loop (every time when there is no event loop).
struct FileCache {
    std::unordered_map<std::string, KnownFile> files;
    // The stamps taken in this turn: the files of a page share their folders,
    // which are looked at once.
    std::unordered_map<std::string, Stamp> stampsThisTurn;
    bool turnEndQueued = false;
};

// Names come from the page's own code and settings (a links file per level):
// a handful in practice; past this the cache starts over.
constexpr size_t kMaxFiles = 64;

FileCache& fileCache() {
    static FileCache cache;
    return cache;
}

const bool kFileCacheReset =
    ProcessState::registerReset("HeaderFiles", [] { fileCache() = FileCache(); });

void endOfTurn() {
    for (auto& entry : fileCache().files) entry.second.checkedThisTurn = false;
    fileCache().stampsThisTurn.clear();
    fileCache().turnEndQueued = false;
}

}  // namespace

std::string FileContents(const std::string& path) {
    return guarded("FileContents: ", std::string(kNoFile), [&]() -> std::string {
        FileCache& cache = fileCache();
        const std::string key = ProgramFolder::path() + '\n' + path;
        auto known = cache.files.find(key);
        // Without an event loop no turn ends, so nothing taken is kept.
        const bool turns = QCoreApplication::instance() != nullptr;
        std::unordered_map<std::string, Stamp> once;
        if (known != cache.files.end() && !known->second.checkedThisTurn &&
            !unchanged(known->second, turns ? cache.stampsThisTurn : once)) {
            cache.files.erase(known);
            known = cache.files.end();
        }
        if (known == cache.files.end()) {
            if (cache.files.size() >= kMaxFiles) cache.files.clear();
            known = cache.files.emplace(key, readFile(path)).first;
        }
        if (turns) {
            known->second.checkedThisTurn = true;
            if (!cache.turnEndQueued) {
                cache.turnEndQueued = true;
                QTimer::singleShot(0, endOfTurn);
            }
        }
        return known->second.text;
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
    // Every attribute value that starts at the root ("=/", "= '/", "=\"/") is
    // made to start at this server instead: the "=", the blanks and the quote
    // stay, the "/" becomes "http://<host>:<port>/".
    const std::string target = "http://" + host + ":" + port + "/";
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    std::string out;
    out.reserve(links.size() + links.size() / 8);
    size_t done = 0;
    for (size_t at = links.find('='); at != std::string::npos; at = links.find('=', at + 1)) {
        size_t slash = at + 1;
        while (slash < links.size() && blank(links[slash])) ++slash;
        if (slash < links.size() && (links[slash] == '"' || links[slash] == '\'')) ++slash;
        if (slash >= links.size() || links[slash] != '/') continue;
        out.append(links, done, slash - done);
        out += target;
        done = slash + 1;
        at = slash;
    }
    out.append(links, done, std::string::npos);
    return out;
}

}  // namespace HeaderFiles
