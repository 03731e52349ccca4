// Histograms of a boosting tree's node: per feature and bin, the sums of
// per-row values (gradients, hessians) over the node's rows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

// Every row's bin of every feature, feature-major: bins[j * rows + r].
struct BinColumns {
    const std::int64_t* bins = nullptr;
    std::size_t features = 0;
    std::size_t rows = 0;
    std::size_t width = 0; // bins per feature: every index lies in [0, width)
};

// out[v][j * width + b] = the sum of values[v][r] over the node's rows r whose
// bin of feature j is b, added in the order of `node_rows` (every row in order
// when node_rows is null), as numpy's bincount adds them. Returns false, with
// the sums undefined, when a bin index outside [0, width) is met.
bool bin_sums(const BinColumns& columns, const std::int64_t* node_rows, std::size_t count,
              const double* const* values, std::size_t n_values, double* const* out);

} // namespace zeka::kernels
