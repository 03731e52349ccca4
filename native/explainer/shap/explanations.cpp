// Explanation data: global SHAP values over a sample of the background data
// and local SHAP values of one row, each reduced to one model output.
#include "common/containers.hpp"
#include "common/python_ops.hpp"
#include "explainer/shap/shap_explainer.hpp"

namespace zeka::shap_explainer {

namespace {

// The class whose probability a classifier's explanation is about.
constexpr int kExplainedClass = 1;

void set_autolayout(const Frame& f) {
    f.global("plt").attr("rcParams")["figure.autolayout"] = py::bool_(true);
}

// The feature a global result names: the first of a list, else as given.
py::object selected_feature(const py::object& features) {
    if (PyList_Check(features.ptr()))
        return features[py::int_(0)];
    return features;
}

py::object global_result(const Frame& f, const py::object& self, const py::object& features) {
    py::dict value;
    value["feature"] = selected_feature(features);
    value["sample_size"] = self.attr("sample_size");
    value["feature_names"] = self.attr("feature_names");
    value["shap_values"] = self.attr("shap_val");
    return f.global("TestDataResult")(py::arg("key") = "global_shap", py::arg("value") = value);
}

// The kernel explainer's values for model output `index`. Older shap returns
// a list with one array per output; from 0.45 on it returns one array with
// the outputs along the last axis, where `values[index]` would be a sample or
// a feature rather than an output.
py::object model_output(const Frame& f, const py::object& values, int index) {
    if (PyList_Check(values.ptr()) || PyTuple_Check(values.ptr()))
        return values[py::int_(index)];
    return f.global("np").attr("take")(values, index, py::arg("axis") = -1);
}

// The data as a frame labelled with the feature names. A frame keeps its
// values and types and is relabelled by position: selecting by the names
// would turn columns labelled otherwise (X0, X1, ... or the caller's own
// labels) into missing values.
py::object frame_by_position(const Frame& f, const py::object& x, const py::object& names) {
    py::object pd = f.global("pd");
    if (is_instance(x, pd.attr("DataFrame")))
        return x.attr("set_axis")(names, py::arg("axis") = 1);
    return pd.attr("DataFrame")(x, py::arg("columns") = names);
}

// The explained rows as an explanation holds them. A frame gives its values,
// as the explainers called on data store them: shap's plots slice the rows
// as an array.
py::object explained_rows(const Frame& f, const py::object& x) {
    if (is_instance(x, f.global("pd").attr("DataFrame")))
        return x.attr("to_numpy")();
    return x;
}

// An explanation with one output per class, cut to the explained class.
py::object cut_to_class(const py::object& explanation) {
    if (py::len(explanation.attr("shape")) != 3)
        return explanation;
    py::tuple index =
        py::make_tuple(py::slice(py::none(), py::none(), py::none()),
                       py::slice(py::none(), py::none(), py::none()), py::int_(kExplainedClass));
    return explanation[index];
}

// Whether a base value is a single number: a Python or numpy float (the
// explainers' usual form) or any other zero-dimensional value.
bool is_scalar_base(const Frame& f, const py::object& base) {
    if (PyFloat_Check(base.ptr()))
        return true;
    return f.global("np").attr("ndim")(base).cast<int>() == 0;
}

} // namespace

py::object global_explain_data(Frame& f) {
    py::object self = f[0];
    py::object shap = f.global("shap");
    py::object x = self.attr("x");
    py::object sample_size = self.attr("sample_size");
    if (!sample_size.is_none())
        x = shap.attr("sample")(x, sample_size);
    set_autolayout(f);

    py::object names = self.attr("feature_names");
    py::object explainer = self.attr("shap_explainer");
    py::object tag = self.attr("shap_tag");
    py::object shap_val;
    if (equals(tag, "kernel")) {
        py::object shap_values = explainer.attr("shap_values")(x);
        py::object estimator = self.attr("estimator");
        py::object effect, base;
        if (truth(f.global("is_regressor")(estimator))) {
            effect = shap_values;
            base = explainer.attr("expected_value");
        } else if (truth(f.global("is_classifier")(estimator))) {
            effect = model_output(f, shap_values, kExplainedClass);
            base = explainer.attr("expected_value")[py::int_(kExplainedClass)];
        } else {
            raise_zeka_error(f, "Unsupported type of estimator.");
        }
        py::list bases;
        bases.append(base);
        shap_val = shap.attr("Explanation")(
            py::arg("values") = effect,
            py::arg("base_values") = f.global("np").attr("array")(bases),
            py::arg("feature_names") = names, py::arg("data") = explained_rows(f, x));
    } else if (equals(tag, "other")) {
        shap_val = cut_to_class(explainer(frame_by_position(f, x, names)));
    } else {
        raise_zeka_error(f, "Unsupported value of shap_tag.");
    }
    py::setattr(self, "shap_val", shap_val);
    return global_result(f, self, f[1]);
}

py::object get_global_explain(Frame& f) {
    return global_result(f, f[0], f[1]);
}

py::object local_explain_data(Frame& f) {
    py::object self = f[0];
    py::object x = f[1];
    py::object feature_values = x.attr("ravel")();
    set_autolayout(f);

    py::object shap = f.global("shap");
    py::object names = self.attr("feature_names");
    py::object explainer = self.attr("shap_explainer");
    py::object tag = self.attr("shap_tag");
    py::object effect, base;
    if (equals(tag, "kernel")) {
        py::object shap_values =
            explainer.attr("shap_values")(x.attr("ravel")(), py::arg("silent") = true);
        py::object estimator = self.attr("estimator");
        if (truth(f.global("is_regressor")(estimator))) {
            effect = shap_values;
            base = explainer.attr("expected_value");
            // A model with a two-dimensional output has one base value per
            // output: explain the first.
            if (!is_scalar_base(f, base)) {
                effect = model_output(f, shap_values, 0);
                base = base[py::int_(0)];
            }
        } else if (truth(f.global("is_classifier")(estimator))) {
            effect = model_output(f, shap_values, kExplainedClass);
            base = explainer.attr("expected_value")[py::int_(kExplainedClass)];
        } else {
            raise_zeka_error(f, "Unsupported value of estimator.");
        }
    } else if (equals(tag, "other")) {
        py::object row =
            f.global("pd").attr("DataFrame")(x.attr("reshape")(1, -1), py::arg("columns") = names);
        py::object explanation = cut_to_class(explainer(row));
        base = explanation.attr("base_values")[py::int_(0)];
        if (PyList_Check(base.ptr()) || is_instance(base, f.global("np").attr("ndarray")))
            base = base[py::int_(0)];
        effect = explanation.attr("values")[py::int_(0)];
    } else {
        raise_zeka_error(f, "Unsupported value of shap_tag.");
    }
    py::object shap_val =
        shap.attr("Explanation")(py::arg("values") = effect, py::arg("base_values") = base,
                                 py::arg("feature_names") = names);

    py::dict value;
    value["feature_names"] = names;
    value["feature_values"] = feature_values;
    value["shap_values"] = shap_val;
    return f.global("TestDataResult")(py::arg("key") = "local_shap", py::arg("value") = value);
}

bool is_instance(const py::handle& value, const py::handle& type) {
    int result = PyObject_IsInstance(value.ptr(), type.ptr());
    if (result < 0)
        throw py::error_already_set();
    return result == 1;
}

void raise_zeka_error(const Frame& f, const char* message) {
    raise_exception(f.global("ZekaError")(message));
}

} // namespace zeka::shap_explainer
