#include "models/pair_gain/pair_gains.hpp"

#include "kernels/trees/pair_gain.hpp"
#include "models/arguments.hpp"
#include "models/binding.hpp"

#include <cmath>
#include <cstdint>
#include <pybind11/numpy.h>
#include <string>

namespace zeka::pair_gain {

namespace {

constexpr const char* kPairGainsDoc =
    R"(Gain of the best pairwise tree of each candidate pair of features.

For pair (j, k) the rows' gradients and hessians are summed into the
(n_bins[j] x n_bins[k]) histograms of the two features' bins; the tree cuts
once between the bins of one feature, then once on each side between the bins
of the other (or leaves that side whole), every leaf holding more than
min_hessian_share times the total hessian; both orientations are tried. The
gain is the best sum over leaves of G**2 / H minus G**2 / H of the whole pair.

Parameters
----------
bins : int64 array of shape (n, p)
    Bin index of every row and feature, bins[:, j] in [0, n_bins[j]).
n_bins : int64 array of shape (p,)
    Bin count of every feature.
pairs : int64 array of shape (m, 2)
    The candidate pairs, as feature indices.
grad, hess : float64 arrays of shape (n,)
    Every row's gradient and hessian, weights applied.
min_hessian_share : float
    The least share of the total hessian a leaf must exceed (finite, >= 0).

Returns
-------
float64 array of shape (m,) : the gains; -inf for a pair that allows no tree
or has a feature of fewer than 2 bins.

Every array must have exactly its dtype and be C-contiguous; ValueError
otherwise, for inconsistent shapes and for a bin or feature index out of range.)";

// The least share of the hessian a leaf must exceed: finite and not negative.
double checked_share(double share) {
    if (!std::isfinite(share) || share < 0.0)
        throw py::value_error("min_hessian_share must be a finite number >= 0, got " +
                              py::repr(py::float_(share)).cast<std::string>());
    return share;
}

DoubleArray pair_gains(const py::object& bins_arg, const py::object& n_bins_arg,
                       const py::object& pairs_arg, const py::object& grad_arg,
                       const py::object& hess_arg, double min_hessian_share) {
    const IntArray bins = checked_array<IntArray>(bins_arg, "bins", "int64", 2);
    // The kernel checks the bin counts and the pairs, then reads them again.
    const IntArray n_bins = private_copy(checked_array<IntArray>(n_bins_arg, "n_bins", "int64", 1));
    const IntArray pairs = private_copy(checked_array<IntArray>(pairs_arg, "pairs", "int64", 2));
    const DoubleArray grad = checked_array<DoubleArray>(grad_arg, "grad", "float64", 1);
    const DoubleArray hess = checked_array<DoubleArray>(hess_arg, "hess", "float64", 1);
    const double share = checked_share(min_hessian_share);
    require_extent(n_bins, 0, bins.shape(1), "n_bins");
    require_extent(pairs, 1, 2, "pairs");
    require_extent(grad, 0, bins.shape(0), "grad");
    require_extent(hess, 0, bins.shape(0), "hess");

    kernels::BinMatrixView matrix;
    matrix.bins = bins.data();
    matrix.rows = static_cast<std::size_t>(bins.shape(0));
    matrix.features = static_cast<std::size_t>(bins.shape(1));
    matrix.n_bins = n_bins.data();
    const auto n_pairs = static_cast<std::size_t>(pairs.shape(0));
    DoubleArray gains(pairs.shape(0));
    {
        // Only the buffers of the arrays held above are read and written; no
        // Python object is touched.
        py::gil_scoped_release release;
        kernels::pair_gains(matrix, pairs.data(), n_pairs, grad.data(), hess.data(), share,
                            gains.mutable_data());
    }
    return gains;
}

} // namespace

void define_pair_gains(py::module_& module) {
    def_kernel(module, "pair_gains", pair_gains, kPairGainsDoc, py::arg("bins"), py::arg("n_bins"),
               py::arg("pairs"), py::arg("grad"), py::arg("hess"), py::arg("min_hessian_share"));
}

} // namespace zeka::pair_gain
