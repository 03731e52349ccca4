// The constructor and the checks that need no helper: single-valued columns,
// null ratios and duplicated samples.
#include "common/python_ops.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"

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

py::object is_single_value(Frame& f) {
    py::object data = f[0].attr("data");
    py::object is_single_unique_value = data.attr("nunique")().attr("__eq__")(1);
    py::list columns;
    columns.append("Is Single Value");
    return f.global("pd").attr("DataFrame")(is_single_unique_value, py::arg("columns") = columns);
}

py::object null_ratio(Frame& f) {
    py::object data = f[0].attr("data");
    py::object counts = data.attr("isna")().attr("sum")();
    py::object ratio = counts.attr("__truediv__")(data.attr("shape")[py::int_(0)]);
    py::list columns;
    columns.append("Null Ratio");
    return f.global("pd").attr("DataFrame")(ratio, py::arg("columns") = columns);
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
    py::object duplicated = data.attr("loc")[data.attr("duplicated")(py::arg("keep") = false)];

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
