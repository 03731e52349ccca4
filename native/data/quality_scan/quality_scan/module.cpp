// zeka.data.quality_scan.quality_scan: integrity checks of a raw data frame.
#include "common/module.hpp"

#include "data/quality_scan/quality_scan/data_integrity_check.hpp"

namespace py = pybind11;

ZEKA_MODULE(quality_scan, m) {
    m.doc() = "Integrity checks of a raw tabular dataset: single-valued columns, missing values, "
              "duplicated samples, long and special-character strings, mixed data types and "
              "highly correlated features.";
    m.attr("pd") = py::module_::import("pandas");
    m.attr("np") = py::module_::import("numpy");
    m.attr("sns") = py::module_::import("seaborn");
    zeka::import_from(m, "collections", {"defaultdict"});
    zeka::import_from(m, "pandas.api.types", {"infer_dtype"});
    py::module_ utils = zeka::import_relative(m, ".utils");
    zeka::import_from(
        m, utils,
        {"string_baseform", "is_string_column", "truncate_string", "format_list", "format_number"});
    py::module_ correlation = zeka::import_relative(m, ".correlation");
    zeka::import_from(m, correlation, {"symmetric_theil_u_correlation", "correlation_ratio"});
    // The methods keep the package's own string_baseform, is_string_column
    // and association measures, to know whether the module names still refer
    // to them (and the text and association kernels may serve).
    zeka::quality_scan::define_data_integrity_check(
        m, py::make_tuple(utils.attr("string_baseform"), utils.attr("is_string_column"),
                          correlation.attr("symmetric_theil_u_correlation"),
                          correlation.attr("correlation_ratio")));
}
