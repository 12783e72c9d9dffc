#pragma once
// A long run's progress on the terminal: one line on standard error, written
// over after each transaction (done / total, failures, elapsed, time left)
// and gone when the run ends. It must be cleared before anything else is
// printed, so the tool gives the reporters its Eraser first and the
// ProgressReporter itself last.

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

#include "cli/reporter.h"

namespace rq::cli {

class ProgressReporter : public Reporter {
public:
    ProgressReporter(std::FILE* out, std::size_t total);

    Reporter& Eraser() { return eraser; }

    void TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record) override;

    // "12/96  failed 1  elapsed 0:03  left 0:21"
    static std::string Text(std::size_t done, std::size_t total, std::size_t failed, double elapsedSeconds);

private:
    class EraseFirst : public Reporter {
    public:
        explicit EraseFirst(ProgressReporter& owner) : owner(owner) {}
        void TransactionStarted(const PlannedTransaction&) override { owner.Erase(); }
        void Line(const std::string&, rq::serial::Rgb, bool) override { owner.Erase(); }
        void TransactionFinished(const PlannedTransaction&, const TransactionRecord&) override { owner.Erase(); }
        void RunFinished(const std::string&) override { owner.Erase(); }

    private:
        ProgressReporter& owner;
    };

    void Erase();

    std::FILE* const out;
    const std::size_t total;
    std::size_t done = 0;
    std::size_t failed = 0;
    std::size_t shown = 0;  // the length of the line on the terminal
    const std::chrono::steady_clock::time_point start;
    EraseFirst eraser{*this};
};

}  // namespace rq::cli
