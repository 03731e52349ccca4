// Bodies and docstrings of the functions of zeka.data.quality_scan.utils.
#pragma once

#include "common/function.hpp"

namespace zeka::quality_scan {

py::object string_baseform(Frame& f);  // string_baseform(text, remove_special_characters=False)
py::object is_string_column(Frame& f); // is_string_column(column)
py::object truncate_string(Frame& f);  // truncate_string(text, max_length=50)
py::object format_list(Frame& f);      // format_list(values, max_items=5)
py::object format_number(Frame& f);    // format_number(value, decimals=4)

extern const char* const kStringBaseformDoc;
extern const char* const kIsStringColumnDoc;
extern const char* const kTruncateStringDoc;
extern const char* const kFormatListDoc;
extern const char* const kFormatNumberDoc;

} // namespace zeka::quality_scan
