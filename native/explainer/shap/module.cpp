// zeka.explainer.shap: explains fitted estimators with SHAP values. The
// module body binds its names in this order: shap and the scientific
// libraries, scikit-learn's estimator tests, the package's siblings, then the
// SHAP class.
#include "common/module.hpp"

#include "explainer/shap/shap_explainer.hpp"

namespace py = pybind11;
using namespace zeka;

ZEKA_MODULE(shap, m) {
    m.doc() = "SHAP explanations of fitted estimators: global and local, as data and as plots.";
    m.attr("shap") = py::module_::import("shap");
    m.attr("np") = py::module_::import("numpy");
    m.attr("pd") = py::module_::import("pandas");
    m.attr("plt") = py::module_::import("matplotlib.pyplot");
    import_from(m, "sklearn.base", {"is_regressor", "is_classifier"});
    import_from(m, import_relative(m, ".utils"), {"scatter_"});
    import_from(m, import_relative(m, "..utils"), {"TestDataResult"});
    import_from(m, import_relative(m, "..plots"), {"scale_plot_ticks"});
    import_from(m, import_relative(m, "..exceptions"), {"ZekaWarning", "ZekaInfo", "ZekaError"});
    shap_explainer::define_shap(m);
}
