#include "kernels/text/text_scans.hpp"

namespace zeka::kernels {

namespace {

bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

} // namespace

bool is_special_only(TextView text, const CharClasses& classes) {
    if (text.empty())
        return false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto c = static_cast<unsigned char>(text[pos]);
        if (c < 0x80) {
            if (is_ascii_alnum(c))
                return false;
            ++pos;
        } else if (classes.is_alnum(next_code_point(text, &pos))) {
            return false;
        }
    }
    return true;
}

void mark_special_only(const TextView* views, std::size_t n, const CharClasses& classes,
                       std::uint8_t* out) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = is_special_only(views[i], classes);
}

} // namespace zeka::kernels
