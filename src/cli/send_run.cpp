#include "cli/send_run.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "cli/send_report.h"

namespace rq::cli {

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

bool SameLine(const Request& a, const Request& b)
{
    return a.port == b.port && a.baud == b.baud;
}

// What the ports of one run share: the tally, the count sent, and the stop.
struct RunState {
    std::mutex mutex;
    RepeatTally tally;
    std::size_t sent = 0;
    std::atomic<bool> stopped{false};
    bool namePorts = false;  // failures are listed by port and ID
    // The exit status is the first failure in the plan's order, whichever
    // port's failure came first in time: the same run gives the same status.
    const PlannedTransaction* planStart = nullptr;
    std::pair<std::ptrdiff_t, int> firstFailureAt{PTRDIFF_MAX, 0};
    int firstFailureStatus = kExitSuccess;
};

// The transactions of one port (or of the whole plan), in order.
void RunTransactions(const std::vector<const PlannedTransaction*>& transactions, bool keepGoing,
                     Transactor& transactor, Reporter& reporter, RunState& state)
{
    const auto stopping = [&state] { return state.stopped || stopRequested; };
    for (std::size_t t = 0; t < transactions.size() && !stopping(); ++t) {
        const PlannedTransaction& transaction = *transactions[t];
        const bool lastOfLine =
            t + 1 == transactions.size() || !SameLine(transactions[t + 1]->request, transaction.request);
        for (int i = 0; i < transaction.request.repeat && !stopping(); ++i) {
            reporter.TransactionStarted(transaction);
            const TransactionRecord record =
                transactor.Transact(transaction, lastOfLine && i + 1 == transaction.request.repeat);
            reporter.TransactionFinished(transaction, record);
            std::lock_guard<std::mutex> lock(state.mutex);
            state.tally.Add(record.outcome, record.milliseconds, transaction.request.address,
                            state.namePorts ? transaction.request.port : std::string());
            ++state.sent;
            const std::pair<std::ptrdiff_t, int> at{transactions[t] - state.planStart, i};
            // Never sent: the loss before it, earlier on its line, has the status.
            const bool failed = record.outcome != Outcome::Success && record.outcome != Outcome::NotSent;
            if (failed && at < state.firstFailureAt) {
                state.firstFailureAt = at;
                state.firstFailureStatus = ExitStatusOf(record.outcome);
            }
            if (record.outcome != Outcome::Success && !keepGoing) state.stopped = true;
        }
    }
    transactor.EndRun();
}

int Finish(const Plan& plan, RunState& state, Reporter& reporter)
{
    const bool interrupted = stopRequested;
    const std::size_t notReached = plan.Total() - state.sent;
    if (plan.summary && plan.fleet)
        reporter.RunFinished(state.tally.FleetSummary(notReached, interrupted));
    else if (plan.summary)
        reporter.RunFinished(state.tally.Summary() + state.tally.NotSentLines(notReached, interrupted));
    else if (interrupted)
        reporter.RunFinished(state.tally.NotSentLines(notReached, interrupted));
    return interrupted ? kExitInterrupted : state.firstFailureStatus;
}

}  // namespace

void RequestStop()
{
    stopRequested = true;
}

bool StopRequested()
{
    return stopRequested;
}

void ClearStopRequest()
{
    stopRequested = false;
}

namespace {

// Holds one port's lines until its transaction has finished, then hands them
// on in one piece.
class BusReporter : public Reporter {
public:
    BusReporter(Reporter& shared, std::mutex& sharedMutex) : shared(shared), sharedMutex(sharedMutex) {}

    void TransactionStarted(const PlannedTransaction& transaction) override { started = &transaction; }
    void Line(const std::string& text, rq::serial::Rgb colour, bool bold) override
    {
        lines.push_back({text, colour, bold});
    }
    void TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record) override
    {
        std::lock_guard<std::mutex> lock(sharedMutex);
        if (started) shared.TransactionStarted(*started);
        Flush();
        shared.TransactionFinished(transaction, record);
        started = nullptr;
    }
    // Lines after the last transaction (a line closed at the end).
    void FlushLeft()
    {
        std::lock_guard<std::mutex> lock(sharedMutex);
        Flush();
    }

private:
    struct HeldLine {
        std::string text;
        rq::serial::Rgb colour;
        bool bold;
    };
    void Flush()
    {
        for (const HeldLine& line : lines) shared.Line(line.text, line.colour, line.bold);
        lines.clear();
    }

    Reporter& shared;
    std::mutex& sharedMutex;
    const PlannedTransaction* started = nullptr;
    std::vector<HeldLine> lines;
};

}  // namespace

int RunPlan(const Plan& plan, Transactor& transactor, Reporter& reporter)
{
    RunState state;
    state.namePorts = plan.PortCount() > 1;
    state.planStart = plan.transactions.data();
    std::vector<const PlannedTransaction*> all;
    for (const PlannedTransaction& transaction : plan.transactions) all.push_back(&transaction);
    RunTransactions(all, plan.keepGoing, transactor, reporter, state);
    return Finish(plan, state, reporter);
}

int RunPlanInParallel(const Plan& plan, const TransactorMaker& makeTransactor, Reporter& reporter)
{
    RunState state;
    state.namePorts = plan.PortCount() > 1;
    state.planStart = plan.transactions.data();
    // Each port's transactions in the plan's order.
    std::vector<std::vector<const PlannedTransaction*>> buses;
    for (const PlannedTransaction& transaction : plan.transactions) {
        auto bus = buses.begin();
        while (bus != buses.end() && bus->front()->request.port != transaction.request.port) ++bus;
        if (bus == buses.end()) {
            buses.emplace_back();
            bus = buses.end() - 1;
        }
        bus->push_back(&transaction);
    }

    std::mutex reporterMutex;
    std::vector<std::thread> threads;
    for (const auto& bus : buses) {
        threads.emplace_back([&plan, &makeTransactor, &reporter, &reporterMutex, &state, &bus] {
            BusReporter busReporter(reporter, reporterMutex);
            const std::unique_ptr<Transactor> transactor = makeTransactor(busReporter);
            RunTransactions(bus, plan.keepGoing, *transactor, busReporter, state);
            busReporter.FlushLeft();
        });
    }
    for (std::thread& thread : threads) thread.join();
    return Finish(plan, state, reporter);
}

}  // namespace rq::cli
