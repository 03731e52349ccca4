#include "kernels/association/association.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace zeka::kernels {

namespace {

// Values that are small non-negative integers (the codes of a factorised
// column, the usual input) serve as their own codes.
constexpr double kDirectCodeLimit = 1 << 16;

bool holds_small_codes(const double* x, std::size_t n, double* largest) {
    double top = -1;
    for (std::size_t i = 0; i < n; ++i) {
        double v = x[i];
        if (!(v >= 0 && v < kDirectCodeLimit) || v != std::floor(v))
            return false;
        top = v > top ? v : top;
    }
    *largest = top;
    return true;
}

std::uint64_t key_of(double v) {
    if (std::isnan(v))
        v = std::numeric_limits<double>::quiet_NaN();
    else if (v == 0)
        v = 0.0;
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

} // namespace

Codes factorize(const double* x, std::size_t n) {
    Codes out;
    out.codes.resize(n);
    double largest = -1;
    if (holds_small_codes(x, n, &largest)) {
        for (std::size_t i = 0; i < n; ++i)
            out.codes[i] = static_cast<std::int32_t>(x[i]);
        out.levels = static_cast<std::int32_t>(largest) + 1;
        return out;
    }
    std::unordered_map<std::uint64_t, std::int32_t> seen;
    for (std::size_t i = 0; i < n; ++i) {
        auto [it, added] = seen.try_emplace(key_of(x[i]), out.levels);
        out.levels += added;
        out.codes[i] = it->second;
    }
    return out;
}

} // namespace zeka::kernels
