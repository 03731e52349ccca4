// Construction and fitting: the background data and the choice of explainer.
#include "common/python_ops.hpp"
#include "explainer/shap/shap_explainer.hpp"

#include <string>

namespace zeka::shap_explainer {

namespace {

// The exact explainer enumerates every coalition of features, 2**n of them:
// beyond this many features the kernel approximation takes over.
constexpr Py_ssize_t kMaxExactFeatures = 15;

// X0, X1, ...: one name per column of the background data.
py::object default_feature_names(const Frame& f, const py::object& x) {
    Py_ssize_t columns = x.attr("shape")[py::int_(1)].cast<Py_ssize_t>();
    py::list names;
    for (Py_ssize_t i = 0; i < columns; ++i)
        names.append(py::str("X" + std::to_string(i)));
    return f.global("np").attr("array")(names);
}

// An independent masker over the background rows. Without a sample size it
// keeps every row: shap's own default would keep only 100 of them.
py::object build_masker(const Frame& f, const py::object& self, const py::object& x) {
    py::object independent = f.global("shap").attr("maskers").attr("Independent");
    py::object sample_size = self.attr("masker_sample_size");
    if (sample_size.is_none())
        sample_size = x.attr("shape")[py::int_(0)];
    return independent(x, py::arg("max_samples") = sample_size);
}

// The fallback for an estimator the generic explainer does not take: the
// estimator's prediction function over the masker's rows, explained exactly
// for few features and by the kernel approximation for many.
void build_fallback_explainer(const Frame& f, const py::object& self, const py::object& masker) {
    py::object shap = f.global("shap");
    py::object names = self.attr("feature_names");
    if (py::len(names) <= static_cast<size_t>(kMaxExactFeatures)) {
        py::setattr(self, "shap_explainer",
                    shap.attr("explainers")
                        .attr("Exact")(self.attr("predict_func"), masker.attr("data"),
                                       py::arg("feature_names") = names));
        py::setattr(self, "shap_tag", py::str("other"));
        return;
    }
    py::setattr(self, "shap_tag", py::str("kernel"));
    py::setattr(self, "shap_explainer",
                shap.attr("KernelExplainer")(self.attr("predict_func"), masker.attr("data"),
                                             py::arg("feature_names") = names));
}

} // namespace

py::object init(Frame& f) {
    py::object self = f[0];
    py::object estimator = f[1];
    py::setattr(self, "estimator", estimator);
    py::setattr(self, "feature_names", f[2]);
    py::setattr(self, "random_state", f[5]);
    if (truth(f.global("is_regressor")(estimator)))
        py::setattr(self, "predict_func", estimator.attr("predict"));
    else if (truth(f.global("is_classifier")(estimator)))
        py::setattr(self, "predict_func", estimator.attr("predict_proba"));
    py::setattr(self, "masker_sample_size", f[3]);
    py::setattr(self, "sample_size", f[4]);
    for (const char* name : {"x", "shap_explainer", "shap_tag", "shap_val"})
        py::setattr(self, name, py::none());
    return py::none();
}

// Stores the background data and builds the explainer: shap's generic one
// when it accepts the estimator, else a fallback on the prediction function.
py::object fit(Frame& f) {
    py::object self = f[0];
    py::object x = f[1];
    py::setattr(self, "x", x);
    if (self.attr("feature_names").is_none())
        py::setattr(self, "feature_names", default_feature_names(f, x));
    py::object masker = build_masker(f, self, x);
    try {
        py::setattr(self, "shap_explainer",
                    f.global("shap").attr("Explainer")(self.attr("estimator"), masker,
                                                       py::arg("feature_names") =
                                                           self.attr("feature_names")));
        py::setattr(self, "shap_tag", py::str("other"));
        return py::none();
    } catch (py::error_already_set& e) {
        if (!is_ordinary_exception(e))
            throw;
        // Any failure of the generic explainer selects the fallback.
    }
    build_fallback_explainer(f, self, masker);
    return py::none();
}

} // namespace zeka::shap_explainer
