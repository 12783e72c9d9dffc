// The status reply byte.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "protocol/status.h"

namespace rq::protocol {
namespace {

struct StatusCase {
    std::uint8_t byte;
    const char* text;
    bool success;
};

std::ostream& operator<<(std::ostream& os, const StatusCase& c)
{
    return os << "0x" << std::hex << int(c.byte);
}

class StatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusTest, Meaning)
{
    const StatusMeaning meaning = DecodeStatusByte(GetParam().byte);
    EXPECT_STREQ(meaning.text, GetParam().text);
    EXPECT_EQ(meaning.success, GetParam().success);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusTest,
    testing::Values(StatusCase{0x0F, "Success", true},
                    StatusCase{0xF0, "Checksum error", false},
                    StatusCase{0xF1, "Undefined instruction", false},
                    StatusCase{0xF2, "Length error", false},
                    // Neighbours of the known values, and the "obvious" success bytes.
                    StatusCase{0x00, "Unknown error", false}, StatusCase{0x01, "Unknown error", false},
                    StatusCase{0x0E, "Unknown error", false}, StatusCase{0x10, "Unknown error", false},
                    StatusCase{0xEF, "Unknown error", false}, StatusCase{0xF3, "Unknown error", false},
                    StatusCase{0xFF, "Unknown error", false}));

TEST(DecodeStatusByte, OnlyOneByteMeansSuccess)
{
    int successes = 0;
    for (int b = 0; b < 256; ++b)
        successes += DecodeStatusByte(static_cast<std::uint8_t>(b)).success ? 1 : 0;
    EXPECT_EQ(successes, 1);
}

}  // namespace
}  // namespace rq::protocol
