import inspect
import sys

import dcor
import numpy as np
import pandas as pd
import pytest
from numpy.testing import assert_allclose, assert_array_equal
from scipy import stats
from sklearn.base import is_regressor
from sklearn.inspection import permutation_importance
from sklearn.linear_model import LinearRegression, LogisticRegression
from statsmodels.stats import dist_dependence_measures

from zeka.data import variable_screen as vs
from zeka.data.causality.core import conditional_independence_test
from zeka.data.variable_screen import FeatureSelection

NAMES = ["a", "b", "c", "d"]


def make_data(n=300, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.normal(size=(n, 4))
    y = 2 * x[:, [0]] - x[:, [1]] - x[:, [1]] ** 2 + 0.1 * rng.normal(size=(n, 1))
    return x, y


def selector(method="pfi", **kwargs):
    x, y = make_data()
    return FeatureSelection(
        method=method, X=x, y=y, feature_names=list(NAMES), target_name="t", **kwargs
    )


def test_module_attributes_and_class_shape():
    assert [n for n in vars(vs) if not n.startswith("_")] == [
        "np",
        "pd",
        "is_regressor",
        "permutation_importance",
        "conditional_independence_test",
        "FeatureSelection",
    ]
    assert vs.np is np and vs.pd is pd and vs.is_regressor is is_regressor
    assert vs.permutation_importance is permutation_importance
    assert vs.conditional_independence_test is conditional_independence_test
    assert FeatureSelection.__bases__ == (object,) and FeatureSelection.__doc__ is None
    assert [n for n in vars(FeatureSelection) if callable(vars(FeatureSelection)[n])] == [
        "__init__",
        "_cal_pfi",
        "_cal_corr",
        "_cal_rit",
        "_cal_distcorr",
        "_compute_feature_ind",
        "variable_screen",
    ]
    assert str(inspect.signature(FeatureSelection)) == (
        "(method='pfi', algorithm='pearson', estimator=None, threshold=1, X=None, y=None, "
        "feature_names=None, target_name=None, random_state=0)"
    )
    assert str(inspect.signature(FeatureSelection._compute_feature_ind)) == (
        "(self, fi, method='accumulated', select_larger=True)"
    )
    assert str(inspect.signature(selector()._cal_corr)) == "(algorithm='pearson')"


def test_construction_stores_arguments_by_reference_in_order():
    args = ["rit", "kendall", object(), 0.3, np.ones((3, 2)), np.ones((3, 1)), ["p", "q"], "t", 9]
    fs = FeatureSelection(*args)
    assert list(vars(fs)) == [
        "method",
        "algorithm",
        "threshold",
        "estimator",
        "X",
        "y",
        "feature_names",
        "target_name",
        "random_state",
    ]
    order = [0, 1, 3, 2, 4, 5, 6, 7, 8]
    assert all(v is args[i] for v, i in zip(vars(fs).values(), order))
    defaults = vars(FeatureSelection())
    assert defaults["threshold"] == 1 and type(defaults["threshold"]) is int
    assert not hasattr(FeatureSelection(), "cut_point")


@pytest.mark.parametrize("classifier", [False, True])
def test_pfi_is_sklearns_permutation_importance_clipped_and_normalised(classifier):
    fs = selector(random_state=5)
    y = fs.y
    if classifier:
        fs.y = (y > np.median(y)).astype(int)
        fs.estimator = LogisticRegression().fit(fs.X, fs.y.ravel())
    else:
        fs.estimator = LinearRegression().fit(fs.X, y.ravel())
    raw = permutation_importance(
        fs.estimator,
        fs.X,
        fs.y.ravel(),
        n_repeats=1,
        random_state=0,
        scoring="roc_auc" if classifier else "neg_mean_squared_error",
    )
    want = np.clip(raw["importances_mean"], 0, None)
    got = fs._cal_pfi()
    assert (raw["importances_mean"] < 0).any()  # the clipping matters here
    assert_allclose(got, want / want.sum())
    assert got.min() >= 0 and got.sum() == pytest.approx(1)
    fs.random_state = 123
    assert_array_equal(fs._cal_pfi(), got)


def test_pfi_with_no_positive_importance_is_nan_with_numpys_warning():
    fs = selector()
    fs.estimator = LinearRegression().fit(fs.X, np.zeros(len(fs.X)))
    with pytest.warns(RuntimeWarning):
        fi = fs._cal_pfi()
    assert np.isnan(fi).all()
    assert fs._compute_feature_ind(fi, method="accumulated") == [3, 2, 1, 0]
    assert fs.cut_point == 4


MEASURES = {"pearson": stats.pearsonr, "spearman": stats.spearmanr, "kendall": stats.kendalltau}


@pytest.mark.parametrize("algorithm", list(MEASURES))
def test_corr_is_the_correlation_with_the_response(algorithm):
    fs = selector(algorithm="pearson")
    fs.X[:, 2] = 7.0  # constant: undefined correlation, reported as 0
    want = [0.0 if i == 2 else MEASURES[algorithm](fs.X[:, i], fs.y.ravel())[0] for i in range(4)]
    got = fs._cal_corr(algorithm=algorithm)
    assert isinstance(got, np.ndarray) and got.shape == (4,)
    assert_allclose(got, want, atol=1e-12)
    assert got[2] == 0 and got[1] < 0 < got[0]  # signs kept


@pytest.mark.parametrize("factor", [1e300, 1e200, 1e-200, 1e-300, 1e-310, 3.7e150])
@pytest.mark.parametrize("algorithm", ["pearson", "spearman"])
def test_corr_does_not_depend_on_a_features_scale(factor, algorithm):
    fs = selector()
    want = fs._cal_corr(algorithm=algorithm)
    fs.X = fs.X.copy()
    fs.X[:, 0] *= factor
    got = fs._cal_corr(algorithm=algorithm)
    tolerance = 1e-9 if factor >= 1e-300 else 1e-6  # subnormal values keep fewer digits
    assert_allclose(got, want, rtol=0, atol=tolerance)
    assert_array_equal(got[1:], want[1:])  # the other columns keep their bits


def test_corr_needs_a_list_of_names_and_a_column_response():
    fs = selector()
    fs.feature_names = tuple(NAMES)
    with pytest.raises(TypeError):
        fs._cal_corr()
    fs = selector()
    fs.y = fs.y.ravel()
    with pytest.raises(ValueError):
        fs._cal_corr()


def test_rit_calls_the_test_per_column_with_fixed_settings(monkeypatch):
    fs = selector(random_state=42)
    got = fs._cal_rit()
    want = [
        conditional_independence_test(
            fs.X[:, [i]], fs.y, None, method="rcit", num_f=25, num_f2=5, n_subsamples=100, seed=0
        )[0]
        for i in range(4)
    ]
    assert type(got) is list and got == want
    assert max(got[:2]) < 1e-4 < min(got[2:])  # the dependent features stand out
    fs.random_state = 7
    assert fs._cal_rit() == got
    fs.X = fs.X.copy()
    fs.X[:, 3] = 2.5  # a constant feature: p-value 1, no error, no NaN
    assert fs._cal_rit()[3] == 1.0

    calls = []

    def fake(*args, **kwargs):
        calls.append((args, kwargs))
        return len(calls) / 10, "statistic"

    monkeypatch.setattr(vs, "conditional_independence_test", fake)
    fs.feature_names = ["a", "b"]  # only the first columns are scored
    assert fs._cal_rit() == [0.1, 0.2]
    (x, y, z), kwargs = calls[1]
    assert_array_equal(x, fs.X[:, [1]]) and y is fs.y and z is None
    assert kwargs == dict(method="rcit", num_f=25, num_f2=5, n_subsamples=100, seed=0)
    monkeypatch.setattr(vs, "conditional_independence_test", lambda *a, **k: (0.1, 2, 3))
    with pytest.raises(ValueError, match="too many values to unpack"):
        fs._cal_rit()


def sampled(rows, seed, size):
    np.random.seed(seed)
    return np.random.choice(np.arange(rows), size=size, replace=False)


@pytest.mark.parametrize("rows,size", [(300, 300), (4999, 4999), (5000, 5000), (6001, 5000)])
def test_distcorr_samples_once_and_reseeds_numpy(rows, size, monkeypatch):
    fs = selector(random_state=3)
    fs.X, fs.y = make_data(rows, seed=1)
    calls = []

    def fake(a, b):
        calls.append((a, b))
        return len(calls)

    fake_dcor = type(sys)("dcor")
    fake_dcor.distance_correlation = fake
    monkeypatch.setitem(sys.modules, "dcor", fake_dcor)
    assert fs._cal_distcorr() == [1, 2, 3, 4]
    after = np.random.random()
    ind = sampled(rows, 3, size)
    assert np.random.random() == after  # the same global state afterwards
    assert len(np.unique(ind)) == size
    for fidx, (a, b) in enumerate(calls):
        assert a.ndim == b.ndim == 1 and a.dtype == b.dtype == np.float64
        assert_array_equal(a, fs.X[ind, fidx])
        assert_array_equal(b, fs.y[ind, 0])


def test_distcorr_is_dcors_and_falls_back_to_statsmodels(monkeypatch):
    fs = selector(random_state=1)
    got = fs._cal_distcorr()
    ind = sampled(len(fs.X), 1, len(fs.X))
    want = [dcor.distance_correlation(fs.X[ind, i], fs.y[ind, 0]) for i in range(4)]
    assert type(got) is list
    assert_allclose(got, want, rtol=1e-10)
    fs.y = fs.y.ravel()  # a flat response gives the same scores
    assert fs._cal_distcorr() == got
    fs.random_state = 2
    assert fs._cal_distcorr() != got
    monkeypatch.setitem(sys.modules, "dcor", None)  # the import fails
    fs.random_state = 1
    fallback = fs._cal_distcorr()
    assert_allclose(
        fallback,
        [dist_dependence_measures.distance_correlation(fs.X[ind, i], fs.y[ind]) for i in range(4)],
    )
    assert_allclose(fallback, got, rtol=1e-7)


@pytest.mark.parametrize(
    "fi,threshold,selected,cut_point",
    [
        ([0.2, 0.5, 0.3], 0.7, [1, 2], 2),
        ([0.2, 0.5, 0.3], 0.8, [1, 2], 2),
        ([0.2, 0.5, 0.3], 1, [1, 2, 0], 3),  # 0.5 + 0.3 + 0.2 rounds to just below 1
        ([0.25, 0.5, 0.25], 1, [1, 2, 0], 3),
        ([0.5, 0.5], 5, [1, 0], 2),
        (np.array([-0.2, 0.6, 0.6]), 1.1, [2, 1], 2),
        ([0.7, -0.5, 0.2], 1.0, [0, 2, 1], 3),  # signed: the sum falls back below
    ],
)
def test_accumulated_rule(fi, threshold, selected, cut_point):
    fs = FeatureSelection(threshold=threshold)
    got = fs._compute_feature_ind(fi)
    assert got == selected and fs.cut_point == cut_point
    assert all(isinstance(i, np.integer) for i in got)


@pytest.mark.parametrize(
    "fi,threshold,larger,selected",
    [
        ([0.9, -0.95, 0.1], 0.5, True, [0, 1]),  # signed order: -0.95 comes last
        ([0.9, -0.95, 0.1], 0.9, True, [1]),  # equal to the threshold: not selected
        ([0.9, -0.95, 0.1], 1, True, []),
        ([0.04, 0.5, 0.01, 0.05], 0.05, False, [0, 2]),
        ([0.04, 0.5, 0.01, 1.0], 1, False, [1, 0, 2]),
    ],
)
def test_absolute_rule(fi, threshold, larger, selected):
    fs = FeatureSelection(threshold=threshold)
    assert fs._compute_feature_ind(fi, method="absolute", select_larger=larger) == selected
    assert fs.cut_point == len(fi)


def test_unknown_rule_selects_nothing():
    fs = FeatureSelection()
    assert fs._compute_feature_ind([0.5, 0.6], method="relative") == []
    assert fs.cut_point == 2


@pytest.mark.parametrize(
    "method,score,rule",
    [
        ("pfi", "_cal_pfi", ("accumulated", True)),
        ("cor", "_cal_corr", ("absolute", True)),
        ("rit", "_cal_rit", ("absolute", False)),
        ("dcor", "_cal_distcorr", ("absolute", True)),
    ],
)
def test_variable_screen_dispatch(method, score, rule, monkeypatch):
    calls = []
    fs = selector(method=method, algorithm="spearman")
    monkeypatch.setattr(
        FeatureSelection, score, lambda self, **kw: calls.append(kw) or [0.1, 0.7, 0.3]
    )
    monkeypatch.setattr(
        FeatureSelection,
        "_compute_feature_ind",
        lambda self, fi, method="accumulated", select_larger=True: (
            calls.append((method, select_larger)) or ["picked"]
        ),
    )
    fi, selected = fs.variable_screen()
    assert fi == [0.1, 0.7, 0.3] and selected == ["picked"]
    assert calls == [{"algorithm": "spearman"} if method == "cor" else {}, rule]


def test_variable_screen_end_to_end():
    fs = selector(method="pfi")
    fs.estimator = LinearRegression().fit(fs.X, fs.y.ravel())
    fi, selected = fs.variable_screen()
    assert isinstance(fi, np.ndarray) and selected[0] == 0 and fs.cut_point == len(selected)
    fs.method, fs.threshold = "rit", 0.01
    fi, selected = fs.variable_screen()
    assert type(fi) is list and sorted(selected) == [0, 1] and fs.cut_point == 4
    fs.method, fs.threshold = "cor", 0.5
    fi, selected = fs.variable_screen()
    assert selected == [0]
    fs.method, fs.threshold = "dcor", 0.3
    assert sorted(fs.variable_screen()[1]) == [0, 1]


@pytest.mark.parametrize("method", ["corr", "PFI", None])
def test_unknown_method_raises_unboundlocalerror(method):
    fs = selector(method=method)
    with pytest.raises(UnboundLocalError, match="'fi'"):
        fs.variable_screen()
    assert not hasattr(fs, "cut_point")
