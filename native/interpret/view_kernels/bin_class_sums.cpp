#include "interpret/view_kernels/functions.hpp"
#include "kernels/interpret/bin_counts.hpp"
#include "models/arguments.hpp"
#include "models/binding.hpp"

#include <algorithm>
#include <cstdint>
#include <pybind11/numpy.h>
#include <string>

namespace zeka::view_kernels {

namespace {

constexpr const char* kBinClassSumsDoc =
    R"(Per feature and bin, the rows and the weight of each class of a 0/1 target.

Feature j is cut at cuts[offsets[j]:offsets[j + 1]] (sorted increasingly) into
offsets[j + 1] - offsets[j] + 1 bins; a value falls in bin b, the number of its
cut points below it, so bin b holds (cut[b - 1], cut[b]]. Feature j's bins
take the entries offsets[j] + j .. offsets[j + 1] + j of the outputs.

Parameters
----------
X : float64 C-contiguous array of shape (n, features)
cuts : float64 array of all features' cut points
offsets : int64 array of shape (features + 1,), from 0 to len(cuts), not
    decreasing
y : float64 array of shape (n,) of 0 and 1
weights : float64 array of shape (n,), or None for weight one per row

Returns
-------
(rows, events, non_events): float64 arrays of shape (len(cuts) + features,):
the rows, and the weight of the rows with y = 1 and with y = 0, of each bin.)";

py::tuple bin_class_sums(const py::object& X_arg, const py::object& cuts_arg,
                         const py::object& offsets_arg, const py::object& y_arg,
                         const py::object& weights_arg) {
    const DoubleArray X = checked_array<DoubleArray>(X_arg, "X", "float64", 2);
    const DoubleArray cuts =
        private_copy(checked_array<DoubleArray>(cuts_arg, "cuts", "float64", 1));
    const IntArray offsets =
        private_copy(checked_array<IntArray>(offsets_arg, "offsets", "int64", 1));
    const DoubleArray y = private_copy(checked_array<DoubleArray>(y_arg, "y", "float64", 1));
    const py::ssize_t n = X.shape(0), features = X.shape(1);
    require_extent(offsets, 0, features + 1, "offsets");
    require_extent(y, 0, n, "y");
    const std::int64_t* off = offsets.data();
    if (off[0] != 0 || off[features] != cuts.shape(0))
        throw py::value_error("offsets must run from 0 to len(cuts) = " +
                              std::to_string(cuts.shape(0)));
    for (py::ssize_t j = 0; j < features; ++j) {
        if (off[j + 1] < off[j])
            throw py::value_error("offsets must not decrease (feature " + std::to_string(j) + ")");
        if (!std::is_sorted(cuts.data() + off[j], cuts.data() + off[j + 1]))
            throw py::value_error("the cut points of feature " + std::to_string(j) +
                                  " are not sorted");
    }
    for (py::ssize_t r = 0; r < n; ++r)
        if (y.data()[r] != 0.0 && y.data()[r] != 1.0)
            throw py::value_error("y must hold 0 and 1 only, got " +
                                  py::repr(py::float_(y.data()[r])).cast<std::string>() +
                                  " at row " + std::to_string(r));
    const double* weights = nullptr;
    DoubleArray weight_array;
    if (!weights_arg.is_none()) {
        weight_array = checked_array<DoubleArray>(weights_arg, "weights", "float64", 1);
        require_extent(weight_array, 0, n, "weights");
        weights = weight_array.data();
    }
    const py::ssize_t size = cuts.shape(0) + features;
    DoubleArray rows(size), events(size), non_events(size);
    std::fill_n(rows.mutable_data(), size, 0.0);
    std::fill_n(events.mutable_data(), size, 0.0);
    std::fill_n(non_events.mutable_data(), size, 0.0);
    kernels::RowMatrix matrix{X.data(), static_cast<std::size_t>(n),
                              static_cast<std::size_t>(features)};
    kernels::BinCuts bins{cuts.data(), off};
    double* rows_out = rows.mutable_data();
    double* events_out = events.mutable_data();
    double* non_events_out = non_events.mutable_data();
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        kernels::bin_class_sums(matrix, bins, y.data(), weights, rows_out, events_out,
                                non_events_out);
    }
    return py::make_tuple(std::move(rows), std::move(events), std::move(non_events));
}

} // namespace

void define_bin_class_sums(py::module_& module) {
    def_kernel(module, "bin_class_sums", bin_class_sums, kBinClassSumsDoc, py::arg("X"),
               py::arg("cuts"), py::arg("offsets"), py::arg("y"), py::arg("weights"));
}

} // namespace zeka::view_kernels
