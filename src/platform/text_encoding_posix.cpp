#include "platform/text_encoding.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace rq::platform {
namespace {

// Owns one iconv descriptor.
class Converter {
public:
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (IsOk())
            iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOk() const { return cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return cd; }

private:
    iconv_t cd;
};

}  // namespace

std::optional<std::string> ToControllerMultibyte(std::u16string_view text)
{
    if (text.empty())
        return std::string();

    // Spell out the byte order so the input does not depend on the host's.
    std::vector<char> input;
    input.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        input.push_back(static_cast<char>(unit & 0xFFu));
        input.push_back(static_cast<char>((unit >> 8) & 0xFFu));
    }

    Converter converter("GBK", "UTF-16LE");
    if (!converter.IsOk())
        return std::nullopt;

    // GBK needs at most two bytes per UTF-16 code unit.
    std::string output(text.size() * 2, '\0');
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    // Any failure (EILSEQ for an unrepresentable character or a lone
    // surrogate, EINVAL for a truncated pair) fails the whole text.
    if (iconv(converter.Handle(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    // Flush any shift state (none for GBK, but harmless).
    if (iconv(converter.Handle(), nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    output.resize(output.size() - outLeft);
    return output;
}

}  // namespace rq::platform
