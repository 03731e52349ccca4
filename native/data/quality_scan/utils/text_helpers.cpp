#include "data/quality_scan/utils/text_helpers.hpp"

#include "common/python_ops.hpp"
#include "data/quality_scan/string_column.hpp"

#include <pybind11/numpy.h>

namespace zeka::quality_scan {

const char* const kStringBaseformDoc =
    "The base form of a string: `text.strip().lower()`.\n\n"
    "With `remove_special_characters` true, every special character is removed first. A "
    "special character is one for which `str.isalnum()` is false: punctuation, symbols, "
    "whitespace, control and combining characters. Letters and digits of every script "
    "(\"é\", \"ж\", \"٣\", \"中\") are not special. So the result is empty exactly when the "
    "text holds no letter or digit at all.";

const char* const kIsStringColumnDoc =
    "Whether a column holds strings: more than half of its non-missing values are instances "
    "of `str` (subclasses included, bytes not).\n\n"
    "Missing values are those `pandas.isna` reports and are left out of the share; a column "
    "without non-missing values is no string column. A strict majority is asked for because "
    "the column is then text by what most of it holds: a text column with a few numbers or "
    "stray objects is still checked as text, while a numeric column with a few stray strings "
    "is not measured as if it were text.";

const char* const kTruncateStringDoc =
    "`str(text)`, cut to at most `max_length` characters: a longer text keeps its first "
    "`max_length - 3` characters followed by \"...\". `max_length` must be at least 4.";

const char* const kFormatListDoc =
    "A short text for a list of labels: \"[]\" for an empty list, \"[a, b, c]\" (each label "
    "by `str`) for up to `max_items` labels, and for a longer list its first `max_items` "
    "labels followed by \"... +N more\", so the text stays short however long the list is.";

const char* const kFormatNumberDoc =
    "A number as text with thousands separators and `decimals` decimals: "
    "`format(value, f\",.{decimals}f\")`.";

namespace {

py::module_ builtins() {
    return py::module_::import("builtins");
}

std::string type_name(const py::handle& value) {
    return py::str(py::type::of(value).attr("__name__"));
}

// A count or length argument as Py_ssize_t. An int beyond that range is
// clipped to it, which for a limit on lengths or items means the same as the
// int itself: a huge limit keeps everything, a hugely negative one is refused.
Py_ssize_t clipped_size(const py::int_& value) {
    return PyNumber_AsSsize_t(value.ptr(), nullptr);
}

} // namespace

py::object string_baseform(Frame& f) {
    py::object text = f[0];
    if (!PyUnicode_Check(text.ptr()))
        throw py::type_error("string_baseform expects a str, not " + type_name(text));
    if (truthy(f[1])) {
        Py_ssize_t length = PyUnicode_GetLength(text.ptr());
        std::vector<Py_UCS4> kept;
        kept.reserve(static_cast<std::size_t>(length));
        for (Py_ssize_t i = 0; i < length; ++i) {
            Py_UCS4 c = PyUnicode_ReadChar(text.ptr(), i);
            if (Py_UNICODE_ISALNUM(c))
                kept.push_back(c);
        }
        PyObject* base = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, kept.data(),
                                                   static_cast<Py_ssize_t>(kept.size()));
        if (!base)
            throw py::error_already_set();
        text = py::reinterpret_steal<py::object>(base);
    } else {
        // A str subclass is read as the plain str it holds.
        text = py::str(text);
    }
    return text.attr("strip")().attr("lower")();
}

py::object is_string_column(Frame& f) {
    py::object column = f[0];
    py::object np = py::module_::import("numpy");
    py::object pd = py::module_::import("pandas");
    py::object dtype = py::getattr(column, "dtype", py::none());
    // A numpy numeric, boolean or datetime column holds no str at all.
    if (!dtype.is_none() && py::isinstance(dtype, np.attr("dtype")) &&
        !py::str(dtype.attr("kind")).equal(py::str("O")) &&
        !py::str(dtype.attr("kind")).equal(py::str("U")))
        return py::bool_(false);
    py::object values =
        py::hasattr(column, "to_numpy")
            ? column.attr("to_numpy")(py::arg("dtype") = builtins().attr("object"))
            : np.attr("asarray")(column, py::arg("dtype") = builtins().attr("object"));
    values = np.attr("ravel")(values);
    py::array objects = values;
    py::ssize_t n = py::len(values);
    std::size_t present = 0, strings = 0;
    for (py::ssize_t i = 0; i < n; ++i)
        strings += PyUnicode_Check(*static_cast<PyObject* const*>(objects.data(i))) ? 1 : 0;
    if (strings == static_cast<std::size_t>(n)) {
        present = strings; // a str is never missing: no need to look for missing values
    } else {
        py::array_t<bool> missing = pd.attr("isna")(values);
        auto flags = missing.unchecked<1>();
        strings = 0;
        for (py::ssize_t i = 0; i < n; ++i) {
            if (flags(i))
                continue;
            ++present;
            strings += PyUnicode_Check(*static_cast<PyObject* const*>(objects.data(i))) ? 1 : 0;
        }
    }
    return py::bool_(is_mostly_str(present, strings));
}

py::object truncate_string(Frame& f) {
    py::str text(f[0]);
    py::int_ limit(f[1]);
    Py_ssize_t max_length = clipped_size(limit);
    if (max_length < 4)
        throw py::value_error("max_length must be at least 4, not " +
                              py::str(limit).cast<std::string>());
    if (py::len(text) <= static_cast<std::size_t>(max_length))
        return text;
    py::object head = text[py::slice(0, max_length - 3, 1)];
    return head + py::str("...");
}

py::object format_list(Frame& f) {
    py::list values(f[0]);
    py::int_ limit(f[1]);
    Py_ssize_t max_items = clipped_size(limit);
    if (max_items < 1)
        throw py::value_error("max_items must be at least 1, not " +
                              py::str(limit).cast<std::string>());
    std::size_t n = values.size(), shown = std::min(n, static_cast<std::size_t>(max_items));
    py::list pieces;
    for (std::size_t i = 0; i < shown; ++i)
        pieces.append(py::str(values[i]));
    if (shown < n)
        pieces.append(py::str("... +{:,} more").attr("format")(n - shown));
    return py::str("[") + py::str(", ").attr("join")(pieces) + py::str("]");
}

py::object format_number(Frame& f) {
    py::object decimals = py::int_(f[1]);
    std::string spec = ",." + py::str(decimals).cast<std::string>() + "f";
    return builtins().attr("format")(f[0], spec);
}

} // namespace zeka::quality_scan
