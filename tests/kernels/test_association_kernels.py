"""The association kernels against numpy definitions and scikit-learn."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp
from sklearn.metrics import normalized_mutual_info_score

from zeka.data.quality_scan import correlation


def entropy(values):
    _, counts = np.unique(values, return_counts=True)
    p = counts / counts.sum()
    return float(-(p * np.log(p)).sum())


def theil_u_numpy(x, y):
    hx, hy = entropy(x), entropy(y)
    if hx + hy == 0:
        return 1.0
    hxy = entropy([f"{a!r}|{b!r}" for a, b in zip(x, y)])
    return 2 * (hx + hy - hxy) / (hx + hy)


def eta_numpy(groups, y):
    if len(y) == 0 or np.all(y == y[0]):
        return 0.0
    total = ((y - y.mean()) ** 2).sum()
    between = sum(
        ((y[groups == g].mean() - y.mean()) ** 2) * (groups == g).sum() for g in np.unique(groups)
    )
    return float(np.sqrt(min(between / total, 1.0)))


codes = st.integers(1, 60).flatmap(
    lambda n: st.tuples(
        hnp.arrays(np.float64, n, elements=st.integers(0, 5).map(float)),
        hnp.arrays(np.float64, n, elements=st.sampled_from([0.0, -0.0, 1.5, -2.0, 1e300, 7.0])),
    )
)


@settings(max_examples=300, deadline=None)
@given(codes)
def test_symmetric_theil_u_matches_numpy_and_sklearn(pair):
    x, y = pair
    u = correlation.symmetric_theil_u_correlation(x, y)
    assert isinstance(u, float) and 0.0 <= u <= 1.0
    assert u == pytest.approx(theil_u_numpy(x.tolist(), (y + 0.0).tolist()), abs=1e-9)
    labels_x, labels_y = (np.unique(v + 0.0, return_inverse=True)[1].ravel() for v in (x, y))
    assert u == pytest.approx(normalized_mutual_info_score(labels_x, labels_y), abs=1e-9)
    assert correlation.symmetric_theil_u_correlation(y, x) == pytest.approx(u, abs=1e-12)


@settings(max_examples=300, deadline=None)
@given(
    st.integers(1, 60).flatmap(
        lambda n: st.tuples(
            hnp.arrays(np.float64, n, elements=st.integers(0, 4).map(float)),
            hnp.arrays(
                np.float64,
                n,
                elements=st.floats(-1e6, 1e6).filter(lambda v: v == 0 or abs(v) > 1e-100),
            ),
        )
    )
)  # squares that do not underflow
def test_correlation_ratio_matches_numpy(pair):
    groups, y = pair
    eta = correlation.correlation_ratio(groups, y)
    assert 0.0 <= eta <= 1.0
    assert eta == pytest.approx(eta_numpy(groups, y), abs=1e-6)


@pytest.mark.parametrize(
    "x, y, expected",
    [
        ([1, 1, 1], [2, 2, 2], 1.0),  # both constant
        ([1, 1, 1], [1, 2, 3], 0.0),  # one constant
        ([], [], 1.0),
        ([0, 1, 0, 1], [5, 6, 5, 6], 1.0),  # each determines the other
    ],
)
def test_theil_u_defined_values(x, y, expected):
    assert (
        correlation.symmetric_theil_u_correlation(np.array(x, float), np.array(y, float))
        == expected
    )


@pytest.mark.parametrize(
    "groups, y, expected",
    [
        ([0, 1, 2], [4.0, 4.0, 4.0], 0.0),
        ([0, 0, 0], [0.1, 0.1, 0.1], 0.0),
        ([], [], 0.0),
        ([0, 0, 1, 1], [1.0, 1.0, 3.0, 3.0], 1.0),
        ([0, 0, 0], [1.0, 2.0, 3.0], 0.0),
    ],
)
def test_correlation_ratio_defined_values(groups, y, expected):
    assert correlation.correlation_ratio(np.array(groups, float), np.array(y)) == expected


def test_correlation_ratio_nan_measurement_gives_nan():
    assert np.isnan(correlation.correlation_ratio(np.array([0.0, 1.0]), np.array([1.0, np.nan])))


def test_text_categories_and_nan_category():
    x = np.array(["a", "b", None, "a"], dtype=object)
    assert correlation.symmetric_theil_u_correlation(x, np.array([1.0, 2.0, np.nan, 1.0])) == 1.0


@pytest.mark.parametrize(
    "call",
    [
        lambda: correlation.correlation_ratio(np.array([0.0, 1.0]), np.array([1.0])),
        lambda: correlation.symmetric_theil_u_correlation(np.array([0.0, 1.0]), np.array([1.0])),
    ],
)
def test_kernel_length_error_is_value_error(call):
    with pytest.raises(ValueError, match="differ in length"):
        call()


def test_two_dimensional_input_is_refused():
    with pytest.raises(ValueError, match="one-dimensional"):
        correlation.correlation_ratio(np.zeros((2, 2)), np.zeros(4))


@pytest.mark.parametrize("shift", [0.0, 0.5, 1e5])  # direct codes, hashed values, large codes
def test_many_levels_use_sorted_joint_counts(shift):
    rng = np.random.default_rng(3)
    x = rng.integers(0, 1500, 4000).astype(float) + shift
    y = (x * 7 % 1100) + rng.integers(0, 2, 4000)
    assert correlation.symmetric_theil_u_correlation(x, y) == pytest.approx(
        theil_u_numpy(x.tolist(), y.tolist()), abs=1e-9
    )
    assert correlation.correlation_ratio(x, y) == pytest.approx(eta_numpy(x, y), abs=1e-9)
