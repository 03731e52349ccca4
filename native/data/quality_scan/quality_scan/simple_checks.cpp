// The constructor and the checks that need no helper: single-valued columns,
// null ratios and duplicated samples.
#include "common/containers.hpp"
#include "common/python_ops.hpp"
#include "data/quality_scan/quality_scan/column_rows.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"
#include "kernels/rows/row_hashes.hpp"

#include <algorithm>
#include <pybind11/numpy.h>
#include <stdexcept>

namespace zeka::quality_scan {

py::object init(Frame& f) {
    py::object self = f[0], data = f[1], meta_info = f[2];
    // Exactly dict or None: a dict subclass is refused as well.
    if (!meta_info.is_none() && !PyDict_CheckExact(meta_info.ptr()))
        throw py::type_error("meta_info must be of type dict or None, not " +
                             py::str(py::type::of(meta_info).attr("__name__")).cast<std::string>());
    self.attr("data") = data;
    self.attr("meta_info") = meta_info;
    return py::none();
}

namespace {

// The one column label of a table.
py::list column_label(const char* text) {
    py::list label;
    label.append(text);
    return label;
}

} // namespace

SimpleFacts simple_facts(const py::object& column, const ScannedColumn* scanned) {
    std::optional<bool> single = scanned ? single_value(*scanned) : std::nullopt;
    SimpleFacts out{single ? *single : equals(column.attr("nunique")(), py::int_(1)), 0};
    out.missing =
        scanned ? scanned->facts.missing : column.attr("isna")().attr("sum")().cast<std::int64_t>();
    return out;
}

py::object single_value_table(Frame& f, const py::object& columns,
                              const std::vector<SimpleFacts>& facts) {
    py::array_t<bool> flags(static_cast<py::ssize_t>(facts.size()));
    std::transform(facts.begin(), facts.end(), flags.mutable_data(),
                   [](const SimpleFacts& column) { return column.single; });
    py::object pd = f.global("pd");
    py::object is_single = pd.attr("Series")(flags, py::arg("index") = columns);
    return pd.attr("DataFrame")(is_single, py::arg("columns") = column_label("Is Single Value"));
}

py::object null_ratio_table(Frame& f, const py::object& columns, const py::object& rows,
                            const std::vector<SimpleFacts>& facts) {
    py::array_t<std::int64_t> counts(static_cast<py::ssize_t>(facts.size()));
    std::transform(facts.begin(), facts.end(), counts.mutable_data(),
                   [](const SimpleFacts& column) { return column.missing; });
    py::object pd = f.global("pd");
    py::object ratio =
        pd.attr("Series")(counts, py::arg("index") = columns).attr("__truediv__")(rows);
    return pd.attr("DataFrame")(ratio, py::arg("columns") = column_label("Null Ratio"));
}

namespace {

// The facts one simple check needs, per column, read from each column's
// storage where it tells them, else by pandas' calls on that column; where
// `data` is no data frame, nothing (the caller makes pandas' calls on it).
std::optional<std::vector<SimpleFacts>> counted_columns(const Frame& f, const py::object& data,
                                                        bool want_missing, bool want_single) {
    if (!py::isinstance(data, f.global("pd").attr("DataFrame")))
        return std::nullopt;
    std::vector<SimpleFacts> facts;
    for (std::size_t i = 0, n = column_count(data); i < n; ++i) {
        py::object column = column_at(data, i);
        ColumnCounts counts = count_column(column, want_missing, want_single);
        SimpleFacts out{false, 0};
        if (want_single)
            out.single =
                counts.single ? *counts.single : equals(column.attr("nunique")(), py::int_(1));
        if (want_missing)
            out.missing = counts.missing ? *counts.missing
                                         : column.attr("isna")().attr("sum")().cast<std::int64_t>();
        facts.push_back(out);
    }
    return facts;
}

} // namespace

py::object is_single_value(Frame& f) {
    py::object data = f[0].attr("data");
    py::object columns = data.attr("columns");
    if (std::optional<std::vector<SimpleFacts>> facts = counted_columns(f, data, false, true))
        return single_value_table(f, columns, *facts);
    py::object is_single_unique_value = data.attr("nunique")().attr("__eq__")(1);
    return f.global("pd").attr("DataFrame")(is_single_unique_value,
                                            py::arg("columns") = column_label("Is Single Value"));
}

py::object null_ratio(Frame& f) {
    py::object data = f[0].attr("data");
    py::object columns = data.attr("columns");
    if (std::optional<std::vector<SimpleFacts>> facts = counted_columns(f, data, true, false))
        return null_ratio_table(f, columns, data.attr("shape")[py::int_(0)], *facts);
    py::object counts = data.attr("isna")().attr("sum")();
    py::object ratio = counts.attr("__truediv__")(data.attr("shape")[py::int_(0)]);
    return f.global("pd").attr("DataFrame")(ratio, py::arg("columns") = column_label("Null Ratio"));
}

namespace {

// Which sample each row holds, as (group number of every row, the first row of
// every group): groups are numbered in the order of their values, column by
// column, as a sorted groupby orders them, with a missing value after every
// other value and equal to another missing value, as duplicated() counts it.
// Only the samples that occur get a group, whatever the columns' dtypes
// (categories, Arrow dictionaries, float16).
py::tuple sample_groups(const Frame& f, const py::object& rows, std::size_t n_columns) {
    py::object np = f.global("np");
    py::object factorize = f.global("pd").attr("factorize");
    py::list codes;
    for (std::size_t i = 0; i < n_columns; ++i) {
        py::tuple factors = factorize(column_at(rows, i), py::arg("sort") = true);
        py::object column_codes = np.attr("asarray")(factors[0], py::arg("dtype") = "int64");
        py::int_ missing_code(py::len(factors[1]));
        codes.append(np.attr("where")(column_codes.attr("__lt__")(0), missing_code, column_codes));
    }
    py::tuple unique =
        np.attr("unique")(np.attr("column_stack")(codes), py::arg("axis") = 0,
                          py::arg("return_index") = true, py::arg("return_inverse") = true);
    return py::make_tuple(unique[2].attr("reshape")(-1), unique[1]);
}

// The positions of the rows that may repeat another, ascending: those whose
// row hash repeats. A column whose values only pandas can compare is hashed
// by its factorized codes. Nothing where pandas cannot factorize a column:
// its own duplicated() over the frame then runs, and raises, as always;
// so it does for Arrow data the scan refuses.
std::optional<py::array> candidate_rows(const Frame& f, const py::object& data,
                                        std::size_t n_columns) {
    py::object np = f.global("np"), pd = f.global("pd");
    auto n = data.attr("shape")[py::int_(0)].cast<std::size_t>();
    std::vector<std::uint64_t> rows(n, 0);
    try {
        for (std::size_t i = 0; i < n_columns; ++i) {
            py::object column = column_at(data, i);
            if (static_cast<std::size_t>(py::len(column)) != n)
                return std::nullopt;
            if (mix_column(column, rows.data()))
                continue;
            py::array_t<std::int64_t, py::array::c_style | py::array::forcecast> codes =
                np.attr("asarray")(pd.attr("factorize")(column)[py::int_(0)], "int64");
            if (static_cast<std::size_t>(codes.size()) != n)
                return std::nullopt;
            kernels::mix_integers(reinterpret_cast<const char*>(codes.data()), 8, 8, n,
                                  rows.data());
        }
    } catch (py::error_already_set&) {
        return std::nullopt;
    } catch (std::invalid_argument&) { // Arrow data the scan refuses: pandas judges it
        return std::nullopt;
    }
    std::vector<std::int64_t> repeated;
    {
        py::gil_scoped_release release;
        repeated = kernels::repeated_positions(rows.data(), n);
    }
    py::array_t<std::int64_t> out(static_cast<py::ssize_t>(repeated.size()));
    std::copy(repeated.begin(), repeated.end(), out.mutable_data());
    return out;
}

} // namespace

py::object duplicated_samples(Frame& f) {
    py::object data = f[0].attr("data");
    py::object pd = f.global("pd");
    if (py::object(data.attr("shape")[py::int_(0)]).equal(py::int_(0)))
        return py::str("Dataset does not contain any data");
    std::size_t n_columns = column_count(data);
    if (n_columns == 0) {
        // Rows without values have no sample to show (and pandas releases
        // disagree on what duplicated() gives for them).
        return pd.attr("DataFrame")(py::list(), py::arg("columns") = data.attr("columns"));
    }
    // duplicated() over the few rows whose hash repeats finds the same rows
    // as over the whole frame: the copies of a row all share its hash.
    py::object duplicated;
    if (std::optional<py::array> candidates = candidate_rows(f, data, n_columns)) {
        py::object few = data.attr("iloc")[*candidates];
        duplicated = few.attr("loc")[few.attr("duplicated")(py::arg("keep") = false)];
    } else {
        duplicated = data.attr("loc")[data.attr("duplicated")(py::arg("keep") = false)];
    }

    // Group the row labels by the values of every column, by position: the
    // row index may have any name (or several levels) and a column may be
    // called "index" or share its label with another.
    py::object rows = duplicated.attr("reset_index")(py::arg("drop") = true);
    py::object labels = duplicated.attr("index").attr("to_series")(
        py::arg("index") = pd.attr("RangeIndex")(py::len(duplicated)));
    py::tuple groups = sample_groups(f, rows, n_columns);
    py::object group_of_row = groups[0], first_rows = groups[1];
    py::object tmp = labels.attr("groupby")(group_of_row).attr("unique")();

    py::object samples = rows.attr("iloc")[first_rows];
    py::list keys;
    if (n_columns == 1)
        keys = py::list(column_at(samples, 0));
    else
        keys = py::list(
            samples.attr("itertuples")(py::arg("index") = false, py::arg("name") = py::none()));
    return pd.attr("DataFrame")(keys, py::arg("index") = tmp.attr("values"),
                                py::arg("columns") = data.attr("columns"));
}

} // namespace zeka::quality_scan
