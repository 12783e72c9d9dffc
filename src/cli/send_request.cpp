#include "cli/send_request.h"

#include <climits>
#include <cstdio>

#include "protocol/frame.h"
#include "protocol/message_text.h"
#include "protocol/numbers.h"

namespace rq::cli {

namespace protocol = rq::protocol;

namespace {

constexpr int kMaxRepeat = 1000000;

// An ID that is not one byte would address another sign once cut to one.
constexpr char kNotAnId[] = "is not an ID from 0 to 255";

// The largest width or height one byte of 8-dot units holds.
constexpr std::uint32_t kMaxDots = 255 * 8;

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The window's lists select by text without regard to case.
bool SameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

// How each subcommand is typed and what the window's button says.
struct SubcommandForm {
    Subcommand subcommand;
    std::size_t argumentCount;
    const char* usage;
    const char* label;
};

constexpr SubcommandForm kForms[] = {
    {Subcommand::Led, 5, "led WIDTH HIGH SCAN LEVEL SPEED", "LED Set"},
    {Subcommand::Bright, 1, "bright VALUE|auto", "Bright Set"},
    {Subcommand::Black, 0, "black", "Black"},
    {Subcommand::Align, 1, "align left|center|right", "Align Set"},
    {Subcommand::Reset, 0, "reset", "Reset LED"},
    {Subcommand::Defaults, 0, "defaults", "Defult Set"},
    {Subcommand::Blinking, 3, "blinking on|off ON_MS OFF_MS", "Blinking Set"},
    {Subcommand::Scroll, 2, "scroll ELAPSED SPEED", "Scroll Set"},
    {Subcommand::ChangeId, 1, "change-id NEW", "Change ID"},
    {Subcommand::Message, 1, "message [--unicode] TEXT", "Send Message"},
    {Subcommand::DefaultMessage, 1, "default-message [--unicode] TEXT", "Default MSG"},
};

const SubcommandForm& FormOf(Subcommand subcommand)
{
    for (const auto& form : kForms) {
        if (form.subcommand == subcommand) return form;
    }
    return kForms[0];
}

const char* const kAlignWords[] = {"left", "center", "right"};

// Collects the first error; every check after it is skipped by its caller.
class Checker {
public:
    explicit Checker(const char* subcommandWord) : word(subcommandWord) {}

    bool Failed() const { return !error.empty(); }
    const std::string& Error() const { return error; }
    std::vector<std::string>& Warnings() { return warnings; }

    void Fail(const std::string& message)
    {
        if (error.empty()) error = message;
    }
    void FailArgument(const char* name, const std::string& value, const std::string& why)
    {
        Fail(std::string(word) + ": " + name + " " + Quoted(value) + " " + why);
    }
    void Warn(const char* name, const std::string& message)
    {
        warnings.push_back(std::string(word) + ": " + name + " " + message);
    }

    // A whole unsigned decimal, as the window's required fields take it.
    std::uint32_t Required(const char* name, const std::string& text)
    {
        const auto value = protocol::ParseUnsignedRequired(text);
        if (!value) {
            FailArgument(name, text, "is not a whole decimal number");
            return 0;
        }
        return *value;
    }

    // The leading digits, as the window's lenient fields take them; the frame
    // carries `bits` bits of the value.
    std::uint32_t Lenient(const char* name, const std::string& text, int bits)
    {
        const std::uint32_t value = protocol::ParseUnsignedLenient(text);
        if (!protocol::ParseUnsignedRequired(text))
            Warn(name, Quoted(text) + " is read as " + std::to_string(value) + ", as the window reads it");
        WarnIfWide(name, value, bits);
        return value;
    }

    void WarnIfWide(const char* name, std::uint32_t value, int bits)
    {
        const std::uint32_t mask = (1u << bits) - 1u;
        if (value > mask)
            Warn(name, std::to_string(value) + " keeps only its low " + std::to_string(bits) + " bits (" +
                           std::to_string(value & mask) + ")");
    }

    // Width and height travel as one byte of 8-dot units: said in the dots
    // the user typed when the frame carries another size.
    void WarnIfNotSentAsDots(const char* name, const std::string& text, std::uint32_t dots)
    {
        const std::uint32_t sent = ((dots >> 3) & 0xFFu) << 3;
        // The text parsed, so a minus sign in it is the number's own.
        if (dots != 0 && text.find('-') != std::string::npos)
            Warn(name, "-" + std::to_string(0u - dots) + " dots is less than 0: sent as " + std::to_string(sent));
        else if (dots > kMaxDots)
            Warn(name, std::to_string(dots) + " dots is more than the " + std::to_string(kMaxDots) +
                           " the frame can carry");
        else if (dots != sent)
            Warn(name, std::to_string(dots) + " dots is not a multiple of 8: sent as " + std::to_string(sent));
    }

    // A list index 0..15, as the scroll level and speed lists offer them.
    int Index16(const char* name, const std::string& text)
    {
        const auto value = protocol::ParseSigned(text);
        if (!value || *value < 0 || *value > 15) {
            FailArgument(name, text, "is not a number from 0 to 15");
            return 0;
        }
        return *value;
    }

private:
    const char* word;
    std::string error;
    std::vector<std::string> warnings;
};

const char* Word(bool defaultMessage)
{
    return SubcommandWord(defaultMessage ? Subcommand::DefaultMessage : Subcommand::Message);
}

// The message text in the chosen encoding, checked against what one frame holds.
std::optional<std::vector<std::uint8_t>> MessageBytes(Checker& check, const std::string& text, int encoding,
                                                      bool defaultMessage, bool addressed,
                                                      MultibyteConverter toMultibyte)
{
    const auto units = Utf8ToUtf16(text);
    if (!units) {
        check.Fail(std::string(Word(defaultMessage)) + ": TEXT is not valid UTF-8");
        return std::nullopt;
    }
    std::string multibyte;
    if (encoding == protocol::kEncodingMultibyte) {
        const protocol::MultibyteText converted = protocol::ToMultibyteText(*units, toMultibyte);
        if (converted.refused) {
            check.Fail(std::string(Word(defaultMessage)) + ": the character " +
                       protocol::CharacterName(*converted.refused) + " cannot be sent in GBK; give --unicode");
            return std::nullopt;
        }
        multibyte = converted.bytes;
    }
    std::vector<std::uint8_t> bytes = protocol::EncodeMessageText(*units, encoding, multibyte);

    // Start, length, inverted length, [address], code, [encoding], text, checksum, end.
    const std::size_t fixed = 3 + (addressed ? 1 : 0) + 1 + (defaultMessage ? 1 : 0) + 2;
    const std::size_t limit = protocol::kMaxFrameLength - fixed;
    if (bytes.size() > limit) {
        check.Fail(std::string(Word(defaultMessage)) + ": TEXT takes " +
                   std::to_string(bytes.size()) + " bytes in encoding " + std::to_string(encoding) +
                   "; one frame holds at most " + std::to_string(limit));
        return std::nullopt;
    }
    return bytes;
}

// The subcommand's values, judged by the window's rules.
std::optional<protocol::Command> CheckValues(Checker& check, Subcommand subcommand,
                                             const std::vector<std::string>& values, int encoding, bool addressed,
                                             MultibyteConverter toMultibyte)
{
    switch (subcommand) {
    case Subcommand::Led: {
        protocol::LedParameters led;
        led.widthDots = check.Required("WIDTH", values[0]);
        led.highDots = check.Required("HIGH", values[1]);
        if (check.Failed()) return std::nullopt;
        check.WarnIfNotSentAsDots("WIDTH", values[0], led.widthDots);
        check.WarnIfNotSentAsDots("HIGH", values[1], led.highDots);
        bool known = false;
        for (const char* scan : {"P10", "P7.62", "P4.75"}) {
            if (SameIgnoringCase(values[2], scan)) {
                known = true;
                led.scanP10 = std::string(scan) == "P10";
            }
        }
        if (!known) check.FailArgument("SCAN", values[2], "is not P10, P7.62 or P4.75");
        led.scrollLevelIndex = check.Index16("LEVEL", values[3]);
        led.scrollSpeedIndex = check.Index16("SPEED", values[4]);
        if (check.Failed()) return std::nullopt;
        return led;
    }
    case Subcommand::Bright: {
        protocol::Brightness bright;
        if (SameIgnoringCase(values[0], "auto")) {
            bright.value = protocol::BrightnessByte(std::nullopt);
            return bright;
        }
        const auto level = protocol::ParseUnsignedRequired(values[0]);
        if (!level) {
            check.FailArgument("VALUE", values[0], "is neither a whole decimal number nor auto");
            return std::nullopt;
        }
        bright.value = protocol::BrightnessByte(level);
        if (*level != bright.value)
            check.Warn("VALUE", std::to_string(*level) + " is sent as " + std::to_string(bright.value) +
                                    ", the highest level");
        return bright;
    }
    case Subcommand::Black: return protocol::Blank{};
    case Subcommand::Reset: return protocol::Reset{};
    case Subcommand::Defaults: return protocol::FactoryDefaults{};
    case Subcommand::Align: {
        for (int index = 0; index < 3; ++index) {
            if (SameIgnoringCase(values[0], kAlignWords[index])) return protocol::Alignment{*protocol::AlignmentCode(index)};
        }
        check.Fail("align: " + Quoted(values[0]) + " is not left, center or right");
        return std::nullopt;
    }
    case Subcommand::Blinking: {
        protocol::Blinking blinking;
        if (SameIgnoringCase(values[0], "on")) {
            blinking.enable = true;
        } else if (!SameIgnoringCase(values[0], "off")) {
            check.Fail("blinking: " + Quoted(values[0]) + " is not on or off");
            return std::nullopt;
        }
        blinking.onMs = check.Lenient("ON_MS", values[1], 16);
        blinking.offMs = check.Lenient("OFF_MS", values[2], 16);
        return blinking;
    }
    case Subcommand::Scroll: {
        protocol::TimedScroll scroll;
        scroll.elapsed = check.Lenient("ELAPSED", values[0], 16);
        scroll.speed = check.Lenient("SPEED", values[1], 16);
        return scroll;
    }
    case Subcommand::ChangeId: {
        if (!addressed) {
            check.Fail("change-id needs the controller's present ID: give --id N");
            return std::nullopt;
        }
        const auto newId = protocol::ParseAddress(values[0]);
        if (!newId) {
            check.FailArgument("NEW", values[0], kNotAnId);
            return std::nullopt;
        }
        return protocol::ChangeId{*newId};
    }
    case Subcommand::Message: {
        const auto bytes = MessageBytes(check, values[0], encoding, false, addressed, toMultibyte);
        if (!bytes) return std::nullopt;
        return protocol::Message{encoding, *bytes};
    }
    case Subcommand::DefaultMessage: {
        const auto bytes = MessageBytes(check, values[0], encoding, true, addressed, toMultibyte);
        if (!bytes) return std::nullopt;
        return protocol::DefaultMessage{encoding, *bytes};
    }
    }
    return std::nullopt;
}

std::string ModelError(const SavedSetup& saved)
{
    if (saved.profileName.empty())
        return saved.directory + "/Modes lists no model profile, so the window has no commands there";
    if (!saved.profileLoaded)
        return saved.directory + " has no profile Modes/" + saved.profileName + ".ini for its model " +
               Quoted(saved.profileName) + ", so the window has no commands there";
    return "the model " + Quoted(saved.model) + " of " + saved.directory + "/Modes/" + saved.profileName +
           ".ini has no commands; only " + Quoted(kModelWithCommands) + " has";
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view text)
{
    std::u16string units;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t code = 0;
        std::size_t extra = 0;
        std::uint32_t minimum = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
            minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (extra > 0 && i + extra >= text.size()) return std::nullopt;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are not text.
        if (code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return std::nullopt;
        if (code >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return units;
}

std::vector<std::string> SavedArguments(const SavedSetup& saved, Subcommand subcommand)
{
    switch (subcommand) {
    case Subcommand::Led:
        return {saved.widthText, saved.highText, saved.scanText, std::to_string(saved.scrollLevel),
                std::to_string(saved.scrollSpeed)};
    case Subcommand::Bright:
        // Any entry that is not a number (the automatic one, in whichever
        // language it was stored, or none) sends automatic brightness.
        if (protocol::ParseUnsignedRequired(saved.brightText)) return {saved.brightText};
        return {"auto"};
    case Subcommand::Align:
        return {kAlignWords[(saved.alignIndex >= 0 && saved.alignIndex <= 2) ? saved.alignIndex : 1]};
    case Subcommand::Blinking:
        return {saved.blinkEnable ? "on" : "off", saved.blinkOnText, saved.blinkOffText};
    case Subcommand::Scroll:
        return {saved.elapsedText, saved.rollSpeedText};
    case Subcommand::ChangeId:
        return {saved.newIdText};
    default:
        return {};
    }
}

RequestResult BuildRequest(const Arguments& arguments, const SavedSetup* saved, MultibyteConverter toMultibyte)
{
    RequestResult result;
    auto fail = [&result](const std::string& message) {
        result.error = message;
        return result;
    };

    if (arguments.words.empty()) return fail("no command given (see --help)");
    const auto subcommand = FindSubcommand(arguments.words[0]);
    if (!subcommand) return fail("unknown command " + Quoted(arguments.words[0]) + " (see --help)");
    const SubcommandForm& form = FormOf(*subcommand);
    const bool isMessage = *subcommand == Subcommand::Message || *subcommand == Subcommand::DefaultMessage;

    if (saved && (!saved->profileLoaded || saved->model != kModelWithCommands)) return fail(ModelError(*saved));

    Request request;
    request.subcommand = *subcommand;
    request.quiet = arguments.quiet;
    request.hex = arguments.hex;

    if (arguments.encoding != EncodingChoice::Saved && !isMessage)
        return fail(std::string(arguments.encoding == EncodingChoice::Unicode ? "--unicode" : "--multibyte") +
                    " applies only to message and default-message");

    // The address: --id, else the working directory's ID when its model
    // addresses by ID, else none.
    if (arguments.id) {
        request.address = protocol::ParseAddress(*arguments.id);
        if (!request.address) return fail("--id " + Quoted(*arguments.id) + " " + kNotAnId);
    } else if (saved && saved->idAddressing) {
        request.address = protocol::ParseAddress(saved->idText);
        if (!request.address)
            return fail("the ID " + Quoted(saved->idText) + " of " + saved->directory + " " + kNotAnId +
                        "; give --id N");
    }

    if (arguments.baud) {
        const auto baud = protocol::ParseUnsignedRequired(*arguments.baud);
        if (!baud || *baud == 0 || *baud > static_cast<std::uint32_t>(INT_MAX) ||
            arguments.baud->find('-') != std::string::npos)
            return fail("--baud " + Quoted(*arguments.baud) + " is not a positive whole decimal number");
        request.baud = static_cast<int>(*baud);
    } else if (saved) {
        request.baud = static_cast<int>(saved->baud);
    }

    if (arguments.repeat) {
        const auto repeat = protocol::ParseSigned(*arguments.repeat);
        if (!repeat || *repeat < 1 || *repeat > kMaxRepeat)
            return fail("--repeat " + Quoted(*arguments.repeat) + " is not a number from 1 to " +
                        std::to_string(kMaxRepeat));
        request.repeat = *repeat;
    }

    if (arguments.port) {
        if (arguments.port->empty()) return fail("--port is empty");
        request.port = *arguments.port;
    } else if (saved) {
        request.port = saved->port;
    }

    // The values: as typed, or all from the working directory.
    std::vector<std::string> values(arguments.words.begin() + 1, arguments.words.end());
    if (values.empty() && saved && !isMessage) values = SavedArguments(*saved, *subcommand);
    if (values.size() != form.argumentCount) {
        if (isMessage && values.size() > 1)
            return fail(std::string(form.usage) + ": give the text as one argument (quote it)");
        return fail(form.argumentCount == 0 ? std::string(form.usage) + " takes no arguments"
                                            : std::string("usage: ") + form.usage);
    }

    int encoding = protocol::kEncodingMultibyte;
    if (arguments.encoding == EncodingChoice::Unicode || (arguments.encoding == EncodingChoice::Saved && saved && saved->unicode))
        encoding = protocol::kEncodingUtf16;

    Checker check(SubcommandWord(*subcommand));
    auto command = CheckValues(check, *subcommand, values, encoding, request.address.has_value(), toMultibyte);
    if (!command) return fail(check.Error());
    request.command = std::move(*command);
    request.warnings = std::move(check.Warnings());

    if (request.port.empty() && !request.hex)
        return fail(saved ? "no serial port: " + saved->directory + " sets none; give --port PATH"
                          : "no serial port: give --port PATH (or --from DIR)");

    request.title = form.label;
    if (saved && *subcommand == Subcommand::Message && !saved->sendMessageLabel.empty())
        request.title = saved->sendMessageLabel;
    if (saved && *subcommand == Subcommand::DefaultMessage && !saved->defaultMessageLabel.empty())
        request.title = saved->defaultMessageLabel;

    result.request = std::move(request);
    return result;
}

}  // namespace rq::cli
