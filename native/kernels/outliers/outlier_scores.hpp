// Per-row outlier scores of the histogram, empirical-distribution and
// nearest-neighbour detectors, and the cross tables a distribution-splitting
// tree grows from. Plain loops over row-major double matrices; no Python.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

// A row-major matrix of `rows` x `cols` doubles.
struct RowMatrix {
    const double* data = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
};

// Histogram scores: out[r] = the sum over features j of -log_density[j][b],
// b the bin of x[r][j] among edges[j][0..bins] (edge e[b] <= x < e[b+1], the
// last edge belonging to the last bin). A value below the first edge by at
// most tol bin widths counts in the first bin, one above the last edge by at
// most tol widths in the last; a value further out counts in the bin of the
// smallest density, and so does NaN. edges: features x (bins + 1), ascending;
// log_density: features x bins.
void histogram_scores(const RowMatrix& x, const double* edges, const double* log_density,
                      std::size_t bins, double tol, double* out);

// Empirical tail scores: for feature j, sorted[j] holds the training values in
// ascending order (features x n) and cumulative[j] their running weights (null
// for unit weights). left = share of training weight at or below x, right =
// share at or above x, both floored at `floor`; out[r] = the sum over features
// of -log(min(left, right)).
void tail_scores(const RowMatrix& x, const double* sorted, const double* cumulative, std::size_t n,
                 double floor, double* out);

// The same scores for the training rows themselves, from each feature's sort
// order: order[j][i] is the row holding sorted[j][i]. One pass over each sorted
// feature (a run of equal values shares its shares) instead of a search per row.
// Returns false when order holds a row outside [0, n).
bool training_tail_scores(const double* sorted, const std::int64_t* order, const double* cumulative,
                          std::size_t d, std::size_t n, double floor, double* out);

// Aggregates of each row's neighbour distances: dist is rows x m, ascending in
// each row. Unweighted (weights null, own null): the first k distances (k <= m).
// Weighted: weights (rows x m) gives each neighbour's weight, and own[r] (may be
// null) the weight the row has as its own neighbour at distance 0, taken first;
// the first k units of weight are aggregated (a shortfall is filled with the
// last distance). method 0: mean, 1: largest, 2: median (the mean of the two
// middle units for even k).
void neighbour_scores(const double* dist, std::size_t rows, std::size_t m, const double* weights,
                      const double* own, std::size_t k, int method, double* out);

// The weighted cross tables of a tree node's rows. codes: n x d bin codes (row
// major), each in [0, width). For the node's rows r (all when node_rows is
// null) with weight w[r] (1 when null):
//   counts[((j * width + b) * d + l) * width + c] += w   where codes[r][j] == b, codes[r][l] == c
//   sums[(j * width + b) * d + l] += w * values[r][l]       (when values is not null)
// The outputs are zeroed first. Returns false when a code lies outside [0, width).
bool cross_tables(const std::int64_t* codes, std::size_t n, std::size_t d, std::size_t width,
                  const std::int64_t* node_rows, std::size_t count, const double* w,
                  const double* values, double* counts, double* sums);

} // namespace zeka::kernels
