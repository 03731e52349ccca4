"""Weight of evidence and information value of xgb1 against pandas on the model's bins."""

import numpy as np
import pandas as pd
import pytest

from reference.interpret import woe_table
from zeka.interpret import explain
from zeka.interpret._core import InapplicableView
from zeka.models import XGB1Classifier, XGB1Regressor


@pytest.fixture(scope="module")
def credit():
    rng = np.random.default_rng(3)
    n = 600
    X = pd.DataFrame(
        {
            "income": rng.lognormal(10, 0.5, n),
            "age": rng.integers(18, 80, n).astype(float),
            "utilisation": rng.uniform(0, 1, n),
            "noise": rng.normal(size=n),
        }
    )
    logit = -1 + 2.5 * X["utilisation"] - 0.03 * (X["age"] - 45) - 0.5 * (X["income"] < 15000)
    y = np.where(rng.random(n) < 1 / (1 + np.exp(-logit)), "default", "paid")
    return X, y


def model_cuts(model, j):
    mine = (model.step_features_ == j) & (model.step_heights_ != 0)
    return np.unique(model.step_thresholds_[mine])


@pytest.mark.parametrize("weighted", [False, True])
def test_woe_and_iv_equal_pandas_on_the_models_bins(credit, weighted):
    X, y = credit
    model = XGB1Classifier(n_estimators=30).fit(X, y)
    w = np.random.default_rng(0).uniform(0.5, 2, len(y)) if weighted else None
    table = explain(model, "xgb1_woe", X, y=y, sample_weight=w).data
    ivs = explain(model, "xgb1_iv", X, y=y, sample_weight=w).data
    event = model.classes_[1]
    for j, name in enumerate(X.columns):
        cuts = model_cuts(model, j)
        mine = table[table["feature"] == name].reset_index(drop=True)
        reference = woe_table(X[name].to_numpy(), cuts, (y == event).astype(int), w)
        assert len(mine) == len(cuts) + 1
        np.testing.assert_allclose(
            mine[["rows", "events", "non_events", "woe", "iv"]],
            reference.to_numpy(),
            rtol=1e-12,
            atol=1e-12,
        )
        np.testing.assert_array_equal(mine["upper"].to_numpy()[:-1], cuts)
        assert ivs.loc[name, "iv"] == pytest.approx(reference["iv"].sum(), rel=1e-12)
        assert ivs.loc[name, "bins"] == len(cuts) + 1
    assert ivs["iv"].is_monotonic_decreasing and (ivs["iv"] >= 0).all()
    assert ivs.index[-1] == "noise" or ivs.loc["noise", "iv"] < ivs.loc["utilisation", "iv"]


def test_the_models_effect_of_each_bin_is_its_step_function(credit):
    X, y = credit
    model = XGB1Classifier(n_estimators=30).fit(X, y)
    table = explain(model, "xgb1_woe", X, y=y).data
    # a row's raw output is the intercept plus its bins' effects
    row = X.iloc[11]
    effects = 0.0
    for name in X.columns:
        bins = table[table["feature"] == name]
        inside = (bins["lower"] < row[name]) & (row[name] <= bins["upper"])
        assert inside.sum() == 1
        effects += float(bins.loc[inside, "model_effect"].iloc[0])
    assert model.intercept_ + effects == pytest.approx(model.decision_function(X.iloc[[11]])[0])


def test_a_regressor_is_refused_clearly(credit):
    X, _ = credit
    model = XGB1Regressor(n_estimators=10).fit(X, X["age"])
    for view in ("xgb1_woe", "xgb1_iv"):
        with pytest.raises(InapplicableView, match="regressor"):
            explain(model, view, X, y=X["age"])
    assert issubclass(InapplicableView, ValueError)


def test_the_classes_must_be_given_and_both_present(credit):
    X, y = credit
    model = XGB1Classifier(n_estimators=10).fit(X, y)
    with pytest.raises(ValueError, match="needs y"):
        explain(model, "xgb1_iv", X)
    with pytest.raises(ValueError, match="not one of the model's classes"):
        explain(model, "xgb1_iv", X, y=np.where(y == "paid", "ok", y))
    with pytest.raises(ValueError, match="only the class"):
        explain(model, "xgb1_iv", X, y=np.full(len(y), "paid"))


def test_an_empty_bin_gets_half_a_row():
    X = pd.DataFrame({"x": np.r_[np.zeros(50), np.ones(50)]})
    y = np.r_[np.zeros(50), np.r_[np.ones(40), np.zeros(10)]].astype(int)
    model = XGB1Classifier(n_estimators=5).fit(X, y)
    table = explain(model, "xgb1_woe", X, y=y).data
    first = table.iloc[0]
    assert first["events"] == 0 and np.isfinite(first["woe"])
    assert first["woe"] == pytest.approx(np.log((50.5 / 60) / (0.5 / 40)))
