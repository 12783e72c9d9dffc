#include "protocol/commands.h"

#include <algorithm>
#include <cstring>

namespace rq::protocol {
namespace {

std::uint8_t LowByte(std::uint32_t value)
{
    return static_cast<std::uint8_t>(value & 0xFFu);
}

// 16-bit fields: low byte first, higher bits of the value dropped.
void PutU16(std::uint8_t* frame, std::size_t pos, std::uint32_t value)
{
    frame[pos] = LowByte(value);
    frame[pos + 1] = LowByte(value >> 8);
}

bool KnownEncoding(int encoding)
{
    return encoding == kEncodingMultibyte || encoding == kEncodingUtf16;
}

void PutText(std::uint8_t* frame, std::size_t pos, const std::vector<std::uint8_t>& textBytes)
{
    if (!textBytes.empty())
        std::memcpy(frame + pos, textBytes.data(), textBytes.size());
}

}  // namespace

std::uint8_t BrightnessByte(std::optional<std::uint32_t> parsedEntry)
{
    if (!parsedEntry || *parsedEntry == kBrightnessAuto)
        return kBrightnessAuto;
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(*parsedEntry, kBrightnessMaxLevel));
}

std::optional<std::uint8_t> AlignmentCode(int choiceIndex)
{
    switch (choiceIndex) {
    case 0: return kAlignLeft;
    case 1: return kAlignCenter;
    case 2: return kAlignRight;
    default: return std::nullopt;
    }
}

std::size_t EncodeLedParameters(std::uint8_t* frame, std::size_t pos, std::uint32_t widthDots,
                                std::uint32_t highDots, bool scanP10, int scrollLevelIndex,
                                int scrollSpeedIndex)
{
    frame[pos] = kCodeLedParameters;
    frame[pos + 1] = LowByte(widthDots >> 3);  // in units of 8 dots
    frame[pos + 2] = LowByte(highDots >> 3);
    // pos + 3 .. pos + 5 reserved
    frame[pos + 6] = scanP10 ? kScanP10 : 0x00;
    // Level in the high nibble, speed in the low one; computed unsigned so an
    // out-of-range index wraps instead of overflowing.
    const auto scroll = static_cast<std::uint32_t>(scrollLevelIndex) * 16u
                        + static_cast<std::uint32_t>(scrollSpeedIndex);
    frame[pos + 7] = LowByte(scroll);
    return pos + 8;
}

std::size_t EncodeBrightness(std::uint8_t* frame, std::size_t pos, std::uint8_t brightness)
{
    frame[pos] = kCodeBrightness;
    frame[pos + 1] = brightness;
    return pos + 2;
}

std::size_t EncodeBlank(std::uint8_t* frame, std::size_t pos)
{
    frame[pos] = kCodeBlank;
    return pos + 1;
}

std::size_t EncodeReset(std::uint8_t* frame, std::size_t pos)
{
    frame[pos] = kCodeReset;
    return pos + 1;
}

std::size_t EncodeFactoryDefaults(std::uint8_t* frame, std::size_t pos)
{
    frame[pos] = kCodeFactoryDefaults;
    return pos + 1;
}

std::size_t EncodeAlignment(std::uint8_t* frame, std::size_t pos, std::uint8_t code)
{
    frame[pos] = kCodeAlignment;
    frame[pos + 1] = code;
    return pos + 2;
}

std::size_t EncodeBlinking(std::uint8_t* frame, std::size_t pos, bool enable, std::uint32_t onMs,
                           std::uint32_t offMs)
{
    frame[pos] = kCodeBlinking;
    frame[pos + 1] = enable ? 1 : 0;
    PutU16(frame, pos + 2, onMs);
    PutU16(frame, pos + 4, offMs);
    return pos + 6;
}

std::size_t EncodeTimedScroll(std::uint8_t* frame, std::size_t pos, std::uint32_t elapsed,
                              std::uint32_t speed)
{
    frame[pos] = kCodeTimedScroll;
    PutU16(frame, pos + 1, elapsed);
    PutU16(frame, pos + 3, speed);
    return pos + 5;
}

std::size_t EncodeChangeId(std::uint8_t* frame, std::size_t pos, std::uint32_t newId)
{
    frame[pos] = kCodeChangeId;
    frame[pos + 1] = LowByte(newId);
    return pos + 2;
}

bool MessageFits(std::size_t codePos, std::size_t textBytes, bool defaultMessage)
{
    // Code (and encoding byte for the default message), text, checksum, end.
    const std::size_t fixed = codePos + (defaultMessage ? 2 : 1) + 2;
    if (fixed > kMaxFrameLength)
        return false;
    return textBytes <= kMaxFrameLength - fixed;
}

std::size_t EncodeMessage(std::uint8_t* frame, std::size_t pos, int encoding,
                          const std::vector<std::uint8_t>& textBytes)
{
    if (!KnownEncoding(encoding) || !MessageFits(pos, textBytes.size(), false))
        return 0;
    frame[pos] = static_cast<std::uint8_t>(encoding);  // the code is the encoding
    PutText(frame, pos + 1, textBytes);
    return pos + 1 + textBytes.size();
}

std::size_t EncodeDefaultMessage(std::uint8_t* frame, std::size_t pos, int encoding,
                                 const std::vector<std::uint8_t>& textBytes)
{
    if (!KnownEncoding(encoding) || !MessageFits(pos, textBytes.size(), true))
        return 0;
    frame[pos] = kCodeDefaultMessage;
    frame[pos + 1] = static_cast<std::uint8_t>(encoding);
    PutText(frame, pos + 2, textBytes);
    return pos + 2 + textBytes.size();
}

namespace {

// Writes code and payload of one command; 0 when it refuses.
struct PayloadWriter {
    std::uint8_t* frame;
    std::size_t pos;
    bool addressed;

    std::size_t operator()(const LedParameters& c) const
    {
        return EncodeLedParameters(frame, pos, c.widthDots, c.highDots, c.scanP10,
                                   c.scrollLevelIndex, c.scrollSpeedIndex);
    }
    std::size_t operator()(const Brightness& c) const { return EncodeBrightness(frame, pos, c.value); }
    std::size_t operator()(const Blank&) const { return EncodeBlank(frame, pos); }
    std::size_t operator()(const Reset&) const { return EncodeReset(frame, pos); }
    std::size_t operator()(const FactoryDefaults&) const { return EncodeFactoryDefaults(frame, pos); }
    std::size_t operator()(const Alignment& c) const { return EncodeAlignment(frame, pos, c.code); }
    std::size_t operator()(const Blinking& c) const
    {
        return EncodeBlinking(frame, pos, c.enable, c.onMs, c.offMs);
    }
    std::size_t operator()(const TimedScroll& c) const
    {
        return EncodeTimedScroll(frame, pos, c.elapsed, c.speed);
    }
    std::size_t operator()(const ChangeId& c) const
    {
        return addressed ? EncodeChangeId(frame, pos, c.newId) : 0;
    }
    std::size_t operator()(const Message& c) const
    {
        return EncodeMessage(frame, pos, c.encoding, c.textBytes);
    }
    std::size_t operator()(const DefaultMessage& c) const
    {
        return EncodeDefaultMessage(frame, pos, c.encoding, c.textBytes);
    }
};

}  // namespace

std::size_t EncodeCommand(const Command& command, std::optional<std::uint8_t> address,
                          std::uint8_t (&buffer)[kFrameBufferSize])
{
    std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0});
    const std::size_t codePos = BeginEnvelope(buffer, address);
    const std::size_t checksumPos =
        std::visit(PayloadWriter{buffer, codePos, address.has_value()}, command);
    if (checksumPos == 0) {
        // Leave no half-built frame behind (the address may already be there).
        std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0});
        return 0;
    }
    return SealEnvelope(buffer, 0, checksumPos);
}

}  // namespace rq::protocol
