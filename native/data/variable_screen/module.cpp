// zeka.data.variable_screen: feature selection by permutation importance,
// correlation, a conditional independence test or distance correlation.
#include "common/module.hpp"

#include "data/variable_screen/feature_selection.hpp"

namespace py = pybind11;

ZEKA_MODULE(variable_screen, m) {
    m.doc() = "Feature selection: scores every covariate against the response and keeps those "
              "that pass a threshold.";
    m.attr("np") = py::module_::import("numpy");
    m.attr("pd") = py::module_::import("pandas");
    zeka::import_from(m, "sklearn.base", {"is_regressor"});
    zeka::import_from(m, "sklearn.inspection", {"permutation_importance"});
    zeka::import_from(m, zeka::import_relative(m, ".causality.core"),
                      {"conditional_independence_test"});
    zeka::variable_screen::define_feature_selection(m);
}
