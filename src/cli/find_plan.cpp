#include "cli/find_plan.h"

#include <algorithm>
#include <climits>
#include <string>

#include "cli/id_list.h"
#include "protocol/numbers.h"
#include "protocol/probe.h"

namespace rq::cli {

namespace {

std::optional<int> PositiveNumber(const std::string& text)
{
    const auto value = protocol::ParseUnsignedRequired(text);
    if (!value || *value == 0 || *value > static_cast<std::uint32_t>(INT_MAX) || text.find('-') != std::string::npos)
        return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<std::uint8_t> HexByte(std::string text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return static_cast<std::uint8_t>(std::stoul(text, nullptr, 16));
}

}  // namespace

FindPlan PlanFindSigns(const Arguments& arguments, const SavedSetup* saved)
{
    FindPlan plan;
    auto fail = [&plan](const std::string& message) {
        plan.error = "find-signs: " + message;
        return plan;
    };
    if (arguments.words.size() > 1) return fail("takes no arguments (the IDs go with --ids LIST)");
    if (arguments.script || arguments.repeat || arguments.hex || arguments.reopen)
        return fail("--script, --repeat, --hex and --reopen do not apply");
    if (arguments.encoding != EncodingChoice::Saved) return fail("--unicode and --multibyte do not apply");

    // The ports: a list is one bus each, searched at once.
    const std::string ports = arguments.port ? *arguments.port : saved ? saved->port : std::string();
    if (ports.empty()) return fail("no serial port: give --port PATH (or --from DIR)");
    for (std::size_t start = 0;;) {
        const std::size_t end = ports.find(',', start);
        const std::string port = ports.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (port.empty()) return fail("--port " + ports + " names an empty port");
        if (std::find(plan.ports.begin(), plan.ports.end(), port) != plan.ports.end())
            return fail("--port " + ports + " names " + port + " twice");
        plan.ports.push_back(port);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    plan.parallel = plan.ports.size() > 1;

    // Frames carry an address unless told otherwise, or the model locks the ID.
    const bool addressed = !arguments.noAddress && !(saved && !saved->idAddressing && !arguments.ids && !arguments.id);
    if (!addressed) {
        if (arguments.ids || arguments.id) return fail("--no-address and --ids exclude each other");
        plan.search.ids = {std::nullopt};
    } else if (arguments.id || arguments.ids) {
        const IdListResult list = ParseIdList(arguments.id ? *arguments.id : *arguments.ids);
        if (!list.error.empty()) return fail((arguments.id ? "--id: " : "--ids: ") + list.error);
        plan.search.ids.assign(list.ids.begin(), list.ids.end());
    } else {
        for (int id = 0; id <= 255; ++id) plan.search.ids.push_back(static_cast<std::uint8_t>(id));
    }

    int own = saved ? static_cast<int>(saved->baud) : 9600;
    if (arguments.baud) {
        const auto baud = PositiveNumber(*arguments.baud);
        if (!baud) return fail("--baud " + *arguments.baud + " is not a positive whole decimal number");
        own = *baud;
    }
    if (arguments.bauds) {
        for (std::size_t start = 0;;) {
            const std::size_t end = arguments.bauds->find(',', start);
            const std::string item =
                arguments.bauds->substr(start, end == std::string::npos ? std::string::npos : end - start);
            const auto baud = PositiveNumber(item);
            if (!baud) return fail("--bauds: \"" + item + "\" is not a positive whole decimal number");
            if (std::find(plan.search.bauds.begin(), plan.search.bauds.end(), *baud) != plan.search.bauds.end())
                return fail("--bauds names " + item + " twice");
            plan.search.bauds.push_back(*baud);
            if (end == std::string::npos) break;
            start = end + 1;
        }
    } else {
        plan.search.bauds = rq::serial::RatesOwnFirst(own);
    }

    plan.search.fullWaitMs = kLongestAnswerMs;
    plan.search.waitMs = kDefaultProbeWaitMs;
    if (arguments.wait) {
        const auto wait = PositiveNumber(*arguments.wait);
        if (!wait || *wait > kLongestAnswerMs)
            return fail("--wait " + *arguments.wait + " is not a number of milliseconds from 1 to " +
                        std::to_string(kLongestAnswerMs));
        plan.search.waitMs = *wait;
    }

    plan.search.secondCode = protocol::kSecondProbeCode;
    plan.probeCode = protocol::kProbeCode;
    if (arguments.probeCode) {
        const auto code = HexByte(*arguments.probeCode);
        if (!code) return fail("--probe-code " + *arguments.probeCode + " is not a byte in hex (00 to FF)");
        if (protocol::IsCommandCode(*code))
            return fail("--probe-code " + *arguments.probeCode + " is a command a sign carries out");
        plan.probeCode = *code;
        if (*code == protocol::kSecondProbeCode) plan.search.secondCode = protocol::kProbeCode;
    }
    plan.search.probeCode = plan.probeCode;
    return plan;
}

}  // namespace rq::cli
