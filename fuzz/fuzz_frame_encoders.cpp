// Command frames from arbitrary control texts and choices, built the way the
// window's builders build them: the same text-to-number rules, the same
// message text conversion, the same encoders and envelope. Every input must
// give either no frame or one well-formed frame of at most 255 bytes, written
// nowhere but inside the 256-byte frame buffer, the same every time, and the
// same as the value form (EncodeCommand) of that command.
//
// The number rules are checked against the C library's strtoll on the way.

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/message_text.h"
#include "protocol/numbers.h"

namespace p = rq::protocol;

namespace {

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0xA5;

enum CommandKind {
    kLedParameters, kBrightness, kBlank, kAlignment, kReset, kFactoryDefaults,
    kBlinking, kTimedScroll, kChangeId, kMessage, kDefaultMessage, kCommandCount
};

// What the window's controls hold when a Set button is pressed.
struct Controls {
    bool idAddressing = false;
    std::string idText;
    std::string widthText, highText;
    bool scanP10 = false;
    int scrollLevelIndex = 0, scrollSpeedIndex = 0;  // wxNOT_FOUND (-1) when none
    std::string brightEntry;                         // the selected list entry's text
    int alignIndex = 0;
    bool blinkEnable = false;
    std::string onText, offText, elapsedText, rollSpeedText, newIdText;
    std::string messageChoice;
    std::u16string messageText;
};

// ---- the number rules, against the C library ----

// strtoll in the "C" locale (the process never sets another here): white
// space, sign, digits; the window's rules read the value as 32 bits.
struct Reference {
    bool digits = false;
    bool whole = false;     // nothing after the digits
    bool overflow = false;  // magnitude above 2^32 - 1
    long long value = 0;
};

Reference ReferenceScan(const std::string& text)
{
    Reference ref;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    ref.value = std::strtoll(begin, &end, 10);
    const bool range = errno == ERANGE;
    // strtoll reports no digits by leaving end at the start.
    ref.digits = end != begin;
    // An embedded NUL ends the C string early: the text then has more after it.
    ref.whole = ref.digits && static_cast<std::size_t>(end - begin) == text.size();
    ref.overflow = range || ref.value > 4294967295LL || ref.value < -4294967295LL;
    return ref;
}

std::uint32_t Wrapped(long long value)
{
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(value) & 0xFFFFFFFFull);
}

void CheckNumberRules(const std::string& text)
{
    const Reference ref = ReferenceScan(text);
    const auto required = p::ParseUnsignedRequired(text);
    if (ref.whole && !ref.overflow) {
        FUZZ_CHECK(required.has_value());
        FUZZ_CHECK(*required == Wrapped(ref.value));
    } else {
        FUZZ_CHECK(!required.has_value());
    }
    const std::uint32_t lenient = p::ParseUnsignedLenient(text);
    FUZZ_CHECK(lenient == (ref.digits && !ref.overflow ? Wrapped(ref.value) : 0u));

    const auto signedValue = p::ParseSigned(text);
    const bool fitsSigned = ref.whole && !ref.overflow && ref.value >= INT32_MIN && ref.value <= INT32_MAX;
    FUZZ_CHECK(signedValue.has_value() == fitsSigned);
    if (signedValue) FUZZ_CHECK(*signedValue == ref.value);
}

// ---- the window's builders, over plain values ----

std::size_t BeginFrame(const Controls& c, std::uint8_t* frame)
{
    std::optional<std::uint8_t> address;
    if (c.idAddressing) {
        address = p::ParseAddress(c.idText);
        if (!address) return 0;
    }
    return p::BeginEnvelope(frame, address);
}

std::vector<std::uint8_t> MessageBytes(const Controls& c, int& encoding)
{
    encoding = p::MessageEncoding(c.messageChoice);
    std::string multibyte;
    if (encoding != p::kEncodingUtf16)
        multibyte = rq::platform::ToControllerMultibyte(c.messageText).value_or(std::string());
    return p::EncodeMessageText(c.messageText, encoding, multibyte);
}

std::size_t Build(CommandKind kind, const Controls& c, std::uint8_t* frame)
{
    switch (kind) {
    case kLedParameters: {
        const auto width = p::ParseUnsignedRequired(c.widthText);
        const auto high = p::ParseUnsignedRequired(c.highText);
        const std::size_t pos = BeginFrame(c, frame);
        if (pos == 0 || !width || !high) return 0;
        return p::SealEnvelope(frame, 0, p::EncodeLedParameters(frame, pos, *width, *high, c.scanP10,
                                                                c.scrollLevelIndex, c.scrollSpeedIndex));
    }
    case kBrightness: {
        const std::uint8_t value = p::BrightnessByte(p::ParseUnsignedRequired(c.brightEntry));
        const std::size_t pos = BeginFrame(c, frame);
        if (pos == 0) return 0;
        return p::SealEnvelope(frame, 0, p::EncodeBrightness(frame, pos, value));
    }
    case kBlank: {
        const std::size_t pos = BeginFrame(c, frame);
        return pos == 0 ? 0 : p::SealEnvelope(frame, 0, p::EncodeBlank(frame, pos));
    }
    case kAlignment: {
        const auto code = p::AlignmentCode(c.alignIndex);
        const std::size_t pos = BeginFrame(c, frame);
        if (pos == 0 || !code) return 0;
        return p::SealEnvelope(frame, 0, p::EncodeAlignment(frame, pos, *code));
    }
    case kReset: {
        const std::size_t pos = BeginFrame(c, frame);
        return pos == 0 ? 0 : p::SealEnvelope(frame, 0, p::EncodeReset(frame, pos));
    }
    case kFactoryDefaults: {
        const std::size_t pos = BeginFrame(c, frame);
        return pos == 0 ? 0 : p::SealEnvelope(frame, 0, p::EncodeFactoryDefaults(frame, pos));
    }
    case kBlinking: {
        const std::size_t pos = BeginFrame(c, frame);
        if (pos == 0) return 0;
        return p::SealEnvelope(frame, 0, p::EncodeBlinking(frame, pos, c.blinkEnable, p::ParseUnsignedLenient(c.onText),
                                                           p::ParseUnsignedLenient(c.offText)));
    }
    case kTimedScroll: {
        const std::size_t pos = BeginFrame(c, frame);
        if (pos == 0) return 0;
        return p::SealEnvelope(frame, 0, p::EncodeTimedScroll(frame, pos, p::ParseUnsignedLenient(c.elapsedText),
                                                              p::ParseUnsignedLenient(c.rollSpeedText)));
    }
    case kChangeId: {
        if (!c.idAddressing) return 0;
        const auto newId = p::ParseAddress(c.newIdText);
        const std::size_t pos = BeginFrame(c, frame);
        if (pos == 0 || !newId) return 0;
        return p::SealEnvelope(frame, 0, p::EncodeChangeId(frame, pos, *newId));
    }
    case kMessage:
    case kDefaultMessage: {
        int encoding = 0;
        const auto text = MessageBytes(c, encoding);
        const std::size_t pos = BeginFrame(c, frame);
        if (pos == 0) return 0;
        const std::size_t end = kind == kMessage ? p::EncodeMessage(frame, pos, encoding, text)
                                                 : p::EncodeDefaultMessage(frame, pos, encoding, text);
        return end == 0 ? 0 : p::SealEnvelope(frame, 0, end);
    }
    default:
        return 0;
    }
}

// The same command as a value, when the controls parse; nullopt when the
// window refuses before any encoder runs.
std::optional<p::Command> AsValue(CommandKind kind, const Controls& c)
{
    switch (kind) {
    case kLedParameters: {
        const auto width = p::ParseUnsignedRequired(c.widthText);
        const auto high = p::ParseUnsignedRequired(c.highText);
        if (!width || !high) return std::nullopt;
        return p::LedParameters{*width, *high, c.scanP10, c.scrollLevelIndex, c.scrollSpeedIndex};
    }
    case kBrightness: return p::Brightness{p::BrightnessByte(p::ParseUnsignedRequired(c.brightEntry))};
    case kBlank: return p::Blank{};
    case kAlignment: {
        const auto code = p::AlignmentCode(c.alignIndex);
        if (!code) return std::nullopt;
        return p::Alignment{*code};
    }
    case kReset: return p::Reset{};
    case kFactoryDefaults: return p::FactoryDefaults{};
    case kBlinking:
        return p::Blinking{c.blinkEnable, p::ParseUnsignedLenient(c.onText), p::ParseUnsignedLenient(c.offText)};
    case kTimedScroll:
        return p::TimedScroll{p::ParseUnsignedLenient(c.elapsedText), p::ParseUnsignedLenient(c.rollSpeedText)};
    case kChangeId: {
        const auto newId = p::ParseAddress(c.newIdText);
        if (!newId) return std::nullopt;
        return p::ChangeId{*newId};
    }
    case kMessage:
    case kDefaultMessage: {
        int encoding = 0;
        auto text = MessageBytes(c, encoding);
        if (kind == kMessage) return p::Message{encoding, std::move(text)};
        return p::DefaultMessage{encoding, std::move(text)};
    }
    default:
        return std::nullopt;
    }
}

// Payload bytes after the command code, for the fixed-size commands.
std::size_t FixedPayload(CommandKind kind)
{
    switch (kind) {
    case kLedParameters: return 7;
    case kBrightness: case kAlignment: case kChangeId: return 1;
    case kBlinking: return 5;
    case kTimedScroll: return 4;
    default: return 0;
    }
}

std::uint8_t ExpectedCode(CommandKind kind)
{
    switch (kind) {
    case kLedParameters: return 0x41;
    case kBrightness: return 0x43;
    case kBlank: return 0x63;
    case kAlignment: return 0x6A;
    case kReset: return 0x99;
    case kFactoryDefaults: return 0x9A;
    case kBlinking: return 0x60;
    case kTimedScroll: return 0x65;
    case kChangeId: return 0x21;
    case kDefaultMessage: return 0x20;
    default: return 0;  // the message's code is its encoding
    }
}

// A frame checked byte by byte without the encoders' help.
void CheckFrame(CommandKind kind, const Controls& c, const std::uint8_t* frame, std::size_t length)
{
    FUZZ_CHECK(length >= p::kMinFrameLength);
    FUZZ_CHECK(length <= p::kMaxFrameLength);
    FUZZ_CHECK(frame[0] == 0xA1);
    FUZZ_CHECK(frame[1] == length);
    FUZZ_CHECK(static_cast<std::uint8_t>(frame[1] + frame[2]) == 0xFF);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 2 < length; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
    FUZZ_CHECK(frame[length - 2] == sum);
    FUZZ_CHECK(frame[length - 1] == 0x51);
    FUZZ_CHECK(p::CheckFrame(frame, length) == p::FrameFault::None);
    // Nothing written after the end byte: the rest of the buffer stays zero.
    for (std::size_t i = length; i < p::kFrameBufferSize; ++i) FUZZ_CHECK(frame[i] == 0);

    const std::size_t a = c.idAddressing ? 1 : 0;
    // An address is sent only for an ID of one byte, as typed.
    if (a) FUZZ_CHECK(static_cast<std::int32_t>(frame[3]) == *p::ParseSigned(c.idText));
    const std::uint8_t code = frame[3 + a];
    if (kind == kMessage) {
        FUZZ_CHECK(code == 1 || code == 2);
        FUZZ_CHECK(code == (c.messageChoice == "UNICODE" ? 2 : 1));
        if (code == 2) FUZZ_CHECK(length == 6 + a + 2 * c.messageText.size());
    } else if (kind == kDefaultMessage) {
        FUZZ_CHECK(code == ExpectedCode(kind));
        FUZZ_CHECK(frame[4 + a] == (c.messageChoice == "UNICODE" ? 2 : 1));
        if (frame[4 + a] == 2) FUZZ_CHECK(length == 7 + a + 2 * c.messageText.size());
    } else {
        FUZZ_CHECK(code == ExpectedCode(kind));
        FUZZ_CHECK(length == 6 + a + FixedPayload(kind));
    }
}

// Builds into a buffer with guard regions on both sides and checks them.
std::size_t BuildGuarded(CommandKind kind, const Controls& c, std::uint8_t (&out)[p::kFrameBufferSize])
{
    std::vector<std::uint8_t> block(kGuard + p::kFrameBufferSize + kGuard, kGuardByte);
    std::uint8_t* frame = block.data() + kGuard;
    std::memset(frame, 0, p::kFrameBufferSize);  // as SendCommand zero-fills
    const std::size_t length = Build(kind, c, frame);
    for (std::size_t i = 0; i < kGuard; ++i) {
        FUZZ_CHECK(block[i] == kGuardByte);
        FUZZ_CHECK(block[kGuard + p::kFrameBufferSize + i] == kGuardByte);
    }
    std::memcpy(out, frame, p::kFrameBufferSize);
    return length;
}

std::u16string ConsumeUnits(FuzzedDataProvider& data, std::size_t maxUnits)
{
    std::u16string units;
    while (units.size() < maxUnits && data.remaining_bytes() >= 2) {
        // Mostly characters the controller's code page can carry, so that the
        // multibyte path sees real text and not only failed conversions.
        const auto raw = data.ConsumeIntegral<std::uint16_t>();
        switch (raw % 4) {
        case 0: units.push_back(static_cast<char16_t>(0x20 + (raw >> 2) % 0x5F)); break;  // ASCII
        case 1: units.push_back(static_cast<char16_t>(0x4E00 + (raw >> 2) % 0x51A6)); break;  // CJK
        default: units.push_back(static_cast<char16_t>(raw)); break;  // anything, surrogates too
        }
    }
    return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const auto kind = static_cast<CommandKind>(data.ConsumeIntegralInRange<int>(0, kCommandCount - 1));
    Controls c;
    c.idAddressing = data.ConsumeBool();
    c.idText = data.ConsumeRandomLengthString(24);
    c.widthText = data.ConsumeRandomLengthString(24);
    c.highText = data.ConsumeRandomLengthString(24);
    c.scanP10 = data.ConsumeBool();
    // Choice indices as the toolkit reports them: -1 (none) to the list's end,
    // and anything beyond for safety.
    c.scrollLevelIndex = data.ConsumeIntegralInRange<int>(-1, 300);
    c.scrollSpeedIndex = data.ConsumeIntegralInRange<int>(-1, 300);
    c.brightEntry = data.ConsumeRandomLengthString(12);
    c.alignIndex = data.ConsumeIntegralInRange<int>(-1, 4);
    c.blinkEnable = data.ConsumeBool();
    c.onText = data.ConsumeRandomLengthString(24);
    c.offText = data.ConsumeRandomLengthString(24);
    c.elapsedText = data.ConsumeRandomLengthString(24);
    c.rollSpeedText = data.ConsumeRandomLengthString(24);
    c.newIdText = data.ConsumeRandomLengthString(24);
    c.messageChoice = data.ConsumeBool() ? std::string("UNICODE") : data.ConsumeRandomLengthString(10);
    c.messageText = ConsumeUnits(data, 400);

    for (const std::string* text : {&c.idText, &c.widthText, &c.highText, &c.brightEntry, &c.onText, &c.offText,
                                    &c.elapsedText, &c.rollSpeedText, &c.newIdText})
        CheckNumberRules(*text);

    std::uint8_t first[p::kFrameBufferSize];
    const std::size_t length = BuildGuarded(kind, c, first);

    // An exactly sized heap buffer: a write past its end is the sanitizer's.
    auto exact = std::make_unique<std::uint8_t[]>(p::kFrameBufferSize);
    std::memset(exact.get(), 0xCC, p::kFrameBufferSize);
    std::memset(exact.get(), 0, p::kFrameBufferSize);
    const std::size_t again = Build(kind, c, exact.get());
    FUZZ_CHECK(again == length);
    FUZZ_CHECK(std::memcmp(first, exact.get(), p::kFrameBufferSize) == 0);

    if (length != 0) {
        CheckFrame(kind, c, first, length);
    } else {
        // Nothing was sealed: no start byte written.
        FUZZ_CHECK(first[0] == 0);
    }

    // The value form gives the same frame, or refuses the same way.
    const std::optional<std::uint8_t> address =
        c.idAddressing ? p::ParseAddress(c.idText) : std::optional<std::uint8_t>();
    if (!c.idAddressing || address) {
        if (const auto command = AsValue(kind, c)) {
            std::uint8_t value[p::kFrameBufferSize];
            std::memset(value, 0x5A, sizeof value);
            const std::size_t valueLength = p::EncodeCommand(*command, address, value);
            FUZZ_CHECK(valueLength == length);
            if (length != 0) FUZZ_CHECK(std::memcmp(first, value, p::kFrameBufferSize) == 0);
            else for (std::uint8_t b : value) FUZZ_CHECK(b == 0);
        } else {
            FUZZ_CHECK(length == 0);
        }
    } else {
        FUZZ_CHECK(length == 0);
    }
    return 0;
}
