// Per-value scans over a column of texts. Each batch function writes one
// result per view; none of them allocates per value.
#pragma once

#include "kernels/text/text_view.hpp"

#include <cstdint>

namespace zeka::kernels {

// Whether `text` is non-empty and holds no letter or digit of any script:
// every code point is one for which `str.isalnum` is false.
bool is_special_only(TextView text, const CharClasses& classes);
void mark_special_only(const TextView* views, std::size_t n, const CharClasses& classes,
                       std::uint8_t* out);

// Whether the built-in `float` accepts the str that `text` encodes: optional
// surrounding whitespace, a sign, decimal digits of any script with single
// underscores between digits, an optional fraction and exponent, or "inf",
// "infinity", "nan" in any letter case.
bool parses_as_float(TextView text, const CharClasses& classes);
void mark_float_texts(const TextView* views, std::size_t n, const CharClasses& classes,
                      std::uint8_t* out);

} // namespace zeka::kernels
