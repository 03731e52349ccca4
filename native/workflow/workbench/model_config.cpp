// The actual parameters of a registered estimator, for display.
#include "common/python_ops.hpp"
#include "workflow/workbench/model_api.hpp"

namespace zeka::workbench {

py::object get_model_config(Frame& f) {
    py::object estimator = f[0].attr("registered_pipeline")[f[1]].attr("estimator");
    // Estimators outside the scikit-learn protocol show their attributes.
    py::object model_params = has_attribute(estimator, "get_params")
                                  ? estimator.attr("get_params")()
                                  : estimator.attr("__dict__");
    py::list keys(model_params.attr("keys")());
    py::list values(model_params.attr("values")());
    py::list pairs;
    size_t count = py::len(model_params);
    for (size_t i = 0; i < count; ++i) {
        py::list pair;
        pair.append(keys[i]);
        pair.append(values[i]);
        pairs.append(pair);
    }
    return std::move(pairs);
}

} // namespace zeka::workbench
