#pragma once
// What rq-m4x-send prints besides the log lines themselves: terminal colours
// and the --repeat summary. Plain C++.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/exit_status.h"

namespace rq::cli {

// The text wrapped in the ANSI 24-bit foreground colour (and bold), reset after.
std::string AnsiColoured(const std::string& text, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                         bool bold);

// The outcomes and times of repeated transactions.
class RepeatTally {
public:
    void Add(Outcome outcome, double milliseconds);

    std::size_t Count(Outcome outcome) const;
    std::size_t Total() const { return times.size(); }
    // Median and worst transaction time in milliseconds; 0 when empty. An even
    // count has the mean of its two middle times as median.
    double MedianMs() const;
    double WorstMs() const;
    // 0 when every transaction succeeded, else the status of the first that did not.
    int ExitStatus() const;

    // "Transactions: N", one "<outcome>: <count>" line per outcome, then the
    // median and the worst time, each line ended by a newline.
    std::string Summary() const;

private:
    std::array<std::size_t, kOutcomeCount> counts{};
    std::vector<double> times;
    int firstFailure = kExitSuccess;
};

}  // namespace rq::cli
