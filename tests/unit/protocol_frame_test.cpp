// The envelope: where the address and code go, the sealing limits, and the
// frame check that the simulated controller relies on.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "protocol/frame.h"

namespace rq::protocol {
namespace {

using Buffer = std::array<std::uint8_t, kFrameBufferSize>;

bool AllZeroFrom(const Buffer& b, std::size_t from)
{
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(),
                       [](std::uint8_t x) { return x == 0; });
}

TEST(BeginEnvelope, WithoutAddressWritesNothing)
{
    Buffer frame{};
    EXPECT_EQ(BeginEnvelope(frame.data(), std::nullopt), 3u);
    EXPECT_TRUE(AllZeroFrom(frame, 0));
}

TEST(BeginEnvelope, AddressGoesAtOffsetThree)
{
    Buffer frame{};
    EXPECT_EQ(BeginEnvelope(frame.data(), std::uint8_t{0x2C}), 4u);
    EXPECT_EQ(frame[3], 0x2C);
    frame[3] = 0;
    EXPECT_TRUE(AllZeroFrom(frame, 0));
}

TEST(ParseAddress, OnlyIdsOfOneByte)
{
    EXPECT_EQ(ParseAddress("0"), std::optional<std::uint8_t>(0x00));
    EXPECT_EQ(ParseAddress(" +255"), std::optional<std::uint8_t>(0xFF));
    EXPECT_EQ(ParseAddress("256"), std::nullopt);
    EXPECT_EQ(ParseAddress("-1"), std::nullopt);
    EXPECT_EQ(ParseAddress("4294967297"), std::nullopt);
}

TEST(SealEnvelope, LongestFrameEndsAtLastBufferByteButOne)
{
    Buffer frame{};
    frame[3] = 0x01;
    std::fill(frame.begin() + 4, frame.begin() + 253, std::uint8_t{0x41});
    ASSERT_EQ(SealEnvelope(frame.data(), 0, 253), 255u);
    EXPECT_EQ(frame[0], 0xA1);
    EXPECT_EQ(frame[1], 0xFF);
    EXPECT_EQ(frame[2], 0x00);
    EXPECT_EQ(frame[254], 0x51);
    EXPECT_EQ(frame[255], 0x00);  // nothing past the frame
    EXPECT_EQ(CheckFrame(frame.data(), 255), FrameFault::None);
}

TEST(SealEnvelope, RefusesWithoutWritingWhenTooLongOrOutside)
{
    for (std::size_t checksumPos : {std::size_t{254}, std::size_t{255}, std::size_t{1000}}) {
        Buffer frame{};
        EXPECT_EQ(SealEnvelope(frame.data(), 0, checksumPos), 0u) << checksumPos;
        EXPECT_TRUE(AllZeroFrom(frame, 0)) << checksumPos;
    }
}

TEST(SealEnvelope, RefusesAFrameWithoutCommandCode)
{
    Buffer frame{};
    EXPECT_EQ(SealEnvelope(frame.data(), 0, 3), 0u);
    EXPECT_TRUE(AllZeroFrom(frame, 0));
    EXPECT_EQ(SealEnvelope(frame.data(), 0, 4), 6u);
}

TEST(SealEnvelope, ChecksumWrapsAndCoversHeader)
{
    // 0xA1 + 0x07 + 0xF8 = 0x1A0; with FF FF: 0x39E -> 0x9E.
    Buffer frame{};
    frame[3] = 0xFF;
    frame[4] = 0xFF;
    ASSERT_EQ(SealEnvelope(frame.data(), 0, 5), 7u);
    const std::vector<std::uint8_t> expected{0xA1, 0x07, 0xF8, 0xFF, 0xFF, 0x9E, 0x51};
    EXPECT_EQ(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 7), expected);
}

struct Corruption {
    const char* name;
    std::size_t offset;  // byte to change; npos: drop the last byte
    std::uint8_t value;
    FrameFault fault;
};

std::ostream& operator<<(std::ostream& os, const Corruption& c)
{
    return os << c.name;
}

class CheckFrameTest : public testing::TestWithParam<Corruption> {};

TEST_P(CheckFrameTest, NamesTheFault)
{
    // Brightness 8 to ID 1.
    std::vector<std::uint8_t> frame{0xA1, 0x08, 0xF7, 0x01, 0x43, 0x08, 0xEC, 0x51};
    ASSERT_EQ(CheckFrame(frame.data(), frame.size()), FrameFault::None);
    const Corruption& c = GetParam();
    if (c.offset == std::string::npos)
        frame.pop_back();
    else
        frame[c.offset] = c.value;
    EXPECT_EQ(CheckFrame(frame.data(), frame.size()), c.fault);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CheckFrameTest,
    testing::Values(Corruption{"Start", 0, 0xA2, FrameFault::BadStart},
                    Corruption{"Length", 1, 0x09, FrameFault::BadLength},
                    Corruption{"InvertedLength", 2, 0xF8, FrameFault::BadInvertedLength},
                    Corruption{"Payload", 5, 0x09, FrameFault::BadChecksum},
                    Corruption{"Checksum", 6, 0xED, FrameFault::BadChecksum},
                    Corruption{"End", 7, 0x50, FrameFault::BadEnd},
                    Corruption{"Truncated", std::string::npos, 0, FrameFault::BadLength}),
    [](const testing::TestParamInfo<Corruption>& info) { return std::string(info.param.name); });

TEST(CheckFrame, ShorterThanSixBytes)
{
    const std::uint8_t frame[] = {0xA1, 0x05, 0xFA, 0x63, 0x51};
    EXPECT_EQ(CheckFrame(frame, sizeof frame), FrameFault::TooShort);
    EXPECT_EQ(CheckFrame(frame, 0), FrameFault::TooShort);
}

}  // namespace
}  // namespace rq::protocol
