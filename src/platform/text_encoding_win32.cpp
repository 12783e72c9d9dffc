#include "platform/text_encoding.h"

#include <climits>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace rq::platform {

// The controllers read GBK (code page 936) whatever Windows' own ANSI code
// page is: English Windows (1252) could not convert Chinese at all, and with
// "Use Unicode UTF-8 for worldwide language support" (65001) the text went
// out as UTF-8, which the controller reads as garbage. A character GBK cannot
// represent fails the text instead of going out as the default character '?'.
namespace {
const UINT kControllerCodePage = 936;
}

std::optional<std::string> ToControllerMultibyte(std::u16string_view text)
{
    if (text.empty())
        return std::string();
    if (text.size() > static_cast<std::size_t>(INT_MAX / 4))
        return std::nullopt;

    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int wideLength = static_cast<int>(text.size());

    BOOL usedDefault = FALSE;
    const int needed = WideCharToMultiByte(kControllerCodePage, WC_NO_BEST_FIT_CHARS, wide, wideLength, nullptr, 0,
                                           nullptr, &usedDefault);
    if (needed <= 0 || usedDefault)
        return std::nullopt;

    std::string output(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(kControllerCodePage, WC_NO_BEST_FIT_CHARS, wide, wideLength, output.data(),
                                            needed, nullptr, &usedDefault);
    if (written <= 0 || usedDefault)
        return std::nullopt;
    output.resize(static_cast<std::size_t>(written));
    return output;
}

}  // namespace rq::platform
