// A pandas column read once for the text kernels: the per-value facts of
// every value (kernels/text/column_facts.hpp), from the storage the column
// has. Object and python-storage columns are walked by their object
// pointers; Arrow-backed text columns are read in place through the Arrow C
// data interface (no Python object per value); categorical columns of text
// categories measure each category once and count the rows by their codes.
#pragma once

#include "data/quality_scan/quality_scan/text_column.hpp"
#include "kernels/text/column_facts.hpp"

#include <memory>
#include <optional>
#include <pybind11/pybind11.h>
#include <string>
#include <vector>

namespace zeka::quality_scan {

namespace py = pybind11;

// Every chunk of an Arrow export, held (and released) together with its schema.
class ArrowChunks {
  public:
    ArrowChunks() = default;
    ArrowChunks(const ArrowChunks&) = delete;
    ArrowChunks& operator=(const ArrowChunks&) = delete;
    ~ArrowChunks();

    // Imports the export of `exporter` (`__arrow_c_stream__`, or
    // `__arrow_c_array__`); false when it has neither. Errors of the export
    // itself propagate.
    bool import_from(const py::object& exporter);

    const char* format() const { return schema_.release ? schema_.format : nullptr; }
    bool has_dictionary() const { return schema_.release && schema_.dictionary; }
    const std::vector<ArrowArray>& chunks() const { return chunks_; }

  private:
    ArrowSchema schema_{};
    std::vector<ArrowArray> chunks_;
};

struct ScannedColumn {
    enum class Storage { Object, Arrow, Categorical, NoText };

    explicit ScannedColumn(kernels::ColumnFacts f) : facts(std::move(f)) {}

    kernels::ColumnFacts facts;
    Storage storage = Storage::Object;
    // What the views of `facts` point into.
    ObjectValues values;                // object storage: the values by position
    std::unique_ptr<TextColumn> texts;  // object storage: their UTF-8 views
    std::unique_ptr<ArrowChunks> arrow; // Arrow storage, or the categories' export
    kernels::ValueTable categories;     // categorical storage
    std::vector<std::size_t> others;    // positions of present values that are no text
    // A column without text: whether its present values are one value,
    // where the scan could tell.
    std::optional<bool> single;

    // The Python value at `position` whose text is `text`: the column's own
    // object for object storage, a new str decoded from the text otherwise.
    py::object value_at(std::int64_t position, kernels::TextView text) const;
    const char* storage_name() const;
};

// Reads `column` (a pandas Series) for the facts in `what`, keeping up to
// `max_examples` examples of each kind. Nothing when the column holds a value
// whose facts only Python can tell (str subclasses, numpy scalars, other
// objects): the caller then takes the checks' own per-value path.
std::unique_ptr<ScannedColumn> scan_column(const py::object& column, unsigned what,
                                           std::size_t max_examples = 0);

// Whether a pandas dtype keeps its values in Arrow buffers (pandas'
// ArrowDtype, or its StringDtype with pyarrow storage).
bool is_arrow_backed(const py::object& dtype);

// A numpy dtype of a kind that holds no str (numbers, booleans, dates).
bool holds_no_text(const py::object& dtype);

// `column.nunique() == 1` from the facts where they tell it (a str equals no
// value of another type); nothing where only pandas can tell.
std::optional<bool> single_value(const ScannedColumn& scanned);

// What is_single_value and null_ratio need of a column, read from its
// storage alone: how many values are missing, and whether the present
// values are one value. Each is asked for or not; an asked one is left open
// where only pandas can tell (values of other types, other storages).
struct ColumnCounts {
    std::optional<std::int64_t> missing;
    std::optional<bool> single;
};
ColumnCounts count_column(const py::object& column, bool want_missing, bool want_single);

// Mixes the values of `column` into the row hashes `rows`, one per row
// (kernels/rows/row_hashes.hpp), read from its storage: numbers by their
// bits, Arrow text in place, categories by their codes, an object column of
// str, int, float and bool values, None, pd.NA and NaN by Python's hash
// (equal values hash equally, as pandas compares them). False, with `rows`
// untouched, where only pandas can tell which values are equal.
bool mix_column(const py::object& column, std::uint64_t* rows);

// Whether most present values are str: the package's string-column test.
bool is_string_column(const ScannedColumn& scanned);

} // namespace zeka::quality_scan
