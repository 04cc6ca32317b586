#include "xap/XapMessage.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
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
const std::string kSubscriptText = "Subscript out of range";

// Beyond this many blocks, or items, names are found by hash. A scan that
// rejects most names on their length is quicker than hashing below that.
constexpr std::size_t kLinearBlocks = 8;
constexpr std::size_t kLinearItems = 8;
// What block names are hashed with; items are hashed with their block number.
constexpr std::size_t kBlockScope = ~std::size_t{0};

// The fixed start of every header, up to and including "uid=".
constexpr std::string_view kHeaderPrefix = "xap-header\n{\nv=12\nhop=1\nuid=";

// The program's own case folding, read once into a table so that comparing
// and hashing fold a byte without a call.
std::array<unsigned char, 256> makeFoldTable() {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = static_cast<unsigned char>(vb::lowerChar(static_cast<char>(c)));
    return table;
}
const std::array<unsigned char, 256> kFold = makeFoldTable();

inline unsigned char fold(char c) {
    return kFold[static_cast<unsigned char>(c)];
}

// Drawn per process, so that names which all land in one slot cannot be
// prepared in advance to slow the parse of every message down.
std::uint64_t makeSeed() {
    try {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        return reinterpret_cast<std::uintptr_t>(&kFold);
    }
}
const std::uint64_t kSeed = makeSeed();

// Eight folded bytes to a word, so the multiply runs once per word.
std::uint64_t foldedHash(std::string_view s) {
    std::uint64_t h = kSeed ^ (s.size() * 0x9E3779B97F4A7C15ull);
    for (std::size_t i = 0; i < s.size(); i += 8) {
        const std::size_t n = std::min<std::size_t>(8, s.size() - i);
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < n; ++k) word |= std::uint64_t{fold(s[i + k])} << (8 * k);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    return h;
}

bool foldedEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && fold(a[i]) != fold(b[i])) return false;
    return true;
}

bool containsFolded(std::string_view text, std::string_view lower) {
    if (text.size() < lower.size()) return false;
    for (std::size_t i = 0; i + lower.size() <= text.size(); ++i)
        if (foldedEqual(text.substr(i, lower.size()), lower)) return true;
    return false;
}

// The first slot to probe, before masking to the table's size.
std::size_t slotOf(std::uint64_t hash, std::size_t scope) {
    const std::uint64_t h = (hash ^ (static_cast<std::uint64_t>(scope) * 0x9E3779B97F4A7C15ull)) *
                            0xC4CEB9FE1A85EC53ull;
    return static_cast<std::size_t>(h >> 29);
}

// Tables are powers of two and at most half full, so a free slot is found.
void insertSlot(std::vector<std::size_t>& table, std::size_t slot, std::size_t entry) {
    const std::size_t mask = table.size() - 1;
    for (slot &= mask; table[slot] != 0; slot = (slot + 1) & mask) {
    }
    table[slot] = entry + 1;
}

std::string_view trimSpaces(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
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

struct ParseFault {
    int number;
    const std::string* description;
};

}  // namespace

XapMessage::~XapMessage() = default;

int XapMessage::Init(const std::string& /*sMessage*/) {
    m_output.clear();
    return 0;
}

void XapMessage::Reset() {}

int XapMessage::AddHeader() {
    constexpr std::string_view prefix = kHeaderPrefix;
    // Room for the header and a few items, so a typical message is written
    // into one allocation.
    m_output.reserve(m_output.size() + prefix.size() + MsgUID.size() + MsgClass.size() +
                     msgSource.size() + MsgTarget.size() + 256);
    m_output += prefix;
    m_output += MsgUID;
    m_output += "\nclass=";
    m_output += MsgClass;
    m_output += "\nsource=";
    m_output += msgSource;
    // An empty target means a broadcast to everyone; "Unknown" is written as is.
    if (!MsgTarget.empty()) {
        m_output += "\ntarget=";
        m_output += MsgTarget;
    }
    m_output += "\n}\n";
    m_blockOpen = false;
    return 0;
}

void XapMessage::AddSection(const std::string& sSection) {
    if (m_blockOpen) m_output += "}\n";
    m_output += sSection;
    m_output += "\n{\n";
    m_blockOpen = true;
}

void XapMessage::AddItem(const std::string& /*sSection*/, const std::string& sItem,
                         const std::string& sValue) {
    m_output += sItem;
    m_output += '=';
    m_output += sValue;
    m_output += '\n';
}

std::string XapMessage::ToXap() {
    std::string text;
    text.reserve(m_output.size() + 2);
    text += m_output;
    text += "}\n";
    return text;
}

int XapMessage::FromXap(const std::string& sRawMessage) {
    if (sRawMessage.empty()) return 0;
    try {
        // Appended rather than replaced: blocks of an earlier parse keep
        // pointing at their text.
        const std::size_t begin = m_text.size();
        m_text += sRawMessage;
        parse(begin);
    } catch (const ParseFault& fault) {
        Err::set(fault.number, *fault.description);
        LogError("From XAP", "");
    } catch (...) {
        Err::capture();
        LogError("From XAP", "");
    }
    return 0;
}

void XapMessage::parse(std::size_t begin) {
    const char* const base = m_text.data();
    const std::size_t size = m_text.size();
    // Where the line starting at `at` ends (its LF, or the end of the text).
    auto lineEnd = [&](std::size_t at) {
        const void* lf = std::memchr(base + at, '\n', size - at);
        return lf == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(lf) - base);
    };

    std::size_t end = lineEnd(begin);
    if (!containsFolded(slice(begin, end), "xap-header")) return;
    // The second line is taken to be the header's "{"; until the first "}" the
    // lines are header fields.
    if (end == size) return;
    end = lineEnd(end + 1);
    bool inHeader = true;
    while (end < size) {
        const std::size_t at = end + 1;
        end = lineEnd(at);
        const std::size_t length = end - at;
        if (length == 1 && base[at] == '}') {
            // The line after a closing brace names the next block; its "{"
            // needs no handling since it holds no "=". A well-formed message
            // thus ends with a nameless block made of the empty last line.
            if (end == size) throw ParseFault{RuntimeError::kSubscriptOutOfRange, &kSubscriptText};
            const std::size_t nameBegin = end + 1;
            end = lineEnd(nameBegin);
            addBlock(nameBegin, end);
            inHeader = false;
            continue;
        }
        const void* eqPtr = std::memchr(base + at, '=', length);
        if (eqPtr == nullptr) continue;
        const std::size_t eq = static_cast<std::size_t>(static_cast<const char*>(eqPtr) - base);
        std::size_t keyBegin = at, keyEnd = eq;
        while (keyBegin < keyEnd && base[keyBegin] == ' ') ++keyBegin;
        while (keyEnd > keyBegin && base[keyEnd - 1] == ' ') --keyEnd;
        if (!inHeader) {
            // The value is cut out of the line only when it is asked for.
            addItem(at, keyBegin, keyEnd, eq, end);
            continue;
        }
        const std::string_view key = slice(keyBegin, keyEnd);
        std::string* field = nullptr;
        if (foldedEqual(key, "uid"))
            field = &MsgUID;
        else if (foldedEqual(key, "class"))
            field = &MsgClass;
        else if (foldedEqual(key, "source"))
            field = &msgSource;
        else if (foldedEqual(key, "target"))
            field = &MsgTarget;
        if (field != nullptr) field->assign(trimSpaces(slice(eq + 1, end)));
    }
}

void XapMessage::addBlock(std::size_t nameBegin, std::size_t nameEnd) {
    if (findBlock(slice(nameBegin, nameEnd)) >= 0)
        throw ParseFault{kKeyAlreadyExists, &kKeyAlreadyExistsText};
    if (m_blocks.empty()) m_blocks.reserve(4);
    m_blocks.push_back({nameBegin, nameEnd, m_items.size(), 0});
    indexBlock(m_blocks.size() - 1);
}

void XapMessage::addItem(std::size_t lineBegin, std::size_t keyBegin, std::size_t keyEnd,
                         std::size_t equals, std::size_t lineEnd) {
    const std::size_t block = m_blocks.size() - 1;
    if (findItem(block, slice(keyBegin, keyEnd)) != nullptr)
        throw ParseFault{kKeyAlreadyExists, &kKeyAlreadyExistsText};
    if (m_items.empty()) m_items.reserve(kLinearItems);
    m_items.push_back({lineBegin, keyBegin, keyEnd, equals, lineEnd, block});
    ++m_blocks.back().itemCount;
    indexItem(m_items.size() - 1);
}

void XapMessage::indexBlock(std::size_t block) {
    const std::size_t count = m_blocks.size();
    if (m_blockTable.empty() ? count > kLinearBlocks : 2 * count > m_blockTable.size()) {
        rebuildBlockTable(std::max<std::size_t>(4 * kLinearBlocks, 2 * m_blockTable.size()));
        return;  // the rebuild took in the new entry
    }
    if (m_blockTable.empty()) return;
    const Block& b = m_blocks[block];
    insertSlot(m_blockTable, slotOf(foldedHash(slice(b.nameBegin, b.nameEnd)), kBlockScope), block);
}

void XapMessage::indexItem(std::size_t item) {
    const std::size_t count = m_items.size();
    if (m_itemTable.empty() ? count > kLinearItems : 2 * count > m_itemTable.size()) {
        rebuildItemTable(std::max<std::size_t>(4 * kLinearItems, 2 * m_itemTable.size()));
        return;
    }
    if (m_itemTable.empty()) return;
    const Item& i = m_items[item];
    insertSlot(m_itemTable, slotOf(foldedHash(slice(i.keyBegin, i.keyEnd)), i.block), item);
}

void XapMessage::rebuildBlockTable(std::size_t slots) {
    m_blockTable.assign(slots, 0);
    for (std::size_t n = 0; n < m_blocks.size(); ++n) {
        const Block& b = m_blocks[n];
        insertSlot(m_blockTable, slotOf(foldedHash(slice(b.nameBegin, b.nameEnd)), kBlockScope), n);
    }
}

void XapMessage::rebuildItemTable(std::size_t slots) {
    m_itemTable.assign(slots, 0);
    for (std::size_t n = 0; n < m_items.size(); ++n) {
        const Item& i = m_items[n];
        insertSlot(m_itemTable, slotOf(foldedHash(slice(i.keyBegin, i.keyEnd)), i.block), n);
    }
}

std::ptrdiff_t XapMessage::findBlock(std::string_view name) const {
    auto matches = [&](std::size_t b) {
        return foldedEqual(slice(m_blocks[b].nameBegin, m_blocks[b].nameEnd), name);
    };
    if (m_blockTable.empty()) {
        for (std::size_t b = 0; b < m_blocks.size(); ++b)
            if (matches(b)) return static_cast<std::ptrdiff_t>(b);
        return -1;
    }
    const std::size_t mask = m_blockTable.size() - 1;
    for (std::size_t slot = slotOf(foldedHash(name), kBlockScope) & mask; m_blockTable[slot] != 0;
         slot = (slot + 1) & mask)
        if (matches(m_blockTable[slot] - 1))
            return static_cast<std::ptrdiff_t>(m_blockTable[slot] - 1);
    return -1;
}

const XapMessage::Item* XapMessage::findItem(std::size_t block, std::string_view key) const {
    auto matches = [&](const Item& item) {
        return item.block == block && foldedEqual(slice(item.keyBegin, item.keyEnd), key);
    };
    if (m_itemTable.empty()) {
        const Block& b = m_blocks[block];
        for (std::size_t i = b.firstItem; i < b.firstItem + b.itemCount; ++i)
            if (matches(m_items[i])) return &m_items[i];
        return nullptr;
    }
    const std::size_t mask = m_itemTable.size() - 1;
    for (std::size_t slot = slotOf(foldedHash(key), block) & mask; m_itemTable[slot] != 0;
         slot = (slot + 1) & mask) {
        const Item& item = m_items[m_itemTable[slot] - 1];
        if (matches(item)) return &item;
    }
    return nullptr;
}

std::string XapMessage::GetItem(const std::string& sSection, const std::string& sItem) const {
    try {
        const std::ptrdiff_t block = findBlock(sSection);
        if (block < 0) return kUnknown;
        const Item* item = findItem(static_cast<std::size_t>(block), sItem);
        if (item == nullptr) return kUnknown;
        return std::string(slice(item->equals + 1, item->lineEnd));
    } catch (...) {
        Err::capture();
        LogError("GetItem", "");
        return kUnknown;
    }
}

std::vector<std::string> XapMessage::MsgSection() const {
    if (m_blocks.size() < 2) return {std::string()};
    std::vector<std::string> names;
    names.reserve(m_blocks.size() - 1);
    for (std::size_t b = 0; b + 1 < m_blocks.size(); ++b)
        names.push_back(vb::LCase(slice(m_blocks[b].nameBegin, m_blocks[b].nameEnd)));
    return names;
}

const XapItemList& XapMessage::msgCollection(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_blocks.size())
        raiseError(RuntimeError::kSubscriptOutOfRange, "Subscript out of range");
    const auto b = static_cast<std::size_t>(index);
    if (m_lists.size() <= b) m_lists.resize(m_blocks.size());
    if (!m_lists[b]) {
        auto list = std::make_unique<XapItemList>();
        const Block& block = m_blocks[b];
        for (std::size_t i = block.firstItem; i < block.firstItem + block.itemCount; ++i) {
            const Item& item = m_items[i];
            list->Add(vb::LCase(slice(item.keyBegin, item.keyEnd)),
                      std::string(slice(item.lineBegin, item.lineEnd)));
        }
        m_lists[b] = std::move(list);
    }
    return *m_lists[b];
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
    return foldedEqual(sClass, MsgClass);
}
