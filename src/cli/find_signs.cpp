#include "cli/find_signs.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>
#include <wx/datetime.h>
#include <wx/wxcrt.h>

#include "cli/console.h"
#include "cli/json_reporter.h"
#include "cli/log_reporter.h"
#include "cli/progress_reporter.h"
#include "cli/send_run.h"
#include "cli/send_session.h"
#include "protocol/probe.h"
#include "protocol/status.h"

namespace rq::cli {

namespace {

using rq::serial::FoundSign;
using rq::serial::ProbeAnswer;

// Hands each probe's lines to the log in one piece, whichever port's thread
// made them.
class HeldReporter : public Reporter {
public:
    HeldReporter(Reporter* shared, std::mutex& sharedMutex) : shared(shared), sharedMutex(sharedMutex) {}

    void Line(const std::string& text, rq::serial::Rgb colour, bool bold) override
    {
        // The worker's one time-stamped orange line: bytes dropped before the
        // frame, a late answer to a probe before it.
        if (colour == rq::serial::ORANGE && text.compare(0, blank.size(), blank) != 0) lateBytes = true;
        // The answer's time: from the frame's write to the reply's first byte.
        if (colour == rq::serial::GREEN) writtenAt = rq::serial::PrefixTimeMs(text);
        if (colour == rq::serial::BLUE) readAt = rq::serial::PrefixTimeMs(text);
        if (shared) lines.push_back({text, colour, bold});
    }
    // Whether the last probe's lines told of bytes dropped; cleared.
    bool TakeLateBytes() { return std::exchange(lateBytes, false); }
    // The last probe's answer time as its lines stamp it; cleared.
    std::optional<double> TakeReplyMs()
    {
        std::optional<double> ms;
        if (writtenAt && readAt) ms = *readAt >= *writtenAt ? *readAt - *writtenAt : *readAt + 86400000.0 - *writtenAt;
        writtenAt.reset();
        readAt.reset();
        return ms;
    }
    void TransactionFinished(const PlannedTransaction& transaction, const TransactionRecord& record) override
    {
        if (!shared) return;
        std::lock_guard<std::mutex> lock(sharedMutex);
        shared->TransactionStarted(transaction);
        for (const HeldLine& line : lines) shared->Line(line.text, line.colour, line.bold);
        lines.clear();
        shared->TransactionFinished(transaction, record);
    }
    // Lines after the last probe (the line closed at the end).
    void FlushLeft()
    {
        if (!shared) return;
        std::lock_guard<std::mutex> lock(sharedMutex);
        for (const HeldLine& line : lines) shared->Line(line.text, line.colour, line.bold);
        lines.clear();
    }

private:
    struct HeldLine {
        std::string text;
        rq::serial::Rgb colour;
        bool bold;
    };
    Reporter* shared;
    std::mutex& sharedMutex;
    std::vector<HeldLine> lines;
    const std::string blank = rq::serial::BlankPrefix().utf8_string();
    bool lateBytes = false;
    std::optional<double> writtenAt, readAt;
};

// The progress line on a terminal: probes done of all ports, signs found,
// time elapsed and left, written over as rq-m4x-send's other runs do.
class ProgressLine {
public:
    ProgressLine(std::FILE* out, std::size_t total) : out(out), total(total), start(std::chrono::steady_clock::now()) {}

    void Add(std::size_t moreTotal, std::size_t moreFound)
    {
        std::lock_guard<std::mutex> lock(mutex);
        total += moreTotal;
        ++done;
        signs += moreFound;
        if (!out) return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::string text = ProgressReporter::Text(done, std::max(done, total), 0, elapsed);
        // "12/257  found 1  elapsed 0:02  left 0:31"
        text.replace(text.find("failed 0"), 8, "found " + std::to_string(signs));
        PrintText(out, "\r" + text + std::string(text.size() < shown ? shown - text.size() : 0, ' '));
        std::fflush(out);
        shown = text.size();
    }
    void Erase()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!out || shown == 0) return;
        PrintText(out, "\r" + std::string(shown, ' ') + "\r");
        std::fflush(out);
        shown = 0;
    }

private:
    std::mutex mutex;
    std::FILE* out;
    std::size_t total;
    std::size_t done = 0;
    std::size_t signs = 0;
    std::size_t shown = 0;  // the length of the line on the terminal
    const std::chrono::steady_clock::time_point start;
};

// One port's search through the session, and how it ended.
struct PortSearch {
    std::string port;
    rq::serial::SearchResult result;
    Outcome failure = Outcome::Success;  // the line's failure, when it failed
};

void SearchPort(const FindPlan& plan, PortSearch& search, Reporter* log, std::mutex& logMutex, ProgressLine& progress)
{
    HeldReporter held(log, logMutex);
    SendSession session(held, true);
    std::size_t knownTotal = plan.search.ids.size() * plan.search.bauds.size();
    std::size_t knownFound = 0;
    const rq::serial::Prober probe = [&](std::optional<std::uint8_t> id, int baud, int waitMs, std::uint8_t code) {
        PlannedTransaction transaction;
        transaction.request.address = id;
        transaction.request.port = search.port;
        transaction.request.baud = baud;
        transaction.request.title = "Find Signs";
        transaction.request.replyWaitMs = waitMs;
        // The settle after a silent probe is as short as a probe's wait: a
        // late answer caught in it, or one that comes later still, is traced
        // back by the search.
        transaction.request.settleMs = plan.search.waitMs;
        transaction.frame = rq::protocol::ProbeFrame(id, code);
        transaction.words = {kFindSignsWord};
        const TransactionRecord record = session.Transact(transaction, false);
        held.TransactionFinished(transaction, record);
        ProbeAnswer answer;
        answer.replyMs = held.TakeReplyMs().value_or(record.milliseconds);
        answer.elapsedMs = record.milliseconds;
        answer.lateBytes = held.TakeLateBytes();
        if (record.reply && !record.reply->empty()) {
            answer.kind = ProbeAnswer::Kind::Answered;
            answer.status = record.reply->front();
        } else if (record.outcome != Outcome::TimedOut) {
            answer.kind = ProbeAnswer::Kind::LineFailed;
            answer.reason = record.reason.empty() ? std::string(OutcomeName(record.outcome)) : record.reason;
            search.failure = record.outcome;
        }
        return answer;
    };
    const rq::serial::SearchProgress onProgress = [&](std::size_t, std::size_t total, int, std::optional<std::uint8_t>,
                                                      const std::vector<FoundSign>& found) {
        // Tracing late answers adds probes to the total.
        progress.Add(total > knownTotal ? total - knownTotal : 0, found.size() - knownFound);
        knownTotal = std::max(knownTotal, total);
        knownFound = found.size();
        return !StopRequested();
    };
    search.result = rq::serial::FindSigns(plan.search, probe, onProgress);
    session.EndRun();
    held.FlushLeft();
}

std::string SignLine(const std::string& port, const FoundSign& sign)
{
    const rq::protocol::StatusMeaning meaning = rq::protocol::DecodeStatusByte(sign.status);
    std::string line = port.empty() ? std::string() : port + "  ";
    line += sign.id ? "ID " + std::to_string(*sign.id) : std::string("The sign (no address)");
    char status[8];
    std::snprintf(status, sizeof status, "%02X", sign.status);
    line += " at " + std::to_string(sign.baud) + " baud: " + status + " " + meaning.text + " in " +
            std::to_string(static_cast<long>(std::lround(sign.replyMs))) + " ms";
    return line;
}

std::string SignRecord(const std::string& port, const FoundSign& sign)
{
    nlohmann::ordered_json object;
    object["port"] = port;
    object["id"] = sign.id ? nlohmann::ordered_json(*sign.id) : nlohmann::ordered_json(nullptr);
    object["baud"] = sign.baud;
    object["reply"] = HexBytes({sign.status});
    object["status"] = OutcomeKey(OutcomeOfStatus(sign.status));
    object["ms"] = std::round(sign.replyMs * 1000.0) / 1000.0;
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

int RunFindSigns(const Arguments& arguments, const FindPlan& plan, const std::string& commandLine)
{
    std::unique_ptr<LogFileReporter> log;
    if (arguments.log) {
        std::FILE* file = wxFopen(wxString::FromUTF8(arguments.log->c_str()), "ab");
        if (!file) {
            PrintText(stderr, "rq-m4x-send: cannot open the log file " + *arguments.log + "\n");
            return kExitBadArguments;
        }
        std::vector<LoggedLine> lines;
        for (const std::string& port : plan.ports) lines.push_back({port, plan.search.bauds.front()});
        const std::string header = LogHeader(LogHeaderTime(wxDateTime::Now()), lines, commandLine);
        log = std::make_unique<LogFileReporter>(file, header, true, "", plan.ports.size() > 1);
    }

    const bool showProgress = IsTerminal(stderr) && !arguments.quiet && !(arguments.json && IsTerminal(stdout));
    ProgressLine progress(showProgress ? stderr : nullptr,
                          plan.ports.size() * plan.search.ids.size() * plan.search.bauds.size());
    std::mutex logMutex;
    std::vector<PortSearch> searches(plan.ports.size());
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (std::size_t p = 0; p < plan.ports.size(); ++p) {
        searches[p].port = plan.ports[p];
        if (plan.parallel) {
            threads.emplace_back(SearchPort, std::cref(plan), std::ref(searches[p]), log.get(), std::ref(logMutex),
                                 std::ref(progress));
        } else {
            SearchPort(plan, searches[p], log.get(), logMutex, progress);
        }
    }
    for (std::thread& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.Erase();

    std::size_t found = 0, probes = 0;
    int status = kExitTimedOut;
    std::string failures;
    for (const PortSearch& search : searches) {
        const std::string shownPort = plan.ports.size() > 1 ? search.port : std::string();
        for (const FoundSign& sign : search.result.found)
            PrintText(stdout, (arguments.json ? SignRecord(search.port, sign) : SignLine(shownPort, sign)) + "\n");
        found += search.result.found.size();
        probes += search.result.probes;
        if (!search.result.failure.empty()) {
            failures += "rq-m4x-send: " + search.port + ": " + search.result.failure + "\n";
            if (status == kExitTimedOut) status = ExitStatusOf(search.failure);
        }
    }
    char summary[160];
    std::snprintf(summary, sizeof summary, "Signs found: %zu\nProbes: %zu in %.1f s (wait %d ms, code %02X)\n", found,
                  probes, seconds, plan.search.waitMs, plan.probeCode);
    PrintText(arguments.json ? stderr : stdout, summary);
    if (StopRequested()) PrintText(arguments.json ? stderr : stdout, "Interrupted: the search was not finished\n");
    PrintText(stderr, failures);
    std::fflush(stdout);
    if (log && !log->Close()) {
        PrintText(stderr, "rq-m4x-send: cannot write to the log file " + *arguments.log + "\n");
        if (found > 0) return kExitOutputFailed;
    }
    if (StopRequested()) return kExitInterrupted;
    return found > 0 ? kExitSuccess : status;
}

}  // namespace rq::cli
