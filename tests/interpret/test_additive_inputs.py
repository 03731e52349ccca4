"""Bad and degenerate input for the additive and ReLU-network views: a clear error or a
right result, inputs untouched, views frozen when the model is refitted."""

import numpy as np
import pandas as pd
import pytest

from zeka.interpret import explain, supported
from zeka.models import ZEKAREGRESSOR

FAMILIES = ["gam", "xgb1", "xgb2", "ebm", "gaminet", "reludnn"]
TINY = {
    "ebm": dict(outer_bags=2, max_rounds=50, interactions=2),
    "gaminet": dict(max_epochs=[5, 5, 5], interact_num=2),
    "reludnn": dict(max_epochs=5),
    "xgb1": dict(n_estimators=10),
    "xgb2": dict(n_estimators=10),
}


def views_of(est):
    return [v for v in supported(est) if not v.startswith("xgb1_")]


def frame(n, seed=0):
    rng = np.random.RandomState(seed)
    return pd.DataFrame(rng.normal(size=(n, 3)), columns=["a", "b", "c"]), rng


@pytest.mark.parametrize("family", FAMILIES)
def test_missing_values_are_refused_naming_the_column(family):
    X, rng = frame(60)
    est = ZEKAREGRESSOR[family](**TINY.get(family, {})).fit(X, X.a + rng.normal(size=60))
    row = X.iloc[0].copy()
    row["b"] = np.nan
    with pytest.raises(ValueError, match=r"missing or infinite value.*\bin b\b"):
        explain(est, "local_fi", X, row=row)
    bad = X.copy()
    bad.iloc[3, 2] = np.inf
    with pytest.raises(ValueError, match=r"missing or infinite value.*\bin c\b"):
        explain(est, "global_fi", bad)


@pytest.mark.parametrize("family", FAMILIES)
@pytest.mark.parametrize("case", ["one row", "constant features"])
def test_degenerate_training_data_give_exact_views(family, case):
    if case == "one row":
        X, _ = frame(1)
        y = np.array([2.5])
    else:
        X = pd.DataFrame(np.ones((40, 3)), columns=["a", "b", "c"])
        y = np.random.RandomState(1).normal(size=40)
    est = ZEKAREGRESSOR[family](**TINY.get(family, {})).fit(X, y)
    for view in views_of(est):
        result = explain(est, view, X, row=0 if view.startswith("local") else None)
        assert result.figure().axes
        if view.startswith("local"):
            total = result.data["contribution"].sum() + result.base
            assert total == pytest.approx(est.predict(X)[0], abs=1e-9)


@pytest.mark.parametrize("family", FAMILIES)
def test_views_leave_inputs_alone_and_stay_put_when_the_model_is_refitted(family):
    X, rng = frame(80)
    y = X.a * X.b + rng.normal(size=80)
    est = ZEKAREGRESSOR[family](**TINY.get(family, {})).fit(X, y)
    X_before, y_before = X.copy(), y.copy()
    made = {
        view: explain(est, view, X, y=y, row=1 if view.startswith("local") else None)
        for view in views_of(est)
    }
    pd.testing.assert_frame_equal(X, X_before)
    pd.testing.assert_series_equal(y, y_before)
    snapshot = {view: _copy(result.data) for view, result in made.items()}
    est.fit(X * 3.0, -y)
    for view, result in made.items():
        _assert_same(result.data, snapshot[view])
        figure = result.figure()
        labels = [ax.get_xlabel() for ax in figure.axes] + [ax.get_ylabel() for ax in figure.axes]
        assert any(labels), view


def _copy(data):
    return {k: v.copy() for k, v in data.items()} if isinstance(data, dict) else data.copy()


def _assert_same(a, b):
    if isinstance(a, dict):
        for key in a:
            pd.testing.assert_frame_equal(a[key], b[key])
    else:
        pd.testing.assert_frame_equal(a, b)


@pytest.mark.parametrize("family", FAMILIES)
def test_a_model_fitted_without_names_takes_the_frames_names(family):
    X, rng = frame(60)
    est = ZEKAREGRESSOR[family](**TINY.get(family, {})).fit(X.to_numpy(), X.a + X.b * X.c)
    for view in views_of(est):
        result = explain(est, view, X, row=0 if view.startswith("local") else None)
        tables = result.data.values() if isinstance(result.data, dict) else [result.data]
        named = {
            str(v)
            for table in tables
            for v in list(table.index) + list(table.get("feature", table.get("effect", [])))
        }
        assert not {"X0", "X1", "X2"} & named, (view, named)
        if view in ("global_fi", "local_fi"):
            assert {"a", "b", "c"} <= named, (view, named)
