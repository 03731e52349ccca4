#include "kernels/interpret/tree_paths.hpp"

namespace zeka::kernels {

void tree_paths(const TreeNodes& tree, const RowMatrix& X, bool single_precision,
                const double* weights, std::int64_t* leaf, double* contributions,
                double* node_weight) {
    for (std::size_t r = 0; r < X.rows; ++r) {
        const double* x = X.data + r * X.features;
        double* row_contributions = contributions ? contributions + r * X.features : nullptr;
        const double w = weights ? weights[r] : 1.0;
        std::size_t node = 0;
        for (;;) {
            if (node_weight)
                node_weight[node] += w;
            if (tree.left[node] < 0)
                break;
            const auto j = static_cast<std::size_t>(tree.feature[node]);
            const double value =
                single_precision ? static_cast<double>(static_cast<float>(x[j])) : x[j];
            const auto child = static_cast<std::size_t>(
                value <= tree.threshold[node] ? tree.left[node] : tree.right[node]);
            if (row_contributions)
                row_contributions[j] += tree.value[child] - tree.value[node];
            node = child;
        }
        leaf[r] = static_cast<std::int64_t>(node);
    }
}

} // namespace zeka::kernels
