#include "serial/sign_search.h"

#include <algorithm>
#include <cstddef>
#include <set>

namespace rq::serial {

namespace {

using Kind = ProbeAnswer::Kind;

// The status a sign answers a command code it does not know with.
constexpr std::uint8_t kUndefinedInstruction = 0xF1;

class Search {
public:
    Search(const SearchSettings& settings, const Prober& probe, const SearchProgress& progress)
        : settings(settings), probe(probe), progress(progress),
          total(settings.ids.size() * settings.bauds.size())
    {
    }

    SearchResult Run()
    {
        for (const int baud : settings.bauds) {
            if (!SearchRate(baud)) break;
        }
        return result;
    }

private:
    // False when the search must end (stopped, or the line failed).
    bool SearchRate(int baud)
    {
        const std::vector<std::optional<std::uint8_t>>& ids = settings.ids;
        const std::size_t firstOfRate = result.found.size();
        // A lone probe (a line without addresses) can afford the full wait.
        const int wait = ids.size() == 1 ? settings.fullWaitMs : settings.waitMs;
        if (ids.size() > 1 || (!ids.empty() && ids.front())) {
            total += 1;
            const ProbeAnswer plain = Ask(std::nullopt, baud, wait, settings.probeCode);
            if (!Going()) return false;
            // A sign that reads no address does not know the code: F1. An
            // addressed one may call the frame too short for an address and
            // a code: F2, and is not that sign.
            if (plain.kind == Kind::Answered && plain.status == kUndefinedInstruction) {
                total += 1;
                const ProbeAnswer second = Ask(std::nullopt, baud, wait, settings.secondCode);
                if (!Going()) return false;
                if (second.kind == Kind::Answered && second.status == kUndefinedInstruction) {
                    Found(std::nullopt, baud, plain);
                    return true;
                }
            }
        }
        std::vector<ProbeAnswer> answers;
        for (const auto& id : ids) {
            answers.push_back(Ask(id, baud, wait, settings.probeCode));
            if (!Going()) return false;
        }

        // Which probes to ask again with the full wait: the unanswered ones
        // whose answer may have come late, at a later probe; and a hit after
        // such probes, which may be one of theirs (or hide one of theirs
        // behind its own).
        std::set<std::size_t> suspects;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            // Bytes dropped before probe i's frame: a late answer to one before.
            if (answers[i].lateBytes) AddSilentBefore(answers, i, suspects);
            if (answers[i].kind != Kind::Answered) continue;
            if (!SilentBefore(answers, i)) {
                Found(ids[i], baud, answers[i]);
                continue;
            }
            AddSilentBefore(answers, i, suspects);
            suspects.insert(i);
        }
        for (const std::size_t i : suspects) {
            const ProbeAnswer again = AskAgain(ids[i], baud);
            if (!Going()) return false;
            if (again.kind == Kind::Answered) Found(ids[i], baud, again);
        }
        std::stable_sort(result.found.begin() + static_cast<std::ptrdiff_t>(firstOfRate), result.found.end(),
                         [](const FoundSign& a, const FoundSign& b) { return a.id < b.id; });
        return true;
    }

    // The unanswered probes sent within the longest answer time before probe
    // `i` ended: those whose late answer may have come at `i`.
    void AddSilentBefore(const std::vector<ProbeAnswer>& answers, std::size_t i, std::set<std::size_t>& suspects) const
    {
        // Probe j's answer can come after probe i started while the probes
        // from j up to i took less than the longest answer time.
        double reach = 0.0;
        for (std::size_t j = i; j-- > 0;) {
            reach += answers[j].elapsedMs;
            if (reach > settings.fullWaitMs) break;
            if (answers[j].kind == Kind::Silent) suspects.insert(j);
        }
    }

    bool SilentBefore(const std::vector<ProbeAnswer>& answers, std::size_t i) const
    {
        std::set<std::size_t> silent;
        AddSilentBefore(answers, i, silent);
        return !silent.empty();
    }

    ProbeAnswer AskAgain(const std::optional<std::uint8_t>& id, int baud)
    {
        ++total;
        return Ask(id, baud, settings.fullWaitMs, settings.probeCode);
    }

    ProbeAnswer Ask(const std::optional<std::uint8_t>& id, int baud, int wait, std::uint8_t code)
    {
        ProbeAnswer answer = probe(id, baud, wait, code);
        ++result.probes;
        if (answer.kind == Kind::LineFailed) result.failure = answer.reason.empty() ? "the line failed" : answer.reason;
        if (result.failure.empty() && progress && !progress(result.probes, total, baud, id, result.found))
            result.stopped = true;
        return answer;
    }

    bool Going() const { return !result.stopped && result.failure.empty(); }

    void Found(const std::optional<std::uint8_t>& id, int baud, const ProbeAnswer& answer)
    {
        for (const FoundSign& sign : result.found)
            if (sign.id == id && sign.baud == baud) return;
        result.found.push_back(FoundSign{id, baud, answer.status, answer.replyMs});
    }

    const SearchSettings& settings;
    const Prober& probe;
    const SearchProgress& progress;
    std::size_t total;
    SearchResult result;
};

}  // namespace

std::vector<int> RatesOwnFirst(int own)
{
    static const int offered[] = {9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000};
    std::vector<int> rates = {own};
    for (const int rate : offered)
        if (rate != own) rates.push_back(rate);
    return rates;
}

SearchResult FindSigns(const SearchSettings& settings, const Prober& probe, const SearchProgress& progress)
{
    return Search(settings, probe, progress).Run();
}

}  // namespace rq::serial
