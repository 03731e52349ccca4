#include "kernels/trees/best_split.hpp"

#include "models/arguments.hpp"
#include "models/binding.hpp"
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

py::object best_split(const py::object& hist_grad, const py::object& hist_hess,
                      const py::object& cuts_arg, const py::object& signs_arg, double G, double H,
                      double weight, double lower, double upper, double reg_lambda,
                      double reg_alpha, double gamma, double min_child_weight) {
    const DoubleArray grad = checked_array<DoubleArray>(hist_grad, "hist_grad", "float64", 2);
    const DoubleArray hess = checked_array<DoubleArray>(hist_hess, "hist_hess", "float64", 2);
    const IntArray cuts = private_copy(checked_array<IntArray>(cuts_arg, "cuts", "int64", 1));
    const DoubleArray signs = checked_array<DoubleArray>(signs_arg, "signs", "float64", 1);
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
    kernels::SplitNode node{G, H, weight, lower, upper};
    kernels::SplitPenalties penalties{
        non_negative(reg_lambda, "reg_lambda"), non_negative(reg_alpha, "reg_alpha"),
        non_negative(gamma, "gamma"), non_negative(min_child_weight, "min_child_weight")};
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

void define_best_split(py::module_& module) {
    def_kernel(module, "best_split", best_split, kBestSplitDoc, py::arg("hist_grad"),
               py::arg("hist_hess"), py::arg("cuts"), py::arg("signs"), py::arg("G"), py::arg("H"),
               py::arg("weight"), py::arg("lower"), py::arg("upper"), py::arg("reg_lambda"),
               py::arg("reg_alpha"), py::arg("gamma"), py::arg("min_child_weight"));
}

} // namespace zeka::boost_tree
