// The ModelAPI class: its methods in definition order, the constructor and
// the two small pipeline accessors.
#include "workflow/workbench/model_api.hpp"

#include "common/python_class.hpp"

namespace zeka::workbench {

namespace {

constexpr const char* kMakePipelineDoc =
    "Generate pipeline object.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "estimator : Estimator Object\n"
    "    Fitted or not fitted estimator object, which should follow the sklearn estimator "
    "style.\n";

constexpr const char* kSinglerunDoc = "Train single model.\n"
                                      "\n"
                                      "Parameters\n"
                                      "----------\n"
                                      "pipeline\n"
                                      "    Zeka's pipeline object.\n"
                                      "name : str\n"
                                      "    The name of the pipeline.\n";

} // namespace

py::object define_model_api(py::module_ m) {
    py::object none = py::none();
    return ClassBuilder(m, "ModelAPI")
        .method("__init__",
                {arg("dataset"), arg("model_list", none), arg("model_item", none),
                 arg("highcode_mode", py::bool_(false))},
                init)
        .method("make_pipeline", {arg("estimator")}, make_pipeline, kMakePipelineDoc)
        .method("get_model", {arg("name")}, get_model)
        .method("register_model",
                {arg("pipeline", none), arg("name", none), arg("support_hpo", py::bool_(false))},
                register_model)
        .method("get_model_config", {arg("model")}, get_model_config)
        .method("model_config_setting", {arg("param_dict", none)}, model_config_setting)
        .method("model_prepare", {}, model_prepare)
        .method("get_leaderboard", {arg("rank_metric", none)}, get_leaderboard)
        .method("get_leaderboard_registered", {arg("rank_metric", none)},
                get_leaderboard_registered)
        .method("evaluate", {arg("pipeline")}, evaluate)
        .method("singlerun", {arg("pipeline"), arg("name")}, singlerun, kSinglerunDoc)
        .finish();
}

py::object init(Frame& f) {
    py::object self = f[0];
    self.attr("dataset") = f[1];
    self.attr("model_list") = f[2];
    self.attr("model_item") = f[3];
    self.attr("highcode_mode") = f[4];
    self.attr("processed_data") = py::dict();
    // The configuration comes first: preparing the models reads it.
    self.attr("model_config") = self.attr("model_config_setting")();
    self.attr("model_dict") = self.attr("model_prepare")();
    self.attr("custom_model_dict") = py::dict();
    self.attr("registered_pipeline") = py::dict();
    self.attr("training_record") = py::dict();
    self.attr("training_failed_list") = py::list();
    self.attr("cache") = py::dict();
    return py::none();
}

py::object make_pipeline(Frame& f) {
    py::object self = f[0];
    return f.global("ModelPipeline")(py::arg("dataset") = self.attr("dataset"),
                                     py::arg("estimator") = f[1]);
}

py::object get_model(Frame& f) {
    return f[0].attr("registered_pipeline")[f[1]];
}

} // namespace zeka::workbench
