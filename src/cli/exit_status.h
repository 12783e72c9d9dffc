#pragma once
// How one transaction ended, and the exit status that tells a script so.

#include <cstdint>

namespace rq::cli {

enum class Outcome {
    Success,               // status 0x0F
    ChecksumError,         // status 0xF0
    UndefinedInstruction,  // status 0xF1
    LengthError,           // status 0xF2
    UnknownError,          // any other status byte
    TimedOut,              // no reply within the wait
    OpenFailed,            // the port could not be opened
    NotStarted,            // the worker thread could not be started
    LineLost,              // the line went away mid-transaction
    NotSent,               // never sent: its line was lost again before it
};

constexpr int kOutcomeCount = 10;

// Exit statuses. Each outcome has its own, bad arguments and lost output one
// more each; the
// values are documented in --help and must never be renumbered.
enum ExitStatus : int {
    kExitSuccess = 0,
    kExitInternalError = 1,  // the transaction could not be started
    kExitBadArguments = 2,   // nothing was sent
    kExitChecksumError = 3,
    kExitUndefinedInstruction = 4,
    kExitLengthError = 5,
    kExitUnknownError = 6,
    kExitTimedOut = 7,
    kExitOpenFailed = 8,
    kExitOutputFailed = 9,   // standard output or the log file lost lines
    kExitLineLost = 10,      // the line went away mid-transaction
    kExitInterrupted = 130,  // Ctrl-C or SIGTERM: the rest of the run not sent
};

Outcome OutcomeOfStatus(std::uint8_t status);
int ExitStatusOf(Outcome outcome);
// The name used in the --repeat summary ("Success", "Timed out", ...).
const char* OutcomeName(Outcome outcome);

}  // namespace rq::cli
