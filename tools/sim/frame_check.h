#pragma once
// How a controller judges a frame: the envelope's checks, the command codes
// it knows, each command's payload length, and whether the frame carries an
// address. Written here on their own, not borrowed from the program, so that
// a fault in the program's frame encoder shows up as a wrong status instead
// of being mirrored.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rq::sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t START_BYTE = 0xA1;
inline constexpr std::uint8_t END_BYTE = 0x51;
inline constexpr std::uint8_t STATUS_SUCCESS = 0x0F;
inline constexpr std::uint8_t STATUS_CHECKSUM = 0xF0;
inline constexpr std::uint8_t STATUS_UNKNOWN_CODE = 0xF1;
inline constexpr std::uint8_t STATUS_LENGTH = 0xF2;
inline constexpr int MIN_FRAME = 6;
inline constexpr std::uint8_t CODE_CHANGE_ID = 0x21;

// Whether frames carry an address byte before the command code. A
// controller knows it; told nothing, the simulator guesses frame by frame.
enum class Addressing { Guess, On, Off };

// How a controller reads a complete frame (or what arrived of one before the
// line fell silent).
struct FrameReading {
    std::uint8_t status = STATUS_LENGTH;  // the status it answers
    // Of a frame that carries one and whose envelope holds: a refused command
    // is answered by the controller it names only.
    std::optional<std::uint8_t> address;
    std::size_t code = 3;  // where the command code is, in a good frame
};
FrameReading ReadFrame(const Bytes& frame, Addressing addressing);

// "A1 07 F8 43 08 EB 51"
std::string HexLine(const Bytes& frame);

}  // namespace rq::sim
