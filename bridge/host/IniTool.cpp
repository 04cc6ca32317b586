#include "host/IniTool.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include <QtGlobal>

#include "base/AtomicFile.h"
#include "base/Convert.h"
#include "base/Err.h"
#include "base/RuntimeError.h"
#include "host/Application.h"
#include "host/SectionPattern.h"
#include "xap/XapLog.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSep = '\x03';
// Widths of the columns of the sort table the file was once written from.
// Longer names are written all the same (one error-log line each): failing the
// whole save for one odd name would lose every other change.
constexpr size_t kMaxHeaderLength = 100;
constexpr size_t kMaxKeyLength = 65;

// A line end inside a name or value would start a new line of the file.
std::string withoutLineEnds(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

// Whether a key, written as "key=value", would read back as something else: a
// comment, a section header, or another key.
bool keyReadsBackAsSomethingElse(const std::string& key, const std::string& value) {
    if (key.find('=') != std::string::npos) return true;
    const std::string line = vb::Trim(key + "=" + value);
    return line.front() == ';' || (line.front() == '[' && line.back() == ']');
}

bool hasPatternCharacters(std::string_view s) {
    return s.find_first_of("^$\\.*+?()[]{}|") != std::string_view::npos;
}

// Whether a dictionary key is a value entry of the named section, for names
// that hold no pattern characters: the same answer the pattern gives, without
// building one.
bool startsWithSection(std::string_view key, std::string_view header) {
    return key.size() > header.size() && key[header.size()] == kSep &&
           vb::equalsIgnoreCase(key.substr(0, header.size()), header);
}

std::string valueKey(const std::string& header, const std::string& key) {
    std::string k;
    k.reserve(header.size() + 1 + key.size());
    k.append(header);
    k.push_back(kSep);
    k.append(key);
    return k;
}

// Listing results travel as one separator-joined text, as they always have:
// a single name (or none) gives a one-element list, and only a text that still
// holds a separator after dropping the final one is split.
std::vector<std::string> splitList(std::string list) {
    if (!list.empty()) list.pop_back();
    return vb::Split(list, kSep);
}

std::string readWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) raiseError(75, "Path/File access error: " + file.string() + ": cannot open");
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) raiseError(75, "Path/File access error: " + file.string() + ": read failed");
    return text;
}

}  // namespace

void IniTool::Load(const std::string& fPath) {
    m_dict.RemoveAll();
    m_path = fPath;
    std::error_code ec;
    // Anything that is not a file (a folder, nothing at all) loads as empty;
    // Save reports it if it is ever asked to write there.
    if (!fs::is_regular_file(fPath, ec)) return;
    LoadText(readWholeFile(fPath));
}

void IniTool::LoadText(std::string_view all) {
    m_dict.RemoveAll();
    // Some editors start a UTF-8 file with a byte-order mark; it would hide the
    // first section header.
    if (all.substr(0, 3) == "\xEF\xBB\xBF") all.remove_prefix(3);
    std::string section;
    size_t pos = 0;
    while (pos < all.size()) {
        const size_t nl = all.find('\n', pos);
        std::string_view raw =
            nl == std::string_view::npos ? all.substr(pos) : all.substr(pos, nl - pos);
        pos = nl == std::string_view::npos ? all.size() : nl + 1;
        // Files edited on Windows end their lines in CR LF; the CR must not end
        // up in a key or value.
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        const std::string line = vb::Trim(raw);
        if (line.empty() || line.front() == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            m_dict.Add(section, section);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            if (Application::instance() != nullptr)
                LogEvent("IniTool", " Equal sign not found on line " + line);
            continue;
        }
        // Add keeps the first occurrence of a key; later duplicates are ignored.
        m_dict.Add(valueKey(section, line.substr(0, eq)), line.substr(eq + 1));
    }
}

void IniTool::DumpHashTable() {}

std::string IniTool::Read(const std::string& header, const std::string& Key,
                          const std::string& defaultvalue) const {
    const std::string* value = m_dict.find(valueKey(header, Key));
    return value == nullptr || value->empty() ? defaultvalue : *value;
}

void IniTool::WriteKey(const std::string& header, const std::string& Key,
                       const std::string& newValue) {
    const std::string section = withoutLineEnds(header);
    const std::string key = withoutLineEnds(Key);
    const std::string value = withoutLineEnds(newValue);
    if (keyReadsBackAsSomethingElse(key, value)) {
        LogError("IniTool", "WriteKey refused key " + key + " in section " + section + " of " +
                                m_path + ": it would not read back as written");
        raiseError(RuntimeError::kInvalidCall, "Invalid key name: " + key);
    }
    m_dict.Add(section, section);
    m_dict.Set(valueKey(section, key), value);
}

void IniTool::RemoveKey(const std::string& header, const std::string& Key) {
    m_dict.Remove(valueKey(header, Key));
}

void IniTool::RemoveSection(const std::string& header) {
    for (const std::string& name : Keys(header)) RemoveKey(header, name);
}

std::vector<std::string> IniTool::Headers() const {
    std::string list;
    for (const auto& [key, value] : m_dict) {
        if (!vb::equalsIgnoreCase(key, value)) continue;
        list += value;
        list.push_back(kSep);
    }
    return splitList(std::move(list));
}

std::vector<std::string> IniTool::Keys(const std::string& header) const {
    std::string list;
    // The section name goes into the pattern unescaped: callers have always
    // been able to pass a pattern here. The escaped separator keeps a name that
    // ends in a backslash matching itself.
    std::optional<SectionPattern> pattern;
    if (hasPatternCharacters(header)) {
        std::string text = "^" + header + "\\";
        text.push_back(kSep);
        pattern.emplace(text);
        // A section name that is not a valid pattern ("a[") names no section
        // that can be listed: no keys, rather than a fault in every caller.
        if (!pattern->valid()) return splitList(std::move(list));
    }
    for (const auto& entry : m_dict) {
        const std::string& key = entry.first;
        const bool inSection =
            pattern ? pattern->matchesStart(key) : startsWithSection(key, header);
        if (!inSection) continue;
        std::string name = key.substr(key.find(kSep) + 1);
        if (vb::Trim(name).empty()) continue;
        list += name;
        list.push_back(kSep);
    }
    return splitList(std::move(list));
}

void IniTool::Clear() {
    m_dict.RemoveAll();
}

void IniTool::Save() {
    try {
        struct Row {
            std::string header;
            std::string key;
            std::string headerSort;
            const std::string* value;
        };
        std::vector<Row> rows;
        for (const auto& [dictKey, value] : m_dict) {
            if (value == dictKey) continue;
            const size_t sep = dictKey.find(kSep);
            if (sep == std::string::npos) continue;
            Row row{dictKey.substr(0, sep), dictKey.substr(sep + 1), {}, &value};
            if (row.header.size() > kMaxHeaderLength || row.key.size() > kMaxKeyLength)
                LogError("IniTool",
                         "Save " + m_path + ": long name kept: [" + row.header + "] " + row.key);
            row.headerSort = vb::UCase(row.header);
            rows.push_back(std::move(row));
        }

        // Collation: both columns compare ignoring case (Windows-1252 folding, then
        // byte order), so "_" sorts before letters in sections and keys alike.
        // Keys that differ only in case fall back to exact byte order, which makes
        // the written file the same for the same store every time.
        std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            if (const int c = vb::compareIgnoreCase(a.headerSort, b.headerSort); c != 0)
                return c < 0;
            if (const int c = vb::compareIgnoreCase(a.key, b.key); c != 0) return c < 0;
            return a.key < b.key;
        });

        // Keys of the nameless section come first and stay without a header line,
        // so they load back into the nameless section.
        std::string text;
        std::string previousHeader;
        for (const Row& row : rows) {
            if (row.headerSort != previousHeader) {
                text += "[" + row.headerSort + "]\n";
                previousHeader = row.headerSort;
            }
            text += row.key + "=" + *row.value + "\n";
        }

        // The whole text is ready before anything on disk changes; the backup and
        // the file are each replaced atomically, so a failure at any point leaves
        // the previous file in place.
        std::error_code ec;
        if (fs::is_regular_file(m_path, ec))
            writeFileAtomically(m_path + "_bck", readWholeFile(m_path));
        writeFileAtomically(m_path, text);
    } catch (...) {
        // The error log and standard error still work when the transport has
        // closed at exit, so a lost save is never silent.
        Err::capture();
        qWarning("saving %s failed: %s", m_path.c_str(), Err::Description().c_str());
        LogError("IniTool", "Save " + m_path + " failed");
        if (Application::instance() != nullptr) LogFault("IniTool Save " + m_path);
    }
}
