#include <gtest/gtest.h>

#include <vector>

#include "serial/log_line.h"

namespace rq::serial {
namespace {

TEST(LogLine, TimePrefixPadsEveryFieldAndEndsWithFiveBlanks)
{
    const wxDateTime time(1, wxDateTime::Mar, 2024, 9, 5, 3, 42);
    EXPECT_EQ(TimePrefix(time), "09:05:03.042     ");
}

TEST(LogLine, TimePrefixKeepsTwoDigitFields)
{
    const wxDateTime time(31, wxDateTime::Dec, 2023, 23, 59, 58, 999);
    EXPECT_EQ(TimePrefix(time), "23:59:58.999     ");
}

TEST(LogLine, BlankAndTimeStampedPrefixesHaveTheSameWidth)
{
    const wxDateTime time(1, wxDateTime::Jan, 2024, 0, 0, 0, 0);
    EXPECT_EQ(TimePrefix(time).length(), static_cast<std::size_t>(TIME_PREFIX_WIDTH));
    EXPECT_EQ(BlankPrefix(), wxString(' ', 17));
    EXPECT_EQ(TIME_PREFIX_WIDTH, 17);
}

struct ColourCase {
    const char* name;
    Rgb colour;
    int encoded;
};

class ColourRoundTrip : public testing::TestWithParam<ColourCase> {};

TEST_P(ColourRoundTrip, EncodesRedLowGreenMiddleBlueHigh)
{
    const ColourCase& c = GetParam();
    EXPECT_EQ(EncodeColour(c.colour), c.encoded);
    const Rgb decoded = DecodeColour(c.encoded);
    EXPECT_EQ(decoded.r, c.colour.r);
    EXPECT_EQ(decoded.g, c.colour.g);
    EXPECT_EQ(decoded.b, c.colour.b);
}

INSTANTIATE_TEST_SUITE_P(
    LogColours, ColourRoundTrip,
    testing::Values(ColourCase{"plum", PLUM, 98 + 53 * 256 + 98 * 65536},
                    ColourCase{"olive", OLIVE, 32896},
                    ColourCase{"green", GREEN, 32768},
                    ColourCase{"magenta", MAGENTA, 190 + 190 * 65536},
                    ColourCase{"blue", BLUE, 16711680},
                    ColourCase{"orange", ORANGE, 219 + 71 * 256},
                    ColourCase{"red", RED, 255},
                    ColourCase{"maroon", MAROON, 128}),
    [](const testing::TestParamInfo<ColourCase>& info) { return std::string(info.param.name); });

TEST(LogLine, DecodeIgnoresBitsAboveBlue)
{
    EXPECT_EQ(DecodeColour(0x7F0000FF), RED);
}

TEST(LogLine, HexDumpIsOneBlankAndTwoUpperCaseDigitsPerByte)
{
    const std::uint8_t frame[] = {0xA1, 0x08, 0xF7, 0x01, 0x43, 0x08, 0xEC, 0x51};
    EXPECT_EQ(HexDump(frame, sizeof frame), " A1 08 F7 01 43 08 EC 51");
    const std::uint8_t edges[] = {0x00, 0x0F, 0xF0, 0xFF, 0xab};
    EXPECT_EQ(HexDump(edges, sizeof edges), " 00 0F F0 FF AB");
    EXPECT_EQ(HexDump(frame, 0), "");
}

TEST(LogLine, TwentyByteDumpIsSixtyCharactersOnOneLine)
{
    std::vector<std::uint8_t> bytes(20);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13);
    const wxString dump = HexDump(bytes.data(), bytes.size());
    EXPECT_EQ(dump.length(), 60u);
    EXPECT_EQ(dump.Find('\n'), wxNOT_FOUND);
    EXPECT_TRUE(dump.StartsWith(" 00 0D 1A"));
    EXPECT_TRUE(dump.EndsWith(" F7"));  // 19 * 13 = 247
}

TEST(LogLine, BannerFramesTheTitle)
{
    EXPECT_EQ(BannerText("Bright Set"), "               =========  Bright Set  =========");
    EXPECT_EQ(BannerText(""), "               =========    =========");
}

}  // namespace
}  // namespace rq::serial
