#include "data/quality_scan/quality_scan/association_table.hpp"

#include "kernels/association/association_tables.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <pybind11/numpy.h>
#include <vector>

namespace zeka::quality_scan {

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Codes64 = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

py::slice all_rows() {
    return py::slice(py::none(), py::none(), py::none());
}

// Table position of each label of `features` among the (unique) columns.
std::vector<std::size_t> positions_of(const py::object& columns, const py::list& features) {
    Codes64 found = Codes64::ensure(columns.attr("get_indexer")(features));
    return std::vector<std::size_t>(found.data(), found.data() + found.size());
}

// The numerical features as float columns, one after another: the values
// that astype(float) and to_numpy give DataFrame.corr.
Doubles numerical_columns(const py::object& data, const py::list& features) {
    py::object np = py::module_::import("numpy");
    py::object values = data.attr("loc")[py::make_tuple(all_rows(), features)]
                            .attr("astype")(py::module_::import("builtins").attr("float"))
                            .attr("to_numpy")(py::arg("dtype") = np.attr("float64"),
                                              py::arg("na_value") = np.attr("nan"));
    return Doubles::ensure(np.attr("ascontiguousarray")(values.attr("T")));
}

// pd.factorize(column)[0] of each categorical feature, one column after
// another (-1 where a value is missing).
py::array_t<std::int32_t> categorical_codes(const py::object& data,
                                            const std::vector<std::size_t>& positions) {
    py::object factorize = py::module_::import("pandas").attr("factorize");
    auto rows = static_cast<py::ssize_t>(py::len(data));
    py::array_t<std::int32_t> codes({static_cast<py::ssize_t>(positions.size()), rows});
    std::int32_t* out = codes.mutable_data();
    for (std::size_t position : positions) {
        py::object column = data.attr("iloc")[py::make_tuple(all_rows(), py::int_(position))];
        Codes64 column_codes = Codes64::ensure(factorize(column)[py::int_(0)]);
        const std::int64_t* in = column_codes.data();
        for (py::ssize_t i = 0; i < rows; ++i)
            *out++ = static_cast<std::int32_t>(in[i]);
    }
    return codes;
}

kernels::TableSlots slots(py::array_t<double>& table, const std::vector<std::size_t>& positions) {
    return {table.mutable_data(), static_cast<std::size_t>(table.shape(1)), positions.data()};
}

} // namespace

py::object association_table(const py::object& data, const py::list& num_features,
                             const py::list& cat_features) {
    py::object columns = data.attr("columns");
    auto k = static_cast<py::ssize_t>(py::len(columns));
    std::size_t rows = py::len(data);
    std::vector<std::size_t> num_at = positions_of(columns, num_features);
    std::vector<std::size_t> cat_at = positions_of(columns, cat_features);
    py::array_t<double> table({k, k});
    std::fill(table.mutable_data(), table.mutable_data() + k * k,
              std::numeric_limits<double>::quiet_NaN());

    // Conversions first, so that an error in them leaves nothing half done;
    // a frame without rows gives NaN for every pair.
    py::array_t<std::int32_t> codes =
        rows == 0 || cat_at.empty() ? py::array_t<std::int32_t>() : categorical_codes(data, cat_at);
    Doubles values = num_at.empty() ? Doubles() : numerical_columns(data, num_features);
    if (rows > 0) {
        kernels::ValueColumns numerical{num_at.empty() ? nullptr : values.data(), rows,
                                        num_at.size()};
        kernels::CodeColumns categorical{cat_at.empty() ? nullptr : codes.data(), rows,
                                         cat_at.size()};
        kernels::TableSlots num_out = slots(table, num_at), cat_out = slots(table, cat_at);
        // No GIL needed: the kernels read and write only arrays held here.
        py::gil_scoped_release release;
        kernels::spearman_table(numerical, num_out);
        kernels::symmetric_uncertainty_table(categorical, cat_out);
        kernels::correlation_ratio_table(numerical, num_out, categorical, cat_out);
    }
    return py::module_::import("pandas").attr("DataFrame")(
        table, py::arg("index") = columns, py::arg("columns") = columns, py::arg("copy") = false);
}

} // namespace zeka::quality_scan
