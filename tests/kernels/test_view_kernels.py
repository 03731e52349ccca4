"""The interpretation kernels against plain definitions: tree paths and class sums per bin."""

import numpy as np
import pandas as pd
import pytest
from sklearn.tree import DecisionTreeRegressor

from reference.interpret import tree_walk
from zeka.interpret._view_kernels import bin_class_sums, tree_paths
from zeka.models import FIGSRegressor


def sklearn_tree(seed, n=300, p=4):
    rng = np.random.default_rng(seed)
    X = rng.normal(size=(n, p))
    y = X[:, 0] - 2 * (X[:, 1] > 0) + rng.normal(size=n)
    t = DecisionTreeRegressor(max_depth=4, random_state=0).fit(X, y).tree_
    arrays = (
        t.feature.astype(np.int64),
        t.threshold.astype(float),
        t.children_left.astype(np.int64),
        t.children_right.astype(np.int64),
        t.value[:, 0, 0].copy(),
    )
    return arrays, X


@pytest.mark.parametrize("seed", [0, 1, 2])
@pytest.mark.parametrize("single_precision", [True, False])
def test_tree_paths_equal_a_walk_row_by_row(seed, single_precision):
    arrays, X = sklearn_tree(seed)
    contributions = np.zeros(X.shape)
    leaf, counts = tree_paths(*arrays, X, single_precision, None, contributions)
    ref_leaf, ref_contributions, ref_counts = tree_walk(*arrays, X, single_precision)
    np.testing.assert_array_equal(leaf, ref_leaf)
    np.testing.assert_allclose(contributions, ref_contributions, rtol=0, atol=1e-12)
    np.testing.assert_array_equal(counts, ref_counts)
    # the changes add up to the leaf's value less the root's
    np.testing.assert_allclose(
        contributions.sum(axis=1), arrays[4][leaf] - arrays[4][0], rtol=0, atol=1e-12
    )


def test_tree_paths_add_weights_and_contributions():
    arrays, X = sklearn_tree(3, n=50)
    w = np.arange(1.0, 51.0)
    start = np.full(X.shape, 2.0)
    _, weighted = tree_paths(*arrays, X, True, w, start)
    ref_leaf, ref_contributions, _ = tree_walk(*arrays, X, True)
    np.testing.assert_allclose(start, 2.0 + ref_contributions, atol=1e-12)
    assert weighted[0] == w.sum()
    leaves = np.flatnonzero(arrays[2] < 0)
    np.testing.assert_allclose(
        weighted[leaves], [w[ref_leaf == k].sum() for k in leaves], rtol=0, atol=1e-12
    )


def test_tree_paths_rounds_to_float32_only_when_asked():
    # 0.1 as float32 is above the double 0.1: the two rules send the row apart
    feature = np.array([0, -2, -2], dtype=np.int64)
    threshold = np.array([0.1, -2.0, -2.0])
    left = np.array([1, -1, -1], dtype=np.int64)
    right = np.array([2, -1, -1], dtype=np.int64)
    value = np.array([0.0, -1.0, 1.0])
    X = np.array([[0.1]])
    assert tree_paths(feature, threshold, left, right, value, X, False, None, None)[0][0] == 1
    assert tree_paths(feature, threshold, left, right, value, X, True, None, None)[0][0] == 2


def test_tree_paths_of_figs_trees():
    rng = np.random.default_rng(5)
    X = rng.normal(size=(200, 3))
    model = FIGSRegressor(max_iter=12).fit(X, X[:, 0] * X[:, 1] + X[:, 2])
    total = np.full(len(X), model.intercept_)
    for t in model.trees_:
        arrays = [
            np.ascontiguousarray(t[k], dtype=d)
            for k, d in (
                ("feature", np.int64),
                ("threshold", float),
                ("left", np.int64),
                ("right", np.int64),
                ("value", float),
            )
        ]
        leaf, _ = tree_paths(*arrays, X, False, None, None)
        total += t["value"][leaf]
    np.testing.assert_allclose(total, model.predict(X), rtol=0, atol=1e-12)


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda a: a[2].__setitem__(0, 0), "must lie after it"),
        (lambda a: a[3].__setitem__(0, 99), "must lie after it"),
        (lambda a: a[0].__setitem__(0, 7), "outside"),
    ],
)
def test_tree_paths_refuse_broken_trees(change, message):
    arrays, X = sklearn_tree(0, n=30)
    arrays = [a.copy() for a in arrays]
    change(arrays)
    with pytest.raises(ValueError, match=message):
        tree_paths(*arrays, X, True, None, None)


def test_tree_paths_refuse_other_dtypes_and_shapes():
    arrays, X = sklearn_tree(0, n=30)
    with pytest.raises(ValueError, match="int64"):
        tree_paths(arrays[0].astype(np.int32), *arrays[1:], X, True, None, None)
    with pytest.raises(ValueError, match="C-contiguous"):
        tree_paths(*arrays, np.asfortranarray(X), True, None, None)
    with pytest.raises(ValueError, match="contributions"):
        tree_paths(*arrays, X, True, None, np.zeros((3, 3)))


def bins_reference(X, cuts, y, w):
    out = []
    for j, c in enumerate(cuts):
        b = np.searchsorted(c, X[:, j], side="left")
        frame = pd.DataFrame({"b": b, "row": 1.0, "ev": w * (y == 1), "non": w * (y == 0)})
        sums = frame.groupby("b").sum().reindex(range(len(c) + 1), fill_value=0.0)
        out.append(sums[["row", "ev", "non"]].to_numpy())
    return np.vstack(out)


@pytest.mark.parametrize("weighted", [False, True])
def test_bin_class_sums_equal_pandas(weighted):
    rng = np.random.default_rng(1)
    X = np.round(rng.normal(size=(500, 4)), 1)  # ties on the cut points
    y = (rng.random(500) < 0.3).astype(float)
    w = rng.random(500) if weighted else None
    cuts = [np.array([-0.5, 0.0, 0.5]), np.array([]), np.array([0.1]), np.array([-1.0, 1.0])]
    offsets = np.cumsum([0] + [len(c) for c in cuts]).astype(np.int64)
    flat = np.concatenate(cuts).astype(float)
    rows, events, non_events = bin_class_sums(X, flat, offsets, y, w)
    expected = bins_reference(X, cuts, y, np.ones(500) if w is None else w)
    np.testing.assert_allclose(np.column_stack([rows, events, non_events]), expected, atol=1e-9)


@pytest.mark.parametrize(
    "cuts, offsets, y, message",
    [
        ([0.5, 0.1], [0, 2], [0.0, 1.0], "not sorted"),
        ([0.5], [0, 2], [0.0, 1.0], "offsets must run"),
        ([0.5], [0, 1], [0.0, 2.0], "0 and 1 only"),
    ],
)
def test_bin_class_sums_refuse_bad_input(cuts, offsets, y, message):
    X = np.array([[0.0], [1.0]])
    with pytest.raises(ValueError, match=message):
        bin_class_sums(X, np.array(cuts), np.array(offsets, dtype=np.int64), np.array(y), None)
