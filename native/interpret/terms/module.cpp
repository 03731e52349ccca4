// zeka.interpret._terms: the loops over rows and cells behind the model-own
// interpretation views: values of piecewise constant terms, sums per cell,
// purification of pairwise tables, local linear models of a ReLU network.
#include "common/module.hpp"

#include "kernels/interpret/terms.hpp"
#include "models/arguments.hpp"
#include "models/binding.hpp"

#include <cmath>
#include <cstdint>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <string>
#include <tuple>
#include <vector>

namespace zeka::terms {

namespace {

constexpr const char* kModuleDoc =
    "Native loops of the model-own interpretation views: piecewise constant terms at every "
    "row, sums per cell, purification of pairwise tables and the local linear models of a "
    "ReLU network.";

constexpr const char* kTermsParams = R"(
Parameters
----------
X : float64 array of shape (n, p)
axes : int64 array of shape (T, 2, 3)
    For term t and axis k: (feature, first edge, edge count); the feature of
    axis 1 is -1 for a term of one feature. A value x lies in bin
    searchsorted(edges, x, side="left") of an axis.
edges : float64 array, every axis' edges ascending
tables : float64 array
table_start : int64 array of shape (T,)
    Term t's table is tables[table_start[t]:][:(count_a + 1) * (count_b + 1)],
    row-major (count_b + 1 = 1 for a term of one feature).)";

const std::string kStepValuesDoc =
    std::string("The value of every piecewise constant term at every row: (n, T) float64.\n") +
    kTermsParams;
const std::string kStepCellsDoc =
    std::string("The cell of every row in every term's table: (n, T) int64.\n") + kTermsParams;

const std::string kStepCountsDoc =
    std::string("The rows of X in every cell of every term's table, laid out as tables:\n"
                "float64 array of the shape of tables, entries outside every term's table\n"
                "zero.\n") +
    kTermsParams;

const std::string kStepSummaryDoc =
    std::string("Every row's contributions per feature and every term's sums over the rows.\n\n"
                "A term's entry at a row goes to its feature, or half to each feature of a\n"
                "pair. Returns (contributions, sums, absolute_sums): float64 arrays of\n"
                "shapes (n, p), (T,) and (T,).\n") +
    kTermsParams;

constexpr const char* kCellSumsDoc =
    R"(Sums of per-row values over the rows of every cell, and the rows per cell.

Parameters
----------
cells : int64 array of shape (n,), every entry in [0, width)
values : float64 array of shape (n, k)
width : int >= 1

Returns
-------
(sums, counts): float64 arrays of shapes (width, k) and (width,); rows are
added in their order.)";

constexpr const char* kPurifyDoc =
    R"(Purification of a pairwise table under cell weights.

Alternately subtracts the weighted mean of every row and every column of the
table, adding it to the row and column effects, until no mean exceeds tol,
max_iter sweeps are done or 25 sweeps in a row bring the largest mean no
lower (rounding has stopped the progress); then centres both effects on their
marginal weights into a constant. table = pure + row_effect[:, None] + col_effect[None, :] +
constant, and pure has zero weighted mean along both axes (rows or columns of
zero weight keep their entries).

Parameters
----------
table, weights : float64 arrays of shape (A, B); weights finite and >= 0
tol : float >= 0
max_iter : int >= 1

Returns
-------
(pure, row_effect, col_effect, constant, sweeps))";

constexpr const char* kReluDoc =
    R"(Output, gradient and activation region of a ReLU network at every row.

Parameters
----------
Z : float64 array of shape (n, d)
weights : list of float64 arrays, weights[l] of shape (sizes[l], sizes[l + 1]),
    sizes[0] = d and the last layer with one output
biases : list of float64 arrays, biases[l] of shape (sizes[l + 1],)

Every layer but the last is followed by max(0, .). Returns (out, grad,
region): the output (n,), the gradient (n, d), which is the coefficient vector
of the linear map the network is on the row's activation region, and an int64
hash of the row's activation pattern (equal for rows of one region).)";

struct Terms {
    IntArray axes, table_start;
    DoubleArray edges, tables;
    kernels::StepTerms view;
};

Terms checked_terms(const py::object& axes_arg, const py::object& edges_arg,
                    const py::object& tables_arg, const py::object& start_arg, py::ssize_t p) {
    Terms t;
    t.axes = private_copy(checked_array<IntArray>(axes_arg, "axes", "int64", 3));
    t.edges = checked_array<DoubleArray>(edges_arg, "edges", "float64", 1);
    t.tables = checked_array<DoubleArray>(tables_arg, "tables", "float64", 1);
    t.table_start = private_copy(checked_array<IntArray>(start_arg, "table_start", "int64", 1));
    require_extent(t.axes, 1, 2, "axes");
    require_extent(t.axes, 2, 3, "axes");
    require_extent(t.table_start, 0, t.axes.shape(0), "table_start");
    const std::int64_t n_edges = t.edges.shape(0), n_tables = t.tables.shape(0);
    const std::int64_t* a = t.axes.data();
    for (py::ssize_t term = 0; term < t.axes.shape(0); ++term) {
        std::int64_t size = 1;
        for (py::ssize_t k = 0; k < 2; ++k) {
            const std::int64_t* axis = a + (term * 2 + k) * 3;
            const std::string where =
                "axes[" + std::to_string(term) + ", " + std::to_string(k) + "]";
            if (axis[0] == -1 && k == 1)
                continue;
            if (axis[0] < 0 || axis[0] >= p)
                throw py::value_error(where + " names feature " + std::to_string(axis[0]) +
                                      ", outside [0, " + std::to_string(p) + ")");
            if (axis[1] < 0 || axis[2] < 0 || axis[2] > n_edges || axis[1] > n_edges - axis[2])
                throw py::value_error(where + " takes edges outside the " +
                                      std::to_string(n_edges) + " given");
            if (axis[2] + 1 > n_tables + 1 || size > (n_tables + 1) / (axis[2] + 1))
                throw py::value_error(where + ": the table is larger than tables");
            size *= axis[2] + 1;
        }
        const std::int64_t start = t.table_start.data()[term];
        if (start < 0 || start > n_tables || size > n_tables - start)
            throw py::value_error("table_start[" + std::to_string(term) +
                                  "]: the table runs outside tables");
    }
    t.view.axes = t.axes.data();
    t.view.terms = static_cast<std::size_t>(t.axes.shape(0));
    t.view.edges = t.edges.data();
    t.view.tables = t.tables.data();
    t.view.table_start = t.table_start.data();
    return t;
}

template <typename Out, typename Kernel>
Out step_call(const py::object& X_arg, const py::object& axes, const py::object& edges,
              const py::object& tables, const py::object& start, Kernel kernel) {
    const DoubleArray X = checked_array<DoubleArray>(X_arg, "X", "float64", 2);
    const Terms terms = checked_terms(axes, edges, tables, start, X.shape(1));
    Out out(std::vector<py::ssize_t>{X.shape(0), terms.axes.shape(0)});
    auto* data = out.mutable_data();
    {
        // only the buffers of the arrays held here are read and written
        py::gil_scoped_release release;
        kernel(X.data(), static_cast<std::size_t>(X.shape(0)), static_cast<std::size_t>(X.shape(1)),
               terms.view, data);
    }
    return out;
}

DoubleArray step_values(const py::object& X, const py::object& axes, const py::object& edges,
                        const py::object& tables, const py::object& table_start) {
    return step_call<DoubleArray>(X, axes, edges, tables, table_start, kernels::step_values);
}

IntArray step_cells(const py::object& X, const py::object& axes, const py::object& edges,
                    const py::object& tables, const py::object& table_start) {
    return step_call<IntArray>(X, axes, edges, tables, table_start, kernels::step_cells);
}

DoubleArray step_counts(const py::object& X_arg, const py::object& axes, const py::object& edges,
                        const py::object& tables, const py::object& table_start) {
    const DoubleArray X = checked_array<DoubleArray>(X_arg, "X", "float64", 2);
    const Terms terms = checked_terms(axes, edges, tables, table_start, X.shape(1));
    DoubleArray counts(terms.tables.shape(0));
    {
        py::gil_scoped_release release;
        kernels::step_counts(X.data(), static_cast<std::size_t>(X.shape(0)),
                             static_cast<std::size_t>(X.shape(1)), terms.view,
                             counts.mutable_data(), static_cast<std::size_t>(counts.shape(0)));
    }
    return counts;
}

std::tuple<DoubleArray, DoubleArray, DoubleArray>
step_summary(const py::object& X_arg, const py::object& axes, const py::object& edges,
             const py::object& tables, const py::object& table_start) {
    const DoubleArray X = checked_array<DoubleArray>(X_arg, "X", "float64", 2);
    const Terms terms = checked_terms(axes, edges, tables, table_start, X.shape(1));
    DoubleArray contributions(std::vector<py::ssize_t>{X.shape(0), X.shape(1)});
    DoubleArray sums(terms.axes.shape(0)), absolute(terms.axes.shape(0));
    {
        py::gil_scoped_release release;
        kernels::step_summary(
            X.data(), static_cast<std::size_t>(X.shape(0)), static_cast<std::size_t>(X.shape(1)),
            terms.view, contributions.mutable_data(), sums.mutable_data(), absolute.mutable_data());
    }
    return {contributions, sums, absolute};
}

std::tuple<DoubleArray, DoubleArray>
cell_sums(const py::object& cells_arg, const py::object& values_arg, py::ssize_t width_arg) {
    const IntArray cells = private_copy(checked_array<IntArray>(cells_arg, "cells", "int64", 1));
    const DoubleArray values = checked_array<DoubleArray>(values_arg, "values", "float64", 2);
    require_extent(values, 0, cells.shape(0), "values");
    const std::size_t width = positive_size(width_arg, "width");
    const auto k = static_cast<std::size_t>(values.shape(1));
    DoubleArray sums(std::vector<py::ssize_t>{width_arg, values.shape(1)});
    DoubleArray counts(width_arg);
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok =
            kernels::cell_sums(cells.data(), static_cast<std::size_t>(cells.shape(0)),
                               values.data(), k, width, sums.mutable_data(), counts.mutable_data());
    }
    if (!ok)
        throw py::value_error("cells holds a cell outside [0, " + std::to_string(width) + ")");
    return {sums, counts};
}

std::tuple<DoubleArray, DoubleArray, DoubleArray, double, py::ssize_t>
purify(const py::object& table_arg, const py::object& weights_arg, double tol,
       py::ssize_t max_iter) {
    const DoubleArray table = checked_array<DoubleArray>(table_arg, "table", "float64", 2);
    const DoubleArray weights =
        private_copy(checked_array<DoubleArray>(weights_arg, "weights", "float64", 2));
    require_extent(weights, 0, table.shape(0), "weights");
    require_extent(weights, 1, table.shape(1), "weights");
    for (py::ssize_t i = 0; i < weights.size(); ++i)
        if (!(std::isfinite(weights.data()[i]) && weights.data()[i] >= 0.0))
            throw py::value_error("weights must be finite and >= 0");
    non_negative(tol, "tol");
    const std::size_t sweeps_max = positive_size(max_iter, "max_iter");
    DoubleArray pure = private_copy(table);
    DoubleArray rows(table.shape(0)), cols(table.shape(1));
    double constant = 0.0;
    std::size_t sweeps = 0;
    {
        py::gil_scoped_release release;
        sweeps = kernels::purify(pure.mutable_data(), weights.data(),
                                 static_cast<std::size_t>(table.shape(0)),
                                 static_cast<std::size_t>(table.shape(1)), tol, sweeps_max,
                                 rows.mutable_data(), cols.mutable_data(), &constant);
    }
    return {pure, rows, cols, constant, static_cast<py::ssize_t>(sweeps)};
}

std::tuple<DoubleArray, DoubleArray, IntArray> relu_local_linear(const py::object& Z_arg,
                                                                 const py::object& weights_arg,
                                                                 const py::object& biases_arg) {
    const DoubleArray Z = checked_array<DoubleArray>(Z_arg, "Z", "float64", 2);
    if (!py::isinstance<py::list>(weights_arg) || !py::isinstance<py::list>(biases_arg))
        throw py::value_error("weights and biases must be lists of arrays");
    const py::list weight_list = weights_arg, bias_list = biases_arg;
    if (weight_list.size() == 0 || weight_list.size() != bias_list.size())
        throw py::value_error("weights and biases must be non-empty lists of the same length");
    std::vector<DoubleArray> weights, biases;
    std::vector<std::size_t> sizes{static_cast<std::size_t>(Z.shape(1))};
    for (std::size_t l = 0; l < weight_list.size(); ++l) {
        const std::string name = "weights[" + std::to_string(l) + "]";
        weights.push_back(
            private_copy(checked_array<DoubleArray>(weight_list[l], name, "float64", 2)));
        biases.push_back(private_copy(checked_array<DoubleArray>(
            bias_list[l], "biases[" + std::to_string(l) + "]", "float64", 1)));
        require_extent(weights.back(), 0, static_cast<py::ssize_t>(sizes.back()), name);
        require_extent(biases.back(), 0, weights.back().shape(1),
                       "biases[" + std::to_string(l) + "]");
        sizes.push_back(static_cast<std::size_t>(weights.back().shape(1)));
    }
    if (sizes.back() != 1)
        throw py::value_error("the last layer must have one output, got " +
                              std::to_string(sizes.back()));
    std::vector<const double*> w_ptr, b_ptr;
    for (std::size_t l = 0; l < weights.size(); ++l) {
        w_ptr.push_back(weights[l].data());
        b_ptr.push_back(biases[l].data());
    }
    kernels::ReluNetwork net;
    net.layers = weights.size();
    net.sizes = sizes.data();
    net.weights = w_ptr.data();
    net.biases = b_ptr.data();
    DoubleArray out(Z.shape(0));
    DoubleArray grad(std::vector<py::ssize_t>{Z.shape(0), Z.shape(1)});
    IntArray region(Z.shape(0));
    {
        py::gil_scoped_release release;
        kernels::relu_local_linear(net, Z.data(), static_cast<std::size_t>(Z.shape(0)),
                                   out.mutable_data(), grad.mutable_data(), region.mutable_data());
    }
    return {out, grad, region};
}

} // namespace

} // namespace zeka::terms

ZEKA_MODULE(_terms, m) {
    using namespace zeka;
    using namespace zeka::terms;
    m.doc() = kModuleDoc;
    def_kernel(m, "step_values", step_values, kStepValuesDoc.c_str(), py::arg("X"), py::arg("axes"),
               py::arg("edges"), py::arg("tables"), py::arg("table_start"));
    def_kernel(m, "step_cells", step_cells, kStepCellsDoc.c_str(), py::arg("X"), py::arg("axes"),
               py::arg("edges"), py::arg("tables"), py::arg("table_start"));
    def_kernel(m, "step_counts", step_counts, kStepCountsDoc.c_str(), py::arg("X"), py::arg("axes"),
               py::arg("edges"), py::arg("tables"), py::arg("table_start"));
    def_kernel(m, "step_summary", step_summary, kStepSummaryDoc.c_str(), py::arg("X"),
               py::arg("axes"), py::arg("edges"), py::arg("tables"), py::arg("table_start"));
    def_kernel(m, "cell_sums", cell_sums, kCellSumsDoc, py::arg("cells"), py::arg("values"),
               py::arg("width"));
    def_kernel(m, "purify", purify, kPurifyDoc, py::arg("table"), py::arg("weights"),
               py::arg("tol"), py::arg("max_iter"));
    def_kernel(m, "relu_local_linear", relu_local_linear, kReluDoc, py::arg("Z"),
               py::arg("weights"), py::arg("biases"));
}
