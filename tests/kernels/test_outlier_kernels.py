"""The outlier detectors' native loops against plain numpy definitions of the same scores."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from numpy.testing import assert_allclose

from reference import outliers as ref
from zeka.data.outlier_detection import _kernels


def histogram_inputs(rng, n=60, d=3, bins=5):
    train = rng.normal(size=(n, d))
    edges = np.stack([np.linspace(c.min(), c.max(), bins + 1) for c in train.T])
    log_density = np.log(rng.random((d, bins)) + 0.1)
    return edges, log_density


@pytest.mark.parametrize("tol", [0.0, 0.5, 2.0])
def test_histogram_scores_match_digitize(tol):
    rng = np.random.default_rng(1)
    edges, log_density = histogram_inputs(rng)
    x = rng.normal(scale=2.0, size=(80, 3))
    x[:3] = edges[:, 0]  # on the first edge
    x[3:6] = edges[:, -1]  # on the last edge: the last bin
    x[6:9] = edges[:, 2]  # on an inner edge: the bin to its right
    got = _kernels.histogram_scores(x, edges, log_density, tol)
    assert_allclose(got, ref.histogram_scores(x, edges, log_density, tol), rtol=1e-13)


@settings(max_examples=40, deadline=None)
@given(
    st.lists(st.floats(-5, 5, allow_nan=False), min_size=1, max_size=30),
    st.lists(st.floats(-8, 8, allow_nan=False), min_size=1, max_size=10),
    st.booleans(),
)
def test_tail_scores_match_the_weighted_ecdf(train, test, weighted):
    train = np.array(train)[:, None]
    test = np.array(test)[:, None]
    w = np.arange(1.0, len(train) + 1) if weighted else None
    order = np.argsort(train[:, 0], kind="stable")
    sorted_ = np.ascontiguousarray(train[order].T)
    cumulative = None if w is None else np.ascontiguousarray(np.cumsum(w[order])[None, :])
    floor = (1.0 if w is None else w.min()) / (len(train) if w is None else w.sum())
    got = _kernels.tail_scores(test, sorted_, cumulative, floor)
    assert_allclose(got, ref.ecod(train, test, w), rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize("method, code", [("mean", 0), ("largest", 1), ("median", 2)])
@pytest.mark.parametrize("k", [1, 4, 5])
def test_neighbour_scores_of_weights_are_those_of_copies(method, code, k):
    rng = np.random.default_rng(k)
    dist = np.sort(rng.random((30, 8)), axis=1)
    weights = rng.integers(1, 4, size=(30, 8)).astype(float)
    own = rng.integers(0, 3, size=30).astype(float)
    got = _kernels.neighbour_scores(dist, weights, own, float(k), code)
    agg = {"mean": np.mean, "largest": np.max, "median": np.median}[method]
    for r in range(30):
        units = np.concatenate([np.zeros(int(own[r])), np.repeat(dist[r], weights[r].astype(int))])
        assert got[r] == pytest.approx(agg(units[:k]), abs=1e-12)
    plain = _kernels.neighbour_scores(dist, None, None, float(k), code)
    assert_allclose(plain, agg(dist[:, :k], axis=1), rtol=1e-13)


def test_cross_tables_count_pairs_of_bins():
    rng = np.random.default_rng(3)
    codes = rng.integers(0, 4, size=(50, 3))
    w = rng.random(50)
    x = rng.normal(size=(50, 3))
    rows = np.array([0, 5, 7, 9, 20, 49])
    counts, sums = _kernels.cross_tables(codes, 4, rows, w, x)
    expected = np.zeros((3, 4, 3, 4))
    expected_sums = np.zeros((3, 4, 3))
    for r in rows:
        for j in range(3):
            for m in range(3):
                expected[j, codes[r, j], m, codes[r, m]] += w[r]
            expected_sums[j, codes[r, j]] += w[r] * x[r]
    assert_allclose(counts, expected, rtol=1e-13)
    assert_allclose(sums, expected_sums, rtol=1e-13)
    all_counts, none = _kernels.cross_tables(codes, 4, None, None, None)
    assert none is None and all_counts.sum() == 50 * 9


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: _kernels.cross_tables(np.full((3, 2), 4), 4, None, None, None), "outside"),
        (
            lambda: _kernels.cross_tables(np.zeros((3, 2), int), 4, np.array([3]), None, None),
            "rows",
        ),
        (lambda: _kernels.neighbour_scores(np.zeros((2, 2)), None, None, 3.0, 0), "fewer than k"),
        (lambda: _kernels.neighbour_scores(np.zeros((2, 2)), None, None, 1.0, 7), "method"),
        (lambda: _kernels.tail_scores(np.zeros((2, 1)), np.zeros((1, 3)), None, 0.0), "floor"),
        (
            lambda: _kernels.histogram_scores(
                np.zeros((2, 2)), np.zeros((2, 3)), np.zeros((1, 2)), 0.5
            ),
            "log_density",
        ),
        (
            lambda: _kernels.histogram_scores(
                np.zeros((2, 2), np.float32), np.zeros((2, 3)), np.zeros((2, 2)), 0.5
            ),
            "float64",
        ),
    ],
)
def test_bad_kernel_arguments_are_value_errors(call, message):
    with pytest.raises(ValueError, match=message):
        call()


@pytest.mark.parametrize("weighted", [False, True])
def test_training_tail_scores_equal_the_searched_ones(weighted):
    rng = np.random.default_rng(7)
    x = np.round(rng.normal(size=(40, 3)), 1)  # ties
    w = rng.random(40) + 0.1 if weighted else None
    order = np.ascontiguousarray(np.argsort(x.T, axis=1, kind="stable"))
    sorted_ = np.ascontiguousarray(np.take_along_axis(x.T, order, axis=1))
    cumulative = None if w is None else np.ascontiguousarray(np.cumsum(w[order], axis=1))
    floor = 1 / 40 if w is None else w.min() / w.sum()
    got = _kernels.training_tail_scores(sorted_, order, cumulative, floor)
    assert_allclose(got, _kernels.tail_scores(x, sorted_, cumulative, floor), rtol=1e-13)
    assert_allclose(got, ref.ecod(x, x, w), rtol=1e-12)
    with pytest.raises(ValueError, match="order"):
        _kernels.training_tail_scores(sorted_, order + 40, cumulative, floor)
