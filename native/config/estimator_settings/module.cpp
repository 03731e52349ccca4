// zeka.config.estimator_settings: hyper-parameter tables of the model
// families and outlier detectors, their adaptation to the installed library
// versions, and the conversion of widget values into estimator arguments.
#include "common/module.hpp"

#include "common/containers.hpp"
#include "common/python_class.hpp"
#include "config/estimator_settings/functions.hpp"
#include "config/estimator_settings/parameter_tables.hpp"

namespace py = pybind11;
using namespace zeka;
using namespace zeka::settings;

namespace {

constexpr const char* kModelParamSpecificDoc =
    "Adapt a model parameter table to the installed scikit-learn and ipywidgets and to a "
    "dataset.\n\n"
    "Sets the decision-tree criteria that scikit-learn accepts for the dataset's task and the "
    "monotonicity widgets (free text before ipywidgets 8, tags of the dataset's feature names "
    "from 8 on). The table is changed in place and returned.";

constexpr const char* kParamRenderDoc =
    "Convert one edited widget value into the estimator's argument.\n\n"
    "Only the parameters listed for the model in NEED_RENDER_PARAMS are converted; every other "
    "value is returned unchanged. ``flis`` lists the dataset's feature names and turns feature "
    "indices of a monotonicity list into names.";

} // namespace

ZEKA_MODULE(estimator_settings, m) {
    m.attr("ast") = py::module_::import("ast");
    m.attr("json") = py::module_::import("json");
    m.attr("sklearn") = py::module_::import("sklearn");
    m.attr("widgets") = py::module_::import("ipywidgets");
    m.attr("version") = py::module_::import("packaging.version");
    m.attr("model_name_items") = model_name_items();
    m.attr("model_param_items") = model_param_items();
    def_function(m, "model_param_specific", {arg("model_param_items"), arg("dataset")},
                 model_param_specific, kModelParamSpecificDoc);
    m.attr("INTERPRET_PANEL_SETTING") = interpret_panel_setting();
    m.attr("INTERPRET_SUPPORT") = interpret_support();
    m.attr("od_param_items") = od_param_items();
    py::dict model_params = need_render_model_params();
    py::dict od_params = need_render_od_params();
    m.attr("NEED_RENDER_MODEL_PARAMS") = model_params;
    m.attr("NEED_RENDER_OD_PARAMS") = od_params;
    m.attr("NEED_RENDER_PARAMS") = dict_union({model_params, od_params});
    def_function(
        m, "param_render",
        {arg("model_name"), arg("param_name"), arg("param_value"), arg("flis", py::none())},
        param_render, kParamRenderDoc);
}
