// zeka.data.quality_scan._column_scan: the per-value facts of one column,
// gathered in one pass, as a plain dict. The integrity checks use the same
// scan; a partitioned frame is checked by merging these facts.
#include "common/module.hpp"

#include "data/quality_scan/column_scan.hpp"

#include <limits>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

namespace py = pybind11;

namespace zeka::quality_scan {

namespace {

const char* const kModuleDoc =
    "One pass over a column gathering every per-value fact the integrity checks use.";

const char* const kColumnFactsDoc = R"(The per-value facts of one pandas column, in one pass.

Parameters
----------
column : pandas Series
    Object, python-storage or Arrow-backed text (string, large_string,
    string_view; any chunks, slices and validity bitmaps), categorical, or
    any other dtype. Arrow text is read in place: no Python object is made
    per value.
examples : int, default 3
    How many examples of each kind to keep.
long_over : int or None
    When given, also the positions of the present values whose text is
    longer than this many characters.

Returns
-------
None when the column holds values only Python can judge (str subclasses,
numpy scalars or other objects in an object column); else a dict:

"storage" : how it was read: "object", "arrow", "categorical" or "none"
    (a numpy dtype that holds no text: of such a column only "size" and
    "missing" are gathered, every other fact is empty).
"size" : number of values (rows).
"missing" : values pandas' isna counts as missing.
"strings" : present values that are str.
"numbers" : present values that float() accepts.
"special" : present str values that are non-empty and hold no letter or
    digit (every character has str.isalnum() false).
"lengths" : dict {length: count} of len(str(x)) over the present values,
    ascending by length.
"special_counts" : dict {value: count} of the special-only values, in order
    of first occurrence.
"number_examples", "string_examples" : lists of (position, value) pairs: the
    first distinct str values that do and do not convert with float(), in
    column order, at most `examples` each.
"long_positions" : (only with long_over) list of the positions of the
    present values longer than long_over.

Positions are 0-based within the column. The facts of consecutive row
ranges merge into those of their concatenation: the counts and "lengths"
add; "special_counts" keep the first range's order, add the counts of
values met again and append new values; the examples of the later range,
positions shifted by the earlier range's size, fill the free places of a
kind in order, skipping values already kept.

Raises ValueError for Arrow text whose layout does not fit (offsets that
decrease or are negative, a view beyond its buffer) or that is not valid
UTF-8.)";

py::object column_facts(const py::object& column, std::size_t examples,
                        const py::object& long_over) {
    unsigned what = kernels::kLengths | kernels::kSpecial | kernels::kNumbers;
    if (!long_over.is_none())
        what |= kernels::kRowLengths;
    std::unique_ptr<ScannedColumn> scanned = scan_column(column, what, examples);
    if (!scanned)
        return py::none();
    const kernels::ColumnFacts& facts = scanned->facts;
    py::dict out;
    out["storage"] = scanned->storage_name();
    out["size"] = facts.size;
    out["missing"] = facts.missing;
    out["strings"] = facts.texts;
    out["numbers"] = facts.numbers;
    out["special"] = facts.special;
    py::dict lengths;
    for (auto [length, count] : facts.length_counts())
        lengths[py::int_(length)] = py::int_(count);
    out["lengths"] = lengths;
    py::dict specials;
    for (const kernels::SpecialCount& special : facts.specials)
        specials[scanned->value_at(special.first, special.text)] = py::int_(special.count);
    out["special_counts"] = specials;
    auto listed = [&](const std::vector<kernels::TextExample>& kept) {
        py::list items;
        for (const kernels::TextExample& example : kept)
            items.append(py::make_tuple(example.position,
                                        scanned->value_at(example.position, example.text)));
        return items;
    };
    out["number_examples"] = listed(facts.number_examples);
    out["string_examples"] = listed(facts.string_examples);
    if (!long_over.is_none()) {
        auto limit = long_over.cast<std::int64_t>();
        py::list positions;
        for (std::size_t i = 0; i < facts.row_lengths.size(); ++i)
            if (facts.row_lengths[i] > limit)
                positions.append(i);
        out["long_positions"] = positions;
    }
    return out;
}

} // namespace

} // namespace zeka::quality_scan

ZEKA_MODULE(_column_scan, m) {
    m.doc() = zeka::quality_scan::kModuleDoc;
    m.def("column_facts", &zeka::quality_scan::column_facts, py::arg("column"), py::kw_only(),
          py::arg("examples") = 3, py::arg("long_over") = py::none(),
          zeka::quality_scan::kColumnFactsDoc);
}
