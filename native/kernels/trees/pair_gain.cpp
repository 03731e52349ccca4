#include "kernels/trees/pair_gain.hpp"

#include <limits>
#include <stdexcept>
#include <string>

namespace zeka::kernels {

namespace {

std::size_t bin_count(const BinMatrixView& matrix, std::size_t feature) {
    return static_cast<std::size_t>(matrix.n_bins[feature]);
}

bool has_two_bins(const BinMatrixView& matrix, std::size_t feature) {
    return matrix.n_bins[feature] >= 2;
}

// Whether the pair (j, k) has a tree at all: each feature needs two bins.
bool makes_tree(const BinMatrixView& matrix, std::size_t j, std::size_t k) {
    return has_two_bins(matrix, j) && has_two_bins(matrix, k);
}

void check_bin_counts(const BinMatrixView& matrix) {
    for (std::size_t j = 0; j < matrix.features; ++j)
        if (matrix.n_bins[j] < 0)
            throw std::invalid_argument("n_bins[" + std::to_string(j) + "] is negative (" +
                                        std::to_string(matrix.n_bins[j]) + ")");
}

// The pairs' features as indices, checked against the matrix and the cell limit.
std::vector<std::size_t> checked_pairs(const BinMatrixView& matrix, const std::int64_t* pairs,
                                       std::size_t n_pairs) {
    std::vector<std::size_t> features(2 * n_pairs);
    for (std::size_t i = 0; i < 2 * n_pairs; ++i) {
        if (pairs[i] < 0 || static_cast<std::uint64_t>(pairs[i]) >= matrix.features)
            throw std::invalid_argument("pairs holds feature " + std::to_string(pairs[i]) +
                                        ", outside [0, " + std::to_string(matrix.features) + ")");
        features[i] = static_cast<std::size_t>(pairs[i]);
    }
    for (std::size_t l = 0; l < n_pairs; ++l) {
        const std::size_t j = features[2 * l], k = features[2 * l + 1];
        if (!makes_tree(matrix, j, k))
            continue;
        const std::size_t A = bin_count(matrix, j), C = bin_count(matrix, k);
        if (A > kMaxPairCells || C > kMaxPairCells / A)
            throw std::invalid_argument("the pair (" + std::to_string(j) + ", " +
                                        std::to_string(k) + ") has " + std::to_string(A) + " x " +
                                        std::to_string(C) + " bins, more than " +
                                        std::to_string(kMaxPairCells) + " cells");
    }
    return features;
}

// Feature j's bin column, checked against its bin count; stored contiguously
// (in `column`) only when `keep` is set, for a feature some histogram needs.
void read_column(const BinMatrixView& matrix, std::size_t j, bool keep,
                 std::vector<std::uint32_t>& column) {
    const std::int64_t limit = matrix.n_bins[j];
    if (keep)
        column.resize(matrix.rows);
    for (std::size_t r = 0; r < matrix.rows; ++r) {
        const std::int64_t bin = matrix.bins[r * matrix.features + j];
        if (bin < 0 || bin >= limit)
            throw std::invalid_argument("bin index " + std::to_string(bin) + " of feature " +
                                        std::to_string(j) + " (row " + std::to_string(r) +
                                        ") is outside [0, " + std::to_string(limit) + ")");
        if (keep)
            column[r] = static_cast<std::uint32_t>(bin);
    }
}

// The bin columns of every feature the pairs use, checked; kept for the
// features of pairs that get histograms (their bin counts fit in 32 bits: see
// checked_pairs).
std::vector<std::vector<std::uint32_t>> read_columns(const BinMatrixView& matrix,
                                                     const std::vector<std::size_t>& features) {
    std::vector<bool> used(matrix.features, false), kept(matrix.features, false);
    for (std::size_t i = 0; i < features.size(); i += 2) {
        const std::size_t j = features[i], k = features[i + 1];
        used[j] = used[k] = true;
        if (makes_tree(matrix, j, k))
            kept[j] = kept[k] = true;
    }
    std::vector<std::vector<std::uint32_t>> columns(matrix.features);
    for (std::size_t j = 0; j < matrix.features; ++j)
        if (used[j])
            read_column(matrix, j, kept[j], columns[j]);
    return columns;
}

// Row-ordered sums of grad and hess per cell (a, c) of the (A x C) table, as
// numpy's bincount adds them.
void pair_histograms(const std::uint32_t* first, const std::uint32_t* second, std::size_t rows,
                     std::size_t C, const double* grad, const double* hess, double* hist_g,
                     double* hist_h) {
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t cell = first[r] * C + second[r];
        hist_g[cell] += grad[r];
        hist_h[cell] += hess[r];
    }
}

} // namespace

void pair_gains(const BinMatrixView& matrix, const std::int64_t* pairs, std::size_t n_pairs,
                const double* grad, const double* hess, double min_hessian_share, double* gains) {
    check_bin_counts(matrix);
    const std::vector<std::size_t> features = checked_pairs(matrix, pairs, n_pairs);
    const auto columns = read_columns(matrix, features);
    std::vector<double> hist_g, hist_h;
    PairTreeScratch scratch;
    for (std::size_t l = 0; l < n_pairs; ++l) {
        const std::size_t j = features[2 * l], k = features[2 * l + 1];
        if (!makes_tree(matrix, j, k)) {
            gains[l] = -std::numeric_limits<double>::infinity();
            continue;
        }
        const std::size_t A = bin_count(matrix, j), C = bin_count(matrix, k);
        hist_g.assign(A * C, 0.0);
        hist_h.assign(A * C, 0.0);
        pair_histograms(columns[j].data(), columns[k].data(), matrix.rows, C, grad, hess,
                        hist_g.data(), hist_h.data());
        gains[l] = pair_tree_gain(hist_g.data(), hist_h.data(), A, C, min_hessian_share, scratch);
    }
}

} // namespace zeka::kernels
