// zeka.workflow.workbench: trains, registers, scores and ranks model
// pipelines. The module body binds its names in this order: standard and
// scientific libraries, the package's siblings, then `__sklearn_is_fitted__`
// and the ModelAPI class.
#include "common/module.hpp"

#include "common/python_class.hpp"
#include "workflow/workbench/model_api.hpp"

namespace py = pybind11;
using namespace zeka;
using namespace zeka::workbench;

namespace {

void import_libraries(py::module_& m) {
    m.attr("time") = py::module_::import("time");
    m.attr("types") = py::module_::import("types");
    m.attr("np") = py::module_::import("numpy");
    m.attr("pd") = py::module_::import("pandas");
    import_from(m, "copy", {"copy", "deepcopy"});
    import_from(m, "sklearn.base", {"is_classifier", "is_regressor"});
    import_from(m, "sklearn.metrics", {"accuracy_score", "r2_score"});
    import_from(m, "sklearn.utils.validation", {"check_is_fitted"});
}

void import_siblings(py::module_& m) {
    import_from(m, import_relative(m, ".pipeline"), {"ModelPipeline"});
    import_from(m, import_relative(m, "..models"),
                {"ZEKACLASSIFIER", "ZEKAREGRESSOR", "get_model_name"});
    import_from(m, import_relative(m, "..exceptions"), {"ZekaWarning", "ZekaInfo", "ZekaError"});
}

} // namespace

ZEKA_MODULE(workbench, m) {
    m.doc() = "Model-training workflow: prepare, register, train, score and rank model pipelines.";
    import_libraries(m);
    import_siblings(m);
    // Registration attaches this very function to estimators it marks as fitted.
    def_function(m, "__sklearn_is_fitted__", {}, sklearn_is_fitted);
    define_model_api(m);
}
