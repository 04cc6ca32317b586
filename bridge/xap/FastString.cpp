#include "xap/FastString.h"

#include <utility>

FastString::FastString() : m_pieces(kInitialSlots) {}

void FastString::Add(std::string strValue) {
    if (m_next >= m_pieces.size()) m_pieces.resize(m_pieces.size() + kGrowthStep);
    m_pieces[m_next++] = std::move(strValue);
}

std::string FastString::Value() const {
    std::size_t total = 0;
    for (std::size_t i = 1; i < m_next; ++i) total += m_pieces[i].size();
    std::string joined;
    joined.reserve(total);
    for (std::size_t i = 1; i < m_next; ++i) joined += m_pieces[i];
    return joined;
}

void FastString::Reset() {
    // A fresh array rather than clear(): a builder that once held a huge text
    // should not keep its memory.
    std::vector<std::string>(kInitialSlots).swap(m_pieces);
    m_next = 1;
}
