#include "kernels/outliers/outlier_scores.hpp"

#include <algorithm>
#include <vector>

namespace zeka::kernels {

void histogram_scores(const RowMatrix& x, const double* edges, const double* log_density,
                      std::size_t bins, double tol, double* out) {
    const std::size_t d = x.cols;
    // per feature, the contribution of a value far outside the bins
    std::vector<double> emptiest(d);
    for (std::size_t j = 0; j < d; ++j) {
        const double* ld = log_density + j * bins;
        emptiest[j] = *std::min_element(ld, ld + bins);
    }
    for (std::size_t r = 0; r < x.rows; ++r) {
        const double* row = x.data + r * d;
        double total = 0.0;
        for (std::size_t j = 0; j < d; ++j) {
            const double* e = edges + j * (bins + 1);
            const double* ld = log_density + j * bins;
            const double v = row[j];
            double contribution;
            if (v < e[0]) {
                contribution = (e[0] - v <= tol * (e[1] - e[0])) ? ld[0] : emptiest[j];
            } else if (v >= e[bins]) {
                contribution =
                    (v - e[bins] <= tol * (e[bins] - e[bins - 1])) ? ld[bins - 1] : emptiest[j];
            } else if (v >= e[0]) {
                // e[b] <= v < e[b + 1]; kept within the bins for edges out of order
                const auto at = static_cast<std::size_t>(std::upper_bound(e, e + bins + 1, v) - e);
                contribution = ld[std::min(std::max<std::size_t>(at, 1), bins) - 1];
            } else { // NaN
                contribution = emptiest[j];
            }
            total -= contribution;
        }
        out[r] = total;
    }
}

} // namespace zeka::kernels
