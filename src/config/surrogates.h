#pragma once
// Text that can be written as UTF-8: surrogates that are not half of a valid
// pair become U+FFFD. wxString holds UTF-32 on Linux and UTF-16 on Windows,
// where a character outside the Basic Multilingual Plane is two code units
// that must stay together.

#include <string>
#include <string_view>

namespace rq::config {

// UTF-16 code units: a high surrogate directly followed by a low one is kept,
// every other surrogate becomes U+FFFD.
std::u16string WithoutLoneSurrogates(std::u16string_view units);

// Code points: surrogates (never valid here) and values above U+10FFFF
// become U+FFFD.
std::u32string WithoutLoneSurrogates(std::u32string_view points);

}  // namespace rq::config
