#include "kernels/trees/pair_gain.hpp"

#include <limits>

namespace zeka::kernels {

namespace {

// The loops over one row of cuts run for every first cut of every candidate
// pair; where the compiler supports it, they get an AVX2 copy too, picked at
// load time on processors that have it (the same arithmetic, no fused
// multiply-add).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define ZEKA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZEKA_VECTOR_CLONES
#endif

constexpr double kMinusInf = -std::numeric_limits<double>::infinity();
// Denominators are kept above this, as ebm's `_pair_tree` does.
constexpr double kTinyHessian = 1e-300;

// numpy's maximum: NaN wins over any number, otherwise the larger value.
inline double nan_max(double a, double b) {
    return ((a > b) | (a != a)) ? a : b;
}

// A leaf's score G^2 / H.
inline double leaf(double g, double h) {
    return g * g / (h < kTinyHessian ? kTinyHessian : h);
}

// A side left whole: its score, or -inf unless it holds more than `floor`.
inline double whole(double g, double h, double floor) {
    return h > floor ? leaf(g, h) : kMinusInf;
}

// nan_max over values[0..n), -inf for none: four independent running maxima
// of the numbers (the order of comparison does not change their maximum) and a
// flag for NaN, which wins. Branch-free, which is what makes it fast.
ZEKA_VECTOR_CLONES double nan_max_of(const double* values, std::size_t n) {
    double lanes[4] = {kMinusInf, kMinusInf, kMinusInf, kMinusInf};
    bool nan = false;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
        for (std::size_t k = 0; k < 4; ++k) {
            const double v = values[i + k];
            lanes[k] = v > lanes[k] ? v : lanes[k];
            nan |= v != v;
        }
    for (; i < n; ++i) {
        const double v = values[i];
        lanes[0] = v > lanes[0] ? v : lanes[0];
        nan |= v != v;
    }
    if (nan)
        return std::numeric_limits<double>::quiet_NaN();
    const double low = lanes[1] > lanes[0] ? lanes[1] : lanes[0];
    const double high = lanes[3] > lanes[2] ? lanes[3] : lanes[2];
    return high > low ? high : low;
}

// The (A x C) prefix sums of a pair's gradients and hessians, and the least
// hessian a leaf must exceed.
struct PrefixTables {
    const double* g;
    const double* h;
    std::size_t A, C;
    double floor;
};

// The trees around the cut after row t: the scores of its top and bottom sides
// cut after each column c (top_split, bottom_split), and, for trees whose first
// cut falls after column c, the scores of their left and right sides cut after
// row t, folded into left_best and right_best.
//
// Each quantity is formed exactly as ebm's `_pair_tree` forms it: a side's
// cells are differences of prefix sums, its right part is the side's total
// minus its left part. The top-left, top-right and bottom-left leaves come out
// the same in both orientations and are scored once.
ZEKA_VECTOR_CLONES void row_of_cuts(const PrefixTables& p, std::size_t t,
                                    double* __restrict top_split, double* __restrict bottom_split,
                                    double* __restrict left_best, double* __restrict right_best) {
    const std::size_t C = p.C, last = (p.A - 1) * C;
    const double* __restrict row_g = p.g + t * C;
    const double* __restrict row_h = p.h + t * C;
    const double* __restrict end_g = p.g + last;
    const double* __restrict end_h = p.h + last;
    const double floor = p.floor;
    const double row_total_g = row_g[C - 1], row_total_h = row_h[C - 1];
    const double below_g = end_g[C - 1] - row_total_g, below_h = end_h[C - 1] - row_total_h;
    for (std::size_t c = 0; c + 1 < C; ++c) {
        const double tl_g = row_g[c], tl_h = row_h[c];
        const double tr_g = row_total_g - tl_g, tr_h = row_total_h - tl_h;
        const double bl_g = end_g[c] - tl_g, bl_h = end_h[c] - tl_h;
        // the bottom-right leaf: the bottom side's total minus its left part,
        // or the right side's total minus its top part
        const double br_g = below_g - bl_g, br_h = below_h - bl_h;
        const double right_g = end_g[C - 1] - end_g[c], right_h = end_h[C - 1] - end_h[c];
        const double rb_g = right_g - tr_g, rb_h = right_h - tr_h;
        const double tl = leaf(tl_g, tl_h), tr = leaf(tr_g, tr_h), bl = leaf(bl_g, bl_h);
        const bool tl_ok = tl_h > floor, tr_ok = tr_h > floor, bl_ok = bl_h > floor;
        top_split[c] = (tl_ok & tr_ok) ? tl + tr : kMinusInf;
        bottom_split[c] = (bl_ok & (br_h > floor)) ? bl + leaf(br_g, br_h) : kMinusInf;
        const double left = (tl_ok & bl_ok) ? tl + bl : kMinusInf;
        const double right = (tr_ok & (rb_h > floor)) ? tr + leaf(rb_g, rb_h) : kMinusInf;
        left_best[c] = nan_max(left_best[c], left);
        right_best[c] = nan_max(right_best[c], right);
    }
}

// In place: table[a][c] becomes the sum over a' <= a, c' <= c, summed down
// each column first and then along each row, in the order numpy's cumsum adds.
void prefix_sums(double* table, std::size_t A, std::size_t C) {
    for (std::size_t a = 1; a < A; ++a)
        for (std::size_t c = 0; c < C; ++c)
            table[a * C + c] += table[(a - 1) * C + c];
    // column by column, so that the rows' running sums advance side by side
    for (std::size_t c = 1; c < C; ++c)
        for (std::size_t a = 0; a < A; ++a)
            table[a * C + c] += table[a * C + c - 1];
}

// The best tree whose first cut falls between rows.
double best_by_rows(const PrefixTables& p, std::size_t t, const double* top_split,
                    const double* bottom_split) {
    const std::size_t C = p.C, last = (p.A - 1) * C;
    const double row_g = p.g[t * C + C - 1], row_h = p.h[t * C + C - 1];
    const double top = nan_max(nan_max_of(top_split, C - 1), whole(row_g, row_h, p.floor));
    const double bottom =
        nan_max(nan_max_of(bottom_split, C - 1),
                whole(p.g[last + C - 1] - row_g, p.h[last + C - 1] - row_h, p.floor));
    return top + bottom;
}

// The best tree whose first cut falls between columns, from the best cuts of
// each side.
double best_by_columns(const PrefixTables& p, const double* left_best, const double* right_best) {
    const std::size_t C = p.C, last = (p.A - 1) * C;
    const double* end_g = p.g + last;
    const double* end_h = p.h + last;
    double best = kMinusInf;
    for (std::size_t c = 0; c + 1 < C; ++c) {
        const double left = nan_max(left_best[c], whole(end_g[c], end_h[c], p.floor));
        const double right = nan_max(
            right_best[c], whole(end_g[C - 1] - end_g[c], end_h[C - 1] - end_h[c], p.floor));
        best = nan_max(best, left + right);
    }
    return best;
}

} // namespace

double pair_tree_gain(double* hist_g, double* hist_h, std::size_t A, std::size_t C,
                      double min_hessian_share, PairTreeScratch& scratch) {
    prefix_sums(hist_g, A, C);
    prefix_sums(hist_h, A, C);
    const double total_g = hist_g[A * C - 1], total_h = hist_h[A * C - 1];
    const PrefixTables p{hist_g, hist_h, A, C, min_hessian_share * total_h};
    scratch.top_split.resize(C);
    scratch.bottom_split.resize(C);
    scratch.left_best.assign(C, kMinusInf);
    scratch.right_best.assign(C, kMinusInf);
    double by_rows = kMinusInf;
    for (std::size_t t = 0; t + 1 < A; ++t) {
        row_of_cuts(p, t, scratch.top_split.data(), scratch.bottom_split.data(),
                    scratch.left_best.data(), scratch.right_best.data());
        by_rows = nan_max(
            by_rows, best_by_rows(p, t, scratch.top_split.data(), scratch.bottom_split.data()));
    }
    const double by_columns =
        best_by_columns(p, scratch.left_best.data(), scratch.right_best.data());
    const double gain = by_columns > by_rows ? by_columns : by_rows;
    return gain - total_g * total_g / (total_h < kTinyHessian ? kTinyHessian : total_h);
}

} // namespace zeka::kernels
