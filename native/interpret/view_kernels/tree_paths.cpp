#include "kernels/interpret/tree_paths.hpp"

#include "interpret/view_kernels/functions.hpp"
#include "models/arguments.hpp"
#include "models/binding.hpp"

#include <cstdint>
#include <pybind11/numpy.h>
#include <string>

namespace zeka::view_kernels {

namespace {

constexpr const char* kTreePathsDoc =
    R"(Every row's decision path through one binary tree.

Node k is a leaf when left[k] < 0; otherwise a row goes to left[k] when
X[r, feature[k]] <= threshold[k] (the value rounded to float32 first with
single_precision) and to right[k] else. Each child index must exceed its
parent's.

Parameters
----------
feature, left, right : int64 arrays of shape (nodes,)
threshold, value : float64 arrays of shape (nodes,); value is the prediction
    at each node
X : float64 C-contiguous array of shape (n, features)
single_precision : bool
weights : float64 array of shape (n,), or None for weight one per row
contributions : float64 array of shape (n, features) that receives, added to
    what it holds, the change value[child] - value[parent] of every split on
    the row's path, under the split's feature; or None

Returns
-------
(leaf, node_weight): int64 array of shape (n,), the leaf of each row, and
float64 array of shape (nodes,), the weight of the rows that pass each node.)";

// The node arrays, checked: leaves have left = right = -1, inner nodes a
// feature in [0, features) and children after themselves and inside the tree.
void check_tree(const IntArray& feature, const IntArray& left, const IntArray& right,
                std::size_t features) {
    const py::ssize_t nodes = feature.shape(0);
    for (py::ssize_t k = 0; k < nodes; ++k) {
        const std::int64_t l = left.data()[k], r = right.data()[k];
        if (l < 0 && r < 0)
            continue;
        const std::string at = "node " + std::to_string(k);
        if (l <= k || r <= k || l >= nodes || r >= nodes)
            throw py::value_error(at + " has children " + std::to_string(l) + " and " +
                                  std::to_string(r) + ": each must lie after it, below " +
                                  std::to_string(nodes));
        const std::int64_t j = feature.data()[k];
        if (j < 0 || static_cast<std::size_t>(j) >= features)
            throw py::value_error(at + " splits on feature " + std::to_string(j) +
                                  ", outside [0, " + std::to_string(features) + ")");
    }
}

py::tuple tree_paths(const py::object& feature_arg, const py::object& threshold_arg,
                     const py::object& left_arg, const py::object& right_arg,
                     const py::object& value_arg, const py::object& X_arg, bool single_precision,
                     const py::object& weights_arg, const py::object& contributions_arg) {
    const IntArray feature =
        private_copy(checked_array<IntArray>(feature_arg, "feature", "int64", 1));
    const IntArray left = private_copy(checked_array<IntArray>(left_arg, "left", "int64", 1));
    const IntArray right = private_copy(checked_array<IntArray>(right_arg, "right", "int64", 1));
    const DoubleArray threshold =
        checked_array<DoubleArray>(threshold_arg, "threshold", "float64", 1);
    const DoubleArray value = checked_array<DoubleArray>(value_arg, "value", "float64", 1);
    const DoubleArray X = checked_array<DoubleArray>(X_arg, "X", "float64", 2);
    const py::ssize_t nodes = feature.shape(0);
    if (nodes < 1)
        throw py::value_error("the tree must have at least one node");
    require_extent(left, 0, nodes, "left");
    require_extent(right, 0, nodes, "right");
    require_extent(threshold, 0, nodes, "threshold");
    require_extent(value, 0, nodes, "value");
    const auto features = static_cast<std::size_t>(X.shape(1));
    check_tree(feature, left, right, features);
    const double* weights = nullptr;
    DoubleArray weight_array;
    if (!weights_arg.is_none()) {
        weight_array = checked_array<DoubleArray>(weights_arg, "weights", "float64", 1);
        require_extent(weight_array, 0, X.shape(0), "weights");
        weights = weight_array.data();
    }
    double* contributions = nullptr;
    DoubleArray contribution_array;
    if (!contributions_arg.is_none()) {
        contribution_array =
            checked_array<DoubleArray>(contributions_arg, "contributions", "float64", 2);
        require_extent(contribution_array, 0, X.shape(0), "contributions");
        require_extent(contribution_array, 1, X.shape(1), "contributions");
        if (!contribution_array.writeable())
            throw py::value_error("contributions must be writeable");
        contributions = contribution_array.mutable_data();
    }
    IntArray leaf(X.shape(0));
    DoubleArray node_weight(nodes);
    std::fill_n(node_weight.mutable_data(), nodes, 0.0);

    kernels::TreeNodes tree;
    tree.feature = feature.data();
    tree.threshold = threshold.data();
    tree.left = left.data();
    tree.right = right.data();
    tree.value = value.data();
    tree.nodes = static_cast<std::size_t>(nodes);
    kernels::RowMatrix matrix{X.data(), static_cast<std::size_t>(X.shape(0)), features};
    std::int64_t* leaf_out = leaf.mutable_data();
    double* weight_out = node_weight.mutable_data();
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        kernels::tree_paths(tree, matrix, single_precision, weights, leaf_out, contributions,
                            weight_out);
    }
    return py::make_tuple(std::move(leaf), std::move(node_weight));
}

} // namespace

void define_tree_paths(py::module_& module) {
    def_kernel(module, "tree_paths", tree_paths, kTreePathsDoc, py::arg("feature"),
               py::arg("threshold"), py::arg("left"), py::arg("right"), py::arg("value"),
               py::arg("X"), py::arg("single_precision"), py::arg("weights"),
               py::arg("contributions"));
}

} // namespace zeka::view_kernels
