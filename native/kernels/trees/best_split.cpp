#include "kernels/trees/best_split.hpp"

#include <cmath>
#include <limits>
#include <vector>

namespace zeka::kernels {

namespace {

// numpy's sign: NaN stays NaN, either zero gives +0.
double sign_of(double x) {
    return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : (std::isnan(x) ? x : 0.0));
}

// numpy's maximum and clip: a NaN argument gives NaN.
double maximum(double a, double b) {
    return (std::isnan(a) || a > b) ? a : b;
}

double clip(double x, double lower, double upper) {
    if (std::isnan(x))
        return x;
    const double raised = x < lower ? lower : x;
    return raised > upper ? upper : raised;
}

// The leaf weight and its score, in the order of operations of the numpy
// definition, so that equal inputs give equal gains to the bit.
struct Leaf {
    const SplitPenalties& p;
    double weight(double g, double h, double lower, double upper) const {
        const double shrunk = sign_of(g) * maximum(std::fabs(g) - p.alpha, 0.0);
        return clip(-shrunk / (h + p.lambda), lower, upper);
    }
    double score(double g, double h, double w) const {
        return -(g * w + 0.5 * (h + p.lambda) * (w * w) + p.alpha * std::fabs(w));
    }
};

} // namespace

Split best_split(const SplitHistograms& hist, const SplitNode& node,
                 const SplitPenalties& penalties) {
    const Leaf leaf{penalties};
    const std::size_t cuts = hist.width > 0 ? hist.width - 1 : 0;
    const double node_score = leaf.score(node.grad, node.hess, node.weight);
    constexpr double kNone = -std::numeric_limits<double>::infinity();
    std::vector<double> gains(hist.features * cuts, kNone);
    std::vector<double> left(gains.size()), right(gains.size());
    double top = kNone;
    bool any_nan = false;
    for (std::size_t j = 0; j < hist.features; ++j) {
        const double* g = hist.grad + j * hist.width;
        const double* h = hist.hess + j * hist.width;
        double gl = 0.0, hl = 0.0;
        for (std::size_t c = 0; c < cuts; ++c) {
            // the running sums start from the first bin, as a cumulative sum does
            gl = c == 0 ? g[0] : gl + g[c];
            hl = c == 0 ? h[0] : hl + h[c];
            const double gr = node.grad - gl, hr = node.hess - hl;
            const double wl = leaf.weight(gl, hl, node.lower, node.upper);
            const double wr = leaf.weight(gr, hr, node.lower, node.upper);
            const bool allowed =
                hl >= penalties.min_child_weight && hr >= penalties.min_child_weight &&
                static_cast<std::int64_t>(c) < hist.cuts[j] && hist.signs[j] * (wr - wl) >= 0.0;
            if (!allowed)
                continue;
            const std::size_t at = j * cuts + c;
            const double gain = leaf.score(gl, hl, wl) + leaf.score(gr, hr, wr) - node_score;
            gains[at] = gain;
            left[at] = wl;
            right[at] = wr;
            any_nan = any_nan || std::isnan(gain);
            top = gain > top ? gain : top;
        }
    }
    Split split;
    if (any_nan || top == kNone)
        return split;
    const double threshold = std::isinf(top) ? top : top - 1e-9 * std::fmax(std::fabs(top), 1e-300);
    std::size_t at = 0;
    while (!(gains[at] >= threshold))
        ++at;
    if (!(gains[at] > penalties.gamma))
        return split;
    split.found = true;
    split.feature = at / cuts;
    split.cut = at % cuts;
    split.left_weight = left[at];
    split.right_weight = right[at];
    return split;
}

} // namespace zeka::kernels
