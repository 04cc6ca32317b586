#pragma once
// An append-only string builder. Pieces are kept as given and joined once, when
// Value is asked for, so a long text built from many small pieces is not copied
// again at every append. Outgoing xAP messages and web answers are built in one.
//
// The piece array starts with 101 slots (slot 0 is never used) and grows by 100
// slots whenever the next piece would fall past its end. Never fails except for
// lack of memory.

#include <cstddef>
#include <string>
#include <vector>

class FastString {
public:
    FastString();

    // Appends one piece.
    void Add(std::string strValue);
    // All pieces joined in the order added, with nothing between them.
    std::string Value() const;
    // Discards every piece and starts over as a new builder.
    void Reset();

    // Slots the piece array holds at the moment (grows in steps of 100).
    std::size_t capacity() const { return m_pieces.size(); }

private:
    static constexpr std::size_t kInitialSlots = 101;
    static constexpr std::size_t kGrowthStep = 100;

    std::vector<std::string> m_pieces;
    std::size_t m_next = 1;
};

// The host hands out string builders to plug-ins and scripts under this name;
// it behaves exactly as FastString, so it is the same type.
using clsString = FastString;
