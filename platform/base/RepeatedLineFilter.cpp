#include "base/RepeatedLineFilter.h"

std::string RepeatedLineFilter::summary(std::uint64_t repeats) {
    return "last line repeated " + std::to_string(repeats) + (repeats == 1 ? " time" : " times");
}

std::vector<std::string> RepeatedLineFilter::take(const std::string& line, double nowSeconds) {
    std::vector<std::string> out;
    if (m_haveLast && line == m_last) {
        if (m_repeats == 0) m_runStart = nowSeconds;
        ++m_repeats;
        if (m_repeats >= kSummaryEvery || nowSeconds - m_runStart >= kSummaryAfterSeconds)
            out.push_back(flush());
        return out;
    }
    if (m_repeats > 0) out.push_back(flush());
    m_last = line;
    m_haveLast = true;
    out.push_back(line);
    return out;
}

std::string RepeatedLineFilter::flush() {
    if (m_repeats == 0) return {};
    const std::uint64_t repeats = m_repeats;
    m_repeats = 0;
    return summary(repeats);
}
