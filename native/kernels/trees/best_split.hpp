// The best cut of a boosting tree's node, from its gradient and hessian
// histograms.
//
// A cut c of feature j sends the bins 0..c left: the left child sums
// GL = grad[j, 0] + ... + grad[j, c] (added in bin order) and HL likewise,
// the right child GR = G - GL and HR = H - HL. A child's weight is
// -T(G) / (H + lambda), clipped to [lower, upper], where
// T(G) = sign(G) * max(|G| - alpha, 0); its score is
// -(G * w + 0.5 * (H + lambda) * w * w + alpha * |w|), and the cut's gain is
// score(left) + score(right) - score(node). A cut is allowed when both
// children hold a hessian of at least min_child_weight, c < cuts[j], and the
// weights follow the feature's monotone sign: sign * (w_right - w_left) >= 0.
// The chosen cut is the first in (feature, cut) order whose gain is within a
// relative 1e-9 of the best, so that gains equal up to rounding tie towards
// the first; it is made when its gain exceeds gamma.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

struct SplitHistograms {
    const double* grad = nullptr; // (features, width), C order
    const double* hess = nullptr; // (features, width)
    std::size_t features = 0;
    std::size_t width = 0;
    const std::int64_t* cuts = nullptr; // per feature, the cuts allowed: c < cuts[j]
    const double* signs = nullptr;      // per feature: +1 increasing, -1 decreasing, 0 free
};

struct SplitNode {
    double grad = 0.0, hess = 0.0; // the node's sums G and H
    double weight = 0.0;           // its own (clipped) weight
    double lower = 0.0, upper = 0.0;
};

struct SplitPenalties {
    double lambda = 0.0, alpha = 0.0, gamma = 0.0, min_child_weight = 0.0;
};

struct Split {
    bool found = false;
    std::size_t feature = 0, cut = 0;
    double left_weight = 0.0, right_weight = 0.0;
};

Split best_split(const SplitHistograms& hist, const SplitNode& node,
                 const SplitPenalties& penalties);

} // namespace zeka::kernels
