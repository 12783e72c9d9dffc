#include "cli/send_run.h"

#include "cli/send_report.h"

namespace rq::cli {

int RunPlan(const Plan& plan, Transactor& transactor, Reporter& reporter)
{
    RepeatTally tally;
    std::size_t sent = 0;
    for (const PlannedTransaction& transaction : plan.transactions) {
        reporter.TransactionStarted(transaction);
        const TransactionRecord record = transactor.Transact(transaction);
        reporter.TransactionFinished(transaction, record);
        tally.Add(record.outcome, record.milliseconds, transaction.request.address);
        ++sent;
        if (record.outcome != Outcome::Success && !plan.keepGoing) break;
    }
    if (plan.summary)
        reporter.RunFinished(plan.fleet ? tally.FleetSummary(plan.transactions.size() - sent) : tally.Summary());
    return tally.ExitStatus();
}

}  // namespace rq::cli
