// GBK through the C library's iconv.

#include "sim/sign.h"

#include <iconv.h>

namespace rq::sim {

std::u32string DecodeGbk(const std::uint8_t* bytes, std::size_t size)
{
    constexpr char32_t REPLACEMENT = 0xFFFD;
    iconv_t cd = iconv_open("UTF-32LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::u32string(size, REPLACEMENT);
    std::u32string text;
    // One character at a time, so that a bad one costs one byte: a byte from
    // 0x81 on leads a pair, the others stand alone. A lone 0x80 is no
    // character, as on the sending side, though this iconv reads it as the
    // euro sign (as code page 936 does).
    std::size_t i = 0;
    while (i < size) {
        const std::size_t length = bytes[i] >= 0x81 && bytes[i] <= 0xFE && i + 1 < size ? 2 : 1;
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes + i));
        std::size_t inLeft = length;
        std::uint8_t out[4];
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        if (bytes[i] != 0x80 && iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
            inLeft == 0 && outLeft == 0) {
            text += static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) |
                                          (static_cast<std::uint32_t>(out[3]) << 24));
            i += length;
        } else {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            text += REPLACEMENT;
            ++i;
        }
    }
    iconv_close(cd);
    return text;
}

}  // namespace rq::sim
