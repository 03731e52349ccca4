import inspect
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from numpy.testing import assert_allclose
from scipy import stats
from scipy.spatial.distance import pdist

from zeka.data.causality import core
from zeka.data.causality.core import conditional_independence_test as cit

# The reference: the same test written with numpy and scipy (eigenvalues and
# scipy's chi-square instead of traces and our incomplete gamma), drawing its
# features from a Python copy of the native splitmix64/Box-Muller generator.

MASK = (1 << 64) - 1


def _mix(z):
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    return z ^ (z >> 31)


def generator_seed(seed):
    """An integer seed of any size as the generator's 64-bit state: itself below
    2**64, else its magnitude's 64-bit words and its sign mixed in."""
    if 0 <= seed <= MASK:
        return seed
    words, rest = [], abs(seed)
    while rest:
        words.append(rest & MASK)
        rest >>= 64
    state = _mix(len(words) ^ (1 << 63 if seed < 0 else 0))
    for word in words:
        state = (_mix(state ^ word) + 0x9E3779B97F4A7C15) & MASK
    return state


class SplitMix64:
    def __init__(self, seed):
        self.state, self.spare = generator_seed(seed), None

    def bits(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def uniform(self):
        return (self.bits() >> 11) * 2.0**-53

    def normal(self):
        if self.spare is not None:
            value, self.spare = self.spare, None
            return value
        radius = math.sqrt(-2.0 * math.log(1.0 - self.uniform()))
        angle = 2.0 * math.pi * self.uniform()
        self.spare = radius * math.sin(angle)
        return radius * math.cos(angle)


def standardize(v):
    constant = (v == v[0]).all(axis=0)
    sd = np.where(constant, 1.0, v.std(axis=0, ddof=1))
    return np.where(constant, 0.0, (v - v.mean(axis=0)) / sd)


def kernel_width(v, rows):
    d = pdist(v[:rows])
    if np.median(d) > 0:
        return np.median(d)
    d = d[d > 0]
    return np.median(d) if d.size else math.sqrt(2.0 * v.shape[1])


def fourier_features(rng, v, count, rows):
    width = kernel_width(v, rows)
    w = np.array([rng.normal() for _ in range(count * v.shape[1])]).reshape(count, -1) / width
    b = np.array([2.0 * math.pi * rng.uniform() for _ in range(count)])
    return standardize(math.sqrt(2.0) * np.cos(v @ w.T + b))


def hbe_pvalue(covariance, statistic):
    lam = np.linalg.eigvalsh(covariance)
    lam = lam[lam > 0]
    k1, k2, k3 = lam.sum(), 2 * (lam**2).sum(), 8 * (lam**3).sum()
    nu = 8 * k2**3 / k3**2
    return stats.chi2.sf(np.sqrt(2 * nu / k2) * (statistic - k1) + nu, nu)


def rcit(x, y, z=None, num_f=100, num_f2=5, n_subsamples=1000, seed=0):
    x, y = standardize(np.asarray(x, float)), standardize(np.asarray(y, float))
    if (x == 0).all() or (y == 0).all():
        return 1.0, 0.0
    n = len(x)
    rng = SplitMix64(seed)
    fx = fourier_features(rng, x, num_f2, n_subsamples)
    fy = fourier_features(rng, y, num_f2, n_subsamples)
    cxy = fx.T @ fy / (n - 1)
    rx, ry = fx, fy
    if z is not None and not (standardize(np.asarray(z, float)) == 0).all():
        fz = fourier_features(rng, standardize(np.asarray(z, float)), num_f, n_subsamples)
        czz = fz.T @ fz / (n - 1) + 1e-8 * np.eye(num_f)
        ax = np.linalg.solve(czz, fz.T @ fx / (n - 1))
        ay = np.linalg.solve(czz, fz.T @ fy / (n - 1))
        cxy = cxy - (fz.T @ fx / (n - 1)).T @ ay
        rx, ry = fx - fz @ ax, fy - fz @ ay
    statistic = n * (cxy**2).sum()
    products = (rx[:, :, None] * ry[:, None, :]).reshape(n, -1)
    return hbe_pvalue(products.T @ products / n, statistic), statistic


def data(n, seed, dims=(1, 1, 1)):
    rng = np.random.default_rng(seed)
    return [rng.normal(size=(n, d)) for d in dims]


@pytest.mark.parametrize("method", ["rit", "rcit"])
@pytest.mark.parametrize(
    "dims,n,num_f,n_sub,seed",
    [
        ((1, 1, 1), 300, 20, 1000, 0),
        ((2, 1, 3), 1000, 25, 100, 7),
        ((1, 3, 2), 777, 10, 2, 2**64 - 1),
    ],
)
def test_matches_the_numpy_reference(method, dims, n, num_f, n_sub, seed):
    x, y, z = data(n, seed % 1000, dims)
    y = y + 0.3 * np.sin(2 * x[:, :1]) + 0.5 * z[:, :1]  # some dependence, partly through z
    z = z if method == "rcit" else None
    got = cit(x, y, z, method=method, num_f=num_f, num_f2=4, n_subsamples=n_sub, seed=seed)
    want = rcit(x, y, z, num_f=num_f, num_f2=4, n_subsamples=n_sub, seed=seed)
    assert isinstance(got, tuple) and all(type(v) is float for v in got)
    assert_allclose(got, want, rtol=1e-7, atol=1e-12)


def test_far_tail_pvalue_matches_scipy():
    x, noise = data(2000, 3, (1, 1))
    y = x + 0.5 * noise  # tiny p-value: the continued fraction's tail
    got = cit(x, y, method="rit", seed=1)
    want = rcit(x, y, seed=1)
    assert 0 < got[0] < 1e-30
    assert_allclose(got, want, rtol=1e-6)


@pytest.mark.parametrize("method", ["rit", "rcit"])
def test_pvalues_are_calibrated_under_independence(method):
    pvalues = []
    for rep in range(200):
        x, y, z = data(500, 10_000 + rep)
        x = x + z if method == "rcit" else x  # dependence on z alone leaves x, y independent
        pvalues.append(cit(x, y, z, method=method, num_f=25, seed=rep)[0])
    pvalues = np.array(pvalues)
    assert 0.02 <= np.mean(pvalues < 0.05) <= 0.09
    assert stats.kstest(pvalues, "uniform").pvalue > 0.01


def test_detects_a_nonlinear_dependence():
    pvalues = []
    for rep in range(50):
        x, noise = data(500, 20_000 + rep, (1, 1))
        y = x**2 + 0.5 * noise  # nearly uncorrelated with x, yet dependent
        assert abs(np.corrcoef(x.ravel(), y.ravel())[0, 1]) < 0.3
        pvalues.append(cit(x, y, seed=rep)[0])
    # Five random features per variable miss the dependence now and then.
    assert np.mean(np.array(pvalues) < 0.01) >= 0.9
    assert np.median(pvalues) < 1e-6


def test_conditioning_removes_a_dependence_through_z():
    x, y, z = data(500, 5)
    x, y = np.tanh(z) + 0.3 * x, z**2 / 2 + z + 0.3 * y
    assert cit(x, y, method="rit", seed=0)[0] < 1e-6
    assert cit(x, y, z, method="rcit", seed=0)[0] > 0.05
    # "rit" ignores z; "rcit" without z is the unconditional test.
    assert cit(x, y, z, method="rit", seed=0) == cit(x, y, None, seed=0)


def test_the_same_seed_gives_the_same_bits():
    x, y, z = data(700, 6)
    first = cit(x, y, z, seed=123)
    assert all(cit(x, y, z, seed=123) == first for _ in range(3))
    assert cit(x, y, z, seed=124) != first
    p, statistic = cit(x, y, z)  # seed None: a fresh seed, still a valid result
    assert 0 <= p <= 1 and statistic >= 0


@pytest.mark.parametrize(
    "seed, other",
    [
        (2**70, 0),
        (2**64, 0),
        (-1, 2**64 - 1),
        (2**128 + 5, 5),
        (-(2**70), 2**70),
        (2**64 + 1, 2**64),
    ],
)
def test_every_integer_seed_is_used_whole(seed, other):
    x, y, z = data(400, 3)
    got = cit(x, y, z, num_f=20, seed=seed)
    assert got != cit(x, y, z, num_f=20, seed=other)
    assert_allclose(got, rcit(x, y, z, num_f=20, seed=seed), rtol=1e-7, atol=1e-12)


@pytest.mark.parametrize("method", ["rit", "rcit"])
@pytest.mark.parametrize("factor", [1e300, 1e250, 1e150, 1e-150, 1e-250, 1e-300])
def test_the_pvalue_does_not_depend_on_a_features_scale(method, factor):
    x, y, z = data(300, 21)
    y = y + 0.4 * x  # a clear dependence: a small p-value
    z = z if method == "rcit" else None
    p_plain, _ = cit(x, y, z, method=method, num_f=25, seed=4)
    p_scaled, statistic = cit(x * factor, y, z, method=method, num_f=25, seed=4)
    assert np.isfinite(statistic) and abs(p_scaled - p_plain) <= 1e-6
    p_both, _ = cit(x * factor, y / factor, z, method=method, num_f=25, seed=4)
    assert abs(p_both - p_plain) <= 1e-6


def test_a_subnormal_feature_still_gives_a_defined_result():
    x, y, z = data(300, 22)
    p, statistic = cit(x * 1e-310, y + 0.4 * x, seed=1)
    assert np.isfinite(statistic) and 0 <= p < 1e-6


@settings(max_examples=25, deadline=None)
@given(
    scale=st.floats(1e-3, 1e3),
    shift=st.floats(-1e4, 1e4),
    seed=st.integers(0, 2**64 - 1),
    permute=st.booleans(),
)
def test_invariant_to_affine_rescaling_and_row_order(scale, shift, seed, permute):
    x, y, z = data(120, 13)
    y = y + np.cos(2 * x)
    base = cit(x, y, z, num_f=10, seed=seed)
    order = np.random.default_rng(seed % 97).permutation(120) if permute else np.arange(120)
    got = cit(scale * x[order] + shift, y[order], z[order] * scale, num_f=10, seed=seed)
    assert_allclose(got, base, rtol=1e-6, atol=1e-9)


@pytest.mark.parametrize("which", ["x", "y", "both"])
def test_a_constant_variable_gives_pvalue_one(which):
    x, y, z = data(200, 7)
    x = np.full_like(x, 3.5) if which in ("x", "both") else x
    y = np.zeros_like(y) if which in ("y", "both") else y
    assert cit(x, y, z, seed=0) == (1.0, 0.0)
    assert cit(x, y, seed=0) == (1.0, 0.0)


def test_a_constant_z_leaves_the_unconditional_test():
    x, y, z = data(200, 8)
    assert cit(x, y, np.ones_like(z), seed=3) == cit(x, y, method="rit", seed=3)


def test_ties_in_the_leading_rows_give_a_finite_width():
    x, y, _ = data(300, 9)
    x[:50] = 1.0  # every distance among the first 50 rows is 0
    y = y + (x > 0)
    got = cit(x, y, n_subsamples=50, seed=0)
    assert np.isfinite(got).all()
    assert_allclose(got, rcit(x, y, n_subsamples=50, seed=0), rtol=1e-7)


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
@pytest.mark.parametrize("where", ["x", "y", "z"])
def test_non_finite_values_are_rejected(bad, where):
    x, y, z = data(50, 10)
    {"x": x, "y": y, "z": z}[where][3, 0] = bad
    with pytest.raises(ValueError, match=f"^{where} contains NaN or infinity"):
        cit(x, y, z, seed=0)


@pytest.mark.parametrize(
    "x,y,message",
    [
        (np.ones((1, 1)), np.ones((1, 1)), "at least 2 rows"),
        (np.zeros((0, 1)), np.zeros((0, 1)), "at least 2 rows"),
        (np.ones((5, 1)), np.ones((4, 1)), "same number of rows"),
        (np.arange(5.0), np.ones((5, 1)), "x must be two-dimensional .* got 1 dimension"),
        (np.ones((5, 1)), np.ones((5, 1, 1)), "y must be two-dimensional .* got 3 dimension"),
        (np.ones((5, 0)), np.ones((5, 1)), "at least one column"),
    ],
)
def test_bad_shapes_are_rejected(x, y, message):
    with pytest.raises(ValueError, match=message):
        cit(x, y, seed=0)


@pytest.mark.parametrize(
    "kwargs,error,message",
    [
        (dict(method="kcit"), ValueError, "method must be 'rcit' or 'rit', got 'kcit'"),
        (dict(method=None), ValueError, "method must be"),
        (dict(num_f=0), ValueError, "num_f must be at least 1, got 0"),
        (dict(num_f2=-3), ValueError, "num_f2 must be at least 1"),
        (dict(n_subsamples=1), ValueError, "n_subsamples must be at least 2"),
        (dict(num_f=2.5), TypeError, "integer"),
        (dict(seed="a"), TypeError, "integer"),
    ],
)
def test_bad_settings_are_rejected(kwargs, error, message):
    x, y, z = data(20, 11)
    with pytest.raises(error, match=message):
        cit(x, y, z, **kwargs)


def test_inputs_are_not_modified_and_other_array_likes_work():
    x, y, z = data(100, 12)
    y_int = np.rint(y * 3).astype(np.int64)
    xf = np.asfortranarray(x)
    copies = [a.copy() for a in (xf, y_int, z)]
    result = cit(xf, y_int, z, seed=5)
    for a, c in zip((xf, y_int, z), copies):
        np.testing.assert_array_equal(a, c)
    assert cit(x.tolist(), y_int.tolist(), z.tolist(), seed=5) == result


def test_signature_and_docs():
    assert str(inspect.signature(cit)) == (
        "(x, y, z=None, method='rcit', num_f=100, num_f2=5, n_subsamples=1000, seed=None)"
    )
    assert "Strobl, Zhang and Visweswaran" in core.__doc__
    assert "Hall-Buckley-Eagleson" in core.__doc__
