#include "protocol/frame.h"

#include "protocol/numbers.h"

namespace rq::protocol {

std::optional<std::uint8_t> ParseAddress(std::string_view idText)
{
    const std::optional<std::int32_t> id = ParseSigned(idText);
    if (!id || *id < 0 || *id > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(*id);
}

std::size_t BeginEnvelope(std::uint8_t* frame, std::optional<std::uint8_t> address)
{
    if (!address)
        return kAddressOffset;
    frame[kAddressOffset] = *address;
    return kAddressOffset + 1;
}

std::size_t SealEnvelope(std::uint8_t* frame, std::size_t start, std::size_t checksumPos)
{
    // A frame holds at least a command code; its end byte sits at
    // checksumPos + 1, which must stay inside the buffer, and its length must
    // fit the one-byte field.
    if (checksumPos < start + kAddressOffset + 1 || checksumPos + 1 >= kFrameBufferSize)
        return 0;
    const std::size_t length = checksumPos - start + 2;
    if (length > kMaxFrameLength)
        return 0;

    // Header first: the checksum covers it.
    frame[start] = kFrameStart;
    frame[start + 1] = static_cast<std::uint8_t>(length);
    frame[start + 2] = static_cast<std::uint8_t>(~length & 0xFFu);

    std::uint8_t sum = 0;
    for (std::size_t i = start; i < checksumPos; ++i)
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    frame[checksumPos] = sum;
    frame[checksumPos + 1] = kFrameEnd;
    return length;
}

FrameFault CheckFrame(const std::uint8_t* data, std::size_t size)
{
    if (size < kMinFrameLength)
        return FrameFault::TooShort;
    if (data[0] != kFrameStart)
        return FrameFault::BadStart;
    if (data[1] != size)
        return FrameFault::BadLength;
    if (static_cast<std::uint8_t>(data[1] + data[2]) != 0xFF)
        return FrameFault::BadInvertedLength;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 2 < size; ++i)
        sum = static_cast<std::uint8_t>(sum + data[i]);
    if (data[size - 2] != sum)
        return FrameFault::BadChecksum;
    if (data[size - 1] != kFrameEnd)
        return FrameFault::BadEnd;
    return FrameFault::None;
}

}  // namespace rq::protocol
