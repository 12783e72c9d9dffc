#include "cli/send_report.h"

#include <algorithm>
#include <cstdio>

namespace rq::cli {

std::string PortListText(const std::vector<rq::platform::ListedPort>& ports)
{
    std::string text;
    for (const rq::platform::ListedPort& port : ports) {
        text += port.name;
        if (!port.description.empty()) text += "\t" + port.description;
        text += "\n";
    }
    return text;
}

std::string AnsiColoured(const std::string& text, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                         bool bold)
{
    char start[40];
    std::snprintf(start, sizeof start, "\x1b[%s38;2;%u;%u;%um", bold ? "1;" : "", unsigned{red}, unsigned{green},
                  unsigned{blue});
    return start + text + "\x1b[0m";
}

std::string Iso8601(int year, int month, int day, int hour, int minute, int second, int millisecond,
                    int offsetMinutes)
{
    const char sign = offsetMinutes < 0 ? '-' : '+';
    const int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", year, month, day, hour, minute,
                  second, millisecond, sign, offset / 60, offset % 60);
    return text;
}

void RepeatTally::Add(Outcome outcome, double milliseconds, std::optional<std::uint8_t> address,
                      const std::string& port)
{
    ++counts[static_cast<std::size_t>(outcome)];
    // Never sent: no time to count, and the loss before it has the status.
    if (outcome == Outcome::NotSent) return;
    times.push_back(milliseconds);
    if (outcome == Outcome::Success) return;
    if (firstFailure == kExitSuccess) firstFailure = ExitStatusOf(outcome);
    const std::pair<std::string, int> failed(port, address ? *address : -1);
    if (std::find(failedIds.begin(), failedIds.end(), failed) == failedIds.end()) failedIds.push_back(failed);
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
        // A worker that never started and a line that went away are rare
        // enough to be listed only when they happened.
        if ((outcome == Outcome::NotStarted || outcome == Outcome::LineLost) && Count(outcome) == 0) continue;
        if (outcome == Outcome::NotSent) continue;
        text += std::string(OutcomeName(outcome)) + ": " + std::to_string(Count(outcome)) + "\n";
    }
    char times[80];
    std::snprintf(times, sizeof times, "Median: %.3f ms\nWorst: %.3f ms\n", MedianMs(), WorstMs());
    return text + times;
}

}  // namespace rq::cli

namespace rq::cli {

std::string RepeatTally::NotSentLines(std::size_t notReached, bool interrupted) const
{
    const std::size_t notSent = notReached + Count(Outcome::NotSent);
    std::string text;
    if (notSent > 0) {
        text += "Not sent: " + std::to_string(notSent);
        if (interrupted)
            text += " (the run was interrupted)\n";
        else if (notReached > 0)
            text += " (stopped at the first failure; --keep-going goes on)\n";
        else
            text += " (the line was lost again)\n";
    }
    if (interrupted) text += "Interrupted: the transactions under way finished, nothing more was sent\n";
    return text;
}

std::string RepeatTally::FleetSummary(std::size_t notReached, bool interrupted) const
{
    std::string ids;
    for (const auto& [port, id] : failedIds) {
        if (!ids.empty()) ids += ", ";
        if (!port.empty()) ids += port + (id < 0 ? " " : " ID ");
        ids += id < 0 ? std::string("no ID") : std::to_string(id);
    }
    return Summary() + "Not succeeded: " + (ids.empty() ? std::string("none") : ids) + "\n" +
           NotSentLines(notReached, interrupted);
}

}  // namespace rq::cli
