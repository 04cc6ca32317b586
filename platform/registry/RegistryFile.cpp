#include "registry/RegistryFile.h"

#include <cstdio>
#include <optional>

#include "base/Convert.h"

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

// Windows-1252 bytes 0x80 to 0x9F; the five unassigned ones map to the C1
// controls of the same number, as Windows itself converts them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t fromCp1252(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x80 && b <= 0x9F) ? kCp1252High[b - 0x80] : b;
}

char toCp1252(char32_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == u) return static_cast<char>(0x80 + i);
    return '?';
}

void appendUtf8(std::string& out, char32_t u) {
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

// A line of the file to single-byte text. Lines are UTF-8 as we write them; a
// line that is not valid UTF-8 was saved by an editor in the single-byte code
// page and is taken as it is.
std::string lineFromUtf8(std::string_view line) {
    std::string out;
    for (size_t i = 0; i < line.size();) {
        const auto b = static_cast<unsigned char>(line[i]);
        if (b < 0x80) {
            out += line[i++];
            continue;
        }
        const int extra = (b & 0xE0) == 0xC0   ? 1
                          : (b & 0xF0) == 0xE0 ? 2
                          : (b & 0xF8) == 0xF0 ? 3
                                               : -1;
        if (extra < 0) return std::string(line);
        char32_t u = b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= line.size()) return std::string(line);
            const auto c = static_cast<unsigned char>(line[i + k]);
            if ((c & 0xC0) != 0x80) return std::string(line);
            u = (u << 6) | (c & 0x3F);
        }
        out += toCp1252(u);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::string toUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) appendUtf8(out, fromCp1252(c));
    return out;
}

// Text types are UTF-16LE inside hex lists of version 5 files.
std::string widen(std::string_view ansi) {
    std::string out;
    for (char c : ansi) {
        const char32_t u = fromCp1252(c);
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

std::string narrow(std::string_view utf16) {
    std::string out;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2)
        out += toCp1252(static_cast<unsigned char>(utf16[i]) |
                        (static_cast<unsigned char>(utf16[i + 1]) << 8));
    return out;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

// The file's lines as single-byte text, whatever the file's encoding: UTF-16LE
// with its byte-order mark (as regedit exports), UTF-8 with or without one, or
// the single-byte code page.
std::vector<std::string> decodeLines(std::string_view raw) {
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
        static_cast<unsigned char>(raw[1]) == 0xFE) {
        return splitLines(narrow(raw.substr(2)));
    }
    if (raw.size() >= 3 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
    std::vector<std::string> lines = splitLines(raw);
    for (std::string& line : lines) line = lineFromUtf8(line);
    return lines;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hexadecimal number of 1 to maxDigits digits making up the whole text.
std::optional<uint32_t> parseHexNumber(std::string_view s, size_t maxDigits) {
    s = trimmed(s);
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return v;
}

// "01,02, 0a" to bytes; an empty list is no bytes, a trailing comma is allowed.
std::optional<std::string> parseHexBytes(std::string_view s) {
    std::string out;
    s = trimmed(s);
    while (!s.empty()) {
        const size_t comma = s.find(',');
        const auto byte = parseHexNumber(s.substr(0, comma), 2);
        if (!byte) return std::nullopt;
        out += static_cast<char>(*byte);
        if (comma == std::string_view::npos) break;
        s = trimmed(s.substr(comma + 1));
    }
    return out;
}

// A quoted text starting at s[pos]; pos ends after the closing quote. Only \\ and
// \" are escapes; any other backslash stays, so hand-written paths survive.
bool parseQuoted(std::string_view s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    for (++pos; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) ++pos;
        out += s[pos];
    }
    return false;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

bool isTextType(uint32_t type) {
    return type == RegistryValue::REG_SZ || type == RegistryValue::REG_EXPAND_SZ ||
           type == RegistryValue::REG_MULTI_SZ;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Regedit's wrapping: a line is broken after the comma that takes it past 76
// characters, and continues indented by two spaces.
void appendHexList(std::string& out, std::string line, std::string_view bytes) {
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
        line += buf;
        if (i + 1 == bytes.size()) break;
        line += ',';
        if (line.size() > 76) {
            out += line + "\\\n";
            line = "  ";
        }
    }
    out += line + '\n';
}

void appendValue(std::string& out, std::string_view name, const RegistryValue& v) {
    const std::string prefix = (name.empty() ? std::string("@") : quoted(name)) + '=';
    const std::string_view data = v.data;
    if (v.type == RegistryValue::REG_SZ && !data.empty() && data.find('\0') == data.size() - 1 &&
        !hasLineBreak(data)) {
        out += prefix + quoted(data.substr(0, data.size() - 1)) + '\n';
    } else if (v.type == RegistryValue::REG_DWORD && data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", RegistryFile::dwordOf(data));
        out += prefix + buf + '\n';
    } else if (v.type == RegistryValue::REG_BINARY) {
        appendHexList(out, prefix + "hex:", data);
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        appendHexList(out, prefix + buf, isTextType(v.type) ? widen(data) : std::string(data));
    }
}

// One key or value line (with its continuation lines, which advance index).
// Returns false for a line that is not understood; nothing is changed then.
bool applyLine(const std::vector<std::string>& lines, size_t& index, bool& keyOpen, bool unicodeHex,
               RegistryFile::Sink& tree) {
    std::string_view line = trimmed(lines[index]);
    if (line.front() == '[') {
        keyOpen = false;  // values after a bad key line must not land in the key before it
        if (line.back() != ']') return false;
        line = trimmed(line.substr(1, line.size() - 2));
        const bool remove = !line.empty() && line.front() == '-';
        if (remove) return tree.removeKey(trimmed(line.substr(1)));
        keyOpen = tree.openKey(line);
        return keyOpen;
    }
    // Checked before the value is parsed, so the continuation lines of a value
    // with no key are skipped one by one rather than joined.
    if (!keyOpen) return false;

    std::string name;
    size_t pos = 0;
    if (line.front() == '@') {
        pos = 1;
    } else if (!parseQuoted(line, pos, name)) {
        return false;
    }
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return false;
    std::string_view data = trimmed(line.substr(pos + 1));
    if (data.empty()) return false;

    std::string joined;  // a hex list continued over several lines
    if (data.size() >= 3 && vb::equalsIgnoreCase(data.substr(0, 3), "hex") && data.back() == '\\') {
        joined = std::string(data);
        while (!joined.empty() && joined.back() == '\\' && index + 1 < lines.size()) {
            joined.pop_back();
            joined += trimmed(lines[++index]);
        }
        data = joined;
    }

    RegistryValue value;
    if (data == "-") {
        tree.removeValue(name);
        return true;
    } else if (data.front() == '"') {
        size_t p = 0;
        std::string text;
        if (!parseQuoted(data, p, text) || !trimmed(data.substr(p)).empty()) return false;
        value = {RegistryValue::REG_SZ, text + '\0'};
    } else if (data.size() >= 6 && vb::equalsIgnoreCase(data.substr(0, 6), "dword:")) {
        const auto n = parseHexNumber(data.substr(6), 8);
        if (!n) return false;
        value = {RegistryValue::REG_DWORD, RegistryFile::dwordData(*n)};
    } else if (data.size() >= 4 && vb::equalsIgnoreCase(data.substr(0, 4), "hex:")) {
        const auto bytes = parseHexBytes(data.substr(4));
        if (!bytes) return false;
        value = {RegistryValue::REG_BINARY, *bytes};
    } else if (data.size() >= 4 && vb::equalsIgnoreCase(data.substr(0, 4), "hex(")) {
        const size_t close = data.find("):");
        if (close == std::string_view::npos) return false;
        const auto type = parseHexNumber(data.substr(4, close - 4), 8);
        const auto bytes = parseHexBytes(data.substr(close + 2));
        if (!type || !bytes) return false;
        value = {*type, isTextType(*type) && unicodeHex ? narrow(*bytes) : *bytes};
    } else {
        return false;
    }
    tree.setValue(name, std::move(value));
    return true;
}

}  // namespace

std::vector<std::string> RegistryFile::read(std::string_view fileBytes, Sink& tree) {
    std::vector<std::string> skipped;
    const std::vector<std::string> lines = decodeLines(fileBytes);
    bool keyOpen = false;
    bool unicodeHex = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trimmed(lines[i]);
        if (line.empty() || line.front() == ';') continue;
        if (line == kHeader5 || line == kHeader4) {
            unicodeHex = line == kHeader5;
            continue;
        }
        const size_t first = i;
        if (!applyLine(lines, i, keyOpen, unicodeHex, tree))
            skipped.push_back("line " + std::to_string(first + 1) + ": " + std::string(line));
    }
    return skipped;
}

bool RegistryFile::canHoldName(std::string_view name) {
    return !hasLineBreak(name);
}

RegistryFile::RegistryFile() : m_text(std::string(kHeader5) + "\n\n") {}

void RegistryFile::addKey(std::string_view keyPath,
                          const OrderedDictionary<RegistryValue>& values) {
    m_text += '[';
    m_text += keyPath;
    m_text += "]\n";
    for (const auto& [name, value] : values) appendValue(m_text, name, value);
    m_text += '\n';
}

std::string RegistryFile::bytes() const {
    return toUtf8(m_text);
}

std::string RegistryFile::dwordData(uint32_t n) {
    std::string data;
    for (int i = 0; i < 4; ++i) data += static_cast<char>((n >> (8 * i)) & 0xFF);
    return data;
}

uint32_t RegistryFile::dwordOf(std::string_view data) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(data[i]);
    return n;
}
