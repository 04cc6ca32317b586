#include "xap-hub/XapHeader.h"

#include <cctype>

namespace {

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A plain decimal of at most nine digits, so it cannot overflow; -1 otherwise.
int decimal(std::string_view s) {
    if (s.empty() || s.size() > 9) return -1;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Hands out the text line by line (split at LF); false once it is used up.
class Lines {
public:
    explicit Lines(std::string_view text) : m_rest(text) {}
    bool next(std::string_view& line) {
        if (m_done) return false;
        const size_t lf = m_rest.find('\n');
        if (lf == std::string_view::npos) {
            line = m_rest;
            m_done = true;
        } else {
            line = m_rest.substr(0, lf);
            m_rest.remove_prefix(lf + 1);
        }
        return true;
    }

private:
    std::string_view m_rest;
    bool m_done = false;
};

}  // namespace

std::optional<XapHeader> XapHeader::parse(std::string_view text) {
    Lines lines(text);
    std::string_view line;
    if (!lines.next(line)) return std::nullopt;
    XapHeader h;
    h.name = lower(trim(line));
    if (h.name != "xap-header" && h.name != "xap-hbeat") return std::nullopt;
    if (!lines.next(line) || trim(line) != "{") return std::nullopt;

    bool seenClass = false, seenSource = false, seenTarget = false, seenUid = false;
    bool seenPort = false, seenInterval = false;
    while (lines.next(line)) {
        line = trim(line);
        if (line == "}") return h;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string key = lower(trim(line.substr(0, eq)));
        const std::string_view value = trim(line.substr(eq + 1));
        auto take = [&](bool& seen, std::string& field) {
            if (!seen) field = std::string(value);
            seen = true;
        };
        if (key == "class") {
            take(seenClass, h.msgClass);
        } else if (key == "source") {
            take(seenSource, h.source);
        } else if (key == "target") {
            take(seenTarget, h.target);
        } else if (key == "uid") {
            take(seenUid, h.uid);
        } else if (key == "port" && !seenPort) {
            seenPort = true;
            const int n = decimal(value);
            h.port = n >= 1 && n <= 65535 ? n : 0;
        } else if (key == "interval" && !seenInterval) {
            seenInterval = true;
            const int n = decimal(value);
            h.interval = n >= 1 ? n : 0;
        }
    }
    // No closing brace: a cut-off text is not a header.
    return std::nullopt;
}
