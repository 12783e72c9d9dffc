#include "cli/send_run.h"

#include "cli/send_report.h"

namespace rq::cli {

int RunPlan(const Plan& plan, Transactor& transactor, Reporter& reporter)
{
    RepeatTally tally;
    std::size_t sent = 0;
    bool stopped = false;
    for (const PlannedTransaction& transaction : plan.transactions) {
        for (int i = 0; i < transaction.request.repeat && !stopped; ++i) {
            reporter.TransactionStarted(transaction);
            const TransactionRecord record = transactor.Transact(transaction);
            reporter.TransactionFinished(transaction, record);
            tally.Add(record.outcome, record.milliseconds, transaction.request.address);
            ++sent;
            stopped = record.outcome != Outcome::Success && !plan.keepGoing;
        }
        if (stopped) break;
    }
    if (plan.summary) reporter.RunFinished(plan.fleet ? tally.FleetSummary(plan.Total() - sent) : tally.Summary());
    return tally.ExitStatus();
}

}  // namespace rq::cli
