// Bodies and docstrings of the functions of zeka.data.quality_scan.correlation.
#pragma once

#include "common/function.hpp"

namespace zeka::quality_scan {

py::object symmetric_theil_u_correlation(Frame& f); // (x, y)
py::object correlation_ratio(Frame& f);             // (categories, measurements)

extern const char* const kTheilUDoc;
extern const char* const kCorrelationRatioDoc;

} // namespace zeka::quality_scan
