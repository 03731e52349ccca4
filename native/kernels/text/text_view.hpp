// Views of UTF-8 text and the character classes the text kernels need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace zeka::kernels {

// One value's text, UTF-8 encoded. Lone surrogates are encoded like any other
// code point below U+10000 (three bytes), so every code point keeps its place.
using TextView = std::string_view;

// The Unicode character classes of the host interpreter, filled once by the
// caller: which code points are letters or digits (`str.isalnum`), which are
// whitespace (`str.isspace`), and the decimal digit value of those that have
// one. The kernels only read it.
struct CharClasses {
    static constexpr std::uint32_t kCodePoints = 0x110000;

    std::vector<std::uint64_t> alnum_bits = std::vector<std::uint64_t>(kCodePoints / 64);
    std::vector<std::uint32_t> spaces;                          // sorted
    std::vector<std::pair<std::uint32_t, std::uint8_t>> digits; // sorted by code point

    void set_alnum(std::uint32_t cp) { alnum_bits[cp >> 6] |= std::uint64_t{1} << (cp & 63); }
    bool is_alnum(std::uint32_t cp) const {
        return cp < kCodePoints && (alnum_bits[cp >> 6] >> (cp & 63)) & 1;
    }
    bool is_space(std::uint32_t cp) const;
    // The decimal value 0-9 of `cp`, or -1 when it is no decimal digit.
    int decimal_value(std::uint32_t cp) const;
};

// Decodes the code point that starts at `text[*pos]` and advances `*pos`.
// The input is well-formed (it comes from our own encoder); a truncated
// sequence yields U+FFFD rather than reading past the end.
std::uint32_t next_code_point(TextView text, std::size_t* pos);

} // namespace zeka::kernels
