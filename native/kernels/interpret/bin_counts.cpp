#include "kernels/interpret/bin_counts.hpp"

#include <algorithm>

namespace zeka::kernels {

void bin_class_sums(const RowMatrix& X, const BinCuts& bins, const double* y, const double* weights,
                    double* rows, double* events, double* non_events) {
    for (std::size_t r = 0; r < X.rows; ++r) {
        const double* x = X.data + r * X.features;
        const double w = weights ? weights[r] : 1.0;
        const bool event = y[r] != 0.0;
        for (std::size_t j = 0; j < X.features; ++j) {
            const double* first = bins.cuts + bins.offsets[j];
            const double* last = bins.cuts + bins.offsets[j + 1];
            // the cut points strictly below x
            const auto b = static_cast<std::size_t>(std::lower_bound(first, last, x[j]) - first);
            const std::size_t at = static_cast<std::size_t>(bins.offsets[j]) + j + b;
            rows[at] += 1.0;
            (event ? events : non_events)[at] += w;
        }
    }
}

} // namespace zeka::kernels
