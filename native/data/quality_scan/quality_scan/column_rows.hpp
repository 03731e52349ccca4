// One row of each per-column check, from a column's scanned facts or by the
// checks' own per-value path: what the checks and the report share.
#pragma once

#include "common/function.hpp"
#include "data/quality_scan/column_scan.hpp"

namespace zeka::quality_scan {

// long_string: [count, format_list(labels)], from the facts (kLengths and
// kRowLengths), or measured by the check's own path.
py::list long_string_row(Frame& f, const py::object& column, const ScannedColumn& scanned,
                         const py::object& quantile_threshold, const py::object& length_difference);
py::list long_string_row(Frame& f, const py::object& column, const py::object& quantile_threshold,
                         const py::object& length_difference);
// `quantile_threshold` taken as a float, refusing what is no real number.
py::object real_threshold(const py::object& quantile_threshold);
// The tables' rows are labelled with `columns`, the labels of the frame the
// rows were scanned from (self.data may be another frame by then).
py::object long_string_table(Frame& f, const py::object& columns, const py::list& display_result);

// special_characters: [name, percent text, top values] from the counts of
// special-only values (a mapping, or None) and the column's size.
py::list special_characters_row(const py::object& column_name, const py::object& special_samples,
                                const py::object& size, const py::object& n_most_common);
// The special-only values' counts from the facts (kSpecial), in order of
// first occurrence.
py::dict special_counts(const ScannedColumn& scanned);
py::object special_characters_table(Frame& f, const py::list& display_result);

// mixed_data_type: the formatted mix of one column, from the facts
// (kNumbers), or by `self._get_data_mix(column.dropna())`.
py::dict mixed_row(Frame& f, const ScannedColumn& scanned);
py::dict mixed_row(Frame& f, const py::object& self, const py::object& column);
py::object mixed_table(Frame& f, const py::object& columns, const py::dict& display_result);

// is_single_value and null_ratio: per column, whether its present values are
// one value (`nunique() == 1`) and how many are missing (`isna().sum()`),
// from the scan where it tells, else from those pandas calls.
struct SimpleFacts {
    bool single;
    std::int64_t missing;
};
SimpleFacts simple_facts(const py::object& column, const ScannedColumn* scanned);
// The two tables, labelled by `columns`, of a frame of `rows` rows.
py::object single_value_table(Frame& f, const py::object& columns,
                              const std::vector<SimpleFacts>& facts);
py::object null_ratio_table(Frame& f, const py::object& columns, const py::object& rows,
                            const std::vector<SimpleFacts>& facts);

// Whether the module's helper names are the package's own, so that the
// scanned facts stand for what the checks' per-value calls would find.
bool own_helpers(const Frame& f);

} // namespace zeka::quality_scan
