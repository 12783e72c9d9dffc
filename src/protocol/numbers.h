#pragma once
// The text-to-number rules of the window's fields, as plain functions over
// UTF-8/ASCII text. Every rule reads base 10 only and treats the value as a
// 32-bit quantity, as the controller's tool always has (long is 32 bits on
// the platform it was made for), so results do not depend on the host's long.

#include <cstdint>
#include <optional>
#include <string_view>

namespace rq::protocol {

// Whole text: optional leading white space (C locale), optional sign, decimal
// digits, nothing after them. A negative number wraps modulo 2^32 ("-1" gives
// 4294967295); a magnitude above 4294967295 fails; an empty text fails.
std::optional<std::uint32_t> ParseUnsignedRequired(std::string_view text);

// The same scan, but whatever follows the digits is ignored: the value of the
// leading digits (wrapped when negative), 0 when there are no digits or when
// the magnitude does not fit in 32 bits. Never fails. A number beyond 32 bits
// is 0, not its low bits: the toolkit's ToULong with a 32-bit long refuses it
// and leaves the window's value as it was, 0; only a value that was read keeps
// its low bits in a narrower field, which the encoders cut.
std::uint32_t ParseUnsignedLenient(std::string_view text);

// Whole text: optional leading white space, optional sign, decimal digits,
// nothing after them, within the 32-bit signed range.
std::optional<std::int32_t> ParseSigned(std::string_view text);

// The unsigned number at the start of the text: leading white space skipped,
// then decimal digits (no sign), anything after them ignored ("9600 " gives
// 9600). Fails when there is no digit or the value exceeds 4294967295.
std::optional<unsigned long> ParseLeadingUnsigned(std::string_view text);

}  // namespace rq::protocol
