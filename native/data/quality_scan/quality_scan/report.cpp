// The one-table report of the per-column checks.
#include "common/containers.hpp"
#include "data/quality_scan/quality_scan/column_rows.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"
#include "kernels/text/column_facts.hpp"

#include <pybind11/numpy.h>

namespace zeka::quality_scan {

namespace {

// lambda x: float(x[:-1]) / 100
py::object percent_to_fraction(Frame& f) {
    py::object text = f[0][py::slice(py::none(), py::int_(-1), py::none())];
    return true_divide(builtins().attr("float")(text), py::int_(100));
}

py::list labels(std::initializer_list<const char*> texts) {
    py::list out;
    for (const char* text : texts)
        out.append(text);
    return out;
}

// Whether the three text checks and their helpers are the class's own, so
// that one scan of each column may stand for the three.
bool one_pass(const Frame& f, const py::object& self) {
    if (!own_helpers(f))
        return false;
    for (const char* name : {"long_string", "special_characters", "mixed_data_type",
                             "_get_data_mix", "_check_mixed_percentage", "_get_special_samples"})
        if (!own_method(f, self, name))
            return false;
    return true;
}

struct TextTables {
    py::object single_value, null_ratio, long_string, special_characters, mixed_data_type;
};

// long_string(), special_characters() and mixed_data_type() with their
// defaults, from one scan of each column; is_single_value() and null_ratio()
// too when `simple` (else the caller has them).
TextTables text_tables(Frame& f, const py::object& self, const py::object& data, bool simple) {
    py::object columns = data.attr("columns");
    py::object quantile_threshold = real_threshold(py::float_(0.8));
    py::object length_difference = py::int_(5), n_most_common = py::int_(2);
    py::list long_rows, special_rows;
    py::dict mixed_rows;
    std::vector<SimpleFacts> simple_columns;
    constexpr unsigned every_fact =
        kernels::kLengths | kernels::kRowLengths | kernels::kSpecial | kernels::kNumbers;
    for (std::size_t i = 0, n = column_count(data); i < n; ++i) {
        py::object column = column_at(data, i);
        py::object name = columns[py::int_(i)];
        std::unique_ptr<ScannedColumn> scanned = scan_column(column, every_fact);
        if (simple)
            simple_columns.push_back(simple_facts(column, scanned.get()));
        if (scanned) {
            long_rows.append(
                long_string_row(f, column, *scanned, quantile_threshold, length_difference));
            special_rows.append(special_characters_row(
                name, special_counts(*scanned), py::int_(scanned->facts.size), n_most_common));
            mixed_rows[py::int_(i)] = mixed_row(f, *scanned);
        } else {
            long_rows.append(long_string_row(f, column, quantile_threshold, length_difference));
            special_rows.append(special_characters_row(name,
                                                       self.attr("_get_special_samples")(column),
                                                       column.attr("size"), n_most_common));
            mixed_rows[py::int_(i)] = mixed_row(f, self, column);
        }
    }
    TextTables tables{py::none(), py::none(), long_string_table(f, columns, long_rows),
                      special_characters_table(f, special_rows),
                      mixed_table(f, columns, mixed_rows)};
    if (simple) {
        tables.single_value = single_value_table(f, columns, simple_columns);
        tables.null_ratio =
            null_ratio_table(f, columns, data.attr("shape")[py::int_(0)], simple_columns);
    }
    return tables;
}

} // namespace

bool own_helpers(const Frame& f) {
    return f.global("is_string_column").is(f.captured(1)) &&
           f.global("string_baseform").is(f.captured(0)) &&
           f.global("infer_dtype").is(py::module_::import("pandas.api.types").attr("infer_dtype"));
}

py::object single_column_check(Frame& f) {
    py::object self = f[0];
    py::object pd = f.global("pd");
    // One read of self.data: another thread may rebind it meanwhile.
    py::object data = self.attr("data");
    py::object single_value, null_ratio, long_string, special_characters, mixed_data_type;
    if (one_pass(f, self)) {
        // The two simple checks come from the same scan while they are the
        // class's own; a replaced one is called, first, as always.
        bool simple = own_method(f, self, "is_single_value") && own_method(f, self, "null_ratio") &&
                      column_count(data) > 0;
        if (!simple) {
            single_value = self.attr("is_single_value")();
            null_ratio = self.attr("null_ratio")();
        }
        TextTables tables = text_tables(f, self, data, simple);
        if (simple) {
            single_value = tables.single_value;
            null_ratio = tables.null_ratio;
        }
        long_string = tables.long_string;
        special_characters = tables.special_characters;
        mixed_data_type = tables.mixed_data_type;
    } else {
        single_value = self.attr("is_single_value")();
        null_ratio = self.attr("null_ratio")();
        long_string = self.attr("long_string")();
        special_characters = self.attr("special_characters")();
        mixed_data_type = self.attr("mixed_data_type")();
    }
    FunctionDef def{"<lambda>",
                    "DataIntegrityCheck.single_column_check.<locals>.<lambda>",
                    {arg("x")},
                    percent_to_fraction,
                    ""};
    py::str share_label("% Special-Only Samples");
    py::object fractions =
        special_characters[share_label].attr("map")(make_function(std::move(def), f.globals()));
    {
        // As a statement in a method, `df[key] = value` runs while the
        // interpreter's stack holds `df` too; pandas takes a frame with fewer
        // references for a temporary and warns of chained assignment.
        py::object stack_reference = special_characters;
        if (PyObject_SetItem(stack_reference.ptr(), share_label.ptr(), fractions.ptr()) < 0)
            throw py::error_already_set();
    }

    py::list level0 =
        labels({"Is Single Value", "Null Ratio", "Mixed Data Types", "Mixed Data Types",
                "Long String", "Long String", "Special Characters", "Special Characters"});
    py::list level1 = labels(
        {"", "", "Mixed", "Categorical : Numerical", "Num", "Index", "Ratio", "Example Samples"});
    py::list parts;
    for (const py::object& part :
         {single_value, null_ratio, mixed_data_type, long_string, special_characters})
        parts.append(part);
    py::object scol;
    if (column_count(data) == 0) {
        // No columns, no rows: the report still has its eight-column header
        // (the mixed-types table of such a frame has no columns to join).
        scol = pd.attr("DataFrame")(
            py::arg("index") = data.attr("columns"),
            py::arg("columns") =
                pd.attr("MultiIndex").attr("from_arrays")(py::make_tuple(level0, level1)));
    } else {
        scol = pd.attr("concat")(parts, py::arg("axis") = 1);
        py::list both;
        both.append(level0);
        both.append(level1);
        scol.attr("columns") = both;
    }
    py::list size;
    py::dict heading, level0_heading;
    heading["selector"] = "th.col_heading";
    heading["props"] = "text-align: center;";
    level0_heading["selector"] = "th.col_heading.level0";
    level0_heading["props"] = "font-size: 1.0em;";
    size.append(heading);
    size.append(level0_heading);
    py::list border;
    py::dict cells;
    cells["selector"] = "th,td";
    py::list props;
    props.append(py::make_tuple("border-style", "solid"));
    props.append(py::make_tuple("border-width", "1px"));
    cells["props"] = props;
    border.append(cells);
    return scol.attr("style")
        .attr("set_table_styles")(size + border)
        .attr("format")(py::arg("precision") = 4);
}

} // namespace zeka::quality_scan
