#include "cli/reporter.h"

namespace rq::cli {

void Reporters::TransactionStarted(const PlannedTransaction& transaction)
{
    for (Reporter* reporter : reporters) reporter->TransactionStarted(transaction);
}

void Reporters::Line(const std::string& text, rq::serial::Rgb colour, bool bold)
{
    for (Reporter* reporter : reporters) reporter->Line(text, colour, bold);
}

void Reporters::TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record)
{
    for (Reporter* reporter : reporters) reporter->TransactionFinished(transaction, record);
}

void Reporters::RunFinished(const std::string& summary)
{
    for (Reporter* reporter : reporters) reporter->RunFinished(summary);
}

bool CloseWritten(std::FILE* file)
{
    const bool flushed = std::fflush(file) == 0;
    const bool clean = std::ferror(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return flushed && clean && closed;
}

std::string TransactionHeading(const PlannedTransaction& transaction, const std::string& scriptName, bool withPort)
{
    std::string heading;
    if (withPort) heading = transaction.request.port;
    if (transaction.line > 0) heading += (heading.empty() ? "" : "  ") + scriptName + ":" + std::to_string(transaction.line);
    if (transaction.request.address) {
        if (!heading.empty()) heading += "  ";
        heading += "ID " + std::to_string(*transaction.request.address);
    }
    return heading;
}

}  // namespace rq::cli
