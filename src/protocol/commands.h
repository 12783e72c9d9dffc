#pragma once
// The controller's commands: one encoder per command that writes the command
// code and its payload at `pos` of a zero-filled frame buffer and returns the
// position just after the payload (where SealEnvelope puts the checksum).
// Reserved payload bytes are left untouched and go out as 0x00. Values come
// in already parsed; fields narrower than a value keep its low bits, and
// 16-bit fields go low byte first.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "protocol/frame.h"

namespace rq::protocol {

// Command codes.
constexpr std::uint8_t kCodeChangeId = 0x21;
constexpr std::uint8_t kCodeTimedScroll = 0x65;
constexpr std::uint8_t kCodeAlignment = 0x6A;
constexpr std::uint8_t kCodeBlank = 0x63;
constexpr std::uint8_t kCodeReset = 0x99;
constexpr std::uint8_t kCodeFactoryDefaults = 0x9A;
constexpr std::uint8_t kCodeLedParameters = 0x41;
constexpr std::uint8_t kCodeBlinking = 0x60;
constexpr std::uint8_t kCodeBrightness = 0x43;
constexpr std::uint8_t kCodeDefaultMessage = 0x20;
// The send-message command has no code of its own: its code byte is the text
// encoding, 0x01 (multibyte) or 0x02 (UTF-16LE).
constexpr int kEncodingMultibyte = 1;
constexpr int kEncodingUtf16 = 2;

// Scan byte of the LED parameters for P10 panels; every other pitch sends 0.
constexpr std::uint8_t kScanP10 = 0x41;
// Brightness byte that selects automatic brightness; fixed levels are 0..15.
constexpr std::uint8_t kBrightnessAuto = 0xFF;
constexpr std::uint8_t kBrightnessMaxLevel = 15;

// Alignment codes on the wire.
constexpr std::uint8_t kAlignLeft = 1;
constexpr std::uint8_t kAlignCenter = 4;
constexpr std::uint8_t kAlignRight = 2;

// The brightness byte for the selected list entry parsed as a required
// unsigned decimal: 255 stays 255 (automatic), other values of 15 or more
// become 15, and an entry that does not parse (none selected, "Auto") is 255.
std::uint8_t BrightnessByte(std::optional<std::uint32_t> parsedEntry);

// The alignment code for the choice index: 0 Left -> 1, 1 Center -> 4,
// 2 Right -> 2; nullopt for any other index (no selection).
std::optional<std::uint8_t> AlignmentCode(int choiceIndex);

// Width and height in dots are sent divided by 8; the scroll byte is
// level * 16 + speed, low 8 bits.
std::size_t EncodeLedParameters(std::uint8_t* frame, std::size_t pos, std::uint32_t widthDots,
                                std::uint32_t highDots, bool scanP10, int scrollLevelIndex,
                                int scrollSpeedIndex);
std::size_t EncodeBrightness(std::uint8_t* frame, std::size_t pos, std::uint8_t brightness);
std::size_t EncodeBlank(std::uint8_t* frame, std::size_t pos);
std::size_t EncodeReset(std::uint8_t* frame, std::size_t pos);
std::size_t EncodeFactoryDefaults(std::uint8_t* frame, std::size_t pos);
std::size_t EncodeAlignment(std::uint8_t* frame, std::size_t pos, std::uint8_t code);
std::size_t EncodeBlinking(std::uint8_t* frame, std::size_t pos, bool enable, std::uint32_t onMs,
                           std::uint32_t offMs);
std::size_t EncodeTimedScroll(std::uint8_t* frame, std::size_t pos, std::uint32_t elapsed,
                              std::uint32_t speed);
std::size_t EncodeChangeId(std::uint8_t* frame, std::size_t pos, std::uint32_t newId);

// Whether a message of `textBytes` bytes, with its command code at `codePos`
// of a frame starting at offset 0, keeps the frame within kMaxFrameLength.
// The default message carries one more byte (the encoding) before its text.
bool MessageFits(std::size_t codePos, std::size_t textBytes, bool defaultMessage);

// The message encoders refuse with 0, writing nothing, when the text does not
// fit (MessageFits) or the encoding is neither 1 nor 2. The text goes out
// without terminator or length: the frame length delimits it.
std::size_t EncodeMessage(std::uint8_t* frame, std::size_t pos, int encoding,
                          const std::vector<std::uint8_t>& textBytes);
std::size_t EncodeDefaultMessage(std::uint8_t* frame, std::size_t pos, int encoding,
                                 const std::vector<std::uint8_t>& textBytes);

// Value forms of the commands, for the command-line tool and the fuzzers.
struct LedParameters {
    std::uint32_t widthDots = 0;
    std::uint32_t highDots = 0;
    bool scanP10 = false;
    int scrollLevelIndex = 0;
    int scrollSpeedIndex = 0;
};
struct Brightness {
    std::uint8_t value = kBrightnessAuto;
};
struct Blank {};
struct Reset {};
struct FactoryDefaults {};
struct Alignment {
    std::uint8_t code = kAlignLeft;
};
struct Blinking {
    bool enable = false;
    std::uint32_t onMs = 0;
    std::uint32_t offMs = 0;
};
struct TimedScroll {
    std::uint32_t elapsed = 0;
    std::uint32_t speed = 0;
};
struct ChangeId {
    std::uint32_t newId = 0;
};
struct Message {
    int encoding = kEncodingMultibyte;
    std::vector<std::uint8_t> textBytes;
};
struct DefaultMessage {
    int encoding = kEncodingMultibyte;
    std::vector<std::uint8_t> textBytes;
};

using Command = std::variant<LedParameters, Brightness, Blank, Reset, FactoryDefaults, Alignment,
                             Blinking, TimedScroll, ChangeId, Message, DefaultMessage>;

// Zero-fills `buffer` and builds the whole frame, addressed when `address` is
// given. Returns the frame length, or 0 when no frame may be built: a message
// that does not fit or has an unknown encoding, or a change of ID without an
// address (the new ID must go to one controller, never to whoever listens).
std::size_t EncodeCommand(const Command& command, std::optional<std::uint8_t> address,
                          std::uint8_t (&buffer)[kFrameBufferSize]);

}  // namespace rq::protocol
