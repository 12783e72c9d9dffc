// GBK through Windows' code page 936, whatever the system's own code page.

#include "sim/sign.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace rq::sim {

std::u32string DecodeGbk(const std::uint8_t* bytes, std::size_t size)
{
    constexpr char32_t REPLACEMENT = 0xFFFD;
    constexpr UINT GBK = 936;
    std::u32string text;
    // One character at a time, so that a bad one costs one byte, as with iconv:
    // a byte from 0x81 on leads a pair, the others stand alone. A lone 0x80
    // is no character: code page 936 reads it as the euro sign, which the
    // sending side refuses to send so.
    std::size_t i = 0;
    while (i < size) {
        const int length = bytes[i] >= 0x81 && bytes[i] <= 0xFE && i + 1 < size ? 2 : 1;
        wchar_t unit = 0;
        if (bytes[i] != 0x80 && MultiByteToWideChar(GBK, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes + i), length, &unit,
                                1) == 1) {
            text += static_cast<char32_t>(unit);
            i += static_cast<std::size_t>(length);
        } else {
            text += REPLACEMENT;
            ++i;
        }
    }
    return text;
}

}  // namespace rq::sim
