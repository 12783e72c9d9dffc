#include "cli/send_report.h"

#include <algorithm>
#include <cstdio>

namespace rq::cli {

std::string AnsiColoured(const std::string& text, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                         bool bold)
{
    char start[40];
    std::snprintf(start, sizeof start, "\x1b[%s38;2;%u;%u;%um", bold ? "1;" : "", unsigned{red}, unsigned{green},
                  unsigned{blue});
    return start + text + "\x1b[0m";
}

void RepeatTally::Add(Outcome outcome, double milliseconds)
{
    ++counts[static_cast<std::size_t>(outcome)];
    times.push_back(milliseconds);
    if (outcome != Outcome::Success && firstFailure == kExitSuccess) firstFailure = ExitStatusOf(outcome);
}

std::size_t RepeatTally::Count(Outcome outcome) const
{
    return counts[static_cast<std::size_t>(outcome)];
}

double RepeatTally::MedianMs() const
{
    if (times.empty()) return 0.0;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    if (sorted.size() % 2 == 1) return sorted[middle];
    return (sorted[middle - 1] + sorted[middle]) / 2.0;
}

double RepeatTally::WorstMs() const
{
    return times.empty() ? 0.0 : *std::max_element(times.begin(), times.end());
}

int RepeatTally::ExitStatus() const
{
    return firstFailure;
}

std::string RepeatTally::Summary() const
{
    std::string text = "Transactions: " + std::to_string(Total()) + "\n";
    for (int i = 0; i < kOutcomeCount; ++i) {
        const auto outcome = static_cast<Outcome>(i);
        // A worker that never started is rare enough to be listed only when it happened.
        if (outcome == Outcome::NotStarted && Count(outcome) == 0) continue;
        text += std::string(OutcomeName(outcome)) + ": " + std::to_string(Count(outcome)) + "\n";
    }
    char times[80];
    std::snprintf(times, sizeof times, "Median: %.3f ms\nWorst: %.3f ms\n", MedianMs(), WorstMs());
    return text + times;
}

}  // namespace rq::cli
