#include "kernels/dependence/gamma.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace zeka::kernels {

namespace {

constexpr int kMaxIterations = 10000;
constexpr double kEpsilon = 1e-16;
constexpr double kTiny = 1e-300;

// P(a, x) by its power series; converges quickly for x < a + 1.
double lower_series(double a, double x) {
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n < kMaxIterations; ++n) {
        term *= x / (a + n);
        sum += term;
        if (std::fabs(term) < std::fabs(sum) * kEpsilon)
            break;
    }
    return sum * std::exp(-x + a * std::log(x) - log_gamma(a));
}

// Q(a, x) by its continued fraction (modified Lentz); converges quickly for
// x >= a + 1 and keeps full relative precision in the far tail.
double upper_continued_fraction(double a, double x) {
    double b = x + 1.0 - a;
    double c = 1.0 / kTiny;
    double d = 1.0 / b;
    double h = d;
    for (int i = 1; i < kMaxIterations; ++i) {
        double an = -i * (i - a);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < kTiny)
            d = kTiny;
        c = b + an / c;
        if (std::fabs(c) < kTiny)
            c = kTiny;
        d = 1.0 / d;
        double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0) < kEpsilon)
            break;
    }
    return std::exp(-x + a * std::log(x) - log_gamma(a)) * h;
}

} // namespace

double log_gamma(double a) {
    // Lanczos coefficients for g = 7, n = 9.
    static const double coefficients[] = {
        0.99999999999980993,  676.5203681218851,     -1259.1392167224028,
        771.32342877765313,   -176.61502916214059,   12.507343278686905,
        -0.13857109526572012, 9.9843695780195716e-6, 1.5056327351493116e-7};
    if (a < 0.5) // reflection keeps the approximation in its accurate range
        return std::log(M_PI / std::fabs(std::sin(M_PI * a))) - log_gamma(1.0 - a);
    a -= 1.0;
    double series = coefficients[0];
    const double t = a + 7.5;
    for (int i = 1; i < 9; ++i)
        series += coefficients[i] / (a + i);
    return 0.5 * std::log(2.0 * M_PI) + (a + 0.5) * std::log(t) - t + std::log(series);
}

double gamma_upper_regularized(double a, double x) {
    if (!(a > 0.0) || std::isnan(x))
        throw std::domain_error("the incomplete gamma function needs a > 0 and a number x");
    if (x <= 0.0)
        return 1.0;
    if (std::isinf(x))
        return 0.0;
    if (x < a + 1.0)
        return 1.0 - lower_series(a, x);
    return upper_continued_fraction(a, x);
}

} // namespace zeka::kernels
