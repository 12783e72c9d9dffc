#include "protocol/numbers.h"

#include <limits>

namespace rq::protocol {
namespace {

constexpr std::uint64_t kUnsignedMax = std::numeric_limits<std::uint32_t>::max();

// The white space that the C library skips in the "C" locale; spelled out so
// the result never depends on the process locale.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

struct DecimalScan {
    bool negative = false;
    bool hasDigits = false;
    bool overflow = false;        // magnitude above 4294967295
    std::uint64_t magnitude = 0;  // meaningful only without overflow
    std::size_t end = 0;          // index just after the last digit
};

DecimalScan ScanDecimal(std::string_view text, bool allowSign)
{
    DecimalScan scan;
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (allowSign && i < text.size() && (text[i] == '+' || text[i] == '-')) {
        scan.negative = text[i] == '-';
        ++i;
    }
    while (i < text.size() && IsDigit(text[i])) {
        scan.hasDigits = true;
        if (!scan.overflow) {
            scan.magnitude = scan.magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
            // Stop accumulating once past 32 bits so a long run of digits
            // cannot overflow the 64-bit accumulator.
            if (scan.magnitude > kUnsignedMax)
                scan.overflow = true;
        }
        ++i;
    }
    scan.end = i;
    return scan;
}

std::uint32_t WrappedValue(const DecimalScan& scan)
{
    const auto magnitude = static_cast<std::uint32_t>(scan.magnitude);
    // Unsigned negation is the modulo-2^32 wrap of a negative entry.
    return scan.negative ? static_cast<std::uint32_t>(0u - magnitude) : magnitude;
}

}  // namespace

std::optional<std::uint32_t> ParseUnsignedRequired(std::string_view text)
{
    const DecimalScan scan = ScanDecimal(text, true);
    if (!scan.hasDigits || scan.overflow || scan.end != text.size())
        return std::nullopt;
    return WrappedValue(scan);
}

std::uint32_t ParseUnsignedLenient(std::string_view text)
{
    const DecimalScan scan = ScanDecimal(text, true);
    if (!scan.hasDigits || scan.overflow)
        return 0;
    return WrappedValue(scan);
}

std::optional<std::int32_t> ParseSigned(std::string_view text)
{
    const DecimalScan scan = ScanDecimal(text, true);
    if (!scan.hasDigits || scan.overflow || scan.end != text.size())
        return std::nullopt;
    constexpr std::uint64_t kPositiveMax = std::numeric_limits<std::int32_t>::max();
    if (scan.negative) {
        if (scan.magnitude > kPositiveMax + 1)
            return std::nullopt;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(scan.magnitude));
    }
    if (scan.magnitude > kPositiveMax)
        return std::nullopt;
    return static_cast<std::int32_t>(scan.magnitude);
}

std::optional<unsigned long> ParseLeadingUnsigned(std::string_view text)
{
    const DecimalScan scan = ScanDecimal(text, false);
    if (!scan.hasDigits || scan.overflow)
        return std::nullopt;
    return static_cast<unsigned long>(scan.magnitude);
}

}  // namespace rq::protocol
