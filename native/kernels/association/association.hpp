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

// eta = sqrt(SS_between / SS_total) of `y` grouped by `groups`, in [0, 1];
// 0 when `y` is constant or empty (no variance to explain). NaN in `y`
// gives NaN. `n_values` must equal the number of codes.
double correlation_ratio(const Codes& groups, const double* y, std::size_t n_values);

} // namespace zeka::kernels
