// Every command's wire bytes, built the way the window's builders build them
// (envelope, per-command encoder, seal) and through EncodeCommand.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/message_text.h"
#include "protocol/numbers.h"

namespace rq::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

// The builder shape: zero-filled buffer, envelope, code and payload, seal.
// Returns the frame, empty when the encoder refused.
Bytes BuildWithEncoders(const Command& command, std::optional<std::uint8_t> address)
{
    std::array<std::uint8_t, kFrameBufferSize> frame{};
    const std::size_t pos = BeginEnvelope(frame.data(), address);
    std::uint8_t* f = frame.data();
    const std::size_t checksumPos = std::visit(
        Overloaded{
            [&](const LedParameters& c) {
                return EncodeLedParameters(f, pos, c.widthDots, c.highDots, c.scanP10,
                                           c.scrollLevelIndex, c.scrollSpeedIndex);
            },
            [&](const Brightness& c) { return EncodeBrightness(f, pos, c.value); },
            [&](const Blank&) { return EncodeBlank(f, pos); },
            [&](const Reset&) { return EncodeReset(f, pos); },
            [&](const FactoryDefaults&) { return EncodeFactoryDefaults(f, pos); },
            [&](const Alignment& c) { return EncodeAlignment(f, pos, c.code); },
            [&](const Blinking& c) { return EncodeBlinking(f, pos, c.enable, c.onMs, c.offMs); },
            [&](const TimedScroll& c) { return EncodeTimedScroll(f, pos, c.elapsed, c.speed); },
            [&](const ChangeId& c) { return EncodeChangeId(f, pos, c.newId); },
            [&](const Message& c) { return EncodeMessage(f, pos, c.encoding, c.textBytes); },
            [&](const DefaultMessage& c) {
                return EncodeDefaultMessage(f, pos, c.encoding, c.textBytes);
            },
        },
        command);
    if (checksumPos == 0)
        return {};
    const std::size_t length = SealEnvelope(f, 0, checksumPos);
    return Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes BuildWithEncodeCommand(const Command& command, std::optional<std::uint8_t> address)
{
    std::uint8_t buffer[kFrameBufferSize];
    std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0xCC});  // must be cleared
    const std::size_t length = EncodeCommand(command, address, buffer);
    return Bytes(buffer, buffer + length);
}

Bytes Ascii(const char* text)
{
    return Bytes(text, text + std::char_traits<char>::length(text));
}

// The fields as the window reads them from its controls.
LedParameters Led(const char* width, const char* high, const char* scanText, int level, int speed)
{
    return LedParameters{*ParseUnsignedRequired(width), *ParseUnsignedRequired(high),
                         std::string(scanText) == "P10", level, speed};
}
Brightness BrightFromEntry(const char* selectedEntry)
{
    return Brightness{BrightnessByte(ParseUnsignedRequired(selectedEntry))};
}
TimedScroll Scroll(const char* elapsed, const char* speed)
{
    return TimedScroll{ParseUnsignedLenient(elapsed), ParseUnsignedLenient(speed)};
}
Blinking Blink(bool enable, const char* on, const char* off)
{
    return Blinking{enable, ParseUnsignedLenient(on), ParseUnsignedLenient(off)};
}

struct WireCase {
    const char* name;
    Command command;
    std::optional<std::uint8_t> address;
    Bytes expected;
};

std::ostream& operator<<(std::ostream& os, const WireCase& c)
{
    return os << c.name;
}

const std::optional<std::uint8_t> kId1 = std::uint8_t{1};
const std::optional<std::uint8_t> kNoId = std::nullopt;

const WireCase kWireCases[] = {
    // Envelope examples.
    {"Brightness8Id1", BrightFromEntry("8"), kId1, {0xA1, 0x08, 0xF7, 0x01, 0x43, 0x08, 0xEC, 0x51}},
    {"Brightness8NoId", BrightFromEntry("8"), kNoId, {0xA1, 0x07, 0xF8, 0x43, 0x08, 0xEB, 0x51}},
    {"BlankNoIdIsSixBytes", Blank{}, kNoId, {0xA1, 0x06, 0xF9, 0x63, 0x03, 0x51}},
    {"TimedScroll3000And50LowByteFirst", Scroll("3000", "50"), kId1,
     {0xA1, 0x0B, 0xF4, 0x01, 0x65, 0xB8, 0x0B, 0x32, 0x00, 0xFB, 0x51}},
    // Command set examples.
    {"Led64x16P762Level3Speed3", Led("64", "16", "P7.62", 3, 3), kId1,
     {0xA1, 0x0E, 0xF1, 0x01, 0x41, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x33, 0x1F, 0x51}},
    {"Led128x32P10Level15Speed0", Led("128", "32", "P10", 15, 0), kId1,
     {0xA1, 0x0E, 0xF1, 0x01, 0x41, 0x10, 0x04, 0x00, 0x00, 0x00, 0x41, 0xF0, 0x27, 0x51}},
    {"BlinkingOn1000Off1000", Blink(true, "1000", "1000"), kId1,
     {0xA1, 0x0C, 0xF3, 0x01, 0x60, 0x01, 0xE8, 0x03, 0xE8, 0x03, 0xD8, 0x51}},
    {"AlignmentCenter", Alignment{*AlignmentCode(1)}, kId1,
     {0xA1, 0x08, 0xF7, 0x01, 0x6A, 0x04, 0x0F, 0x51}},
    {"ChangeId1To2", ChangeId{*ParseUnsignedRequired("2")}, kId1,
     {0xA1, 0x08, 0xF7, 0x01, 0x21, 0x02, 0xC4, 0x51}},
    {"Brightness20Becomes15", BrightFromEntry("20"), kId1,
     {0xA1, 0x08, 0xF7, 0x01, 0x43, 0x0F, 0xF3, 0x51}},
    {"Brightness255StaysAuto", BrightFromEntry("255"), kId1,
     {0xA1, 0x08, 0xF7, 0x01, 0x43, 0xFF, 0xE3, 0x51}},
    {"BrightnessAutoEntrySends255", BrightFromEntry("Auto"), kId1,
     {0xA1, 0x08, 0xF7, 0x01, 0x43, 0xFF, 0xE3, 0x51}},
    {"BrightnessNoEntrySends255", BrightFromEntry(""), kId1,
     {0xA1, 0x08, 0xF7, 0x01, 0x43, 0xFF, 0xE3, 0x51}},
    {"SendMessageAbcEncoding1", Message{1, EncodeMessageText(u"abc", 1, "abc")}, kId1,
     {0xA1, 0x0A, 0xF5, 0x01, 0x01, 0x61, 0x62, 0x63, 0xC8, 0x51}},
    {"SendMessageAbcEncoding2", Message{2, EncodeMessageText(u"abc", 2, "")}, kId1,
     {0xA1, 0x0D, 0xF2, 0x01, 0x02, 0x61, 0x00, 0x62, 0x00, 0x63, 0x00, 0xC9, 0x51}},
    {"DefaultMessageAbcEncoding1", DefaultMessage{1, EncodeMessageText(u"abc", 1, "abc")}, kId1,
     {0xA1, 0x0B, 0xF4, 0x01, 0x20, 0x01, 0x61, 0x62, 0x63, 0xE8, 0x51}},
    {"FactoryDefaultsNoId", FactoryDefaults{}, kNoId, {0xA1, 0x06, 0xF9, 0x9A, 0x3A, 0x51}},
    {"ResetNoId", Reset{}, kNoId, {0xA1, 0x06, 0xF9, 0x99, 0x39, 0x51}},
    {"TimedScrollEmptyElapsedSendsZero", Scroll("", "50"), kId1,
     {0xA1, 0x0B, 0xF4, 0x01, 0x65, 0x00, 0x00, 0x32, 0x00, 0x38, 0x51}},
    // Values wider than their field keep their low bits.
    {"Led2048WideWrapsToZero", Led("2048", "16", "P7.62", 3, 3), kId1,
     {0xA1, 0x0E, 0xF1, 0x01, 0x41, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x33, 0x17, 0x51}},
    {"Led2056WideWrapsToOne", Led("2056", "16", "P7.62", 3, 3), kId1,
     {0xA1, 0x0E, 0xF1, 0x01, 0x41, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x33, 0x18, 0x51}},
    {"TimedScroll70000KeepsLow16Bits", Scroll("70000", "50"), kId1,
     {0xA1, 0x0B, 0xF4, 0x01, 0x65, 0x70, 0x11, 0x32, 0x00, 0xB9, 0x51}},
    // ...but a number beyond 32 bits is not read at all and goes out as 0.
    {"TimedScrollBeyond32BitsSendsZero", Scroll("4294967297", "65537"), kId1,
     {0xA1, 0x0B, 0xF4, 0x01, 0x65, 0x00, 0x00, 0x01, 0x00, 0x07, 0x51}},
    {"ChangeIdTo300SendsLowByte", ChangeId{*ParseUnsignedRequired("300")}, kId1,
     {0xA1, 0x08, 0xF7, 0x01, 0x21, 0x2C, 0xEE, 0x51}},
    // Addresses from the ID field: 0 to 255, blanks allowed.
    {"Address255IsFF", Blank{}, ParseAddress("255"), {0xA1, 0x07, 0xF8, 0xFF, 0x63, 0x02, 0x51}},
    {"AddressWithLeadingBlanks", Blank{}, ParseAddress("  1"),
     {0xA1, 0x07, 0xF8, 0x01, 0x63, 0x04, 0x51}},
    // Scroll level and speed are indices; a missing selection (-1) wraps.
    {"LedNoScrollSelection", LedParameters{64, 16, false, -1, -1}, kId1,
     {0xA1, 0x0E, 0xF1, 0x01, 0x41, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0xEF, 0xDB, 0x51}},
    {"BlinkingDisabledZeroIntervals", Blink(false, "x", ""), kNoId,
     {0xA1, 0x0B, 0xF4, 0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x51}},
};

class WireBytesTest : public testing::TestWithParam<WireCase> {};

TEST_P(WireBytesTest, EncodersProduceExactBytes)
{
    EXPECT_EQ(BuildWithEncoders(GetParam().command, GetParam().address), GetParam().expected);
}

TEST_P(WireBytesTest, EncodeCommandProducesSameBytes)
{
    EXPECT_EQ(BuildWithEncodeCommand(GetParam().command, GetParam().address),
              GetParam().expected);
}

TEST_P(WireBytesTest, FramePassesIndependentCheck)
{
    const Bytes& bytes = GetParam().expected;
    EXPECT_EQ(CheckFrame(bytes.data(), bytes.size()), FrameFault::None);
}

INSTANTIATE_TEST_SUITE_P(Table, WireBytesTest, testing::ValuesIn(kWireCases),
                         [](const testing::TestParamInfo<WireCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(FieldRules, TextsThatStopAFrame)
{
    // The builders return 0 ("Parameter error") when these do not parse.
    EXPECT_EQ(ParseUnsignedRequired(""), std::nullopt);     // empty WidthText
    EXPECT_EQ(ParseUnsignedRequired("64a"), std::nullopt);  // digits then a letter
    EXPECT_EQ(ParseAddress("abc"), std::nullopt);
    EXPECT_EQ(ParseAddress("1a"), std::nullopt);
    EXPECT_EQ(ParseAddress(""), std::nullopt);
    // The lenient fields use the digits instead.
    EXPECT_EQ(ParseUnsignedLenient("64a"), 64u);
}

TEST(FieldRules, BrightnessByteCoversEveryClass)
{
    EXPECT_EQ(BrightnessByte(std::nullopt), 0xFF);
    EXPECT_EQ(BrightnessByte(0u), 0x00);
    EXPECT_EQ(BrightnessByte(14u), 0x0E);
    EXPECT_EQ(BrightnessByte(15u), 0x0F);
    EXPECT_EQ(BrightnessByte(254u), 0x0F);
    EXPECT_EQ(BrightnessByte(255u), 0xFF);
    EXPECT_EQ(BrightnessByte(256u), 0x0F);
    EXPECT_EQ(BrightnessByte(4294967295u), 0x0F);  // "-1"
}

TEST(FieldRules, AlignmentCodeMapsChoiceIndex)
{
    EXPECT_EQ(AlignmentCode(0), std::optional<std::uint8_t>(1));
    EXPECT_EQ(AlignmentCode(1), std::optional<std::uint8_t>(4));
    EXPECT_EQ(AlignmentCode(2), std::optional<std::uint8_t>(2));
    EXPECT_EQ(AlignmentCode(-1), std::nullopt);
    EXPECT_EQ(AlignmentCode(3), std::nullopt);
}

TEST(EncodeCommand, ChangeIdWithoutAddressBuildsNoFrame)
{
    std::uint8_t buffer[kFrameBufferSize];
    std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0xCC});
    EXPECT_EQ(EncodeCommand(ChangeId{2}, std::nullopt, buffer), 0u);
    EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](auto b) { return b == 0; }));
}

TEST(EncodeCommand, MatchesEncodersForEveryAddressAndCommand)
{
    const Command commands[] = {
        LedParameters{4096, 1024, true, 15, 15}, Brightness{7}, Blank{}, Reset{},
        FactoryDefaults{}, Alignment{2}, Blinking{true, 65535, 65536}, TimedScroll{1, 65535},
        ChangeId{255}, Message{2, Bytes(40, 0xA5)}, DefaultMessage{1, Ascii("Hello")},
    };
    for (const Command& command : commands) {
        for (int address = 0; address < 256; ++address) {
            const auto a = std::optional<std::uint8_t>(static_cast<std::uint8_t>(address));
            ASSERT_EQ(BuildWithEncodeCommand(command, a), BuildWithEncoders(command, a))
                << "command " << command.index() << " address " << address;
        }
        if (!std::holds_alternative<ChangeId>(command)) {
            ASSERT_EQ(BuildWithEncodeCommand(command, std::nullopt),
                      BuildWithEncoders(command, std::nullopt))
                << "command " << command.index() << " without address";
        }
    }
}

TEST(EncodeCommand, FrameLengthsPerCommand)
{
    // Fixed lengths without (A = 0) and with (A = 1) an address.
    const struct {
        Command command;
        std::size_t length;
    } cases[] = {
        {ChangeId{1}, 7},     {Alignment{1}, 7},    {Brightness{1}, 7},
        {TimedScroll{}, 10},  {Blank{}, 6},         {Reset{}, 6},
        {FactoryDefaults{}, 6}, {LedParameters{}, 13}, {Blinking{}, 11},
        {DefaultMessage{1, Ascii("abcd")}, 11}, {Message{1, Ascii("abcd")}, 10},
    };
    for (const auto& c : cases) {
        std::uint8_t buffer[kFrameBufferSize];
        EXPECT_EQ(EncodeCommand(c.command, std::uint8_t{9}, buffer), c.length + 1)
            << "command " << c.command.index();
        if (!std::holds_alternative<ChangeId>(c.command)) {
            EXPECT_EQ(EncodeCommand(c.command, std::nullopt, buffer), c.length)
                << "command " << c.command.index();
        }
    }
}

}  // namespace
}  // namespace rq::protocol
