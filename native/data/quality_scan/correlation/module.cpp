// zeka.data.quality_scan.correlation: association measures for pairs of
// categorical and numerical columns.
#include "common/module.hpp"

#include "common/python_class.hpp"
#include "data/quality_scan/correlation/measures.hpp"

namespace py = pybind11;
using namespace zeka;

ZEKA_MODULE(correlation, m) {
    m.doc() = "Association measures: the symmetric uncertainty coefficient of two categorical "
              "columns and the correlation ratio of a numerical column given a categorical one.";
    def_function(m, "symmetric_theil_u_correlation", {arg("x"), arg("y")},
                 quality_scan::symmetric_theil_u_correlation, quality_scan::kTheilUDoc);
    def_function(m, "correlation_ratio", {arg("categories"), arg("measurements")},
                 quality_scan::correlation_ratio, quality_scan::kCorrelationRatioDoc);
}
