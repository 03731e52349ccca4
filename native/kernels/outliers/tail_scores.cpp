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

bool training_tail_scores(const double* sorted, const std::int64_t* order, const double* cumulative,
                          std::size_t d, std::size_t n, double floor, double* out) {
    std::fill(out, out + n, 0.0);
    const double unit = 1.0 / static_cast<double>(n);
    for (std::size_t j = 0; j < d; ++j) {
        const double* s = sorted + j * n;
        const std::int64_t* rows = order + j * n;
        const double* cw = cumulative ? cumulative + j * n : nullptr;
        const double total = cw ? cw[n - 1] : 1.0;
        for (std::size_t lo = 0; lo < n;) {
            std::size_t hi = lo + 1;
            while (hi < n && s[hi] == s[lo])
                ++hi;
            // the run [lo, hi): at most its value are hi rows, below it lo
            double left, right;
            if (cw) {
                left = cw[hi - 1] / total;
                right = (total - (lo ? cw[lo - 1] : 0.0)) / total;
            } else {
                left = static_cast<double>(hi) * unit;
                right = static_cast<double>(n - lo) * unit;
            }
            const double score = -std::log(std::max(std::min(left, right), floor));
            for (std::size_t i = lo; i < hi; ++i) {
                const auto r = static_cast<std::uint64_t>(rows[i]);
                if (r >= n)
                    return false;
                out[r] += score;
            }
            lo = hi;
        }
    }
    return true;
}

} // namespace zeka::kernels
