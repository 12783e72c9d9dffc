// Message texts: the double-byte copy rule, UTF-16LE, the encoding choice,
// and the 255-byte frame limit of both message commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/message_text.h"

namespace rq::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct TextCase {
    const char* name;
    std::u16string text;
    int encoding;
    std::string multibyte;
    Bytes expected;
};

std::ostream& operator<<(std::ostream& os, const TextCase& c)
{
    return os << c.name;
}

class MessageTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(MessageTextTest, Bytes)
{
    const TextCase& c = GetParam();
    EXPECT_EQ(EncodeMessageText(c.text, c.encoding, c.multibyte), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageTextTest,
    testing::Values(
        TextCase{"Utf16Ascii", u"abc", 2, "", {0x61, 0x00, 0x62, 0x00, 0x63, 0x00}},
        TextCase{"Utf16Chinese", u"中文", 2, "ignored", {0x2D, 0x4E, 0x87, 0x65}},
        TextCase{"Utf16SurrogatePair", u"\U0001F600", 2, "", {0x3D, 0xD8, 0x00, 0xDE}},
        TextCase{"Utf16Empty", u"", 2, "", {}},
        TextCase{"MultibyteAscii", u"abc", 1, "abc", {0x61, 0x62, 0x63}},
        TextCase{"MultibyteChinese", u"中文", 1, "\xD6\xD0\xCE\xC4", {0xD6, 0xD0, 0xCE, 0xC4}},
        TextCase{"MultibyteMixed", u"A中b", 1, "A\xD6\xD0" "b", {0x41, 0xD6, 0xD0, 0x62}},
        // A double-byte character counts as one character.
        TextCase{"CountLimitsCopy", u"中a", 1, "\xD6\xD0" "azz", {0xD6, 0xD0, 0x61}},
        TextCase{"ShortConversionStopsAtItsEnd", u"abcd", 1, "ab", {0x61, 0x62}},
        TextCase{"FailedConversionSendsNoText", u"abc", 1, "", {}},
        TextCase{"Byte80StartsTwoByteCharacter", u"x", 1, "\x80\x41" "c", {0x80, 0x41}},
        TextCase{"Byte7FIsOneByteCharacter", u"xy", 1, "\x7F\x41", {0x7F, 0x41}},
        TextCase{"TrailingLeadByteDropped", u"a中", 1, "a\xD6", {0x61}},
        TextCase{"EmptyText", u"", 1, "abc", {}}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(EncodeMessageText, NeverReadsPastTheConvertedText)
{
    // The view ends on a lead byte; the byte after it in memory must not be
    // taken as its second half.
    const char storage[] = "a\xD6\xD0zz";
    const std::string_view converted(storage, 2);
    EXPECT_EQ(EncodeMessageText(u"a中", 1, converted), Bytes{0x61});
}

TEST(MessageEncoding, OnlyExactUnicodeIsTwo)
{
    EXPECT_EQ(MessageEncoding("UNICODE"), 2);
    EXPECT_EQ(MessageEncoding("GB2312"), 1);
    EXPECT_EQ(MessageEncoding("unicode"), 1);
    EXPECT_EQ(MessageEncoding("UNICODE "), 1);
    EXPECT_EQ(MessageEncoding(""), 1);
}

// ---- which characters encoding 1 can carry ----

// Stands in for the code page: ASCII as itself, and a few characters whose
// bytes are chosen to sit on either side of the pair rule.
std::optional<std::string> FakeCodePage(std::u16string_view character)
{
    static const std::pair<char16_t, const char*> table[] = {
        {u'€', "\x80"},          {u'中', "\xD6\xD0"},         {u'甲', "\x81\x40"},
        {u'乙', "\xFE\xFE"},     {u'丙', "\x81\x7F"},         {u'丁', "\x81\x3F"},
        {u'戊', "\xFF\x41"},     {u'己', "\x81\x30\x81\x30"},
    };
    if (character.size() != 1) return std::nullopt;
    if (character[0] < 0x80) return std::string(1, static_cast<char>(character[0]));
    for (const auto& [c, bytes] : table) {
        if (c == character[0]) return std::string(bytes);
    }
    return std::nullopt;
}

struct CheckCase {
    const char* name;
    std::u16string text;
    std::string bytes;                // when accepted
    std::optional<char32_t> refused;  // the character named
};

std::ostream& operator<<(std::ostream& os, const CheckCase& c)
{
    return os << c.name;
}

class MultibyteCheckTest : public testing::TestWithParam<CheckCase> {};

TEST_P(MultibyteCheckTest, AcceptsOnlyOneByteOrOnePair)
{
    const CheckCase& c = GetParam();
    const MultibyteText result = ToMultibyteText(c.text, &FakeCodePage);
    EXPECT_EQ(result.refused, c.refused);
    EXPECT_EQ(result.bytes, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MultibyteCheckTest,
    testing::Values(CheckCase{"AsciiAndPairs", u"A中甲乙", "A\xD6\xD0\x81\x40\xFE\xFE", std::nullopt},
                    CheckCase{"EuroAfterText", u"A€", "", 0x20AC},
                    CheckCase{"EuroBeforeDigits", u"€5 OK", "", 0x20AC},
                    CheckCase{"Trail7F", u"丙", "", 0x4E19},
                    CheckCase{"TrailBelow40", u"a丁", "", 0x4E01},
                    CheckCase{"LeadFF", u"戊", "", 0x620A},
                    CheckCase{"FourBytes", u"己", "", 0x5DF1},
                    CheckCase{"NoConversion", u"ab한", "", 0xD55C},
                    CheckCase{"PairIsOneCharacter", u"x\U0001F600", "", 0x1F600},
                    CheckCase{"LoneSurrogate", std::u16string(1, char16_t(0xDC00)), "", 0xDC00}),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(CharacterName, ShowsTheCharacterAndItsNumber)
{
    EXPECT_EQ(CharacterName(0x20AC), "\"\xE2\x82\xAC\" (U+20AC)");
    EXPECT_EQ(CharacterName(0x1F600), "\"\xF0\x9F\x98\x80\" (U+1F600)");
    EXPECT_EQ(CharacterName(0x07), "U+0007");
    EXPECT_EQ(CharacterName(0xD800), "U+D800");
}

// ---- the 255-byte limit ----

struct LimitCase {
    bool addressed;
    bool defaultMessage;
    int encoding;
    std::size_t longestChars;   // longest text accepted, in characters
    std::size_t longestLength;  // its frame length
};

std::ostream& operator<<(std::ostream& os, const LimitCase& c)
{
    return os << (c.defaultMessage ? "default" : "send") << (c.addressed ? "+id" : "")
              << " encoding " << c.encoding;
}

// A frame buffer with guard bytes after it, to see writes past its end.
struct GuardedBuffer {
    std::uint8_t frame[kFrameBufferSize] = {};
    std::uint8_t guard[64] = {};
    bool GuardIntact() const
    {
        return std::all_of(std::begin(guard), std::end(guard), [](auto b) { return b == 0; });
    }
};

std::u16string AsciiText(std::size_t chars)
{
    std::u16string text;
    for (std::size_t i = 0; i < chars; ++i)
        text.push_back(static_cast<char16_t>(u'A' + i % 26));
    return text;
}

std::string AsciiMultibyte(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

class MessageLimitTest : public testing::TestWithParam<LimitCase> {
protected:
    Bytes TextBytes(std::size_t chars) const
    {
        const std::u16string text = AsciiText(chars);
        return EncodeMessageText(text, GetParam().encoding, AsciiMultibyte(text));
    }
    Command MakeCommand(Bytes textBytes) const
    {
        if (GetParam().defaultMessage)
            return DefaultMessage{GetParam().encoding, std::move(textBytes)};
        return Message{GetParam().encoding, std::move(textBytes)};
    }
    std::optional<std::uint8_t> Address() const
    {
        return GetParam().addressed ? std::optional<std::uint8_t>(7) : std::nullopt;
    }
    std::size_t Encode(std::uint8_t* frame, const Bytes& textBytes) const
    {
        const std::size_t pos = BeginEnvelope(frame, Address());
        const std::size_t end =
            GetParam().defaultMessage
                ? EncodeDefaultMessage(frame, pos, GetParam().encoding, textBytes)
                : EncodeMessage(frame, pos, GetParam().encoding, textBytes);
        return end == 0 ? 0 : SealEnvelope(frame, 0, end);
    }
};

TEST_P(MessageLimitTest, LongestTextIsSentWhole)
{
    const LimitCase& c = GetParam();
    const Bytes text = TextBytes(c.longestChars);
    GuardedBuffer buffer;
    ASSERT_EQ(Encode(buffer.frame, text), c.longestLength);
    EXPECT_TRUE(buffer.GuardIntact());
    EXPECT_EQ(CheckFrame(buffer.frame, c.longestLength), FrameFault::None);
    const std::size_t textStart = 3 + (c.addressed ? 1 : 0) + (c.defaultMessage ? 2 : 1);
    EXPECT_TRUE(std::equal(text.begin(), text.end(), buffer.frame + textStart));
    EXPECT_EQ(textStart + text.size() + 2, c.longestLength);
    EXPECT_TRUE(MessageFits(textStart - (c.defaultMessage ? 2 : 1), text.size(), c.defaultMessage));

    std::uint8_t viaCommand[kFrameBufferSize];
    ASSERT_EQ(EncodeCommand(MakeCommand(text), Address(), viaCommand), c.longestLength);
    EXPECT_TRUE(std::equal(viaCommand, viaCommand + c.longestLength, buffer.frame));
}

TEST_P(MessageLimitTest, OneCharacterMoreIsRefused)
{
    const Bytes text = TextBytes(GetParam().longestChars + 1);
    GuardedBuffer buffer;
    EXPECT_EQ(Encode(buffer.frame, text), 0u);
    EXPECT_TRUE(buffer.GuardIntact());
    // Nothing written past the address.
    const std::size_t codePos = GetParam().addressed ? 4 : 3;
    EXPECT_TRUE(std::all_of(buffer.frame + codePos, std::end(buffer.frame),
                            [](auto b) { return b == 0; }));

    std::uint8_t viaCommand[kFrameBufferSize];
    EXPECT_EQ(EncodeCommand(MakeCommand(text), Address(), viaCommand), 0u);
}

// Text bytes allowed: 249 - A for the send command, 248 - A for the default
// message; two bytes per character in encoding 2.
INSTANTIATE_TEST_SUITE_P(Boundaries, MessageLimitTest,
                         testing::Values(LimitCase{false, false, 1, 249, 255},
                                         LimitCase{true, false, 1, 248, 255},
                                         LimitCase{false, false, 2, 124, 254},
                                         LimitCase{true, false, 2, 124, 255},
                                         LimitCase{false, true, 1, 248, 255},
                                         LimitCase{true, true, 1, 247, 255},
                                         LimitCase{false, true, 2, 124, 255},
                                         LimitCase{true, true, 2, 123, 254}));

TEST(MessageFits, ExtremeInputsRefused)
{
    EXPECT_FALSE(MessageFits(4, static_cast<std::size_t>(-1), false));
    EXPECT_FALSE(MessageFits(300, 0, true));
    EXPECT_TRUE(MessageFits(4, 0, true));
}

TEST(EncodeMessage, UnknownEncodingRefused)
{
    std::uint8_t frame[kFrameBufferSize] = {};
    EXPECT_EQ(EncodeMessage(frame, 4, 0, Bytes{0x61}), 0u);
    EXPECT_EQ(EncodeMessage(frame, 4, 3, Bytes{0x61}), 0u);
    EXPECT_EQ(EncodeDefaultMessage(frame, 4, 3, Bytes{0x61}), 0u);
    EXPECT_TRUE(std::all_of(std::begin(frame), std::end(frame), [](auto b) { return b == 0; }));
}

TEST(EncodeMessage, EmptyTextGivesFrameWithoutText)
{
    std::uint8_t frame[kFrameBufferSize];
    EXPECT_EQ(EncodeCommand(Message{1, {}}, std::uint8_t{1}, frame), 7u);
    const Bytes expected{0xA1, 0x07, 0xF8, 0x01, 0x01, 0xA2, 0x51};
    EXPECT_EQ(Bytes(frame, frame + 7), expected);
}

}  // namespace
}  // namespace rq::protocol
