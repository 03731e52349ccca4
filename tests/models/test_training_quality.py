"""Training quality at the table defaults on small data: xgb1's refit, ebm, gaminet, reludnn."""

from itertools import combinations
from unittest.mock import patch

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from scipy.special import expit
from sklearn.datasets import load_diabetes
from sklearn.linear_model import Ridge
from sklearn.model_selection import KFold, cross_val_score
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from zeka.models import _losses, _pair_gain, _pair_terms, boosting, ebm, gaminet
from zeka.models._base import bin_edges, bin_matrix, sigmoid
from zeka.models._nn import EarlyStopping
from zeka.models.boosting import XGB1Classifier, XGB1Regressor
from zeka.models.gaminet import GAMINetRegressor
from zeka.models.reludnn import ReluDNNRegressor

FOLDS = KFold(3, shuffle=True, random_state=0)


@pytest.fixture(scope="module")
def diabetes():
    return load_diabetes(return_X_y=True, scaled=False)


@pytest.fixture(scope="module")
def ridge_r2(diabetes):
    """An independent linear reference on the same folds."""
    X, y = diabetes
    return cross_val_score(make_pipeline(StandardScaler(), Ridge()), X, y, cv=FOLDS).mean()


def cv_r2(estimator, X, y):
    return cross_val_score(estimator, X, y, cv=FOLDS).mean()


def test_xgb1_default_refit_does_not_overfit_small_data(diabetes, ridge_r2):
    X, y = diabetes
    refit = cv_r2(XGB1Regressor(), X, y)
    boosted = cv_r2(XGB1Regressor(refit_method="xgb"), X, y)
    # the refit starts from the boosted steps; a sound penalty keeps what boosting found
    assert refit >= boosted - 0.01
    assert refit >= ridge_r2 - 0.05


def gcv_by_definition(Z, y, ridge, gamma):
    """GCV of a ridge fit with an unpenalised intercept, from the explicit hat matrix."""
    n, p = Z.shape
    D = np.column_stack([np.ones(n), Z])
    P = np.diag([0.0] + [ridge * n] * p)
    H = D @ np.linalg.solve(D.T @ D + P, D.T)
    rss = np.mean((y - H @ y) ** 2)
    return rss / (1.0 - gamma * np.trace(H) / n) ** 2


@pytest.mark.parametrize("seed", [0, 1])
def test_refit_penalty_minimises_gcv_over_its_grid(seed):
    rng = np.random.default_rng(seed)
    Z = (rng.random((120, 15)) > 0.5).astype(float)
    y = Z[:, :3] @ np.array([1.0, -2.0, 0.5]) + rng.normal(size=120)
    chosen = boosting._gcv_ridge(boosting._WeightedGram(Z, y, np.ones(120), 120), 0.0)
    A = np.cov(Z.T, bias=True)
    grid = boosting._RIDGE_GRID * np.trace(A) / len(A)
    scores = [gcv_by_definition(Z, y, q, boosting._GCV_GAMMA) for q in grid]
    assert chosen == pytest.approx(grid[int(np.argmin(scores))])
    gram = boosting._WeightedGram(Z, y, np.ones(120), 120)
    assert boosting._gcv_ridge(gram, 10.0 * grid[-1]) == 10.0 * grid[-1]


def test_xgb1_logistic_refit_is_calibrated_and_reports_its_penalty():
    rng = np.random.default_rng(3)
    X = rng.normal(size=(300, 4))
    y = (X[:, 0] + 0.5 * rng.normal(size=300) > 0).astype(int)
    model = XGB1Classifier().fit(X, y)
    assert model.refit_penalty_ >= 1.0 / 300
    p = model.predict_proba(X)[:, 1]
    # a calibrated logistic fit reproduces the share of positives on its training rows
    assert p.mean() == pytest.approx(y.mean(), abs=0.02)


class CountingAdam(gaminet.Adam):
    """Adam that keeps its instances, whose step counts ``t`` tell the steps taken."""

    made = []

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        CountingAdam.made.append(self)


def test_gaminet_takes_several_steps_per_epoch_when_the_batch_exceeds_the_rows(monkeypatch):
    monkeypatch.setattr(gaminet, "Adam", CountingAdam)
    CountingAdam.made = []
    rng = np.random.default_rng(0)
    X = rng.normal(size=(200, 3))
    y = np.sin(X[:, 0]) + 0.1 * rng.normal(size=200)
    model = GAMINetRegressor(
        interact_num=0, max_epochs=[20, 1, 1], early_stop_thres=[50, 50, 50]
    ).fit(X, y)
    epochs = sum(model.n_epochs_)
    assert sum(adam.t for adam in CountingAdam.made) >= 4 * epochs


def test_early_stopping_progress_does_not_depend_on_the_first_loss():
    # an untrained network on raw inputs starts far off; progress later is still progress
    losses = [2350.0] + list(1.0 - 1e-3 * np.arange(60))
    stopper = EarlyStopping(patience=5, tolerance=1e-4, scale=0.5)
    for epoch, loss in enumerate(losses):
        stopper.update(loss, epoch)
        assert not stopper.stop
    assert stopper.best_epoch == len(losses) - 1


def test_gaminet_on_small_data_is_close_to_a_linear_reference(diabetes, ridge_r2):
    X, y = diabetes
    model = GAMINetRegressor(normalize=True, reg_clarity=0.1, loss_threshold=0.01, warm_start=True)
    assert cv_r2(model, X, y) >= ridge_r2 - 0.05


def test_reludnn_on_raw_inputs_trains_as_on_standardised_inputs(diabetes, ridge_r2):
    X, y = diabetes
    raw = cv_r2(ReluDNNRegressor(), X, y)
    scaled = cv_r2(make_pipeline(StandardScaler(), ReluDNNRegressor()), X, y)
    assert raw >= scaled - 0.02
    assert raw >= ridge_r2 - 0.05


def test_ebm_shapes_are_smooth_enough_to_generalise_on_small_noisy_data():
    # greedy single cuts from the first round chase the noise into staircases
    def truth(X):
        return X[:, 0] + np.sin(X[:, 1]) + 0.5 * X[:, 2] ** 2

    scores = []
    for seed in range(3):
        rng = np.random.RandomState(seed)
        X = rng.uniform(-2, 2, size=(300, 4))
        model = ebm.EBMRegressor(interactions=0).fit(X, truth(X) + rng.normal(size=300))
        X_new = rng.uniform(-2, 2, size=(5000, 4))
        error = np.mean((model.predict(X_new) - truth(X_new)) ** 2)
        scores.append(1 - error / np.var(truth(X_new)))
    assert np.mean(scores) > 0.96


def pair_tree_gains(bins, sizes, wg, wh, pairs):
    """The gain of every pair by the numpy definition, each pair's histograms alone."""
    gains = []
    for j, k in pairs:
        n_j, n_k = sizes[j], sizes[k]
        cell = bins[:, j] * n_k + bins[:, k]
        hist_g = np.bincount(cell, wg, n_j * n_k).reshape(1, n_j, n_k)
        hist_h = np.bincount(cell, wh, n_j * n_k).reshape(1, n_j, n_k)
        gains.append(_pair_terms._pair_tree(hist_g, hist_h, with_steps=False)[0][0])
    return np.array(gains)


def native_gains(bins, sizes, wg, wh, pairs, share):
    return _pair_gain.pair_gains(
        np.asarray(bins, np.int64),
        np.asarray(sizes, np.int64),
        np.asarray(pairs, np.int64).reshape(-1, 2),
        wg,
        wh,
        share,
    )


def assert_same_gains(got, expected):
    finite = np.isfinite(expected)
    assert np.array_equal(np.isfinite(got), finite)
    scale = max(1.0, float(np.abs(expected[finite]).max(initial=0.0)))
    np.testing.assert_allclose(got[finite], expected[finite], rtol=1e-12, atol=1e-12 * scale)


@pytest.mark.parametrize("logistic", [False, True])
def test_pairs_ranked_together_score_as_each_pair_alone(logistic):
    rng = np.random.RandomState(int(logistic))
    X = rng.normal(size=(120, 7))
    X[:, 2] = 1.0  # a constant feature takes part in no pair
    X[:, 3] = rng.randint(0, 3, size=120)
    X[:, 6] = X[:, 4]  # a copy: its pairs tie with the original's
    y = X[:, 0] * X[:, 1] + X[:, 4] + rng.normal(size=120)
    loss = _losses.LogLoss() if logistic else _losses.SquaredLoss()
    if logistic:
        y = (y > 0).astype(float)
    w = rng.uniform(0.5, 2.0, size=120)
    edges = [
        bin_edges(X[:, j], bins, weights=w) for j, bins in enumerate([32, 7, 4, 32, 12, 2, 12])
    ]
    edges[0] = np.insert(edges[0], 5, edges[0][5])  # an empty bin among full ones
    edges[5] = np.append(edges[5], 10.0)  # an empty last bin
    bins = bin_matrix(X, edges)
    sizes = [len(e) + 1 for e in edges]
    F = np.full(120, 0.1)
    g, h = loss.gradients(F, y)
    pairs = list(combinations(range(7), 2))
    gains = pair_tree_gains(bins, sizes, w * g, w * h, pairs)
    share = _pair_terms._MIN_HESSIAN_SHARE
    assert_same_gains(native_gains(bins, sizes, w * g, w * h, pairs, share), gains)

    alone = dict(zip(pairs, gains))
    assert alone[(0, 4)] == alone[(0, 6)] and np.isfinite(alone[(0, 4)])
    for candidates in (pairs, pairs[::-1]):
        expected = [
            pair for pair in sorted(candidates, key=lambda p: -alone[p]) if np.isfinite(alone[pair])
        ]
        assert _pair_terms.rank_pairs(bins, edges, y, w, loss, F, candidates) == expected
        # ties keep the candidates' order
        first, second = ((0, 4), (0, 6)) if candidates is pairs else ((0, 6), (0, 4))
        assert expected.index(first) < expected.index(second)
    assert len(expected) == 15 and all(2 not in pair for pair in expected)


@st.composite
def pair_problems(draw):
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    n = draw(st.sampled_from([0, 1, 5, 40]))
    sizes = draw(st.lists(st.integers(1, 9), min_size=2, max_size=4))
    # each feature uses a random subset of its bins, leaving others empty
    bins = np.stack(
        [rng.choice(rng.integers(0, size, size=2 + size), size=n) for size in sizes], axis=1
    ).astype(np.int64)
    g = rng.normal(size=n) * draw(st.sampled_from([1.0, 1e-8, 1e6]))
    h = rng.uniform(0.0, 1.0, size=n)
    w = rng.choice([0.0, 0.5, 1.0, 3.0], size=n)  # zero weights: empty hessian cells
    pairs = [(j, k) for j in range(len(sizes)) for k in range(len(sizes)) if j != k]
    share = draw(st.sampled_from([0.0, _pair_terms._MIN_HESSIAN_SHARE, 0.3]))
    return bins, sizes, w * g, w * h, pairs, share


@settings(max_examples=150, deadline=None)
@given(pair_problems())
def test_pair_gains_match_the_numpy_definition(problem):
    bins, sizes, wg, wh, pairs, share = problem
    with patch.object(_pair_terms, "_MIN_HESSIAN_SHARE", share):
        expected = pair_tree_gains(bins, sizes, wg, wh, pairs)
    assert_same_gains(native_gains(*problem), expected)


def test_pairs_set_aside_by_pruning_predict_as_switched_off_and_come_back():
    rng = np.random.RandomState(0)
    net = gaminet._AdditiveNetwork(4, [8], [6, 6], np.zeros(4, int), rng, logistic=False)
    net.set_pairs([(0, 1), (0, 2), (1, 3)], rng)
    Z = rng.normal(size=(50, 4))
    net.pair_active = np.array([1.0, 0.0, 1.0])
    switched_off = net.predict(Z)
    before = [p.copy() for p in net.pair_net.params]
    net.set_aside_inactive_pairs()
    assert net.pairs == [(0, 1), (1, 3)]
    np.testing.assert_allclose(net.predict(Z), switched_off, rtol=1e-6)
    for p in net.pair_net.params:
        p += 1.0  # training after pruning changes the pairs that stay
    net.reset_activity()
    assert net.pairs == [(0, 1), (0, 2), (1, 3)]
    for now, then in zip(net.pair_net.params, before):
        np.testing.assert_array_equal(now[[0, 2]], then[[0, 2]] + 1.0)
        np.testing.assert_array_equal(now[1], then[1])


def test_child_histograms_by_difference_match_direct_sums():
    rng = np.random.RandomState(3)
    X = np.round(rng.normal(size=(300, 4)), 1)
    edges = [bin_edges(X[:, j], 16) for j in range(4)]
    bins = bin_matrix(X, edges)
    width = max(len(e) for e in edges) + 1
    grower = boosting._TreeGrower(bins, width, edges, np.zeros(4), 1.0, 0.0, 0.0, 2)
    g, h = rng.normal(size=300), rng.uniform(0.1, 1.0, size=300)
    rows = np.arange(300)
    parent = grower._histograms(rows, g, h)
    for goes_left in (X[:, 0] < 0.3, X[:, 1] < -1.0):
        left, right = rows[goes_left], rows[~goes_left]
        for child, rows_of in zip(
            grower._child_histograms(parent, left, right, g, h), (left, right)
        ):
            direct = grower._histograms(rows_of, g, h)
            for by_difference, summed in zip(child, direct):
                np.testing.assert_allclose(by_difference, summed, rtol=1e-12, atol=1e-12)
                # a bin with none of the child's rows is exactly empty
                assert np.all(by_difference[summed == 0] == 0)


def test_sigmoid_agrees_with_expit_and_saturates_quietly():
    z = np.concatenate([np.linspace(-700, 700, 20001), [-1e300, -800.0, 800.0, 1e300, 0.0]])
    ours = sigmoid(z)  # an overflow warning would fail the test
    np.testing.assert_allclose(ours, expit(z), rtol=1e-15, atol=1e-300)
    assert ours[-5] == 0.0 and ours[-2] == 1.0 and ours[-1] == 0.5
