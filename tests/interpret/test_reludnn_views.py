"""The ReLU network's local linear models: exact at every row and on its region, equal to
finite-difference gradients, grouped into the regions a numpy forward pass finds."""

import numpy as np
import pandas as pd
import pytest

from zeka.interpret import explain
from zeka.interpret._reludnn import LocalLinear, averaged_effect
from zeka.models import ZEKACLASSIFIER, ZEKAREGRESSOR

# names that are also column names of the region tables
NAMES = ["age", "income", "region", "share"]


def make_data(seed=0, n=250):
    rng = np.random.RandomState(seed)
    X = pd.DataFrame(rng.normal(size=(n, 4)), columns=NAMES)
    X["income"] = np.exp(X["income"]) * 1000.0
    f = X.age + np.sin(X.income / 1000.0) + X.age * X.region
    return X, f.to_numpy(), rng


@pytest.fixture(scope="module", params=["reg", "cls"])
def fitted(request):
    X, f, rng = make_data()
    if request.param == "reg":
        y = 100.0 * f + 5.0
        est = ZEKAREGRESSOR["reludnn"](hidden_layer_sizes=[12, 8], max_epochs=40).fit(X, y)
        raw = est.predict(X)
    else:
        y = (f > 0).astype(int)
        est = ZEKACLASSIFIER["reludnn"](hidden_layer_sizes=[12, 8], max_epochs=40).fit(X, y)
        raw = est.decision_function(X)
    return est, X, y, raw


def raw_output(est, X):
    return est.decision_function(X) if hasattr(est, "classes_") else est.predict(X)


def test_local_models_reproduce_the_output_at_every_row(fitted):
    est, X, y, raw = fitted
    local = LocalLinear(est, X.to_numpy())
    assert np.allclose(local.output, raw, atol=1e-9, rtol=0)
    fitted_at_rows = local.intercept + np.einsum("ij,ij->i", local.coef, X.to_numpy())
    assert np.allclose(fitted_at_rows, raw, atol=1e-9, rtol=0)


def test_local_models_hold_on_their_region_and_match_finite_differences(fitted):
    est, X, y, raw = fitted
    x0 = X.to_numpy()[:40]
    local = LocalLinear(est, x0)
    scale = X.to_numpy().std(axis=0)
    checked = 0
    for j in range(x0.shape[1]):
        h = 1e-5 * scale[j]
        up, down = x0.copy(), x0.copy()
        up[:, j] += h
        down[:, j] -= h
        same = (LocalLinear(est, up).region == local.region) & (
            LocalLinear(est, down).region == local.region
        )
        f_up, f_down = raw_output(est, up), raw_output(est, down)
        # linear on the region: the row's model predicts the moved points exactly
        predicted = local.intercept + np.einsum("ij,ij->i", local.coef, up)
        assert np.allclose(predicted[same], f_up[same], atol=1e-9 * max(1, np.abs(raw).max()))
        difference = (f_up - f_down) / (2 * h)
        assert np.allclose(difference[same], local.coef[same, j], rtol=1e-5, atol=1e-6)
        checked += same.sum()
    assert checked > 100


def test_local_fi_adds_up_and_global_fi_averages_it(fitted):
    est, X, y, raw = fitted
    for row in (0, 9):
        view = explain(est, "local_fi", X, row=row)
        assert view.data["contribution"].sum() + view.base == pytest.approx(raw[row], abs=1e-9)
        mean = X.to_numpy().mean(axis=0)
        assert np.allclose(
            view.data["contribution"],
            view.data["coefficient"] * (X.iloc[row].to_numpy() - mean),
            atol=1e-12,
        )
    sub = X.iloc[:5]
    local = np.array(
        [explain(est, "local_fi", sub, row=i).data["contribution"].to_numpy() for i in range(5)]
    )
    table = explain(est, "global_fi", sub).data.set_index("feature").loc[NAMES]
    assert np.allclose(table["importance"], np.abs(local).mean(axis=0), atol=1e-12)


def activation_patterns(est, X):
    """Which hidden units are on at every row, by a numpy forward pass."""
    net = est.network_
    a = (X.to_numpy() - est.x_mean_) / est.x_scale_
    on = []
    for W, b in zip(net.weights[:-1], net.biases[:-1]):
        z = a @ W[0].astype(float) + b[0, 0].astype(float)
        on.append(z > 0)
        a = np.maximum(z, 0)
    return np.hstack(on)


def test_llm_summary_lists_the_regions_a_forward_pass_finds(fitted):
    est, X, y, raw = fitted
    summary = explain(est, "llm_summary", X, y=y).data
    table, coefficients = summary["regions"], summary["coefficients"]
    patterns = activation_patterns(est, X)
    _, counts = np.unique(patterns, axis=0, return_counts=True)
    assert len(table) == len(counts)
    assert sorted(table["rows"]) == sorted(counts)
    assert table["rows"].sum() == len(X)
    assert table["share"].sum() == pytest.approx(1.0)
    assert (np.diff(table["rows"]) <= 0).all()
    # the largest region's coefficients are those of each of its rows
    local = LocalLinear(est, X.to_numpy())
    _, inverse = np.unique(patterns, axis=0, return_inverse=True)
    inverse = inverse.ravel()
    biggest = np.flatnonzero(inverse == np.bincount(inverse).argmax())
    assert np.allclose(coefficients.loc[1], local.coef[biggest[0]], atol=1e-9)
    assert table.loc[1, "intercept"] == pytest.approx(local.intercept[biggest[0]], abs=1e-9)
    response = y[biggest] if not hasattr(est, "classes_") else (y[biggest] == est.classes_[1])
    assert table.loc[1, "response mean"] == pytest.approx(np.mean(response))
    assert table.loc[1, "response std"] == pytest.approx(np.std(response), abs=1e-7)
    pc = explain(est, "llm_pc", X).data["coefficients"]
    assert list(pc.columns) == NAMES
    assert np.allclose(pc.to_numpy(), coefficients.to_numpy()[: len(pc)])
    violin = explain(est, "llm_violin", X).data
    assert np.allclose(violin[NAMES].to_numpy(), local.coef)


def test_averaged_effect_integrates_the_mean_coefficient_per_bin():
    rng = np.random.RandomState(4)
    x = rng.normal(size=500)
    coef = 2.0 + np.sign(x) + rng.normal(scale=0.1, size=500)
    knots, effect = averaged_effect(x, coef, 8)
    bins = np.searchsorted(knots[1:-1], x, side="left")
    slope = pd.Series(coef).groupby(bins).mean().to_numpy()
    assert np.allclose(np.diff(effect), slope * np.diff(knots))
    assert np.interp(x, knots, effect).mean() == pytest.approx(0.0, abs=1e-12)


def test_the_averaged_effect_of_a_linear_network_is_its_line():
    # a network trained on a linear target with identity-like hidden layers is not
    # exactly linear; a network whose hidden units are all on is
    X, f, rng = make_data(seed=7)
    est = ZEKAREGRESSOR["reludnn"](hidden_layer_sizes=[3], max_epochs=1).fit(X, f)
    net = est.network_
    net.biases[0][...] = 1e6  # every unit on, everywhere: one linear model
    view = explain(est, "global_effect_plot", X).data["effects"]
    local = LocalLinear(est, X.to_numpy())
    assert len(np.unique(local.region)) == 1
    for j, name in enumerate(NAMES):
        curve = view[view["feature"] == name]
        slope = np.diff(curve["effect"]) / np.diff(curve["x"])
        assert np.allclose(slope, local.coef[0, j], rtol=1e-6)
