#include "config/surrogates.h"

namespace rq::config {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

constexpr bool IsHigh(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLow(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::u16string WithoutLoneSurrogates(std::u16string_view units)
{
    std::u16string clean;
    clean.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (IsHigh(unit) && i + 1 < units.size() && IsLow(units[i + 1])) {
            clean += unit;
            clean += units[++i];
        } else {
            clean += (IsHigh(unit) || IsLow(unit)) ? static_cast<char16_t>(kReplacement) : unit;
        }
    }
    return clean;
}

std::u32string WithoutLoneSurrogates(std::u32string_view points)
{
    std::u32string clean;
    clean.reserve(points.size());
    for (const char32_t point : points) {
        clean += (IsHigh(point) || IsLow(point) || point > 0x10FFFF) ? kReplacement : point;
    }
    return clean;
}

}  // namespace rq::config
