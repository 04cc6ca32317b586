#pragma once
// Keeps a flood of one identical line from filling a log. The first line of a
// run is written; its repeats are only counted, and one summary line stands in
// for them: when a different line arrives, when the count reaches kSummaryEvery,
// when kSummaryAfterSeconds have passed since the run's first repeat, and on
// flush() (at shutdown). The caller owns the sink; the filter only decides what
// to write. Time comes from the caller, so tests drive it without sleeping.

#include <cstdint>
#include <string>
#include <vector>

class RepeatedLineFilter {
public:
    static constexpr std::uint64_t kSummaryEvery = 10000;
    static constexpr double kSummaryAfterSeconds = 60.0;

    // The lines to write now for `line`, in order (none while it repeats).
    // `nowSeconds` is any monotonic count of seconds.
    std::vector<std::string> take(const std::string& line, double nowSeconds);
    // The summary of the repeats not yet reported, or an empty text.
    std::string flush();

    static std::string summary(std::uint64_t repeats);

private:
    std::string m_last;
    bool m_haveLast = false;
    std::uint64_t m_repeats = 0;
    double m_runStart = 0;
};
