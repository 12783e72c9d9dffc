#include "cli/send_plan.h"

#include <algorithm>

#include "cli/id_list.h"
#include "protocol/frame.h"

namespace rq::cli {

namespace {

// The transactions of one command: each ID of its list (or its one address),
// each made `repeat` times. Returns the error, empty when all could be built.
std::string AddCommandOnPort(Plan& plan, const Arguments& arguments, const SavedSetup* saved,
                             MultibyteConverter toMultibyte, int line, const std::string& warningPrefix)
{
    std::vector<Arguments> perId;
    if (arguments.ids) {
        const IdListResult list = ParseIdList(*arguments.ids);
        if (!list.error.empty()) return list.error;
        // One new ID given to many controllers would leave them all answering to it.
        if (list.ids.size() > 1 && !arguments.words.empty() && arguments.words[0] == SubcommandWord(Subcommand::ChangeId))
            return "change-id gives one controller a new ID: address it with --id N, not a list";
        for (std::uint8_t id : list.ids) {
            Arguments single = arguments;
            single.ids.reset();
            single.id = std::to_string(id);
            perId.push_back(std::move(single));
        }
    } else {
        perId.push_back(arguments);
    }

    for (std::size_t i = 0; i < perId.size(); ++i) {
        RequestResult built = BuildRequest(perId[i], saved, toMultibyte);
        if (!built.request) return built.error;
        Request& request = *built.request;
        // The same values give the same warnings for every ID: say them once.
        if (i == 0) {
            for (const std::string& warning : request.warnings) plan.warnings.push_back(warningPrefix + warning);
        }

        std::uint8_t buffer[rq::protocol::kFrameBufferSize];
        const std::size_t length = rq::protocol::EncodeCommand(request.command, request.address, buffer);
        if (length == 0) return "the frame could not be built from these values";

        PlannedTransaction planned;
        planned.frame.assign(buffer, buffer + length);
        planned.words = arguments.words;
        planned.line = line;
        planned.request = std::move(request);
        plan.transactions.push_back(std::move(planned));
    }
    return {};
}

// A --port list ("/dev/ttyUSB0,/dev/ttyUSB1") gives the command to each port
// in turn, and makes the run parallel.
std::string AddCommand(Plan& plan, const Arguments& arguments, const SavedSetup* saved,
                       MultibyteConverter toMultibyte, int line, const std::string& warningPrefix)
{
    if (!arguments.port || arguments.port->find(',') == std::string::npos)
        return AddCommandOnPort(plan, arguments, saved, toMultibyte, line, warningPrefix);
    plan.parallel = true;
    const std::string& list = *arguments.port;
    std::vector<std::string> named;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        Arguments onPort = arguments;
        onPort.port = list.substr(start, end - start);
        if (onPort.port->empty()) return "--port " + list + " names an empty port";
        // Each port's line runs its transactions once: named twice, the bus would get them twice.
        if (std::find(named.begin(), named.end(), *onPort.port) != named.end())
            return "--port " + list + " names " + *onPort.port + " twice";
        named.push_back(*onPort.port);
        const std::string error = AddCommandOnPort(plan, onPort, saved, toMultibyte, line, warningPrefix);
        if (!error.empty()) return error;
        start = end + 1;
    }
    return {};
}

// Options that shape the whole run and so belong on the command line.
std::string RunWideOptionIn(const Arguments& line)
{
    if (line.help) return "--help";
    if (line.version) return "--version";
    if (line.listPorts) return "--list-ports";
    if (line.quiet) return "--quiet";
    if (line.hex) return "--hex";
    if (line.json) return "--json";
    if (line.keepGoing) return "--keep-going";
    if (line.from) return "--from";
    if (line.script) return "--script";
    if (line.log) return "--log";
    if (line.reopen) return "--reopen";
    if (line.parallel) return "--parallel";
    return {};
}

bool IsMessage(const Arguments& arguments)
{
    if (arguments.words.empty()) return false;
    const auto subcommand = FindSubcommand(arguments.words[0]);
    return subcommand == Subcommand::Message || subcommand == Subcommand::DefaultMessage;
}

}  // namespace

std::size_t Plan::Total() const
{
    std::size_t total = 0;
    for (const PlannedTransaction& transaction : transactions) total += static_cast<std::size_t>(transaction.request.repeat);
    return total;
}

std::size_t Plan::PortCount() const
{
    std::vector<const std::string*> ports;
    for (const PlannedTransaction& transaction : transactions) {
        const auto same = [&transaction](const std::string* port) { return *port == transaction.request.port; };
        if (std::find_if(ports.begin(), ports.end(), same) == ports.end()) ports.push_back(&transaction.request.port);
    }
    return ports.size();
}

Plan PlanCommand(const Arguments& arguments, const SavedSetup* saved, MultibyteConverter toMultibyte)
{
    Plan plan;
    plan.parallel = arguments.parallel;
    plan.error = AddCommand(plan, arguments, saved, toMultibyte, 0, "");
    if (!plan.error.empty()) plan.transactions.clear();
    // Many ports are a fleet too: each transaction is headed by its port.
    plan.fleet = arguments.ids.has_value() || plan.PortCount() > 1;
    plan.keepGoing = arguments.keepGoing || !plan.fleet;
    plan.summary = plan.fleet || plan.Total() > 1;
    return plan;
}

Plan PlanScript(const Arguments& arguments, const ScriptResult& script, const std::string& fileName,
                const SavedSetup* saved, MultibyteConverter toMultibyte)
{
    Plan plan;
    plan.fleet = true;
    plan.summary = true;
    plan.keepGoing = arguments.keepGoing;
    plan.parallel = arguments.parallel;
    auto fail = [&plan, &fileName](int line, const std::string& message) {
        plan.transactions.clear();
        plan.warnings.clear();
        plan.error = fileName + ":" + std::to_string(line) + ": " + message;
        return plan;
    };

    if (!script.error.empty()) return fail(script.errorLine, script.error);
    if (!arguments.words.empty()) {
        plan.error = "a command on the command line as well as --script " + fileName + "; put it in the script";
        return plan;
    }
    if (script.lines.empty()) {
        plan.error = fileName + ": the script holds no command";
        return plan;
    }

    for (const ScriptLine& line : script.lines) {
        const ParsedArguments parsed = ParseArguments(line.words);
        if (!parsed.error.empty()) return fail(line.number, parsed.error);
        const Arguments& own = parsed.arguments;
        const std::string runWide = RunWideOptionIn(own);
        if (!runWide.empty())
            return fail(line.number, runWide + " applies to the whole run: give it on the command line");

        // The line's own options override the command line's.
        Arguments merged = arguments;
        merged.script.reset();
        merged.words = own.words;
        if (own.port) merged.port = own.port;
        if (own.baud) merged.baud = own.baud;
        if (own.repeat) merged.repeat = own.repeat;
        if (own.id || own.ids) {
            merged.id = own.id;
            merged.ids = own.ids;
        }
        if (own.encoding != EncodingChoice::Saved) merged.encoding = own.encoding;
        // An encoding chosen for the whole run concerns only the message lines.
        else if (!IsMessage(merged)) merged.encoding = EncodingChoice::Saved;

        const std::string prefix = fileName + ":" + std::to_string(line.number) + ": ";
        const std::string error = AddCommand(plan, merged, saved, toMultibyte, line.number, prefix);
        if (!error.empty()) return fail(line.number, error);
    }
    return plan;
}

}  // namespace rq::cli
