// Conversion of message texts to the controller's double-byte code, and the
// bytes that reach the frame from it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/text_encoding.h"
#include "protocol/message_text.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace rq::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes AsBytes(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

TEST(ToControllerMultibyte, ChineseBecomesGbk)
{
    const auto converted = ToControllerMultibyte(u"中文");
    ASSERT_TRUE(converted.has_value());
    EXPECT_EQ(AsBytes(*converted), (Bytes{0xD6, 0xD0, 0xCE, 0xC4}));
}

#ifdef _WIN32
// The Wine suites run this table under a Chinese ANSI code page (936) and
// again under an English one (1252) and UTF-8 (65001), naming the one they
// set: the controller gets GBK under each.
TEST(ToControllerMultibyte, GbkWhateverWindowsAnsiCodePageIs)
{
    std::printf("ANSI code page %u\n", GetACP());
    if (const char* expected = std::getenv("RQ_EXPECT_ANSI_CODE_PAGE")) {
        EXPECT_EQ(std::to_string(GetACP()), expected) << "the suite did not get the code page it set";
    }
    EXPECT_EQ(ToControllerMultibyte(u"三号工位"), std::optional<std::string>("\xC8\xFD\xBA\xC5\xB9\xA4\xCE\xBB"));
}
#endif

TEST(ToControllerMultibyte, AsciiStaysAscii)
{
    EXPECT_EQ(ToControllerMultibyte(u"Hello, LED 123!"), std::optional<std::string>("Hello, LED 123!"));
    EXPECT_EQ(ToControllerMultibyte(u""), std::optional<std::string>(""));
}

TEST(ToControllerMultibyte, UnrepresentableTextFails)
{
    EXPECT_EQ(ToControllerMultibyte(u"a\U0001F600"), std::nullopt);  // outside GBK
    EXPECT_EQ(ToControllerMultibyte(u"한"), std::nullopt);           // Hangul syllable
    EXPECT_EQ(ToControllerMultibyte(std::u16string(1, char16_t(0xD800))), std::nullopt);
}

// The code page's own answer for the euro sign is the single byte 0x80, which
// the controller reads as the first of a pair: on either platform the text is
// refused, naming the character.
TEST(ToControllerMultibyte, TextTheControllerCannotShowIsRefused)
{
    const std::pair<std::u16string, char32_t> cases[] = {
        {u"A€", 0x20AC}, {u"€5 OK", 0x20AC}, {u"LED \U0001F600", 0x1F600}, {u"한", 0xD55C}};
    for (const auto& [text, refused] : cases) {
        const protocol::MultibyteText result = protocol::ToMultibyteText(text, &ToControllerMultibyte);
        EXPECT_EQ(result.refused, std::optional<char32_t>(refused)) << std::hex << refused;
        EXPECT_EQ(result.bytes, "");
    }
    EXPECT_EQ(protocol::ToMultibyteText(u"LED屏幕 OK", &ToControllerMultibyte).bytes, "LED\xC6\xC1\xC4\xBB OK");
}

TEST(ToControllerMultibyte, ChineseMessageInBothEncodings)
{
    const std::u16string text = u"中文";
    const auto converted = ToControllerMultibyte(text);
    ASSERT_TRUE(converted.has_value());
    EXPECT_EQ(protocol::EncodeMessageText(text, 1, *converted), (Bytes{0xD6, 0xD0, 0xCE, 0xC4}));
    EXPECT_EQ(protocol::EncodeMessageText(text, 2, *converted), (Bytes{0x2D, 0x4E, 0x87, 0x65}));
}

TEST(ToControllerMultibyte, MixedTextKeepsCharacterCount)
{
    const std::u16string text = u"LED屏幕 OK";
    const auto converted = ToControllerMultibyte(text);
    ASSERT_TRUE(converted.has_value());
    const Bytes bytes = protocol::EncodeMessageText(text, 1, *converted);
    // Six one-byte characters and two two-byte ones.
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_EQ(bytes, AsBytes(*converted));
}

}  // namespace
}  // namespace rq::platform
