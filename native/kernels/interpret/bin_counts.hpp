// Per-bin sums of the two classes of a binary target, each feature binned by
// its own sorted cut points.
#pragma once

#include "kernels/interpret/row_matrix.hpp"

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

// Feature j has the cut points cuts[offsets[j]] .. cuts[offsets[j + 1] - 1],
// sorted increasingly, and offsets[j + 1] - offsets[j] + 1 bins: a value x
// falls in bin b = the number of its cut points below x, so bin b holds
// (cut[b - 1], cut[b]].
struct BinCuts {
    const double* cuts = nullptr;
    const std::int64_t* offsets = nullptr; // features + 1 entries, offsets[0] = 0
};

// The sums of bin b of feature j land at index offsets[j] + j + b of each
// output (which holds offsets[features] + features entries, zeroed by the
// caller): rows += 1, events += w where y is 1, non_events += w where y is 0,
// with w = weights[r] (1 when weights is null). y holds 0 and 1 only.
void bin_class_sums(const RowMatrix& X, const BinCuts& bins, const double* y, const double* weights,
                    double* rows, double* events, double* non_events);

} // namespace zeka::kernels
