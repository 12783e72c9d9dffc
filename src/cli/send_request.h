#pragma once
// From split arguments (and, with --from, what the window's working directory
// holds) to one checked request: the command in value form, the address, the
// port and what to print. Values are judged by the window's own rules
// (protocol/numbers.h); a value that the window would refuse, or that a
// script most likely mistyped, is an error naming the argument, and then
// nothing is sent. Plain C++: the multibyte conversion is handed in.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/send_arguments.h"
#include "protocol/commands.h"
#include "protocol/message_text.h"

namespace rq::cli {

// The only model identifier that has commands.
inline constexpr char kModelWithCommands[] = "RQ-M4T";

// What the window shows right after it starts in a working directory: the
// texts of its fields and the selections of its lists, from the settings file
// and the selected model profile (see saved_setup.h for how they are read).
struct SavedSetup {
    std::string directory;
    std::string port;           // SerialPort/COM
    long baud = 9600;           // the profile's App/BSP, else SerialPort/BSP
    std::string profileName;    // Setting/Mode, else the first entry of Modes/; empty: none listed
    bool profileLoaded = false;  // Modes/<profileName>.ini exists
    std::string model;          // Model/Model of the profile
    bool idAddressing = false;  // the profile's Lock/id is 0
    std::string idText = "255";  // IdText
    std::string widthText = "64";
    std::string highText = "16";
    std::string scanText = "P7.62";  // the selected ScanChoice item
    int scrollLevel = 3;         // selected indices, 0..15
    int scrollSpeed = 3;
    std::string brightText = "Auto";  // the BrightCombo text
    int alignIndex = 1;          // 0 Left, 1 Center, 2 Right
    bool blinkEnable = false;
    std::string blinkOnText = "1000";
    std::string blinkOffText = "1000";
    std::string elapsedText = "3000";
    std::string rollSpeedText = "50";
    std::string newIdText = "1";  // NewIdText
    bool unicode = false;        // the selected MessageChoice item reads "UNICODE"
    std::string sendMessageLabel;     // the buttons' labels (Text/Button1, Text/Button2)
    std::string defaultMessageLabel;
};

// The arguments a subcommand takes from a working directory when none are
// given, in the order they are typed. Empty for subcommands without values
// and for the messages, whose text the window does not keep.
std::vector<std::string> SavedArguments(const SavedSetup& saved, Subcommand subcommand);

struct Request {
    Subcommand subcommand = Subcommand::Black;
    rq::protocol::Command command;
    std::optional<std::uint8_t> address;  // none: the frame carries no address
    std::string title;                    // the window's button label, for the banner
    std::string port;
    int baud = 9600;
    int repeat = 1;
    // The wait for the reply, in milliseconds: the window's, unless a probe
    // asks for less.
    int replyWaitMs = 500;
    // After a time-out the line must be quiet this long before the next
    // frame: the worker's own settle unless a probe asks for less.
    int settleMs = 500;
    bool quiet = false;
    bool hex = false;
    // Values that the window's lenient rules changed on the way ("12abc" read
    // as 12, a number too wide for its field): worth a word on stderr.
    std::vector<std::string> warnings;
};

struct RequestResult {
    std::optional<Request> request;
    std::string error;  // set when there is no request; names the argument
};

using rq::protocol::MultibyteConverter;

// `saved` is given with --from. Help is not handled here.
RequestResult BuildRequest(const Arguments& arguments, const SavedSetup* saved, MultibyteConverter toMultibyte);

// UTF-8 to UTF-16 code units; nullopt when the text is not valid UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

}  // namespace rq::cli
