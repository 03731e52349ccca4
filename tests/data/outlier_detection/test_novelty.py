import inspect
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from numpy.testing import assert_allclose, assert_array_equal
from sklearn import svm
from sklearn.exceptions import NotFittedError
from sklearn.preprocessing import MinMaxScaler, StandardScaler

from zeka.data.outlier_detection import novelty as nv
from zeka.data.outlier_detection.novelty import OneClassSVM

DEFAULTS = dict(
    kernel="rbf",
    degree=3,
    gamma="scale",
    coef0=0.0,
    tol=0.001,
    nu=0.5,
    shrinking=True,
    cache_size=200,
    verbose=False,
    max_iter=-1,
)
ARGUMENTS = [*DEFAULTS, "standardization"]


@pytest.fixture
def data():
    rng = np.random.default_rng(0)
    x = rng.normal([10.0, -3.0, 100.0], [1.0, 5.0, 30.0], size=(120, 3))
    return x, rng.normal([10.0, -3.0, 100.0], [2.0, 10.0, 60.0], size=(40, 3))


def test_module_attributes_and_class_shape():
    assert [n for n in vars(nv) if not n.startswith("_")] == [
        "np",
        "sklearn_OneClassSVM",
        "StandardScaler",
        "OneClassSVM",
    ]
    assert nv.np is np and nv.sklearn_OneClassSVM is svm.OneClassSVM
    assert nv.StandardScaler is StandardScaler
    assert OneClassSVM.__bases__ == (object,)
    assert (OneClassSVM.__module__, OneClassSVM.__qualname__) == (
        "zeka.data.outlier_detection.novelty",
        "OneClassSVM",
    )
    assert [n for n in vars(OneClassSVM) if callable(vars(OneClassSVM)[n])] == [
        "__init__",
        "fit",
        "decision_function",
        "predict",
        "get_params",
        "set_params",
        "__sklearn_is_fitted__",
        "__sklearn_tags__",
        "__repr__",
        "_repr_html_",
        "_repr_mimebundle_",
    ]


def test_a_failed_dependency_import_fails_the_import_with_that_error():
    script = (
        "import sys; sys.modules['sklearn.svm'] = None\n"
        "try:\n    import zeka.data.outlier_detection.novelty\n"
        "except BaseException as e:\n    print(type(e).__name__, e)"
    )
    out = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, check=True
    ).stdout.strip()
    assert out == "ModuleNotFoundError import of sklearn.svm halted; None in sys.modules"


def test_signatures():
    init = ", ".join(f"{k}={v!r}" for k, v in DEFAULTS.items()) + ", standardization=True"
    assert str(inspect.signature(OneClassSVM)) == f"({init})"
    expected = {
        "fit": "(X, y=None, sample_weight=None)",
        "decision_function": "(X, scale=True)",
        "predict": "(X=None, scale=True, threshold=0.9)",
    }
    for name, text in expected.items():
        assert str(inspect.signature(getattr(OneClassSVM(), name))) == text
        assert str(inspect.signature(getattr(OneClassSVM, name))) == "(self, " + text[1:]
        assert getattr(OneClassSVM, name).__qualname__ == f"OneClassSVM.{name}"


def test_docstring_documents_arguments_and_fitted_attributes(data):
    doc = OneClassSVM.__doc__
    assert "one-class svm" in doc.lower() and "outlier" in doc
    for name in ARGUMENTS:
        assert f"\n{name} : " in doc
    fitted = svm.OneClassSVM().fit(data[0])
    for name in [n for n in vars(fitted) if n.endswith("_") and not n.startswith("_")]:
        assert f"``{name}``" in doc


@pytest.mark.parametrize("by_position", [True, False])
def test_construction_passes_arguments_unchecked(by_position):
    values = ["poly", 2, 0.3, 1.5, 1e-4, 2.0, False, 50, False, 7, 0]
    args, kwargs = (values, {}) if by_position else ([], dict(zip(ARGUMENTS, values)))
    det = OneClassSVM(*args, **kwargs)
    assert det.estimator.get_params() == dict(zip(ARGUMENTS[:-1], values[:-1]))
    assert det.standardization == 0 and det.scaler_ is None and det.score is None
    with pytest.raises(ValueError, match="nu") as ours:  # nu=2.0 is rejected only at fit
        det.fit(np.ones((5, 2)))
    with pytest.raises(ValueError) as theirs:
        svm.OneClassSVM(**dict(zip(ARGUMENTS[:-1], values[:-1]))).fit(np.ones((5, 2)))
    assert type(ours.value) is type(theirs.value) and str(ours.value) == str(theirs.value)


def test_defaults_and_standardization_kept_by_reference():
    flag = np.array([1])
    det = OneClassSVM(standardization=flag)
    assert det.estimator.get_params() == DEFAULTS and det.standardization is flag


@pytest.mark.parametrize("standardization", [True, False])
def test_scores_match_scikit_learn(data, standardization):
    x, x_new = data
    weights = np.linspace(0.5, 2.0, len(x))
    det = OneClassSVM(nu=0.2, standardization=standardization)
    model = det.fit(x, None, weights)
    assert model is det.estimator
    scaler = StandardScaler().fit(x) if standardization else None
    prep = scaler.transform if standardization else (lambda a: a)
    reference = svm.OneClassSVM(nu=0.2).fit(prep(x), sample_weight=weights)
    assert_allclose(det.score, -reference.decision_function(prep(x)))
    assert_allclose(det.decision_function(x_new), -reference.decision_function(prep(x_new)))
    if standardization:
        assert_allclose(det.scaler_.mean_, scaler.mean_)
        assert_allclose(det.scaler_.scale_, scaler.scale_)
        assert_allclose(
            det.decision_function(x_new, scale=False), -reference.decision_function(x_new)
        )
    else:
        assert det.scaler_ is None
        assert_array_equal(det.decision_function(x_new, scale=False), det.decision_function(x_new))


def test_larger_score_is_more_outlying(data):
    det = OneClassSVM(nu=0.1)
    det.fit(data[0])
    centre, far = det.decision_function(np.array([[10.0, -3.0, 100.0], [20.0, 40.0, 400.0]]))
    assert centre < 0 < far


@pytest.mark.parametrize("threshold", [0.0, 0.5, 0.9, 1.0])
def test_predict_cuts_at_the_score_quantile(data, threshold):
    x, x_new = data
    det = OneClassSVM()
    det.fit(x)
    labels = det.predict(x_new, threshold=threshold)
    scores = det.decision_function(x_new)
    assert labels.dtype == np.float64 and labels.shape == scores.shape
    assert_array_equal(labels, np.where(scores > np.quantile(scores, threshold), -1.0, 1.0))
    flagged = {0.0: len(x_new) - 1, 1.0: 0}.get(threshold)
    if flagged is not None:
        assert (labels == -1).sum() == flagged
    assert_array_equal(det.predict(threshold=threshold), det.predict(x, threshold=threshold))


def test_ties_at_the_quantile_stay_inliers(data):
    det = OneClassSVM()
    det.fit(data[0])
    assert_array_equal(det.predict(np.repeat(data[1][:1], 7, axis=0), threshold=0.0), np.ones(7))


def test_second_fit_replaces_state(data):
    x, x_new = data
    det = OneClassSVM()
    det.fit(x)
    first_scaler, first_score = det.scaler_, det.score
    det.fit(x_new)
    assert det.scaler_ is not first_scaler and len(det.score) == len(x_new) != len(first_score)


def test_module_names_are_read_at_call_time(data, monkeypatch):
    monkeypatch.setattr(nv, "StandardScaler", MinMaxScaler)
    det = OneClassSVM()
    det.fit(data[0])
    assert isinstance(det.scaler_, MinMaxScaler)


@pytest.mark.parametrize("threshold", [-0.1, 1.5])
def test_threshold_outside_unit_interval_is_numpys_error(data, threshold):
    det = OneClassSVM()
    det.fit(data[0])
    with pytest.raises(ValueError) as ours:
        det.predict(threshold=threshold)
    with pytest.raises(ValueError) as numpys:
        np.quantile(det.score, threshold)
    assert str(ours.value) == str(numpys.value)


def test_errors_before_fit(data):
    with pytest.raises(AttributeError, match="transform"):
        OneClassSVM().decision_function(data[1])
    with pytest.raises(NotFittedError):
        OneClassSVM(standardization=False).decision_function(data[1])
    with pytest.raises(AttributeError, match="shape"):
        OneClassSVM().predict()


def solver_start_overruns(weights, nu):
    """The one-class solver's starting loop in plain Python floats: nu * sum(w)
    spread over the positive weights in order; a positive remainder after the
    last row is where the solver would run past its arrays."""
    weights = [w for w in weights if w > 0]
    total = 0.0
    for w in weights:
        total += w * nu
    for w in weights:
        if total <= 0:
            break
        total -= min(w, total)
    return total > 0


def test_weights_that_would_overrun_the_solver_are_refused_before_it_runs():
    # The reproducer aborted the interpreter within its 300 fits.
    script = """
import numpy as np
from zeka.data.outlier_detection.novelty import OneClassSVM
x = np.random.default_rng(0).normal(size=(24, 2))
refused = 0
for _ in range(300):
    try:
        OneClassSVM(nu=1.0).fit(x, sample_weight=np.linspace(0.5, 2, 24))
    except ValueError as error:
        refused += "nu=1.0" in str(error) and "0.9999" in str(error)
print(refused)
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert (run.returncode, run.stdout.strip()) == (0, "300"), run.stderr


@settings(max_examples=150, deadline=None)
@given(
    weights=st.lists(st.floats(-1.0, 5.0), min_size=3, max_size=30),
    nu=st.sampled_from([1.0, 1 - 2**-53, 0.9999, 0.5]),
)
def test_exactly_the_overrunning_weights_are_refused(weights, nu):
    x = np.random.default_rng(len(weights)).normal(size=(len(weights), 2))
    detector = OneClassSVM(nu=nu, standardization=False)
    if solver_start_overruns(weights, nu):
        with pytest.raises(ValueError, match="write past its arrays"):
            detector.fit(x, sample_weight=np.array(weights))
        assert detector.score is None and not hasattr(detector.estimator, "support_")
    else:
        try:
            detector.fit(x, sample_weight=np.array(weights))
        except ValueError as error:  # scikit-learn's own checks (all weights <= 0, ...)
            assert "write past its arrays" not in str(error)
