#include "cli/send_arguments.h"

#include <cstring>

namespace rq::cli {

namespace {

struct SubcommandName {
    Subcommand subcommand;
    const char* word;
};

constexpr SubcommandName kSubcommands[] = {
    {Subcommand::Led, "led"},
    {Subcommand::Bright, "bright"},
    {Subcommand::Black, "black"},
    {Subcommand::Align, "align"},
    {Subcommand::Reset, "reset"},
    {Subcommand::Defaults, "defaults"},
    {Subcommand::Blinking, "blinking"},
    {Subcommand::Scroll, "scroll"},
    {Subcommand::ChangeId, "change-id"},
    {Subcommand::Message, "message"},
    {Subcommand::DefaultMessage, "default-message"},
};

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

const char* SubcommandWord(Subcommand subcommand)
{
    for (const auto& entry : kSubcommands) {
        if (entry.subcommand == subcommand) return entry.word;
    }
    return "";
}

std::optional<Subcommand> FindSubcommand(const std::string& word)
{
    for (const auto& entry : kSubcommands) {
        if (word == entry.word) return entry.subcommand;
    }
    return std::nullopt;
}

ParsedArguments ParseArguments(const std::vector<std::string>& args)
{
    ParsedArguments parsed;
    Arguments& out = parsed.arguments;
    auto fail = [&parsed](const std::string& message) {
        parsed.error = message;
        return parsed;
    };

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // After the command word "-h" is its text ("message -h"), as every
        // other word with a single dash is.
        const bool shortHelp = arg == "-h" && out.words.empty();
        if (optionsEnded || !StartsWith(arg, "-") || arg == "-" || (arg.size() > 1 && arg[1] != '-' && !shortHelp)) {
            // Words, including negative numbers such as "-1".
            out.words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }

        std::string name = arg;
        std::optional<std::string> inlineValue;
        const std::size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            name = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
        }

        // Options without a value.
        struct Flag {
            const char* name;
            bool* target;
        };
        const Flag flags[] = {{"--help", &out.help},   {"-h", &out.help},
                             {"--quiet", &out.quiet}, {"--hex", &out.hex},
                             {"--json", &out.json},   {"--keep-going", &out.keepGoing},
                             {"--version", &out.version}, {"--list-ports", &out.listPorts},
                             {"--no-address", &out.noAddress}};
        bool handled = false;
        for (const Flag& flag : flags) {
            if (name != flag.name) continue;
            if (inlineValue) return fail(name + " takes no value");
            *flag.target = true;
            handled = true;
        }
        if (handled) continue;
        if (name == "--unicode" || name == "--multibyte") {
            if (inlineValue) return fail(name + " takes no value");
            const EncodingChoice choice = name == "--unicode" ? EncodingChoice::Unicode : EncodingChoice::Multibyte;
            if (out.encoding != EncodingChoice::Saved && out.encoding != choice)
                return fail("--unicode and --multibyte exclude each other");
            out.encoding = choice;
            continue;
        }

        // How the run uses its lines.
        if (name == "--reopen" || name == "--parallel") {
            if (inlineValue) return fail(name + " takes no value");
            (name == "--reopen" ? out.reopen : out.parallel) = true;
            continue;
        }

        // Options with a value.
        struct Valued {
            const char* name;
            std::optional<std::string>* target;
            const char* placeholder;
        };
        const Valued valued[] = {{"--port", &out.port, "PATH"},   {"--baud", &out.baud, "N"},
                                 {"--id", &out.id, "N"},          {"--from", &out.from, "DIR"},
                                 {"--repeat", &out.repeat, "N"},  {"--ids", &out.ids, "LIST"},
                                 {"--script", &out.script, "FILE"}, {"--log", &out.log, "FILE"},
                                 {"--bauds", &out.bauds, "LIST"}, {"--wait", &out.wait, "MS"},
                                 {"--probe-code", &out.probeCode, "HEX"}};
        for (const Valued& option : valued) {
            if (name != option.name) continue;
            if (option.target->has_value()) return fail(name + " is given twice");
            if (inlineValue) {
                *option.target = *inlineValue;
            } else if (i + 1 < args.size() && !StartsWith(args[i + 1], "--")) {
                *option.target = args[++i];
            } else {
                return fail(name + " needs a value: " + name + " " + option.placeholder);
            }
            handled = true;
        }
        if (!handled) return fail("unknown option " + name + " (see --help)");
    }
    if (out.id && out.ids) return fail("--id and --ids exclude each other");
    return parsed;
}

std::string HelpText()
{
    return R"(Usage: rq-m4x-send [OPTIONS] COMMAND [ARGS]
  or:  rq-m4x-send [OPTIONS] --script FILE

Sends commands to RQ-M4T LED sign controllers over a serial port, as the
"RQ-M4x - LED Test" window does, and prints the window's log lines: one
command to one controller, the same command to each ID of a list, or the
lines of a script.

Commands (one per button of the window):
  led WIDTH HIGH SCAN LEVEL SPEED   "LED Set": panel size in dots, SCAN is P10,
                                    P7.62 or P4.75, LEVEL and SPEED 0..15
  bright VALUE|auto                 "Bright Set": level 0..15, 255 or auto
  black                             "Black"
  align left|center|right           "Align Set"
  reset                             "Reset LED"
  defaults                          "Defult Set" (factory settings)
  blinking on|off ON_MS OFF_MS      "Blinking Set"
  scroll ELAPSED SPEED              "Scroll Set"
  change-id NEW                     "Change ID" (needs one ID: --id, or --from
                                    with a model that addresses by ID)
  message [--unicode] TEXT          the send-message button
  default-message [--unicode] TEXT  the default-message button
  find-signs                        find which IDs answer on the line, and at
                                    which rate, without changing any sign (see
                                    below)

Options:
  --port PATH     serial port (/dev/ttyUSB0, COM3, ...), or a serial device
                  server: rfc2217://HOST:PORT or tcp://HOST:PORT. A comma-
                  separated list (COM3,COM4) sends the command to every port,
                  all at once, as --parallel does
  --baud N        baud rate (default 9600)
  --id N          controller ID 0..255: the frame carries it as its address;
                  without --id the frame carries no address
  --ids LIST      send the command to each ID of LIST in turn, one transaction
                  each; LIST is IDs 0..255 and ranges, e.g. 1-16,20,255. Each
                  transaction is headed by its ID, and a summary follows with
                  the count of each outcome and the IDs that did not succeed
  --reopen        open and close the port for each transaction, as the
                  window does. Without it a run opens each port once: the
                  first transaction's log shows the "Open" line, the last
                  one's the "Close" line, and what waits on the line is
                  dropped before each frame. A line lost mid-run is opened
                  again once, for the next transaction, with a line that says
                  so
  --parallel      run the lines of a script that name different ports at the
                  same time, each port's lines in their order on a thread of
                  its own. Each transaction's lines are printed together,
                  headed by its port, and the summary counts every port and
                  names the failures by port and ID. Without --keep-going a
                  failure on any port stops them all after the transactions
                  under way
  --keep-going    go on after a transaction that did not succeed (by default
                  a run over --ids or a script stops at the first one)
  --script FILE   run the commands of FILE (- for standard input), one per
                  line, written as on the command line (--id 3 bright 8,
                  --ids 1-8 scroll 3000 50, message --unicode "Platform 3"),
                  with shell-like quoting, # comments and blank lines. The
                  options given on the command line apply to every line; a
                  line's --port, --baud, --id, --ids, --repeat, --unicode and
                  --multibyte override them for that line. The whole script is
                  checked first: a mistake on any line sends nothing. FILE
                  may be UTF-8 (with or without a byte-order mark) or UTF-16
                  with a byte-order mark (Notepad's "Unicode", PowerShell's
                  redirections), little or big endian
  --json          print one JSON object per transaction (JSON Lines) instead of
                  the log lines: id, command, arguments, line, port, baud,
                  frame (hex), reply (hex or null), outcome, exit_status,
                  reason (the system's words for a failed open or a lost
                  line, else null), started (local ISO 8601 time) and ms; the
                  summary goes to standard error
  --log FILE      append the log lines of every transaction (as printed, without
                  colours, never shortened by --quiet) to FILE, after a header
                  line with the date, each port and its baud rate, and the
                  command line
  --from DIR      take port, baud rate, ID addressing and the last values from
                  the window's working directory DIR (Config/Config.ini and the
                  selected profile in Modes/); options and arguments given here
                  override them, and a command's arguments may then be left out
  --unicode       send the message text as UTF-16 (encoding 2)
  --multibyte     send the message text in the controller's code page
                  (encoding 1; the default without --from)
  --quiet         print only the result line of each transaction
  --hex           print every frame the run would send (each ID, each repeat,
                  each script line), and send nothing
  --repeat N      send each command N times (with --ids, to each ID N times),
                  one transaction each; alone, all N are sent and the count of
                  each outcome and the median and worst time follow
  -h, --help      print this help (after the command word, -h is text)
  --version       print the version
  --list-ports    print the serial ports this machine lists, one a line: the
                  name, then a tab and what tells it apart where the system
                  says (Windows: the friendly name, such as USB-SERIAL CH340
                  (COM5); Linux: the adapter's /dev/serial/by-id names). Opens
                  no port

find-signs [--ids LIST] [--bauds LIST] [--wait MS] [--probe-code HEX]
  probes each ID of LIST (default 0-255) at each rate of LIST (default the
  rates the serial settings dialog offers, --baud N or the --from model's
  rate first) with a frame whose command code no model uses (D5), which a
  sign answers with F1 "Undefined instruction" and carries nothing out. MS is
  the wait for each answer, and the quiet after it (default 60: a rate of 256
  IDs takes about 35 s);
  a sign that answers later, within 500 ms, is traced back to its probe and
  found at its own ID. Prints one line per sign found ("ID 7 at 19200 baud: F1
  Undefined instruction in 14 ms") and a summary; --json prints one object per
  sign (port, id, baud, reply, status, ms); --log keeps every probe. Without
  addresses (--no-address, or --from a model that locks the ID) one probe per
  rate finds the one sign. --probe-code chooses another code for a model that
  uses D5; a code some model carries out is refused. A --port list searches
  each port at once. Exit status 0 when a sign answered, 7 when none did, 8 or
  10 when the line failed

Numbers follow the window's rules: WIDTH and HIGH must be whole decimal
numbers, which travel in units of 8 dots (a warning names a size sent as
another); NEW and --id must be IDs from 0 to 255; ON_MS, OFF_MS, ELAPSED and
SPEED are read like the window reads them (the leading digits; a warning names
anything ignored).

Exit status:
  0  Success
  1  the transaction could not be started
  2  bad arguments (nothing was sent)
  3  Checksum error
  4  Undefined instruction
  5  Length error
  6  Unknown error (any other status byte)
  7  no reply: the request timed out
  8  the port could not be opened
  9  standard output or the --log file could not be written (a full disk),
     named by a line on standard error: records were lost. A transaction's
     own status (1 to 8, 10) comes first. A log file that takes not even its
     header stops the run before anything is sent
  10  the line went away during the transaction (a USB adapter pulled
      out, a device server that closed the connection); the system's
      reason is the result line
  130  interrupted (Ctrl+C, SIGTERM): the transactions under way
       finished and were recorded, the rest were not sent
With --repeat, --ids or --script, 0 when every transaction succeeded, else
the status of the first one that did not, in the order the command line or
the script gives them (with --parallel too, whichever port failed first in
time). Bad arguments include a malformed
--ids list, a mistake on any line of a script and a log file that cannot be
opened. An ID that no controller answers to gives 7.

Progress: on a terminal, a run of more than 20 transactions keeps one line on
standard error up to date (done/total, failures, time elapsed and left), and
removes it at the end; not with --quiet, nor when standard error is not a
terminal, nor with --json printed to a terminal.

Examples:
A simulated bus of 32 signs, brightness 8 for signs 1 to 3, then timed
scrolling for all of them with a JSON record, then a script with a log:

  rq-m4x-sim --ids 1-32 --link /tmp/bus &

  rq-m4x-send --port /tmp/bus --ids 1-3 bright 8

  rq-m4x-send --port /tmp/bus --ids 1-32 --keep-going --json scroll 3000 50

  rq-m4x-send --port /tmp/bus --log station.log --script station.txt
)";
}

}  // namespace rq::cli
