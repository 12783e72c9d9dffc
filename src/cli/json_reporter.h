#pragma once
// --json: one JSON object per transaction on its own line (JSON Lines), for a
// program to read; the summary goes to `summaryOut` so the lines stay JSON.

#include <cstdio>
#include <string>

#include "cli/reporter.h"

namespace rq::cli {

class JsonReporter : public Reporter {
public:
    JsonReporter(std::FILE* out, std::FILE* summaryOut);

    void TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record) override;
    void RunFinished(const std::string& summary) override;

    // The object of one transaction, as one line without its newline.
    static std::string Record(const PlannedTransaction& transaction, const TransactionRecord& record);

private:
    std::FILE* const out;
    std::FILE* const summaryOut;
};

// The outcome as a record names it: "success", "timed out", ...
std::string OutcomeKey(Outcome outcome);

// Bytes as the log dumps them: upper-case hex pairs separated by blanks.
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace rq::cli
