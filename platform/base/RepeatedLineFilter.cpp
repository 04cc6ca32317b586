#include "base/RepeatedLineFilter.h"

#include <algorithm>

std::string RepeatedLineFilter::summary(const std::string& line, std::uint64_t repeats) {
    std::string shown = line.substr(0, kShownInSummary);
    if (shown.size() < line.size()) shown += "...";
    return "repeated " + std::to_string(repeats) + (repeats == 1 ? " time: " : " times: ") + shown;
}

void RepeatedLineFilter::retireFront(std::vector<std::string>& out) {
    if (m_tracked.front().repeats > 0)
        out.push_back(summary(m_tracked.front().line, m_tracked.front().repeats));
    m_tracked.pop_front();
}

std::vector<std::string> RepeatedLineFilter::take(const std::string& line, double nowSeconds) {
    std::vector<std::string> out;
    while (!m_tracked.empty() && nowSeconds - m_tracked.front().since >= kWindowSeconds)
        retireFront(out);
    const auto it = std::find_if(m_tracked.begin(), m_tracked.end(),
                                 [&](const Tracked& t) { return t.line == line; });
    if (it != m_tracked.end()) {
        if (++it->repeats >= kSummaryEvery) {
            out.push_back(summary(line, it->repeats));
            it->repeats = 0;
        }
        return out;
    }
    if (m_tracked.size() >= kMaxTracked) retireFront(out);
    m_tracked.push_back({line, nowSeconds, 0});
    out.push_back(line);
    return out;
}

std::vector<std::string> RepeatedLineFilter::flush() {
    std::vector<std::string> out;
    while (!m_tracked.empty()) retireFront(out);
    return out;
}
