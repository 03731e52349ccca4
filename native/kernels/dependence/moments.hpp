// Sums of products over a block of rows, for covariances accumulated block by
// block without keeping the rows. Blocks are column-major: column i of a block
// of `count` rows starts at i * count.
#pragma once

#include <cstddef>

namespace zeka::kernels {

// sum_r a[r] * b[r], with eight partial sums in a fixed order (the same bits
// on every platform, and no serial dependency to wait on).
double dot(const double* a, const double* b, std::size_t count);

// out[i * nb + j] += sum_r a_i[r] * b_j[r] for the na columns of `a` and the
// nb columns of `b`.
void add_cross_products(const double* a, std::size_t na, const double* b, std::size_t nb,
                        std::size_t count, double* out);

// out[i * n + j] += sum_r a_i[r] * a_j[r] for j >= i (the upper triangle).
void add_gram_upper(const double* a, std::size_t n, std::size_t count, double* out);

// Copies the upper triangle of the n x n matrix onto the lower one.
void mirror_upper(double* matrix, std::size_t n);

// Solves (A + ridge I) X = B in place of B (n x m, row-major) for the
// symmetric positive semi-definite n x n matrix A (row-major, left unchanged)
// by a Cholesky factorisation. Throws std::domain_error when the factorisation
// breaks down.
void ridge_solve(const double* a, std::size_t n, double ridge, double* b, std::size_t m);

} // namespace zeka::kernels
