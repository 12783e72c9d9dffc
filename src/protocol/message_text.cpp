#include "protocol/message_text.h"

#include "protocol/commands.h"

namespace rq::protocol {

std::vector<std::uint8_t> EncodeMessageText(std::u16string_view text, int encoding,
                                            std::string_view multibyte)
{
    std::vector<std::uint8_t> bytes;
    if (encoding == kEncodingUtf16) {
        bytes.reserve(text.size() * 2);
        for (const char16_t unit : text) {
            // Little-endian: low byte first.
            bytes.push_back(static_cast<std::uint8_t>(unit & 0xFFu));
            bytes.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFFu));
        }
        return bytes;
    }

    std::size_t at = 0;
    for (std::size_t copied = 0; copied < text.size() && at < multibyte.size(); ++copied) {
        const auto lead = static_cast<std::uint8_t>(multibyte[at]);
        if (lead < 0x80) {
            bytes.push_back(lead);
            at += 1;
            continue;
        }
        if (at + 1 >= multibyte.size())
            break;  // a lead byte without its second byte
        bytes.push_back(lead);
        bytes.push_back(static_cast<std::uint8_t>(multibyte[at + 1]));
        at += 2;
    }
    return bytes;
}

int MessageEncoding(std::string_view selectedChoiceText)
{
    return selectedChoiceText == "UNICODE" ? kEncodingUtf16 : kEncodingMultibyte;
}

}  // namespace rq::protocol
