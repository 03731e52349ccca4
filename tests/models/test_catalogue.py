"""The model catalogue: keywords, defaults, protocol, training quality and key parameters."""

import inspect
import pickle

import numpy as np
import pandas as pd
import pytest
from sklearn.base import clone, is_classifier, is_regressor
from sklearn.datasets import make_classification, make_friedman1
from sklearn.exceptions import NotFittedError
from sklearn.linear_model import LinearRegression
from sklearn.metrics import accuracy_score, r2_score
from sklearn.utils.validation import check_is_fitted

from zeka.config.estimator_settings import model_param_items
from zeka.models import ZEKACLASSIFIER, ZEKAREGRESSOR, get_model_name

KEYS = ["glm", "gam", "tree", "figs", "xgb1", "xgb2", "ebm", "gaminet", "reludnn"]
CATALOGUES = {"regression": ZEKAREGRESSOR, "classification": ZEKACLASSIFIER}

# keywords the training workflow passes on top of a family's table
WORKFLOW_FIXED = {
    "xgb1": {"feature_names": None, "feature_types": None},
    "xgb2": {"feature_names": None, "feature_types": None},
    "gaminet": {
        "normalize": True,
        "reg_clarity": 0.1,
        "loss_threshold": 0.01,
        "warm_start": True,
        "verbose": False,
    },
}

# smaller training budgets for the slow families, to keep the suite short
QUICK = {
    "ebm": {"outer_bags": 2, "max_rounds": 300, "interactions": 3},
    "gaminet": {
        "max_epochs": [200, 100, 20],
        "learning_rates": [0.01, 0.01, 0.001],
        "batch_size": 200,
        "interact_num": 3,
    },
    "reludnn": {"max_epochs": 300, "learning_rate": 0.01, "batch_size": 100},
}


def table_defaults(key):
    return {name: entry[3] for name, entry in model_param_items[key].items()}


def build(key, task, **params):
    return CATALOGUES[task][key](**{**QUICK.get(key, {}), **params})


@pytest.fixture(scope="module")
def regression_data():
    X, y = make_friedman1(n_samples=700, noise=0.5, random_state=1)
    return X[:500], y[:500], X[500:], y[500:]


@pytest.fixture(scope="module")
def classification_data():
    X, y = make_classification(
        n_samples=700, n_features=8, n_informative=4, n_redundant=0, class_sep=1.2, random_state=2
    )
    labels = np.array(["no", "yes"])[y]
    return X[:500], labels[:500], X[500:], labels[500:]


@pytest.fixture(scope="module")
def fitted_regressors(regression_data):
    X, y, _, _ = regression_data
    return {key: build(key, "regression").fit(X, y) for key in KEYS}


@pytest.fixture(scope="module")
def fitted_classifiers(classification_data):
    X, y, _, _ = classification_data
    return {key: build(key, "classification").fit(X, y) for key in KEYS}


def test_catalogues_hold_the_nine_families_in_table_order():
    assert list(ZEKAREGRESSOR) == KEYS == list(model_param_items)
    assert list(ZEKACLASSIFIER) == KEYS
    for key in KEYS:
        assert is_regressor(ZEKAREGRESSOR[key]()) and not is_classifier(ZEKAREGRESSOR[key]())
        assert is_classifier(ZEKACLASSIFIER[key]()) and not is_regressor(ZEKACLASSIFIER[key]())


@pytest.mark.parametrize("task", list(CATALOGUES))
@pytest.mark.parametrize("key", KEYS)
def test_keywords_are_the_table_plus_workflow_keywords(key, task):
    cls = CATALOGUES[task][key]
    parameters = inspect.signature(cls).parameters
    assert set(parameters) == set(model_param_items[key]) | set(WORKFLOW_FIXED.get(key, {}))
    for name, default in table_defaults(key).items():
        assert parameters[name].default == default
        assert type(parameters[name].default) is type(default)
    with pytest.raises(TypeError):
        cls(not_a_parameter=1)


@pytest.mark.parametrize("task", list(CATALOGUES))
@pytest.mark.parametrize("key", KEYS)
def test_construction_as_the_workflow_does_it_and_parameter_round_trip(key, task):
    params = {**WORKFLOW_FIXED.get(key, {}), **table_defaults(key)}
    est = CATALOGUES[task][key](**params)
    assert est.get_params() == params
    copy = clone(est)
    assert copy is not est and copy.get_params() == params
    changed = {
        name: value
        for name, value in params.items()
        if isinstance(value, int) and not isinstance(value, bool)
    }
    if changed:
        name = sorted(changed)[0]
        assert copy.set_params(**{name: changed[name] + 1}) is copy
        assert copy.get_params()[name] == changed[name] + 1
        assert est.get_params()[name] == changed[name]


@pytest.mark.parametrize("key", KEYS)
def test_regressors_learn_the_signal(key, regression_data, fitted_regressors):
    X, y, X_test, y_test = regression_data
    est = fitted_regressors[key]
    pred = est.predict(X_test)
    assert pred.shape == (len(y_test),) and np.all(np.isfinite(pred))
    # the mean predicts with R^2 close to zero; every family must explain most variance
    assert r2_score(y_test, pred) > 0.6
    assert est.score(X_test, y_test) == pytest.approx(r2_score(y_test, pred))


@pytest.mark.parametrize("key", KEYS)
def test_classifiers_learn_the_signal_with_any_two_labels(
    key, classification_data, fitted_classifiers
):
    X, y, X_test, y_test = classification_data
    est = fitted_classifiers[key]
    assert list(est.classes_) == ["no", "yes"]
    proba = est.predict_proba(X_test)
    assert proba.shape == (len(y_test), 2)
    assert np.all((proba >= 0) & (proba <= 1)) and np.allclose(proba.sum(axis=1), 1)
    pred = est.predict(X_test)
    assert set(pred) <= {"no", "yes"}
    np.testing.assert_array_equal(pred, est.classes_[(proba[:, 1] > 0.5).astype(int)])
    majority = max(np.mean(y_test == "no"), np.mean(y_test == "yes"))
    assert accuracy_score(y_test, pred) > majority + 0.2


@pytest.mark.parametrize("key", KEYS)
def test_clone_of_a_fitted_model_is_unfitted_and_gets_model_name(
    key, fitted_regressors, fitted_classifiers
):
    for est in (fitted_regressors[key], fitted_classifiers[key]):
        check_is_fitted(est)
        X = np.random.RandomState(0).normal(size=(9000, est.n_features_in_))
        restored = pickle.loads(pickle.dumps(est))
        np.testing.assert_array_equal(restored.predict(X), est.predict(X))
        # many rows are predicted block by block, with the same result as a few rows
        scores = est.decision_function if is_classifier(est) else est.predict
        np.testing.assert_allclose(scores(X)[-50:], scores(X[-50:]), rtol=1e-5, atol=1e-6)
        fresh = clone(est)
        assert fresh.get_params() == est.get_params()
        with pytest.raises(NotFittedError):
            fresh.predict(np.zeros((2, est.n_features_in_)))
        assert get_model_name(est) == key
        assert get_model_name(fresh) == key


def test_get_model_name_of_other_estimators_is_arbitrary():
    assert get_model_name(LinearRegression()) == "arbitrary"
    assert get_model_name(object()) == "arbitrary"


@pytest.mark.parametrize("key", KEYS)
def test_pandas_input_and_feature_count_check(key, regression_data):
    X, y, X_test, _ = regression_data
    frame = pd.DataFrame(X, columns=["f%d" % j for j in range(X.shape[1])])
    est = build(key, "regression").fit(frame, pd.Series(y))
    assert list(est.feature_names_in_) == list(frame.columns)
    np.testing.assert_allclose(est.predict(frame.iloc[:20]), est.predict(X[:20]))
    with pytest.raises(ValueError):
        est.predict(X_test[:, :5])


@pytest.mark.parametrize("key", KEYS)
def test_classifiers_reject_more_than_two_classes(key):
    X = np.random.RandomState(0).normal(size=(30, 3))
    with pytest.raises(ValueError, match="two classes"):
        ZEKACLASSIFIER[key]().fit(X, np.arange(30) % 3)


@pytest.mark.parametrize("key", KEYS)
def test_sample_weights_silence_rows(key, regression_data):
    X, y, X_test, y_test = regression_data
    rng = np.random.RandomState(9)
    # a third of the rows get wild targets; weighted out, they must not spoil the fit
    wild = rng.rand(len(y)) < 1 / 3
    y_wild = np.where(wild, rng.normal(0, 30, len(y)), y)
    weights = np.where(wild, 0.0, 1.0)
    weighted = build(key, "regression").fit(X, y_wild, sample_weight=weights)
    plain = build(key, "regression").fit(X, y_wild)
    assert r2_score(y_test, weighted.predict(X_test)) > 0.5
    assert r2_score(y_test, weighted.predict(X_test)) > r2_score(y_test, plain.predict(X_test))


@pytest.mark.parametrize("labels", [(-1, 1), (False, True), (3.5, 7.0)])
def test_classifier_labels_come_back_as_given(labels, classification_data):
    X, y, X_test, _ = classification_data
    mapped = np.where(y == "yes", labels[1], labels[0])
    est = ZEKACLASSIFIER["glm"]().fit(X, mapped)
    assert list(est.classes_) == sorted(labels)
    assert set(est.predict(X_test)) <= set(labels)
    assert np.mean(est.predict(X) == mapped) > 0.8
