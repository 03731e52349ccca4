"""Training quality at the table defaults on small real data: xgb1's refit, gaminet, reludnn."""

import numpy as np
import pytest
from sklearn.datasets import load_diabetes
from sklearn.linear_model import Ridge
from sklearn.model_selection import KFold, cross_val_score
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler

from zeka.models import boosting, gaminet
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
    steps = 0

    def step(self, grads):
        CountingAdam.steps += 1
        super().step(grads)


def test_gaminet_takes_several_steps_per_epoch_when_the_batch_exceeds_the_rows(monkeypatch):
    monkeypatch.setattr(gaminet, "Adam", CountingAdam)
    CountingAdam.steps = 0
    rng = np.random.default_rng(0)
    X = rng.normal(size=(200, 3))
    y = np.sin(X[:, 0]) + 0.1 * rng.normal(size=200)
    model = GAMINetRegressor(interact_num=0, max_epochs=[20, 1, 1],
                             early_stop_thres=[50, 50, 50]).fit(X, y)
    epochs = sum(model.n_epochs_)
    assert CountingAdam.steps >= 4 * epochs


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
    model = GAMINetRegressor(normalize=True, reg_clarity=0.1, loss_threshold=0.01,
                             warm_start=True)
    assert cv_r2(model, X, y) >= ridge_r2 - 0.05


def test_reludnn_on_raw_inputs_trains_as_on_standardised_inputs(diabetes, ridge_r2):
    X, y = diabetes
    raw = cv_r2(ReluDNNRegressor(), X, y)
    scaled = cv_r2(make_pipeline(StandardScaler(), ReluDNNRegressor()), X, y)
    assert raw >= scaled - 0.02
    assert raw >= ridge_r2 - 0.05
