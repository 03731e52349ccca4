#include "kernels/trees/best_split.hpp"

#include "common/numpy_arrays.hpp"
#include "common/python_class.hpp"
#include "common/python_ops.hpp"
#include "models/boost_tree/functions.hpp"

#include <algorithm>
#include <cstdint>
#include <pybind11/numpy.h>
#include <string>

namespace zeka::boost_tree {

namespace {

constexpr const char* kBestSplitDoc =
    R"(The best cut of a node, or None when no allowed cut gains more than gamma.

A cut c of feature j sends bins 0..c left; the left child sums the bins'
gradients GL and hessians HL in bin order, the right child gets G - GL and
H - HL. A child's weight is -T(G) / (H + reg_lambda) clipped to [lower, upper],
T(G) = sign(G) * max(|G| - reg_alpha, 0); its score is -(G * w + 0.5 * (H +
reg_lambda) * w**2 + reg_alpha * |w|), and the gain is the children's scores
less the node's (with its own weight). A cut is allowed when both children
hold a hessian of at least min_child_weight, c < cuts[j], and
signs[j] * (w_right - w_left) >= 0. Of the allowed cuts the first, in
(feature, cut) order, whose gain is within a relative 1e-9 of the best is
chosen.

Parameters
----------
hist_grad, hist_hess : float64 arrays of shape (features, width)
cuts : int64 array of shape (features,), each in [0, width - 1]
signs : float64 array of shape (features,): +1 increasing, -1 decreasing, 0
G, H, weight, lower, upper : the node's sums, its weight and the bounds of
    its children's weights
reg_lambda, reg_alpha, gamma, min_child_weight : floats >= 0

Returns
-------
(feature, cut, w_left, w_right), or None.)";

using IntArray = py::array_t<std::int64_t, py::array::c_style>;
using DoubleArray = py::array_t<double, py::array::c_style>;

py::object best_split(Frame& f) {
    const DoubleArray grad = checked_array<DoubleArray>(f[0], "hist_grad", "float64", 2);
    const DoubleArray hess = checked_array<DoubleArray>(f[1], "hist_hess", "float64", 2);
    const IntArray cuts = private_copy(checked_array<IntArray>(f[2], "cuts", "int64", 1));
    const DoubleArray signs = checked_array<DoubleArray>(f[3], "signs", "float64", 1);
    const py::ssize_t features = grad.shape(0), width = grad.shape(1);
    require_extent(hess, 0, features, "hist_hess");
    require_extent(hess, 1, width, "hist_hess");
    require_extent(cuts, 0, features, "cuts");
    require_extent(signs, 0, features, "signs");
    for (py::ssize_t j = 0; j < features; ++j)
        if (cuts.data()[j] < 0 || cuts.data()[j] > std::max<py::ssize_t>(width - 1, 0))
            throw py::value_error("cuts holds " + std::to_string(cuts.data()[j]) +
                                  ", outside [0, " + std::to_string(width - 1) + "]");

    kernels::SplitHistograms hist;
    hist.grad = grad.data();
    hist.hess = hess.data();
    hist.features = static_cast<std::size_t>(features);
    hist.width = static_cast<std::size_t>(width);
    hist.cuts = cuts.data();
    hist.signs = signs.data();
    kernels::SplitNode node{as_double(f[4]), as_double(f[5]), as_double(f[6]), as_double(f[7]),
                            as_double(f[8])};
    kernels::SplitPenalties penalties{
        non_negative(f[9], "reg_lambda"), non_negative(f[10], "reg_alpha"),
        non_negative(f[11], "gamma"), non_negative(f[12], "min_child_weight")};
    kernels::Split split;
    {
        // Only the buffers of the arrays held above are read.
        py::gil_scoped_release release;
        split = kernels::best_split(hist, node, penalties);
    }
    if (!split.found)
        return py::none();
    return py::make_tuple(split.feature, split.cut, split.left_weight, split.right_weight);
}

} // namespace

void define_best_split(py::module_ module) {
    def_function(module, "best_split",
                 {arg("hist_grad"), arg("hist_hess"), arg("cuts"), arg("signs"), arg("G"), arg("H"),
                  arg("weight"), arg("lower"), arg("upper"), arg("reg_lambda"), arg("reg_alpha"),
                  arg("gamma"), arg("min_child_weight")},
                 best_split, kBestSplitDoc);
}

} // namespace zeka::boost_tree
