#pragma once
// One xAP message, either built as text to send or parsed from received text.
// Lives for one message; the caller owns it.
//
// Building: set MsgClass, msgSource, MsgTarget and MsgUID, then AddHeader,
// AddSection, AddItem for each item (more AddSection/AddItem runs may follow),
// and ToXap gives the text. Every line ends in LF alone.
//
// Parsing: Init(""), Reset(), FromXap(text), then the Compare... and GetItem
// calls. FromXap never raises: a malformed text (a repeated block name, a
// repeated key within a block, a final "}" with no line after it) ends the
// parse, keeps what was read so far and writes one "From XAP" line to the error
// log. A missing block or item reads as "Unknown", never as a fault.
//
// Texts are single-byte strings; any byte, NUL included, is allowed anywhere.
//
// Received messages are read many times a second: a parse copies the text once
// and keeps offsets into that copy in a flat index, so a look-up allocates
// nothing but the value it returns. Past a handful of names the index is
// hashed, so a hostile text with thousands of names costs time in proportion
// to its length. An outgoing text is written into one growing buffer.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/OrderedDictionary.h"

// The items of one received block: the whole received "key=value" line, keyed
// by the key (text before the first "=", space-trimmed, lower-cased), in the
// order received.
using XapItemList = OrderedDictionary<std::string>;

class XapMessage {
public:
    XapMessage() = default;
    // Not copyable: a copied item list would still index the original's entries.
    XapMessage(const XapMessage&) = delete;
    XapMessage& operator=(const XapMessage&) = delete;
    XapMessage(XapMessage&&) = default;
    XapMessage& operator=(XapMessage&&) = default;
    ~XapMessage();

    // Header fields; "Unknown" until set by the caller or read by FromXap.
    std::string MsgClass = "Unknown";
    std::string MsgTarget = "Unknown";
    std::string msgSource = "Unknown";
    std::string MsgUID = "Unknown";

    // Starts a new output text; the argument is not used and the header
    // fields are kept. Returns 0.
    int Init(const std::string& sMessage);
    // Kept for callers that reset a message before parsing; does nothing.
    void Reset();

    // Appends the header built from the four fields: the header prefix, the
    // UID, class, source and, only when MsgTarget is not empty, target, then
    // "}". Marks no block open. Returns 0.
    int AddHeader();
    // Closes the block opened last, if any, then opens block sSection.
    void AddSection(const std::string& sSection);
    // Appends sItem "=" sValue as given to the block opened last; sSection
    // is not looked at.
    void AddItem(const std::string& sSection, const std::string& sItem, const std::string& sValue);
    // The text built so far followed by "}" LF, which closes the last block.
    std::string ToXap();

    // Parses a received text into the header fields and blocks. A text whose
    // first line does not contain "xap-header" (heartbeats, say) is not parsed;
    // an empty text changes nothing. Returns 0.
    int FromXap(const std::string& sRawMessage);

    // The value of item sItem of block sSection, both looked up ignoring case:
    // everything after the first "=" of the received line, untrimmed (a
    // trailing CR stays). "Unknown" when the block or the item is missing.
    std::string GetItem(const std::string& sSection, const std::string& sItem) const;

    // The lower-cased names of the received blocks in the order received,
    // without the last one (the nameless block that the empty line after the
    // closing "}" forms); after a parse that ended in a fault this is a real
    // block. One empty string when no name is left.
    std::vector<std::string> MsgSection() const;

    // The item list of block number index (0 for the first block), made on
    // first request and kept for the message's life.
    // Raises RuntimeError 9 "Subscript out of range" for any other index.
    const XapItemList& msgCollection(int index) const;

    // Address match with wildcards: parts between "." compared ignoring case,
    // "*" matching exactly one part and ">" the rest of the address, on either
    // side; a sub-address after ":" is not compared. False when either
    // address is empty.
    bool CompareAddress(const std::string& sItem1, const std::string& sItem2) const;
    bool CompareSource(const std::string& sSource) const;
    bool CompareTarget(const std::string& sTarget) const;
    // Class equality ignoring case; no wildcards.
    bool CompareClass(const std::string& sClass) const;

private:
    // Offsets into m_text, so that moving the message keeps them valid.
    struct Block {
        std::size_t nameBegin, nameEnd;
        std::size_t firstItem, itemCount;
    };
    struct Item {
        std::size_t lineBegin, keyBegin, keyEnd, equals, lineEnd;
        std::size_t block;
    };

    void parse(std::size_t begin);
    void addBlock(std::size_t nameBegin, std::size_t nameEnd);
    void addItem(std::size_t lineBegin, std::size_t keyBegin, std::size_t keyEnd,
                 std::size_t equals, std::size_t lineEnd);
    // Index of the named block, or -1.
    std::ptrdiff_t findBlock(std::string_view name) const;
    const Item* findItem(std::size_t block, std::string_view key) const;
    // Called after the entry was appended; starts hashing when the names
    // outgrow a linear scan.
    void indexBlock(std::size_t block);
    void indexItem(std::size_t item);
    void rebuildBlockTable(std::size_t slots);
    void rebuildItemTable(std::size_t slots);
    std::string_view slice(std::size_t begin, std::size_t end) const {
        return std::string_view(m_text.data() + begin, end - begin);
    }

    std::string m_output;
    bool m_blockOpen = false;

    std::string m_text;  // every text parsed, one after the other
    std::vector<Block> m_blocks;
    std::vector<Item> m_items;
    // Open addressing over block names and over items (keyed by block number
    // and key) once they outnumber a linear scan's worth; empty until then. A
    // slot holds 0 (free) or the entry's number + 1.
    std::vector<std::size_t> m_blockTable;
    std::vector<std::size_t> m_itemTable;
    mutable std::vector<std::unique_ptr<XapItemList>> m_lists;
};
