#include "cli/json_reporter.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "cli/console.h"

namespace rq::cli {

std::string OutcomeKey(Outcome outcome)
{
    std::string key = OutcomeName(outcome);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

JsonReporter::JsonReporter(std::FILE* out, std::FILE* summaryOut) : out(out), summaryOut(summaryOut) {}

std::string JsonReporter::Record(const PlannedTransaction& transaction, const TransactionRecord& record)
{
    nlohmann::ordered_json object;
    const Request& request = transaction.request;
    object["id"] = request.address ? nlohmann::ordered_json(*request.address) : nlohmann::ordered_json(nullptr);
    object["command"] = transaction.words.empty() ? std::string() : transaction.words[0];
    object["arguments"] = std::vector<std::string>(transaction.words.begin() + (transaction.words.empty() ? 0 : 1),
                                                   transaction.words.end());
    object["line"] = transaction.line > 0 ? nlohmann::ordered_json(transaction.line) : nlohmann::ordered_json(nullptr);
    object["port"] = request.port;
    object["baud"] = request.baud;
    object["frame"] = HexBytes(transaction.frame);
    object["reply"] = record.reply ? nlohmann::ordered_json(HexBytes(*record.reply)) : nlohmann::ordered_json(nullptr);
    object["outcome"] = OutcomeKey(record.outcome);
    object["exit_status"] = ExitStatusOf(record.outcome);
    // Why the line failed, in the system's words: a missing adapter, a
    // refused connection, a port in use.
    object["reason"] = record.reason.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(record.reason);
    object["started"] = record.started;
    object["ms"] = std::round(record.milliseconds * 1000.0) / 1000.0;
    // A port name need not be UTF-8; never let it break the line.
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void JsonReporter::TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record)
{
    PrintText(out, Record(transaction, record) + "\n");
    std::fflush(out);
}

void JsonReporter::RunFinished(const std::string& summary)
{
    PrintText(summaryOut, summary);
    std::fflush(summaryOut);
}

}  // namespace rq::cli
