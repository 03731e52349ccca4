#include "kernels/core/random.hpp"

#include <cmath>

namespace zeka::kernels {

constexpr double two_pi = 6.283185307179586476925286766559;

namespace {

// splitmix64's output function.
std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

} // namespace

std::uint64_t Random::next_bits() {
    return mix(state_ += 0x9e3779b97f4a7c15ULL);
}

std::uint64_t seed_of_integer(const std::uint64_t* words, std::size_t count, bool negative) {
    if (!negative && count <= 1)
        return count == 0 ? 0 : words[0];
    std::uint64_t seed = mix(count ^ (negative ? 0x8000000000000000ULL : 0));
    for (std::size_t i = 0; i < count; ++i)
        seed = mix(seed ^ words[i]) + 0x9e3779b97f4a7c15ULL;
    return seed;
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
