"""The native choice of a boosting node's cut against its numpy definition."""

import re

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from zeka.models import XGB1Regressor, XGB2Classifier, XGB2Regressor
from zeka.models._base import first_best
from zeka.models._boost_tree import best_split, bin_sums


def numpy_best_split(
    hist_g, hist_h, cuts, signs, G, H, weight, lower, upper, lam, alpha, gamma, min_child_weight
):
    """The definition: every cut's children weights and gain as whole arrays."""

    def shrink(g):
        return np.sign(g) * np.maximum(np.abs(g) - alpha, 0.0)

    def score(g, h, w):
        return -(g * w + 0.5 * (h + lam) * w**2 + alpha * np.abs(w))

    if hist_g.shape[1] < 2:
        return None
    GL = np.cumsum(hist_g, axis=1)[:, :-1]
    HL = np.cumsum(hist_h, axis=1)[:, :-1]
    GR, HR = G - GL, H - HL
    with np.errstate(divide="ignore", invalid="ignore"):
        w_left = np.clip(-shrink(GL) / (HL + lam), lower, upper)
        w_right = np.clip(-shrink(GR) / (HR + lam), lower, upper)
        gain = score(GL, HL, w_left) + score(GR, HR, w_right) - score(G, H, weight)
        valid = (HL >= min_child_weight) & (HR >= min_child_weight)
        valid &= np.arange(GL.shape[1]) < cuts[:, None]
        valid &= signs[:, None] * (w_right - w_left) >= 0
    gain = np.where(valid, gain, -np.inf)
    feature, cut = divmod(first_best(gain), gain.shape[1])
    if not gain[feature, cut] > gamma:
        return None
    return feature, cut, float(w_left[feature, cut]), float(w_right[feature, cut])


@st.composite
def nodes(draw):
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    p, width = draw(st.integers(1, 5)), draw(st.integers(1, 12))
    # gradients of few distinct values tie often; integers keep some sums exact
    hist_g = rng.integers(-3, 4, (p, width)) * draw(st.sampled_from([1.0, 0.1, 1e6]))
    hist_h = rng.integers(0, 4, (p, width)).astype(float)
    if draw(st.booleans()):  # every feature sums the same rows
        hist_g[:], hist_h[:] = hist_g[0], hist_h[0]
    cuts = rng.integers(0, width, p)
    signs = rng.choice([-1.0, 0.0, 1.0], p)
    G, H = hist_g[0].sum(), hist_h[0].sum()
    lam, alpha = draw(st.sampled_from([0.0, 1.0])), draw(st.sampled_from([0.0, 0.5]))
    lower, upper = draw(st.sampled_from([(-np.inf, np.inf), (-0.5, 0.25), (0.1, 0.1)]))
    weight = float(np.clip(-G / (H + lam) if H + lam > 0 else 0.0, lower, upper))
    return (
        hist_g,
        hist_h,
        cuts,
        signs,
        G,
        H,
        weight,
        lower,
        upper,
        lam,
        alpha,
        draw(st.sampled_from([0.0, 0.5])),
        draw(st.sampled_from([0.0, 1.0])),
    )


@settings(max_examples=300, deadline=None)
@given(nodes())
def test_best_split_equals_numpy_definition_to_the_bit(node):
    assert best_split(*node) == numpy_best_split(*node)


def test_a_nan_gain_makes_no_split():
    hist = np.array([[1.0, -2.0, np.nan]])
    node = (
        hist,
        np.ones((1, 3)),
        np.array([2]),
        np.zeros(1),
        np.nan,
        3.0,
        0.0,
        -np.inf,
        np.inf,
        1.0,
        0.0,
        0.0,
        1.0,
    )
    assert best_split(*node) is None is numpy_best_split(*node)


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda a: a.update(cuts=np.array([3])), "cuts holds 3, outside [0, 2]"),
        (lambda a: a.update(signs=np.zeros(1, np.int64)), "signs must be a C-contiguous numpy"),
        (lambda a: a.update(hist_hess=np.ones((1, 4))), "hist_hess has 4 entries along axis 1"),
        (lambda a: a.update(gamma=-1.0), "gamma must be a number >= 0"),
    ],
)
def test_best_split_refuses_bad_arguments(change, message):
    args = dict(
        hist_grad=np.array([[1.0, -1.0, 0.0]]),
        hist_hess=np.ones((1, 3)),
        cuts=np.array([2]),
        signs=np.zeros(1),
        G=0.0,
        H=3.0,
        weight=0.0,
        lower=-np.inf,
        upper=np.inf,
        reg_lambda=1.0,
        reg_alpha=0.0,
        gamma=0.0,
        min_child_weight=1.0,
    )
    change(args)
    with pytest.raises(ValueError, match=re.escape(message)):
        best_split(**args)


def numpy_bin_sums(bins, width, rows, v, lanes):
    """The definition: row r's value goes to partial histogram r % lanes by bincount (in
    row order), the partials added in lane order."""
    taken = np.arange(bins.shape[1]) if rows is None else rows
    out = []
    for column in bins:
        partials = [
            np.bincount(column[taken[taken % lanes == k]], v[taken[taken % lanes == k]], width)
            for k in range(lanes)
        ]
        total = partials[0]
        for partial in partials[1:]:
            total = total + partial
        out.append(total)
    return np.array(out).reshape(len(bins), width)


@settings(max_examples=100, deadline=None)
@given(
    seed=st.integers(0, 2**32 - 1),
    n=st.integers(1, 300),
    p=st.integers(1, 4),
    width=st.integers(1, 9),
    subset=st.booleans(),
    both=st.booleans(),
    lanes=st.sampled_from([1, 2, 4, 8]),
)
def test_bin_sums_equal_numpy_definition_to_the_bit(seed, n, p, width, subset, both, lanes):
    rng = np.random.default_rng(seed)
    bins = rng.integers(0, width, (p, n))
    values = [rng.normal(size=n) * 10.0 ** rng.integers(-3, 4, n) for _ in range(1 + both)]
    rows = np.sort(rng.choice(n, rng.integers(0, n + 1), replace=False)) if subset else None
    sums = bin_sums(bins, width, rows, values, lanes)
    for v, s in zip(values, sums):
        np.testing.assert_array_equal(s, numpy_bin_sums(bins, width, rows, v, lanes))


def test_a_bin_of_the_same_rows_sums_alike_in_every_node():
    # a child's histogram taken as its parent's less its sibling's must leave exact zeros
    rng = np.random.default_rng(5)
    bins = rng.integers(0, 6, (1, 1000))
    g = rng.normal(size=1000) * 1e3
    parent = bin_sums(bins, 6, None, [g], 4)[0]
    child = np.flatnonzero(bins[0] < 3)
    difference = parent - bin_sums(bins, 6, child, [g], 4)[0]
    assert np.all(difference[0, :3] == 0.0)


@pytest.mark.parametrize(
    "bins, rows, values, message",
    [
        (np.array([[0, 3]]), None, 1, "bins holds an index outside [0, 3)"),
        (np.array([[0, -1]]), np.array([0]), 1, ""),  # a row left out is never read
        (np.array([[0, 1]]), np.array([2]), 1, "rows holds 2, outside [0, 2)"),
        (np.array([[0, 1]]), None, 3, "values must hold one or two arrays, got 3"),
        (np.array([[0, 1]]), None, 1, "lanes must be 1, 2, 4 or 8, got 3"),
    ],
)
def test_bin_sums_checks_the_bins_it_reads(bins, rows, values, message):
    lanes = 3 if message.startswith("lanes") else 2
    call = lambda: bin_sums(bins, 3, rows, [np.ones(2)] * values, lanes)  # noqa: E731
    if not message:
        np.testing.assert_array_equal(call()[0], [[1.0, 0.0, 0.0]])
        return
    with pytest.raises(ValueError, match=re.escape(message)):
        call()


@pytest.mark.parametrize("make", [XGB1Regressor, XGB2Regressor, XGB2Classifier])
def test_boosting_on_constant_features_predicts_the_mean(make):
    # no feature has a cut: every tree is a single leaf (the histograms of such data have
    # no cut column at all, which the old numpy choice could not take the maximum of)
    X, y = np.ones((20, 2)), np.tile([0.0, 1.0], 10)
    model = make().fit(X, y)
    scores = model.predict_proba(X)[:, 1] if hasattr(model, "predict_proba") else model.predict(X)
    np.testing.assert_allclose(scores, 0.5, atol=1e-6)
