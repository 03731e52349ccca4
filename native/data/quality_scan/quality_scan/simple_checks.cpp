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
    py::object keys;
    if (n_columns == 1) {
        keys = column_at(rows, 0);
    } else {
        py::list key_list;
        for (std::size_t i = 0; i < n_columns; ++i)
            key_list.append(column_at(rows, i));
        keys = key_list;
    }
    // observed=True: a categorical column contributes only the combinations
    // that occur, not every combination of its categories.
    py::object tmp = labels.attr("groupby")(keys, py::arg("observed") = true).attr("unique")();
    return pd.attr("DataFrame")(py::list(tmp.attr("index")), py::arg("index") = tmp.attr("values"),
                                py::arg("columns") = data.attr("columns"));
}

} // namespace zeka::quality_scan
