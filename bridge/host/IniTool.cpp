#include "host/IniTool.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string_view>
#include <system_error>
#include <vector>

#include <QtGlobal>

#include "base/AtomicFile.h"
#include "base/Convert.h"
#include "base/Err.h"
#include "base/RuntimeError.h"
#include "host/Application.h"
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

// Case-insensitive matching folds letters as the dictionary does (Windows-1252),
// so Keys finds the same sections that Read finds, accented names included.
struct CodePageRegexTraits : std::regex_traits<char> {
    char translate_nocase(char c) const { return vb::lowerChar(c); }
};
using SectionPattern = std::basic_regex<char, CodePageRegexTraits>;

// libstdc++ matches by backtracking unless asked otherwise: a pattern such as
// "(a*)*b" then takes exponential time, and ".*" recurses once per character
// of a long key until the stack runs out. Polynomial mode matches in bounded
// time and stack; it rejects back-references, which then list no keys.
constexpr std::regex_constants::syntax_option_type kPatternOptions =
    std::regex_constants::ECMAScript | std::regex_constants::icase
#ifdef __GLIBCXX__
    | std::regex_constants::__polynomial
#endif
    ;

bool hasPatternCharacters(std::string_view s) {
    return s.find_first_of("^$\\.*+?()[]{}|") != std::string_view::npos;
}

// The largest a section pattern may grow once its repeats are written out
// (roughly the states of the automaton the regex compiler builds). Building
// and running that automaton costs in proportion, and every listing does both:
// "(.?){20000}" would take seconds per listing. Names people give sections
// stay far below this. Any larger pattern lists no keys, as an invalid one does.
//
// It also keeps numbers the compiler reads (repeat counts, back-reference
// numbers) small: it reads them into a fixed-size integer with no overflow
// check, so a long run of digits would be undefined behaviour there.
constexpr size_t kMaxPatternSize = 1000;

// How deeply groups may nest. The regex compiler, and the matcher after it,
// descend once per group on the calling thread's stack, so a name of a few
// thousand "(" would overflow it however small the pattern is otherwise.
constexpr size_t kMaxGroupDepth = 64;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the digits at pos, moving pos past them; anything above
// kMaxPatternSize reads as kMaxPatternSize + 1.
size_t readNumber(std::string_view s, size_t& pos) {
    size_t value = 0;
    for (; pos < s.size() && isDigit(s[pos]); ++pos)
        value = std::min(value * 10 + static_cast<size_t>(s[pos] - '0'), kMaxPatternSize + 1);
    return value;
}

// Whether an ECMAScript pattern grows beyond kMaxPatternSize once its repeats
// are written out. It follows the regex compiler's reading closely enough to
// know where numbers stand: digits inside a bracket expression or after an
// escaped brace are plain characters, while a count in "{m,n}" or a
// back-reference "\\n" is a number.
bool patternTooLarge(std::string_view s) {
    // The size of the sequence being read, the size of its last item (what a
    // repeat applies to), and the sizes of the sequences around each open group.
    size_t size = 0;
    size_t last = 0;
    std::vector<size_t> outer;
    // The sizes of all the enclosing sequences together: the compiler's
    // descent through a sequence is as deep as the items before it.
    size_t enclosing = 0;
    bool inBracket = false;
    size_t pos = 0;
    const auto add = [&](size_t item) {
        size += item;
        last = item;
    };
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '\\') {
            if (pos >= s.size()) return false;
            const char e = s[pos];
            if (e >= '1' && e <= '9') {
                if (readNumber(s, pos) > kMaxPatternSize) return true;
            } else {
                ++pos;
                if (e == 'c') ++pos;  // "\\cX" takes one more character
            }
            if (!inBracket) add(1);
        } else if (inBracket) {
            if (c == ']') {
                inBracket = false;
            } else if (c == '[' && pos < s.size() &&
                       (s[pos] == '.' || s[pos] == ':' || s[pos] == '=')) {
                // A class name such as "[:alpha:]" runs to its own closing pair.
                const size_t end = s.find(std::string{s[pos], ']'}, pos + 1);
                if (end == std::string_view::npos) return false;
                pos = end + 2;
            }
        } else if (c == '[') {
            inBracket = true;
            if (pos < s.size() && s[pos] == '^') ++pos;
            add(1);
        } else if (c == '(') {
            if (outer.size() >= kMaxGroupDepth) return true;
            outer.push_back(size);
            enclosing += size;
            size = 0;
        } else if (c == ')' && !outer.empty()) {
            const size_t group = size + 2;
            size = outer.back();
            enclosing -= size;
            outer.pop_back();
            add(group);
        } else if (c == '{') {
            size_t count = 0;
            while (pos < s.size() && s[pos] != '}') {
                if (isDigit(s[pos]))
                    count = std::max(count, readNumber(s, pos));
                else
                    ++pos;
            }
            if (count > kMaxPatternSize) return true;
            // Each repeat is a copy of the item, plus a state to loop or skip.
            const size_t repeated = last * (count + 1);
            size += repeated - last;
            last = repeated;
        } else if (c == '*' || c == '+' || c == '?') {
            // Repeats may follow one another, each applying to all before it.
            ++size;
            ++last;
        } else {
            add(1);
        }
        if (enclosing + size > kMaxPatternSize) return true;
    }
    return false;
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
    try {
        // The section name goes into the pattern unescaped: callers have always
        // been able to pass a pattern here. The escaped separator keeps a name
        // that ends in a backslash matching itself.
        std::optional<SectionPattern> re;
        if (hasPatternCharacters(header)) {
            std::string pattern = "^" + header + "\\";
            pattern.push_back(kSep);
            if (patternTooLarge(pattern))
                throw std::regex_error(std::regex_constants::error_complexity);
            re.emplace(pattern, kPatternOptions);
        }
        for (const auto& entry : m_dict) {
            const std::string& key = entry.first;
            const bool inSection =
                re ? std::regex_search(key, *re, std::regex_constants::match_continuous)
                   : startsWithSection(key, header);
            if (!inSection) continue;
            std::string name = key.substr(key.find(kSep) + 1);
            if (vb::Trim(name).empty()) continue;
            list += name;
            list.push_back(kSep);
        }
    } catch (const std::regex_error&) {
        // A section name that is not a valid pattern ("a[") names no section
        // that can be listed: no keys, rather than a fault in every caller.
        list.clear();
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
