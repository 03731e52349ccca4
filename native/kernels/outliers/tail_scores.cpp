#include "kernels/outliers/outlier_scores.hpp"

#include <algorithm>
#include <cmath>

namespace zeka::kernels {

void tail_scores(const RowMatrix& x, const double* sorted, const double* cumulative, std::size_t n,
                 double floor, double* out) {
    const std::size_t d = x.cols;
    std::fill(out, out + x.rows, 0.0);
    const double unit = 1.0 / static_cast<double>(n);
    // feature by feature: one sorted column stays in cache for every row
    for (std::size_t j = 0; j < d; ++j) {
        const double* s = sorted + j * n;
        const double* cw = cumulative ? cumulative + j * n : nullptr;
        const double total = cw ? cw[n - 1] : 1.0;
        for (std::size_t r = 0; r < x.rows; ++r) {
            const double v = x.data[r * d + j];
            const auto at_most = static_cast<std::size_t>(std::upper_bound(s, s + n, v) - s);
            const auto below = static_cast<std::size_t>(std::lower_bound(s, s + at_most, v) - s);
            double left, right;
            if (cw) {
                left = at_most ? cw[at_most - 1] / total : 0.0;
                right = (total - (below ? cw[below - 1] : 0.0)) / total;
            } else {
                left = static_cast<double>(at_most) * unit;
                right = static_cast<double>(n - below) * unit;
            }
            out[r] -= std::log(std::max(std::min(left, right), floor));
        }
    }
}

} // namespace zeka::kernels
