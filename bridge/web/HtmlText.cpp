#include "web/HtmlText.h"

#include <QString>
#include <QUtf8StringView>

namespace HtmlText {

namespace {

// The characters Windows-1252 puts at 0x80 to 0x9F (0 where it has none).
constexpr char16_t kHigh1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string toUtf8(std::string_view text) {
    if (QUtf8StringView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8())
        return std::string(text);
    QString wide;
    wide.reserve(static_cast<qsizetype>(text.size()));
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        const char16_t u = b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : b;
        wide += QChar(u == 0 ? u'\uFFFD' : u);
    }
    return wide.toUtf8().toStdString();
}

std::string escape(std::string_view raw) {
    const std::string text = toUtf8(raw);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string stripTags(std::string_view text) {
    std::string out;
    bool inTag = false;
    for (char c : text) {
        if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        else if (!inTag)
            out += c;
    }
    for (size_t at; (at = out.find("&nbsp;")) != std::string::npos;) out.erase(at, 6);
    return out;
}

}  // namespace HtmlText
