#pragma once
// The command line of rq-m4x-send, split into options and words. Nothing here
// judges a value: that is the request's job (send_request.h), which applies the
// window's rules. Plain C++ over UTF-8 text, so tests need neither toolkit nor
// port.

#include <optional>
#include <string>
#include <vector>

namespace rq::cli {

// One subcommand per button of the window.
enum class Subcommand {
    Led,             // "LED Set"
    Bright,          // "Bright Set"
    Black,           // "Black"
    Align,           // "Align Set"
    Reset,           // "Reset LED"
    Defaults,        // "Defult Set"
    Blinking,        // "Blinking Set"
    Scroll,          // "Scroll Set"
    ChangeId,        // "Change ID"
    Message,         // the send-message button
    DefaultMessage,  // the default-message button
};

// The word that names a subcommand on the command line ("led", "change-id").
const char* SubcommandWord(Subcommand subcommand);
std::optional<Subcommand> FindSubcommand(const std::string& word);

// The message encoding asked for on the command line.
enum class EncodingChoice {
    Saved,      // neither option: the working directory's choice, else multibyte
    Multibyte,  // --multibyte: encoding 1
    Unicode,    // --unicode: encoding 2 (UTF-16LE)
};

struct Arguments {
    bool help = false;
    bool version = false;
    bool listPorts = false;  // --list-ports
    // Texts as typed; checked later with the window's rules.
    std::optional<std::string> port;
    std::optional<std::string> baud;
    std::optional<std::string> id;
    std::optional<std::string> from;
    std::optional<std::string> repeat;
    std::optional<std::string> ids;     // --ids LIST
    std::optional<std::string> script;  // --script FILE, "-" for standard input
    std::optional<std::string> log;     // --log FILE
    // find-signs: the rates, the wait for each probe, the probe's code.
    std::optional<std::string> bauds;      // --bauds LIST
    std::optional<std::string> wait;       // --wait MS
    std::optional<std::string> probeCode;  // --probe-code HEX
    bool noAddress = false;                // --no-address: frames without an address
    bool quiet = false;
    bool hex = false;
    bool json = false;
    bool keepGoing = false;
    bool reopen = false;    // --reopen: open and close the line for each transaction
    bool parallel = false;  // --parallel: the ports of a script at once
    EncodingChoice encoding = EncodingChoice::Saved;
    // The first word (the subcommand) and the words after it.
    std::vector<std::string> words;
};

struct ParsedArguments {
    Arguments arguments;
    std::string error;  // empty when the command line could be split
};

// Splits the arguments (without the program name). Options start with "--"
// and may stand anywhere; "--port PATH" and "--port=PATH" are the same; "--"
// ends the options, so a message may start with dashes. A word such as "-1"
// is a value, not an option; so is "-h" after the command word.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// The text of --help: usage, subcommands, options and exit statuses.
std::string HelpText();

}  // namespace rq::cli
