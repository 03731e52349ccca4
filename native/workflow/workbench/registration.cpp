// Registering models built elsewhere: validation and adaptation of estimators
// of no known family, a default `score`, the fitted mark for scikit-learn's
// `check_is_fitted`, and a first score record.
#include "common/containers.hpp"
#include "common/python_ops.hpp"
#include "workflow/workbench/model_api.hpp"

namespace zeka::workbench {

namespace {

constexpr const char* kLocals = "ModelAPI.register_model.<locals>.";

// predict(x): the wrapped estimator's own prediction, flattened.
py::object flattened_predict(Frame& f) {
    return f.captured(0).attr("predict")(f[0]).attr("ravel")();
}

// score(self, X, y, sample_weight=None) of a regressor: R-squared.
py::object regressor_score(Frame& f) {
    py::object y_pred = f[0].attr("predict")(f[1]);
    return f.global("r2_score")(f[2], y_pred, py::arg("sample_weight") = f[3]);
}

// score(self, X, y, sample_weight=None) of a classifier: accuracy.
py::object classifier_score(Frame& f) {
    return f.global("accuracy_score")(f[2], f[0].attr("predict")(f[1]),
                                      py::arg("sample_weight") = f[3]);
}

py::object local_function(const Frame& f, const char* name, std::vector<Param> params, Body body,
                          py::tuple closure = py::tuple()) {
    FunctionDef def{name, std::string(kLocals) + name, std::move(params), body, ""};
    return make_function(std::move(def), f.globals(), std::move(closure));
}

py::object score_function(const Frame& f, Body body) {
    return local_function(
        f, "score", {arg("self"), arg("X"), arg("y"), arg("sample_weight", py::none())}, body);
}

void require(bool condition, const char* message) {
    if (!condition)
        raise_error(PyExc_AssertionError, message);
}

// The protocol checks. They hold whatever the interpreter's optimisation
// level: skipping them would register an unusable model as a valid one.
void check_protocol(const Frame& f, const py::object& estimator, const py::object& test_x,
                    const py::object& support_hpo) {
    if (truthy(f.global("is_regressor")(estimator))) {
        require(has_attribute(estimator, "predict"), "Model does not include function predict");
    } else if (truthy(f.global("is_classifier")(estimator))) {
        require(has_attribute(estimator, "predict"), "Model does not include function predict");
        require(has_attribute(estimator, "predict_proba"),
                "Model does not include function predict_proba");
        py::object columns = estimator.attr("predict_proba")(test_x).attr("shape")[py::int_(1)];
        require(equals(columns, py::int_(2)),
                "Num of model predict_proba output columns should be 2");
    }
    if (truthy(support_hpo))
        require(has_attribute(estimator, "fit"), "Model does not include function fit");
}

// Puts into the pipeline a copy of `estimator` whose predict is `predict`,
// deep if the estimator allows it, shallow otherwise.
void install_flattening_copy(const Frame& f, const py::object& pipeline,
                             const py::object& estimator, const py::object& predict) {
    try {
        py::object copy_estimator = f.global("deepcopy")(estimator);
        copy_estimator.attr("predict") = predict;
        pipeline.attr("estimator") = copy_estimator;
        return;
    } catch (py::error_already_set& e) {
        if (!is_ordinary_exception(e))
            throw;
    }
    py::object copy_estimator = f.global("copy")(estimator);
    copy_estimator.attr("predict") = predict;
    pipeline.attr("estimator") = copy_estimator;
}

// An estimator of no known family: check it follows the protocol and make
// its predictions one-dimensional.
void adapt_arbitrary(const Frame& f, const py::object& pipeline, const py::object& support_hpo) {
    py::object estimator = pipeline.attr("estimator");
    std::vector<py::object> test = unpack(pipeline.attr("get_data")(py::arg("test") = true), 3);
    const py::object& test_x = test[0];
    check_protocol(f, estimator, test_x, support_hpo);

    py::object prediction = estimator.attr("predict")(test_x);
    if (py::len(prediction.attr("shape")) == 1)
        return;
    py::object predict =
        local_function(f, "predict", {arg("x")}, flattened_predict, py::make_tuple(estimator));
    install_flattening_copy(f, pipeline, estimator, predict);
}

// A regressor or classifier without `score` gets the default one of its kind.
void supply_score(const Frame& f, const py::object& pipeline) {
    if (has_attribute(pipeline.attr("estimator"), "score"))
        return;
    Body body = nullptr;
    if (truthy(f.global("is_regressor")(pipeline.attr("estimator"))))
        body = regressor_score;
    else if (truthy(f.global("is_classifier")(pipeline.attr("estimator"))))
        body = classifier_score;
    if (!body)
        return;
    py::object estimator = pipeline.attr("estimator");
    estimator.attr("score") =
        f.global("types").attr("MethodType")(score_function(f, body), estimator);
}

// Registration does not fit: it only makes `check_is_fitted` accept the
// estimator, through `__sklearn_is_fitted__` or, failing that, `is_fitted_`.
void mark_fitted(const Frame& f, const py::object& pipeline) {
    if (!has_attribute(pipeline.attr("estimator"), "__sklearn_is_fitted__"))
        pipeline.attr("estimator").attr("__sklearn_is_fitted__") =
            f.global("__sklearn_is_fitted__");
    if (!truthy(pipeline.attr("estimator").attr("__sklearn_is_fitted__")()))
        return;
    try {
        f.global("check_is_fitted")(pipeline.attr("estimator"));
    } catch (py::error_already_set& e) {
        if (!is_ordinary_exception(e))
            throw;
        pipeline.attr("estimator").attr("is_fitted_") = py::bool_(true);
    }
}

// The first registration of a name scores the pipeline; a record made
// earlier (by singlerun or a former registration) stays. Both registries
// change together or not at all.
void file_registration(const Frame& f, const py::object& self, const py::object& pipeline,
                       const py::object& name) {
    py::object records = self.attr("training_record");
    bool new_record = !contains(records, name);
    if (new_record) {
        py::object record = self.attr("evaluate")(pipeline);
        record[py::str("fit_time")] = f.global("np").attr("nan");
        records[name] = record;
    }
    try {
        self.attr("registered_pipeline")[name] = pipeline;
    } catch (py::error_already_set&) {
        if (new_record)
            records.attr("pop")(name, py::none());
        throw;
    }
}

} // namespace

py::object sklearn_is_fitted(Frame&) {
    return py::bool_(true);
}

py::object register_model(Frame& f) {
    py::object self = f[0];
    py::object pipeline = f[1];
    py::object name = f[2];
    if (equals(f.global("get_model_name")(pipeline.attr("estimator")), "arbitrary"))
        adapt_arbitrary(f, pipeline, f[3]);
    if (name.is_none())
        name = pipeline.attr("name");
    supply_score(f, pipeline);
    mark_fitted(f, pipeline);
    pipeline.attr("name") = name;
    file_registration(f, self, pipeline, name);
    return py::none();
}

} // namespace zeka::workbench
