#pragma once
// A run of rq-m4x-send as the list of transactions it will make: one command
// (repeated, or sent to each ID of --ids), or every line of a script. The
// whole list is built and checked before anything is sent, so a mistake on
// any line sends nothing. Plain C++, like the request it builds on.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/script_text.h"
#include "cli/send_request.h"

namespace rq::cli {

// One transaction, made request.repeat times in a row.
struct PlannedTransaction {
    Request request;                  // its address is this transaction's
    std::vector<std::uint8_t> frame;  // the bytes to send
    std::vector<std::string> words;   // the command and its arguments as written
    int line = 0;                     // the script line, 0 outside a script
};

struct Plan {
    std::vector<PlannedTransaction> transactions;
    // Over an ID list or a script: each transaction is headed by its ID (and
    // line), and the summary names the IDs that did not succeed.
    bool fleet = false;
    // Go on after a transaction that did not succeed. A plain --repeat always
    // does, as it measures; a fleet run only with --keep-going.
    bool keepGoing = false;
    // A summary follows the transactions (fleet runs and --repeat).
    bool summary = false;
    // The ports at once, each on a thread of its own (--parallel, or a
    // --port list).
    bool parallel = false;
    std::vector<std::string> warnings;  // each once, with its script line
    std::string error;                  // set when nothing may be sent

    // Every transaction counted with its repeats.
    std::size_t Total() const;
    // The different ports the transactions go to.
    std::size_t PortCount() const;
};

// The command of the command line.
Plan PlanCommand(const Arguments& arguments, const SavedSetup* saved, MultibyteConverter toMultibyte);

// The lines of a script; `arguments` are the command line's options, which
// apply to every line. Errors read "FILE:LINE: what is wrong".
Plan PlanScript(const Arguments& arguments, const ScriptResult& script, const std::string& fileName,
                const SavedSetup* saved, MultibyteConverter toMultibyte);

}  // namespace rq::cli
