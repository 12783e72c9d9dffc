#pragma once
// The one-byte status with which the controller answers every command.

#include <cstdint>

namespace rq::protocol {

constexpr std::uint8_t kStatusSuccess = 0x0F;
constexpr std::uint8_t kStatusChecksumError = 0xF0;
constexpr std::uint8_t kStatusUndefinedInstruction = 0xF1;
constexpr std::uint8_t kStatusLengthError = 0xF2;

struct StatusMeaning {
    const char* text;  // English; the window translates it
    bool success;      // shown in blue when true, red otherwise
};

// 0x0F "Success"; 0xF0 "Checksum error"; 0xF1 "Undefined instruction";
// 0xF2 "Length error"; any other byte (0x00 included) "Unknown error".
StatusMeaning DecodeStatusByte(std::uint8_t status);

}  // namespace rq::protocol
