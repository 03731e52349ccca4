// The string checks: over-long values and values made only of special
// characters. The per-value work runs in the text kernels.
#include "common/python_ops.hpp"
#include "data/quality_scan/quality_scan/data_integrity_check.hpp"
#include "data/quality_scan/quality_scan/text_column.hpp"
#include "kernels/text/text_scans.hpp"

#include <algorithm>
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

// len(str(x)) for every value of `column`, in order.
py::array_t<std::int64_t> text_lengths(const py::object& column) {
    ObjectValues values = object_values(column);
    py::array_t<std::int64_t> lengths(static_cast<py::ssize_t>(values.size));
    std::int64_t* out = lengths.mutable_data();
    TextColumn texts(values.size);
    std::vector<std::pair<std::size_t, std::int64_t>> measured; // values that are no exact str
    for (std::size_t i = 0; i < values.size; ++i) {
        PyObject* value = values.items[i];
        if (PyUnicode_CheckExact(value)) {
            texts.add(value);
            continue;
        }
        texts.skip();
        // Anything else is measured by its own str(): ints, floats, bytes,
        // str subclasses with their own __str__, ...
        py::object text = py::reinterpret_steal<py::object>(PyObject_Str(value));
        if (!text)
            throw py::error_already_set();
        measured.emplace_back(i, PyUnicode_GetLength(text.ptr()));
    }
    texts.finish();
    {
        // No GIL needed: the kernel reads only our private copy's str data and our own buffers.
        py::gil_scoped_release release;
        kernels::text_lengths(texts.views().data(), texts.views().size(), out);
    }
    for (auto [i, length] : measured)
        out[i] = length;
    return lengths;
}

// `lengths.quantile(q, interpolation="nearest")` of the Series `lengths`.
// The quantile picks the value at one sorted position, which depends only on
// the count of values and on q: pandas finds that position on 0, 1, ..., n-1
// (where each value is its position, and selection is quick), and the value
// there is selected here. Selecting among many equal lengths is what makes
// the direct call slow.
py::object nearest_quantile(const py::object& pd, py::array_t<std::int64_t>& values,
                            const py::object& lengths, const py::object& q) {
    auto n = static_cast<std::size_t>(values.size());
    if (n == 0)
        return lengths.attr("quantile")(q, py::arg("interpolation") = "nearest");
    py::object positions = pd.attr("Series")(py::module_::import("numpy").attr("arange")(n));
    py::object position = positions.attr("quantile")(q, py::arg("interpolation") = "nearest");
    auto k = py::int_(position).cast<std::size_t>();
    std::vector<std::int64_t> sorted(values.data(), values.data() + n);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
    // The value in the type pandas gives (an integer or a float).
    return py::type::of(position)(sorted[k]);
}

py::list list_of(std::initializer_list<py::object> items) {
    py::list out;
    for (const py::object& item : items)
        out.append(item);
    return out;
}

} // namespace

py::object long_string(Frame& f) {
    py::object self = f[0], length_difference = f[2];
    py::object quantile_threshold = real_number(f[1], "quantile_threshold");
    py::object data = self.attr("data");
    py::object pd = f.global("pd");
    py::list display_result;
    for (std::size_t i = 0, n = column_count(data); i < n; ++i) {
        py::object column = column_at(data, i).attr("dropna")();
        if (!truthy(f.global("is_string_column")(column))) {
            display_result.append(list_of({py::int_(0), py::list()}));
            continue;
        }
        py::array_t<std::int64_t> lengths = text_lengths(column);
        py::object string_length_column =
            pd.attr("Series")(lengths, py::arg("index") = column.attr("index"));
        py::object threshold_length =
            nearest_quantile(pd, lengths, string_length_column, quantile_threshold);
        py::object limit = threshold_length + length_difference;
        py::object is_long = py::reinterpret_steal<py::object>(
            PyObject_RichCompare(string_length_column.ptr(), limit.ptr(), Py_GT));
        if (!is_long)
            throw py::error_already_set();
        py::list long_string_idx(string_length_column.attr("loc")[is_long].attr("index"));
        display_result.append(list_of(
            {py::int_(py::len(long_string_idx)), f.global("format_list")(long_string_idx)}));
    }
    py::object result = pd.attr("DataFrame")(
        display_result,
        py::arg("columns") = list_of({py::str("Long String Num"), py::str("Long String Index")}));
    result.attr("index") = data.attr("columns");
    return result;
}

py::object special_characters(Frame& f) {
    py::object self = f[0], n_most_common = f[1];
    py::object data = self.attr("data");
    py::object columns = data.attr("columns");
    py::object by_count = py::module_::import("operator").attr("itemgetter")(1);
    py::list display_result;
    for (std::size_t i = 0, n = column_count(data); i < n; ++i) {
        py::object column_name = columns[py::int_(i)];
        py::object column_data = column_at(data, i);
        py::object special_samples = self.attr("_get_special_samples")(column_data);
        if (!truthy(special_samples)) {
            display_result.append(list_of({column_name, py::str("0.0%"), py::list()}));
            continue;
        }
        py::object total = builtins().attr("sum")(special_samples.attr("values")());
        py::object share = true_divide(total, column_data.attr("size"));
        py::object percent = py::str(share * py::int_(100)) + py::str("%");
        py::object ordered = builtins().attr("sorted")(
            special_samples.attr("items")(), py::arg("key") = by_count, py::arg("reverse") = true);
        py::object cut =
            py::reinterpret_steal<py::object>(PySlice_New(nullptr, n_most_common.ptr(), nullptr));
        py::list top_n_samples_values;
        for (py::handle item : ordered[cut])
            top_n_samples_values.append(item[py::int_(0)]);
        display_result.append(list_of({column_name, percent, top_n_samples_values}));
    }
    py::object table = f.global("pd").attr("DataFrame")(
        display_result,
        py::arg("columns") = list_of({py::str("Column Name"), py::str("% Special-Only Samples"),
                                      py::str("Most Common Special-Only Samples")}));
    return table.attr("set_index")(list_of({py::str("Column Name")}));
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
    ObjectValues values = object_values(column_data);

    if (!string_baseform.is(f.captured(0))) {
        // A replaced string_baseform is called for every non-empty str, in order.
        std::vector<std::uint8_t> special(values.size);
        for (std::size_t i = 0; i < values.size; ++i) {
            PyObject* sample = values.items[i];
            special[i] = is_nonempty_str(sample) && baseform_is_empty(string_baseform, sample);
        }
        count_samples(samples_to_count, values, special);
        return truthy(samples_to_count) ? samples_to_count : py::none();
    }

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
