"""The loops behind the model-own views, against their numpy definitions."""

import numpy as np
import pytest

from zeka.interpret import _terms
from zeka.interpret._effects import StepSet


def random_terms(rng, p):
    terms = []
    for features in [(0,), (2,), (1, 3), (3, 0), (2,)]:
        edges = [
            np.sort(rng.choice(np.linspace(-2, 2, 41), rng.randint(0, 6), replace=False))
            for _ in features
        ]
        table = rng.normal(size=tuple(len(e) + 1 for e in edges))
        terms.append((features, edges, table))
    return terms


def numpy_values(X, terms):
    out = np.zeros((len(X), len(terms)))
    for t, (features, edges, table) in enumerate(terms):
        index = tuple(np.searchsorted(e, X[:, j], side="left") for j, e in zip(features, edges))
        out[:, t] = table[index]
    return out


def test_step_values_and_cells_match_searchsorted():
    rng = np.random.RandomState(0)
    X = rng.choice(np.linspace(-3, 3, 61), size=(500, 4))  # values on the edges too
    terms = random_terms(rng, 4)
    steps = StepSet(terms)
    assert np.array_equal(steps.values(X), numpy_values(X, terms))
    cells = steps.cells(X)
    for t, (features, edges, table) in enumerate(terms):
        index = tuple(np.searchsorted(e, X[:, j], side="left") for j, e in zip(features, edges))
        assert np.array_equal(cells[:, t], np.ravel_multi_index(index, table.shape))


def test_step_summary_shares_pairs_half_each_and_sums_every_term():
    rng = np.random.RandomState(5)
    X = rng.choice(np.linspace(-3, 3, 61), size=(300, 4))
    terms = random_terms(rng, 4)
    contributions, sums, absolute = StepSet(terms).summary(X)
    values = numpy_values(X, terms)
    expected = np.zeros_like(contributions)
    for t, (features, _, _) in enumerate(terms):
        for j in features:
            expected[:, j] += values[:, t] / len(features)
    assert np.allclose(contributions, expected, atol=1e-12)
    assert np.allclose(sums, values.sum(axis=0), atol=1e-10)
    assert np.allclose(absolute, np.abs(values).sum(axis=0), atol=1e-10)


def test_step_counts_count_the_rows_of_every_cell_in_table_layout():
    rng = np.random.RandomState(6)
    X = rng.choice(np.linspace(-3, 3, 61), size=(400, 4))
    terms = random_terms(rng, 4)
    steps = StepSet(terms)
    counts = steps.counts(X)
    assert counts.shape == steps.tables.shape
    cells = steps.cells(X)
    for t, start in enumerate(steps.starts):
        size = np.size(terms[t][2])
        expected = np.bincount(cells[:, t], minlength=size)
        assert np.array_equal(counts[start : start + size], expected)


def test_cell_sums_match_bincount():
    rng = np.random.RandomState(1)
    cells = rng.randint(0, 7, 300).astype(np.int64)
    values = rng.normal(size=(300, 2))
    sums, counts = _terms.cell_sums(cells, values, 9)
    assert np.array_equal(counts, np.bincount(cells, minlength=9))
    for v in range(2):
        assert np.allclose(sums[:, v], np.bincount(cells, values[:, v], minlength=9), atol=1e-12)
    with pytest.raises(ValueError, match="outside"):
        _terms.cell_sums(cells, values, 5)


def numpy_purify(table, w, sweeps=5000):
    f = table.copy()
    rows, cols = np.zeros(f.shape[0]), np.zeros(f.shape[1])
    for _ in range(sweeps):
        r = np.divide((w * f).sum(1), w.sum(1), out=np.zeros(len(rows)), where=w.sum(1) > 0)
        f -= r[:, None]
        rows += r
        c = np.divide((w * f).sum(0), w.sum(0), out=np.zeros(len(cols)), where=w.sum(0) > 0)
        f -= c[None, :]
        cols += c
        if max(np.abs(r).max(), np.abs(c).max()) < 1e-14:
            break
    constant = 0.0
    for effect, marginal in ((rows, w.sum(1)), (cols, w.sum(0))):
        mean = marginal @ effect / marginal.sum()
        effect -= mean
        constant += mean
    return f, rows, cols, constant


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_purify_matches_its_definition(seed):
    rng = np.random.RandomState(seed)
    table = rng.normal(size=(6, 4))
    w = rng.poisson(3.0, size=(6, 4)).astype(float)
    w[2, :] = 0.0  # a row without data
    pure, rows, cols, constant, sweeps = _terms.purify(table, w, 1e-14, 5000)
    ref = numpy_purify(table, w)
    for got, want in zip((pure, rows, cols, constant), ref):
        assert np.allclose(got, want, atol=1e-10)
    assert np.allclose(pure + rows[:, None] + cols[None, :] + constant, table, atol=1e-12)
    assert np.allclose((w * pure).sum(axis=1), 0.0, atol=1e-10)
    assert np.allclose((w * pure).sum(axis=0), 0.0, atol=1e-10)
    assert 1 <= sweeps < 5000


def test_purify_refuses_negative_weights():
    with pytest.raises(ValueError, match="weights"):
        _terms.purify(np.zeros((2, 2)), -np.ones((2, 2)), 0.0, 10)


def test_step_terms_outside_their_arrays_are_refused():
    X = np.zeros((3, 2))
    axes = np.array([[[0, 0, 2], [-1, 0, 0]]], dtype=np.int64)
    with pytest.raises(ValueError, match="edges"):
        _terms.step_values(X, axes, np.zeros(1), np.zeros(3), np.zeros(1, dtype=np.int64))
    with pytest.raises(ValueError, match="table"):
        _terms.step_values(X, axes, np.zeros(2), np.zeros(2), np.zeros(1, dtype=np.int64))
    bad = axes.copy()
    bad[0, 0, 0] = 2
    with pytest.raises(ValueError, match="feature"):
        _terms.step_values(X, bad, np.zeros(2), np.zeros(3), np.zeros(1, dtype=np.int64))


def numpy_relu(Z, weights, biases):
    a = Z
    masks = []
    for layer, (W, b) in enumerate(zip(weights, biases)):
        z = a @ W + b
        if layer == len(weights) - 1:
            return z[:, 0], masks
        masks.append(z > 0)
        a = np.maximum(z, 0.0)


def test_relu_local_linear_matches_forward_and_backward():
    rng = np.random.RandomState(3)
    sizes = [4, 7, 5, 1]
    weights = [rng.normal(size=(a, b)) for a, b in zip(sizes[:-1], sizes[1:])]
    biases = [rng.normal(size=b) for b in sizes[1:]]
    Z = rng.normal(size=(200, 4))
    out, grad, region = _terms.relu_local_linear(Z, weights, biases)
    ref, masks = numpy_relu(Z, weights, biases)
    assert np.allclose(out, ref, atol=1e-12)
    # gradient = W1 D1 W2 D2 w3 row by row
    for r in range(0, 200, 17):
        g = weights[-1][:, 0]
        for W, m in zip(weights[-2::-1], masks[::-1]):
            g = W @ (m[r] * g)
        assert np.allclose(grad[r], g, atol=1e-12)
    patterns = np.hstack(masks)
    _, by_pattern = np.unique(patterns, axis=0, return_inverse=True)
    _, by_hash = np.unique(region, return_inverse=True)
    assert len(np.unique(by_pattern)) == len(np.unique(by_hash))
    assert len(set(zip(by_pattern.ravel(), by_hash.ravel()))) == len(np.unique(by_hash))
