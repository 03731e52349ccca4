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
// bin of feature j is b (node_rows, in increasing order; every row when
// node_rows is null). Row r adds to partial sum r % lanes, in row order, and
// the partial sums are added in lane order: with one lane, the sums that
// numpy's bincount forms. Several lanes keep the additions to a bin that many
// rows apart, so that a feature of few bins does not wait on each sum before
// the next; since a row's lane depends on the row alone, a bin of the same
// rows has the same sum in every node, and a child's histogram taken from its
// parent's leaves exact zeros. Returns false, with the sums undefined, when a
// bin index outside [0, width) is met. `lanes` is a power of two.
bool bin_sums(const BinColumns& columns, const std::int64_t* node_rows, std::size_t count,
              const double* const* values, std::size_t n_values, std::size_t lanes,
              double* const* out);

} // namespace zeka::kernels
