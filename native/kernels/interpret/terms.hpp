// Kernels of the model-own interpretation views: the values of piecewise
// constant terms at every row, sums over the cells of a grid, the purification
// of a pairwise table, and the local linear models of a ReLU network.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

// Piecewise constant terms of one or two features. Axis k (0 or 1) of term t
// is axes[(t * 2 + k) * 3 + {0, 1, 2}] = {feature, first edge, edge count};
// feature -1 leaves the second axis out. A value x falls in bin
// searchsorted(edges, x, side="left"): the number of edges below x. The table
// of term t starts at tables[table_start[t]] and is (count_a + 1) x
// (count_b + 1), row-major (count_b + 1 = 1 without a second axis).
struct StepTerms {
    const std::int64_t* axes = nullptr;
    std::size_t terms = 0;
    const double* edges = nullptr;
    const double* tables = nullptr;
    const std::int64_t* table_start = nullptr;
};

// The number of entries of edges[0, count) below x (NaN counts every edge).
std::size_t bin_of(const double* edges, std::size_t count, double x);

// cells[r * terms + t]: the cell of row r in the table of term t. X is
// row-major, rows x cols; every feature of `terms` is below cols.
void step_cells(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                std::int64_t* cells);

// values[r * terms + t]: the table entry of term t at row r.
void step_values(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                 double* values);

// counts[table_start[t] + c] = the number of rows of X in cell c of term t,
// for every term; counts has the n_tables entries of the tables, which every
// term's table lies within.
void step_counts(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                 double* counts, std::size_t n_tables);

// Over every row r of X: contributions[r * cols + j] = the sum over the
// terms t of feature j of the entry of t at r divided by the number of
// features of t (a pair's entry half to each of its features); and per term,
// sum[t] and sum_abs[t], the sums of its entries and of their absolute values
// over the rows.
void step_summary(const double* X, std::size_t rows, std::size_t cols, const StepTerms& terms,
                  double* contributions, double* sum, double* sum_abs);

// sums[c * k + v] = the sum of values[r * k + v] over the rows r with
// cells[r] == c, in row order; counts[c] = the number of those rows. Returns
// false when a cell outside [0, width) is met.
bool cell_sums(const std::int64_t* cells, std::size_t rows, const double* values, std::size_t k,
               std::size_t width, double* sums, double* counts);

// Purifies the A x B table f (in place) under the cell weights w: alternately
// subtracts the weighted mean of every row and every column, adding it to
// row_effect / col_effect, until no mean exceeds tol (or max_iter sweeps, or
// 25 sweeps in a row that bring the largest mean no lower);
// then centres both effects on their marginal weights into *constant. After
// it, f + row_effect[a] + col_effect[b] + constant is the table given, and f
// has zero weighted mean along both axes. Rows or columns of zero weight keep
// their entries. Returns the number of sweeps.
std::size_t purify(double* f, const double* w, std::size_t A, std::size_t B, double tol,
                   std::size_t max_iter, double* row_effect, double* col_effect, double* constant);

// A fully connected ReLU network of `layers` affine maps; layer l maps
// sizes[l] inputs to sizes[l + 1] outputs with weights[l] (row-major
// sizes[l] x sizes[l + 1]) and biases[l]; sizes[layers] is 1; every layer
// but the last is followed by max(0, .).
struct ReluNetwork {
    std::size_t layers = 0;
    const std::size_t* sizes = nullptr;
    const double* const* weights = nullptr;
    const double* const* biases = nullptr;
};

// For every row r of Z (rows x sizes[0], row-major): out[r], the network's
// output; grad[r * sizes[0] + j], its gradient (the coefficients of the
// linear map the network is within the row's activation region); region[r],
// a 64-bit hash of the activation pattern (which units are positive), equal
// for rows of the same region.
void relu_local_linear(const ReluNetwork& net, const double* Z, std::size_t rows, double* out,
                       double* grad, std::int64_t* region);

} // namespace zeka::kernels
