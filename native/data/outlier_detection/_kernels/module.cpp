// zeka.data.outlier_detection._kernels: the per-row loops of the outlier
// detectors (histogram and empirical-tail scores, neighbour aggregation) and
// the cross tables the distribution-splitting tree grows from.
#include "common/module.hpp"

#include "kernels/outliers/outlier_scores.hpp"
#include "models/arguments.hpp"
#include "models/binding.hpp"

#include <cmath>
#include <cstdint>
#include <pybind11/numpy.h>
#include <string>
#include <vector>

namespace zeka::outlier_kernels {

namespace {

const char* const kModuleDoc =
    "Native loops of the outlier detectors: histogram and empirical-tail scores, neighbour "
    "aggregation, and the cross tables of a distribution-splitting tree.";

kernels::RowMatrix matrix_of(const DoubleArray& x) {
    kernels::RowMatrix m;
    m.data = x.data();
    m.rows = static_cast<std::size_t>(x.shape(0));
    m.cols = static_cast<std::size_t>(x.shape(1));
    return m;
}

constexpr const char* kHistogramDoc =
    R"(Histogram outlier scores: per row, the sum over features of -log_density of the
value's bin (edges[j, b] <= x < edges[j, b + 1]; the last edge in the last bin). A value
outside the edges by at most tol bin widths counts in the edge bin, further out in the
bin of the smallest log density.

Parameters
----------
x : float64 array (n, d), C order
edges : float64 array (d, bins + 1), ascending per row
log_density : float64 array (d, bins)
tol : float >= 0

Returns
-------
float64 array (n,))";

DoubleArray histogram_scores(const py::object& x_arg, const py::object& edges_arg,
                             const py::object& log_density_arg, double tol) {
    const DoubleArray x = checked_array<DoubleArray>(x_arg, "x", "float64", 2);
    const DoubleArray edges = checked_array<DoubleArray>(edges_arg, "edges", "float64", 2);
    const DoubleArray ld = checked_array<DoubleArray>(log_density_arg, "log_density", "float64", 2);
    require_extent(edges, 0, x.shape(1), "edges");
    require_extent(ld, 0, x.shape(1), "log_density");
    const std::size_t bins = positive_size(ld.shape(1), "bins");
    require_extent(edges, 1, ld.shape(1) + 1, "edges");
    non_negative(tol, "tol");
    DoubleArray out(x.shape(0));
    const kernels::RowMatrix m = matrix_of(x);
    double* result = out.mutable_data();
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        kernels::histogram_scores(m, edges.data(), ld.data(), bins, tol, result);
    }
    return out;
}

// The running weights of the tail scores, shaped as `sorted`, or an empty
// array for unit weights (None); and a floor that is > 0.
DoubleArray tail_weights(const py::object& cumulative_arg, const DoubleArray& sorted,
                         double floor) {
    DoubleArray cumulative;
    if (!cumulative_arg.is_none()) {
        cumulative = checked_array<DoubleArray>(cumulative_arg, "cumulative", "float64", 2);
        require_extent(cumulative, 0, sorted.shape(0), "cumulative");
        require_extent(cumulative, 1, sorted.shape(1), "cumulative");
    }
    if (!(floor > 0.0))
        throw py::value_error("floor must be > 0");
    return cumulative;
}

constexpr const char* kTailDoc =
    R"(Empirical tail scores: per row, the sum over features of -log(min(left, right)),
left being the share of training weight at or below the value and right the share at or
above it (both floored at floor).

Parameters
----------
x : float64 array (n, d), C order
sorted : float64 array (d, m), each row ascending: the training values of a feature
cumulative : float64 array (d, m) of running weights along each row, or None (unit weights)
floor : float > 0

Returns
-------
float64 array (n,))";

DoubleArray tail_scores(const py::object& x_arg, const py::object& sorted_arg,
                        const py::object& cumulative_arg, double floor) {
    const DoubleArray x = checked_array<DoubleArray>(x_arg, "x", "float64", 2);
    const DoubleArray sorted = checked_array<DoubleArray>(sorted_arg, "sorted", "float64", 2);
    require_extent(sorted, 0, x.shape(1), "sorted");
    const std::size_t n = positive_size(sorted.shape(1), "training rows");
    const DoubleArray cumulative = tail_weights(cumulative_arg, sorted, floor);
    const double* cw = cumulative_arg.is_none() ? nullptr : cumulative.data();
    DoubleArray out(x.shape(0));
    const kernels::RowMatrix m = matrix_of(x);
    double* result = out.mutable_data();
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        kernels::tail_scores(m, sorted.data(), cw, n, floor, result);
    }
    return out;
}

constexpr const char* kTrainingTailDoc =
    R"(tail_scores for the training rows themselves, from each feature's sort order:
order[j, i] is the row whose value of feature j is sorted[j, i]. Equal to
tail_scores(x, sorted, cumulative, floor) for the training matrix x, in one pass over
each sorted feature.

Parameters
----------
sorted : float64 array (d, n), each row ascending
order : int64 array (d, n), each row a permutation of 0 .. n-1
cumulative : float64 array (d, n) of running weights along each row, or None
floor : float > 0

Returns
-------
float64 array (n,))";

DoubleArray training_tail_scores(const py::object& sorted_arg, const py::object& order_arg,
                                 const py::object& cumulative_arg, double floor) {
    const DoubleArray sorted = checked_array<DoubleArray>(sorted_arg, "sorted", "float64", 2);
    const IntArray order = private_copy(checked_array<IntArray>(order_arg, "order", "int64", 2));
    require_extent(order, 0, sorted.shape(0), "order");
    require_extent(order, 1, sorted.shape(1), "order");
    const std::size_t n = positive_size(sorted.shape(1), "training rows");
    const auto d = static_cast<std::size_t>(sorted.shape(0));
    const DoubleArray cumulative = tail_weights(cumulative_arg, sorted, floor);
    const double* cw = cumulative_arg.is_none() ? nullptr : cumulative.data();
    DoubleArray out(static_cast<py::ssize_t>(n));
    double* result = out.mutable_data();
    bool ok = false;
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        ok = kernels::training_tail_scores(sorted.data(), order.data(), cw, d, n, floor, result);
    }
    if (!ok)
        throw py::value_error("order holds a row outside [0, " + std::to_string(n) + ")");
    return out;
}

constexpr const char* kNeighbourDoc =
    R"(Aggregates of each row's ascending neighbour distances over the first k units of
weight: method 0 the mean, 1 the largest, 2 the median (mean of the two middle units for
even k). Without weights, the first k distances; with weights, each neighbour counts its
weight and own (if given) puts the row's own weight at distance 0 first; a shortfall is
filled with the last distance.

Parameters
----------
dist : float64 array (n, m), ascending per row
weights : float64 array (n, m) or None
own : float64 array (n,) or None
k : float, a whole number in [1, 1e12] (at most m without weights)
method : 0, 1 or 2

Returns
-------
float64 array (n,))";

DoubleArray neighbour_scores(const py::object& dist_arg, const py::object& weights_arg,
                             const py::object& own_arg, double k_arg, int method) {
    const DoubleArray dist = checked_array<DoubleArray>(dist_arg, "dist", "float64", 2);
    const auto rows = static_cast<std::size_t>(dist.shape(0));
    const auto m = static_cast<std::size_t>(dist.shape(1));
    if (!(k_arg >= 1.0 && k_arg <= 1e12) || k_arg != std::floor(k_arg))
        throw py::value_error("k must be a whole number in [1, 1e12]");
    const auto k = static_cast<std::size_t>(k_arg);
    if (method < 0 || method > 2)
        throw py::value_error("method must be 0, 1 or 2, got " + std::to_string(method));
    DoubleArray weights, own;
    if (!weights_arg.is_none()) {
        weights = checked_array<DoubleArray>(weights_arg, "weights", "float64", 2);
        require_extent(weights, 0, dist.shape(0), "weights");
        require_extent(weights, 1, dist.shape(1), "weights");
    } else if (m < k) {
        throw py::value_error("dist has " + std::to_string(m) +
                              " columns, fewer than k = " + std::to_string(k));
    }
    if (!own_arg.is_none()) {
        own = checked_array<DoubleArray>(own_arg, "own", "float64", 1);
        require_extent(own, 0, dist.shape(0), "own");
    }
    if (m == 0 && own_arg.is_none())
        throw py::value_error("dist has no columns");
    const double* w = weights_arg.is_none() ? nullptr : weights.data();
    const double* o = own_arg.is_none() ? nullptr : own.data();
    DoubleArray out(dist.shape(0));
    double* result = out.mutable_data();
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        kernels::neighbour_scores(dist.data(), rows, m, w, o, k, method, result);
    }
    return out;
}

constexpr const char* kCrossDoc =
    R"(A tree node's weighted cross tables over the rows in rows (every row when None).

counts[j, b, l, c] = the weight of the rows whose bin of feature j is b and of feature l
is c; sums[j, b, l] = their weighted sum of values[:, l] over the rows with bin b of j
(None when values is None).

Parameters
----------
codes : int64 array (n, d), every entry in [0, width)
width : int >= 1
rows : int64 array of row indices in [0, n), or None
weights : float64 array (n,) or None (unit weights)
values : float64 array (n, d) or None

Returns
-------
(counts, sums))";

py::tuple cross_tables(const py::object& codes_arg, py::ssize_t width_arg,
                       const py::object& rows_arg, const py::object& weights_arg,
                       const py::object& values_arg) {
    const IntArray codes = checked_array<IntArray>(codes_arg, "codes", "int64", 2);
    const std::size_t width = positive_size(width_arg, "width");
    const auto n = static_cast<std::size_t>(codes.shape(0));
    const auto d = static_cast<std::size_t>(codes.shape(1));
    IntArray rows;
    if (!rows_arg.is_none()) {
        rows = private_copy(checked_array<IntArray>(rows_arg, "rows", "int64", 1));
        for (py::ssize_t i = 0; i < rows.size(); ++i)
            if (rows.data()[i] < 0 || static_cast<std::size_t>(rows.data()[i]) >= n)
                throw py::value_error("rows holds " + std::to_string(rows.data()[i]) +
                                      ", outside [0, " + std::to_string(n) + ")");
    }
    DoubleArray weights, values;
    if (!weights_arg.is_none()) {
        weights = checked_array<DoubleArray>(weights_arg, "weights", "float64", 1);
        require_extent(weights, 0, codes.shape(0), "weights");
    }
    if (!values_arg.is_none()) {
        values = checked_array<DoubleArray>(values_arg, "values", "float64", 2);
        require_extent(values, 0, codes.shape(0), "values");
        require_extent(values, 1, codes.shape(1), "values");
    }
    const auto sd = static_cast<py::ssize_t>(d);
    const auto sw = static_cast<py::ssize_t>(width);
    DoubleArray counts(std::vector<py::ssize_t>{sd, sw, sd, sw});
    DoubleArray sums(std::vector<py::ssize_t>{values_arg.is_none() ? 0 : sd, sw, sd});
    const std::size_t count = rows_arg.is_none() ? n : static_cast<std::size_t>(rows.size());
    const std::int64_t* node_rows = rows_arg.is_none() ? nullptr : rows.data();
    const double* w = weights_arg.is_none() ? nullptr : weights.data();
    const double* v = values_arg.is_none() ? nullptr : values.data();
    double* c_out = counts.mutable_data();
    double* s_out = sums.mutable_data();
    bool ok = false;
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        ok = kernels::cross_tables(codes.data(), n, d, width, node_rows, count, w, v, c_out, s_out);
    }
    if (!ok)
        throw py::value_error("codes holds a bin outside [0, " + std::to_string(width) + ")");
    return py::make_tuple(counts, values_arg.is_none() ? py::object(py::none()) : py::object(sums));
}

} // namespace

void define(py::module_& m) {
    def_kernel(m, "histogram_scores", histogram_scores, kHistogramDoc, py::arg("x"),
               py::arg("edges"), py::arg("log_density"), py::arg("tol"));
    def_kernel(m, "tail_scores", tail_scores, kTailDoc, py::arg("x"), py::arg("sorted"),
               py::arg("cumulative"), py::arg("floor"));
    def_kernel(m, "training_tail_scores", training_tail_scores, kTrainingTailDoc, py::arg("sorted"),
               py::arg("order"), py::arg("cumulative"), py::arg("floor"));
    def_kernel(m, "neighbour_scores", neighbour_scores, kNeighbourDoc, py::arg("dist"),
               py::arg("weights"), py::arg("own"), py::arg("k"), py::arg("method"));
    def_kernel(m, "cross_tables", cross_tables, kCrossDoc, py::arg("codes"), py::arg("width"),
               py::arg("rows"), py::arg("weights"), py::arg("values"));
}

} // namespace zeka::outlier_kernels

ZEKA_MODULE(_kernels, m) {
    m.doc() = zeka::outlier_kernels::kModuleDoc;
    zeka::outlier_kernels::define(m);
}
