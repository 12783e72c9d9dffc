#include "line/line_timing.h"

#include <algorithm>
#include <climits>

namespace rq::platform {

namespace {

constexpr long long kBitsPerByte = 10;  // start bit, eight data bits, stop bit
// A driver or a USB adapter may pause between bytes and start late: half the
// wire time again, and a fixed allowance on top.
constexpr long long kMarginNumerator = 3;
constexpr long long kMarginDenominator = 2;
constexpr long long kFixedAllowanceMs = 20;

// Frames are at most a few hundred bytes; the cap only keeps absurd lengths
// from overflowing.
constexpr long long kLongestCountedLength = LLONG_MAX / (kBitsPerByte * 1000000 * kMarginNumerator);

long long CeilDiv(long long numerator, long long denominator)
{
    return (numerator + denominator - 1) / denominator;
}

}  // namespace

long long WireTimeUs(std::size_t length, long baud)
{
    if (length == 0 || baud <= 0) return 0;
    const long long bytes = std::min<long long>(static_cast<long long>(std::min<std::size_t>(length, LLONG_MAX)),
                                                kLongestCountedLength);
    return CeilDiv(bytes * kBitsPerByte * 1000000, baud);
}

long long EarliestReplyUs(std::size_t length, long baud)
{
    if (length == 0) return 0;
    return WireTimeUs(length, baud) + WireTimeUs(1, baud);
}

int WriteTimeoutMs(std::size_t length, long baud)
{
    const long long perByte = static_cast<long long>(std::min<std::size_t>(length, INT_MAX));
    long long timeout = std::max<long long>(perByte, 1);
    if (length > 0 && baud > 0) {
        const long long wireWithMarginMs =
            CeilDiv(WireTimeUs(length, baud) * kMarginNumerator, kMarginDenominator * 1000) + kFixedAllowanceMs;
        timeout = std::max(timeout, wireWithMarginMs);
    }
    return static_cast<int>(std::min<long long>(timeout, INT_MAX));
}

}  // namespace rq::platform
