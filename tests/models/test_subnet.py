"""The native training step of the small networks against the numpy definition."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from zeka.models import _subnet
from zeka.models._nn import Adam, SubnetBank
from zeka.models.gaminet import GAMINetClassifier
from zeka.models.reludnn import ReluDNNRegressor


def grid_bank(rng, m, d_in, hidden, monotone):
    """A bank whose weights are signed powers of two (or zero) and whose inputs and biases
    are small multiples of 1/4: the forward pass's float32 sums of such values are exact, so
    both paths must agree to the bit, kinks of the ReLUs and caps included."""
    bank = SubnetBank(m, d_in, hidden, rng, monotone=monotone)
    steps = np.array([0.0, 0.25, 0.5, 1.0, 2.0], np.float32)
    for W, b in zip(bank.weights, bank.biases):
        W[...] = rng.choice(steps, W.shape) * rng.choice([-1.0, 1.0], W.shape)
        b[...] = rng.integers(-4, 5, b.shape) / 4.0
    bank.project()
    return bank


@st.composite
def banks(draw):
    seed = draw(st.integers(0, 2 ** 32 - 1))
    m = draw(st.integers(1, 4))
    n = draw(st.sampled_from([1, 2, 7, 30]))
    d_in = draw(st.sampled_from([1, 2, 3]))
    hidden = draw(st.lists(st.integers(1, 6), min_size=1, max_size=3))
    monotone = draw(st.lists(st.booleans(), min_size=m, max_size=m))
    scale = draw(st.sampled_from([0.0, 1.0, 2.0 ** 12]))  # zeros, ordinary, large inputs
    rng = np.random.default_rng(seed)
    bank = grid_bank(rng, m, d_in, hidden, monotone)
    U = (rng.integers(-16, 17, (m, n, d_in)) / 4.0 * scale).astype(np.float32)
    if draw(st.booleans()):  # a missing value reaches the networks of its row
        U[rng.integers(m), rng.integers(n), rng.integers(d_in)] = np.nan
    d_out = rng.integers(-8, 9, (m, n)) / 8.0
    return bank, U, d_out


@settings(max_examples=150, deadline=None)
@given(banks())
def test_native_step_equals_numpy_on_exact_arithmetic(case):
    bank, U, d_out = case
    out, cache = bank.forward(U)
    ref_out, ref_cache = bank.forward_numpy(U)
    assert out.dtype == np.float64 and out.shape == ref_out.shape
    np.testing.assert_array_equal(out, ref_out)
    for hidden, (a, _, _) in zip(cache.hidden, ref_cache[1:]):
        np.testing.assert_array_equal(hidden, a)
    grads, ref_grads = bank.backward(cache, d_out), bank.backward_numpy(ref_cache, d_out)
    assert len(grads) == len(ref_grads) == len(bank.params)
    for g, ref, p in zip(grads, ref_grads, bank.params):
        assert g.dtype == np.float32 and g.shape == p.shape
        # sums over rows of large inputs outgrow float32's 24 bits: a few roundings apart
        finite = np.abs(ref[np.isfinite(ref)])
        np.testing.assert_allclose(g, ref, rtol=1e-6, atol=1e-6 * finite.max(initial=0.0))


@pytest.mark.parametrize("m, n, d_in, hidden, monotone", [
    (30, 46, 1, [20], [False] * 28 + [True] * 2),   # gaminet's main effects
    (10, 46, 2, [20, 20], None),                    # gaminet's pairs
    (1, 150, 10, [40, 40], None),                   # reludnn
    (3, 5, 1, [4, 4, 4], [True, False, True]),
])
def test_native_step_matches_numpy_up_to_float32_rounding(m, n, d_in, hidden, monotone):
    rng = np.random.RandomState(1)
    bank = SubnetBank(m, d_in, hidden, rng, monotone=monotone)
    for b in bank.biases:
        b[...] = rng.normal(0, 0.5, b.shape)
    U = rng.normal(0, 2, (m, n, d_in))  # float64, as the estimators pass it
    d_out = rng.normal(size=(m, n))
    out, cache = bank.forward(U)
    ref_out, ref_cache = bank.forward_numpy(U)
    np.testing.assert_allclose(out, ref_out, rtol=1e-5, atol=1e-5 * np.abs(ref_out).max())
    for g, ref in zip(bank.backward(cache, d_out), bank.backward_numpy(ref_cache, d_out)):
        np.testing.assert_allclose(g, ref, rtol=1e-4, atol=1e-5 * np.abs(ref).max())


def test_adam_step_equals_numpy_update_to_the_bit():
    rng = np.random.RandomState(0)
    shapes = [(3, 1, 4), (3, 1, 1), (1,)]
    dtypes = [np.float32, np.float32, np.float64]
    params = [rng.normal(size=s).astype(d) for s, d in zip(shapes, dtypes)]
    ours = Adam([p.copy() for p in params], 0.01)
    reference = Adam([p.copy() for p in params], 0.01)
    for _ in range(5):
        # gradients in either precision, as backward and the intercept give them
        grads = [rng.normal(size=s).astype(d) for s, d in zip(shapes, [np.float32, np.float64,
                                                                          np.float64])]
        ours.step(grads)
        reference.step_numpy(grads)
    for p, ref in zip(ours.params + [ours.m, ours.v], reference.params + [reference.m,
                                                                           reference.v]):
        assert p.dtype == ref.dtype
        np.testing.assert_array_equal(p, ref)


def bank_arrays():
    rng = np.random.RandomState(0)
    bank = SubnetBank(2, 3, [4], rng)
    U = np.zeros((2, 5, 3), np.float32)
    return bank, U


@pytest.mark.parametrize("change, message", [
    (lambda a: a.update(inputs=a["inputs"].astype(np.float64)), "inputs must be a C-contig"),
    (lambda a: a.update(inputs=np.zeros((2, 3, 5), np.float32).transpose(0, 2, 1)),
     "inputs must be a C-contig"),
    (lambda a: a.update(inputs=np.zeros((2, 5, 2), np.float32)), "inputs has 2 entries"),
    (lambda a: a.update(inputs=np.zeros((3, 5, 3), np.float32)), "inputs has 3 entries"),
    (lambda a: a.update(inputs=np.zeros((2, 5), np.float32)), "inputs must have 3 dim"),
    (lambda a: a.update(weights=[]), "at least one layer"),
    (lambda a: a.update(weights=a["weights"][0]), "weights must be a list or tuple"),
    (lambda a: a.update(weights=a["weights"][:1]), "one output"),
    (lambda a: a.update(weights=[a["weights"][0], a["weights"][0]]), "weights[1] has 3"),
    (lambda a: a.update(weights=[np.zeros((2, 3, 0), np.float32)] + a["weights"][1:]),
     "width 0"),
    (lambda a: a.update(biases=a["biases"][:1]), "one array per layer"),
    (lambda a: a.update(biases=[a["biases"][0], a["biases"][0]]), "biases[1] has 4"),
    (lambda a: a.update(capped=np.zeros(2, np.uint8)), "capped must be a C-contig"),
    (lambda a: a.update(capped=np.zeros(3, bool)), "capped has 3"),
    (lambda a: a.update(inputs=a["inputs"].astype(">f4")), "inputs must be a C-contig"),
])
def test_forward_refuses_bad_arrays(change, message):
    bank, U = bank_arrays()
    args = dict(inputs=U, weights=bank.weights, biases=bank.biases, capped=bank.monotone)
    change(args)
    with pytest.raises(ValueError) as error:
        _subnet.forward(**args)
    assert message in str(error.value)


@pytest.mark.parametrize("change, message", [
    (lambda a: a.update(hidden=[]), "one array per hidden layer"),
    (lambda a: a.update(hidden=[np.zeros((2, 4, 4), np.float32)]), "hidden[0] has 4"),
    (lambda a: a.update(d_outputs=np.zeros((2, 5), np.float32)), "d_outputs must be a C-con"),
    (lambda a: a.update(d_outputs=np.zeros((2, 4))), "d_outputs has 4"),
])
def test_backward_refuses_bad_arrays(change, message):
    bank, U = bank_arrays()
    _, hidden = _subnet.forward(U, bank.weights, bank.biases, bank.monotone)
    args = dict(inputs=U, hidden=hidden, weights=bank.weights, capped=bank.monotone,
                d_outputs=np.zeros((2, 5)))
    change(args)
    with pytest.raises(ValueError) as error:
        _subnet.backward(**args)
    assert message in str(error.value)


@pytest.mark.parametrize("change, message", [
    (lambda a: a.update(grads=a["grads"][:1]), "one array per parameter"),
    (lambda a: a.update(grads=[a["grads"][0], np.zeros(2)]), "grads[1] has 2 values"),
    (lambda a: a.update(params=[a["params"][0], a["params"][1].astype(np.int64)]),
     "params[1] must be a C-contiguous numpy array of dtype float32 or float64"),
    (lambda a: a.update(m=np.zeros(5)), "m has 5"),
    (lambda a: a.update(v=np.zeros(7, np.float32)), "v must be a C-contig"),
    (lambda a: a["params"][0].setflags(write=False), "params[0] must be writeable"),
])
def test_adam_step_refuses_bad_arrays(change, message):
    args = dict(params=[np.zeros((2, 2), np.float32), np.zeros(3)],
                grads=[np.ones((2, 2), np.float32), np.ones(3)], m=np.zeros(7), v=np.zeros(7))
    change(args)
    with pytest.raises(ValueError) as error:
        _subnet.adam_step(step_size=0.1, correction2=0.5, beta1=0.9, beta2=0.999, eps=1e-8,
                          **args)
    assert message in str(error.value)


@pytest.mark.parametrize("make, classify", [
    (lambda: GAMINetClassifier(max_epochs=[6, 6, 6], mono_increasing_list=[0]), True),
    (lambda: ReluDNNRegressor(hidden_layer_sizes=[8, 8], max_epochs=6), False),
])
def test_estimators_train_alike_on_both_paths(make, classify, monkeypatch):
    rng = np.random.RandomState(0)
    X = rng.normal(size=(300, 4))
    signal = X[:, 0] + np.sin(2 * X[:, 1]) + X[:, 2] * X[:, 3]
    y = (signal > 0).astype(int) if classify else signal
    native = make().fit(X, y)
    monkeypatch.setattr(SubnetBank, "forward", SubnetBank.forward_numpy)
    monkeypatch.setattr(SubnetBank, "backward", SubnetBank.backward_numpy)
    monkeypatch.setattr(Adam, "step", Adam.step_numpy)
    reference = make().fit(X, y)
    predict = (lambda e: e.predict_proba(X)[:, 1]) if classify else (lambda e: e.predict(X))
    np.testing.assert_allclose(predict(native), predict(reference), atol=1e-3)
