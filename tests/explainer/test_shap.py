import inspect

import matplotlib
import numpy as np
import pandas as pd
import pytest
import shap
from numpy.testing import assert_allclose, assert_array_equal
from packaging.version import Version
from sklearn.base import BaseEstimator
from sklearn.exceptions import NotFittedError
from sklearn.linear_model import LinearRegression, LogisticRegression
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from zeka.exceptions import ZekaError
from zeka.explainer import shap as zs
from zeka.explainer.shap import SHAP

matplotlib.use("Agg")
OLD_SHAP_NEW_MATPLOTLIB = Version(shap.__version__) < Version("0.42") and Version(
    matplotlib.__version__
) >= Version("3.6")
# KernelExplainer's own default (l1_reg="auto") warns on recent shap.
kernel_warning = pytest.mark.filterwarnings("ignore:l1_reg='auto' is deprecated:DeprecationWarning")


def fitted(model, n_features, classes=0, rows=30):
    """``model`` fitted on random rows: a regression, or ``classes`` classes."""
    x = np.random.default_rng(0).normal(size=(rows, n_features))
    y = x @ np.linspace(1.0, -1.0, n_features) + 0.5
    if classes:
        y = np.arange(rows) % classes if classes > 2 else (y > 0).astype(int)
    return model.fit(x, y), x


def pipeline(final):
    """A model shap.Explainer does not know, so the fallbacks explain it."""
    return make_pipeline(StandardScaler(), final)


def assert_additive(model, x, result):
    """SHAP values plus base value give the prediction, or the probability of class 1."""
    explanation = result.value["shap_values"]
    values = np.atleast_2d(explanation.values)
    x = np.atleast_2d(x)
    expected = model.predict_proba(x)[:, 1] if hasattr(model, "predict_proba") else model.predict(x)
    base = np.broadcast_to(np.ravel(explanation.base_values), values.shape[:1])
    assert_allclose(values.sum(axis=1) + base, np.ravel(expected), atol=1e-6)


def test_module_and_class_shape():
    assert [n for n in vars(zs) if not n.startswith("_")] == [
        "shap",
        "np",
        "pd",
        "plt",
        "is_regressor",
        "is_classifier",
        "scatter_",
        "TestDataResult",
        "scale_plot_ticks",
        "ZekaWarning",
        "ZekaInfo",
        "ZekaError",
        "SHAP",
    ]
    assert zs.shap is shap and zs.ZekaError is ZekaError and SHAP.__bases__ == (object,)
    assert [n for n in vars(SHAP) if not n.startswith("__") or n == "__init__"] == [
        "__init__",
        "fit",
        "global_explain_data",
        "get_global_explain",
        "local_explain_data",
        "plot_shap",
    ]
    assert isinstance(vars(SHAP)["plot_shap"], staticmethod) and SHAP.__doc__.startswith(
        "SHapley Additive exPlanations."
    )
    assert str(inspect.signature(SHAP)) == (
        "(estimator, feature_names=None, masker_sample_size=500, sample_size=500, random_state=0)"
    )
    assert str(inspect.signature(SHAP.plot_shap)) == (
        "(explain_result, plot_type, max_show=10, scaler=None, figsize=(8, 6))"
    )


@pytest.mark.parametrize(
    "model, method",
    [
        (LinearRegression(), "predict"),
        (LogisticRegression(), "predict_proba"),
        (StandardScaler(), None),
    ],
)
def test_construction(model, method):
    s = SHAP(model, ["a"], 7, None, 3)
    assert vars(s) == {
        "estimator": model,
        "feature_names": ["a"],
        "random_state": 3,
        **({"predict_func": getattr(model, method)} if method else {}),
        "masker_sample_size": 7,
        "sample_size": None,
        "x": None,
        "shap_explainer": None,
        "shap_tag": None,
        "shap_val": None,
    }


def test_generic_linear_path():
    model, x = fitted(LinearRegression(), 3)
    s = SHAP(model, sample_size=None)
    assert s.fit(x) is None
    assert s.x is x and s.shap_tag == "other" and isinstance(s.feature_names, np.ndarray)
    assert_array_equal(s.feature_names, ["X0", "X1", "X2"])
    matplotlib.rcParams["figure.autolayout"] = False
    result = s.global_explain_data()
    assert matplotlib.rcParams["figure.autolayout"] is True and s.shap_val.values.shape == (30, 3)
    assert result.key == "global_shap" and result.value["shap_values"] is s.shap_val
    # independent features: a linear model's SHAP value is coef * (x - mean)
    assert_allclose(s.shap_val.values, model.coef_ * (x - x.mean(axis=0)), atol=1e-9)
    matplotlib.rcParams["figure.autolayout"] = False
    local = s.local_explain_data(x[4:5])
    assert matplotlib.rcParams["figure.autolayout"] is True and local.key == "local_shap"
    assert list(local.value) == ["feature_names", "feature_values", "shap_values"]
    assert_array_equal(local.value["feature_values"], x[4])
    assert_additive(model, x[4], local)
    # a classifier is explained in log-odds by the linear explainer
    model, x = fitted(LogisticRegression(), 4, classes=3)
    s = SHAP(model, sample_size=None)
    s.fit(x)
    explanation = s.global_explain_data().value["shap_values"]
    assert_allclose(
        explanation.values.sum(axis=1) + explanation.base_values,
        model.decision_function(x)[:, 1],
        atol=1e-6,
    )


@kernel_warning
@pytest.mark.parametrize("classes", [0, 2, 3])
@pytest.mark.parametrize(
    "n_features, explainer, tag",
    [(15, shap.explainers.Exact, "other"), (16, shap.KernelExplainer, "kernel")],
)
def test_fallbacks_add_up_to_the_model_output(n_features, explainer, tag, classes):
    model, x = fitted(
        pipeline(LogisticRegression() if classes else LinearRegression()), n_features, classes
    )
    names = [f"f{i}" for i in range(n_features)]
    s = SHAP(model, names, masker_sample_size=4, sample_size=3)
    s.fit(x)
    assert type(s.shap_explainer) is explainer and s.shap_tag == tag and s.feature_names is names
    result = s.global_explain_data(["f2", "f0"])
    values = result.value["shap_values"]
    assert values.values.shape == (3, n_features) and result.value["feature"] == "f2"
    assert tag == "other" or values.base_values.shape == (1,)
    assert_additive(model, values.data, result)
    local = s.local_explain_data(x[7])
    assert local.value["shap_values"].values.shape == (n_features,)
    assert np.ndim(local.value["shap_values"].base_values) == 0
    assert_additive(model, x[7], local)


class ColumnRegressor(LinearRegression):
    def predict(self, X):
        return super().predict(X).reshape(-1, 1)


@kernel_warning
def test_kernel_local_explanation_of_a_column_output():
    model, x = fitted(pipeline(ColumnRegressor()), 16, rows=8)
    s = SHAP(model, masker_sample_size=4)
    s.fit(x)
    assert_additive(model, x[2], s.local_explain_data(x[2]))


@pytest.mark.parametrize(
    "features, expected", [(["b", "a"], "b"), ("b", "b"), (None, None), (("a", "b"), ("a", "b"))]
)
def test_selected_feature(features, expected):
    model, x = fitted(LinearRegression(), 2)
    s = SHAP(model, ["a", "b"], sample_size=5)
    assert s.get_global_explain(features).value["shap_values"] is None
    s.fit(x)
    assert s.global_explain_data(features).value["feature"] == expected
    assert s.get_global_explain(features).value == {
        "feature": expected,
        "sample_size": 5,
        "feature_names": ["a", "b"],
        "shap_values": s.shap_val,
    }


@kernel_warning
def test_errors_of_unfitted_and_unknown_estimators():
    s = SHAP(LinearRegression(), sample_size=None)
    for call in (s.global_explain_data, lambda: s.local_explain_data(np.zeros(2))):
        with pytest.raises(ZekaError, match=r"^Unsupported value of shap_tag\.$"):
            call()
    with pytest.raises((TypeError, AttributeError)):  # sampling None fails first
        SHAP(LinearRegression()).global_explain_data()
    for model in (LinearRegression(), make_pipeline(LinearRegression())):
        s = SHAP(model)
        s.fit(np.ones((4, 2)))
        with pytest.raises(NotFittedError):
            s.global_explain_data()
    model, x = fitted(pipeline(LinearRegression()), 16, rows=6)
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
    # the base value is the mean prediction over all rows, not over 100
    s = SHAP(model, masker_sample_size=None, sample_size=None)
    s.fit(x)
    assert_allclose(
        s.global_explain_data().value["shap_values"].base_values, model.predict(x).mean(), atol=1e-9
    )


@kernel_warning
@pytest.mark.parametrize(
    "make_model, n_features",
    [
        (LinearRegression, 3),
        (lambda: pipeline(LinearRegression()), 3),
        (lambda: pipeline(LinearRegression()), 16),
    ],
)
def test_frame_background_is_read_by_position(make_model, n_features):
    model, x = fitted(make_model(), n_features, rows=8)
    frame = pd.DataFrame(x, columns=[f"X{i}" for i in range(n_features)])
    before = frame.copy()
    names = [f"n{i}" for i in range(n_features)]
    by_frame, by_array = (SHAP(model, names, sample_size=None) for _ in range(2))
    by_frame.fit(frame)
    by_array.fit(x)
    result = by_frame.global_explain_data()
    got = result.value["shap_values"]
    assert_additive(model, x, result)
    assert not np.isnan(got.values).any() and isinstance(got.data, np.ndarray)
    if by_frame.shap_tag == "other":  # the kernel explainer samples at random
        assert_allclose(got.values, by_array.global_explain_data().value["shap_values"].values)
    pd.testing.assert_frame_equal(frame, before)


@pytest.mark.parametrize(
    "make_model", [LinearRegression, lambda: pipeline(LinearRegression())], ids=["generic", "exact"]
)
def test_bad_input_gives_a_result_or_the_libraries_error(make_model):
    model, x = fitted(make_model(), 3)
    params = model.get_params()
    s = SHAP(model, sample_size=None)
    s.fit(x)
    with pytest.raises(ValueError):  # pandas: 4 values for 3 named columns
        s.local_explain_data(np.zeros(4))
    with pytest.raises(AttributeError):  # a frame has no ravel
        s.local_explain_data(pd.DataFrame(x[:1]))
    s.fit(x[:1])  # one background row: every row is explained against it
    assert_array_equal(s.global_explain_data().value["shap_values"].values, 0)
    assert_additive(model, x[3], s.local_explain_data(x[3]))
    for data in (np.column_stack([x[:, 0], np.full(30, 5.0), x[:, 2]]), x[:, :1]):
        other = make_model().fit(data, x[:, 0])  # a constant feature; one feature
        t = SHAP(other, sample_size=None)
        t.fit(data)
        result = t.global_explain_data()
        assert_additive(other, data, result)
        assert data.shape[1] == 1 or not result.value["shap_values"].values[:, 1].any()
    assert model.get_params() == params
    x[0, 1] = np.nan  # missing values show in the explanation or fail in the model
    s.fit(x)
    if make_model is LinearRegression:
        values = s.global_explain_data().value["shap_values"]
        assert np.isnan(values.values[:, 1]).all() and np.isnan(values.base_values).all()
    else:
        with pytest.raises(ValueError, match="NaN"):
            s.global_explain_data()


@pytest.fixture
def explained():
    model, x = fitted(pipeline(LinearRegression()), 12, rows=20)
    # as many rows as features would confuse shap 0.41's axes: 10 rows, 12 features
    s = SHAP(model, [f"f{i}" for i in range(12)], masker_sample_size=5, sample_size=10)
    s.fit(x)
    yield s, x
    matplotlib.pyplot.close("all")


@pytest.mark.filterwarnings("ignore:The NumPy global RNG was seeded:FutureWarning")
@pytest.mark.filterwarnings("ignore:No data for colormapping provided via 'c':UserWarning")
@pytest.mark.parametrize("kind", ["bar", "beeswarm", "waterfall"])
def test_library_plots(explained, kind):
    if kind == "beeswarm" and OLD_SHAP_NEW_MATPLOTLIB:
        pytest.skip("shap 0.41's beeswarm colour bar needs matplotlib older than 3.6")
    s, x = explained
    result = s.local_explain_data(x[0]) if kind == "waterfall" else s.global_explain_data()
    fig = SHAP.plot_shap(result, kind, max_show=5, figsize=(5, 4))
    assert tuple(fig.get_size_inches()) == (5, 4)
    labels = {t.get_text() for t in fig.axes[0].get_yticklabels() if t.get_text()}
    # the waterfall lists 10 rows whatever max_show says
    assert len(labels) == (10 if kind == "waterfall" else 5) and labels & {"f0", "f11"}
    assert sum("other features" in label for label in labels) == 1


def test_scatter_and_unknown_kinds(explained):
    s, x = explained
    scaler = StandardScaler().fit(pd.DataFrame(x * 10 + 100, columns=s.feature_names))
    fig = SHAP.plot_shap(s.global_explain_data([["f1", "f2"]]), "scatter", scaler=scaler)
    assert tuple(fig.get_size_inches()) == (8, 6)
    assert [a.get_ylabel() for a in fig.axes].count("f2") == 1  # the colour bar
    ax = fig.axes[0]
    assert ax.get_xlabel() == "f1" and "f1" in ax.get_ylabel()
    ticks = [float(t.get_text()) for t in ax.get_xticklabels()]
    assert_allclose(ticks, ax.get_xticks() * scaler.scale_[1] + scaler.mean_[1], rtol=1e-6)
    plain = SHAP.plot_shap(s.global_explain_data(3), "scatter", scaler=None)
    assert plain.axes[0].get_xlabel() == "f3" and len(plain.axes) == 1
    for kind in ("Bar", "pie"):
        assert SHAP.plot_shap(s.global_explain_data(), kind).axes == []
    with pytest.raises(IndexError):
        SHAP.plot_shap(s.global_explain_data([["f1"]]), "scatter")
