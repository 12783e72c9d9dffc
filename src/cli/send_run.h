#pragma once
// Runs a plan: its transactions in order through one Transactor (the session
// over the window's worker, or a stand-in in tests), each reported, stopping
// at the first that does not succeed unless the plan goes on. A parallel plan
// runs each port's transactions in their order on a thread of its own. Plain
// C++.

#include <functional>
#include <memory>

#include "cli/reporter.h"
#include "cli/send_plan.h"

namespace rq::cli {

class Transactor {
public:
    virtual ~Transactor() = default;
    // One transaction; its log lines go to the reporter on the way.
    // `lastOnLine`: the run has no further transaction on this port and rate
    // (as far as it is known), so a line kept open may close after it.
    virtual TransactionRecord Transact(const PlannedTransaction& transaction, bool lastOnLine) = 0;
    // The run is over (or stopped early): nothing more comes.
    virtual void EndRun() {}
};

// Asks the run under way to stop (Ctrl-C): the transactions under way finish
// and are reported, no further one starts, the summary says so and the run
// ends with kExitInterrupted. Lock-free: a signal handler may call it.
void RequestStop();
bool StopRequested();
// For a new run in the same process (tests).
void ClearStopRequest();

// Returns the exit status: 0 when every transaction sent succeeded, else the
// status of the first that did not; kExitInterrupted after RequestStop.
int RunPlan(const Plan& plan, Transactor& transactor, Reporter& reporter);

// A transactor for one port of a parallel run, reporting to `reporter`.
using TransactorMaker = std::function<std::unique_ptr<Transactor>(Reporter& reporter)>;

// The ports of the plan at once, each on a thread of its own with its own
// transactor. Each transaction's lines reach `reporter` together, never mixed
// with another's. Without keepGoing, a failure on any port stops every port
// after the transactions under way. The exit status as RunPlan's, over all.
int RunPlanInParallel(const Plan& plan, const TransactorMaker& makeTransactor, Reporter& reporter);

}  // namespace rq::cli
