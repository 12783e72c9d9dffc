#pragma once
// The question "does a sign with this ID listen at this rate?" asked without
// changing any sign. Every controller answers every frame with one status
// byte, and a command code it does not know with F1 "Undefined instruction",
// carrying nothing out. So the probe is a well-formed frame (a bad checksum
// would make every sign on the bus answer F0 at once) with a command code no
// model uses.
//
// kProbeCode is 0xD5: no model's command (0x01, 0x02, 0x20, 0x21, 0x41, 0x43,
// 0x60, 0x63, 0x65, 0x6A, 0x99, 0x9A; the profiles in Modes/ add none), at
// least three bits away from each of them, so no single or double bit error
// on the line turns it into one; neither a frame byte (A1, 51) nor a status
// byte (0F, F0-F2); and the checksum of its frame without an address (75) is
// no command either, for a sign that reads an address into that place.

#include <cstdint>
#include <optional>
#include <vector>

namespace rq::protocol {

constexpr std::uint8_t kProbeCode = 0xD5;
// A second code of the same kind (its checksum without an address: 56). A
// sign that answers a probe without an address under both codes reads no
// address: a sign that does would have to have both IDs.
constexpr std::uint8_t kSecondProbeCode = 0xB6;

// Whether `code` is a command some model carries out: never to be probed with.
bool IsCommandCode(std::uint8_t code);

// The whole probe frame, addressed or not.
std::vector<std::uint8_t> ProbeFrame(std::optional<std::uint8_t> address, std::uint8_t code = kProbeCode);

}  // namespace rq::protocol
