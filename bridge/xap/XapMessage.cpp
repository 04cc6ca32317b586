#include "xap/XapMessage.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

#include "base/Convert.h"
#include "base/Err.h"
#include "base/RuntimeError.h"
#include "xap/XapLog.h"

namespace {

const std::string kUnknown = "Unknown";

// What a keyed collection reports when a key is added twice.
constexpr int kKeyAlreadyExists = 457;
const std::string kKeyAlreadyExistsText =
    "This key is already associated with an element of this collection";

std::string& headerPrefixStorage() {
    static std::string prefix = "xap-header\n{\nv=12\nhop=1\nuid=";
    return prefix;
}

// Splits at LF only, so a CR stays at the end of its line; a text ending in
// LF has an empty last line.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
}

// The parts of an address before any sub-address, lower-cased. An empty text
// still counts as one (empty) part, so ">" and "*" match it.
std::vector<std::string> addressParts(const std::string& address) {
    const std::string lowered = vb::LCase(std::string_view(address).substr(0, address.find(':')));
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = lowered.find('.', start);
        if (dot == std::string::npos) {
            parts.push_back(lowered.substr(start));
            return parts;
        }
        parts.push_back(lowered.substr(start, dot - start));
        start = dot + 1;
    }
}

}  // namespace

const std::string& XapMessage::headerPrefix() {
    return headerPrefixStorage();
}

void XapMessage::setHeaderPrefix(std::string prefix) {
    headerPrefixStorage() = std::move(prefix);
}

int XapMessage::Init(const std::string& /*sMessage*/) {
    m_output.Reset();
    return 0;
}

void XapMessage::Reset() {}

int XapMessage::AddHeader() {
    m_output.Add(headerPrefix());
    m_output.Add(MsgUID);
    m_output.Add("\nclass=");
    m_output.Add(MsgClass);
    m_output.Add("\nsource=");
    m_output.Add(msgSource);
    // An empty target means a broadcast to everyone; "Unknown" is written as is.
    if (!MsgTarget.empty()) {
        m_output.Add("\ntarget=");
        m_output.Add(MsgTarget);
    }
    m_output.Add("\n}\n");
    m_blockOpen = false;
    return 0;
}

void XapMessage::AddSection(const std::string& sSection) {
    if (m_blockOpen) m_output.Add("}\n");
    m_output.Add(sSection);
    m_output.Add("\n{\n");
    m_blockOpen = true;
}

void XapMessage::AddItem(const std::string& /*sSection*/, const std::string& sItem,
                         const std::string& sValue) {
    m_output.Add(sItem);
    m_output.Add("=");
    m_output.Add(sValue);
    m_output.Add("\n");
}

std::string XapMessage::ToXap() {
    return m_output.Value() + "}\n";
}

int XapMessage::FromXap(const std::string& sRawMessage) {
    if (sRawMessage.empty()) return 0;
    try {
        parse(sRawMessage);
    } catch (...) {
        Err::capture();
        LogError("From XAP", "");
    }
    return 0;
}

void XapMessage::parse(const std::string& text) {
    const std::vector<std::string_view> lines = splitLines(text);
    if (vb::LCase(lines[0]).find("xap-header") == std::string::npos) return;

    // The second line is taken to be the header's "{"; until the first "}" the
    // lines are header fields.
    XapItemList* block = nullptr;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line == "}") {
            // The line after a closing brace names the next block; its "{"
            // needs no handling since it holds no "=". A well-formed message
            // thus ends with a nameless block made of the empty last line.
            if (i + 1 >= lines.size())
                raiseError(RuntimeError::kSubscriptOutOfRange, "Subscript out of range");
            ++i;
            const std::string name = vb::LCase(lines[i]);
            if (!m_blockIndex.Add(name, static_cast<int>(m_blocks.size())))
                raiseError(kKeyAlreadyExists, kKeyAlreadyExistsText);
            m_blocks.emplace_back();
            block = &m_blocks.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string key = vb::LCase(vb::Trim(line.substr(0, eq)));
        if (block != nullptr) {
            // The value is cut out of the line only when it is asked for.
            if (!block->Add(key, std::string(line)))
                raiseError(kKeyAlreadyExists, kKeyAlreadyExistsText);
            continue;
        }
        if (key == "uid")
            MsgUID = vb::Trim(line.substr(eq + 1));
        else if (key == "class")
            MsgClass = vb::Trim(line.substr(eq + 1));
        else if (key == "source")
            msgSource = vb::Trim(line.substr(eq + 1));
        else if (key == "target")
            MsgTarget = vb::Trim(line.substr(eq + 1));
    }
}

std::string XapMessage::GetItem(const std::string& sSection, const std::string& sItem) const {
    try {
        const int* number = m_blockIndex.find(vb::LCase(sSection));
        if (number == nullptr) return kUnknown;
        const std::string* line = msgCollection(*number).find(vb::LCase(sItem));
        if (line == nullptr) return kUnknown;
        return line->substr(line->find('=') + 1);
    } catch (...) {
        Err::capture();
        LogError("GetItem", "");
        return kUnknown;
    }
}

std::vector<std::string> XapMessage::MsgSection() const {
    if (m_blockIndex.Count() < 2) return {std::string()};
    std::vector<std::string> names;
    names.reserve(m_blockIndex.Count() - 1);
    for (const auto& entry : m_blockIndex) names.push_back(entry.first);
    names.pop_back();
    return names;
}

const XapItemList& XapMessage::msgCollection(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_blocks.size())
        raiseError(RuntimeError::kSubscriptOutOfRange, "Subscript out of range");
    return m_blocks[static_cast<std::size_t>(index)];
}

bool XapMessage::CompareAddress(const std::string& sItem1, const std::string& sItem2) const {
    if (sItem1.empty() || sItem2.empty()) return false;
    const std::vector<std::string> a = addressParts(sItem1);
    const std::vector<std::string> b = addressParts(sItem2);
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == ">" || b[i] == ">") return true;
        if (a[i] != "*" && b[i] != "*" && a[i] != b[i]) return false;
    }
    return a.size() == b.size();
}

bool XapMessage::CompareSource(const std::string& sSource) const {
    return CompareAddress(sSource, msgSource);
}

bool XapMessage::CompareTarget(const std::string& sTarget) const {
    return CompareAddress(sTarget, MsgTarget);
}

bool XapMessage::CompareClass(const std::string& sClass) const {
    return vb::equalsIgnoreCase(sClass, MsgClass);
}
