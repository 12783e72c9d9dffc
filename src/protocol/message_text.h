#pragma once
// The bytes of a message text as the controller reads them.

#include <cstdint>
#include <string_view>
#include <vector>

namespace rq::protocol {

// Encoding 2: the UTF-16 code units of `text`, each low byte first.
// Otherwise (encoding 1): `multibyte` is `text` already converted to the
// controller's double-byte code; as many characters as `text` has code units
// are copied from it, a byte of 0x80 or more starting a two-byte character.
// Copying stops at the end of `multibyte`; a lead byte whose second byte is
// missing there is dropped rather than sent half.
std::vector<std::uint8_t> EncodeMessageText(std::u16string_view text, int encoding,
                                            std::string_view multibyte);

// 2 when the selected encoding choice reads exactly "UNICODE", else 1.
int MessageEncoding(std::string_view selectedChoiceText);

}  // namespace rq::protocol
