// Association measures between two columns of a table: the symmetric
// uncertainty coefficient of two categorical columns and the correlation
// ratio of a numerical column given a categorical one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeka::kernels {

// Category codes 0..levels-1, one per value.
struct Codes {
    std::vector<std::int32_t> codes;
    std::int32_t levels = 0;
};

// Codes for the distinct values of `x`: values that compare equal share a
// code (-0.0 and 0.0 do), and all NaNs share one.
Codes factorize(const double* x, std::size_t n);

// Shannon entropy (natural log) of the distribution given by `counts`;
// zero counts contribute nothing, and no count at all gives 0.
double entropy_from_counts(const std::int64_t* counts, std::size_t k);

// 2 (H(x) + H(y) - H(x, y)) / (H(x) + H(y)), in [0, 1]. When both columns
// are constant (or empty) the denominator is 0 and the value is 1: each
// determines the other. The lengths of the code vectors must agree.
double symmetric_uncertainty(const Codes& x, const Codes& y);

// The symmetric uncertainty from the entropies H(x), H(y) and H(x, y).
double uncertainty_from_entropies(double hx, double hy, double hxy);

// eta = sqrt(SS_between / SS_total) of `y` grouped by `groups`, in [0, 1];
// 0 when `y` is constant or empty (no variance to explain). NaN in `y`
// gives NaN. `n_values` must equal the number of codes.
double correlation_ratio(const Codes& groups, const double* y, std::size_t n_values);

// The correlation ratio in its steps, for callers that reuse the spread of
// one column against many groupings; correlation_ratio is
// eta_from_sums(between_groups(...), spread_of(y).ss_total) unless the
// spread is constant (eta 0).
struct Spread {
    bool constant = true; // no values, or all equal (NaN never is)
    double mean = 0;
    double ss_total = 0; // sum of squared deviations from the mean
};
Spread spread_of(const double* y, std::size_t n);
// sum_g n_g (mean_g - mean)^2 over the groups 0..levels-1 that occur;
// every code must lie in that range.
double between_groups(const std::int32_t* codes, std::int32_t levels, const double* y,
                      std::size_t n, double mean);
double eta_from_sums(double ss_between, double ss_total);

} // namespace zeka::kernels
