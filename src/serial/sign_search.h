#pragma once
// Finding the signs on a line: each ID of a list probed at each rate of a
// list (protocol/probe.h), one probe per ID and rate, with a wait short
// enough that a whole rate takes well under a minute.
//
// A sign that answers later than that wait (within the longest a sign may
// take) is still found where it is: its answer, dropped as a late byte after
// its own probe, or caught by a later probe, is traced back to the probes
// sent within that longest time before it, which are asked again with the
// full wait. A hit is taken as it stands only when no probe sent within that
// time before it went unanswered.
//
// A sign that takes frames without an address would read an addressed probe
// to ID 67 as a brightness command, to ID 154 as its factory settings. So each
// rate of an addressed search starts with probes without an address: when a
// sign answers them under both codes with F1 "Undefined instruction", it is
// that sign's rate, and no addressed probe is sent at it. Plain C++: the prober is handed in (the
// command line's session, the window's dialog, a stand-in in tests).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rq::serial {

// What one probe met.
struct ProbeAnswer {
    enum class Kind {
        Answered,    // a status byte came within the wait
        Silent,      // none came
        LineFailed,  // the line could not be opened, or went away
    };
    Kind kind = Kind::Silent;
    std::uint8_t status = 0;
    double replyMs = 0.0;    // from the probe's start to its answer
    double elapsedMs = 0.0;  // the whole probe, until the next may start
    // Bytes were dropped before this probe's frame could be answered: a late
    // answer to a probe before it.
    bool lateBytes = false;
    std::string reason;  // LineFailed: what the line said
};

struct FoundSign {
    std::optional<std::uint8_t> id;  // none: frames without an address
    int baud = 0;
    std::uint8_t status = 0;
    double replyMs = 0.0;
};

struct SearchSettings {
    // The IDs to probe; one empty entry probes once without an address.
    std::vector<std::optional<std::uint8_t>> ids;
    std::vector<int> bauds;
    int waitMs = 100;      // a probe's wait for its answer
    int fullWaitMs = 500;  // the longest a sign may take to answer
    // The probe's command code, and a second one that tells a sign without
    // an address from an addressed one whose ID is the first code.
    std::uint8_t probeCode = 0;
    std::uint8_t secondCode = 0;
};

// One probe of `id` at `baud` with command code `code`, waiting at most
// `waitMs` for the answer.
using Prober = std::function<ProbeAnswer(std::optional<std::uint8_t> id, int baud, int waitMs, std::uint8_t code)>;
// After each probe: how many of how many are done (the total grows when
// answers must be traced), the rate and the ID probed, and the signs found so
// far. Returns false to stop the search.
using SearchProgress = std::function<bool(std::size_t done, std::size_t total, int baud,
                                          std::optional<std::uint8_t> id, const std::vector<FoundSign>& found)>;

struct SearchResult {
    std::vector<FoundSign> found;  // in the order of the rates, then of the IDs
    std::size_t probes = 0;
    bool stopped = false;          // the progress callback said stop
    std::string failure;           // the line failed: its reason; the search ended there
};

// The rates the serial settings dialog offers, `own` (the model's) first.
std::vector<int> RatesOwnFirst(int own);

SearchResult FindSigns(const SearchSettings& settings, const Prober& probe, const SearchProgress& progress = nullptr);

}  // namespace rq::serial
