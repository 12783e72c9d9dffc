#include "cli/exit_status.h"

#include "protocol/status.h"

namespace rq::cli {

Outcome OutcomeOfStatus(std::uint8_t status)
{
    switch (status) {
    case rq::protocol::kStatusSuccess: return Outcome::Success;
    case rq::protocol::kStatusChecksumError: return Outcome::ChecksumError;
    case rq::protocol::kStatusUndefinedInstruction: return Outcome::UndefinedInstruction;
    case rq::protocol::kStatusLengthError: return Outcome::LengthError;
    default: return Outcome::UnknownError;
    }
}

int ExitStatusOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success: return kExitSuccess;
    case Outcome::ChecksumError: return kExitChecksumError;
    case Outcome::UndefinedInstruction: return kExitUndefinedInstruction;
    case Outcome::LengthError: return kExitLengthError;
    case Outcome::UnknownError: return kExitUnknownError;
    case Outcome::TimedOut: return kExitTimedOut;
    case Outcome::OpenFailed: return kExitOpenFailed;
    case Outcome::NotStarted: return kExitInternalError;
    case Outcome::LineLost: return kExitLineLost;
    case Outcome::NotSent: return kExitLineLost;
    }
    return kExitInternalError;
}

const char* OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success: return "Success";
    case Outcome::ChecksumError: return "Checksum error";
    case Outcome::UndefinedInstruction: return "Undefined instruction";
    case Outcome::LengthError: return "Length error";
    case Outcome::UnknownError: return "Unknown error";
    case Outcome::TimedOut: return "Timed out";
    case Outcome::OpenFailed: return "Open failed";
    case Outcome::NotStarted: return "Not started";
    case Outcome::LineLost: return "Line lost";
    case Outcome::NotSent: return "Not sent";
    }
    return "";
}

}  // namespace rq::cli
