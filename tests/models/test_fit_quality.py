"""Fit quality and input contract of the catalogue: calibration on nearly separable classes,
target checks, the binary-only declaration and sample weights as repeated rows."""

import numpy as np
import pytest
import sklearn
from packaging import version
from sklearn.datasets import load_breast_cancer, make_classification, make_friedman1
from sklearn.linear_model import LogisticRegression
from sklearn.metrics import log_loss, roc_auc_score
from sklearn.model_selection import train_test_split
from sklearn.preprocessing import StandardScaler

from zeka.models import ZEKACLASSIFIER, ZEKAREGRESSOR

KEYS = list(ZEKAREGRESSOR)


@pytest.fixture(scope="module")
def breast_cancer():
    X, y = load_breast_cancer(return_X_y=True)
    X_train, X_test, y_train, y_test = train_test_split(
        X, y, test_size=0.3, stratify=y, random_state=0
    )
    scaler = StandardScaler().fit(X_train)
    return scaler.transform(X_train), y_train, scaler.transform(X_test), y_test


@pytest.mark.parametrize("key", ["glm", "gam"])
def test_unpenalised_classifiers_stay_calibrated_on_nearly_separable_classes(key, breast_cancer):
    X, y, X_test, y_test = breast_cancer
    model = ZEKACLASSIFIER[key]().fit(X, y)
    p = model.predict_proba(X_test)[:, 1]
    reference = LogisticRegression(max_iter=1000).fit(X, y).predict_proba(X_test)[:, 1]
    assert log_loss(y_test, p) < log_loss(y_test, reference) + 0.05
    assert roc_auc_score(y_test, p) > roc_auc_score(y_test, reference) - 0.01
    # an unbounded fit puts nearly every held-out row at 0 or 1
    assert np.mean(np.minimum(p, 1 - p) < 1e-6) < 0.2
    coef = model.coef_.ravel()
    assert np.all(np.isfinite(coef)) and np.abs(coef).max() < 100


def test_figs_classifier_probabilities_are_never_certain(breast_cancer):
    X, y, X_test, y_test = breast_cancer
    proba = ZEKACLASSIFIER["figs"]().fit(X, y).predict_proba(X_test)
    assert np.all((proba > 0) & (proba < 1))
    # a constant model scores about 0.66 here; trees clipped to 0 or 1 score far worse
    assert log_loss(y_test, proba[:, 1]) < 0.45


@pytest.mark.parametrize(
    "bad, word", [(np.nan, "NaN"), (np.inf, "infinite"), (-np.inf, "infinite")]
)
@pytest.mark.parametrize("task", ["regression", "classification"])
@pytest.mark.parametrize("key", KEYS)
def test_non_finite_target_is_refused(key, task, bad, word):
    rng = np.random.RandomState(0)
    X = rng.normal(size=(60, 3))
    y = (X[:, 0] > 0).astype(float) if task == "classification" else X[:, 0] * 2.0
    y[7] = bad
    catalogue = ZEKACLASSIFIER if task == "classification" else ZEKAREGRESSOR
    with pytest.raises(ValueError, match=word):
        catalogue[key]().fit(X, y)


def test_missing_text_label_is_refused():
    y = np.array(["a", "b", None, "a"] * 10, dtype=object)
    with pytest.raises(ValueError, match="missing"):
        ZEKACLASSIFIER["glm"]().fit(np.arange(40.0)[:, None], y)


@pytest.mark.parametrize("key", KEYS)
def test_classifiers_declare_and_enforce_two_classes(key):
    est = ZEKACLASSIFIER[key]()
    if version.parse(sklearn.__version__) >= version.parse("1.6"):
        from sklearn.utils import get_tags

        assert get_tags(est).classifier_tags.multi_class is False
    else:
        from sklearn.utils._tags import _safe_tags

        assert _safe_tags(est, key="binary_only") is True
    X = np.random.RandomState(0).normal(size=(30, 2))
    with pytest.raises(ValueError, match="Only binary classification is supported"):
        est.fit(X, np.arange(30) % 3)


# deterministic settings, so that two fits can be compared exactly
WEIGHT_PARAMS = {
    "ebm": {
        "outer_bags": 1,
        "early_stopping_rounds": 0,
        "max_rounds": 40,
        "interactions": 2,
        "max_bins": 16,
    },
    "xgb1": {"n_estimators": 30, "max_bin": 16},
    "xgb2": {"n_estimators": 30, "max_bin": 16},
    "figs": {"max_iter": 15},
}


@pytest.mark.parametrize("task", ["regression", "classification"])
@pytest.mark.parametrize("key", ["glm", "gam", "figs", "xgb1", "xgb2", "ebm"])
def test_integer_weights_equal_repeated_rows(key, task):
    if task == "regression":
        X, y = make_friedman1(n_samples=150, noise=0.5, random_state=3)
    else:
        X, y = make_classification(n_samples=150, n_features=5, random_state=3)
    # fewer bins than distinct values, so that the bins are quantiles of the counted rows
    counts = np.random.RandomState(4).randint(0, 4, size=len(y))
    counts[:2] = 1
    catalogue = ZEKACLASSIFIER if task == "classification" else ZEKAREGRESSOR
    weighted = catalogue[key](**WEIGHT_PARAMS.get(key, {})).fit(X, y, sample_weight=counts)
    rows = np.repeat(np.arange(len(y)), counts)
    repeated = catalogue[key](**WEIGHT_PARAMS.get(key, {})).fit(X[rows], y[rows])
    X_new = np.random.RandomState(5).normal(size=(200, X.shape[1])) * X.std(axis=0)
    score = "decision_function" if task == "classification" else "predict"
    np.testing.assert_allclose(
        getattr(weighted, score)(X_new), getattr(repeated, score)(X_new), rtol=1e-6, atol=1e-8
    )
