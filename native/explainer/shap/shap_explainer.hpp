// SHAP: explains a fitted estimator with SHAP values from the shap library.
#pragma once

#include "common/function.hpp"

namespace zeka::shap_explainer {

// Method bodies; `f[0]` is the instance (plot_shap has none).
py::object init(Frame& f);                // __init__(estimator, feature_names=None, ...)
py::object fit(Frame& f);                 // fit(x)
py::object global_explain_data(Frame& f); // global_explain_data(features=None)
py::object get_global_explain(Frame& f);  // get_global_explain(features)
py::object local_explain_data(Frame& f);  // local_explain_data(x)
py::object plot_shap(Frame& f);           // plot_shap(explain_result, plot_type, ...)

// The truth value of `value`, as `if value:` tests it.
inline bool truth(const py::handle& value) {
    return static_cast<bool>(py::bool_(py::reinterpret_borrow<py::object>(value)));
}

// `isinstance(value, type)`.
bool is_instance(const py::handle& value, const py::handle& type);

// Raises the module's ZekaError with `message`.
[[noreturn]] void raise_zeka_error(const Frame& f, const char* message);

extern const char* const kClassDoc;

// The class, bound as the module attribute `SHAP`.
void define_shap(py::module_ module);

} // namespace zeka::shap_explainer
