// Configuration of the catalogue models and the pipelines built from it.
#include "common/containers.hpp"
#include "common/python_ops.hpp"
#include "workflow/workbench/model_api.hpp"

#include <array>
#include <string>

namespace zeka::workbench {

namespace {

// The three ways a catalogue constructor is called, by model family.
enum class CallShape { ConfigOnly, WithFeatures, GamiNet };

struct FamilyCall {
    const char* name;
    CallShape shape;
};

// Every catalogue family with its call shape, in the order names are compared.
constexpr std::array<FamilyCall, 9> kFamilyCalls = {{
    {"glm", CallShape::ConfigOnly},
    {"gam", CallShape::ConfigOnly},
    {"tree", CallShape::ConfigOnly},
    {"figs", CallShape::ConfigOnly},
    {"ebm", CallShape::ConfigOnly},
    {"reludnn", CallShape::ConfigOnly},
    {"xgb1", CallShape::WithFeatures},
    {"xgb2", CallShape::WithFeatures},
    {"gaminet", CallShape::GamiNet},
}};

// No catalogue entry can build an unknown family; name it and the ones there are.
[[noreturn]] void reject_model_name(const Frame& f, const py::handle& model_name) {
    std::string supported;
    for (const FamilyCall& family : kFamilyCalls)
        supported += (supported.empty() ? "'" : ", '") + std::string(family.name) + "'";
    std::string message = "unsupported model name " + py::repr(model_name).cast<std::string>() +
                          "; supported names are " + supported;
    raise_exception(f.global("ZekaError")(message));
}

CallShape call_shape(const Frame& f, const py::handle& model_name) {
    for (const FamilyCall& family : kFamilyCalls)
        if (equals(model_name, family.name))
            return family.shape;
    reject_model_name(f, model_name);
}

// The catalogue of the dataset's task type, read afresh for every model.
py::object catalogue_for(const Frame& f, const py::object& dataset) {
    py::object task_type = dataset.attr("task_type");
    if (equals(task_type, "regression"))
        return f.global("ZEKAREGRESSOR");
    if (equals(task_type, "classification"))
        return f.global("ZEKACLASSIFIER");
    raise_exception(f.global("ZekaError")("unsupported task type"));
}

// The fixed keywords of gaminet: normalised inputs, light clarity penalty,
// early stop threshold, warm start, quiet.
py::dict gaminet_settings() {
    py::dict fixed;
    fixed["normalize"] = py::bool_(true);
    fixed["reg_clarity"] = py::float_(0.1);
    fixed["loss_threshold"] = py::float_(0.01);
    fixed["warm_start"] = py::bool_(true);
    fixed["verbose"] = py::bool_(false);
    return fixed;
}

py::object build_estimator(const Frame& f, const py::object& self, const py::handle& model_name) {
    py::object catalogue = catalogue_for(f, self.attr("dataset"));
    CallShape shape = call_shape(f, model_name);

    py::object constructor = catalogue[model_name];
    py::dict fixed;
    if (shape == CallShape::WithFeatures) {
        fixed["feature_names"] = self.attr("dataset").attr("feature_names");
        fixed["feature_types"] = self.attr("dataset").attr("feature_types");
    } else if (shape == CallShape::GamiNet) {
        fixed = gaminet_settings();
    }
    py::object config = self.attr("model_config")[model_name];
    return call_with_keywords(constructor, fixed, config);
}

} // namespace

py::object model_config_setting(Frame& f) {
    py::object self = f[0];
    py::object param_dict = f[1];
    py::dict config;
    for (py::handle item : self.attr("model_item").attr("items")()) {
        std::vector<py::object> model = unpack(item, 2);
        py::dict defaults;
        config[model[0]] = defaults;
        for (py::handle param : model[1].attr("items")()) {
            std::vector<py::object> entry = unpack(param, 2);
            defaults[entry[0]] = entry[1][py::int_(3)];
        }
    }
    if (!param_dict.is_none()) {
        for (py::handle item : param_dict.attr("items")()) {
            std::vector<py::object> model = unpack(item, 2);
            for (py::handle param : model[1].attr("items")()) {
                std::vector<py::object> value = unpack(param, 2);
                config[model[0]][value[0]] = value[1];
            }
        }
    }
    return std::move(config);
}

py::object model_prepare(Frame& f) {
    py::object self = f[0];
    py::dict model_dict;
    for (py::handle model_name : self.attr("model_list")) {
        py::object estimator = build_estimator(f, self, model_name);
        model_dict[model_name] = self.attr("make_pipeline")(estimator);
    }
    return std::move(model_dict);
}

} // namespace zeka::workbench
