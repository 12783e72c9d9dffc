#pragma once
// Where the transactions of a run are reported. The session hands every log
// line and every finished transaction to one Reporter; each output form (the
// window's lines on the terminal, JSON Lines, the log file) is one reporter,
// and Reporters hands everything to several.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/send_plan.h"
#include "serial/log_line.h"

namespace rq::cli {

// How one transaction ended.
struct TransactionRecord {
    Outcome outcome = Outcome::TimedOut;
    double milliseconds = 0.0;
    std::string started;  // local time, ISO 8601 with milliseconds
    std::optional<std::vector<std::uint8_t>> reply;  // the bytes received
    // The status line, or else the last red line: what --quiet prints.
    std::string resultLine;
    rq::serial::Rgb resultColour{0, 0, 0};
    // The system's reason after a failed open or a lost line, else empty.
    std::string reason;
};

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void TransactionStarted(const PlannedTransaction& /*transaction*/) {}
    // One of the window's log lines, UTF-8.
    virtual void Line(const std::string& /*text*/, rq::serial::Rgb /*colour*/, bool /*bold*/) {}
    virtual void TransactionFinished(const PlannedTransaction& /*transaction*/, const TransactionRecord& /*record*/) {}
    // The summary after the last transaction, lines ended by newlines.
    virtual void RunFinished(const std::string& /*summary*/) {}
};

class Reporters : public Reporter {
public:
    void Add(Reporter& reporter) { reporters.push_back(&reporter); }

    void TransactionStarted(const PlannedTransaction& transaction) override;
    void Line(const std::string& text, rq::serial::Rgb colour, bool bold) override;
    void TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record) override;
    void RunFinished(const std::string& summary) override;

private:
    std::vector<Reporter*> reporters;
};

// Flushes and closes `file`. False when any write to it failed, or the flush
// or the close did: a record lost on a full disk must not pass for success.
bool CloseWritten(std::FILE* file);

// "ID 3", "jobs.txt:4", "jobs.txt:4  ID 3": what heads a transaction of a fleet
// run; with `withPort`, its port first ("/dev/ttyUSB1  ID 3").
std::string TransactionHeading(const PlannedTransaction& transaction, const std::string& scriptName,
                               bool withPort = false);

}  // namespace rq::cli
