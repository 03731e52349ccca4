// The string checks: over-long values and values made only of special
// characters. The per-value work runs in the text kernels.
#include "common/python_ops.hpp"
#include "data/quality_scan/column_scan.hpp"
#include "data/quality_scan/quality_scan/column_rows.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"
#include "data/quality_scan/quality_scan/text_column.hpp"
#include "data/quality_scan/string_column.hpp"
#include "kernels/text/text_scans.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <pybind11/numpy.h>

namespace zeka::quality_scan {

namespace {

// `float(value)` for an argument that must be a real number, refusing text
// (which float() would parse) with a TypeError.
py::object real_number(const py::object& value, const char* name) {
    if (!PyNumber_Check(value.ptr()))
        throw py::type_error(std::string(name) + " must be a real number, not '" +
                             py::str(py::type::of(value).attr("__name__")).cast<std::string>() +
                             "'");
    PyObject* converted = PyNumber_Float(value.ptr());
    if (!converted)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(converted);
}

// len(str(x)) for each of `items`, in order. A str holds its length in code
// points, so an exact str is measured without reading its text.
py::array_t<std::int64_t> text_lengths(const std::vector<PyObject*>& items) {
    py::array_t<std::int64_t> lengths(static_cast<py::ssize_t>(items.size()));
    std::int64_t* out = lengths.mutable_data();
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* value = items[i];
        if (PyUnicode_CheckExact(value)) {
            out[i] = PyUnicode_GetLength(value);
            continue;
        }
        // Anything else is measured by its own str(): ints, floats, bytes,
        // str subclasses with their own __str__, ...
        py::object text = py::reinterpret_steal<py::object>(PyObject_Str(value));
        if (!text)
            throw py::error_already_set();
        out[i] = PyUnicode_GetLength(text.ptr());
    }
    return lengths;
}

// The text lengths of a string column's present values, and where those
// values sit: `positions` into `index`, the column's row labels.
struct MeasuredColumn {
    py::array_t<std::int64_t> lengths;
    py::object index;
    std::vector<std::size_t> positions;

    // `index.take(at)`: the row labels at the given positions.
    py::object labels_at(const std::vector<std::size_t>& at) const {
        py::array_t<py::ssize_t> taken(static_cast<py::ssize_t>(at.size()));
        std::copy(at.begin(), at.end(), taken.mutable_data());
        return index.attr("take")(taken);
    }
};

// As written: `column.dropna()`, tested by the module's `is_string_column`.
std::optional<MeasuredColumn> measure_dropped(Frame& f, const py::object& column) {
    py::object dropped = column.attr("dropna")();
    if (!truthy(f.global("is_string_column")(dropped)))
        return std::nullopt;
    ObjectValues values = object_values(dropped);
    std::vector<PyObject*> items(values.items, values.items + values.size);
    std::vector<std::size_t> positions(values.size);
    std::iota(positions.begin(), positions.end(), std::size_t{0});
    return MeasuredColumn{text_lengths(items), dropped.attr("index"), std::move(positions)};
}

bool has_object_dtype(const py::object& column) {
    py::object dtype = column.attr("dtype");
    return py::isinstance(dtype, py::module_::import("numpy").attr("dtype")) &&
           py::str(dtype.attr("kind")).equal(py::str("O"));
}

// The same as measure_dropped while `is_string_column` is the package's own,
// for an object column, in one pass over its values: the missing values are
// found and skipped in place, and the string-column test (most present values
// are str) is counted on the way, without a dropped copy of the column.
std::optional<MeasuredColumn> measure_in_place(Frame& f, const py::object& column) {
    if (!has_object_dtype(column))
        return measure_dropped(f, column);
    ObjectValues values = object_values(column);
    std::vector<std::size_t> positions = present_positions(values, f.global("pd").attr("isna"));
    std::vector<PyObject*> items;
    items.reserve(positions.size());
    std::size_t strings = 0;
    for (std::size_t i : positions) {
        items.push_back(values.items[i]);
        strings += PyUnicode_Check(values.items[i]) ? 1 : 0;
    }
    if (!is_mostly_str(items.size(), strings))
        return std::nullopt;
    return MeasuredColumn{text_lengths(items), column.attr("index"), std::move(positions)};
}

// The sorted position that `quantile(q, interpolation="nearest")` picks
// among n values, or nothing where pandas releases may differ. numpy rounds
// (n - 1) * q half to even; older pandas hand numpy the percentage q * 100,
// which numpy divides by 100 again, and that q may differ in its last bit.
std::optional<std::size_t> nearest_position(std::size_t n, double q) {
    double as_given = std::nearbyint(static_cast<double>(n - 1) * q);
    double as_percentage = std::nearbyint(static_cast<double>(n - 1) * ((q * 100.0) / 100.0));
    if (as_given != as_percentage)
        return std::nullopt;
    return static_cast<std::size_t>(as_given);
}

// `lengths.quantile(q, interpolation="nearest")` of the Series `lengths`.
// The quantile is the value at one sorted position, which depends only on
// the count of values and on q; the value there is selected here. pandas
// itself checks q and gives the result's type, on the first value alone; where
// the position is in doubt it finds it on 0, 1, ..., n-1.
py::object nearest_quantile(const py::object& pd, const py::array_t<std::int64_t>& values,
                            const py::object& q) {
    auto n = static_cast<std::size_t>(values.size());
    py::object nearest = py::str("nearest");
    if (n == 0)
        return pd.attr("Series")(values).attr("quantile")(q, py::arg("interpolation") = nearest);
    py::object first = pd.attr("Series")(values[py::slice(0, 1, 1)])
                           .attr("quantile")(q, py::arg("interpolation") = nearest);
    std::optional<std::size_t> k = nearest_position(n, q.cast<double>());
    if (!k) {
        py::object positions = pd.attr("Series")(py::module_::import("numpy").attr("arange")(n));
        k = py::int_(positions.attr("quantile")(q, py::arg("interpolation") = nearest))
                .cast<std::size_t>();
    }
    std::vector<std::int64_t> sorted(values.data(), values.data() + n);
    auto at = sorted.begin() + static_cast<std::ptrdiff_t>(*k);
    std::nth_element(sorted.begin(), at, sorted.end());
    // The value in the type pandas gives (an integer or a float).
    return py::type::of(first)(*at);
}

// The positions of the lengths greater than `limit` (negative lengths, of
// missing values, are never long), compared here when the limit is an
// integer or a float (as numpy would compare them); nothing for any other
// limit, which pandas must compare.
std::optional<std::vector<py::ssize_t>> positions_over(const std::int64_t* data, std::size_t n,
                                                       const py::object& limit) {
    std::vector<py::ssize_t> over;
    auto keep_if = [&](auto is_long) {
        for (std::size_t i = 0; i < n; ++i)
            if (data[i] >= 0 && is_long(data[i]))
                over.push_back(static_cast<py::ssize_t>(i));
    };
    if (PyFloat_Check(limit.ptr())) {
        double bound = PyFloat_AS_DOUBLE(limit.ptr());
        keep_if([bound](std::int64_t length) { return static_cast<double>(length) > bound; });
        return over;
    }
    if (!PyIndex_Check(limit.ptr()) || PyBool_Check(limit.ptr()))
        return std::nullopt;
    py::object integer = py::reinterpret_steal<py::object>(PyNumber_Index(limit.ptr()));
    if (!integer)
        throw py::error_already_set();
    int overflow = 0;
    long long bound = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
    if (overflow > 0)
        return over; // nothing is longer than a bound beyond int64
    if (overflow < 0)
        bound = std::numeric_limits<long long>::min();
    keep_if([bound](std::int64_t length) { return length > bound; });
    return over;
}

// The row labels of the long values of a measured column.
py::list long_labels(Frame& f, const MeasuredColumn& column, const py::object& quantile_threshold,
                     const py::object& length_difference) {
    py::object pd = f.global("pd");
    py::object threshold_length = nearest_quantile(pd, column.lengths, quantile_threshold);
    py::object limit = threshold_length + length_difference;
    std::optional<std::vector<py::ssize_t>> over = positions_over(
        column.lengths.data(), static_cast<std::size_t>(column.lengths.size()), limit);
    if (over) {
        std::vector<std::size_t> long_positions;
        for (py::ssize_t j : *over)
            long_positions.push_back(column.positions[static_cast<std::size_t>(j)]);
        return py::list(column.labels_at(long_positions));
    }
    py::object string_length_column =
        pd.attr("Series")(column.lengths, py::arg("index") = column.labels_at(column.positions));
    py::object is_long = py::reinterpret_steal<py::object>(
        PyObject_RichCompare(string_length_column.ptr(), limit.ptr(), Py_GT));
    if (!is_long)
        throw py::error_already_set();
    return py::list(string_length_column.attr("loc")[is_long].attr("index"));
}

py::list list_of(std::initializer_list<py::object> items) {
    py::list out;
    for (const py::object& item : items)
        out.append(item);
    return out;
}

// The row of a column the checks' own per-value path measures.
py::list measured_row(Frame& f, const py::object& column, bool own_test,
                      const py::object& quantile_threshold, const py::object& length_difference) {
    std::optional<MeasuredColumn> measured =
        own_test ? measure_in_place(f, column) : measure_dropped(f, column);
    if (!measured)
        return list_of({py::int_(0), py::list()});
    py::list long_string_idx = long_labels(f, *measured, quantile_threshold, length_difference);
    return list_of({py::int_(py::len(long_string_idx)), f.global("format_list")(long_string_idx)});
}

// The lengths of the present values and their positions, from the facts.
MeasuredColumn measured_from_facts(const py::object& column, const kernels::ColumnFacts& facts) {
    MeasuredColumn out{
        py::array_t<std::int64_t>(facts.size - facts.missing), column.attr("index"), {}};
    std::int64_t* lengths = out.lengths.mutable_data();
    for (std::size_t i = 0; i < facts.row_lengths.size(); ++i)
        if (facts.row_lengths[i] >= 0) {
            *lengths++ = facts.row_lengths[i];
            out.positions.push_back(i);
        }
    return out;
}

} // namespace

py::list long_string_row(Frame& f, const py::object& column, const ScannedColumn& scanned,
                         const py::object& quantile_threshold,
                         const py::object& length_difference) {
    if (!is_string_column(scanned))
        return list_of({py::int_(0), py::list()});
    const kernels::ColumnFacts& facts = scanned.facts;
    py::object pd = f.global("pd");
    py::object nearest = py::str("nearest");
    auto n = static_cast<std::size_t>(facts.size - facts.missing);
    // pandas checks q and gives the quantile's type, on the first value alone.
    py::array_t<std::int64_t> first(1);
    first.mutable_data()[0] = *std::find_if(facts.row_lengths.begin(), facts.row_lengths.end(),
                                            [](std::int64_t length) { return length >= 0; });
    py::object typed = pd.attr("Series")(first).attr("quantile")(
        quantile_threshold, py::arg("interpolation") = nearest);
    std::optional<std::size_t> k = nearest_position(n, quantile_threshold.cast<double>());
    if (!k) {
        py::object positions = pd.attr("Series")(py::module_::import("numpy").attr("arange")(n));
        k = py::int_(
                positions.attr("quantile")(quantile_threshold, py::arg("interpolation") = nearest))
                .cast<std::size_t>();
    }
    py::object threshold_length =
        py::type::of(typed)(facts.length_at(static_cast<std::int64_t>(*k)));
    py::object limit = threshold_length + length_difference;
    std::optional<std::vector<py::ssize_t>> over =
        positions_over(facts.row_lengths.data(), facts.row_lengths.size(), limit);
    py::list long_string_idx;
    if (over) {
        py::array_t<py::ssize_t> taken(static_cast<py::ssize_t>(over->size()));
        std::copy(over->begin(), over->end(), taken.mutable_data());
        long_string_idx = py::list(column.attr("index").attr("take")(taken));
    } else {
        long_string_idx = long_labels(f, measured_from_facts(column, facts), quantile_threshold,
                                      length_difference);
    }
    return list_of({py::int_(py::len(long_string_idx)), f.global("format_list")(long_string_idx)});
}

py::list long_string_row(Frame& f, const py::object& column, const py::object& quantile_threshold,
                         const py::object& length_difference) {
    // The package's own string-column test may be counted during the scan.
    bool own_test = f.global("is_string_column").is(f.captured(1));
    // An object column alone is measured quicker by its str objects' own
    // lengths (measure_in_place) than by a scan that also views their text.
    if (own_test && holds_no_text(column.attr("dtype")))
        return list_of({py::int_(0), py::list()});
    if (own_test && !has_object_dtype(column)) {
        std::unique_ptr<ScannedColumn> scanned =
            scan_column(column, kernels::kLengths | kernels::kRowLengths);
        if (scanned)
            return long_string_row(f, column, *scanned, quantile_threshold, length_difference);
    }
    return measured_row(f, column, own_test, quantile_threshold, length_difference);
}

py::object real_threshold(const py::object& quantile_threshold) {
    return real_number(quantile_threshold, "quantile_threshold");
}

py::object long_string_table(Frame& f, const py::object& columns, const py::list& display_result) {
    py::object result = f.global("pd").attr("DataFrame")(
        display_result,
        py::arg("columns") = list_of({py::str("Long String Num"), py::str("Long String Index")}));
    result.attr("index") = columns;
    return result;
}

py::list special_characters_row(const py::object& column_name, const py::object& special_samples,
                                const py::object& size, const py::object& n_most_common) {
    if (!truthy(special_samples))
        return list_of({column_name, py::str("0.0%"), py::list()});
    py::object by_count = py::module_::import("operator").attr("itemgetter")(1);
    py::object total = builtins().attr("sum")(special_samples.attr("values")());
    py::object share = true_divide(total, size);
    py::object percent = py::str(share * py::int_(100)) + py::str("%");
    py::object ordered = builtins().attr("sorted")(
        special_samples.attr("items")(), py::arg("key") = by_count, py::arg("reverse") = true);
    py::object cut =
        py::reinterpret_steal<py::object>(PySlice_New(nullptr, n_most_common.ptr(), nullptr));
    py::list top_n_samples_values;
    for (py::handle item : ordered[cut])
        top_n_samples_values.append(item[py::int_(0)]);
    return list_of({column_name, percent, top_n_samples_values});
}

py::dict special_counts(const ScannedColumn& scanned) {
    py::dict counts;
    for (const kernels::SpecialCount& special : scanned.facts.specials)
        counts[scanned.value_at(special.first, special.text)] = py::int_(special.count);
    return counts;
}

py::object special_characters_table(Frame& f, const py::list& display_result) {
    py::object table = f.global("pd").attr("DataFrame")(
        display_result,
        py::arg("columns") = list_of({py::str("Column Name"), py::str("% Special-Only Samples"),
                                      py::str("Most Common Special-Only Samples")}));
    return table.attr("set_index")(list_of({py::str("Column Name")}));
}

py::object long_string(Frame& f) {
    py::object self = f[0], length_difference = f[2];
    py::object quantile_threshold = real_threshold(f[1]);
    py::object data = self.attr("data");
    py::object columns = data.attr("columns");
    py::list display_result;
    for (std::size_t i = 0, n = column_count(data); i < n; ++i)
        display_result.append(
            long_string_row(f, column_at(data, i), quantile_threshold, length_difference));
    return long_string_table(f, columns, display_result);
}

py::object special_characters(Frame& f) {
    py::object self = f[0], n_most_common = f[1];
    py::object data = self.attr("data");
    py::object columns = data.attr("columns");
    py::list display_result;
    for (std::size_t i = 0, n = column_count(data); i < n; ++i) {
        py::object column_data = column_at(data, i);
        py::object special_samples = self.attr("_get_special_samples")(column_data);
        display_result.append(special_characters_row(columns[py::int_(i)], special_samples,
                                                     column_data.attr("size"), n_most_common));
    }
    return special_characters_table(f, display_result);
}

namespace {

py::object zero(Frame&) {
    return py::int_(0);
}

bool is_nonempty_str(PyObject* value) {
    int is_str = PyObject_IsInstance(value, reinterpret_cast<PyObject*>(&PyUnicode_Type));
    if (is_str < 0)
        throw py::error_already_set();
    if (!is_str)
        return false;
    Py_ssize_t length = PyObject_Length(value);
    if (length < 0)
        throw py::error_already_set();
    return length >= 1;
}

// Whether `string_baseform(value, True)` is empty, by a call.
bool baseform_is_empty(const py::object& string_baseform, PyObject* value) {
    py::object base = string_baseform(py::reinterpret_borrow<py::object>(value), true);
    return py::len(base) == 0;
}

// `counts[sample] += 1` for every flagged value, in order. The counting
// runs on a plain dict of positions first, and the mapping receives each
// distinct value once, in order of first occurrence, with its final count:
// the same mapping, without a Python int per increment.
void count_samples(const py::object& counts, const ObjectValues& values,
                   const std::vector<std::uint8_t>& flagged) {
    py::dict position;
    std::vector<PyObject*> keys;
    std::vector<long long> tally;
    for (std::size_t i = 0; i < values.size; ++i) {
        if (!flagged[i])
            continue;
        PyObject* sample = values.items[i];
        PyObject* found = PyDict_GetItemWithError(position.ptr(), sample);
        if (found) {
            ++tally[PyLong_AsSize_t(found)];
            continue;
        }
        if (PyErr_Occurred())
            throw py::error_already_set();
        py::int_ index(keys.size());
        if (PyDict_SetItem(position.ptr(), sample, index.ptr()) != 0)
            throw py::error_already_set();
        keys.push_back(sample);
        tally.push_back(1);
    }
    for (std::size_t k = 0; k < keys.size(); ++k) {
        py::object key = py::reinterpret_borrow<py::object>(keys[k]);
        py::object current = counts[key];
        counts[key] = current + py::int_(tally[k]);
    }
}

} // namespace

py::object get_special_samples(Frame& f) {
    py::object column_data = f[0];
    std::string inferred = py::str(f.global("infer_dtype")(column_data));
    if (inferred == "integer" || inferred == "decimal" || inferred == "floating")
        return py::none();
    FunctionDef factory{
        "<lambda>", "DataIntegrityCheck._get_special_samples.<locals>.<lambda>", {}, zero, ""};
    py::object samples_to_count =
        f.global("defaultdict")(make_function(std::move(factory), f.globals()));
    py::object string_baseform = f.global("string_baseform");
    if (!string_baseform.is(f.captured(0))) {
        // A replaced string_baseform is called for every non-empty str, in order.
        ObjectValues values = object_values(column_data);
        std::vector<std::uint8_t> special(values.size);
        for (std::size_t i = 0; i < values.size; ++i) {
            PyObject* sample = values.items[i];
            special[i] = is_nonempty_str(sample) && baseform_is_empty(string_baseform, sample);
        }
        count_samples(samples_to_count, values, special);
        return truthy(samples_to_count) ? samples_to_count : py::none();
    }

    // Text not held as objects is read where it lies; an object column keeps
    // the object walk below, which for this one check does less.
    std::unique_ptr<ScannedColumn> scanned;
    if (!has_object_dtype(column_data))
        scanned = scan_column(column_data, kernels::kSpecial);
    if (scanned) {
        for (const kernels::SpecialCount& special : scanned->facts.specials)
            samples_to_count[scanned->value_at(special.first, special.text)] =
                py::int_(special.count);
        return truthy(samples_to_count) ? samples_to_count : py::none();
    }
    // Values only Python can judge (str subclasses, other objects): by the
    // object walk, with a call for each str subclass.
    ObjectValues values = object_values(column_data);
    TextColumn texts(values.size);
    std::vector<std::pair<std::size_t, bool>> tested; // str subclasses, by a call
    for (std::size_t i = 0; i < values.size; ++i) {
        PyObject* sample = values.items[i];
        if (PyUnicode_CheckExact(sample)) {
            texts.add(sample); // an empty text is never special-only
            continue;
        }
        texts.skip();
        if (is_nonempty_str(sample))
            tested.emplace_back(i, baseform_is_empty(string_baseform, sample));
    }
    texts.finish();
    std::vector<std::uint8_t> special =
        mark_texts(values.size, texts, kernels::mark_special_only, tested);
    count_samples(samples_to_count, values, special);
    return truthy(samples_to_count) ? samples_to_count : py::none();
}

} // namespace zeka::quality_scan
