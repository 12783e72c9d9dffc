#include "sim/frame_check.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace rq::sim {

namespace {

constexpr std::uint8_t KNOWN_CODES[] = {0x21, 0x65, 0x6A, 0x63, 0x99, 0x9A, 0x41, 0x60, 0x43, 0x20, 0x01, 0x02};

// The payload length of each command with a fixed one; -1: a text of any length.
struct Payload {
    std::uint8_t code;
    int length;
};
constexpr Payload PAYLOADS[] = {{0x21, 1}, {0x65, 4}, {0x6A, 1}, {0x63, 0}, {0x99, 0}, {0x9A, 0},
                                {0x41, 7}, {0x60, 5}, {0x43, 1}, {0x20, -1}, {0x01, -1}, {0x02, -1}};

bool IsKnownCode(std::uint8_t code)
{
    return std::find(std::begin(KNOWN_CODES), std::end(KNOWN_CODES), code) != std::end(KNOWN_CODES);
}

bool PayloadFits(std::uint8_t code, std::size_t length)
{
    for (const Payload& payload : PAYLOADS) {
        if (payload.code == code) return payload.length < 0 || static_cast<std::size_t>(payload.length) == length;
    }
    return false;
}

FrameReading Refused(std::uint8_t status)
{
    FrameReading reading;
    reading.status = status;
    return reading;
}

}  // namespace

FrameReading ReadFrame(const Bytes& frame, Addressing addressing)
{
    const std::size_t size = frame.size();
    if (size < MIN_FRAME || frame[0] != START_BYTE) return Refused(STATUS_LENGTH);
    const std::uint8_t length = frame[1];
    if (length < MIN_FRAME || size != length) return Refused(STATUS_LENGTH);
    if (static_cast<std::uint8_t>(~length) != frame[2]) return Refused(STATUS_LENGTH);
    if (frame[size - 1] != END_BYTE) return Refused(STATUS_LENGTH);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 2 < size; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
    if (sum != frame[size - 2]) return Refused(STATUS_CHECKSUM);

    // The command code follows the address when the frame carries one. The
    // checksum sits right after the shortest frame's code, so it is not a code.
    const bool known3 = IsKnownCode(frame[3]);
    const bool known4 = size > MIN_FRAME && IsKnownCode(frame[4]);
    // A reading fits when its code is known and its payload has the code's length.
    const bool fits3 = known3 && PayloadFits(frame[3], size - MIN_FRAME);
    const bool fits4 = known4 && PayloadFits(frame[4], size - MIN_FRAME - 1);
    bool addressed = false;
    switch (addressing) {
    case Addressing::On: {
        // The envelope holds, so the address byte can be trusted: the frame
        // is for the controller it names, which alone judges the code and the
        // payload (the shortest frame has no room for a code after it).
        FrameReading reading;
        reading.address = frame[3];
        reading.code = 4;
        reading.status = size == MIN_FRAME ? STATUS_LENGTH
                         : !known4         ? STATUS_UNKNOWN_CODE
                         : !fits4          ? STATUS_LENGTH
                                           : STATUS_SUCCESS;
        return reading;
    }
    case Addressing::Off:
        if (!known3) return Refused(STATUS_UNKNOWN_CODE);
        if (!fits3) return Refused(STATUS_LENGTH);
        break;
    case Addressing::Guess: {
        // The envelope does not say whether an address is there, so the
        // frame is read both ways and the reading that fits wins. When both
        // fit, a command whose payload has a fixed length beats a text of any
        // length ("Bright Set" with level 1 also reads as an empty message to
        // ID 0x43); otherwise the frame is taken as addressed, as a bus
        // controller would.
        if (!known3 && !known4) {
            // No code known either way: read as addressed, as a bus
            // controller would, when there is room for an address.
            FrameReading reading = Refused(STATUS_UNKNOWN_CODE);
            if (size > MIN_FRAME) reading.address = frame[3];
            return reading;
        }
        if (!fits3 && !fits4) return Refused(STATUS_LENGTH);
        const auto fixed = [](std::uint8_t code) {
            for (const Payload& payload : PAYLOADS)
                if (payload.code == code) return payload.length >= 0;
            return false;
        };
        addressed = fits4 && !(fits3 && fixed(frame[3]) && !fixed(frame[4]));
        break;
    }
    }
    FrameReading reading;
    reading.status = STATUS_SUCCESS;
    if (addressed) {
        reading.address = frame[3];
        reading.code = 4;
    }
    return reading;
}

std::string HexLine(const Bytes& frame)
{
    std::string line;
    char text[4];
    for (std::size_t i = 0; i < frame.size(); ++i) {
        std::snprintf(text, sizeof text, "%.2X", frame[i]);
        if (i) line += ' ';
        line += text;
    }
    return line;
}

}  // namespace rq::sim
