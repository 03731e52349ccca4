// zeka.data.quality_scan.utils: text helpers of the integrity checks.
#include "common/module.hpp"

#include "common/python_class.hpp"
#include "data/quality_scan/utils/text_helpers.hpp"

namespace py = pybind11;
using namespace zeka;

ZEKA_MODULE(utils, m) {
    m.doc() = "Text helpers of the integrity checks: base forms of strings, the string-column "
              "test and short renderings of lists, strings and numbers.";
    def_function(m, "string_baseform",
                 {arg("text"), arg("remove_special_characters", py::bool_(false))},
                 quality_scan::string_baseform, quality_scan::kStringBaseformDoc);
    def_function(m, "is_string_column", {arg("column")}, quality_scan::is_string_column,
                 quality_scan::kIsStringColumnDoc);
    def_function(m, "truncate_string", {arg("text"), arg("max_length", py::int_(50))},
                 quality_scan::truncate_string, quality_scan::kTruncateStringDoc);
    def_function(m, "format_list", {arg("values"), arg("max_items", py::int_(5))},
                 quality_scan::format_list, quality_scan::kFormatListDoc);
    def_function(m, "format_number", {arg("value"), arg("decimals", py::int_(4))},
                 quality_scan::format_number, quality_scan::kFormatNumberDoc);
}
