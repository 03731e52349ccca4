#include "kernels/text/text_scans.hpp"

#include <cstring>

namespace zeka::kernels {

std::size_t count_code_points(TextView text) {
    // Every code point has exactly one byte that is not a continuation byte
    // (10xxxxxx); count those, eight bytes at a time.
    const char* p = text.data();
    std::size_t n = text.size(), count = 0, i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        std::uint64_t continuation = word & ~(word << 1) & 0x8080808080808080ULL;
        count += 8 - static_cast<std::size_t>(__builtin_popcountll(continuation));
    }
    for (; i < n; ++i)
        count += (static_cast<unsigned char>(p[i]) & 0xC0) != 0x80;
    return count;
}

void text_lengths(const TextView* views, std::size_t n, std::int64_t* out) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::int64_t>(count_code_points(views[i]));
}

} // namespace zeka::kernels
