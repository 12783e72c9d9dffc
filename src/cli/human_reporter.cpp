#include "cli/human_reporter.h"

#include "cli/console.h"
#include "cli/send_report.h"

namespace rq::cli {

HumanReporter::HumanReporter(std::FILE* out, Style style) : out(out), style(std::move(style)) {}

void HumanReporter::TransactionStarted(const PlannedTransaction& transaction)
{
    if (style.headings && !style.quiet) Print(TransactionHeading(transaction, style.scriptName, style.ports), rq::serial::PLUM, true);
}

void HumanReporter::Line(const std::string& text, rq::serial::Rgb colour, bool bold)
{
    if (!style.quiet) Print(text, colour, bold);
}

void HumanReporter::TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record)
{
    if (!style.quiet || record.resultLine.empty()) return;
    // One line per transaction: with its heading when there are many.
    std::string line = record.resultLine;
    if (style.headings) line = TransactionHeading(transaction, style.scriptName, style.ports) + "  " + line;
    Print(line, record.resultColour, false);
}

void HumanReporter::RunFinished(const std::string& summary)
{
    PrintText(out, summary);
    std::fflush(out);
}

void HumanReporter::Print(const std::string& text, rq::serial::Rgb colour, bool bold)
{
    PrintText(out, (style.colour ? AnsiColoured(text, colour.r, colour.g, colour.b, bold) : text) + "\n");
    std::fflush(out);
}

}  // namespace rq::cli
