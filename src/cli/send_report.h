#pragma once
// What rq-m4x-send prints besides the log lines themselves: terminal colours,
// the --repeat summary and the --list-ports list. Plain C++.

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "platform/port_names.h"

namespace rq::cli {

// Local time in ISO 8601 with milliseconds and the offset from UTC:
// "2026-12-08T22:10:03.042+01:00".
std::string Iso8601(int year, int month, int day, int hour, int minute, int second, int millisecond,
                    int offsetMinutes);

// The text wrapped in the ANSI 24-bit foreground colour (and bold), reset after.
std::string AnsiColoured(const std::string& text, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                         bool bold);

// What --list-ports prints: one port a line, its name, then a tab and its
// description where it has one.
std::string PortListText(const std::vector<rq::platform::ListedPort>& ports);

// The outcomes and times of repeated transactions, or of a fleet run.
class RepeatTally {
public:
    // `port`, when given, names the failure's port in the fleet summary.
    void Add(Outcome outcome, double milliseconds, std::optional<std::uint8_t> address = std::nullopt,
             const std::string& port = std::string());

    std::size_t Count(Outcome outcome) const;
    // The transactions sent; those never sent count apart, without a time.
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
    // A fleet run's summary: the above, then "Not succeeded: " with the IDs
    // that did not succeed, in order and each once, or "none"; then
    // NotSentLines.
    std::string FleetSummary(std::size_t notReached, bool interrupted = false) const;
    // How many transactions were not sent (`notReached` the run never came
    // to, and those whose line was lost again) and why, and a line saying
    // the run was interrupted when it was; empty when neither.
    std::string NotSentLines(std::size_t notReached, bool interrupted) const;

private:
    std::array<std::size_t, kOutcomeCount> counts{};
    // -1: a transaction without an address; the port when one was named.
    std::vector<std::pair<std::string, int>> failedIds;
    std::vector<double> times;
    int firstFailure = kExitSuccess;
};

}  // namespace rq::cli
