#include "web/Request.h"

#include <algorithm>

#include "base/Convert.h"
#include "xap/XapLog.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

size_t findIgnoringCase(std::string_view text, std::string_view what, size_t from) {
    if (what.size() > text.size()) return std::string_view::npos;
    for (size_t i = from; i + what.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < what.size() && vb::lowerChar(text[i + k]) == vb::lowerChar(what[k])) ++k;
        if (k == what.size()) return i;
    }
    return std::string_view::npos;
}

}  // namespace

std::string Request::Decode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '+') {
            out += ' ';
            continue;
        }
        if (c != '%') {
            out += c;
            continue;
        }
        // A missing character counts 0; a "+" after the "%" is a blank by now,
        // which is no digit either way.
        const int high = i + 1 < s.size() ? hexValue(s[i + 1]) : 0;
        const int low = i + 2 < s.size() ? hexValue(s[i + 2]) : 0;
        int code = 16 * high + low;
        if (code < 32) code = 32;
        out += static_cast<char>(static_cast<unsigned char>(code));
        i += std::min<size_t>(2, s.size() - i - 1);
    }
    return out;
}

void Request::addPairs(std::string_view text, OrderedDictionary<KeyValuePair>& target) {
    // Split first, decode each part after: an encoded "&", "=" or "+" is data.
    size_t start = 0;
    while (start <= text.size()) {
        size_t amp = text.find('&', start);
        if (amp == std::string_view::npos) amp = text.size();
        const std::string_view piece = text.substr(start, amp - start);
        if (!piece.empty()) {
            const size_t eq = piece.find('=');
            KeyValuePair pair;
            pair.Key = Decode(piece.substr(0, eq));
            if (eq != std::string_view::npos) {
                // A third part after a second "=" is dropped.
                std::string_view value = piece.substr(eq + 1);
                pair.Value = Decode(value.substr(0, value.find('=')));
            }
            const std::string key = pair.Key;
            target.Add(key, std::move(pair));
        }
        start = amp + 1;
    }
}

void Request::ParsePage(const std::string& sData) {
    guarded("ParsePage ", [&] {
        const size_t space = sData.find(' ');
        if (space == std::string::npos) return;
        const size_t http = findIgnoringCase(sData, "HTTP", space);
        if (http == std::string::npos) return;

        m_method = sData.substr(0, space);
        // The target ends one character (the separating blank) before "HTTP".
        const size_t targetLength = http >= space + 2 ? http - space - 2 : 0;
        const std::string_view target = std::string_view(sData).substr(space + 1, targetLength);
        // The query is split off before decoding, so an encoded "?" stays in the path.
        const size_t question = target.find('?');
        m_page = Decode(target.substr(0, question));
        if (question != std::string_view::npos) {
            const std::string_view rawQuery = target.substr(question + 1);
            m_query = "?" + Decode(rawQuery);
            addPairs(rawQuery, m_queryString);
        } else {
            m_query.clear();
        }

        m_payload.clear();
        const size_t blank = sData.find("\r\n\r\n", http);
        if (blank == std::string::npos) {
            m_header = sData.substr(http);
        } else {
            m_header = sData.substr(http, blank - http);
            const std::string_view body = std::string_view(sData).substr(blank + 4);
            if (body.size() > 2) {
                if (m_method == "POST") m_method = "POSTx";
                std::string joined;
                joined.reserve(body.size());
                for (size_t i = 0; i < body.size(); ++i) {
                    if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
                        ++i;
                        continue;
                    }
                    joined += body[i];
                }
                m_payload = Decode(joined);
                addPairs(joined, m_form);
            }
        }
        parseHeaderLines();
    });
}

void Request::parseHeaderLines() {
    const std::string_view text = m_header;
    size_t start = text.find("\r\n");
    size_t seen = 0;
    while (start != std::string_view::npos && seen < kMaxHeaders) {
        start += 2;
        size_t end = text.find("\r\n", start);
        const std::string_view line = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        ++seen;
        // Exactly one ": " makes a header; a value holding another is skipped.
        const size_t sep = line.find(": ");
        if (sep != std::string_view::npos && line.find(": ", sep + 2) == std::string_view::npos)
            m_headers.Add(line.substr(0, sep), std::string(line.substr(sep + 2)));
        start = end;
    }
}

void Request::AddPostData(const std::string& s) {
    guarded("AddPostData ", [&] { addPairs(s, m_form); });
}

std::string Request::Form(std::string_view sKey) const {
    const KeyValuePair* pair = m_form.find(sKey);
    return pair == nullptr ? std::string() : pair->Value;
}

std::string Request::QueryString(std::string_view sKey) const {
    const KeyValuePair* pair = m_queryString.find(sKey);
    return pair == nullptr ? std::string() : pair->Value;
}

std::string Request::ServerVariables(std::string_view sVar) const {
    const std::string name = vb::LCase(sVar);
    if (name == "remote_addr" || name == "remote_host") return m_remoteAddress;
    if (name == "auth_user" || name == "remote_user" || name == "logon_user") return m_authUser;
    const std::string* value = nullptr;
    if (name == "http_user_agent") {
        value = m_headers.find("User-Agent");
    } else if (name == "server_name") {
        value = m_headers.find("Host");
        // An IPv6 literal keeps its brackets and colons.
        if (value != nullptr)
            return value->substr(0,
                                 value->find(':', value->starts_with('[') ? value->find(']') : 0));
    } else {
        value = m_headers.find(sVar);
    }
    return value == nullptr ? std::string() : *value;
}
