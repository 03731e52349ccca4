// The null distribution of n ||C||_F^2, asymptotically sum_i lambda_i chi2_1
// with lambda_i the eigenvalues of the covariance of the feature products,
// approximated by matching its first three cumulants (Hall-Buckley-Eagleson).
#pragma once

#include <cstddef>

namespace zeka::kernels {

// P(T > statistic) under the Hall-Buckley-Eagleson approximation of
// T = sum_i lambda_i chi2_1, where the lambda_i are the eigenvalues of the
// symmetric positive semi-definite `size` x `size` matrix `covariance`
// (row-major). Only tr(C), tr(C^2) and tr(C^3) are needed (the cumulants are
// 2^(r-1) (r-1)! tr(C^r)), so no eigenvalues are computed. A matrix with no
// spread (tr(C^2) or tr(C^3) not positive) gives 1.
double hall_buckley_eagleson_pvalue(const double* covariance, std::size_t size, double statistic);

} // namespace zeka::kernels
