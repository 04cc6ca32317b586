#include "web/StatusTable.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/Convert.h"
#include "base/RuntimeError.h"

namespace {

constexpr int kBadArguments = 3001;

// -1, 0, 1 as the field of a is below, equal to or above that of b.
using Compare = std::function<int(const StatusRow&, const StatusRow&)>;

template <typename T>
int order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

Compare compareBy(const std::string& field) {
    auto text = [](std::string StatusRow::*member) {
        return [member](const StatusRow& a, const StatusRow& b) {
            return vb::compareIgnoreCase(a.*member, b.*member);
        };
    };
    const std::string f = vb::LCase(field);
    if (f == "dc") return text(&StatusRow::DC);
    if (f == "hsdc") return text(&StatusRow::HSDC);
    if (f == "name") return text(&StatusRow::Name);
    if (f == "dcsort") return text(&StatusRow::DCSort);
    if (f == "dcdisplay") return text(&StatusRow::DCDisplay);
    if (f == "changed")
        return [](const StatusRow& a, const StatusRow& b) {
            return order(a.Changed.isValid() ? a.Changed.toMSecsSinceEpoch() : INT64_MIN,
                         b.Changed.isValid() ? b.Changed.toMSecsSinceEpoch() : INT64_MIN);
        };
    if (f == "used")
        return [](const StatusRow& a, const StatusRow& b) { return order(a.Used, b.Used); };
    if (f == "buttons")
        return [](const StatusRow& a, const StatusRow& b) { return order(a.Buttons, b.Buttons); };
    return nullptr;
}

}  // namespace

void StatusTable::Sort(const std::string& sortText) {
    const std::string text = vb::Trim(sortText);
    const size_t space = text.find(' ');
    const std::string field = text.substr(0, space);
    const std::string direction =
        space == std::string::npos ? std::string() : vb::UCase(vb::Trim(text.substr(space + 1)));
    const Compare compare = compareBy(field);
    if (!compare || (!direction.empty() && direction != "ASC" && direction != "DESC"))
        raiseError(kBadArguments,
                   "Arguments are of the wrong type, are out of acceptable range, or are in "
                   "conflict with one another.");
    const bool descending = direction == "DESC";
    const auto before = [&](const StatusRow& a, const StatusRow& b) {
        const int c = compare(a, b);
        return descending ? c > 0 : c < 0;
    };
    // The page adds its rows in code order, the order it usually asks for.
    if (std::is_sorted(m_rows.begin(), m_rows.end(), before)) return;
    // Positions are sorted, not rows: a row holds several strings, and a merge
    // sort would move each of them log n times over.
    std::vector<uint32_t> order(m_rows.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return before(m_rows[a], m_rows[b]); });
    std::vector<StatusRow> sorted;
    sorted.reserve(m_rows.size());
    for (const uint32_t i : order) sorted.push_back(std::move(m_rows[i]));
    m_rows.swap(sorted);
}

std::vector<const StatusRow*> StatusTable::rows() const {
    std::vector<const StatusRow*> out;
    out.reserve(m_rows.size());
    for (const StatusRow& row : m_rows)
        if (!m_filterUsed || row.Used) out.push_back(&row);
    return out;
}
