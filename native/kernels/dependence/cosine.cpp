#include "kernels/dependence/cosine.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace zeka::kernels {

namespace {

constexpr double kLargestReduced = 1e6;
constexpr double kInversePi = 0.318309886183790671537767526745;
// pi in three parts; the first two have short mantissas so that n * part is
// exact for every multiple n of pi up to kLargestReduced.
constexpr double kPi1 = 3.14159250259399414062;
constexpr double kPi2 = 1.50995788317231926e-7;
constexpr double kPi3 = 1.07806057163162381e-14;
// x * (1 / pi) + 1.5 * 2^52 holds round(x / pi) in its low mantissa bits.
constexpr double kRoundingShift = 0x1.8p52;

// cos(r) for |r| <= pi / 2: the Taylor series up to r^22 (the next term is
// below 1e-19).
inline double cosine_polynomial(double r) {
    const double r2 = r * r;
    double c = -1.0 / 1124000727777607680000.0; // -1 / 22!
    c = c * r2 + 1.0 / 2432902008176640000.0;   // 1 / 20!
    c = c * r2 - 1.0 / 6402373705728000.0;
    c = c * r2 + 1.0 / 20922789888000.0;
    c = c * r2 - 1.0 / 87178291200.0;
    c = c * r2 + 1.0 / 479001600.0;
    c = c * r2 - 1.0 / 3628800.0;
    c = c * r2 + 1.0 / 40320.0;
    c = c * r2 - 1.0 / 720.0;
    c = c * r2 + 1.0 / 24.0;
    c = c * r2 - 0.5;
    return c * r2 + 1.0;
}

inline double reduced_cosine(double x) {
    const double shifted = x * kInversePi + kRoundingShift;
    const double n = shifted - kRoundingShift;
    std::uint64_t parity;
    std::memcpy(&parity, &shifted, sizeof parity);
    const double r = ((x - n * kPi1) - n * kPi2) - n * kPi3;
    // cos(n pi + r) = (-1)^n cos(r): flip the sign bit for odd n.
    const double c = cosine_polynomial(r);
    std::uint64_t bits;
    std::memcpy(&bits, &c, sizeof bits);
    bits ^= (parity & 1u) << 63;
    double result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

} // namespace

void cosine_in_place(double* values, std::size_t count) {
    std::size_t out_of_range = 0; // NaN counts too
    for (std::size_t i = 0; i < count; ++i)
        out_of_range += !(std::fabs(values[i]) <= kLargestReduced);
    if (out_of_range > 0) {
        for (std::size_t i = 0; i < count; ++i)
            values[i] = std::cos(values[i]);
        return;
    }
    for (std::size_t i = 0; i < count; ++i)
        values[i] = reduced_cosine(values[i]);
}

} // namespace zeka::kernels
