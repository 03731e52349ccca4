// Mixed data types: string columns in which some values convert with float()
// and others do not. For an object column the conversion test of its exact
// str values runs in the number-text kernel.
#include "common/containers.hpp"
#include "data/quality_scan/column_scan.hpp"
#include "data/quality_scan/quality_scan/column_rows.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"
#include "data/quality_scan/quality_scan/text_column.hpp"
#include "kernels/text/text_scans.hpp"

#include <array>
#include <optional>

namespace zeka::quality_scan {

namespace {

// Whether float(value) succeeds; false when it raises ValueError, and the
// error goes on for any other exception.
bool converts_to_float(PyObject* value) {
    PyObject* converted = PyNumber_Float(value);
    if (converted) {
        Py_DECREF(converted);
        return true;
    }
    if (!PyErr_ExceptionMatches(PyExc_ValueError))
        throw py::error_already_set();
    PyErr_Clear();
    return false;
}

// `if len(examples) < 3: examples.add(value)`.
void keep_example(const py::object& examples, PyObject* value) {
    if (PySet_GET_SIZE(examples.ptr()) < 3 && PySet_Add(examples.ptr(), value) != 0)
        throw py::error_already_set();
}

// is_float(x) of one _check_mixed_percentage call; the closure holds the two
// example sets (numbers, strings).
py::object is_float(Frame& f) {
    PyObject* x = f[0].ptr();
    bool number = converts_to_float(x);
    keep_example(f.captured(number ? 0 : 1), x);
    return py::bool_(number);
}

// Whether `column.apply(f)` calls `f` once per value, in order, with the
// values `to_numpy(dtype=object)` gives: numpy object columns and pandas'
// string columns (whose values are str). Other extension types (categorical
// maps its categories) keep pandas' own apply.
bool applies_per_value(const py::object& column) {
    py::object dtype = column.attr("dtype");
    if (py::isinstance(dtype, py::module_::import("numpy").attr("dtype")))
        return equals(dtype.attr("kind"), "O");
    return py::isinstance(dtype, py::module_::import("pandas").attr("StringDtype"));
}

// sum(column.apply(is_float)) from the scanned facts, with the same example
// sets: the first distinct values met of each kind, in column order (the
// present values that are no text are numbers, and equal no text).
py::object count_scanned(const ScannedColumn& scanned, const py::object& numbers,
                         const py::object& strings) {
    const kernels::ColumnFacts& facts = scanned.facts;
    // The text examples and the other values merged in column order, until
    // the set is full.
    const std::vector<kernels::TextExample>& texts = facts.number_examples;
    std::size_t t = 0, o = 0;
    while ((t < texts.size() || o < scanned.others.size()) && PySet_GET_SIZE(numbers.ptr()) < 3) {
        bool text_first =
            o == scanned.others.size() ||
            (t < texts.size() && texts[t].position < static_cast<std::int64_t>(scanned.others[o]));
        if (text_first) {
            keep_example(numbers, scanned.value_at(texts[t].position, texts[t].text).ptr());
            ++t;
        } else {
            keep_example(numbers, scanned.values.items[scanned.others[o]]);
            ++o;
        }
    }
    for (const kernels::TextExample& example : facts.string_examples)
        keep_example(strings, scanned.value_at(example.position, example.text).ptr());
    return py::int_(facts.numbers);
}

// sum(column.apply(is_float)) for an object column, with the same example
// sets: str values are tested by the kernel, everything else by float().
py::object count_numbers(const py::object& column, const py::object& numbers,
                         const py::object& strings) {
    ObjectValues values = object_values(column);
    TextColumn texts(values.size);
    std::vector<std::pair<std::size_t, bool>> converted; // values that are no exact str
    // A value whose float() raises something other than ValueError ends the
    // scan; the values before it still fill the example sets first, as they
    // would have one by one.
    std::optional<py::error_already_set> failure;
    std::size_t end = values.size;
    for (std::size_t i = 0; i < values.size; ++i) {
        PyObject* value = values.items[i];
        if (PyUnicode_CheckExact(value)) {
            texts.add(value);
            continue;
        }
        texts.skip();
        try {
            converted.emplace_back(i, converts_to_float(value));
        } catch (py::error_already_set& e) {
            failure.emplace(std::move(e));
            end = i;
            break;
        }
    }
    texts.finish();
    std::vector<std::uint8_t> is_number =
        mark_texts(values.size, texts, kernels::mark_float_texts, converted);
    long long nums = 0;
    // Offering a set an object it was offered before changes nothing (it
    // holds it, or an equal value, or was full); the last offers are skipped.
    std::array<PyObject*, 64> offered{};
    for (std::size_t i = 0; i < end; ++i) {
        nums += is_number[i];
        PyObject* value = values.items[i];
        PyObject*& seen =
            offered[((reinterpret_cast<std::uintptr_t>(value) >> 4) * 2 + is_number[i]) %
                    offered.size()];
        if (seen != value &&
            (PySet_GET_SIZE(numbers.ptr()) < 3 || PySet_GET_SIZE(strings.ptr()) < 3)) {
            keep_example(is_number[i] ? numbers : strings, value);
            seen = value;
        }
    }
    if (failure)
        throw std::move(*failure);
    return py::int_(nums);
}

} // namespace

py::object check_mixed_percentage(Frame& f) {
    py::object column_data = f[0];
    py::object total_rows = column_data.attr("count")();
    py::set numbers_in_col, strings_in_col;
    py::object nums;
    std::unique_ptr<ScannedColumn> scanned;
    bool per_value = applies_per_value(column_data);
    if (per_value || is_arrow_backed(column_data.attr("dtype"))) {
        scanned = scan_column(column_data, kernels::kNumbers, 3);
        // pandas' apply reaches the values of an Arrow text column one by
        // one too; any other column of an Arrow type keeps pandas' apply.
        if (scanned && !per_value && scanned->storage != ScannedColumn::Storage::Arrow)
            scanned.reset();
    }
    if (scanned) {
        nums = count_scanned(*scanned, numbers_in_col, strings_in_col);
    } else if (per_value) {
        nums = count_numbers(column_data, numbers_in_col, strings_in_col);
    } else {
        FunctionDef def{"is_float",
                        "DataIntegrityCheck._check_mixed_percentage.<locals>.is_float",
                        {arg("x")},
                        is_float,
                        ""};
        py::object function = make_function(std::move(def), f.globals(),
                                            py::make_tuple(numbers_in_col, strings_in_col));
        nums = builtins().attr("sum")(column_data.attr("apply")(function));
    }
    if (equals(nums, total_rows) || equals(nums, py::int_(0)))
        return py::none();
    py::object nums_pct = true_divide(nums, total_rows);
    py::object strs_pct = true_divide(f.global("np").attr("abs")(nums - total_rows), total_rows);
    py::dict record;
    record["strings"] = strs_pct;
    record["numbers"] = nums_pct;
    record["strings_examples"] = strings_in_col;
    record["numbers_examples"] = numbers_in_col;
    return record;
}

py::object get_data_mix(Frame& f) {
    py::object self = f[0], column_data = f[1];
    if (!truthy(f.global("is_string_column")(column_data)))
        return py::none();
    return self.attr("_check_mixed_percentage")(column_data);
}

namespace {

py::dict formatted(const py::object& mix, const py::object& np) {
    py::dict formatted_mix;
    if (!mix.is_none()) {
        formatted_mix["With mixed"] = true;
        py::str strings = py::str(np.attr("round")(mix[py::str("strings")], 4));
        py::str numbers = py::str(np.attr("round")(mix[py::str("numbers")], 4));
        formatted_mix["Categorical : Numerical"] = strings + py::str(" : ") + numbers;
    } else {
        formatted_mix["With mixed"] = false;
        formatted_mix["Categorical : Numerical"] = "-";
    }
    return formatted_mix;
}

} // namespace

py::dict mixed_row(Frame& f, const py::object& self, const py::object& column) {
    py::object mix = self.attr("_get_data_mix")(column.attr("dropna")());
    return formatted(mix, f.global("np"));
}

py::dict mixed_row(Frame& f, const ScannedColumn& scanned) {
    py::object np = f.global("np");
    const kernels::ColumnFacts& facts = scanned.facts;
    std::int64_t total = facts.size - facts.missing;
    if (!is_string_column(scanned) || facts.numbers == total || facts.numbers == 0)
        return formatted(py::none(), np);
    // The shares as _check_mixed_percentage computes them. pandas' count()
    // of the column is its present values (numpy's int64): a scanned column
    // holds no missing value the scan does not count.
    py::object total_rows = np.attr("int64")(total);
    py::object nums = py::int_(facts.numbers);
    py::dict record;
    record["strings"] = true_divide(np.attr("abs")(nums - total_rows), total_rows);
    record["numbers"] = true_divide(nums, total_rows);
    return formatted(record, np);
}

py::object mixed_table(Frame& f, const py::object& columns, const py::dict& display_result) {
    py::object pd = f.global("pd");
    py::object result = pd.attr("DataFrame").attr("from_dict")(display_result).attr("T");
    if (py::len(columns) > 0)
        result.attr("index") = pd.attr("Index")(py::list(columns));
    return result;
}

bool scans_mixed(const Frame& f, const py::object& self) {
    return own_helpers(f) && own_method(f, self, "_get_data_mix") &&
           own_method(f, self, "_check_mixed_percentage");
}

py::object mixed_data_type(Frame& f) {
    py::object self = f[0];
    py::object data = self.attr("data");
    py::object columns = data.attr("columns");
    bool scan = scans_mixed(f, self);
    // Rows are keyed by position and labelled afterwards, so repeated or
    // equal-comparing labels (1 and 1.0) keep one row per column each.
    py::dict display_result;
    for (std::size_t i = 0, n = column_count(data); i < n; ++i) {
        py::object column = column_at(data, i);
        // The package's string-column test never finds numbers, booleans or
        // dates to be text: such a column has no mix.
        if (scan && holds_no_text(column.attr("dtype"))) {
            display_result[py::int_(i)] = formatted(py::none(), f.global("np"));
            continue;
        }
        std::unique_ptr<ScannedColumn> scanned =
            scan ? scan_column(column, kernels::kNumbers) : nullptr;
        display_result[py::int_(i)] = scanned ? mixed_row(f, *scanned) : mixed_row(f, self, column);
    }
    return mixed_table(f, columns, display_result);
}

} // namespace zeka::quality_scan
