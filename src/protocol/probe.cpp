#include "protocol/probe.h"

#include "protocol/commands.h"
#include "protocol/frame.h"

namespace rq::protocol {

bool IsCommandCode(std::uint8_t code)
{
    switch (code) {
    case kEncodingMultibyte:
    case kEncodingUtf16:
    case kCodeDefaultMessage:
    case kCodeChangeId:
    case kCodeLedParameters:
    case kCodeBrightness:
    case kCodeBlinking:
    case kCodeBlank:
    case kCodeTimedScroll:
    case kCodeAlignment:
    case kCodeReset:
    case kCodeFactoryDefaults:
        return true;
    default:
        return false;
    }
}

std::vector<std::uint8_t> ProbeFrame(std::optional<std::uint8_t> address, std::uint8_t code)
{
    std::uint8_t frame[kFrameBufferSize] = {};
    const std::size_t pos = BeginEnvelope(frame, address);
    frame[pos] = code;  // no payload: the sign does not know the command
    const std::size_t length = SealEnvelope(frame, 0, pos + 1);
    return std::vector<std::uint8_t>(frame, frame + length);
}

}  // namespace rq::protocol
