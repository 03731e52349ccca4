#include "kernels/trees/bin_sums.hpp"

#include "models/arguments.hpp"
#include "models/binding.hpp"
#include "models/boost_tree/functions.hpp"

#include <cstdint>
#include <pybind11/numpy.h>
#include <string>
#include <vector>

namespace zeka::boost_tree {

namespace {

constexpr const char* kBinSumsDoc =
    R"(Per feature and bin, the sums of one or two per-row arrays over a node's rows.

out[v][j, b] is the sum of values[v][r] over the rows r of the node whose bin
of feature j is b (every row when rows is None). Row r adds to partial sum
r % lanes, in the order of rows, and the partial sums are added in lane order:
with one lane, as numpy's bincount adds them. A bin of the same rows gets the
same sum whichever node it is summed for.

Parameters
----------
bins : int64 array of shape (features, n), every entry in [0, width)
width : int >= 1
rows : int64 array of row indices in [0, n), or None
values : list of one or two float64 arrays of shape (n,)
lanes : 1, 2, 4 or 8

Returns
-------
list of float64 arrays of shape (features, width), one per array of values.)";

// The node's rows, each checked to lie in [0, n); None for every row.
IntArray node_rows(const py::handle& value, std::size_t n) {
    if (value.is_none())
        return IntArray();
    IntArray rows = private_copy(checked_array<IntArray>(value, "rows", "int64", 1));
    for (py::ssize_t i = 0; i < rows.size(); ++i)
        if (rows.data()[i] < 0 || static_cast<std::size_t>(rows.data()[i]) >= n)
            throw py::value_error("rows holds " + std::to_string(rows.data()[i]) +
                                  ", outside [0, " + std::to_string(n) + ")");
    return rows;
}

py::list bin_sums(const py::object& bins_arg, py::ssize_t width_arg, const py::object& rows_arg,
                  const py::object& values_arg, py::ssize_t lanes_arg) {
    const IntArray bins = checked_array<IntArray>(bins_arg, "bins", "int64", 2);
    const std::size_t width = positive_size(width_arg, "width");
    kernels::BinColumns columns;
    columns.bins = bins.data();
    columns.features = static_cast<std::size_t>(bins.shape(0));
    columns.rows = static_cast<std::size_t>(bins.shape(1));
    columns.width = width;
    const IntArray rows = node_rows(rows_arg, columns.rows);
    if (!py::isinstance<py::list>(values_arg) && !py::isinstance<py::tuple>(values_arg))
        throw py::value_error("values must be a list or tuple of arrays");
    std::vector<DoubleArray> values;
    for (const py::handle item : values_arg) {
        values.push_back(checked_array<DoubleArray>(item, "values", "float64", 1));
        require_extent(values.back(), 0, bins.shape(1), "values");
    }
    if (values.empty() || values.size() > 2)
        throw py::value_error("values must hold one or two arrays, got " +
                              std::to_string(values.size()));
    const std::size_t lanes = positive_size(lanes_arg, "lanes");
    if (lanes > 8 || (lanes & (lanes - 1)) != 0)
        throw py::value_error("lanes must be 1, 2, 4 or 8, got " + std::to_string(lanes));
    std::vector<DoubleArray> sums;
    std::vector<const double*> in;
    std::vector<double*> out;
    for (const DoubleArray& v : values) {
        sums.emplace_back(std::vector<py::ssize_t>{bins.shape(0), static_cast<py::ssize_t>(width)});
        in.push_back(v.data());
        out.push_back(sums.back().mutable_data());
    }
    const bool all_rows = rows_arg.is_none();
    const std::size_t count = all_rows ? columns.rows : static_cast<std::size_t>(rows.size());
    bool ok = false;
    {
        // Only the buffers of the arrays held above are read and written.
        py::gil_scoped_release release;
        ok = kernels::bin_sums(columns, all_rows ? nullptr : rows.data(), count, in.data(),
                               in.size(), lanes, out.data());
    }
    if (!ok)
        throw py::value_error("bins holds an index outside [0, " + std::to_string(width) + ")");
    py::list result;
    for (DoubleArray& s : sums)
        result.append(std::move(s));
    return result;
}

} // namespace

void define_bin_sums(py::module_& module) {
    def_kernel(module, "bin_sums", bin_sums, kBinSumsDoc, py::arg("bins"), py::arg("width"),
               py::arg("rows"), py::arg("values"), py::arg("lanes"));
}

} // namespace zeka::boost_tree
