#include "platform/text_encoding.h"

#include <climits>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace rq::platform {

// The controller's code page is the system's ANSI code page on the Chinese
// Windows the controllers are used with. A character the code page cannot
// represent fails the text instead of going out as the default character '?'.
std::optional<std::string> ToControllerMultibyte(std::u16string_view text)
{
    if (text.empty())
        return std::string();
    if (text.size() > static_cast<std::size_t>(INT_MAX / 4))
        return std::nullopt;

    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int wideLength = static_cast<int>(text.size());

    // With a UTF-8 ANSI code page the default-character report is not
    // allowed; every character is representable there, only invalid UTF-16
    // fails.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;

    const int needed =
        WideCharToMultiByte(CP_ACP, flags, wide, wideLength, nullptr, 0, nullptr, usedDefaultOut);
    if (needed <= 0 || usedDefault)
        return std::nullopt;

    std::string output(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, flags, wide, wideLength, output.data(), needed,
                                            nullptr, usedDefaultOut);
    if (written <= 0 || usedDefault)
        return std::nullopt;
    output.resize(static_cast<std::size_t>(written));
    return output;
}

}  // namespace rq::platform
