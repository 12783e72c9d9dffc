#pragma once
// The multibyte text that the controller's double-byte rule reads: the
// Simplified Chinese code page (GBK, code page 936), ASCII unchanged.

#include <optional>
#include <string>
#include <string_view>

namespace rq::platform {

// Converts `text` to the controller's multibyte code. nullopt when a character
// has no representation there (or the text is not valid UTF-16). An empty
// text converts to an empty string. Whether the bytes suit the controller is
// decided by protocol::ToMultibyteText, the same on every platform.
std::optional<std::string> ToControllerMultibyte(std::u16string_view text);

}  // namespace rq::platform
