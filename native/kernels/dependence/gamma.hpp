// The regularised incomplete gamma function, for chi-square and gamma tail
// probabilities.
#pragma once

namespace zeka::kernels {

// log Gamma(a) for a > 0 (Lanczos approximation, relative error near 1e-15).
double log_gamma(double a);

// Q(a, x) = Gamma(a, x) / Gamma(a), the upper tail of a gamma(a, 1) variable
// at x; 1 for x <= 0. Throws std::domain_error unless a > 0 and x is not NaN.
double gamma_upper_regularized(double a, double x);

// P(X > x) for X chi-square with `df` (> 0, not necessarily whole) degrees of
// freedom.
inline double chi_square_survival(double x, double df) {
    return gamma_upper_regularized(0.5 * df, 0.5 * x);
}

} // namespace zeka::kernels
