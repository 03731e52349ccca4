#include "data/quality_scan/column_scan.hpp"

#include "data/quality_scan/string_column.hpp"
#include "kernels/rows/row_hashes.hpp"

#include <cmath>
#include <cstring>
#include <pybind11/numpy.h>
#include <stdexcept>
#include <string_view>
#include <type_traits>

namespace zeka::quality_scan {

namespace {

template <typename T> T* capsule_pointer(const py::handle& capsule, const char* name) {
    void* pointer = PyCapsule_GetPointer(capsule.ptr(), name);
    if (!pointer)
        throw py::error_already_set();
    return static_cast<T*>(pointer);
}

// Takes the struct out of its capsule: the capsule's destructor then sees a
// released struct and leaves it to us (the consumer's part of the protocol).
template <typename T> T take(const py::handle& capsule, const char* name) {
    T* inside = capsule_pointer<T>(capsule, name);
    T out = *inside;
    inside->release = nullptr;
    return out;
}

[[noreturn]] void stream_error(ArrowArrayStream& stream, int code, const char* step) {
    const char* message = stream.get_last_error ? stream.get_last_error(&stream) : nullptr;
    std::string text = std::string("Arrow stream failed to ") + step + " (error " +
                       std::to_string(code) + (message ? std::string("): ") + message : ")");
    stream.release(&stream);
    throw py::value_error(text);
}

} // namespace

ArrowChunks::~ArrowChunks() {
    for (ArrowArray& chunk : chunks_)
        if (chunk.release)
            chunk.release(&chunk);
    if (schema_.release)
        schema_.release(&schema_);
}

bool ArrowChunks::import_from(const py::object& exporter) {
    if (py::hasattr(exporter, "__arrow_c_stream__")) {
        py::object capsule = exporter.attr("__arrow_c_stream__")();
        ArrowArrayStream stream = take<ArrowArrayStream>(capsule, "arrow_array_stream");
        if (!stream.release)
            throw py::value_error("Arrow stream was released already");
        if (int code = stream.get_schema(&stream, &schema_))
            stream_error(stream, code, "give its schema");
        for (;;) {
            ArrowArray chunk{};
            if (int code = stream.get_next(&stream, &chunk))
                stream_error(stream, code, "give its next chunk");
            if (!chunk.release)
                break; // the end of the stream
            chunks_.push_back(chunk);
        }
        stream.release(&stream);
        return true;
    }
    if (py::hasattr(exporter, "__arrow_c_array__")) {
        py::tuple capsules = exporter.attr("__arrow_c_array__")();
        if (capsules.size() != 2)
            throw py::value_error("__arrow_c_array__ must give (schema, array)");
        schema_ = take<ArrowSchema>(capsules[0], "arrow_schema");
        chunks_.push_back(take<ArrowArray>(capsules[1], "arrow_array"));
        return true;
    }
    return false;
}

py::object ScannedColumn::value_at(std::int64_t position, kernels::TextView text) const {
    if (storage == Storage::Object)
        return py::reinterpret_borrow<py::object>(values.items[position]);
    PyObject* decoded =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
    if (!decoded)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(decoded);
}

const char* ScannedColumn::storage_name() const {
    switch (storage) {
    case Storage::Object:
        return "object";
    case Storage::Arrow:
        return "arrow";
    case Storage::Categorical:
        return "categorical";
    case Storage::NoText:
        return "none";
    }
    return "";
}

std::optional<bool> single_value(const ScannedColumn& scanned) {
    const kernels::ColumnFacts& facts = scanned.facts;
    std::int64_t present = facts.size - facts.missing;
    if (present == 0)
        return false;
    if (scanned.storage == ScannedColumn::Storage::NoText)
        return scanned.single;
    if (facts.texts == 0)
        return std::nullopt;
    return facts.texts == present && !facts.texts_differ;
}

bool is_string_column(const ScannedColumn& scanned) {
    const kernels::ColumnFacts& facts = scanned.facts;
    return is_mostly_str(static_cast<std::size_t>(facts.size - facts.missing),
                         static_cast<std::size_t>(facts.texts));
}

namespace {

using Facts = kernels::ColumnFacts;
using Storage = ScannedColumn::Storage;

// The Arrow export of an Arrow-backed pandas column, or nothing: the
// column's own export (pandas' PyCapsule methods) where it has one, else
// that of the Arrow data its array hands pyarrow. An export that raises
// leaves the column to the object path, which reads it as pandas does.
std::unique_ptr<ArrowChunks> arrow_export(const py::object& column) {
    py::object array = column.attr("array");
    for (int attempt = 0; attempt < 3; ++attempt) {
        try {
            py::object exporter = attempt == 0   ? array
                                  : attempt == 1 ? column
                                  : py::hasattr(array, "__arrow_array__")
                                      ? array.attr("__arrow_array__")()
                                      : py::object(py::none());
            auto chunks = std::make_unique<ArrowChunks>();
            if (chunks->import_from(exporter))
                return chunks;
        } catch (py::error_already_set&) {
            // What was imported is released again; the object path decides.
            return nullptr;
        }
    }
    return nullptr;
}

} // namespace

bool is_arrow_backed(const py::object& dtype) {
    py::module_ pd = py::module_::import("pandas");
    if (py::hasattr(pd, "ArrowDtype") && py::isinstance(dtype, pd.attr("ArrowDtype")))
        return true;
    if (!py::isinstance(dtype, pd.attr("StringDtype")))
        return false;
    std::string storage = py::str(dtype.attr("storage"));
    return storage.rfind("pyarrow", 0) == 0;
}

namespace {

// Reads the chunks of an Arrow text export in place; false when the export
// is of another type (the column is then read as objects).
bool scan_arrow_chunks(ArrowChunks& arrow, Facts& facts) {
    if (!kernels::is_text_format(arrow.format()) || arrow.has_dictionary())
        return false;
    std::int64_t rows = 0;
    for (const ArrowArray& chunk : arrow.chunks())
        rows += chunk.length;
    if (facts.what() & kernels::kRowLengths)
        facts.row_lengths.reserve(static_cast<std::size_t>(rows));
    const char* format = arrow.format();
    // No GIL needed: only the exported Arrow buffers, which we hold, are read.
    py::gil_scoped_release release;
    for (const ArrowArray& chunk : arrow.chunks())
        kernels::scan_arrow(format, chunk, facts);
    return true;
}

bool is_nan_float(PyObject* value) {
    return PyFloat_CheckExact(value) && std::isnan(PyFloat_AS_DOUBLE(value));
}

// The object walk: exact str values are viewed, None, pd.NA and float NaN are
// missing, exact int, bool and float values are numbers measured by their
// str(); anything else leaves the column to the checks' own path.
bool scan_objects(ScannedColumn& scanned, const py::object& column) {
    scanned.values = object_values(column);
    const ObjectValues& values = scanned.values;
    scanned.texts = std::make_unique<TextColumn>(values.size);
    TextColumn& texts = *scanned.texts;
    PyObject* na = py::module_::import("pandas").attr("NA").ptr();
    std::vector<std::uint8_t> kinds(values.size);
    // A str knows its length in code points: no need to count them again.
    std::vector<std::int64_t> lengths(values.size);
    std::vector<kernels::ValueFacts> other_facts;
    bool measure = scanned.facts.what() & (kernels::kLengths | kernels::kRowLengths);
    for (std::size_t i = 0; i < values.size; ++i) {
        PyObject* value = values.items[i];
        if (PyUnicode_CheckExact(value)) {
            texts.add(value);
            kinds[i] = 1;
            lengths[i] = PyUnicode_GET_LENGTH(value);
            continue;
        }
        texts.skip();
        if (value == Py_None || value == na || is_nan_float(value))
            continue;
        if (!PyLong_CheckExact(value) && !PyBool_Check(value) && !PyFloat_CheckExact(value))
            return false;
        // An int too large for a float, or for its str(), is the checks' to
        // judge (they raise, or do not look at it).
        if (PyLong_CheckExact(value) && PyLong_AsDouble(value) == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        kinds[i] = 2;
        kernels::ValueFacts f;
        f.number = true;
        if (measure) {
            py::object text = py::reinterpret_steal<py::object>(PyObject_Str(value));
            if (!text) {
                PyErr_Clear();
                return false;
            }
            f.length = PyUnicode_GetLength(text.ptr());
        }
        other_facts.push_back(f);
        scanned.others.push_back(i);
    }
    texts.finish();
    if (scanned.facts.what() & kernels::kRowLengths)
        scanned.facts.row_lengths.reserve(values.size);
    // No GIL needed: the kernel reads our private copy's str data and our own buffers.
    py::gil_scoped_release release;
    kernels::scan_views(texts.views().data(), lengths.data(), kinds.data(), values.size,
                        other_facts.data(), scanned.facts);
    return true;
}

template <typename Code>
void scan_code_array(const py::array& codes, const kernels::ValueTable& table, Facts& facts) {
    const auto* data = static_cast<const Code*>(codes.data());
    auto n = static_cast<std::size_t>(codes.size());
    if (facts.what() & kernels::kRowLengths)
        facts.row_lengths.reserve(n);
    // No GIL needed: the codes are our private copy, the table our own.
    py::gil_scoped_release release;
    kernels::scan_codes(data, n, table, facts);
}

// A categorical column of text categories: each category measured once,
// the rows counted by their codes.
bool scan_categorical(ScannedColumn& scanned, const py::object& column) {
    py::object np = py::module_::import("numpy");
    py::object pd = py::module_::import("pandas");
    py::object categories = column.attr("dtype").attr("categories");
    py::object category_column = pd.attr("Series")(categories.attr("array"));
    kernels::ValueTable& table = scanned.categories;
    unsigned what = scanned.facts.what();
    if (is_arrow_backed(category_column.attr("dtype"))) {
        scanned.arrow = arrow_export(category_column);
        if (!scanned.arrow || !kernels::is_text_format(scanned.arrow->format()) ||
            scanned.arrow->has_dictionary())
            return false;
        const char* format = scanned.arrow->format();
        for (const ArrowArray& chunk : scanned.arrow->chunks())
            kernels::tabulate_arrow(format, chunk, scanned.facts.classes(), what, table);
    } else {
        scanned.values = object_values(category_column);
        scanned.texts = std::make_unique<TextColumn>(scanned.values.size);
        for (std::size_t i = 0; i < scanned.values.size; ++i) {
            if (!PyUnicode_CheckExact(scanned.values.items[i]))
                return false;
            scanned.texts->add(scanned.values.items[i]);
        }
        scanned.texts->finish();
        kernels::tabulate_views(scanned.texts->views().data(), scanned.values.size,
                                scanned.facts.classes(), what, table);
    }
    py::array codes = np.attr("array")(column.attr("array").attr("codes"), py::arg("copy") = true);
    switch (codes.dtype().itemsize()) {
    case 1:
        scan_code_array<std::int8_t>(codes, table, scanned.facts);
        break;
    case 2:
        scan_code_array<std::int16_t>(codes, table, scanned.facts);
        break;
    case 4:
        scan_code_array<std::int32_t>(codes, table, scanned.facts);
        break;
    default:
        scan_code_array<std::int64_t>(np.attr("asarray")(codes, "int64"), table, scanned.facts);
    }
    return true;
}

} // namespace

// A numpy column of a kind that holds no str (numbers, booleans, dates):
// the values that are not missing are never text.
bool holds_no_text(const py::object& dtype) {
    py::object np = py::module_::import("numpy");
    if (!py::isinstance(dtype, np.attr("dtype")))
        return false;
    std::string kind = py::str(dtype.attr("kind"));
    return kind != "O" && kind != "U" && kind != "S" && kind != "V";
}

namespace {

// Missing values and whether the present values are all equal, for a
// strided numpy array of T: NaN is missing (as isna and nunique count it),
// and equality is ==, so 0.0 and -0.0 are one value as in pandas' hashing.
template <typename T> void summarize_strided(const py::array& values, ScannedColumn& scanned) {
    const char* data = static_cast<const char*>(values.data());
    auto n = static_cast<std::size_t>(values.size());
    py::ssize_t stride = values.ndim() == 1 ? values.strides(0) : py::ssize_t{sizeof(T)};
    std::int64_t missing = 0;
    bool differ = false, any = false;
    T first{};
    {
        // The GIL stays held: the array is the frame's own memory, which
        // another thread may write to between two bytecodes.
        for (std::size_t i = 0; i < n; ++i) {
            T value;
            std::memcpy(&value, data + static_cast<py::ssize_t>(i) * stride, sizeof(T));
            if constexpr (std::is_floating_point_v<T>) {
                if (std::isnan(value)) {
                    ++missing;
                    continue;
                }
            }
            if (!any) {
                first = value;
                any = true;
            } else if (!(value == first)) {
                differ = true;
            }
        }
    }
    scanned.facts.size = static_cast<std::int64_t>(n);
    scanned.facts.missing = missing;
    scanned.single = any && !differ;
}

void summarize_numbers(const py::object& column, ScannedColumn& scanned) {
    py::object values = column.attr("to_numpy")();
    if (py::isinstance<py::array>(values)) {
        py::array array = values;
        char kind = array.dtype().kind();
        auto size = array.dtype().itemsize();
        if (array.ndim() == 1) {
            if (kind == 'f' && size == 8)
                return summarize_strided<double>(array, scanned);
            if (kind == 'f' && size == 4)
                return summarize_strided<float>(array, scanned);
            if ((kind == 'i' || kind == 'u') && size == 8)
                return summarize_strided<std::uint64_t>(array, scanned);
            if ((kind == 'i' || kind == 'u') && size == 4)
                return summarize_strided<std::uint32_t>(array, scanned);
            if ((kind == 'i' || kind == 'u' || kind == 'b') && size == 1)
                return summarize_strided<std::uint8_t>(array, scanned);
        }
    }
    // Other kinds (dates, float16, ...): pandas counts and tells.
    scanned.facts.size = static_cast<std::int64_t>(py::len(column));
    scanned.facts.missing = column.attr("isna")().attr("sum")().cast<std::int64_t>();
}

// The counts of an Arrow text export: null counts add, and the first text
// that differs from the first ends the comparison.
bool count_arrow(const ArrowChunks& arrow, bool want_missing, bool want_single,
                 ColumnCounts& counts) {
    if (!kernels::is_text_format(arrow.format()) || arrow.has_dictionary())
        return false;
    // No GIL needed: only the exported Arrow buffers, which we hold, are read.
    py::gil_scoped_release release;
    if (want_missing) {
        std::int64_t missing = 0;
        for (const ArrowArray& chunk : arrow.chunks())
            missing += kernels::null_count(chunk);
        counts.missing = missing;
    }
    if (want_single) {
        std::optional<kernels::TextView> first;
        bool differ = false;
        for (const ArrowArray& chunk : arrow.chunks())
            if ((differ = kernels::text_differs(arrow.format(), chunk, first)))
                break;
        counts.single = first && !differ;
    }
    return true;
}

// Categories are distinct, so codes compare as the values do; -1 is missing.
template <typename Code> void count_codes(const py::array& codes, ColumnCounts& counts) {
    const auto* data = static_cast<const Code*>(codes.data());
    std::int64_t missing = 0;
    std::optional<Code> first;
    bool differ = false;
    for (py::ssize_t i = 0, n = codes.size(); i < n; ++i) {
        if (data[i] < 0)
            ++missing;
        else if (!first)
            first = data[i];
        else
            differ = differ || data[i] != *first;
    }
    counts.missing = missing;
    counts.single = first && !differ;
}

void count_categorical(const py::object& column, ColumnCounts& counts) {
    py::array codes =
        py::module_::import("numpy").attr("ascontiguousarray")(column.attr("array").attr("codes"));
    switch (codes.dtype().itemsize()) {
    case 1:
        return count_codes<std::int8_t>(codes, counts);
    case 2:
        return count_codes<std::int16_t>(codes, counts);
    case 4:
        return count_codes<std::int32_t>(codes, counts);
    default:
        return count_codes<std::int64_t>(codes, counts);
    }
}

// The object walk of the simple checks, over the column's own values: None,
// pd.NA and float NaN are missing, exact str, int, bool and float values are
// present and compared with ==, as pandas' hashing compares them; a value of
// any other type leaves both counts to pandas. The GIL stays held and no
// Python code runs, so no other thread changes the values meanwhile.
void count_objects(const py::array& values, bool want_single, ColumnCounts& counts) {
    PyObject* na = py::module_::import("pandas").attr("NA").ptr();
    const char* data = static_cast<const char*>(values.data());
    py::ssize_t stride = values.strides(0);
    std::int64_t missing = 0;
    PyObject* first = nullptr;
    bool differ = false;
    for (py::ssize_t i = 0, n = values.shape(0); i < n; ++i) {
        PyObject* value;
        std::memcpy(&value, data + i * stride, sizeof value);
        if (value == Py_None || value == na || is_nan_float(value)) {
            ++missing;
            continue;
        }
        if (!PyUnicode_CheckExact(value) && !PyLong_CheckExact(value) && !PyBool_Check(value) &&
            !PyFloat_CheckExact(value))
            return;
        if (!want_single || differ)
            continue;
        if (!first) {
            first = value;
            continue;
        }
        int equal = PyObject_RichCompareBool(value, first, Py_EQ);
        if (equal < 0) {
            PyErr_Clear();
            return;
        }
        differ = !equal;
    }
    counts.missing = missing;
    if (want_single)
        counts.single = first && !differ;
}

// The hashes of an object column's values, or nothing for a value of
// another type. None, pd.NA and NaN are three values, as pandas' duplicated
// tells them apart.
std::optional<std::vector<std::uint64_t>> object_hashes(const py::array& values) {
    constexpr std::uint64_t kNone = 0x6E6F6E65ULL, kNA = 0x4E41ULL, kNaN = 0x4E614EULL;
    PyObject* na = py::module_::import("pandas").attr("NA").ptr();
    const char* data = static_cast<const char*>(values.data());
    py::ssize_t stride = values.strides(0);
    std::vector<std::uint64_t> hashes(static_cast<std::size_t>(values.shape(0)));
    // The GIL stays held and only built-in types' hashes run: no other
    // thread changes the values meanwhile.
    for (std::size_t i = 0; i < hashes.size(); ++i) {
        PyObject* value;
        std::memcpy(&value, data + static_cast<py::ssize_t>(i) * stride, sizeof value);
        if (value == Py_None) {
            hashes[i] = kNone;
        } else if (value == na) {
            hashes[i] = kNA;
        } else if (is_nan_float(value)) {
            hashes[i] = kNaN;
        } else if (PyUnicode_CheckExact(value) || PyLong_CheckExact(value) || PyBool_Check(value) ||
                   PyFloat_CheckExact(value)) {
            Py_hash_t hash = PyObject_Hash(value);
            if (hash == -1)
                throw py::error_already_set();
            hashes[i] = static_cast<std::uint64_t>(hash);
        } else {
            return std::nullopt;
        }
    }
    return hashes;
}

bool mix_numbers(const py::array& values, std::uint64_t* rows) {
    char kind = values.dtype().kind();
    auto width = static_cast<std::size_t>(values.dtype().itemsize());
    const char* data = static_cast<const char*>(values.data());
    auto n = static_cast<std::size_t>(values.shape(0));
    py::ssize_t stride = values.strides(0);
    // The GIL stays held: the array is the frame's own memory.
    if (kind == 'f' && width == 8)
        kernels::mix_floats<double>(data, stride, n, rows);
    else if (kind == 'f' && width == 4)
        kernels::mix_floats<float>(data, stride, n, rows);
    else if (std::string_view("iubMm").find(kind) != std::string_view::npos &&
             (width == 1 || width == 2 || width == 4 || width == 8))
        kernels::mix_integers(data, stride, width, n, rows);
    else
        return false;
    return true;
}

bool mix_arrow(const ArrowChunks& arrow, std::size_t n, std::uint64_t* rows) {
    constexpr std::uint64_t kMissing = 0x6D697373ULL;
    if (!kernels::is_text_format(arrow.format()) || arrow.has_dictionary())
        return false;
    std::vector<std::uint64_t> hashes;
    hashes.reserve(n);
    // No GIL needed: only the exported Arrow buffers, which we hold, are read.
    py::gil_scoped_release release;
    for (const ArrowArray& chunk : arrow.chunks())
        kernels::hash_arrow(arrow.format(), chunk, kMissing, hashes);
    if (hashes.size() != n)
        throw std::invalid_argument("Arrow export holds another number of values than its column");
    kernels::mix_hashes(hashes.data(), n, rows);
    return true;
}

} // namespace

bool mix_column(const py::object& column, std::uint64_t* rows) {
    py::object dtype = column.attr("dtype");
    auto n = static_cast<std::size_t>(py::len(column));
    if (is_arrow_backed(dtype)) {
        std::unique_ptr<ArrowChunks> arrow = arrow_export(column);
        return arrow && mix_arrow(*arrow, n, rows);
    }
    if (py::isinstance(dtype, py::module_::import("pandas").attr("CategoricalDtype"))) {
        py::array codes = column.attr("array").attr("codes");
        return codes.ndim() == 1 && mix_numbers(codes, rows);
    }
    if (!py::isinstance(dtype, py::module_::import("numpy").attr("dtype")))
        return false;
    py::object values = column.attr("to_numpy")();
    if (!py::isinstance<py::array>(values))
        return false;
    py::array array = values;
    if (array.ndim() != 1 || static_cast<std::size_t>(array.shape(0)) != n)
        return false;
    if (array.dtype().kind() != 'O')
        return mix_numbers(array, rows);
    std::optional<std::vector<std::uint64_t>> hashes = object_hashes(array);
    if (hashes)
        kernels::mix_hashes(hashes->data(), n, rows);
    return hashes.has_value();
}

ColumnCounts count_column(const py::object& column, bool want_missing, bool want_single) {
    ColumnCounts counts;
    py::object dtype = column.attr("dtype");
    if (holds_no_text(dtype)) {
        ScannedColumn scanned(Facts(char_classes(), 0, 0));
        scanned.storage = Storage::NoText;
        summarize_numbers(column, scanned);
        counts.missing = scanned.facts.missing;
        counts.single = single_value(scanned);
    } else if (is_arrow_backed(dtype)) {
        std::unique_ptr<ArrowChunks> arrow = arrow_export(column);
        if (arrow)
            count_arrow(*arrow, want_missing, want_single, counts);
    } else if (py::isinstance(dtype, py::module_::import("pandas").attr("CategoricalDtype"))) {
        count_categorical(column, counts);
    } else {
        py::object values = column.attr("to_numpy")();
        if (py::isinstance<py::array>(values)) {
            py::array array = values;
            if (array.ndim() == 1 && array.dtype().kind() == 'O')
                count_objects(array, want_single, counts);
        }
    }
    if (!want_missing)
        counts.missing.reset();
    if (!want_single)
        counts.single.reset();
    return counts;
}

std::unique_ptr<ScannedColumn> scan_column(const py::object& column, unsigned what,
                                           std::size_t max_examples) {
    auto scanned = std::make_unique<ScannedColumn>(Facts(char_classes(), what, max_examples));
    py::object dtype = column.attr("dtype");
    if (holds_no_text(dtype)) {
        // Nothing to read as text: only the missing values, and whether one
        // value repeats, for the simple checks.
        scanned->storage = Storage::NoText;
        summarize_numbers(column, *scanned);
        return scanned;
    }
    if (is_arrow_backed(dtype)) {
        scanned->arrow = arrow_export(column);
        if (scanned->arrow && scan_arrow_chunks(*scanned->arrow, scanned->facts)) {
            scanned->storage = Storage::Arrow;
            return scanned;
        }
        scanned->arrow.reset();
    }
    py::object pd = py::module_::import("pandas");
    if (py::isinstance(dtype, pd.attr("CategoricalDtype"))) {
        auto categorical =
            std::make_unique<ScannedColumn>(Facts(char_classes(), what, max_examples));
        categorical->storage = Storage::Categorical;
        if (scan_categorical(*categorical, column))
            return categorical;
    }
    if (!scan_objects(*scanned, column))
        return nullptr;
    return scanned;
}

} // namespace zeka::quality_scan
