// rq-m4x-send: one command to an LED sign controller from a script, through
// the same encoders, worker and log lines as the "RQ-M4x - LED Test" window.
// Arguments are judged in src/cli (send_arguments, send_request); this file
// only wires them to the toolkit and the port.

#include <cstdio>
#include <cstdlib>
#include <optional>

#include <wx/init.h>

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/saved_setup.h"
#include "cli/send_arguments.h"
#include "cli/send_request.h"
#include "cli/send_session.h"
#include "platform/text_encoding.h"
#include "protocol/commands.h"
#include "protocol/frame.h"

namespace {

int BadArguments(const std::string& message)
{
    std::fprintf(stderr, "rq-m4x-send: %s\n", message.c_str());
    return rq::cli::kExitBadArguments;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace rq::cli;

    const ParsedArguments parsed = ParseArguments(CommandLineArguments(argc, argv));
    if (!parsed.error.empty()) return BadArguments(parsed.error);
    const Arguments& arguments = parsed.arguments;
    if (arguments.help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitSuccess;
    }

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

    const RequestResult built = BuildRequest(arguments, saved ? &*saved : nullptr, &rq::platform::ToControllerMultibyte);
    if (!built.request) return BadArguments(built.error);
    const Request& request = *built.request;
    for (const std::string& warning : request.warnings) std::fprintf(stderr, "rq-m4x-send: warning: %s\n", warning.c_str());

    std::uint8_t frame[rq::protocol::kFrameBufferSize];
    const std::size_t length = rq::protocol::EncodeCommand(request.command, request.address, frame);
    if (length == 0) return BadArguments("the frame could not be built from these values");

    if (request.hex) {
        for (std::size_t i = 0; i < length; ++i) std::printf(i == 0 ? "%.2X" : " %.2X", frame[i]);
        std::printf("\n");
        return kExitSuccess;
    }

    SendSession session(request, PrepareColourOutput());
    const int status = session.Run(frame, length);
    // The last worker deletes itself on its own thread just after its final
    // event. The toolkit's clean-up at exit frees the mutex with which such a
    // thread still signals its end, and crashes now and then; so the tool
    // ends without it, once everything it printed is out.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
