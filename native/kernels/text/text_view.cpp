#include "kernels/text/text_view.hpp"

#include <algorithm>

namespace zeka::kernels {

bool CharClasses::is_space(std::uint32_t cp) const {
    return std::binary_search(spaces.begin(), spaces.end(), cp);
}

int CharClasses::decimal_value(std::uint32_t cp) const {
    auto it =
        std::lower_bound(digits.begin(), digits.end(), cp,
                         [](const auto& entry, std::uint32_t key) { return entry.first < key; });
    return it != digits.end() && it->first == cp ? it->second : -1;
}

std::uint32_t next_code_point(TextView text, std::size_t* pos) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = *pos;
    unsigned char lead = bytes[i];
    std::size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    if (i + extra >= text.size()) {
        *pos = text.size();
        return 0xFFFD;
    }
    std::uint32_t cp = extra == 0   ? lead
                       : extra == 1 ? lead & 0x1F
                       : extra == 2 ? lead & 0x0F
                                    : lead & 0x07;
    for (std::size_t k = 1; k <= extra; ++k)
        cp = (cp << 6) | (bytes[i + k] & 0x3F);
    *pos = i + extra + 1;
    return cp;
}

} // namespace zeka::kernels
