#pragma once
// The window's log lines as text: on the terminal (in colour there), or
// without colour in the log file. A fleet run heads each transaction with its
// ID and script line; --quiet keeps only the line that ended each one.

#include <cstdio>
#include <string>

#include "cli/reporter.h"

namespace rq::cli {

class HumanReporter : public Reporter {
public:
    struct Style {
        bool colour = false;
        bool quiet = false;
        bool headings = false;   // a fleet run
        std::string scriptName;  // for the headings of script lines
        bool ports = false;      // the headings name the port (many ports)
    };
    HumanReporter(std::FILE* out, Style style);

    void TransactionStarted(const PlannedTransaction& transaction) override;
    void Line(const std::string& text, rq::serial::Rgb colour, bool bold) override;
    void TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record) override;
    void RunFinished(const std::string& summary) override;

private:
    void Print(const std::string& text, rq::serial::Rgb colour, bool bold);

    std::FILE* const out;
    const Style style;
};

}  // namespace rq::cli
