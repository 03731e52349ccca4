// zeka.workflow.workbench: trains, registers, scores and ranks model
// pipelines. The module body binds its names in this order: standard and
// scientific libraries, the package's siblings, then `__sklearn_is_fitted__`
// and the ModelAPI class.
#include "common/python_class.hpp"
#include "workflow/workbench/model_api.hpp"

#include <initializer_list>

namespace py = pybind11;
using namespace zeka;
using namespace zeka::workbench;

namespace {

// `from <module> import <name>, ...`, with the interpreter's ImportError when
// the module lacks a name.
void import_names(py::module_ m, const py::module_& source,
                  std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (!py::hasattr(source, name)) {
            std::string message = std::string("cannot import name '") + name + "' from '" +
                                  py::str(source.attr("__name__")).cast<std::string>() + "'";
            PyErr_SetString(PyExc_ImportError, message.c_str());
            throw py::error_already_set();
        }
        m.attr(name) = source.attr(name);
    }
}

// A module named relative to this one's package, as `from .x import` or
// `from ..x import` would find it.
py::module_ import_relative(const py::module_& m, const char* relative_name) {
    py::object package = m.attr("__name__").attr("rpartition")(".")[py::int_(0)];
    return py::module_::import("importlib").attr("import_module")(relative_name, package);
}

void import_libraries(py::module_ m) {
    m.attr("time") = py::module_::import("time");
    m.attr("types") = py::module_::import("types");
    m.attr("np") = py::module_::import("numpy");
    m.attr("pd") = py::module_::import("pandas");
    import_names(m, py::module_::import("copy"), {"copy", "deepcopy"});
    import_names(m, py::module_::import("sklearn.base"), {"is_classifier", "is_regressor"});
    import_names(m, py::module_::import("sklearn.metrics"), {"accuracy_score", "r2_score"});
    import_names(m, py::module_::import("sklearn.utils.validation"), {"check_is_fitted"});
}

void import_siblings(py::module_ m) {
    import_names(m, import_relative(m, ".pipeline"), {"ModelPipeline"});
    import_names(m, import_relative(m, "..models"),
                 {"ZEKACLASSIFIER", "ZEKAREGRESSOR", "get_model_name"});
    import_names(m, import_relative(m, "..exceptions"), {"ZekaWarning", "ZekaInfo", "ZekaError"});
}

} // namespace

PYBIND11_MODULE(workbench, m) {
    m.doc() = "Model-training workflow: prepare, register, train, score and rank model pipelines.";
    import_libraries(m);
    import_siblings(m);
    // Registration attaches this very function to estimators it marks as fitted.
    def_function(m, "__sklearn_is_fitted__", {}, sklearn_is_fitted);
    define_model_api(m);
}
