// The randomized conditional independence test (RCIT) and its unconditional
// form (RIT) on random Fourier features: Strobl, Zhang and Visweswaran,
// "Approximate kernel-based conditional independence tests for fast
// non-parametric causal discovery", Journal of Causal Inference, 2019.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

// A row-major matrix of doubles; `data == nullptr` stands for no matrix.
struct MatrixView {
    const double* data = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
};

struct IndependenceTestSettings {
    std::size_t features = 5;                // Fourier features of x and of y
    std::size_t conditioning_features = 100; // Fourier features of z
    std::size_t width_rows = 1000;           // leading rows that set the kernel widths
    std::uint64_t seed = 0;
};

struct IndependenceTestResult {
    double p_value = 1.0;
    double statistic = 0.0;
};

// Tests x independent of y given z (z absent: unconditionally).
// 1. Each variable is standardised column by column.
// 2. The Gaussian kernel width of each is the median distance between its
//    first `width_rows` rows.
// 3. Features are drawn from one generator seeded with `seed`, in the order
//    x, y, z, and standardised over the rows.
// 4. With z, the x and y features are replaced by their residuals of a ridge
//    regression on the z features.
// 5. The statistic is n ||C||_F^2 for C the sample covariance (divisor n - 1)
//    of the x and y features (residuals); its p-value comes from the
//    Hall-Buckley-Eagleson approximation of the null distribution, whose
//    weights are the eigenvalues of the covariance of the feature products.
// Every covariance is summed block by block while the features are
// recomputed, so memory beyond the standardised copies does not grow with
// the rows. A constant x or y gives p-value 1 and statistic 0; a constant z
// leaves the unconditional test. Throws std::invalid_argument for fewer than
// two rows, row counts that differ, no columns, settings below 1 (2 for
// `width_rows`) and values that are NaN or infinite.
IndependenceTestResult randomized_independence_test(MatrixView x, MatrixView y, MatrixView z,
                                                    const IndependenceTestSettings& settings);

} // namespace zeka::kernels
