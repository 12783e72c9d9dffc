#include "protocol/message_text.h"

#include <cstdio>

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

namespace {

bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// One byte the controller reads alone, or one pair it reads as a character.
bool IsControllerCharacter(std::string_view bytes)
{
    if (bytes.size() == 1) return static_cast<std::uint8_t>(bytes[0]) < 0x80;
    if (bytes.size() != 2) return false;
    const auto lead = static_cast<std::uint8_t>(bytes[0]);
    const auto trail = static_cast<std::uint8_t>(bytes[1]);
    return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

MultibyteText ToMultibyteText(std::u16string_view text, MultibyteConverter convert)
{
    MultibyteText result;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t units = 1;
        char32_t code = text[at];
        if (IsHighSurrogate(text[at]) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
            units = 2;
            code = 0x10000 + ((static_cast<char32_t>(text[at]) - 0xD800) << 10) + (text[at + 1] - 0xDC00);
        }
        const auto bytes = convert ? convert(text.substr(at, units)) : std::nullopt;
        if (!bytes || !IsControllerCharacter(*bytes)) {
            result.bytes.clear();
            result.refused = code;
            return result;
        }
        result.bytes += *bytes;
        at += units;
    }
    return result;
}

std::string CharacterName(char32_t code)
{
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
    const bool showable = code >= 0x20 && code != 0x7F && !(code >= 0x80 && code < 0xA0) &&
                          !(code >= 0xD800 && code <= 0xDFFF) && code <= 0x10FFFF;
    if (!showable) return number;
    std::string name = "\"";
    AppendUtf8(name, code);
    return name + "\" (" + number + ")";
}

int MessageEncoding(std::string_view selectedChoiceText)
{
    return selectedChoiceText == "UNICODE" ? kEncodingUtf16 : kEncodingMultibyte;
}

}  // namespace rq::protocol
