"""The additive families explain themselves exactly: contributions plus intercept are the
raw output, purified interactions average to zero along both axes, and without
interactions the contributions are the exact interventional SHAP values."""

import itertools

import numpy as np
import pandas as pd
import pytest

from zeka.interpret import explain
from zeka.interpret._effects import effects
from zeka.models import ZEKACLASSIFIER, ZEKAREGRESSOR

FAST = {
    "ebm": dict(outer_bags=2, max_rounds=300, interactions=3),
    "gaminet": dict(max_epochs=[40, 40, 40], interact_num=3, batch_size=100),
    "xgb1": dict(n_estimators=60),
    "xgb2": dict(n_estimators=60),
}
FAMILIES = ["gam", "xgb1", "xgb2", "ebm", "gaminet"]
TWO_WAY = ["xgb2", "ebm", "gaminet"]
NAMES = ["age", "income", "rate", "score", "grade"]


def make_data(seed=0, n=300):
    rng = np.random.RandomState(seed)
    X = pd.DataFrame(rng.normal(size=(n, 5)), columns=NAMES)
    X["income"] = np.exp(X["income"]) * 1000.0
    X["grade"] = rng.randint(0, 3, n).astype(float)
    f = X.age + np.sin(X.income / 1000.0) + X.age * X.rate + 0.5 * X.grade
    return X, f.to_numpy(), rng


@pytest.fixture(scope="module", params=list(itertools.product(FAMILIES, ["reg", "cls"])))
def fitted(request):
    family, task = request.param
    X, f, rng = make_data()
    if task == "reg":
        est = ZEKAREGRESSOR[family](**FAST.get(family, {})).fit(
            X, f + 0.1 * rng.normal(size=len(f))
        )
        raw = est.predict(X)
    else:
        y = (f + 0.5 * rng.normal(size=len(f)) > 0).astype(int)
        est = ZEKACLASSIFIER[family](**FAST.get(family, {})).fit(X, y)
        raw = est.decision_function(X)
    return family, est, X, raw


def raw_output(est, X):
    return est.decision_function(X) if hasattr(est, "classes_") else est.predict(X)


@pytest.mark.parametrize("row", [0, 7, 123])
def test_local_fi_adds_up_to_the_raw_output(fitted, row):
    family, est, X, raw = fitted
    view = explain(est, "local_fi", X, row=row)
    assert list(view.data["feature"]) == NAMES
    assert view.data["contribution"].sum() + view.base == pytest.approx(raw[row], abs=1e-9)
    assert np.allclose(view.data["value"], X.iloc[row])


def test_local_views_add_up_for_rows_outside_the_data(fitted):
    family, est, X, _ = fitted
    Xnew, _, _ = make_data(seed=5, n=4)
    Xnew.iloc[0] *= 3.0  # beyond the training range
    expected = raw_output(est, Xnew)
    views = ["local_fi"] + (["local_ei"] if family in TWO_WAY else [])
    for i in range(len(Xnew)):
        for name in views:
            view = explain(est, name, X, row=Xnew.iloc[i])
            assert view.data["contribution"].sum() + view.base == pytest.approx(
                expected[i], abs=1e-9
            )


def test_every_term_averages_to_zero_and_the_intercept_is_the_mean_output(fitted):
    family, est, X, raw = fitted
    model = effects(est, X.to_numpy(), NAMES)
    values = model.values(X.to_numpy())
    assert np.allclose(values.sum(axis=1) + model.intercept, raw, atol=1e-9, rtol=0)
    assert np.allclose(values.mean(axis=0), 0.0, atol=1e-9)
    assert model.intercept == pytest.approx(raw.mean(), abs=1e-9)


def test_global_fi_is_the_mean_absolute_contribution(fitted):
    family, est, X, raw = fitted
    view = explain(est, "global_fi", X)
    # an independent reading: every row's local view
    rows = [0, 1, 2]
    sub = X.iloc[rows]
    local = np.array(
        [explain(est, "local_fi", sub, row=i).data["contribution"].to_numpy() for i in range(3)]
    )
    table = explain(est, "global_fi", sub).data.set_index("feature").loc[NAMES]
    assert np.allclose(table["importance"], np.abs(local).mean(axis=0), atol=1e-12)
    assert view.data["share"].sum() == pytest.approx(1.0)
    assert (np.diff(view.data["importance"]) <= 0).all()


@pytest.mark.parametrize("family", TWO_WAY)
@pytest.mark.parametrize("task", ["reg", "cls"])
def test_purified_interactions_have_zero_weighted_mean_along_both_axes(family, task, request):
    X, f, rng = make_data(seed=1)
    cat = ZEKAREGRESSOR if task == "reg" else ZEKACLASSIFIER
    y = f if task == "reg" else (f > 0).astype(int)
    est = cat[family](**FAST.get(family, {})).fit(X, y)
    model = effects(est, X.to_numpy(), NAMES)
    values = model.values(X.to_numpy())
    assert model.pair_terms, "the data have an interaction the model should take"
    for t in model.pair_terms:
        scale = np.abs(values[:, t]).max()
        for axis, j in enumerate(model.terms[t]):
            bins = np.searchsorted(model.grids[t][axis], X.iloc[:, j].to_numpy(), side="left")
            sums = np.bincount(bins, values[:, t])
            assert np.abs(sums / np.maximum(np.bincount(bins), 1)).max() <= 1e-9 * max(scale, 1)


@pytest.mark.parametrize("family", TWO_WAY)
def test_local_ei_has_a_row_per_term_and_adds_up(family):
    X, f, rng = make_data(seed=2)
    est = ZEKAREGRESSOR[family](**FAST.get(family, {})).fit(X, f)
    view = explain(est, "local_ei", X, row=3)
    assert view.data["contribution"].sum() + view.base == pytest.approx(est.predict(X)[3], abs=1e-9)
    assert set(view.data["kind"]) == {"main", "interaction"}
    # the feature contributions are the main effects plus half of each interaction
    fi = explain(est, "local_fi", X, row=3).data.set_index("feature")["contribution"]
    ei = view.data
    pair_features = ei["effect"].str.split(" x ")
    for name in NAMES:
        main = ei.loc[ei["effect"] == name, "contribution"].sum()
        inter = ei.loc[
            (ei["kind"] == "interaction") & np.array([name in s for s in pair_features]),
            "contribution",
        ].sum()
        assert fi[name] == pytest.approx(main + inter / 2, abs=1e-12)
    glob = explain(est, "global_ei", X).data
    assert set(glob["importance"]["effect"]) == set(ei["effect"])
    assert set(glob["heatmaps"]["effect"]) == set(ei.loc[ei["kind"] == "interaction", "effect"])


@pytest.mark.parametrize("family", ["gam", "xgb1"])
@pytest.mark.parametrize("task", ["reg", "cls"])
def test_contributions_are_the_exact_interventional_shap_values(family, task):
    shap = pytest.importorskip("shap")
    X, f, rng = make_data(seed=3, n=120)
    cat = ZEKAREGRESSOR if task == "reg" else ZEKACLASSIFIER
    y = f if task == "reg" else (f + rng.normal(size=len(f)) > 0).astype(int)
    est = cat[family](**FAST.get(family, {})).fit(X, y)

    def model(Z):
        return raw_output(est, pd.DataFrame(Z, columns=NAMES))

    masker = shap.maskers.Independent(X.to_numpy(), max_samples=len(X))
    explainer = shap.explainers.Exact(model, masker)
    rows = [0, 11, 42]
    values = explainer(X.to_numpy()[rows]).values
    for k, row in enumerate(rows):
        view = explain(est, "local_fi", X, row=row)
        assert np.allclose(view.data["contribution"], values[k], atol=1e-6, rtol=0)


def test_a_feature_the_model_never_uses_contributes_nothing():
    X, f, rng = make_data(seed=4)
    X["rate"] = 2.5  # constant: no term, no split
    est = ZEKAREGRESSOR["gam"]().fit(X, f)
    view = explain(est, "local_fi", X, row=0)
    assert view.data.set_index("feature").loc["rate", "contribution"] == 0.0


def test_trees_deeper_than_two_are_refused_for_effects():
    X, f, rng = make_data(seed=6)
    est = ZEKAREGRESSOR["xgb2"](max_depth=3, n_estimators=20).fit(X, f)
    with pytest.raises(ValueError, match="depth two"):
        explain(est, "local_ei", X, row=0)


@pytest.mark.parametrize("task", ["reg", "cls"])
def test_shape_functions_are_the_models_own_terms_centred(task):
    X, f, rng = make_data(seed=8)
    cat = ZEKAREGRESSOR if task == "reg" else ZEKACLASSIFIER
    y = f if task == "reg" else (f + rng.normal(size=len(f)) > 0).astype(int)
    gam = cat["gam"]().fit(X, y)
    xgb1 = cat["xgb1"](**FAST["xgb1"]).fit(X, y)

    def gam_term(j, x):
        for k, spline, center in gam.terms_:
            if k == j:
                return (spline.transform(x[:, None]) - center) @ gam.term_coefficients()[j]
        return np.zeros(len(x))

    def xgb1_term(j, x):
        mine = xgb1.step_features_ == j
        steps = x[:, None] > xgb1.step_thresholds_[mine]
        return steps @ xgb1.step_heights_[mine]

    for est, term in ((gam, gam_term), (xgb1, xgb1_term)):
        curves = explain(est, "global_effect_plot", X).data["effects"]
        for j, name in enumerate(NAMES):
            curve = curves[curves["feature"] == name]
            x = curve["x"].to_numpy()
            expected = term(j, x) - term(j, X[name].to_numpy()).mean()
            assert np.allclose(curve["effect"], expected, atol=1e-9), (type(est).__name__, name)
        assert curves.loc[curves["feature"] == "grade", "categorical"].all()
        assert not curves.loc[curves["feature"] == "age", "categorical"].any()
