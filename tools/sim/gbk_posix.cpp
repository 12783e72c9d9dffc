// GBK through the C library's iconv.

#include "sim/sign.h"

#include <cerrno>

#include <iconv.h>

namespace rq::sim {

std::u32string DecodeGbk(const std::uint8_t* bytes, std::size_t size)
{
    constexpr char32_t REPLACEMENT = 0xFFFD;
    std::u32string text;
    iconv_t cd = iconv_open("UTF-32LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::u32string(size, REPLACEMENT);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    std::size_t inLeft = size;
    while (inLeft > 0) {
        char32_t out[64];
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const std::size_t got = (sizeof out - outLeft) / sizeof(char32_t);
        for (std::size_t i = 0; i < got; ++i) {
            const auto* b = reinterpret_cast<const std::uint8_t*>(&out[i]);
            text += static_cast<char32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24));
        }
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte that starts no character, or a pair cut off at the end.
            text += REPLACEMENT;
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return text;
}

}  // namespace rq::sim
