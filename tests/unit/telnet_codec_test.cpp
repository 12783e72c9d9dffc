// The telnet side of rfc2217:// lines: what goes on the wire for our data and
// settings, and what is made of the server's bytes.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "line/telnet_codec.h"

using rq::platform::TelnetCodec;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes bytes;
    std::istringstream in(hex);
    std::string pair;
    while (in >> pair) bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

std::string ToHex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::uint8_t b : bytes) {
        if (!hex.empty()) hex += ' ';
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

struct EscapeCase {
    const char* name;
    const char* data;
    const char* wire;
};

class TelnetEscape : public testing::TestWithParam<EscapeCase> {};

TEST_P(TelnetEscape, DoublesEveryFFAndNothingElse)
{
    const Bytes data = FromHex(GetParam().data);
    EXPECT_EQ(ToHex(TelnetCodec::EscapeData(data.data(), data.size())), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(
    Codec, TelnetEscape,
    testing::Values(EscapeCase{"Empty", "", ""},
                    EscapeCase{"NoFF", "A1 06 F9 63 03 51", "A1 06 F9 63 03 51"},
                    // The automatic brightness frame.
                    EscapeCase{"AutoBrightness", "A1 08 F7 01 43 FF E3 51", "A1 08 F7 01 43 FF FF E3 51"},
                    EscapeCase{"TwoFF", "FF FF", "FF FF FF FF"},
                    // Binary mode: CR and NUL pass as they are, no CR NUL added.
                    EscapeCase{"CrNul", "0D 00 0D 0A", "0D 00 0D 0A"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SettingsCase {
    const char* name;
    long baud;
    const char* wire;
};

class TelnetLineSettings : public testing::TestWithParam<SettingsCase> {};

TEST_P(TelnetLineSettings, RateHighByteFirstThen8N1WithoutFlowControl)
{
    EXPECT_EQ(ToHex(TelnetCodec::LineSettings(GetParam().baud)),
              std::string(GetParam().wire) +
                  " FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0 FF FA 2C 05 01 FF F0");
}

INSTANTIATE_TEST_SUITE_P(
    Codec, TelnetLineSettings,
    testing::Values(SettingsCase{"B9600", 9600, "FF FA 2C 01 00 00 25 80 FF F0"},
                    SettingsCase{"B115200", 115200, "FF FA 2C 01 00 01 C2 00 FF F0"},
                    // A value byte of FF is doubled inside the command too.
                    SettingsCase{"B511", 511, "FF FA 2C 01 00 00 01 FF FF FF F0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TelnetStart, OffersThePortOptionAndBinaryBothWays)
{
    TelnetCodec codec;
    EXPECT_EQ(ToHex(codec.Start()), "FF FB 2C FF FB 00 FF FD 00 FF FD 03");
}

TEST(TelnetPurge, AsksTheServerToDropWhatItsLineReceived)
{
    EXPECT_EQ(ToHex(TelnetCodec::PurgeReceived()), "FF FA 2C 0C 01 FF F0");
}

struct ReceiveCase {
    const char* name;
    std::vector<const char*> chunks;  // as the socket hands them over
    const char* data;                 // what the line reads
    const char* answers;              // what goes back to the server
    bool agreed;
    bool refused;
    unsigned baud;
};

class TelnetReceive : public testing::TestWithParam<ReceiveCase> {};

TEST_P(TelnetReceive, SplitsDataFromNegotiationAndAnswersOnlyWhatIsAsked)
{
    TelnetCodec codec;
    codec.Start();
    Bytes data;
    Bytes answers;
    for (const char* chunk : GetParam().chunks) {
        const Bytes bytes = FromHex(chunk);
        codec.Receive(bytes.data(), bytes.size(), data, answers);
    }
    EXPECT_EQ(ToHex(data), GetParam().data);
    EXPECT_EQ(ToHex(answers), GetParam().answers);
    EXPECT_EQ(codec.PortOptionAgreed(), GetParam().agreed);
    EXPECT_EQ(codec.PortOptionRefused(), GetParam().refused);
    EXPECT_EQ(codec.AcknowledgedBaud(), GetParam().baud);
}

INSTANTIATE_TEST_SUITE_P(
    Codec, TelnetReceive,
    testing::Values(
        ReceiveCase{"PlainStatus", {"0F"}, "0F", "", false, false, 0},
        ReceiveCase{"DoubledFF", {"FF FF 0F"}, "FF 0F", "", false, false, 0},
        ReceiveCase{"DoubledFFSplit", {"FF", "FF"}, "FF", "", false, false, 0},
        // Answers to our own requests are not answered again.
        ReceiveCase{"ServerAgrees", {"FF FD 2C FF FD 00 FF FB 00 FF FB 03"}, "", "", true, false, 0},
        ReceiveCase{"ServerRefusesPortOption", {"FF FE 2C"}, "", "", false, true, 0},
        ReceiveCase{"UnknownDoIsRefused", {"FF FD 01"}, "", "FF FC 01", false, false, 0},
        ReceiveCase{"UnknownWillIsRefused", {"FF FB 01"}, "", "FF FE 01", false, false, 0},
        ReceiveCase{"RepeatedDoAnsweredOnce", {"FF FD 2C", "FF FD 2C"}, "", "", true, false, 0},
        ReceiveCase{"DontAfterAgreeIsAcknowledged", {"FF FD 00", "FF FE 00"}, "", "FF FC 00", false, false, 0},
        ReceiveCase{"BaudAcknowledged", {"FF FA 2C 65 00 00 25 80 FF F0"}, "", "", false, false, 9600},
        ReceiveCase{"BaudAcknowledgedInPieces", {"FF FA 2C", "65 00 00", "25 80 FF", "F0 0F"}, "0F", "", false,
                    false, 9600},
        ReceiveCase{"BaudWithDoubledFF", {"FF FA 2C 65 00 00 FF FF FF FF FF F0"}, "", "", false, false, 65535},
        ReceiveCase{"OtherAnswersIgnored", {"FF FA 2C 66 08 FF F0 0F"}, "0F", "", false, false, 0},
        ReceiveCase{"NopAmidData", {"0F FF F1 F0"}, "0F F0", "", false, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
