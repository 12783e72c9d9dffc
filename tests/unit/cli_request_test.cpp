// rq-m4x-send without a port: how the command line is split, how values are
// judged and where they come from, and what the run reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/send_arguments.h"
#include "cli/send_report.h"
#include "cli/send_request.h"
#include "platform/text_encoding.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "support/command_cases.h"

using namespace rq::cli;

namespace {

RequestResult Build(const std::vector<std::string>& args, const SavedSetup* saved = nullptr)
{
    const ParsedArguments parsed = ParseArguments(args);
    EXPECT_EQ(parsed.error, "");
    return BuildRequest(parsed.arguments, saved, &rq::platform::ToControllerMultibyte);
}

// The frame of a request in the hex form of the case table.
std::string FrameOf(const Request& request)
{
    std::uint8_t frame[rq::protocol::kFrameBufferSize];
    const std::size_t length = rq::protocol::EncodeCommand(request.command, request.address, frame);
    std::string hex;
    char byte[4];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%.2X" : " %.2X", frame[i]);
        hex += byte;
    }
    return hex;
}

// A working directory as the window leaves it: a model that addresses by ID,
// the values of the window's defaults unless a test changes them.
SavedSetup AddressingSetup()
{
    SavedSetup saved;
    saved.directory = "/line/station1";
    saved.port = "/dev/ttyUSB3";
    saved.baud = 19200;
    saved.profileName = "RQ-M4T";
    saved.profileLoaded = true;
    saved.model = "RQ-M4T";
    saved.idAddressing = true;
    saved.idText = "7";
    return saved;
}

}  // namespace

// ---- splitting the command line ----

TEST(CliArguments, OptionsMayStandAnywhereAndTakeTheirValueEitherWay)
{
    const ParsedArguments parsed =
        ParseArguments({"bright", "--port=/dev/pts/4", "8", "--id", "-1", "--quiet", "--repeat", "3", "--hex"});
    ASSERT_EQ(parsed.error, "");
    const Arguments& a = parsed.arguments;
    EXPECT_EQ(a.words, (std::vector<std::string>{"bright", "8"}));
    EXPECT_EQ(a.port.value_or(""), "/dev/pts/4");
    // "-1" is a value, not an option: the window's ID field wraps it to 255.
    EXPECT_EQ(a.id.value_or(""), "-1");
    EXPECT_EQ(a.repeat.value_or(""), "3");
    EXPECT_TRUE(a.quiet);
    EXPECT_TRUE(a.hex);
    EXPECT_FALSE(a.help);
}

TEST(CliArguments, DoubleDashLetsAMessageStartWithDashes)
{
    const ParsedArguments parsed = ParseArguments({"--port", "p", "message", "--", "--sale--", "--unicode"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.arguments.words, (std::vector<std::string>{"message", "--sale--", "--unicode"}));
    EXPECT_EQ(parsed.arguments.encoding, EncodingChoice::Saved);
}

TEST(CliArguments, HelpInEitherSpelling)
{
    EXPECT_TRUE(ParseArguments({"-h"}).arguments.help);
    EXPECT_TRUE(ParseArguments({"led", "--help"}).arguments.help);
}

struct SplitError {
    const char* name;
    std::vector<std::string> args;
    const char* expected;
};

class CliArgumentErrors : public ::testing::TestWithParam<SplitError> {};

TEST_P(CliArgumentErrors, NameTheOption)
{
    EXPECT_EQ(ParseArguments(GetParam().args).error, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliArgumentErrors,
    ::testing::Values(
        SplitError{"MissingValue", {"black", "--port"}, "--port needs a value: --port PATH"},
        // An option where the value should be is a forgotten value, not a port called "--id".
        SplitError{"OptionInsteadOfValue", {"--port", "--id", "1", "black"}, "--port needs a value: --port PATH"},
        SplitError{"Twice", {"--id", "1", "--id", "2", "black"}, "--id is given twice"},
        SplitError{"Unknown", {"--colour", "black"}, "unknown option --colour (see --help)"},
        SplitError{"FlagWithValue", {"--quiet=yes", "black"}, "--quiet takes no value"},
        SplitError{"BothEncodings", {"message", "--unicode", "--multibyte", "x"},
                   "--unicode and --multibyte exclude each other"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the shared command table, without a port ----

class CliCommandCases : public ::testing::TestWithParam<rq::test::CommandCase> {};

TEST_P(CliCommandCases, BuildTheTablesFrameOrRefuse)
{
    const rq::test::CommandCase& c = GetParam();
    std::vector<std::string> args = {"--port", "/dev/null"};
    if (c.id) {
        args.push_back("--id");
        args.push_back(c.id);
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RequestResult result = Build(args);
    if (c.frame.empty()) {
        EXPECT_FALSE(result.request) << "a frame was built: " << FrameOf(*result.request);
        EXPECT_NE(result.error, "");
    } else {
        ASSERT_TRUE(result.request) << result.error;
        EXPECT_EQ(FrameOf(*result.request), c.frame);
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, CliCommandCases, ::testing::ValuesIn(rq::test::CommandCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- values the tool refuses, each named in the message ----

struct BadValue {
    const char* name;
    std::vector<std::string> args;
    const char* expected;
};

class CliBadValues : public ::testing::TestWithParam<BadValue> {};

TEST_P(CliBadValues, AreRefusedNamingTheArgument)
{
    std::vector<std::string> args = {"--port", "/dev/null"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const RequestResult result = Build(args);
    EXPECT_FALSE(result.request);
    EXPECT_EQ(result.error, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliBadValues,
    ::testing::Values(
        BadValue{"NoCommand", {}, "no command given (see --help)"},
        BadValue{"UnknownCommand", {"blank"}, "unknown command \"blank\" (see --help)"},
        BadValue{"TooFewForLed", {"led", "64", "16"}, "usage: led WIDTH HIGH SCAN LEVEL SPEED"},
        BadValue{"ArgumentsForBlack", {"black", "now"}, "black takes no arguments"},
        BadValue{"Width", {"led", "6x4", "16", "P10", "3", "3"}, "led: WIDTH \"6x4\" is not a whole decimal number"},
        BadValue{"High", {"led", "64", "", "P10", "3", "3"}, "led: HIGH \"\" is not a whole decimal number"},
        BadValue{"Scan", {"led", "64", "16", "P5", "3", "3"}, "led: SCAN \"P5\" is not P10, P7.62 or P4.75"},
        BadValue{"Level", {"led", "64", "16", "P10", "16", "3"}, "led: LEVEL \"16\" is not a number from 0 to 15"},
        BadValue{"Speed", {"led", "64", "16", "P10", "3", "-1"}, "led: SPEED \"-1\" is not a number from 0 to 15"},
        BadValue{"Bright", {"bright", "max"}, "bright: VALUE \"max\" is neither a whole decimal number nor auto"},
        BadValue{"Align", {"align", "middle"}, "align: \"middle\" is not left, center or right"},
        BadValue{"Blinking", {"blinking", "yes", "1", "2"}, "blinking: \"yes\" is not on or off"},
        BadValue{"ChangeIdWithoutId", {"change-id", "2"}, "change-id needs the controller's present ID: give --id N"},
        BadValue{"Id", {"--id", "one", "black"}, "--id \"one\" is not an ID from 0 to 255"},
        // Cut to one byte, 257 would reach the sign with ID 1.
        BadValue{"IdAbove255", {"--id", "257", "bright", "8"}, "--id \"257\" is not an ID from 0 to 255"},
        BadValue{"NewIdBelow0", {"--id", "1", "change-id", "-1"}, "change-id: NEW \"-1\" is not an ID from 0 to 255"},
        BadValue{"Baud", {"--baud", "0", "black"}, "--baud \"0\" is not a positive whole decimal number"},
        BadValue{"NegativeBaud", {"--baud", "-9600", "black"}, "--baud \"-9600\" is not a positive whole decimal number"},
        BadValue{"Repeat", {"--repeat", "0", "black"}, "--repeat \"0\" is not a number from 1 to 1000000"},
        BadValue{"UnicodeForBright", {"--unicode", "bright", "8"}, "--unicode applies only to message and default-message"},
        BadValue{"MessageInPieces", {"message", "two", "words"},
                 "message [--unicode] TEXT: give the text as one argument (quote it)"},
        BadValue{"NotInCodePage", {"message", "\xF0\x9F\x98\x80"},
                 "message: the character \"\xF0\x9F\x98\x80\" (U+1F600) cannot be sent in GBK; give --unicode"},
        // The code page's single byte 0x80 would take the 5 as its pair.
        BadValue{"EuroSign", {"default-message", "\xE2\x82\xAC" "5 OK"},
                 "default-message: the character \"\xE2\x82\xAC\" (U+20AC) cannot be sent in GBK; give --unicode"},
        BadValue{"NotUtf8", {"message", "\xC3\x28"}, "message: TEXT is not valid UTF-8"},
        BadValue{"MessageTooLong", {"message", std::string(250, 'a')},
                 "message: TEXT takes 250 bytes in encoding 1; one frame holds at most 249"},
        BadValue{"DefaultMessageTooLongUnicode", {"--id", "1", "default-message", "--unicode", std::string(124, 'a')},
                 "default-message: TEXT takes 248 bytes in encoding 2; one frame holds at most 247"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliRequest, PortIsRequiredUnlessOnlyPrinting)
{
    const ParsedArguments parsed = ParseArguments({"black"});
    EXPECT_EQ(BuildRequest(parsed.arguments, nullptr, nullptr).error, "no serial port: give --port PATH (or --from DIR)");
    const ParsedArguments hex = ParseArguments({"--hex", "black"});
    EXPECT_TRUE(BuildRequest(hex.arguments, nullptr, nullptr).request);
}

TEST(CliRequest, DefaultsWithoutOptions)
{
    const RequestResult result = Build({"--port", "/dev/ttyUSB0", "black"});
    ASSERT_TRUE(result.request);
    EXPECT_EQ(result.request->baud, 9600);
    EXPECT_EQ(result.request->repeat, 1);
    EXPECT_FALSE(result.request->address);
    EXPECT_EQ(result.request->title, "Black");
}

TEST(CliRequest, BannerTitlesAreTheButtonLabels)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> labels = {
        {{"led", "64", "16", "P10", "1", "1"}, "LED Set"}, {{"bright", "auto"}, "Bright Set"},
        {{"align", "left"}, "Align Set"},                   {{"reset"}, "Reset LED"},
        {{"defaults"}, "Defult Set"},                       {{"blinking", "off", "1", "1"}, "Blinking Set"},
        {{"scroll", "1", "1"}, "Scroll Set"},               {{"message", "x"}, "Send Message"},
        {{"default-message", "x"}, "Default MSG"},
    };
    for (const auto& [words, label] : labels) {
        std::vector<std::string> args = {"--port", "p"};
        args.insert(args.end(), words.begin(), words.end());
        const RequestResult result = Build(args);
        ASSERT_TRUE(result.request) << result.error;
        EXPECT_EQ(result.request->title, label);
    }
    const RequestResult change = Build({"--port", "p", "--id", "1", "change-id", "2"});
    ASSERT_TRUE(change.request);
    EXPECT_EQ(change.request->title, "Change ID");
}

TEST(CliRequest, LenientFieldsAndWideValuesAreSentWithAWarning)
{
    const RequestResult result = Build({"--port", "p", "scroll", "12abc", "70000"});
    ASSERT_TRUE(result.request);
    EXPECT_EQ(FrameOf(*result.request), "A1 0A F5 65 0C 00 70 11 92 51");
    EXPECT_EQ(result.request->warnings,
              (std::vector<std::string>{"scroll: ELAPSED \"12abc\" is read as 12, as the window reads it",
                                        "scroll: SPEED 70000 keeps only its low 16 bits (4464)"}));

    // Beyond 32 bits the window reads 0, not the low bits; the warning says so.
    const RequestResult beyond = Build({"--port", "p", "blinking", "on", "4294967297", "1000"});
    ASSERT_TRUE(beyond.request);
    EXPECT_EQ(FrameOf(*beyond.request), "A1 0B F4 60 01 00 00 E8 03 EC 51");
    EXPECT_EQ(beyond.request->warnings,
              (std::vector<std::string>{"blinking: ON_MS \"4294967297\" is read as 0, as the window reads it"}));

    const RequestResult bright = Build({"--port", "p", "bright", "20"});
    ASSERT_TRUE(bright.request);
    EXPECT_EQ(bright.request->warnings, (std::vector<std::string>{"bright: VALUE 20 is sent as 15, the highest level"}));

    // Sizes travel in 8-dot units; the warnings speak in the dots typed.
    const std::vector<std::pair<std::vector<std::string>, std::string>> sizes = {
        {{"70", "16"}, "led: WIDTH 70 dots is not a multiple of 8: sent as 64"},
        {{"4000", "16"}, "led: WIDTH 4000 dots is more than the 2040 the frame can carry"},
        {{"64", "-8"}, "led: HIGH -8 dots is less than 0: sent as 2040"},
    };
    for (const auto& [dots, warning] : sizes) {
        const RequestResult led = Build({"--port", "p", "led", dots[0], dots[1], "P10", "0", "0"});
        ASSERT_TRUE(led.request) << led.error;
        EXPECT_EQ(led.request->warnings, std::vector<std::string>{warning});
    }

    const RequestResult clean = Build({"--port", "p", "--id", "1", "blinking", "on", "1000", "1000"});
    ASSERT_TRUE(clean.request);
    EXPECT_TRUE(clean.request->warnings.empty());
}

TEST(CliRequest, ChoicesIgnoreCaseAsTheWindowsListsDo)
{
    const RequestResult led = Build({"--port", "p", "--id", "1", "led", "128", "32", "p10", "15", "0"});
    ASSERT_TRUE(led.request);
    EXPECT_EQ(FrameOf(*led.request), "A1 0E F1 01 41 10 04 00 00 00 41 F0 27 51");
    const RequestResult align = Build({"--port", "p", "--id", "1", "align", "CENTER"});
    ASSERT_TRUE(align.request);
    EXPECT_EQ(FrameOf(*align.request), "A1 08 F7 01 6A 04 0F 51");
    const RequestResult bright = Build({"--port", "p", "bright", "AUTO"});
    ASSERT_TRUE(bright.request);
    EXPECT_EQ(FrameOf(*bright.request), "A1 07 F8 43 FF E2 51");
}

// ---- values from a working directory ----

TEST(CliSavedSetup, CommandsWithoutArgumentsTakeTheWindowsValues)
{
    SavedSetup saved = AddressingSetup();
    saved.widthText = "96";
    saved.highText = "32";
    saved.scanText = "P10";
    saved.scrollLevel = 0;
    saved.scrollSpeed = 5;
    saved.brightText = "8";
    saved.alignIndex = 2;
    saved.blinkEnable = true;
    saved.blinkOnText = "500";
    saved.blinkOffText = "250";
    saved.elapsedText = "3000";
    saved.rollSpeedText = "50";
    saved.newIdText = "9";

    const std::vector<std::pair<std::string, std::string>> expected = {
        // Frames to ID 7, worked out by hand.
        {"led", "A1 0E F1 07 41 0C 04 00 00 00 41 05 3E 51"},
        {"bright", "A1 08 F7 07 43 08 F2 51"},
        {"align", "A1 08 F7 07 6A 02 13 51"},
        {"blinking", "A1 0C F3 07 60 01 F4 01 FA 00 F7 51"},
        {"scroll", "A1 0B F4 07 65 B8 0B 32 00 01 51"},
        {"change-id", "A1 08 F7 07 21 09 D1 51"},
    };
    for (const auto& [word, frame] : expected) {
        const RequestResult result = Build({word}, &saved);
        ASSERT_TRUE(result.request) << word << ": " << result.error;
        EXPECT_EQ(FrameOf(*result.request), frame) << word;
        EXPECT_EQ(result.request->port, "/dev/ttyUSB3");
        EXPECT_EQ(result.request->baud, 19200);
    }
}

TEST(CliSavedSetup, OptionsAndArgumentsOverride)
{
    const SavedSetup saved = AddressingSetup();
    const RequestResult result =
        Build({"--port", "/dev/pts/9", "--baud", "9600", "--id", "1", "bright", "8"}, &saved);
    ASSERT_TRUE(result.request) << result.error;
    EXPECT_EQ(result.request->port, "/dev/pts/9");
    EXPECT_EQ(result.request->baud, 9600);
    EXPECT_EQ(FrameOf(*result.request), "A1 08 F7 01 43 08 EC 51");
}

TEST(CliSavedSetup, AddressOnlyWhenTheModelAddressesByIdOrIdIsGiven)
{
    SavedSetup saved = AddressingSetup();
    saved.idAddressing = false;
    const RequestResult plain = Build({"black"}, &saved);
    ASSERT_TRUE(plain.request);
    EXPECT_EQ(FrameOf(*plain.request), "A1 06 F9 63 03 51");
    EXPECT_EQ(Build({"change-id", "2"}, &saved).error, "change-id needs the controller's present ID: give --id N");
    const RequestResult addressed = Build({"--id", "44", "black"}, &saved);
    ASSERT_TRUE(addressed.request);
    EXPECT_EQ(FrameOf(*addressed.request), "A1 07 F8 2C 63 2F 51");

    saved.idAddressing = true;
    saved.idText = "12x";
    EXPECT_EQ(Build({"black"}, &saved).error,
              "the ID \"12x\" of /line/station1 is not an ID from 0 to 255; give --id N");
}

TEST(CliSavedSetup, OnlyTheModelWithCommandsSends)
{
    SavedSetup other = AddressingSetup();
    other.profileName = "RQ-M4X";
    other.model = "RQ-M4X";
    EXPECT_EQ(Build({"black"}, &other).error,
              "the model \"RQ-M4X\" of /line/station1/Modes/RQ-M4X.ini has no commands; only \"RQ-M4T\" has");
    // Case matters, as in the window.
    other.model = "rq-m4t";
    EXPECT_FALSE(Build({"black"}, &other).request);

    SavedSetup missing = AddressingSetup();
    missing.profileName = "Gone";
    missing.profileLoaded = false;
    EXPECT_EQ(Build({"black"}, &missing).error,
              "/line/station1 has no profile Modes/Gone.ini for its model \"Gone\", so the window has no commands there");

    SavedSetup none = AddressingSetup();
    none.profileName.clear();
    none.profileLoaded = false;
    EXPECT_EQ(Build({"--hex", "black"}, &none).error,
              "/line/station1/Modes lists no model profile, so the window has no commands there");
}

TEST(CliSavedSetup, MessagesNeedTheirTextAndFollowTheSavedEncoding)
{
    SavedSetup saved = AddressingSetup();
    saved.idText = "1";
    saved.unicode = true;
    saved.sendMessageLabel = "Send";
    EXPECT_EQ(Build({"message"}, &saved).error, "usage: message [--unicode] TEXT");

    const RequestResult unicode = Build({"message", "abc"}, &saved);
    ASSERT_TRUE(unicode.request);
    EXPECT_EQ(FrameOf(*unicode.request), "A1 0D F2 01 02 61 00 62 00 63 00 C9 51");
    EXPECT_EQ(unicode.request->title, "Send");

    const RequestResult multibyte = Build({"message", "--multibyte", "abc"}, &saved);
    ASSERT_TRUE(multibyte.request);
    EXPECT_EQ(FrameOf(*multibyte.request), "A1 0A F5 01 01 61 62 63 C8 51");
    // An empty label in the profile leaves the window's default label.
    EXPECT_EQ(Build({"default-message", "abc"}, &saved).request->title, "Default MSG");
}

TEST(CliSavedSetup, SavedBrightnessThatIsNotANumberIsAutomatic)
{
    SavedSetup saved = AddressingSetup();
    for (const char* text : {"Auto", "\xE8\x87\xAA\xE5\x8A\xA8", ""}) {
        saved.brightText = text;
        EXPECT_EQ(SavedArguments(saved, Subcommand::Bright), std::vector<std::string>{"auto"}) << text;
    }
    saved.brightText = "12";
    EXPECT_EQ(SavedArguments(saved, Subcommand::Bright), std::vector<std::string>{"12"});
}

TEST(CliSavedSetup, MissingPortIsReported)
{
    SavedSetup saved = AddressingSetup();
    saved.port.clear();
    EXPECT_EQ(Build({"black"}, &saved).error, "no serial port: /line/station1 sets none; give --port PATH");
}

// ---- text ----

TEST(CliText, Utf8ToUtf16)
{
    EXPECT_EQ(Utf8ToUtf16("a\xE4\xB8\xAD").value_or(u"?"), u"a\u4E2D");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80").value_or(u"?"), u"\U0001F600");  // a surrogate pair
    EXPECT_FALSE(Utf8ToUtf16("\xE4\xB8"));          // cut short
    EXPECT_FALSE(Utf8ToUtf16("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(Utf8ToUtf16("\xED\xA0\x80"));      // a lone surrogate
    EXPECT_FALSE(Utf8ToUtf16("\xFF"));
    EXPECT_EQ(Utf8ToUtf16("").value_or(u"?"), u"");
}

// ---- what a run reports ----

TEST(CliReport, ExitStatusesAreTheDocumentedOnes)
{
    const std::vector<std::pair<Outcome, int>> statuses = {
        {Outcome::Success, 0},      {Outcome::NotStarted, 1},   {Outcome::ChecksumError, 3},
        {Outcome::UndefinedInstruction, 4}, {Outcome::LengthError, 5}, {Outcome::UnknownError, 6},
        {Outcome::TimedOut, 7},     {Outcome::OpenFailed, 8},
    };
    for (const auto& [outcome, status] : statuses) EXPECT_EQ(ExitStatusOf(outcome), status) << OutcomeName(outcome);
    EXPECT_EQ(kExitBadArguments, 2);

    const std::string help = HelpText();
    for (const char* line : {"  0  Success\n", "  2  bad arguments (nothing was sent)\n", "  3  Checksum error\n",
                             "  4  Undefined instruction\n", "  5  Length error\n", "  6  Unknown error",
                             "  7  no reply: the request timed out\n", "  8  the port could not be opened\n"})
        EXPECT_NE(help.find(line), std::string::npos) << line;
}

TEST(CliReport, StatusBytes)
{
    EXPECT_EQ(OutcomeOfStatus(0x0F), Outcome::Success);
    EXPECT_EQ(OutcomeOfStatus(0xF0), Outcome::ChecksumError);
    EXPECT_EQ(OutcomeOfStatus(0xF1), Outcome::UndefinedInstruction);
    EXPECT_EQ(OutcomeOfStatus(0xF2), Outcome::LengthError);
    for (int status : {0x00, 0x01, 0x0E, 0x10, 0xEF, 0xF3, 0xFF}) {
        EXPECT_EQ(OutcomeOfStatus(static_cast<std::uint8_t>(status)), Outcome::UnknownError) << status;
    }
}

TEST(CliReport, AnsiColours)
{
    EXPECT_EQ(AnsiColoured("x", 0, 0, 255, false), "\x1b[38;2;0;0;255mx\x1b[0m");
    EXPECT_EQ(AnsiColoured("banner", 98, 53, 98, true), "\x1b[1;38;2;98;53;98mbanner\x1b[0m");
}

TEST(CliReport, RepeatSummary)
{
    RepeatTally tally;
    tally.Add(Outcome::Success, 2.0);
    tally.Add(Outcome::TimedOut, 501.5);
    tally.Add(Outcome::Success, 1.0);
    tally.Add(Outcome::ChecksumError, 3.0);
    EXPECT_DOUBLE_EQ(tally.MedianMs(), 2.5);  // the mean of the two middle times
    EXPECT_DOUBLE_EQ(tally.WorstMs(), 501.5);
    EXPECT_EQ(tally.ExitStatus(), kExitTimedOut);  // the first failure, not the last
    EXPECT_EQ(tally.Summary(),
              "Transactions: 4\n"
              "Success: 2\n"
              "Checksum error: 1\n"
              "Undefined instruction: 0\n"
              "Length error: 0\n"
              "Unknown error: 0\n"
              "Timed out: 1\n"
              "Open failed: 0\n"
              "Median: 2.500 ms\n"
              "Worst: 501.500 ms\n");

    tally.Add(Outcome::Success, 0.5);
    EXPECT_DOUBLE_EQ(tally.MedianMs(), 2.0);

    RepeatTally good;
    good.Add(Outcome::Success, 1.0);
    EXPECT_EQ(good.ExitStatus(), kExitSuccess);
}
