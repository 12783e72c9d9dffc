// The text-to-number rules of the window's fields.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/numbers.h"

namespace rq::protocol {
namespace {

template <typename T>
struct NumberCase {
    const char* text;
    T expected;
};

template <typename T>
std::ostream& operator<<(std::ostream& os, const NumberCase<T>& c)
{
    return os << '"' << c.text << '"';
}

// ---- whole-text unsigned (IdText, WidthText, NewIdText, brightness entry) ----

using RequiredCase = NumberCase<std::optional<std::uint32_t>>;
class ParseUnsignedRequiredTest : public testing::TestWithParam<RequiredCase> {};

TEST_P(ParseUnsignedRequiredTest, ReadsWholeText)
{
    EXPECT_EQ(ParseUnsignedRequired(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseUnsignedRequiredTest,
    testing::Values(
        RequiredCase{"0", 0u}, RequiredCase{"1", 1u}, RequiredCase{"300", 300u},
        RequiredCase{"007", 7u}, RequiredCase{"  42", 42u}, RequiredCase{"\t\n\v\f\r 42", 42u},
        RequiredCase{"+7", 7u}, RequiredCase{"-0", 0u},
        // Negative entries wrap modulo 2^32.
        RequiredCase{"-1", 4294967295u}, RequiredCase{" -2", 4294967294u},
        RequiredCase{"-4294967295", 1u},
        // 32-bit limits, whatever the host's long.
        RequiredCase{"4294967295", 4294967295u}, RequiredCase{"4294967296", std::nullopt},
        RequiredCase{"-4294967296", std::nullopt},
        RequiredCase{"99999999999999999999999999", std::nullopt},
        // Anything but blanks, sign and digits refuses.
        RequiredCase{"", std::nullopt}, RequiredCase{"   ", std::nullopt},
        RequiredCase{"-", std::nullopt}, RequiredCase{"+", std::nullopt},
        RequiredCase{"12a", std::nullopt}, RequiredCase{"12 ", std::nullopt},
        RequiredCase{"a12", std::nullopt}, RequiredCase{"1 2", std::nullopt},
        RequiredCase{"- 5", std::nullopt}, RequiredCase{"--5", std::nullopt},
        RequiredCase{"+-5", std::nullopt}, RequiredCase{"0x10", std::nullopt},
        RequiredCase{"1.5", std::nullopt}, RequiredCase{"Auto", std::nullopt},
        RequiredCase{"\xEF\xBC\x91", std::nullopt}  // full-width digit one
        ));

TEST(ParseUnsignedRequired, StopsAtTheEndOfTheViewNotAtANul)
{
    const std::string withNul("12\0" "3", 4);
    EXPECT_EQ(ParseUnsignedRequired(withNul), std::nullopt);
    EXPECT_EQ(ParseUnsignedRequired(std::string_view("123", 2)), 12u);
}

// ---- leading digits (ElapsedText, RollSpeedText, blink intervals) ----

using LenientCase = NumberCase<std::uint32_t>;
class ParseUnsignedLenientTest : public testing::TestWithParam<LenientCase> {};

TEST_P(ParseUnsignedLenientTest, ReadsLeadingDigits)
{
    EXPECT_EQ(ParseUnsignedLenient(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseUnsignedLenientTest,
    testing::Values(LenientCase{"3000", 3000u}, LenientCase{" 3000ms", 3000u},
                    LenientCase{"12a", 12u}, LenientCase{"1 2", 1u}, LenientCase{"+50x", 50u},
                    LenientCase{"-1x", 4294967295u}, LenientCase{"70000", 70000u},
                    LenientCase{"", 0u}, LenientCase{"abc", 0u}, LenientCase{"-", 0u},
                    LenientCase{"x12", 0u}, LenientCase{"4294967295", 4294967295u},
                    // The field's width is the encoder's business: 65537 stays whole here.
                    LenientCase{"65537", 65537u}, LenientCase{"-70000", 4294897296u},
                    // An overflowing entry reads as 0, not as its low bits (4294967297
                    // would keep 1), whatever its sign or what follows it.
                    LenientCase{"4294967296", 0u}, LenientCase{"4294967297", 0u},
                    LenientCase{"-4294967297x", 0u}, LenientCase{" 18446744073709551617ms", 0u},
                    LenientCase{"99999999999999999999x", 0u}));

// ---- whole-text signed (what the Set handlers store, the ID member) ----

using SignedCase = NumberCase<std::optional<std::int32_t>>;
class ParseSignedTest : public testing::TestWithParam<SignedCase> {};

TEST_P(ParseSignedTest, ReadsWholeTextInSignedRange)
{
    EXPECT_EQ(ParseSigned(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseSignedTest,
    testing::Values(SignedCase{"0", 0}, SignedCase{"-1", -1}, SignedCase{" +5", 5},
                    SignedCase{"  -300", -300}, SignedCase{"2147483647", 2147483647},
                    SignedCase{"2147483648", std::nullopt},
                    SignedCase{"-2147483648", -2147483647 - 1},
                    SignedCase{"-2147483649", std::nullopt},
                    SignedCase{"4294967295", std::nullopt}, SignedCase{"", std::nullopt},
                    SignedCase{"5x", std::nullopt}, SignedCase{"5 ", std::nullopt},
                    SignedCase{"-", std::nullopt}));

// ---- the number at the start (the serial dialog's baud rate) ----

using LeadingCase = NumberCase<std::optional<unsigned long>>;
class ParseLeadingUnsignedTest : public testing::TestWithParam<LeadingCase> {};

TEST_P(ParseLeadingUnsignedTest, ReadsNumberAtStart)
{
    EXPECT_EQ(ParseLeadingUnsigned(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseLeadingUnsignedTest,
    testing::Values(LeadingCase{"9600", 9600ul}, LeadingCase{"9600 ", 9600ul},
                    LeadingCase{"  115200abc", 115200ul}, LeadingCase{"4294967295", 4294967295ul},
                    LeadingCase{"4294967296", std::nullopt}, LeadingCase{"", std::nullopt},
                    LeadingCase{" ", std::nullopt}, LeadingCase{"******", std::nullopt},
                    LeadingCase{"-9600", std::nullopt}, LeadingCase{"+9600", std::nullopt}));

}  // namespace
}  // namespace rq::protocol
