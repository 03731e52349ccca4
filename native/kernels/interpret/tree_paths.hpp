// Decision paths of binary trees over many rows: the leaf each row reaches,
// the change of the node value at every split on its way (summed per feature)
// and how many rows pass through each node.
#pragma once

#include "kernels/interpret/row_matrix.hpp"

#include <cstddef>
#include <cstdint>

namespace zeka::kernels {

// A binary tree as parallel node arrays. Node k is a leaf when left[k] < 0;
// otherwise a row goes to left[k] when x[feature[k]] <= threshold[k] and to
// right[k] else. Every child index is larger than its parent's, so a path
// ends after at most `nodes` steps.
struct TreeNodes {
    const std::int64_t* feature = nullptr;
    const double* threshold = nullptr;
    const std::int64_t* left = nullptr;
    const std::int64_t* right = nullptr;
    const double* value = nullptr; // the prediction at each node
    std::size_t nodes = 0;
};

// For every row r: leaf[r] = the leaf it reaches; contributions[r * features
// + j] += the sum, over the splits on feature j along its path, of value[child]
// - value[parent] (nullptr: not computed); node_weight[k] += weight[r] (1 when
// weights is null) for every node k the path visits (nullptr: not counted).
// With `single_precision` the feature value is rounded to float before the
// comparison, as trees trained on float32 data compare.
void tree_paths(const TreeNodes& tree, const RowMatrix& X, bool single_precision,
                const double* weights, std::int64_t* leaf, double* contributions,
                double* node_weight);

} // namespace zeka::kernels
