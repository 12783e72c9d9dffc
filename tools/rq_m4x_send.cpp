// rq-m4x-send: commands to LED sign controllers from a script, through the
// same encoders, worker and log lines as the "RQ-M4x - LED Test" window.
// Arguments are judged in src/cli (send_arguments, send_plan, send_request),
// transactions run in send_session and are reported by the reporters; this
// file only reads the files named on the command line and wires the steps.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include <wx/datetime.h>
#include <wx/ffile.h>
#include <wx/init.h>
#include <wx/wxcrt.h>

#include "platform/running_mark.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/find_plan.h"
#include "cli/find_signs.h"
#include "cli/human_reporter.h"
#include "cli/json_reporter.h"
#include "cli/log_reporter.h"
#include "cli/progress_reporter.h"
#include "cli/reporter.h"
#include "cli/saved_setup.h"
#include "cli/script_text.h"
#include "cli/send_arguments.h"
#include "cli/send_plan.h"
#include "cli/send_report.h"
#include "cli/send_run.h"
#include "cli/send_session.h"
#include "platform/port_names.h"
#include "platform/text_encoding.h"

namespace {

using namespace rq::cli;

int BadArguments(const std::string& message)
{
    PrintText(stderr, "rq-m4x-send: " + message + "\n");
    return kExitBadArguments;
}

// The whole script, from a file or standard input.
std::optional<std::string> ReadScriptText(const std::string& name)
{
    std::string text;
    char buffer[4096];
    if (name == "-") {
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) text.append(buffer, n);
        if (std::ferror(stdin)) return std::nullopt;
        return text;
    }
    wxFFile file(wxString::FromUTF8(name.c_str()), "rb");
    if (!file.IsOpened()) return std::nullopt;
    std::size_t n;
    while ((n = file.Read(buffer, sizeof buffer)) > 0) text.append(buffer, n);
    if (file.Error()) return std::nullopt;
    return text;
}

// Standard output flushed and closed: what a script redirected to a full disk
// lost gives its own status, unless a transaction has already set one.
int WithStandardOutputWritten(int status)
{
    if (CloseWritten(stdout)) return status;
    PrintText(stderr, "rq-m4x-send: cannot write to standard output\n");
    return status == kExitSuccess ? kExitOutputFailed : status;
}

void SayLogLost(const std::string& name)
{
    PrintText(stderr, "rq-m4x-send: cannot write to the log file " + name + "\n");
}

}  // namespace

int main(int argc, char** argv)
{
    // First, so that argument errors read well in a console too.
    const ConsoleSettingsGuard console;
    const std::vector<std::string> commandLine = CommandLineArguments(argc, argv);
    const ParsedArguments parsed = ParseArguments(commandLine);
    if (!parsed.error.empty()) return BadArguments(parsed.error);
    const Arguments& arguments = parsed.arguments;
    if (arguments.help) {
        PrintText(stdout, HelpText());
        return WithStandardOutputWritten(kExitSuccess);
    }
    if (arguments.version) {
        std::fputs("rq-m4x-send " RQ_VERSION "\n", stdout);
        return WithStandardOutputWritten(kExitSuccess);
    }
    if (arguments.listPorts) {
        PrintText(stdout, PortListText(rq::platform::DescribedPorts()));
        return WithStandardOutputWritten(kExitSuccess);
    }
    if (arguments.json && arguments.hex) return BadArguments("--json and --hex exclude each other");
    if (arguments.log && arguments.hex) return BadArguments("--log records transactions, and --hex sends none");

    // An installer started meanwhile waits instead of replacing this program.
    const rq::app::RunningMark runningMark;

    // The worker posts toolkit events and the settings are toolkit INI files.
    wxInitializer toolkit;
    if (!toolkit.IsOk()) {
        std::fprintf(stderr, "rq-m4x-send: the toolkit could not be initialised\n");
        return kExitInternalError;
    }

    std::optional<SavedSetup> saved;
    if (arguments.from) {
        SavedSetupResult read = ReadSavedSetup(*arguments.from);
        if (!read.setup) return BadArguments(read.error);
        saved = std::move(read.setup);
    }
    const SavedSetup* setup = saved ? &*saved : nullptr;

    if (!arguments.words.empty() && arguments.words.front() == kFindSignsWord) {
        const FindPlan findPlan = PlanFindSigns(arguments, setup);
        if (!findPlan.error.empty()) return BadArguments(findPlan.error);
        // Ctrl-C: the probe under way ends, the signs found so far are printed.
        OnInterrupt(&RequestStop, kExitInterrupted);
        std::vector<std::string> words = {"rq-m4x-send"};
        words.insert(words.end(), commandLine.begin(), commandLine.end());
        const int status = WithStandardOutputWritten(RunFindSigns(arguments, findPlan, JoinQuoted(words)));
        std::fflush(stderr);
        RestoreConsoleSettings();
        EndProcessNow(status);
    }

    // Every transaction of the run, checked before the first is sent.
    Plan plan;
    std::string scriptName;
    if (arguments.script) {
        scriptName = *arguments.script == "-" ? "standard input" : *arguments.script;
        const std::optional<std::string> text = ReadScriptText(*arguments.script);
        if (!text) return BadArguments("cannot read the script " + scriptName);
        const ScriptDecoding decoded = DecodeScript(*text);
        if (!decoded.error.empty()) return BadArguments(scriptName + ": " + decoded.error);
        plan = PlanScript(arguments, SplitScript(decoded.text), scriptName, setup, &rq::platform::ToControllerMultibyte);
    } else {
        plan = PlanCommand(arguments, setup, &rq::platform::ToControllerMultibyte);
    }
    if (!plan.error.empty()) return BadArguments(plan.error);
    for (const std::string& warning : plan.warnings) PrintText(stderr, "rq-m4x-send: warning: " + warning + "\n");

    if (arguments.hex) {
        // Every frame the run would send, repeats included.
        for (const PlannedTransaction& transaction : plan.transactions) {
            const std::string line = HexBytes(transaction.frame) + "\n";
            for (int i = 0; i < transaction.request.repeat; ++i) std::fputs(line.c_str(), stdout);
        }
        return WithStandardOutputWritten(kExitSuccess);
    }

    // A log that cannot be written is known before anything is sent.
    std::unique_ptr<LogFileReporter> logReporter;
    if (arguments.log) {
        std::FILE* file = wxFopen(wxString::FromUTF8(arguments.log->c_str()), "ab");
        if (!file) return BadArguments("cannot open the log file " + *arguments.log);
        // Every port the run reaches, at the rate of its first transaction.
        std::vector<LoggedLine> lines;
        for (const PlannedTransaction& transaction : plan.transactions) {
            const Request& request = transaction.request;
            const auto same = [&request](const LoggedLine& line) { return line.port == request.port; };
            if (std::none_of(lines.begin(), lines.end(), same)) lines.push_back({request.port, request.baud});
        }
        std::vector<std::string> words = {"rq-m4x-send"};
        words.insert(words.end(), commandLine.begin(), commandLine.end());
        const std::string header =
            LogHeader(LogHeaderTime(wxDateTime::Now()), lines, JoinQuoted(words));
        logReporter = std::make_unique<LogFileReporter>(file, header, plan.fleet, scriptName, plan.PortCount() > 1);
        // A log that takes not even its header (a full disk) records nothing.
        if (!logReporter->WrittenSoFar()) {
            logReporter->Close();
            SayLogLost(*arguments.log);
            return kExitOutputFailed;
        }
    }

    // A long run shows how far it has got, where someone watches.
    constexpr std::size_t kProgressAbove = 20;
    std::unique_ptr<ProgressReporter> progress;
    if (plan.Total() > kProgressAbove && IsTerminal(stderr) && !arguments.quiet && !(arguments.json && IsTerminal(stdout)))
        progress = std::make_unique<ProgressReporter>(stderr, plan.Total());

    Reporters reporters;
    if (progress) reporters.Add(progress->Eraser());
    std::unique_ptr<Reporter> output;
    if (arguments.json) {
        output = std::make_unique<JsonReporter>(stdout, stderr);
    } else {
        HumanReporter::Style style;
        style.colour = PrepareColourOutput();
        style.quiet = arguments.quiet;
        style.headings = plan.fleet;
        style.scriptName = scriptName;
        style.ports = plan.PortCount() > 1;
        output = std::make_unique<HumanReporter>(stdout, style);
    }
    reporters.Add(*output);
    if (logReporter) reporters.Add(*logReporter);
    if (progress) reporters.Add(*progress);

    // Ctrl+C lets the transactions under way finish and be recorded.
    OnInterrupt(&RequestStop, kExitInterrupted);
    const bool keepOpen = !arguments.reopen;
    int status;
    if (plan.parallel) {
        status = RunPlanInParallel(
            plan, [keepOpen](Reporter& reporter) { return std::make_unique<SendSession>(reporter, keepOpen); },
            reporters);
    } else {
        SendSession session(reporters, keepOpen);
        status = RunPlan(plan, session, reporters);
    }
    if (logReporter && !logReporter->Close()) {
        SayLogLost(*arguments.log);
        if (status == kExitSuccess) status = kExitOutputFailed;
    }
    status = WithStandardOutputWritten(status);
    // The last worker deletes itself on its own thread just after its final
    // event. The toolkit's clean-up at exit frees the mutex with which such a
    // thread still signals its end, and crashes now and then; so the tool
    // ends without it, once everything it printed is out.
    std::fflush(stderr);
    RestoreConsoleSettings();
    EndProcessNow(status);
}
