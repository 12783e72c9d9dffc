#include "protocol/status.h"

// Marks the texts for the translation catalogue's extractor, which knows this
// keyword without configuration; the window looks them up when it shows them.
#define gettext_noop(text) text

namespace rq::protocol {

StatusMeaning DecodeStatusByte(std::uint8_t status)
{
    switch (status) {
    case kStatusSuccess: return {gettext_noop("Success"), true};
    case kStatusChecksumError: return {gettext_noop("Checksum error"), false};
    case kStatusUndefinedInstruction: return {gettext_noop("Undefined instruction"), false};
    case kStatusLengthError: return {gettext_noop("Length error"), false};
    default: return {gettext_noop("Unknown error"), false};
    }
}

}  // namespace rq::protocol
