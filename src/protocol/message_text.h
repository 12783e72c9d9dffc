#pragma once
// The bytes of a message text as the controller reads them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rq::protocol {

// Appends the UTF-8 bytes of the code point `code` to `out`.
void AppendUtf8(std::string& out, char32_t code);

// Encoding 2: the UTF-16 code units of `text`, each low byte first.
// Otherwise (encoding 1): `multibyte` is `text` already converted to the
// controller's double-byte code; as many characters as `text` has code units
// are copied from it, a byte of 0x80 or more starting a two-byte character.
// Copying stops at the end of `multibyte`; a lead byte whose second byte is
// missing there is dropped rather than sent half.
std::vector<std::uint8_t> EncodeMessageText(std::u16string_view text, int encoding,
                                            std::string_view multibyte);

// Converts a text to the controller's multibyte code; nullopt when a
// character has no representation there.
using MultibyteConverter = std::optional<std::string> (*)(std::u16string_view);

// Encoding 1 text, converted one character (a code unit, or a surrogate pair)
// at a time. The copy rule above reads a byte of 0x80 or more as the first of
// a pair, so each character must become one byte below 0x80 or one GBK pair
// (first byte 0x81..0xFE, second 0x40..0xFE but 0x7F). Anything else (no
// conversion at all, or the euro sign's single byte 0x80 in code page 936)
// would take a neighbour's byte or be dropped: such a text is refused whole.
struct MultibyteText {
    std::string bytes;                // the converted text, when every character passed
    std::optional<char32_t> refused;  // else the first character that did not
};
MultibyteText ToMultibyteText(std::u16string_view text, MultibyteConverter convert);

// A character as a refusal names it, in UTF-8: "€" (U+20AC); a control
// character or a lone surrogate by its number alone.
std::string CharacterName(char32_t code);

// 2 when the selected encoding choice reads exactly "UNICODE", else 1.
int MessageEncoding(std::string_view selectedChoiceText);

}  // namespace rq::protocol
