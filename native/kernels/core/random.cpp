#include "kernels/core/random.hpp"

#include <cmath>

namespace zeka::kernels {

constexpr double two_pi = 6.283185307179586476925286766559;

std::uint64_t Random::next_bits() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double Random::uniform() {
    return static_cast<double>(next_bits() >> 11) * 0x1.0p-53;
}

double Random::normal() {
    if (has_spare_) {
        has_spare_ = false;
        return spare_;
    }
    // 1 - uniform() lies in (0, 1], so the logarithm is finite.
    double radius = std::sqrt(-2.0 * std::log(1.0 - uniform()));
    double angle = two_pi * uniform();
    spare_ = radius * std::sin(angle);
    has_spare_ = true;
    return radius * std::cos(angle);
}

} // namespace zeka::kernels
