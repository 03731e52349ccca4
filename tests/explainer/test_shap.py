import inspect

import matplotlib
import numpy as np
import pandas as pd
import pytest
import shap
from numpy.testing import assert_allclose, assert_array_equal
from sklearn.base import BaseEstimator
from sklearn.exceptions import NotFittedError
from sklearn.linear_model import LinearRegression, LogisticRegression
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from zeka.exceptions import ZekaError
from zeka.explainer import shap as zs
from zeka.explainer.shap import SHAP
from zeka.utils import TestDataResult

matplotlib.use("Agg")
# KernelExplainer's own default (l1_reg="auto") warns on recent shap.
kernel_warning = pytest.mark.filterwarnings(
    "ignore:l1_reg='auto' is deprecated:DeprecationWarning")


def make_data(n_features, classification=False, rows=30, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.normal(size=(rows, n_features))
    margin = x @ np.linspace(1.0, -1.0, n_features) + 0.5
    y = (margin + rng.normal(size=rows) > 0).astype(int) if classification else margin
    return x, y


def fitted(model, n_features, classification=False, **data):
    x, y = make_data(n_features, classification, **data)
    return model.fit(x, y), x


def output(model, x):
    """The output an explanation adds up to: prediction or probability of class 1."""
    return model.predict_proba(x)[:, 1] if hasattr(model, "predict_proba") else model.predict(x)


def assert_additive(model, x, result):
    explanation = result.value["shap_values"]
    values = np.atleast_2d(explanation.values)
    base = np.broadcast_to(np.ravel(explanation.base_values), values.shape[:1])
    assert_allclose(values.sum(axis=1) + base, output(model, np.atleast_2d(x)), atol=1e-6)


def test_module_attributes_class_shape_and_signatures():
    names = [n for n in vars(zs) if not n.startswith("_")]
    assert names == ["shap", "np", "pd", "plt", "is_regressor", "is_classifier", "scatter_",
                     "TestDataResult", "scale_plot_ticks", "ZekaWarning", "ZekaInfo",
                     "ZekaError", "SHAP"]
    assert zs.shap is shap and zs.ZekaError is ZekaError and SHAP.__bases__ == (object,)
    assert [n for n in vars(SHAP) if not n.startswith("__") or n == "__init__"] == [
        "__init__", "fit", "global_explain_data", "get_global_explain", "local_explain_data",
        "plot_shap"]
    assert isinstance(vars(SHAP)["plot_shap"], staticmethod)
    assert SHAP.__doc__.startswith("SHapley Additive exPlanations.")
    assert str(inspect.signature(SHAP)) == (
        "(estimator, feature_names=None, masker_sample_size=500, sample_size=500, random_state=0)")
    assert str(inspect.signature(SHAP.plot_shap)) == (
        "(explain_result, plot_type, max_show=10, scaler=None, figsize=(8, 6))")


@pytest.mark.parametrize("model, method", [(LinearRegression(), "predict"),
                                           (LogisticRegression(), "predict_proba"),
                                           (StandardScaler(), None)])
def test_construction(model, method):
    s = SHAP(model, ["a"], 7, None, 3)
    assert (s.estimator, s.feature_names, s.masker_sample_size, s.sample_size,
            s.random_state) == (model, ["a"], 7, None, 3)
    assert (s.x, s.shap_explainer, s.shap_tag, s.shap_val) == (None,) * 4
    if method:
        assert s.predict_func == getattr(model, method)
    else:
        assert not hasattr(s, "predict_func")


def test_fit_default_names_generic_path_and_exact_linear_values():
    model, x = fitted(LinearRegression(), 3)
    s = SHAP(model, sample_size=None)
    assert s.fit(x) is None
    assert s.x is x and s.shap_tag == "other" and isinstance(s.feature_names, np.ndarray)
    assert_array_equal(s.feature_names, ["X0", "X1", "X2"])
    result = s.global_explain_data()
    assert isinstance(result, TestDataResult) and result.key == "global_shap"
    assert list(result.value) == ["feature", "sample_size", "feature_names", "shap_values"]
    assert s.shap_val is result.value["shap_values"]
    # Independent features: the SHAP value of a linear model is coef * (x - mean).
    assert_allclose(s.shap_val.values, model.coef_ * (x - x.mean(axis=0)), atol=1e-9)
    assert_additive(model, x, result)
    local = s.local_explain_data(x[4:5])
    assert list(local.value) == ["feature_names", "feature_values", "shap_values"]
    assert_array_equal(local.value["feature_values"], x[4])
    assert local.value["shap_values"].values.shape == (3,)
    assert_additive(model, x[4], local)


def test_linear_classifier_is_explained_in_log_odds():
    model, x = fitted(LogisticRegression(), 4, classification=True)
    s = SHAP(model, list("abcd"), sample_size=None)
    s.fit(x)
    explanation = s.global_explain_data().value["shap_values"]
    assert explanation.values.shape == (30, 4)
    assert_allclose(explanation.values.sum(axis=1) + explanation.base_values,
                    model.decision_function(x), atol=1e-6)


@kernel_warning
@pytest.mark.parametrize("classification", [False, True])
@pytest.mark.parametrize("n_features, explainer, tag",
                         [(15, shap.explainers.Exact, "other"),
                          (16, shap.KernelExplainer, "kernel")])
def test_fallbacks_add_up_to_the_model_output(n_features, explainer, tag, classification):
    # A pipeline is no model shap.Explainer knows: the fallback explains it.
    final = LogisticRegression() if classification else LinearRegression()
    model, x = fitted(make_pipeline(StandardScaler(), final), n_features, classification)
    names = [f"f{i}" for i in range(n_features)]
    s = SHAP(model, names, masker_sample_size=4, sample_size=3)
    s.fit(x)
    assert type(s.shap_explainer) is explainer and s.shap_tag == tag
    assert s.feature_names is names
    result = s.global_explain_data(["f2", "f0"])
    values = result.value["shap_values"]
    assert values.values.shape == (3, n_features) and result.value["feature"] == "f2"
    if tag == "kernel":
        assert values.base_values.shape == (1,)
        rows = values.data
    else:
        rows = values.data
    assert_additive(model, rows, result)
    local = s.local_explain_data(x[7])
    assert local.value["shap_values"].values.shape == (n_features,)
    assert np.ndim(local.value["shap_values"].base_values) == 0
    assert_additive(model, x[7], local)


@pytest.mark.parametrize("features, expected", [(["b", "a"], "b"), ("b", "b"), (None, None),
                                                (("a", "b"), ("a", "b"))])
def test_selected_feature(features, expected):
    model, x = fitted(LinearRegression(), 2)
    s = SHAP(model, ["a", "b"], sample_size=5)
    assert s.get_global_explain(features).value["shap_values"] is None
    s.fit(x)
    assert s.global_explain_data(features).value["feature"] == expected
    again = s.get_global_explain(features).value
    assert again["feature"] == expected and again["shap_values"] is s.shap_val
    assert again["sample_size"] == 5 and again["feature_names"] == ["a", "b"]


def test_unsupported_tag_and_estimator():
    s = SHAP(LinearRegression(), sample_size=None)
    for call in (s.global_explain_data, lambda: s.local_explain_data(np.zeros(2))):
        with pytest.raises(ZekaError, match=r"^Unsupported value of shap_tag\.$"):
            call()
    with pytest.raises(TypeError):  # sampling missing background data fails first
        SHAP(LinearRegression()).global_explain_data()


@kernel_warning
def test_kernel_path_refuses_an_estimator_of_no_known_type():
    model, x = fitted(make_pipeline(StandardScaler(), LinearRegression()), 16, rows=6)
    s = SHAP(model, masker_sample_size=3, sample_size=2)
    s.fit(x)
    s.estimator = BaseEstimator()
    with pytest.raises(ZekaError, match=r"^Unsupported type of estimator\.$"):
        s.global_explain_data()
    with pytest.raises(ZekaError, match=r"^Unsupported value of estimator\.$"):
        s.local_explain_data(x[0])
    assert s.shap_val is None


def test_masker_keeps_every_row_without_a_sample_size():
    model, x = fitted(LinearRegression(), 3, rows=150)
    for size, rows in [(None, 150), (500, 150), (20, 20)]:
        s = SHAP(model, masker_sample_size=size, sample_size=None)
        s.fit(x)
        assert s.shap_explainer.masker.data.shape[0] == rows
    # the generic explainer's base value is the mean prediction over all rows
    s = SHAP(model, masker_sample_size=None, sample_size=None)
    s.fit(x)
    assert_allclose(s.global_explain_data().value["shap_values"].base_values,
                    model.predict(x).mean(), atol=1e-9)


@pytest.mark.parametrize("model, n_features", [(LinearRegression(), 3),
                                               (make_pipeline(LinearRegression()), 3)])
def test_frame_background_is_read_by_position(model, n_features):
    model, x = fitted(model, n_features)
    frame = pd.DataFrame(x, columns=[f"X{i}" for i in range(n_features)])
    before = frame.copy()
    by_frame, by_array = (SHAP(model, ["a", "b", "c"], sample_size=None) for _ in range(2))
    by_frame.fit(frame)
    by_array.fit(x)
    got = by_frame.global_explain_data().value["shap_values"]
    assert_allclose(got.values, by_array.global_explain_data().value["shap_values"].values)
    assert not np.isnan(got.values).any()
    pd.testing.assert_frame_equal(frame, before)


def test_explanations_set_autolayout():
    model, x = fitted(LinearRegression(), 2)
    s = SHAP(model)
    s.fit(x)
    for call in (s.global_explain_data, lambda: s.local_explain_data(x[0])):
        matplotlib.rcParams["figure.autolayout"] = False
        call()
        assert matplotlib.rcParams["figure.autolayout"] is True
