#pragma once
// Keeps a flood of repeated lines from filling a log, also when two or more
// lines alternate. Each distinct line is written when first seen and then
// tracked for a window of kWindowSeconds: its repeats within the window are
// only counted, and one summary naming the line stands in for them when the
// window ends (noticed at the next line or flush()), when the count reaches
// kSummaryEvery, or when the line is pushed out by newer ones (at most
// kMaxTracked lines are tracked). After its window a line is written afresh.
// The caller owns the sink; the filter only decides what to write. Time comes
// from the caller, so tests drive it without sleeping.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class RepeatedLineFilter {
public:
    static constexpr std::uint64_t kSummaryEvery = 10000;
    static constexpr double kWindowSeconds = 60.0;
    static constexpr std::size_t kMaxTracked = 32;
    // How much of the line a summary repeats.
    static constexpr std::size_t kShownInSummary = 120;

    // The lines to write now for `line`, in order (none while it repeats).
    // `nowSeconds` is any monotonic count of seconds.
    std::vector<std::string> take(const std::string& line, double nowSeconds);
    // The summaries of the repeats not yet reported, oldest line first; every
    // line is forgotten.
    std::vector<std::string> flush();

    static std::string summary(const std::string& line, std::uint64_t repeats);

private:
    struct Tracked {
        std::string line;
        double since = 0;
        std::uint64_t repeats = 0;
    };
    // Summarises and forgets the front line.
    void retireFront(std::vector<std::string>& out);

    std::deque<Tracked> m_tracked;  // oldest first; windows end in this order
};
