#pragma once
// Runs a plan: its transactions in order through one Transactor (the session
// over the window's worker, or a stand-in in tests), each reported, stopping
// at the first that does not succeed unless the plan goes on. Plain C++.

#include "cli/reporter.h"
#include "cli/send_plan.h"

namespace rq::cli {

class Transactor {
public:
    virtual ~Transactor() = default;
    // One transaction; its log lines go to the reporter on the way.
    virtual TransactionRecord Transact(const PlannedTransaction& transaction) = 0;
};

// Returns the exit status: 0 when every transaction sent succeeded, else the
// status of the first that did not.
int RunPlan(const Plan& plan, Transactor& transactor, Reporter& reporter);

}  // namespace rq::cli
