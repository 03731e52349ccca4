// DataIntegrityCheck: integrity checks over a raw data frame, one method per
// check, and a one-table report of the per-column checks.
#pragma once

#include "common/function.hpp"

namespace zeka::quality_scan {

// Method bodies; `f[0]` is the instance (no instance for the static methods).
// Every method reads its module names from the frame at call time. The
// closure of each holds the package's own `string_baseform`,
// `is_string_column`, `symmetric_theil_u_correlation` and
// `correlation_ratio`, so a method can tell whether the module names are
// still bound to them.
py::object init(Frame& f);               // __init__(data, meta_info)
py::object is_single_value(Frame& f);    // is_single_value()
py::object null_ratio(Frame& f);         // null_ratio()
py::object long_string(Frame& f);        // long_string(quantile_threshold, length_difference)
py::object special_characters(Frame& f); // special_characters(n_most_common)
py::object mixed_data_type(Frame& f);    // mixed_data_type()
py::object duplicated_samples(Frame& f); // duplicated_samples()
py::object highly_correlated_features(Frame& f); // highly_correlated_features()
py::object single_column_check(Frame& f);        // single_column_check()
py::object get_data_mix(Frame& f);               // _get_data_mix(column_data)
py::object check_mixed_percentage(Frame& f);     // static _check_mixed_percentage(column_data)
py::object get_special_samples(Frame& f);        // static _get_special_samples(column_data)

// The class, bound as the module attribute `DataIntegrityCheck`; `own_helpers`
// is the closure every method carries: (string_baseform, is_string_column,
// symmetric_theil_u_correlation, correlation_ratio).
void define_data_integrity_check(py::module_ module, py::tuple own_helpers);

// Whether `self.<name>` is still the class's own method (or static method):
// neither the instance nor a subclass nor a patch of the class replaced it.
// The closure of every method holds the class's functions as item 4.
bool own_method(const Frame& f, const py::object& self, const char* name);

// The columns of `data` one by one, by position (a label may repeat).
py::object column_at(const py::object& data, std::size_t position);
std::size_t column_count(const py::object& data);

// `a / b` as Python evaluates it.
py::object true_divide(const py::object& a, const py::object& b);

// The `builtins` module.
py::module_ builtins();

} // namespace zeka::quality_scan
