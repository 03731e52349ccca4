// Gains of the pairwise trees that rank candidate feature pairs.
//
// A pairwise tree cuts once along one feature's bins and then once more on
// each side along the other feature's bins (a side may also stay whole); each
// side of a cut needs more than `min_hessian_share` times the pair's total
// hessian. Its gain is the best sum over leaves of G^2 / H, over both
// orientations and every allowed set of cuts, minus the no-split score
// G^2 / H of the whole pair: the quantity ebm's `_pair_tree` computes without
// steps, with the same arithmetic in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeka::kernels {

// A row-major matrix of bin indices (rows x features) and each feature's bin
// count; bins[r * features + j] must lie in [0, n_bins[j]).
struct BinMatrixView {
    const std::int64_t* bins = nullptr;
    std::size_t rows = 0;
    std::size_t features = 0;
    const std::int64_t* n_bins = nullptr;
};

// The most cells (A * C) one pair's histograms may have: two such tables of
// doubles take 256 MiB.
constexpr std::size_t kMaxPairCells = std::size_t(1) << 24;

// Writes gains[l], for each of the n_pairs pairs (pairs[2l], pairs[2l + 1]),
// from the per-row gradients and hessians (weights already applied). A pair
// with a feature of fewer than 2 bins gets -inf, as does a pair that allows no
// tree; sums that overflow give a non-finite gain. Throws
// std::invalid_argument for a feature index outside [0, features), a negative
// bin count, a bin index outside its feature's range (in a feature that some
// pair uses) or a pair of more than kMaxPairCells cells.
void pair_gains(const BinMatrixView& matrix, const std::int64_t* pairs, std::size_t n_pairs,
                const double* grad, const double* hess, double min_hessian_share, double* gains);

// Reusable buffers of pair_tree_gain.
struct PairTreeScratch {
    std::vector<double> top_split, bottom_split, left_best, right_best;
};

// The gain of the best pairwise tree on the (A x C) row-major histograms
// hist_g and hist_h, A, C >= 2. Both are overwritten with their
// two-dimensional prefix sums.
double pair_tree_gain(double* hist_g, double* hist_h, std::size_t A, std::size_t C,
                      double min_hessian_share, PairTreeScratch& scratch);

} // namespace zeka::kernels
