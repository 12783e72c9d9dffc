#pragma once
// The envelope around every request sent to a controller:
//
//   A1 | length | ~length | [address] | code | payload... | checksum | 51
//
// length counts every byte from the start byte through the end byte; the
// checksum is the 8-bit sum of every byte before it. The frame is built in a
// zero-filled buffer of kFrameBufferSize bytes, so payload bytes an encoder
// leaves alone go out as 0x00.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace rq::protocol {

constexpr std::size_t kFrameBufferSize = 256;
constexpr std::size_t kMaxFrameLength = 255;  // the length field is one byte
constexpr std::size_t kMinFrameLength = 6;    // no address, no payload
constexpr std::uint8_t kFrameStart = 0xA1;
constexpr std::uint8_t kFrameEnd = 0x51;

// Offset of the address byte, and of the command code when no address is sent.
constexpr std::size_t kAddressOffset = 3;

// The ID field's rule: a whole decimal (blanks, sign, digits) from 0 to 255,
// the values an address byte holds. nullopt otherwise, and then no frame may
// be built: cut to its low byte, a mistyped 257 would reach the sign with ID 1.
// A new ID ("Change ID") follows the same rule.
std::optional<std::uint8_t> ParseAddress(std::string_view idText);

// Writes the address at offset 3 when one is given and returns where the
// command code goes: 4 with an address, 3 without.
std::size_t BeginEnvelope(std::uint8_t* frame, std::optional<std::uint8_t> address);

// Closes a frame that starts at `start` and whose payload ends just before
// `checksumPos`: writes the start byte, the length (checksumPos - start + 2),
// its bitwise inverse, the checksum at checksumPos and the end byte after it.
// Returns the frame length, or 0 without writing anything when the frame
// would exceed kMaxFrameLength, reach past the buffer, or hold no command code.
std::size_t SealEnvelope(std::uint8_t* frame, std::size_t start, std::size_t checksumPos);

// What is wrong with a received frame, for the simulated controller and for
// tests that check encoders independently of SealEnvelope.
enum class FrameFault {
    None,
    TooShort,           // fewer than kMinFrameLength bytes
    BadStart,           // first byte is not kFrameStart
    BadLength,          // length byte differs from the byte count
    BadInvertedLength,  // third byte is not the inverse of the length byte
    BadChecksum,
    BadEnd,             // last byte is not kFrameEnd
};

FrameFault CheckFrame(const std::uint8_t* data, std::size_t size);

}  // namespace rq::protocol
